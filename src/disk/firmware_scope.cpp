// What of an NVMe drive a selection of whole disks holds: the drives every namespace of which
// is ticked, the only ones a command reaching beyond one namespace may be sent to.
#include "disk/disk.h"
#include "disk/firmware_wipe.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace purgelet {

std::vector<std::string> WholeFirmwareDrives(const std::vector<TDisk*>& disks) {
    struct TTicked {
        std::vector<std::uint32_t> Namespaces;
        std::vector<std::uint32_t> Active;
        bool Writable = true;
    };
    std::vector<std::pair<std::string, TTicked>> drives;
    for (TDisk* disk : disks) {
        auto* whole = dynamic_cast<TPhysicalDisk*>(disk);
        const TFirmwareDrive* drive = whole != nullptr ? whole->ProbedFirmware() : nullptr;
        if (drive == nullptr)
            continue;
        const TFirmwareUnit unit = drive->Unit();
        if (unit.Controller.empty())
            continue;
        auto at = std::find_if(drives.begin(), drives.end(),
                               [&](const auto& d) { return d.first == unit.Controller; });
        if (at == drives.end())
            at = drives.emplace(drives.end(), unit.Controller, TTicked{{}, unit.Active, true});
        at->second.Namespaces.push_back(unit.Namespace);
        at->second.Writable = at->second.Writable && whole->NotWipeable.empty();
    }
    // Each active namespace ticked once and nothing else under the controller's name: a
    // namespace that could not be told, or a second drive that gives the same name, leaves
    // the drive short of whole.
    std::vector<std::string> whole;
    for (auto& [controller, ticked] : drives) {
        std::sort(ticked.Namespaces.begin(), ticked.Namespaces.end());
        std::sort(ticked.Active.begin(), ticked.Active.end());
        if (ticked.Writable && !ticked.Active.empty() && ticked.Namespaces == ticked.Active)
            whole.push_back(controller);
    }
    return whole;
}

TFirmwareScope ScopeOf(const TFirmwareDrive& drive, const std::vector<std::string>& wholeDrives) {
    const std::string controller = drive.Unit().Controller;
    return !controller.empty() && std::find(wholeDrives.begin(), wholeDrives.end(), controller) !=
                                      wholeDrives.end()
               ? TFirmwareScope::WholeDrive
               : TFirmwareScope::Namespace;
}

} // namespace purgelet
