#include "scsi/aspi_transport.h"

#include "platform/handle.h"
#include "platform/system.h"

#include <algorithm>
#include <cstring>

namespace purgelet {

static_assert(TAspiTransport::kSenseLength <= sizeof(platform::SRB_ExecSCSICmd::SenseArea));

namespace {

// The completion event of one request, reset, closed on every way out.
platform::UniqueHandle RequestEvent() {
    platform::UniqueHandle event(platform::k32().CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (event)
        platform::k32().ResetEvent(event.Get());
    return event;
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
    srb.SRB_SenseLen = TAspiTransport::kSenseLength;
    srb.SRB_CDBLen = cdb.Length;
    srb.SRB_PostProc = event;
    std::memcpy(srb.CDBByte, cdb.Bytes, cdb.Length);
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

void TAspiTransport::Abort(platform::SRB_ExecSCSICmd* request) {
    platform::SRB_Abort abort;
    std::memset(&abort, 0, sizeof(abort));
    abort.SRB_Cmd = SC_ABORT_SRB;
    abort.SRB_HaId = address_.HaId;
    abort.SRB_ToAbort = request;
    AspiSendCommand(&abort); // its outcome changes nothing: the request is given up
}

TScsiResult TAspiTransport::Execute(const TCdb& cdb, std::uint8_t* data,
                                    std::uint32_t timeoutSeconds) {
    const platform::UniqueHandle event = RequestEvent();
    platform::SRB_ExecSCSICmd srb;
    Fill(srb, address_, cdb, data, event.Get());
    // Below INFINITE: every request has an end.
    const auto waitMs = static_cast<DWORD>(
        std::min<std::uint64_t>(std::uint64_t{timeoutSeconds} * 1000u, INFINITE - 1));
    TScsiResult result;
    if (AspiSendCommand(&srb) == SS_PENDING &&
        platform::k32().WaitForSingleObject(event.Get(), waitMs) != WAIT_OBJECT_0) {
        Abort(&srb);
        result.Outcome = TScsiOutcome::TimedOut;
        result.Code = rcTimedOut;
        result.RequestStatus = srb.SRB_Status;
        return result;
    }
    result.RequestStatus = srb.SRB_Status;
    result.ScsiStatus = srb.SRB_TargStat;
    result.Code = StatusToResult(srb.SRB_Status, srb.SRB_HaStat, srb.SRB_TargStat);
    result.Transferred = srb.SRB_BufLen;
    if (srb.SRB_TargStat == kScsiStatusCheckCondition) {
        result.SenseLength = std::min<std::size_t>(srb.SRB_SenseLen, sizeof(srb.SenseArea));
        std::memcpy(result.SenseData, srb.SenseArea, result.SenseLength);
    }
    return result;
}

} // namespace purgelet
