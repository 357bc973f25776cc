#include "optical/aspi.h"

#include "optical/optical_devices.h"

#include <cctype>
#include <cstring>

namespace purgelet {

namespace {

TBurningIO& DefaultBurningIO() {
    static TBurningIO sink;
    return sink;
}

} // namespace

TASPIdevice::TASPIdevice(const platform::SRB_HAInquiry& adapterInfo,
                         const platform::SRB_GDEVBlock& deviceTypeBlock,
                         const TSCSIAddress& address)
    : Address(address), AdapterInfo(adapterInfo), DeviceTypeBlock(deviceTypeBlock) {
    DriveLetter = ' ';
    std::uint8_t answer[kInquiryLength] = {};
    Execute(mmc::Inquiry(), answer);
    TakeInquiry(answer, true);
    const std::string letter =
        SCSItoDriveLetter(Address.Lun, Address.Target, Inquiry.Vendor, Inquiry.Product);
    if (!letter.empty())
        DriveLetter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter[0])));
    ReadCapabilities();
}

TScsiResult TASPIdevice::Send(const TCdb& cdb, std::uint8_t* data) {
    return TAspiTransport(Address).Execute(cdb, data, kCommandTimeoutMs / 1000);
}

std::uint8_t TASPIdevice::ExecuteImmediate(const TCdb& cdb, const std::function<bool()>& onBusy) {
    // Immediate commands carry no data; the request itself may take as long as the wait.
    return FinishImmediate(
        TAspiTransport(Address).Execute(cdb, nullptr, kImmediateWaitLimitSeconds), onBusy);
}

std::uint8_t TASPIdevice::Blank(bool Full, const TBusyEvent& OnBusy) {
    return ExecuteImmediate(mmc::Blank(Full),
                            [this, &OnBusy] { return OnBusy ? OnBusy(Address) : true; });
}

std::uint8_t TASPIdevice::ReadCapabilities() {
    std::memset(CapabilitiesPage, 0, sizeof(CapabilitiesPage));
    const std::uint8_t code = Execute(
        mmc::ModeSenseCapabilities(static_cast<std::uint8_t>(0x08 | LunBits())), CapabilitiesPage);
    ConvertCapabilityFields();
    DecodeCapabilities();
    return code;
}

bool TASPIdevice::PrepareToWrite(TDiscStatus& Status) {
    return PrepareToWriteSequence(Status);
}

std::uint8_t TASPIdevice::Eject() {
    return Execute(mmc::StartStopUnitEject(), nullptr);
}

bool TASPIdevice::WriteImage(TWriteReport& Report, std::istream& Stream, TBurningIO* Progress) {
    return WriteImageSequence(Report, Stream, Progress != nullptr ? Progress : &DefaultBurningIO());
}

TASPIdevices::TASPIdevices() : Info(std::make_unique<TASPIinfo>()) {
    Clear();
    Rescan();
}

void TASPIdevices::Rescan() {
    Info->Refresh();
    Clear();
    platform::SRB_HAInquiry adapter;
    std::memset(&adapter, 0, sizeof(adapter));
    platform::SRB_GDEVBlock unit;
    std::memset(&unit, 0, sizeof(unit));
    for (int ha = 0; ha < Info->AdapterCount; ++ha) {
        adapter.SRB_Cmd = SC_HA_INQUIRY;
        adapter.SRB_HaId = static_cast<BYTE>(ha);
        AspiSendCommand(&adapter);
        if (StatusToResult(adapter.SRB_Status, 0xFF, 0xFF) != 0)
            continue;
        const int targets = adapter.HA_Unique[3] == 0 ? 8 : adapter.HA_Unique[3];
        for (int target = 0; target < targets; ++target) {
            for (int lun = 0; lun < 8; ++lun) {
                unit.SRB_Cmd = SC_GET_DEV_TYPE;
                unit.SRB_HaId = static_cast<BYTE>(ha);
                unit.SRB_Target = static_cast<BYTE>(target);
                unit.SRB_Lun = static_cast<BYTE>(lun);
                AspiSendCommand(&unit);
                if (StatusToResult(unit.SRB_Status, 0xFF, 0xFF) == 0)
                    Add(adapter, unit,
                        TSCSIAddress{static_cast<std::uint8_t>(ha),
                                     static_cast<std::uint8_t>(target),
                                     static_cast<std::uint8_t>(lun)});
            }
        }
    }
}

void TASPIdevices::Add(const platform::SRB_HAInquiry& adapterInfo,
                       const platform::SRB_GDEVBlock& deviceTypeBlock,
                       const TSCSIAddress& address) {
    Devices.push_back(std::make_unique<TASPIdevice>(adapterInfo, deviceTypeBlock, address));
}

} // namespace purgelet
