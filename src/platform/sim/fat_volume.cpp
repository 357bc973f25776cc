#include "platform/sim/fat_volume.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <stdexcept>

namespace platform::sim {

namespace {

void Put16(std::vector<unsigned char>& b, std::size_t at, unsigned value) {
    b[at] = static_cast<unsigned char>(value);
    b[at + 1] = static_cast<unsigned char>(value >> 8);
}

void Put32(std::vector<unsigned char>& b, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<unsigned char>(value >> (8 * i));
}

enum class FatType { Fat12, Fat16, Fat32 };

// A FAT of any width held in memory.
class Table {
public:
    Table(FatType type, std::size_t bytes) : type_(type), bytes_(bytes, 0) {}
    void Set(std::uint32_t cluster, std::uint32_t value) {
        switch (type_) {
        case FatType::Fat12: {
            const std::size_t at = cluster + cluster / 2;
            if (cluster % 2 == 0) {
                bytes_[at] = static_cast<unsigned char>(value);
                bytes_[at + 1] =
                    static_cast<unsigned char>((bytes_[at + 1] & 0xF0) | ((value >> 8) & 0x0F));
            } else {
                bytes_[at] =
                    static_cast<unsigned char>((bytes_[at] & 0x0F) | ((value << 4) & 0xF0));
                bytes_[at + 1] = static_cast<unsigned char>(value >> 4);
            }
            break;
        }
        case FatType::Fat16:
            Put16(bytes_, cluster * 2u, value);
            break;
        case FatType::Fat32:
            Put32(bytes_, cluster * 4u, value & 0x0FFFFFFF);
            break;
        }
    }
    const std::vector<unsigned char>& bytes() const { return bytes_; }

private:
    FatType type_;
    std::vector<unsigned char> bytes_;
};

// 2026-01-01 12:00:00 in the directory's packed form: the files the demo starts with.
constexpr unsigned kDate = ((2026 - 1980) << 9) | (1 << 5) | 1;
constexpr unsigned kTime = 12 << 11;

void DirectoryEntry(std::vector<unsigned char>& b, std::size_t at, const char name[11],
                    unsigned char attributes, std::uint32_t cluster, std::uint32_t size) {
    std::memcpy(&b[at], name, 11);
    b[at + 11] = attributes;
    Put16(b, at + 14, kTime); // created
    Put16(b, at + 16, kDate);
    Put16(b, at + 18, kDate); // last access
    Put16(b, at + 20, cluster >> 16);
    Put16(b, at + 22, kTime); // written
    Put16(b, at + 24, kDate);
    Put16(b, at + 26, cluster & 0xFFFF);
    Put32(b, at + 28, size);
}

void WriteOrFail(Image& image, std::int64_t offset, const std::vector<unsigned char>& bytes) {
    if (!bytes.empty() && !image.Write(offset, bytes.data(), bytes.size()))
        throw std::runtime_error("the image cannot be written");
}

} // namespace

bool ShortName(const std::string& name, char out[11]) {
    static const std::string kAllowed = "!#$%&'()-@^_`{}~";
    const std::size_t dot = name.find('.');
    const std::string base = name.substr(0, dot);
    const std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
    if (base.empty() || base.size() > 8 || ext.size() > 3 || ext.find('.') != std::string::npos)
        return false;
    std::memset(out, ' ', 11);
    auto copy = [&](const std::string& part, char* to) {
        for (std::size_t i = 0; i < part.size(); ++i) {
            const auto c = static_cast<unsigned char>(part[i]);
            if (!std::isalnum(c) && kAllowed.find(static_cast<char>(c)) == std::string::npos)
                return false;
            to[i] = static_cast<char>(std::toupper(c));
        }
        return true;
    };
    return copy(base, out) && copy(ext, out + 8);
}

void WriteFatVolume(Image& image, const FatLayout& layout, const std::string& fileSystem,
                    const std::string& label, DWORD serial, const std::vector<FatFile>& files) {
    FatType type;
    if (fileSystem == "FAT12")
        type = FatType::Fat12;
    else if (fileSystem == "FAT16" || fileSystem == "FAT")
        type = FatType::Fat16;
    else if (fileSystem == "FAT32")
        type = FatType::Fat32;
    else
        throw std::runtime_error("files need a FAT file system (FAT12, FAT16 or FAT32), not \"" +
                                 fileSystem + "\"");
    const std::uint32_t bps = layout.bytesPerSector;
    if (bps < 512 || bps % 512 != 0)
        throw std::runtime_error("files need sectors of a multiple of 512 bytes");
    const auto total = static_cast<std::uint32_t>(layout.length / bps);
    const bool fat32 = type == FatType::Fat32;
    const std::uint32_t reserved = fat32 ? 32 : 1;
    const std::uint32_t fats = 2;
    const std::uint32_t rootEntries = fat32 ? 0 : layout.floppy ? 224 : 512;
    const std::uint32_t rootSectors = (rootEntries * 32 + bps - 1) / bps;
    // One sector a cluster keeps the cluster count in each type's range for the small
    // volumes a simulated PC has; bigger ones take bigger clusters.
    const std::uint32_t maxClusters = type == FatType::Fat12 ? 4084 : fat32 ? 0x0FFFFFF5 : 65524;
    std::uint32_t spc = 1;
    while (spc < 128 && total / spc > maxClusters)
        spc *= 2;
    const unsigned bits = type == FatType::Fat12 ? 12 : fat32 ? 32 : 16;
    std::uint32_t fatSectors = 1, clusters = 0;
    for (;;) {
        const std::uint32_t meta = reserved + fats * fatSectors + rootSectors;
        if (meta >= total)
            throw std::runtime_error("the volume is too small for a file system");
        clusters = (total - meta) / spc;
        const std::uint32_t need =
            static_cast<std::uint32_t>(((clusters + 2ull) * bits / 8 + bps - 1) / bps);
        if (need <= fatSectors)
            break;
        fatSectors = need;
    }
    // A reader tells FAT12 from FAT16 by the cluster count alone.
    if (type == FatType::Fat16 && clusters < 4085)
        throw std::runtime_error("the volume is too small for FAT16");
    const std::uint32_t firstData = reserved + fats * fatSectors + rootSectors;
    const std::uint32_t clusterBytes = spc * bps;

    // The files take clusters one after the other; the FAT32 root folder takes the first.
    Table fat(type, static_cast<std::size_t>(fatSectors) * bps);
    const unsigned char media = layout.floppy ? 0xF0 : 0xF8;
    fat.Set(0, (fat32 ? 0x0FFFFF00u : type == FatType::Fat16 ? 0xFF00u : 0xF00u) | media);
    const std::uint32_t end = fat32 ? 0x0FFFFFFF : type == FatType::Fat16 ? 0xFFFF : 0xFFF;
    fat.Set(1, end);
    std::uint32_t next = 2;
    const std::uint32_t rootCluster = fat32 ? next++ : 0;
    if (fat32)
        fat.Set(rootCluster, end);
    std::vector<unsigned char> root(fat32 ? clusterBytes : rootSectors * bps, 0);
    std::size_t entry = 0;
    auto nextEntry = [&] {
        if ((entry + 1) * 32 > root.size())
            throw std::runtime_error("too many files for the root folder");
        return 32 * entry++;
    };
    // The label, in the root folder and the boot sector alike; a volume without one says
    // so in the boot sector, as a format does.
    char labelField[11];
    std::memcpy(labelField, "NO NAME    ", 11);
    if (!label.empty()) {
        std::memset(labelField, ' ', 11);
        for (std::size_t i = 0; i < label.size() && i < 11; ++i)
            labelField[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(label[i])));
        DirectoryEntry(root, nextEntry(), labelField, 0x08, 0, 0);
    }
    char name[11];
    std::vector<std::pair<std::uint32_t, const std::string*>> data;
    for (const FatFile& file : files) {
        if (!ShortName(file.name, name))
            throw std::runtime_error("\"" + file.name + "\" is not a short (8.3) file name");
        const auto count =
            static_cast<std::uint32_t>((file.content.size() + clusterBytes - 1) / clusterBytes);
        if (next + count > clusters + 2)
            throw std::runtime_error("the files do not fit on the volume");
        const std::uint32_t first = count > 0 ? next : 0;
        for (std::uint32_t i = 0; i < count; ++i, ++next)
            fat.Set(next, i + 1 < count ? next + 1 : end);
        DirectoryEntry(root, nextEntry(), name, 0x20, first,
                       static_cast<std::uint32_t>(file.content.size()));
        if (count > 0)
            data.emplace_back(first, &file.content);
    }

    // The boot sector.
    std::vector<unsigned char> boot(bps, 0);
    boot[0] = 0xEB, boot[1] = fat32 ? 0x58 : 0x3C, boot[2] = 0x90;
    std::memcpy(&boot[3], "MSWIN4.1", 8);
    Put16(boot, 11, bps);
    boot[13] = static_cast<unsigned char>(spc);
    Put16(boot, 14, reserved);
    boot[16] = static_cast<unsigned char>(fats);
    Put16(boot, 17, rootEntries);
    Put16(boot, 19, !fat32 && total < 65536 ? total : 0);
    boot[21] = media;
    Put16(boot, 22, fat32 ? 0 : fatSectors);
    Put16(boot, 24, layout.sectorsPerTrack);
    Put16(boot, 26, layout.heads);
    Put32(boot, 28, static_cast<std::uint32_t>(layout.hiddenSectors));
    Put32(boot, 32, !fat32 && total < 65536 ? 0 : total);
    std::size_t ext = 36;
    if (fat32) {
        Put32(boot, 36, fatSectors);
        Put32(boot, 44, rootCluster);
        Put16(boot, 48, 1); // the FSInfo sector
        Put16(boot, 50, 6); // the backup boot sector
        ext = 64;
    }
    boot[ext] = layout.floppy ? 0x00 : 0x80;
    boot[ext + 2] = 0x29;
    Put32(boot, ext + 3, serial);
    std::memcpy(&boot[ext + 7], labelField, 11);
    std::memcpy(&boot[ext + 18], fat32 ? "FAT32   " : bits == 12 ? "FAT12   " : "FAT16   ", 8);
    boot[510] = 0x55, boot[511] = 0xAA;

    const std::int64_t base = layout.offset;
    // The metadata areas are written whole, so whatever the image held there is gone.
    std::vector<unsigned char> zeros(static_cast<std::size_t>(reserved) * bps, 0);
    WriteOrFail(image, base, zeros);
    WriteOrFail(image, base, boot);
    if (fat32) {
        std::vector<unsigned char> info(bps, 0);
        Put32(info, 0, 0x41615252);
        Put32(info, 484, 0x61417272);
        Put32(info, 488, clusters + 2 - next); // free clusters
        Put32(info, 492, next);                // where to look for the next free one
        Put32(info, 508, 0xAA550000);
        WriteOrFail(image, base + bps, info);
        WriteOrFail(image, base + 6 * static_cast<std::int64_t>(bps), boot);
        WriteOrFail(image, base + 7 * static_cast<std::int64_t>(bps), info);
    }
    for (std::uint32_t i = 0; i < fats; ++i)
        WriteOrFail(image, base + static_cast<std::int64_t>(reserved + i * fatSectors) * bps,
                    fat.bytes());
    auto clusterOffset = [&](std::uint32_t cluster) {
        return base + (static_cast<std::int64_t>(firstData) + (cluster - 2ll) * spc) * bps;
    };
    WriteOrFail(image,
                fat32 ? clusterOffset(rootCluster)
                      : base + static_cast<std::int64_t>(reserved + fats * fatSectors) * bps,
                root);
    for (const auto& [first, content] : data) {
        std::vector<unsigned char> bytes(content->begin(), content->end());
        bytes.resize((bytes.size() + clusterBytes - 1) / clusterBytes * clusterBytes, 0);
        WriteOrFail(image, clusterOffset(first), bytes);
    }
}

} // namespace platform::sim
