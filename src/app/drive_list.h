// What the drive list offers: the drives the disk manager finds, in the list's groups and
// order. The wizard's drive page shows it as rows; the unattended run picks its drives from
// it. Neither reads the other's controls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace purgelet {

class TDisk;
class TDiskManager;
class TPhysicalDisk;

// How a drive's row is drawn.
enum class TDriveIcon : std::uint8_t { Disk, Optical, Floppy };

struct TListedDrive {
    TDisk* Disk = nullptr; // owned by the disk manager
    TDriveIcon Icon = TDriveIcon::Disk;
    bool WithSize = false; // the size column is filled
};

// One group of the list under its heading, in list order.
struct TDriveGroup {
    std::string Caption;
    bool WholeDisks = false; // the group of whole physical disks
    std::vector<TListedDrive> Drives;
};

// Detects afresh (every disk found before is freed) and lists what is found: the hard disks'
// drive letters; the floppies, removable drives and discs; and the whole disks when wholeDisks
// (a disk that must not be wiped is listed too, with its reason). A group with nothing in it is
// left out, so an empty result is an empty list.
std::vector<TDriveGroup> ListDrives(TDiskManager& manager, bool wholeDisks);

// The whole disk a listed drive is; null for a drive letter or a disc.
TPhysicalDisk* WholeDiskOf(TDisk* disk);

// Why an empty list is empty, as one text: what was found and why each device is not
// offered. Lines end "\r\n".
std::string NothingToWipeText(const TDiskManager& manager);

} // namespace purgelet
