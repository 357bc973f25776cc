#include "optical/univ_cddvd.h"

#include "disk/device_access.h"
#include "disk/identity.h"
#include "platform/system.h"
#include "report/exceptions.h"

#include <vector>

namespace purgelet {

TUnivCDDVD::TUnivCDDVD(std::string Name, TMessageObject* Owner, TOpticalDevice& device)
    : TCDDVDDisk(std::move(Name), Owner), Device(&device) {}

void TUnivCDDVD::init() {
    Description = Device->DeviceName;
    // An ASPI unit whose letter was not found has a blank here: the shell knows no such
    // drive, so the description stays the device's name.
    if (Device->DriveLetter != '\0') {
        Name = std::string(1, Device->DriveLetter);
        TakeShellDisplayName(Description, Name + ":\\");
    }
    Size = 0;
    BlockSize = 0;
    BlockCount = 0;
    DriveType = 5;
    OwnerDisk = nullptr;
    StartingOffset = 0;
    PartitionNumber = 0;
    // The drive's own answer to INQUIRY names it; the bus it is on is not told there.
    Identity = {};
    Identity.Model = ModelName(Device->Inquiry.Vendor, Device->Inquiry.Product);
    Identity.Firmware = Device->Inquiry.Revision;
}

int TUnivCDDVD::getPropertiesCount() {
    TCDDVDDisk::getPropertiesCount();
    AddProperty(propName, Description);
    AddProperty(propOwner, Device->DeviceName);
    auto& kernel = platform::k32();
    const std::string root = Name + ":\\";
    std::vector<char> volume(10000), fileSystem(10000);
    DWORD serial = 0, maxLength = 0, flags = 0;
    if (kernel.GetVolumeInformationA(root.c_str(), volume.data(), 10000, &serial, &maxLength,
                                     &flags, fileSystem.data(), 10000)) {
        fileSystem.back() = '\0';
        AddProperty(propFileSystem, std::string(fileSystem.data()));
        AddProperty(propSerial, static_cast<std::int32_t>(serial));
        AddProperty(propFSFlags, static_cast<std::int32_t>(flags));
    }
    ULARGE_INTEGER available{}, total{}, free{};
    if (kernel.GetDiskFreeSpaceExA(root.c_str(), &available, &total, &free)) {
        AddProperty(propTotalSpace, static_cast<std::int64_t>(total.QuadPart));
        AddProperty(propFreeSpace, static_cast<std::int64_t>(free.QuadPart));
        AddProperty(propUsedSpace, static_cast<std::int64_t>(total.QuadPart - free.QuadPart));
    }
    if (Device->ReadCapabilities() == 0) {
        AddProperty(propReadSpeed, static_cast<std::int32_t>(Device->MaxReadSpeed));
        AddProperty(propWriteSpeed, static_cast<std::int32_t>(Device->MaxWriteSpeed));
    }
    TDiscStatus status;
    if (Device->PrepareToWrite(status)) {
        AddProperty(propOpticalFact, static_cast<std::int32_t>(status.DiscInformation[4]));
        AddProperty(propErasable, static_cast<std::int32_t>(status.Erasable ? 1 : 0));
    }
    return static_cast<int>(Properties.size());
}

bool TUnivCDDVD::BusyHook(TMessageObject& sink, const TSCSIAddress&) {
    sink.Update();
    return true;
}

void TUnivCDDVD::Wipe(TWipeContext& wipe) {
    TMessageObject& owner = wipe.Messages();
    owner.Disk = this;
    owner.Wipe = &wipe;
    owner.Flag = 0;
    owner.Progress = -1.0; // no fraction is known for the erase as a whole
    for (;;) {
        TDiscStatus status;
        if (!Device->PrepareToWrite(status)) {
            if (owner.Message(mkCDDVDNotReady, Description, TMsgDlgType::mtError, mbAbortRetry) ==
                mrRetry)
                continue;
            throw XPrepareToWriteFailed("TUnivCDDVD.wipe - cd.PrepareToWrite failed - abort");
        }
        if (!status.Erasable) {
            if (owner.Message(mkCDDVDNotErasable, Description, TMsgDlgType::mtError,
                              mbAbortRetry) == mrRetry)
                continue;
            throw XNotErasable("TUnivCDDVD.wipe - Not Eraseble!");
        }
        const std::uint8_t code =
            Device->Blank(!wipe.Options.QuickErase, [&owner](const TSCSIAddress& address) {
                return BusyHook(owner, address);
            });
        if (code == 0)
            return;
        if (owner.Message(mkCDDVDBlanking, Description, TMsgDlgType::mtError, mbAbortRetry) ==
            mrRetry)
            continue;
        throw XBlankFailed("TUnivCDDVD.wipe - Blank Failed, error code : " + std::to_string(code));
    }
}

} // namespace purgelet
