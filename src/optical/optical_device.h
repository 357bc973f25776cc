// The abstract optical drive. The command sequences (capabilities, PrepareToWrite, the wait
// after an immediate command, WriteImage) are the same for every transport and live here;
// a transport supplies how one command reaches the drive.
#pragma once

#include "optical/mmc.h"

#include <cstdint>
#include <functional>
#include <istream>
#include <optional>
#include <string>

namespace purgelet {

class TOpticalDevice {
public:
    TOpticalDevice() = default;
    virtual ~TOpticalDevice() = default;
    TOpticalDevice(const TOpticalDevice&) = delete;
    TOpticalDevice& operator=(const TOpticalDevice&) = delete;

    std::uint8_t DeviceType = 0;
    std::string DeviceName;
    std::string DeviceTypeName;
    char DriveLetter = ' ';
    bool CanReadCDR = false, CanReadCDRW = false, CanReadMethod2 = false, CanReadDVDROM = false,
         CanReadDVDR = false, CanReadDVDRAM = false;
    std::uint32_t MaxReadSpeed = 0; // in 176 kB/s
    bool CanWriteCDR = false, CanWriteCDRW = false, CanTestWrite = false, CanWriteDVDR = false,
         CanWriteDVDRAM = false;
    std::uint32_t MaxWriteSpeed = 0;

    TInquiryData Inquiry;
    // The MODE SENSE page 2Ah answer, its six 16-bit fields in host order.
    std::uint8_t CapabilitiesPage[kCapabilitiesLength] = {};
    TBurningIO* ProgressSink = nullptr; // not owned

    // The operations, in their fixed order.
    // ReadCapabilities, then whether the drive writes CD-R or CD-RW.
    virtual bool CanWrite();
    virtual std::uint8_t Eject() = 0;
    // BLANK (type 0 when Full, minimal otherwise); returns when the drive has finished.
    virtual std::uint8_t Blank(bool Full, const TBusyEvent& OnBusy) = 0;
    // Kept in its place without behaviour; nothing calls it.
    virtual void Unused(const std::function<void()>&) {}
    virtual std::uint8_t ReadCapabilities() = 0;
    virtual bool PrepareToWrite(TDiscStatus& Status) = 0;
    // Writes the rest of Stream as one track and closes the session; null Progress means
    // the transport's default sink.
    virtual bool WriteImage(TWriteReport& Report, std::istream& Stream, TBurningIO* Progress) = 0;

    // The 16-bit capability field at answer byte offset, host order.
    std::uint16_t CapabilityField(std::size_t offset) const;

    // The progress indication the drive gave while the last immediate command kept it busy,
    // in 65536ths; empty when it gave none. Not shown: what the user sees of an erase stays
    // unmeasured, as the drives that give none are many.
    std::optional<std::uint16_t> BusyProgress;

protected:
    // One ordinary command through the transport, with all it came back with.
    virtual TScsiResult Send(const TCdb& cdb, std::uint8_t* data) = 0;
    // Its one-byte result code; data holds cdb.DataLength bytes (answer or data to send).
    std::uint8_t Execute(const TCdb& cdb, std::uint8_t* data) { return Send(cdb, data).Code; }
    // LUN bits of this transport for the commands that carry them.
    virtual std::uint8_t LunBits() const { return 0; }
    // One immediate command followed by WaitUntilReady; onBusy runs between polls.
    virtual std::uint8_t ExecuteImmediate(const TCdb& cdb, const std::function<bool()>& onBusy) = 0;
    // One poll of WaitUntilReady: READ DISC INFORMATION, its answer discarded.
    virtual TScsiResult Poll();

    // Repeats Poll until one succeeds, calling onBusy after every failed poll: 0, or
    // rcTimedOut after kImmediateWaitLimitMs, or rcWaitStopped when onBusy says stop.
    std::uint8_t WaitUntilReady(const std::function<bool()>& onBusy);
    // The rest of an immediate command once sent: the wait when the transport took it,
    // else the command's own result.
    std::uint8_t FinishImmediate(const TScsiResult& sent, const std::function<bool()>& onBusy);
    // Names and type from an INQUIRY answer (ASPI: "vendor product"; pass-through:
    // "product (vendor)").
    void TakeInquiry(const std::uint8_t* answer, bool vendorFirst);
    // Converts the six 16-bit fields of CapabilitiesPage to host order.
    void ConvertCapabilityFields();
    // Flags and speeds from CapabilitiesPage.
    void DecodeCapabilities();
    bool PrepareToWriteSequence(TDiscStatus& Status);
    bool WriteImageSequence(TWriteReport& Report, std::istream& Stream, TBurningIO* Progress);

private:
    // The busy callback of SYNCHRONIZE CACHE and CLOSE TRACK/SESSION: buffer fill to the sink.
    bool ReportBuffer(std::uint8_t kind);
};

} // namespace purgelet
