// The simulated PC's ways to an optical drive: the NT pass-through requests on its drive
// letter, the eject requests, and the events the ASPI layer signals completion through.
#include "platform/scsi.h"
#include "platform/sim/kernel32.h"

#include <cstring>

namespace platform::sim {

HANDLE SimKernel32::CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState,
                                 LPCSTR) {
    LastError() = ERROR_SUCCESS;
    return events_.Create(manualReset != FALSE, initialState != FALSE);
}

BOOL SimKernel32::SetEvent(HANDLE event) {
    return events_.Set(event) ? TRUE : Fail(ERROR_INVALID_HANDLE);
}

BOOL SimKernel32::ResetEvent(HANDLE event) {
    return events_.Reset(event) ? TRUE : Fail(ERROR_INVALID_HANDLE);
}

DWORD SimKernel32::WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    const DWORD result = events_.Wait(object);
    if (result == WAIT_FAILED)
        LastError() = ERROR_INVALID_HANDLE;
    else if (result == WAIT_TIMEOUT && milliseconds != INFINITE)
        Pass(milliseconds);
    return result;
}

BOOL SimKernel32::OpticalControl(DeviceHandle& h, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                 DWORD outSize, DWORD* size) {
    OpticalDrive* drive = nullptr;
    if (h.drive >= 0)
        drive = FindOptical(*machine_, machine_->drives[static_cast<std::size_t>(h.drive)].letter);
    if (drive == nullptr)
        return Fail(ERROR_INVALID_FUNCTION);
    if (code == IOCTL_STORAGE_MEDIA_REMOVAL)
        return in != nullptr && inSize >= 1 ? TRUE : Fail(ERROR_INVALID_PARAMETER);
    if (code == IOCTL_STORAGE_EJECT_MEDIA) {
        drive->disc = OpticalDisc{};
        ++drive->ejects;
        return TRUE;
    }
    // Pass-through needs a handle opened for reading and writing, as on Windows.
    if ((h.access & (GENERIC_READ | GENERIC_WRITE)) != (GENERIC_READ | GENERIC_WRITE))
        return Fail(ERROR_ACCESS_DENIED);
    const bool direct = code == IOCTL_SCSI_PASS_THROUGH_DIRECT;
    const DWORD headerSize = direct ? sizeof(SCSI_PASS_THROUGH_DIRECT) : sizeof(SCSI_PASS_THROUGH);
    if (in == nullptr || out == nullptr || in != out || inSize < headerSize)
        return Fail(ERROR_INVALID_PARAMETER);
    auto* bytes = static_cast<BYTE*>(out);
    // Both headers share their leading fields; only the data reference differs.
    auto* spt = static_cast<SCSI_PASS_THROUGH*>(out);
    if (spt->Length != headerSize || spt->CdbLength == 0 || spt->CdbLength > 16)
        return Fail(ERROR_INVALID_PARAMETER);
    BYTE* data = nullptr;
    DWORD length = spt->DataTransferLength;
    if (direct) {
        data = static_cast<BYTE*>(static_cast<SCSI_PASS_THROUGH_DIRECT*>(out)->DataBuffer);
        if (length > 0 && data == nullptr)
            return Fail(ERROR_INVALID_PARAMETER);
    } else if (length > 0) {
        if (spt->DataBufferOffset < headerSize || spt->DataBufferOffset + length > outSize)
            return Fail(ERROR_INVALID_PARAMETER);
        data = bytes + spt->DataBufferOffset;
    }
    if (spt->SenseInfoLength > 0 &&
        (spt->SenseInfoOffset < headerSize ||
         spt->SenseInfoOffset + spt->SenseInfoLength > (direct ? inSize : outSize)))
        return Fail(ERROR_INVALID_PARAMETER);
    drive->commands.push_back(OpticalCommand{
        direct ? "spti-direct" : "spti", std::vector<BYTE>(spt->Cdb, spt->Cdb + spt->CdbLength),
        length, spt->TimeOutValue, spt->DataIn == SCSI_IOCTL_DATA_IN});
    if (Listed(drive->rejected, spt->Cdb[0]))
        return Fail(ERROR_INVALID_FUNCTION);
    const bool dataOut = spt->DataIn == SCSI_IOCTL_DATA_OUT;
    if (dataOut != (spt->Cdb[0] == 0x2A || spt->Cdb[0] == 0x55) && length > 0)
        return Fail(ERROR_INVALID_PARAMETER); // a direction the command does not have
    MmcResult r = ExecuteMmc(*drive, spt->Cdb, data, length, MachineTicks());
    spt->ScsiStatus = r.status;
    if (r.status != 0 && spt->SenseInfoLength > 0)
        std::memcpy(bytes + spt->SenseInfoOffset, r.sense,
                    std::min<std::size_t>(spt->SenseInfoLength, sizeof(r.sense)));
    spt->DataTransferLength = r.transferred;
    *size = direct ? headerSize : spt->DataBufferOffset + r.transferred;
    return TRUE;
}

} // namespace platform::sim
