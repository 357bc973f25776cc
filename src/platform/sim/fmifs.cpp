#include "platform/sim/fmifs.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace platform::sim {

namespace {

std::string Narrow(const WCHAR* text) {
    std::string out;
    for (; text != nullptr && *text != 0; ++text)
        out += *text < 0x80 ? static_cast<char>(*text) : '?';
    return out;
}

void Put16(unsigned char* p, unsigned value) {
    p[0] = static_cast<unsigned char>(value);
    p[1] = static_cast<unsigned char>(value >> 8);
}
void Put32(unsigned char* p, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(value >> (8 * i));
}
void Put64(unsigned char* p, std::uint64_t value) {
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<unsigned char>(value >> (8 * i));
}
void PutText(unsigned char* p, const std::string& text, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i)
        p[i] = static_cast<unsigned char>(i < text.size() ? text[i] : ' ');
}

std::string Upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// The boot sector fields of NTFS, after the common ones.
void WriteNtfsBootSector(unsigned char* b, DWORD spc, std::int64_t total, DWORD serial) {
    b[0] = 0xEB, b[1] = 0x52, b[2] = 0x90;
    PutText(b + 3, "NTFS", 8);
    b[13] = static_cast<unsigned char>(spc != 0 ? spc : 8);
    Put64(b + 40, static_cast<std::uint64_t>(total - 1));
    Put64(b + 48, 4);                                             // first cluster of the MFT
    Put64(b + 56, static_cast<std::uint64_t>(total / b[13] / 2)); // of its mirror
    b[64] = 0xF6;                                                 // 1 KB file records
    b[68] = 0x01;
    Put64(b + 72, (static_cast<std::uint64_t>(serial) << 32) | serial);
}

// A FAT volume's layout: its size, the cluster size and the sectors before the data area.
struct FatShape {
    int bits = 12; // of a table entry: FAT12, FAT16 or FAT32
    std::int64_t total = 0;
    DWORD bps = 512;
    bool floppy = false;
    DWORD spc = 0; // sectors per cluster
    unsigned reserved = 1;
    unsigned rootEntries = 0;
    std::int64_t rootSectors = 0;
    std::int64_t fatSectors = 0;
};

// spc 0 picks the cluster size that keeps the cluster count in the file system's range.
FatShape ShapeFat(int bits, std::int64_t total, DWORD bps, DWORD spc, bool floppy) {
    const bool fat32 = bits == 32;
    FatShape shape;
    shape.bits = bits;
    shape.total = total;
    shape.bps = bps;
    shape.floppy = floppy;
    const std::int64_t limit = bits == 12 ? 4084 : bits == 16 ? 65524 : 0x0FFFFFF5;
    if (spc == 0) {
        spc = fat32 ? 8 : 1;
        while (spc < 128 && total / spc > limit)
            spc *= 2;
    }
    shape.spc = spc;
    shape.reserved = fat32 ? 32 : 1;
    shape.rootEntries = fat32 ? 0 : floppy ? 224 : 512;
    shape.rootSectors = (shape.rootEntries * 32 + bps - 1) / bps;
    const std::int64_t clusters =
        std::max<std::int64_t>(1, (total - shape.reserved - shape.rootSectors) / spc);
    shape.fatSectors = ((clusters + 2) * bits / 8 + bps - 1) / bps;
    return shape;
}

// The boot sector fields of FAT, after the common ones.
void WriteFatBootSector(unsigned char* b, const FatShape& shape, DWORD serial,
                        const std::string& volumeLabel, const std::string& fileSystem) {
    const bool fat32 = shape.bits == 32;
    b[0] = 0xEB, b[1] = fat32 ? 0x58 : 0x3C, b[2] = 0x90;
    PutText(b + 3, "MSDOS5.0", 8);
    b[13] = static_cast<unsigned char>(shape.spc);
    Put16(b + 14, shape.reserved);
    b[16] = 2;
    Put16(b + 17, shape.rootEntries);
    if (shape.total < 65536 && !fat32)
        Put16(b + 19, static_cast<unsigned>(shape.total));
    else
        Put32(b + 32, static_cast<std::uint32_t>(shape.total));
    unsigned char* ext = b + 36;
    if (fat32) {
        Put32(b + 36, static_cast<std::uint32_t>(shape.fatSectors));
        Put32(b + 44, 2); // root folder cluster
        Put16(b + 48, 1); // FSInfo sector
        Put16(b + 50, 6); // backup boot sector
        ext = b + 64;
    } else {
        Put16(b + 22, static_cast<unsigned>(shape.fatSectors));
    }
    ext[0] = shape.floppy ? 0x00 : 0x80;
    ext[2] = 0x29;
    Put32(ext + 3, serial);
    PutText(ext + 7, volumeLabel, 11);
    PutText(ext + 18, fileSystem, 8);
}

// Boot sector, empty tables and root folder (capped: a sim volume stays small), with the
// volume label entry when there is a label.
std::vector<unsigned char> FatHeadArea(const std::vector<unsigned char>& boot,
                                       const FatShape& shape, unsigned char media,
                                       const std::string& label, const std::string& volumeLabel) {
    const bool fat32 = shape.bits == 32;
    const DWORD bps = shape.bps;
    std::int64_t rootStart = shape.reserved + 2 * shape.fatSectors;
    std::int64_t headSectors = rootStart + (fat32 ? shape.spc : shape.rootSectors);
    headSectors = std::min<std::int64_t>({headSectors, shape.total, (8 << 20) / bps});
    std::vector<unsigned char> area(static_cast<std::size_t>(headSectors) * bps, 0);
    std::memcpy(area.data(), boot.data(), bps);
    if (fat32 && headSectors > 6)
        std::memcpy(area.data() + 6 * bps, boot.data(), bps);
    for (int copy = 0; copy < 2; ++copy) {
        std::int64_t at = (shape.reserved + copy * shape.fatSectors) * bps;
        if (at + 12 > static_cast<std::int64_t>(area.size()))
            break;
        unsigned char* f = area.data() + at;
        f[0] = media, f[1] = 0xFF, f[2] = 0xFF;
        if (shape.bits == 16)
            f[3] = 0xFF;
        if (fat32) {
            const unsigned char tail[] = {0x0F, 0xFF, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0x0F};
            std::memcpy(f + 3, tail, sizeof(tail));
        }
    }
    std::int64_t root = rootStart * bps;
    if (!label.empty() && root + 32 <= static_cast<std::int64_t>(area.size())) {
        PutText(area.data() + root, volumeLabel, 11);
        area[static_cast<std::size_t>(root) + 11] = 0x08; // volume label entry
    }
    return area;
}

} // namespace

std::vector<unsigned char> FormattedHead(const std::string& fileSystem, std::int64_t total,
                                         DWORD bps, DWORD clusterSize, const std::string& label,
                                         DWORD serial, const DISK_GEOMETRY& g, std::int64_t hidden,
                                         bool floppy) {
    const bool fat12 = fileSystem == "FAT12", fat16 = fileSystem == "FAT16",
               fat32 = fileSystem == "FAT32", ntfs = fileSystem == "NTFS";
    if (!(fat12 || fat16 || fat32 || ntfs) || total <= 0 || bps < 128)
        return {};
    std::string volumeLabel = label.empty() ? "NO NAME" : Upper(label).substr(0, 11);
    const unsigned char media = floppy ? 0xF0 : 0xF8;
    DWORD spc = clusterSize >= bps ? clusterSize / bps : 0;
    std::vector<unsigned char> head(bps, 0);
    unsigned char* b = head.data();
    Put16(b + 11, bps);
    Put16(b + 24, g.SectorsPerTrack);
    Put16(b + 26, g.TracksPerCylinder);
    Put32(b + 28, static_cast<std::uint32_t>(hidden));
    b[21] = media;
    b[510] = 0x55, b[511] = 0xAA;

    if (ntfs) {
        WriteNtfsBootSector(b, spc, total, serial);
        return head;
    }
    const FatShape shape = ShapeFat(fat12 ? 12 : fat16 ? 16 : 32, total, bps, spc, floppy);
    WriteFatBootSector(b, shape, serial, volumeLabel, fileSystem);
    return FatHeadArea(head, shape, media, label, volumeLabel);
}

bool SimFmifs::HasEntry(const std::string& name) {
    if (name == "FormatEx")
        return machine_->formatLibrary == Machine::FormatLibrary::Present;
    return name == "ChkDsk" || name == "EnableVolumeCompression";
}

void SimFmifs::FormatEx(const WCHAR* driveRoot, DWORD mediaFlag, const WCHAR* fileSystem,
                        const WCHAR* label, BOOL quick, DWORD clusterSize, FmifsCallback callback) {
    FormatCall call{Narrow(driveRoot), Narrow(fileSystem), Narrow(label),
                    mediaFlag,         clusterSize,        quick != FALSE};
    // The machine is locked while the drive is looked at and changed, not while the steps
    // report (their callback may call the system).
    std::unique_lock<std::recursive_mutex> lock(machine_->mutex);
    machine_->formats.push_back(call);
    auto finish = [&](bool success, DWORD error) {
        if (lock.owns_lock())
            lock.unlock();
        if (!success)
            LastError() = error;
        BOOLEAN flag = success ? TRUE : FALSE;
        if (callback != nullptr)
            callback(FMIFS_DONE, 0, &flag);
    };
    Drive* drive = kernel32_.DriveOfRoot(call.root.c_str());
    if (drive == nullptr || call.root.size() != 2 || drive->kind == DriveKind::Network ||
        drive->kind == DriveKind::CdRom || drive->kind == DriveKind::NoRootDir)
        return finish(false, ERROR_INVALID_DRIVE);
    const bool floppy = drive->kind == DriveKind::Floppy;
    if (mediaFlag != static_cast<DWORD>(floppy ? FMIFS_FLOPPY : FMIFS_HARDDISK))
        return finish(false, ERROR_INVALID_PARAMETER);
    const std::string fs = call.fileSystem;
    if (fs != "FAT12" && fs != "FAT16" && fs != "FAT32" && fs != "NTFS")
        return finish(false, ERROR_INVALID_PARAMETER); // no such file system
    SimKernel32::Extent extent;
    if (!kernel32_.DriveExtent(*drive, &extent))
        return finish(false, ERROR_NOT_READY);
    if (floppy && drive->medium->writeProtected)
        return finish(false, ERROR_WRITE_PROTECT);
    if (kernel32_.DriveHasOpenHandles(*drive))
        return finish(false, ERROR_ACCESS_DENIED); // the volume is in use

    const FormatBehaviour behaviour = drive->format;
    lock.unlock();
    for (int step = 1; step <= behaviour.steps; ++step) {
        if (behaviour.fails && step > behaviour.failAfterSteps)
            return finish(false, behaviour.error);
        if (behaviour.stepMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(behaviour.stepMs));
        DWORD percent = static_cast<DWORD>(step * 100 / behaviour.steps);
        if (callback != nullptr && !callback(FMIFS_PROGRESS, 0, &percent))
            return; // cancelled: the volume is left as it was
    }
    if (behaviour.fails)
        return finish(false, behaviour.error);

    lock.lock();
    DISK_GEOMETRY g;
    kernel32_.DriveGeometry(*drive, &g);
    DWORD serial = 0x2A000000u ^ static_cast<DWORD>(machine_->formats.size() * 0x01010101u) ^
                   static_cast<DWORD>(drive->letter);
    std::int64_t sectors = extent.length / extent.sectorSize;
    std::vector<unsigned char> head =
        FormattedHead(fs, sectors, extent.sectorSize, clusterSize, call.label, serial, g,
                      floppy ? 0 : drive->offset / extent.sectorSize, floppy);
    if (!extent.image->Write(extent.base, head.data(), head.size()))
        return finish(false, ERROR_WRITE_FAULT);
    extent.image->Flush();
    Volume volume;
    volume.label = call.label;
    volume.fileSystem = fs;
    volume.serial = serial;
    volume.flags = fs == "NTFS" ? 0x000700FF : 0x00000006;
    volume.freeBytes = extent.length - static_cast<std::int64_t>(head.size());
    volume.totalBytes = extent.length;
    if (floppy)
        drive->medium->volume = volume;
    else
        drive->volume = volume;
    drive->written = false;
    drive->dismounted = false;
    finish(true, ERROR_SUCCESS);
}

} // namespace platform::sim
