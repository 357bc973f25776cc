// The disk classes of a platform: how the disk manager makes a disk object for a floppy
// drive letter, any other drive letter, a physical disk and an optical drive. Chosen once,
// by the platform the system reports; a test may hand the manager classes of its own.
#pragma once

#include "disk/disk.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace purgelet {

class TOpticalDevice;

struct TDiskClasses {
    // A drive letter disk from (letter without colon, owner).
    using DriveLetterClass =
        std::function<std::unique_ptr<TDisk>(const std::string& Name, TMessageObject* Owner)>;
    // A physical disk from (device path, owner, friendly name).
    using PhysicalClass = std::function<std::unique_ptr<TDisk>(
        const std::string& Name, TMessageObject* Owner, const std::string& Description)>;
    // An optical disc from (owner, device); the device outlives the disc.
    using OpticalClass =
        std::function<std::unique_ptr<TDisk>(TMessageObject* Owner, TOpticalDevice& Device)>;

    DriveLetterClass LogicalDiskClass; // hard-disk and removable drive letters C..Z
    PhysicalClass PhysicalDiskClass;
    OpticalClass OpticalDiskClass; // drives whose CanWrite answers true
    DriveLetterClass FloppyClass;  // drive letters A and B
};

// The NT family's classes (TNTLogicalDisk, TNTPhysicalDisk, TUnivCDDVD, TNTFloppy).
TDiskClasses NTDiskClasses();
// The Windows 9x family's classes. They are not part of this build: every creation raises
// XCompatibility, which detection puts to the user as a drive it cannot handle.
TDiskClasses Win9xDiskClasses();
// The classes for a platform id as GetVersionExA reports it (2 the NT family, any other
// value the Windows 9x family).
TDiskClasses DiskClassesForPlatform(std::uint32_t PlatformId);

} // namespace purgelet
