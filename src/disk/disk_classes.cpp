#include "disk/disk_classes.h"

#include "disk/nt/floppy.h"
#include "disk/nt/nt_disk.h"
#include "disk/win9x/win9x_disk.h"
#include "optical/univ_cddvd.h"

#include "platform/winapi.h"
#include "report/exceptions.h"

namespace purgelet {

TDiskClasses NTDiskClasses() {
    TDiskClasses classes;
    classes.LogicalDiskClass = [](const std::string& Name, TMessageObject* Owner) {
        return std::unique_ptr<TDisk>(MakeDisk<TNTLogicalDisk>(Name, Owner));
    };
    classes.PhysicalDiskClass = [](const std::string& Name, TMessageObject* Owner,
                                   const std::string& Description) {
        return std::unique_ptr<TDisk>(MakeDisk<TNTPhysicalDisk>(Name, Owner, Description));
    };
    classes.OpticalDiskClass = [](TMessageObject* Owner, TOpticalDevice& Device) {
        return std::unique_ptr<TDisk>(MakeDisk<TUnivCDDVD>("", Owner, Device));
    };
    classes.FloppyClass = [](const std::string& Name, TMessageObject* Owner) {
        return std::unique_ptr<TDisk>(MakeDisk<TNTFloppy>(Name, Owner));
    };
    return classes;
}

TDiskClasses Win9xDiskClasses() {
    TDiskClasses classes;
    classes.LogicalDiskClass = [](const std::string& Name, TMessageObject* Owner) {
        return std::unique_ptr<TDisk>(MakeDisk<T9xLogicalDisk>(Name, Owner));
    };
    // Left empty: Windows 9x reaches disks by drive letter only, so no physical disk is
    // detected and T9xPhysicalDisk is never made.
    classes.PhysicalDiskClass = nullptr;
    // The disc object works through either transport, so it is the same on both families.
    classes.OpticalDiskClass = [](TMessageObject* Owner, TOpticalDevice& Device) {
        return std::unique_ptr<TDisk>(MakeDisk<TUnivCDDVD>("", Owner, Device));
    };
    classes.FloppyClass = [](const std::string& Name, TMessageObject* Owner) {
        return std::unique_ptr<TDisk>(MakeDisk<T9XFloppy>(Name, Owner));
    };
    return classes;
}

TDiskClasses DiskClassesForPlatform(std::uint32_t PlatformId) {
    return PlatformId == VER_PLATFORM_WIN32_NT ? NTDiskClasses() : Win9xDiskClasses();
}

} // namespace purgelet
