#include "app/firmware_lines.h"

#include "disk/disk.h"
#include "lang/catalogue.h"

namespace purgelet {

std::vector<TFirmwareLine> FirmwareLines(const std::vector<TDisk*>& disks, TFirmwareStep step) {
    std::vector<TFirmwareLine> lines;
    const std::vector<std::string> wholeDrives =
        step != TFirmwareStep::None ? WholeFirmwareDrives(disks) : std::vector<std::string>();
    for (TDisk* disk : disks) {
        TFirmwareLine line;
        line.Disk = disk;
        const TFirmwarePlan plan = PlanFirmware(*disk, step, wholeDrives);
        if (!plan.WholeDisk) {
            line.Reason = CatalogueText("FIRMWARE_NOTWHOLE");
        } else if (plan.Choice.Possible()) {
            line.Possible = true;
            line.Command = plan.Choice.Command;
            line.DriveNamespaces = plan.Choice.DriveNamespaces;
        } else {
            line.Reason = FirmwareRefusalText(plan.Choice.Refusal, plan.Choice.DriveNamespaces);
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

std::string FirmwareCommandText(const TFirmwareLine& line) {
    if (line.DriveNamespaces == 0)
        return line.Command;
    return FillIn(CatalogueText("FIRMWARE_WHOLEDRIVE"),
                  {line.Command, std::to_string(line.DriveNamespaces)});
}

std::string FirmwareLineText(const TFirmwareLine& line) {
    const std::string name = line.Disk != nullptr ? line.Disk->Description : std::string();
    return line.Possible
               ? FillIn(CatalogueText("FIRMWARE_SENDS"), {name, FirmwareCommandText(line)})
               : FillIn(CatalogueText("FIRMWARE_CANNOT"), {name, line.Reason});
}

std::vector<std::pair<TDisk*, std::string>>
FirmwareReasons(const std::vector<TFirmwareLine>& lines) {
    std::vector<std::pair<TDisk*, std::string>> drives;
    for (const TFirmwareLine& line : lines)
        drives.emplace_back(line.Disk, line.Reason);
    return drives;
}

std::string FirmwareRefusalMessage(const std::vector<TFirmwareLine>& lines) {
    std::string refused;
    for (const TFirmwareLine& line : lines)
        if (!line.Possible)
            refused += "\r\n" + FirmwareLineText(line);
    return refused.empty() ? refused : CatalogueText("FIRMWARE_REFUSED") + refused;
}

std::string PasswordLeftMessage(const TDisk& disk, const TWipeContext& wipe) {
    if (!wipe.Firmware || !wipe.Firmware->PasswordLeft())
        return {};
    return FillIn(CatalogueText("FIRMWARE_PASSWORDLEFT"),
                  {disk.Description, wipe.Firmware->Password});
}

} // namespace purgelet
