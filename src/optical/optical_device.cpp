#include "optical/optical_device.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace purgelet {

namespace {
constexpr std::size_t kCapabilityFields[] = {16, 18, 20, 22, 26, 28};
} // namespace

bool TOpticalDevice::CanWrite() {
    ReadCapabilities();
    return CanWriteCDR || CanWriteCDRW;
}

std::uint16_t TOpticalDevice::CapabilityField(std::size_t offset) const {
    std::uint16_t value;
    std::memcpy(&value, CapabilitiesPage + offset, sizeof(value));
    return value;
}

void TOpticalDevice::ConvertCapabilityFields() {
    for (std::size_t offset : kCapabilityFields) {
        const std::uint16_t value = ReadBE16(CapabilitiesPage + offset);
        std::memcpy(CapabilitiesPage + offset, &value, sizeof(value));
    }
}

void TOpticalDevice::DecodeCapabilities() {
    const std::uint8_t reads = CapabilitiesPage[10], writes = CapabilitiesPage[11];
    CanReadCDR = (reads & 0x01) != 0;
    CanReadCDRW = (reads & 0x02) != 0;
    CanReadMethod2 = (reads & 0x04) != 0;
    CanReadDVDROM = (reads & 0x08) != 0;
    CanReadDVDR = (reads & 0x10) != 0;
    CanReadDVDRAM = (reads & 0x20) != 0;
    CanWriteCDR = (writes & 0x01) != 0;
    CanWriteCDRW = (writes & 0x02) != 0;
    CanTestWrite = (writes & 0x04) != 0;
    CanWriteDVDR = (writes & 0x10) != 0;
    CanWriteDVDRAM = (writes & 0x20) != 0;
    MaxReadSpeed = CapabilityField(16) / 176u;
    MaxWriteSpeed = CapabilityField(26) / 176u;
}

void TOpticalDevice::TakeInquiry(const std::uint8_t* answer, bool vendorFirst) {
    Inquiry = DecodeInquiry(answer);
    DeviceName = vendorFirst ? Inquiry.Vendor + " " + Inquiry.Product
                             : Inquiry.Product + " (" + Inquiry.Vendor + ")";
    DeviceType = Inquiry.DeviceType;
    DeviceTypeName = DeviceTypeNames[DeviceType];
}

TScsiResult TOpticalDevice::Poll() {
    std::uint8_t answer[kDiscInformationLength] = {};
    return Send(mmc::ReadDiscInformation(), answer);
}

std::uint8_t TOpticalDevice::WaitUntilReady(const std::function<bool()>& onBusy) {
    BusyProgress.reset(); // stays empty when onBusy raises
    TImmediateWait wait{[this] { return Poll(); }, onBusy, {}};
    const std::uint8_t code = wait.Run();
    BusyProgress = wait.Progress;
    return code;
}

std::uint8_t TOpticalDevice::FinishImmediate(const TScsiResult& sent,
                                             const std::function<bool()>& onBusy) {
    if (sent.Taken()) {
        const std::uint8_t waited = WaitUntilReady(onBusy);
        if (waited != 0)
            return waited;
    }
    return sent.Code;
}

bool TOpticalDevice::PrepareToWriteSequence(TDiscStatus& Status) {
    std::uint8_t code = Execute(mmc::TestUnitReady(), nullptr);
    if (code != 0) {
        Status.FailedStep = 3;
        Status.ResultCode = code;
        return false;
    }
    if (DeviceType != dtCDROM) {
        Status.FailedStep = 1;
        return false;
    }
    std::memset(Status.DiscInformation, 0, sizeof(Status.DiscInformation));
    code = Execute(mmc::ReadDiscInformation(), Status.DiscInformation);
    if (code != 0) {
        Status.FailedStep = 2;
        Status.ResultCode = code;
        return false;
    }
    Status.FailedStep = 0;
    Status.Erasable = (Status.DiscInformation[2] & 0x10) != 0;
    Status.DiscStatus = Status.DiscInformation[2] & 0x03;
    return true;
}

bool TOpticalDevice::ReportBuffer(std::uint8_t kind) {
    std::uint8_t capacity[12] = {};
    if (Execute(mmc::ReadBufferCapacity(), capacity) != 0)
        return true;
    const std::uint32_t length = ReadBE32(capacity + 4);
    if (length < 2048 || ProgressSink == nullptr)
        return true;
    const double fill =
        static_cast<double>(length - std::min(length, ReadBE32(capacity + 8))) / length;
    ProgressSink->ReportProgress(kind, fill, 0.0);
    return true;
}

bool TOpticalDevice::WriteImageSequence(TWriteReport& Report, std::istream& Stream,
                                        TBurningIO* Progress) {
    auto stop = [&](std::uint8_t step, std::uint8_t code) {
        Report.Step = step;
        Report.Code = code;
        return false;
    };
    Progress->ReportStage(0);
    // Write parameters: track-at-once, multi-session, Mode 1 blocks of 2048 bytes.
    std::uint8_t page[64] = {};
    std::uint8_t code = Execute(mmc::ModeSenseWriteParameters(LunBits()), page);
    if ((page[8] & 0x0F) != 5 && code != 0)
        return stop(5, code);
    std::uint8_t* p = page + 8;
    p[2] = 0x01;
    p[3] = 0xC4;
    p[4] = 0x08;
    p[7] = 0;
    p[8] = 0;
    p[14] = p[15] = 0;
    page[0] = page[1] = 0;
    const auto selectLength = static_cast<std::uint16_t>(std::min<int>(p[1] + 10, sizeof(page)));
    code = Execute(mmc::ModeSelect(LunBits(), selectLength), page);
    if (code != 0)
        return stop(5, code);

    std::uint8_t track[28] = {};
    code = Execute(mmc::ReadTrackInformation(0xFF), track);
    if (code != 0)
        return stop(8, code);
    if (track[6] == 0)
        return stop(7, code);
    const std::streamoff position = Stream.tellg();
    Stream.seekg(0, std::ios::end);
    const std::streamoff size = Stream.tellg();
    Stream.seekg(position);
    if (position < 0 || size < position)
        return stop(9, rcUnknown);
    const std::int64_t total = size - position;
    std::int64_t remaining = total;
    const std::int64_t trackBytes = std::int64_t{ReadBE32(track + 24)} * 2048;
    if (trackBytes < (remaining / 20480) * 20480 + 20480)
        return stop(9, code);
    std::uint32_t address = ReadBE32(track + 12);

    std::uint8_t capacity[12] = {};
    code = Execute(mmc::ReadBufferCapacity(), capacity);
    std::uint32_t bufferLength = ReadBE32(capacity + 4);
    if (code != 0 || bufferLength < 2048)
        return stop(10, code);
    Progress->ReportStage(1);
    const std::int64_t chunk = std::min<std::int64_t>(20480, bufferLength);
    std::vector<std::uint8_t> buffer(22528);
    while (remaining > 0) {
        std::fill(buffer.begin(), buffer.end(), 0);
        const auto want = static_cast<std::streamsize>(std::min(remaining, chunk));
        Stream.read(reinterpret_cast<char*>(buffer.data()), want);
        const std::int64_t got = Stream.gcount();
        if (got <= 0)
            return stop(11, rcUnknown); // the stream ended before its size said
        std::memset(capacity, 0, sizeof(capacity));
        code = Execute(mmc::ReadBufferCapacity(), capacity);
        if (code != 0)
            return stop(10, code);
        bufferLength = ReadBE32(capacity + 4);
        // A last piece shorter than a block still takes a whole (zero-padded) block, so
        // nothing of the stream is left unwritten.
        const auto blocks = static_cast<std::uint16_t>((got + 2047) / 2048);
        code = Execute(mmc::Write10(address, blocks), buffer.data());
        if (code != 0)
            return stop(11, code);
        address += blocks;
        remaining -= got;
        const std::uint32_t blank = std::min(bufferLength, ReadBE32(capacity + 8));
        Progress->ReportProgress(
            0, bufferLength != 0 ? static_cast<double>(bufferLength - blank) / bufferLength : 0.0,
            static_cast<double>(total - remaining + 1) / static_cast<double>(total + 1));
    }

    ProgressSink = Progress;
    Progress->ReportStage(2);
    code = ExecuteImmediate(mmc::SynchronizeCache(), [this] { return ReportBuffer(1); });
    if (code != 0)
        return stop(12, code);
    Progress->ReportStage(3);
    code = ExecuteImmediate(mmc::CloseTrack(), [this] { return ReportBuffer(1); });
    if (code != 0)
        return stop(13, code);
    Progress->ReportStage(4);
    code = ExecuteImmediate(mmc::CloseSession(), [this] { return ReportBuffer(3); });
    Report.Step = 14;
    Report.Code = code;
    return code == 0;
}

} // namespace purgelet
