// The ASPI transport: every host adapter, target and logical unit of an ASPI for Win32
// layer, commands sent as request blocks whose completion is signalled through an event.
#pragma once

#include "optical/optical_device.h"
#include "platform/scsi.h"

#include <memory>
#include <vector>

namespace purgelet {

// Whether the ASPI layer is there, and how many host adapters it has.
class TASPIinfo {
public:
    TASPIinfo() { Refresh(); }
    void Refresh();

    bool Available = false;
    std::uint8_t AdapterCount = 0;
    std::uint32_t SupportInfo = 0;
};

class TASPIdevice : public TOpticalDevice {
public:
    // INQUIRY, the drive letter from the registry, then the capabilities.
    TASPIdevice(const platform::SRB_HAInquiry& AdapterInfo,
                const platform::SRB_GDEVBlock& DeviceTypeBlock, const TSCSIAddress& Address);

    TSCSIAddress Address;
    platform::SRB_HAInquiry AdapterInfo;
    platform::SRB_GDEVBlock DeviceTypeBlock;

    // An ordinary command that has not finished by then is aborted (rcTimedOut).
    static constexpr DWORD kCommandTimeoutMs = 100000;

    std::uint8_t Eject() override;
    std::uint8_t Blank(bool Full, const TBusyEvent& OnBusy) override;
    std::uint8_t ReadCapabilities() override;
    bool PrepareToWrite(TDiscStatus& Status) override;
    bool WriteImage(TWriteReport& Report, std::istream& Stream, TBurningIO* Progress) override;

protected:
    std::uint8_t Execute(const TCdb& cdb, std::uint8_t* data) override;
    std::uint8_t ExecuteImmediate(const TCdb& cdb, const std::function<bool()>& onBusy) override;
    std::uint8_t LunBits() const override { return static_cast<std::uint8_t>(Address.Lun << 5); }

private:
    void Abort(platform::SRB_ExecSCSICmd* request);
};

// Every unit that answers on every adapter, in discovery order.
class TASPIdevices {
public:
    TASPIdevices();
    void Rescan();
    void Add(const platform::SRB_HAInquiry& AdapterInfo,
             const platform::SRB_GDEVBlock& DeviceTypeBlock, const TSCSIAddress& Address);
    std::size_t Count() const { return Devices.size(); }
    bool Available() const { return Info->Available; }
    void Clear() { Devices.clear(); }

    std::unique_ptr<TASPIinfo> Info;
    std::vector<std::unique_ptr<TASPIdevice>> Devices;
};

// The ASPI entries of the installed system, or the stubs of an absent library (support
// information 0, every request 0).
DWORD AspiSupportInfo();
DWORD AspiSendCommand(void* request);

} // namespace purgelet
