// A small FAT file system written into a fresh image, so that a simulated drive holds files
// (and the block viewer shows them) before a wipe.
#pragma once

#include "platform/sim/machine.h"

#include <cstdint>
#include <string>
#include <vector>

namespace platform::sim {

struct FatFile {
    std::string name; // 8.3, upper case
    std::string content;
};

struct FatLayout {
    std::int64_t offset = 0; // byte offset of the volume in its image
    std::int64_t length = 0; // bytes
    DWORD bytesPerSector = 512;
    DWORD sectorsPerTrack = 63; // recorded in the boot sector, as a format does
    DWORD heads = 255;
    std::int64_t hiddenSectors = 0; // sectors before the volume on its disk
    bool floppy = false;
};

// Writes a FAT12, FAT16 ("FAT16" or "FAT") or FAT32 file system over the layout's extent of
// image, with the label, the serial number and the files in its root folder. Throws
// std::runtime_error (naming no entry: the caller adds where) when the file system is not a FAT
// one, a name is not 8.3 or the files do not fit.
void WriteFatVolume(Image& image, const FatLayout& layout, const std::string& fileSystem,
                    const std::string& label, DWORD serial, const std::vector<FatFile>& files);

// The 11 bytes of a directory entry's name ("README.TXT" is "README  TXT"); false when the
// name is not a valid 8.3 name.
bool ShortName(const std::string& name, char out[11]);

} // namespace platform::sim
