#include "optical/aspi.h"

#include "optical/optical_devices.h"
#include "platform/system.h"

#include <cctype>
#include <cstring>

namespace purgelet {

namespace {

// The completion event of one request, closed on every way out.
class RequestEvent {
public:
    RequestEvent() : handle_(platform::k32().CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
        if (handle_ != nullptr)
            platform::k32().ResetEvent(handle_);
    }
    ~RequestEvent() {
        if (handle_ != nullptr)
            platform::k32().CloseHandle(handle_);
    }
    RequestEvent(const RequestEvent&) = delete;
    RequestEvent& operator=(const RequestEvent&) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

TBurningIO& DefaultBurningIO() {
    static TBurningIO sink;
    return sink;
}

// The request block for cdb on the unit at address, its completion told through event.
void Fill(platform::SRB_ExecSCSICmd& srb, const TSCSIAddress& address, const TCdb& cdb,
          std::uint8_t* data, HANDLE event) {
    std::memset(&srb, 0, sizeof(srb));
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_HaId = address.HaId;
    srb.SRB_Flags = SRB_EVENT_NOTIFY | (cdb.Direction == TDataDirection::In    ? SRB_DIR_IN
                                        : cdb.Direction == TDataDirection::Out ? SRB_DIR_OUT
                                                                               : 0);
    srb.SRB_Target = address.Target;
    srb.SRB_Lun = address.Lun;
    srb.SRB_BufLen = cdb.Direction == TDataDirection::None ? 0 : cdb.DataLength;
    srb.SRB_BufPointer = cdb.Direction == TDataDirection::None ? nullptr : data;
    srb.SRB_SenseLen = 14;
    srb.SRB_CDBLen = cdb.Length;
    srb.SRB_PostProc = event;
    std::memcpy(srb.CDBByte, cdb.Bytes, cdb.Length);
}

std::uint8_t ResultOf(const platform::SRB_ExecSCSICmd& srb) {
    return StatusToResult(srb.SRB_Status, srb.SRB_HaStat, srb.SRB_TargStat);
}

} // namespace

DWORD AspiSupportInfo() {
    auto& aspi = platform::sys().aspi32;
    return aspi ? aspi->GetASPI32SupportInfo() : 0;
}

DWORD AspiSendCommand(void* request) {
    auto& aspi = platform::sys().aspi32;
    return aspi ? aspi->SendASPI32Command(request) : 0;
}

void TASPIinfo::Refresh() {
    SupportInfo = AspiSupportInfo();
    Available = ((SupportInfo >> 8) & 0xFF) == SS_COMP;
    AdapterCount = Available ? static_cast<std::uint8_t>(SupportInfo & 0xFF) : 0;
}

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

void TASPIdevice::Abort(platform::SRB_ExecSCSICmd* request) {
    platform::SRB_Abort abort;
    std::memset(&abort, 0, sizeof(abort));
    abort.SRB_Cmd = SC_ABORT_SRB;
    abort.SRB_HaId = Address.HaId;
    abort.SRB_ToAbort = request;
    AspiSendCommand(&abort); // its outcome changes nothing: the request is given up
}

std::uint8_t TASPIdevice::Execute(const TCdb& cdb, std::uint8_t* data) {
    RequestEvent event;
    platform::SRB_ExecSCSICmd srb;
    Fill(srb, Address, cdb, data, event.get());
    const DWORD status = AspiSendCommand(&srb);
    if (status == SS_PENDING &&
        platform::k32().WaitForSingleObject(event.get(), kCommandTimeoutMs) != WAIT_OBJECT_0) {
        Abort(&srb);
        return rcTimedOut; // the drive may still be working on it
    }
    return ResultOf(srb);
}

std::uint8_t TASPIdevice::ExecuteImmediate(const TCdb& cdb, const std::function<bool()>& onBusy) {
    // The block of the immediate command lives only as long as its own Execute; its outcome
    // is all that is kept.
    platform::SRB_ExecSCSICmd outcome;
    std::uint8_t code = 0;
    {
        RequestEvent event;
        platform::SRB_ExecSCSICmd& srb = outcome;
        Fill(srb, Address, cdb, nullptr, event.get()); // immediate commands carry no data
        const DWORD status = AspiSendCommand(&srb);
        if (status >= SS_ABORTED)
            return ResultOf(srb);
        if (status == SS_PENDING) {
            if (platform::k32().WaitForSingleObject(event.get(), kImmediateWaitLimitMs) !=
                WAIT_OBJECT_0) {
                Abort(&srb);
                return rcTimedOut;
            }
            platform::k32().ResetEvent(event.get());
        }
        code = ResultOf(srb);
    }
    if (outcome.SRB_Status == SS_PENDING || outcome.SRB_Status == SS_COMP) {
        const std::uint8_t waited = WaitUntilReady(onBusy);
        if (waited != 0)
            return waited;
    }
    return code;
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
