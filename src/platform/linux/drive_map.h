// This machine's drives as Windows would letter them: floppies as A and B, then partitions,
// whole disks without a partition table, removable disks and optical drives as C..Z. The
// assignment is kept by stable device identity in the user's configuration folder; a map
// file pins letters, adds image files or loop devices, and may restrict the list to what it
// names (see the README).
#pragma once

#include "platform/kernel32.h"
#include "platform/linux/running_system.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <sys/types.h>
#include <vector>

namespace platform::linux_backend {

enum class DriveKind { Floppy, Partition, Disk, Optical, Image };

struct Drive {
    char letter = 0;
    std::string node;     // /dev/loop3p1, or the image file
    std::string identity; // what the persisted letter is kept under
    DriveKind kind = DriveKind::Disk;
    bool removable = false;
    std::string wholeDisk; // the node of the disk it lies on (itself for a disk)
    std::uint32_t partitionNumber = 0;
    std::int64_t start = 0; // bytes from the start of the whole disk
    std::int64_t size = 0;  // bytes
};

// A whole disk that holds listed drives: what the SetupDi calls enumerate.
struct PhysicalDisk {
    std::string node;
    std::string model;
    std::uint32_t number = 0; // the Windows device number, in disk order
    // Whether it may be opened as a whole: not when the map file lists only its own devices
    // and names partitions of this disk but not the disk itself. Its partitions still tell
    // its number, as Windows tells the disk a volume lies on.
    bool offered = true;
};

struct DriveMapOptions {
    std::string configFolder;   // holds purgelet/drives.json; empty: the environment decides
    std::string mapFile;        // empty: $PURGELET_DRIVE_MAP, else <config>/purgelet/drives.map
    std::string sysfs = "/sys"; // where the block devices are described
};

class DriveMap {
public:
    explicit DriveMap(DriveMapOptions options = {});

    // Looks at the machine afresh, assigns letters and keeps the assignment.
    void Detect();
    const std::vector<Drive>& Drives() const { return drives_; }
    const std::vector<PhysicalDisk>& Disks() const { return disks_; }
    const Drive* ByLetter(char letter) const;
    const PhysicalDisk* DiskByNumber(std::uint32_t number) const;
    const PhysicalDisk* DiskOf(const Drive& drive) const;
    // The devices the last detection found and did not offer, with the reason for each.
    const std::vector<Kernel32::DeviceNotOffered>& LeftOut() const { return leftOut_; }
    // What the running system was found to be built from at the last detection.
    const RunningSystem& System() const { return system_; }

    std::string StateFile() const;
    std::string MapFile() const;
    // Where the block devices are described (fixed at construction).
    const std::string& Sysfs() const { return options_.sysfs; }

private:
    DriveMapOptions options_;
    std::vector<Drive> drives_;
    std::vector<PhysicalDisk> disks_;
    std::set<std::string> told_; // the devices already named as left without a letter
    std::vector<Kernel32::DeviceNotOffered> leftOut_;
    RunningSystem system_;
};

} // namespace platform::linux_backend
