#include "optical/spti.h"

#include "platform/scsi.h" // the eject requests
#include "platform/system.h"
#include "scsi/pass_through.h"

#include <cstring>
#include <utility>

namespace purgelet {

namespace {

// Holds the drive open in slot for the commands of one operation, and closes it when the
// operation ends, however it ends.
class HeldForOperation {
public:
    HeldForOperation(platform::UniqueHandle& slot, platform::UniqueHandle handle) : slot_(slot) {
        slot_ = std::move(handle);
    }
    ~HeldForOperation() { slot_.Reset(); }
    HeldForOperation(const HeldForOperation&) = delete;
    HeldForOperation& operator=(const HeldForOperation&) = delete;

private:
    platform::UniqueHandle& slot_;
};

TBurningIO& DefaultBurningIO() {
    static TBurningIO sink;
    return sink;
}

// The system's text for code through ErrorBox, the last error left as it was.
void ShowError(DWORD code) {
    auto& kernel = platform::k32();
    if (TSPTIdevice::ErrorBox)
        TSPTIdevice::ErrorBox(kernel.SysErrorMessage(code));
    kernel.SetLastError(code);
}

} // namespace

std::function<void(const std::string&)> TSPTIdevice::ErrorBox;

TSPTIdevice::TSPTIdevice(char Letter) {
    DriveLetter = Letter;
    std::uint8_t answer[kInquiryLength] = {};
    {
        const platform::UniqueHandle h = OpenForCommands(Path(), GENERIC_READ | GENERIC_WRITE);
        if (h)
            SendOn(h.Get(), mmc::Inquiry(), answer, kOwnTimeout);
    }
    TakeInquiry(answer, false);
    ReadCapabilities();
}

std::string TSPTIdevice::Path() const {
    return std::string("\\\\.\\") + DriveLetter + ":";
}

TScsiResult TSPTIdevice::SendOn(HANDLE handle, const TCdb& cdb, std::uint8_t* data, DWORD timeout) {
    // Data goes out only on a handle the operation holds, with its time limit.
    const bool out = cdb.Direction == TDataDirection::Out;
    const TScsiResult result =
        TPassThroughTransport(handle).Execute(cdb, data, out ? kHeldTimeout : timeout);
    if (result.Outcome == TScsiOutcome::NotSent && (out || cdb.Bytes[0] == 0x5B))
        ShowError(result.SystemError);
    return result;
}

TScsiResult TSPTIdevice::Send(const TCdb& cdb, std::uint8_t* data) {
    if (Handle)
        return SendOn(Handle.Get(), cdb, data, kHeldTimeout);
    const platform::UniqueHandle h = OpenForCommands(Path(), GENERIC_READ | GENERIC_WRITE);
    if (!h)
        return TScsiResult::NotSent(platform::k32().GetLastError()); // the drive did not open
    return SendOn(h.Get(), cdb, data, kOwnTimeout);
}

TScsiResult TSPTIdevice::Poll() {
    std::memset(DiscInformation, 0, sizeof(DiscInformation));
    return Send(mmc::ReadDiscInformation(), DiscInformation);
}

std::uint8_t TSPTIdevice::ExecuteImmediate(const TCdb& cdb, const std::function<bool()>& onBusy) {
    // Without a held handle the command opens its own, which stays open while every poll
    // opens one of its own.
    const bool held = Handle.IsOpen();
    platform::UniqueHandle own;
    if (!held) {
        own = OpenForCommands(Path(), GENERIC_READ | GENERIC_WRITE);
        if (!own)
            return rcRequestFailed;
    }
    const TScsiResult sent =
        SendOn(held ? Handle.Get() : own.Get(), cdb, nullptr, held ? kHeldTimeout : kOwnTimeout);
    return FinishImmediate(sent, onBusy);
}

std::uint8_t TSPTIdevice::Blank(bool Full, const TBusyEvent& OnBusy) {
    return ExecuteImmediate(mmc::Blank(Full),
                            [&OnBusy] { return OnBusy ? OnBusy(TSCSIAddress{}) : true; });
}

std::uint8_t TSPTIdevice::ReadCapabilities() {
    std::uint8_t answer[kCapabilitiesLength] = {};
    const std::uint8_t code = Execute(mmc::ModeSenseCapabilities(0x00), answer);
    if (code == rcRequestFailed)
        return code; // nothing came back: the flags stay as they were
    std::memcpy(CapabilitiesPage, answer, sizeof(CapabilitiesPage));
    ConvertCapabilityFields();
    if (code == 0)
        DecodeCapabilities();
    return code;
}

bool TSPTIdevice::PrepareToWrite(TDiscStatus& Status) {
    platform::UniqueHandle h = OpenForCommands(Path(), GENERIC_READ | GENERIC_WRITE);
    if (!h) {
        Status.FailedStep = 3;
        return false;
    }
    const HeldForOperation held(Handle, std::move(h));
    const bool ready = PrepareToWriteSequence(Status);
    if (ready)
        Status.Spare1 = Status.Spare2 = 0;
    return ready;
}

std::uint8_t TSPTIdevice::Eject() {
    const platform::UniqueHandle h = OpenForCommands(Path(), GENERIC_READ);
    if (!h)
        return rcRequestFailed;
    auto& kernel = platform::k32();
    BYTE allow = 0;
    DWORD returned = 0;
    kernel.DeviceIoControl(h.Get(), IOCTL_STORAGE_MEDIA_REMOVAL, &allow, sizeof(allow), nullptr, 0,
                           &returned, nullptr);
    return kernel.DeviceIoControl(h.Get(), IOCTL_STORAGE_EJECT_MEDIA, nullptr, 0, nullptr, 0,
                                  &returned, nullptr)
               ? rcSuccess
               : rcUnknown;
}

bool TSPTIdevice::WriteImage(TWriteReport& Report, std::istream& Stream, TBurningIO* Progress) {
    platform::UniqueHandle h = OpenForCommands(Path(), GENERIC_READ | GENERIC_WRITE);
    if (!h) {
        Report.Step = 3;
        Report.Code = rcRequestFailed;
        return false;
    }
    const HeldForOperation held(Handle, std::move(h));
    return WriteImageSequence(Report, Stream, Progress != nullptr ? Progress : &DefaultBurningIO());
}

void TSPTIdevices::Rescan() {
    Clear();
    auto& kernel = platform::k32();
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof(version);
    if (!kernel.GetVersionExA(&version) || version.dwPlatformId != VER_PLATFORM_WIN32_NT)
        return;
    const DWORD drives = kernel.GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
        if ((drives & (DWORD{1} << i)) == 0)
            continue;
        const char letter = static_cast<char>('A' + i);
        const std::string device = std::string(1, letter) + ":";
        char target[255] = {};
        if (kernel.QueryDosDeviceA(device.c_str(), target, sizeof(target)) == 0)
            continue;
        if (target[0] != '\0')
            Add(letter);
    }
}

void TSPTIdevices::Add(char Letter) {
    Devices.push_back(std::make_unique<TSPTIdevice>(Letter));
}

} // namespace purgelet
