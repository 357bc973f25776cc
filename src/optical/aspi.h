// The optical drives of an ASPI for Win32 layer (scsi/aspi_transport.h): every host
// adapter, target and logical unit that answers.
#pragma once

#include "optical/optical_device.h"
#include "platform/scsi.h"
#include "scsi/aspi_transport.h"

#include <memory>
#include <vector>

namespace purgelet {

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
    static_assert(kCommandTimeoutMs % 1000 == 0, "the transport counts whole seconds");

    std::uint8_t Eject() override;
    std::uint8_t Blank(bool Full, const TBusyEvent& OnBusy) override;
    std::uint8_t ReadCapabilities() override;
    bool PrepareToWrite(TDiscStatus& Status) override;
    bool WriteImage(TWriteReport& Report, std::istream& Stream, TBurningIO* Progress) override;

protected:
    TScsiResult Send(const TCdb& cdb, std::uint8_t* data) override;
    std::uint8_t ExecuteImmediate(const TCdb& cdb, const std::function<bool()>& onBusy) override;
    std::uint8_t LunBits() const override { return static_cast<std::uint8_t>(Address.Lun << 5); }
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

} // namespace purgelet
