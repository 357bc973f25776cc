#include "disk/disk_classes.h"

#include "disk/nt/floppy.h"
#include "disk/nt/nt_disk.h"
#include "disk/win9x/win9x_disk.h"

#include "platform/winapi.h"
#include "report/exceptions.h"

namespace purgelet {

namespace {

[[noreturn]] void Unavailable(const std::string& className, const std::string& name) {
    throw XCompatibility(className + ".Create - not available in this build: " + name);
}

} // namespace

TDiskClasses NTDiskClasses() {
    TDiskClasses classes;
    classes.LogicalDiskClass = [](const std::string& Name, TMessageObject* Owner) {
        return std::unique_ptr<TDisk>(MakeDisk<TNTLogicalDisk>(Name, Owner));
    };
    classes.PhysicalDiskClass = [](const std::string& Name, TMessageObject* Owner,
                                   const std::string& Description) {
        return std::unique_ptr<TDisk>(MakeDisk<TNTPhysicalDisk>(Name, Owner, Description));
    };
    // No optical transport is built yet, so the device list it would serve stays empty.
    classes.OpticalDiskClass = [](TMessageObject*, TOpticalDevice&) -> std::unique_ptr<TDisk> {
        Unavailable("TUnivCDDVD", "");
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
    classes.OpticalDiskClass = [](TMessageObject*, TOpticalDevice&) -> std::unique_ptr<TDisk> {
        Unavailable("TUnivCDDVD", "");
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
