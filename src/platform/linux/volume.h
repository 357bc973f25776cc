// Facts about a volume and its place on the disk, as libblkid and libmount read them, and
// the unmount that a forced dismount is.
#pragma once

#include "platform/winapi.h"

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>

namespace platform::linux_backend {

struct VolumeFacts {
    std::string label;
    std::string fileSystem; // Windows' name: FAT12, FAT16, FAT32, NTFS, exFAT; else blkid's
    std::string blkidType;  // vfat, ntfs, ext4 ...
    DWORD serial = 0;
};

// The file system on node, nothing when none is recognised.
std::optional<VolumeFacts> ProbeVolume(const std::string& node);

struct PartitionEntry {
    std::uint8_t type = 0; // the MBR type byte; 0 on other tables
    bool boot = false;
};

// The entry of partition number in the table on wholeDisk, nothing when there is none.
std::optional<PartitionEntry> ReadPartitionEntry(const std::string& wholeDisk, int number);

// The first mount point of the device, nothing when it is not mounted.
std::optional<std::string> MountPointOf(dev_t device);
// The first mount point of the device or, with partitionsToo, of a partition on it.
std::optional<std::string> MountPointOn(dev_t device, bool partitionsToo);

// Why the block device at node cannot be held exclusively, in words ("mounted at /mnt",
// "held by dm-0 (vg0-home)", "held open by another program"); nothing when it can.
std::optional<std::string> WhyBusy(const std::string& node, dev_t device);

// Unmounts every mount of the device and, with partitionsToo, of the partitions on it.
// Returns 0, or the errno of the first mount that would not go (EBUSY while in use).
int UnmountAll(dev_t device, bool partitionsToo);

} // namespace platform::linux_backend
