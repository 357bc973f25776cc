#include "app/drive_list.h"

#include "disk/disk.h"
#include "disk/disk_manager.h"
#include "lang/catalogue.h"

namespace purgelet {

std::vector<TDriveGroup> ListDrives(TDiskManager& manager, bool wholeDisks) {
    manager.Clear();
    manager.Detect();

    std::vector<TDriveGroup> groups;
    const auto add = [](TDriveGroup& group, const TDiskList& list, int driveType, TDriveIcon icon,
                        bool withSize) {
        for (int i = 0; i < list.Count(); ++i)
            if (driveType < 0 || list.Items(i)->DriveType == driveType)
                group.Drives.push_back({list.Items(i), icon, withSize});
    };
    const auto keep = [&groups](TDriveGroup group) {
        if (!group.Drives.empty())
            groups.push_back(std::move(group));
    };
    const TDiskList& logical = manager.LogicalDisks;
    TDriveGroup fixed{CatalogueText("HARDDISKDRIVES"), false, {}};
    add(fixed, logical, 1, TDriveIcon::Disk, true);
    keep(std::move(fixed));
    // Floppies first, then removable drives, then discs.
    TDriveGroup removable{CatalogueText("DEVICESWITHREMOVEABLE"), false, {}};
    add(removable, logical, 2, TDriveIcon::Floppy, false);
    add(removable, logical, 3, TDriveIcon::Disk, true);
    add(removable, manager.OpticalDisks, -1, TDriveIcon::Optical, false);
    keep(std::move(removable));
    if (wholeDisks) {
        TDriveGroup whole{CatalogueText("WHOLEDISKS"), true, {}};
        add(whole, manager.PhysicalDisks, -1, TDriveIcon::Disk, true);
        keep(std::move(whole));
    }
    return groups;
}

TPhysicalDisk* WholeDiskOf(TDisk* disk) {
    return dynamic_cast<TPhysicalDisk*>(disk);
}

std::string NothingToWipeText(const TDiskManager& manager) {
    const std::string lineBreak = "\r\n";
    std::string text = CatalogueText("NOTHINGTOWIPE") + lineBreak + lineBreak;
    if (manager.NotOffered.empty()) {
        text += CatalogueText("NODEVICEFOUND");
    } else {
        text += CatalogueText("DEVICESNOTOFFERED");
        for (const auto& device : manager.NotOffered)
            text += lineBreak + device.device + ": " + device.reason;
    }
    return text;
}

} // namespace purgelet
