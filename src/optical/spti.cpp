#include "optical/spti.h"

#include "platform/scsi.h"
#include "platform/system.h"

#include <cstddef>
#include <cstring>

namespace purgelet {

namespace {

// A handle the command opened itself, closed on every way out.
class OwnHandle {
public:
    explicit OwnHandle(HANDLE handle) : handle_(handle) {}
    ~OwnHandle() {
        if (valid())
            platform::k32().CloseHandle(handle_);
    }
    OwnHandle(const OwnHandle&) = delete;
    OwnHandle& operator=(const OwnHandle&) = delete;
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

// Lends an open handle to the commands of one operation; the lender closes it afterwards.
class HeldHandle {
public:
    HeldHandle(HANDLE& slot, HANDLE handle) : slot_(slot) { slot_ = handle; }
    ~HeldHandle() { slot_ = INVALID_HANDLE_VALUE; }
    HeldHandle(const HeldHandle&) = delete;
    HeldHandle& operator=(const HeldHandle&) = delete;

private:
    HANDLE& slot_;
};

// A zero-filled request with what both request formats fill alike: the sizes, the sense
// area and the command block.
template <class Request> void Begin(Request& request, const TCdb& cdb) {
    std::memset(&request, 0, sizeof(request));
    request.header.Length = sizeof(request.header);
    request.header.CdbLength = cdb.Length;
    request.header.SenseInfoLength = sizeof(request.sense);
    request.header.SenseInfoOffset = offsetof(Request, sense);
    std::memcpy(request.header.Cdb, cdb.Bytes, cdb.Length);
}

TBurningIO& DefaultBurningIO() {
    static TBurningIO sink;
    return sink;
}

} // namespace

std::function<void(const std::string&)> TSPTIdevice::ErrorBox;

TSPTIdevice::TSPTIdevice(char Letter) {
    DriveLetter = Letter;
    std::uint8_t answer[kInquiryLength] = {};
    {
        OwnHandle h(Open(GENERIC_READ | GENERIC_WRITE));
        if (h.valid())
            SendForResult(h.get(), mmc::Inquiry(), answer, kOwnTimeout);
    }
    TakeInquiry(answer, false);
    ReadCapabilities();
}

TSPTIdevice::~TSPTIdevice() {
    if (Handle != INVALID_HANDLE_VALUE) {
        platform::k32().CloseHandle(Handle);
        Handle = INVALID_HANDLE_VALUE;
    }
}

HANDLE TSPTIdevice::Open(DWORD access) const {
    const std::string name = std::string("\\\\.\\") + DriveLetter + ":";
    return platform::k32().CreateFileA(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, 0, nullptr);
}

bool TSPTIdevice::Send(HANDLE handle, const TCdb& cdb, std::uint8_t* data, DWORD timeout,
                       std::uint8_t* scsiStatus) {
    auto& kernel = platform::k32();
    DWORD returned = 0;
    if (cdb.Direction == TDataDirection::Out) {
        platform::ScsiPassThroughDirectRequest request;
        Begin(request, cdb);
        request.header.DataIn = SCSI_IOCTL_DATA_OUT;
        request.header.DataTransferLength = cdb.DataLength;
        request.header.TimeOutValue = kHeldTimeout;
        request.header.DataBuffer = data;
        if (!kernel.DeviceIoControl(handle, IOCTL_SCSI_PASS_THROUGH_DIRECT, &request,
                                    sizeof(request), &request, sizeof(request), &returned,
                                    nullptr)) {
            ShowLastError();
            return false;
        }
        *scsiStatus = request.header.ScsiStatus;
        return true;
    }
    platform::ScsiPassThroughRequest request;
    Begin(request, cdb);
    request.header.DataIn = SCSI_IOCTL_DATA_IN;
    request.header.DataTransferLength = sizeof(request.data);
    request.header.TimeOutValue = timeout;
    request.header.DataBufferOffset = offsetof(platform::ScsiPassThroughRequest, data);
    if (!kernel.DeviceIoControl(handle, IOCTL_SCSI_PASS_THROUGH, &request,
                                sizeof(SCSI_PASS_THROUGH), &request, sizeof(request), &returned,
                                nullptr)) {
        if (cdb.Bytes[0] == 0x5B)
            ShowLastError();
        return false;
    }
    *scsiStatus = request.header.ScsiStatus;
    if (data != nullptr && cdb.DataLength > 0)
        std::memcpy(data, request.data,
                    std::min<std::size_t>(cdb.DataLength, sizeof(request.data)));
    return true;
}

std::uint8_t TSPTIdevice::SendForResult(HANDLE handle, const TCdb& cdb, std::uint8_t* data,
                                        DWORD timeout) {
    std::uint8_t status = 0;
    if (!Send(handle, cdb, data, timeout, &status))
        return rcRequestFailed;
    return StatusToResult(status, 0, 0);
}

void TSPTIdevice::ShowLastError() {
    auto& kernel = platform::k32();
    const DWORD code = kernel.GetLastError();
    if (ErrorBox)
        ErrorBox(kernel.SysErrorMessage(code));
    kernel.SetLastError(code);
}

std::uint8_t TSPTIdevice::Execute(const TCdb& cdb, std::uint8_t* data) {
    if (Handle != INVALID_HANDLE_VALUE)
        return SendForResult(Handle, cdb, data, kHeldTimeout);
    OwnHandle h(Open(GENERIC_READ | GENERIC_WRITE));
    if (!h.valid())
        return rcRequestFailed;
    return SendForResult(h.get(), cdb, data, kOwnTimeout);
}

std::uint8_t TSPTIdevice::Poll() {
    std::memset(DiscInformation, 0, sizeof(DiscInformation));
    return Execute(mmc::ReadDiscInformation(), DiscInformation);
}

std::uint8_t TSPTIdevice::ExecuteImmediate(const TCdb& cdb, const std::function<bool()>& onBusy) {
    // Without a held handle the command opens its own, which stays open while every poll
    // opens one of its own.
    const bool held = Handle != INVALID_HANDLE_VALUE;
    OwnHandle own(held ? INVALID_HANDLE_VALUE : Open(GENERIC_READ | GENERIC_WRITE));
    if (!held && !own.valid())
        return rcRequestFailed;
    std::uint8_t status = 0;
    if (!Send(held ? Handle : own.get(), cdb, nullptr, held ? kHeldTimeout : kOwnTimeout, &status))
        return rcRequestFailed;
    if (status == 0 || status == 1) {
        const std::uint8_t waited = WaitUntilReady(onBusy);
        if (waited != 0)
            return waited;
    }
    return StatusToResult(status, 0, 0);
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
    OwnHandle h(Open(GENERIC_READ | GENERIC_WRITE));
    if (!h.valid()) {
        Status.FailedStep = 3;
        return false;
    }
    HeldHandle held(Handle, h.get());
    const bool ready = PrepareToWriteSequence(Status);
    if (ready)
        Status.Spare1 = Status.Spare2 = 0;
    return ready;
}

std::uint8_t TSPTIdevice::Eject() {
    OwnHandle h(Open(GENERIC_READ));
    if (!h.valid())
        return rcRequestFailed;
    auto& kernel = platform::k32();
    BYTE allow = 0;
    DWORD returned = 0;
    kernel.DeviceIoControl(h.get(), IOCTL_STORAGE_MEDIA_REMOVAL, &allow, sizeof(allow), nullptr, 0,
                           &returned, nullptr);
    return kernel.DeviceIoControl(h.get(), IOCTL_STORAGE_EJECT_MEDIA, nullptr, 0, nullptr, 0,
                                  &returned, nullptr)
               ? rcSuccess
               : rcUnknown;
}

bool TSPTIdevice::WriteImage(TWriteReport& Report, std::istream& Stream, TBurningIO* Progress) {
    OwnHandle h(Open(GENERIC_READ | GENERIC_WRITE));
    if (!h.valid()) {
        Report.Step = 3;
        Report.Code = rcRequestFailed;
        return false;
    }
    HeldHandle held(Handle, h.get());
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
