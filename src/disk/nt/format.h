// Formatting a partition or floppy after its wipe, through FormatEx of the system's
// file-system utility library. One format runs at a time.
#pragma once

#include "disk/disk.h"

#include <cstdint>
#include <string>

namespace purgelet {

// Progress of a running format: Fraction 0.0 to 1.0 of the format. Returns true.
using TFormatHook = bool (*)(TWipeContext* Wipe, double Fraction);

// Program start-up, NT family only: loads the format library and resolves its entries
// ("ChkDsk", "FormatEx", "EnableVolumeCompression"). Nothing happens on Windows 9x. A
// library or entry that cannot be had is found out by FormatDrive, not here.
void LoadFormatLibrary();

// Formats DriveRoot ("E:") with FileSystemName and Label; Media 0 floppy, 1 hard disk.
// Returns only on success. Raises XAbort when the hook raised XAbort (the format is
// cancelled), XFormatError for every other failure, an absent library included.
void FormatDrive(const std::string& DriveRoot, const std::string& FileSystemName,
                 const std::string& Label, int Media, TFormatHook Hook, TWipeContext* Wipe,
                 std::int32_t ClusterSize, bool Quick);

// The hook the disks pass: the format fills the last of PassCount + 1 equal shares of the
// wipe's sink's progress; then its Update (where a pause holds and an abort is raised).
bool FormatProgress(TWipeContext* Wipe, double Fraction);

// The file-system name for TFormatParams::FileSystem: 0 the disk's detected one, 1 "FAT12",
// 2 "FAT16", 3 "FAT32", 4 "NTFS", anything else empty.
std::string FormatFileSystemName(std::uint8_t FileSystem, const std::string& detected);

} // namespace purgelet
