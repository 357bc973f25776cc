#include "platform/sim/aspi32.h"

#include "platform/scsi.h"

#include <algorithm>
#include <cstring>

namespace platform::sim {

namespace {

// The unit a request addresses; nullptr with the request's status set when there is none.
template <class Request> OpticalDrive* Addressed(Machine& machine, int adapters, Request* srb) {
    if (srb->SRB_HaId >= adapters) {
        srb->SRB_Status = SS_INVALID_HA;
        return nullptr;
    }
    OpticalDrive* d = FindOptical(machine, srb->SRB_HaId, srb->SRB_Target, srb->SRB_Lun);
    if (d == nullptr)
        srb->SRB_Status = SS_NO_DEVICE;
    return d;
}

} // namespace

int SimAspi32::Adapters() const {
    if (machine_->aspi.adapters >= 0)
        return machine_->aspi.adapters;
    int count = 0;
    for (const auto& d : machine_->opticalDrives)
        count = std::max(count, d.aspiHost + 1);
    return count;
}

DWORD SimAspi32::GetASPI32SupportInfo() {
    return (DWORD{SS_COMP} << 8) | static_cast<DWORD>(Adapters() & 0xFF);
}

DWORD SimAspi32::SendASPI32Command(void* request) {
    auto* header = static_cast<BYTE*>(request);
    const BYTE command = header[0];
    if (command == SC_HA_INQUIRY) {
        auto* srb = static_cast<SRB_HAInquiry*>(request);
        if (srb->SRB_HaId >= Adapters())
            return srb->SRB_Status = SS_INVALID_HA;
        srb->HA_Count = static_cast<BYTE>(Adapters());
        srb->HA_SCSI_ID = 7;
        std::memcpy(srb->HA_ManagerId, "ASPI for WIN32  ", 16);
        std::memcpy(srb->HA_Identifier, "SIMATAPI        ", 16);
        srb->HA_Unique[3] = machine_->aspi.maxTargets;
        return srb->SRB_Status = SS_COMP;
    }
    if (command == SC_GET_DEV_TYPE) {
        auto* srb = static_cast<SRB_GDEVBlock*>(request);
        OpticalDrive* d = Addressed(*machine_, Adapters(), srb);
        if (d == nullptr)
            return srb->SRB_Status;
        srb->SRB_DeviceType = static_cast<BYTE>(d->peripheral & 0x1F);
        return srb->SRB_Status = SS_COMP;
    }
    if (command == SC_ABORT_SRB) {
        auto* srb = static_cast<SRB_Abort*>(request);
        ++machine_->aspi.aborts;
        if (hung_.erase(srb->SRB_ToAbort) != 0) {
            static_cast<SRB_ExecSCSICmd*>(srb->SRB_ToAbort)->SRB_Status = SS_ABORTED;
            return srb->SRB_Status = SS_COMP;
        }
        return srb->SRB_Status = SS_ABORT_FAIL;
    }
    if (command != SC_EXEC_SCSI_CMD)
        return header[1] = SS_INVALID_CMD;
    auto* srb = static_cast<SRB_ExecSCSICmd*>(request);
    OpticalDrive* d = Addressed(*machine_, Adapters(), srb);
    if (d == nullptr)
        return srb->SRB_Status;
    if (srb->SRB_CDBLen == 0 || srb->SRB_CDBLen > 16 ||
        (srb->SRB_BufLen > 0 && srb->SRB_BufPointer == nullptr))
        return srb->SRB_Status = SS_INVALID_SRB_VALUE;
    d->commands.push_back(
        OpticalCommand{"aspi", std::vector<BYTE>(srb->CDBByte, srb->CDBByte + srb->SRB_CDBLen),
                       srb->SRB_BufLen, srb->SRB_Flags, (srb->SRB_Flags & SRB_DIR_IN) != 0});
    const BYTE op = srb->CDBByte[0];
    if (Listed(d->rejected, op))
        return srb->SRB_Status = SS_INVALID_CMD;
    if (Listed(d->hung, op)) {
        hung_.insert(srb);
        return srb->SRB_Status = SS_PENDING;
    }
    MmcResult r =
        ExecuteMmc(*d, srb->CDBByte, srb->SRB_BufPointer, srb->SRB_BufLen, kernel_.MachineTicks());
    srb->SRB_HaStat = HASTAT_OK;
    srb->SRB_TargStat = r.status;
    if (r.status != 0)
        std::memcpy(srb->SenseArea, r.sense,
                    std::min<std::size_t>(srb->SRB_SenseLen, sizeof(srb->SenseArea)));
    srb->SRB_Status = r.status == 0 ? SS_COMP : SS_ERR;
    if ((srb->SRB_Flags & SRB_EVENT_NOTIFY) != 0 && srb->SRB_PostProc != nullptr)
        kernel_.SetEvent(srb->SRB_PostProc);
    // The request was queued; its outcome is in the block once the event is set.
    return SS_PENDING;
}

} // namespace platform::sim
