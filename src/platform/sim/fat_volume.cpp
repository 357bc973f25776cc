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

FatType TypeOf(const std::string& fileSystem) {
    if (fileSystem == "FAT12")
        return FatType::Fat12;
    if (fileSystem == "FAT16" || fileSystem == "FAT")
        return FatType::Fat16;
    if (fileSystem == "FAT32")
        return FatType::Fat32;
    throw std::runtime_error("files need a FAT file system (FAT12, FAT16 or FAT32), not \"" +
                             fileSystem + "\"");
}

// Where everything goes on the volume, in sectors and clusters.
struct FatGeometry {
    FatType type = FatType::Fat16;
    bool fat32 = false;
    unsigned bits = 16; // of a FAT entry
    bool floppy = false;
    std::uint32_t bps = 512, total = 0, reserved = 1, fats = 2, rootEntries = 0, rootSectors = 0;
    std::uint32_t spc = 1, fatSectors = 1, clusters = 0, firstData = 0, clusterBytes = 0;
};

FatGeometry PlanVolume(const FatLayout& layout, FatType type) {
    FatGeometry g;
    g.type = type;
    g.floppy = layout.floppy;
    g.bps = layout.bytesPerSector;
    if (g.bps < 512 || g.bps % 512 != 0)
        throw std::runtime_error("files need sectors of a multiple of 512 bytes");
    g.total = static_cast<std::uint32_t>(layout.length / g.bps);
    g.fat32 = type == FatType::Fat32;
    g.reserved = g.fat32 ? 32 : 1;
    g.fats = 2;
    g.rootEntries = g.fat32 ? 0 : layout.floppy ? 224 : 512;
    g.rootSectors = (g.rootEntries * 32 + g.bps - 1) / g.bps;
    // One sector a cluster keeps the cluster count in each type's range for the small
    // volumes a simulated PC has; bigger ones take bigger clusters.
    const std::uint32_t maxClusters = type == FatType::Fat12 ? 4084 : g.fat32 ? 0x0FFFFFF5 : 65524;
    while (g.spc < 128 && g.total / g.spc > maxClusters)
        g.spc *= 2;
    g.bits = type == FatType::Fat12 ? 12 : g.fat32 ? 32 : 16;
    for (;;) {
        const std::uint32_t meta = g.reserved + g.fats * g.fatSectors + g.rootSectors;
        if (meta >= g.total)
            throw std::runtime_error("the volume is too small for a file system");
        g.clusters = (g.total - meta) / g.spc;
        const std::uint32_t need =
            static_cast<std::uint32_t>(((g.clusters + 2ull) * g.bits / 8 + g.bps - 1) / g.bps);
        if (need <= g.fatSectors)
            break;
        g.fatSectors = need;
    }
    // A reader tells FAT12 from FAT16 by the cluster count alone.
    if (type == FatType::Fat16 && g.clusters < 4085)
        throw std::runtime_error("the volume is too small for FAT16");
    g.firstData = g.reserved + g.fats * g.fatSectors + g.rootSectors;
    g.clusterBytes = g.spc * g.bps;
    return g;
}

// The FAT and the root folder. The files take clusters one after the other; the FAT32 root
// folder takes the first.
struct FatContents {
    explicit FatContents(const FatGeometry& geometry)
        : g(geometry), fat(g.type, static_cast<std::size_t>(g.fatSectors) * g.bps),
          media(g.floppy ? 0xF0 : 0xF8), end(g.fat32                    ? 0x0FFFFFFF
                                             : g.type == FatType::Fat16 ? 0xFFFF
                                                                        : 0xFFF),
          root(g.fat32 ? g.clusterBytes : g.rootSectors * g.bps, 0) {
        fat.Set(0, (g.fat32 ? 0x0FFFFF00u : g.type == FatType::Fat16 ? 0xFF00u : 0xF00u) | media);
        fat.Set(1, end);
        rootCluster = g.fat32 ? next++ : 0;
        if (g.fat32)
            fat.Set(rootCluster, end);
        std::memcpy(labelField, "NO NAME    ", 11);
    }

    // The label, in the root folder and the boot sector alike; a volume without one says so
    // in the boot sector, as a format does.
    void SetLabel(const std::string& label) {
        if (label.empty())
            return;
        std::memset(labelField, ' ', 11);
        for (std::size_t i = 0; i < label.size() && i < 11; ++i)
            labelField[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(label[i])));
        DirectoryEntry(root, NextEntry(), labelField, 0x08, 0, 0);
    }

    void AddFile(const FatFile& file) {
        char name[11];
        if (!ShortName(file.name, name))
            throw std::runtime_error("\"" + file.name + "\" is not a short (8.3) file name");
        const auto count =
            static_cast<std::uint32_t>((file.content.size() + g.clusterBytes - 1) / g.clusterBytes);
        if (next + count > g.clusters + 2)
            throw std::runtime_error("the files do not fit on the volume");
        const std::uint32_t first = count > 0 ? next : 0;
        for (std::uint32_t i = 0; i < count; ++i, ++next)
            fat.Set(next, i + 1 < count ? next + 1 : end);
        DirectoryEntry(root, NextEntry(), name, 0x20, first,
                       static_cast<std::uint32_t>(file.content.size()));
        if (count > 0)
            data.emplace_back(first, &file.content);
    }

    const FatGeometry& g;
    Table fat;
    const unsigned char media;
    const std::uint32_t end; // the last cluster of a chain
    std::vector<unsigned char> root;
    std::size_t entry = 0;
    std::uint32_t next = 2; // the first free cluster
    std::uint32_t rootCluster = 0;
    char labelField[11];
    std::vector<std::pair<std::uint32_t, const std::string*>> data; // first cluster, content

private:
    std::size_t NextEntry() {
        if ((entry + 1) * 32 > root.size())
            throw std::runtime_error("too many files for the root folder");
        return 32 * entry++;
    }
};

std::vector<unsigned char> BootSector(const FatGeometry& g, const FatLayout& layout, DWORD serial,
                                      const FatContents& contents) {
    std::vector<unsigned char> boot(g.bps, 0);
    boot[0] = 0xEB, boot[1] = g.fat32 ? 0x58 : 0x3C, boot[2] = 0x90;
    std::memcpy(&boot[3], "MSWIN4.1", 8);
    Put16(boot, 11, g.bps);
    boot[13] = static_cast<unsigned char>(g.spc);
    Put16(boot, 14, g.reserved);
    boot[16] = static_cast<unsigned char>(g.fats);
    Put16(boot, 17, g.rootEntries);
    Put16(boot, 19, !g.fat32 && g.total < 65536 ? g.total : 0);
    boot[21] = contents.media;
    Put16(boot, 22, g.fat32 ? 0 : g.fatSectors);
    Put16(boot, 24, layout.sectorsPerTrack);
    Put16(boot, 26, layout.heads);
    Put32(boot, 28, static_cast<std::uint32_t>(layout.hiddenSectors));
    Put32(boot, 32, !g.fat32 && g.total < 65536 ? 0 : g.total);
    std::size_t ext = 36;
    if (g.fat32) {
        Put32(boot, 36, g.fatSectors);
        Put32(boot, 44, contents.rootCluster);
        Put16(boot, 48, 1); // the FSInfo sector
        Put16(boot, 50, 6); // the backup boot sector
        ext = 64;
    }
    boot[ext] = layout.floppy ? 0x00 : 0x80;
    boot[ext + 2] = 0x29;
    Put32(boot, ext + 3, serial);
    std::memcpy(&boot[ext + 7], contents.labelField, 11);
    std::memcpy(&boot[ext + 18], g.fat32 ? "FAT32   " : g.bits == 12 ? "FAT12   " : "FAT16   ", 8);
    boot[510] = 0x55, boot[511] = 0xAA;
    return boot;
}

// The areas written, from the volume's byte offset base.
void WriteAreas(Image& image, std::int64_t base, const FatGeometry& g, const FatContents& contents,
                const std::vector<unsigned char>& boot) {
    const std::uint32_t bps = g.bps;
    // The metadata areas are written whole, so whatever the image held there is gone.
    std::vector<unsigned char> zeros(static_cast<std::size_t>(g.reserved) * bps, 0);
    WriteOrFail(image, base, zeros);
    WriteOrFail(image, base, boot);
    if (g.fat32) {
        std::vector<unsigned char> info(bps, 0);
        Put32(info, 0, 0x41615252);
        Put32(info, 484, 0x61417272);
        Put32(info, 488, g.clusters + 2 - contents.next); // free clusters
        Put32(info, 492, contents.next);                  // where to look for the next free one
        Put32(info, 508, 0xAA550000);
        WriteOrFail(image, base + bps, info);
        WriteOrFail(image, base + 6 * static_cast<std::int64_t>(bps), boot);
        WriteOrFail(image, base + 7 * static_cast<std::int64_t>(bps), info);
    }
    for (std::uint32_t i = 0; i < g.fats; ++i)
        WriteOrFail(image, base + static_cast<std::int64_t>(g.reserved + i * g.fatSectors) * bps,
                    contents.fat.bytes());
    auto clusterOffset = [&](std::uint32_t cluster) {
        return base + (static_cast<std::int64_t>(g.firstData) + (cluster - 2ll) * g.spc) * bps;
    };
    WriteOrFail(image,
                g.fat32
                    ? clusterOffset(contents.rootCluster)
                    : base + static_cast<std::int64_t>(g.reserved + g.fats * g.fatSectors) * bps,
                contents.root);
    for (const auto& [first, content] : contents.data) {
        std::vector<unsigned char> bytes(content->begin(), content->end());
        bytes.resize((bytes.size() + g.clusterBytes - 1) / g.clusterBytes * g.clusterBytes, 0);
        WriteOrFail(image, clusterOffset(first), bytes);
    }
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
    const FatGeometry g = PlanVolume(layout, TypeOf(fileSystem));
    FatContents contents(g);
    contents.SetLabel(label);
    for (const FatFile& file : files)
        contents.AddFile(file);
    WriteAreas(image, layout.offset, g, contents, BootSector(g, layout, serial, contents));
}

} // namespace platform::sim
