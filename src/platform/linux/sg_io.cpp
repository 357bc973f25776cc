#include "platform/linux/sg_io.h"

#include "platform/linux/errors.h"
#include "platform/scsi.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <scsi/sg.h>
#include <sys/ioctl.h>

namespace platform::linux_backend {

namespace {

// The adapter's time-out and a target that is gone, as Windows reports them.
constexpr unsigned kDidNoConnect = 0x01;
constexpr unsigned kDidTimeOut = 0x03;
constexpr unsigned kDriverSense = 0x08; // the sense data came back: not a failure

template <class Request>
DWORD Carry(int fd, const Request& request, std::uint8_t* base, DWORD size, std::uint8_t* data,
            DWORD* returned, DWORD answerSize, const SgIoCall& call) {
    if (request.CdbLength == 0 || request.CdbLength > sizeof(request.Cdb))
        return ERROR_INVALID_PARAMETER;
    if (request.SenseInfoLength > 0 && (request.SenseInfoOffset > size ||
                                        request.SenseInfoLength > size - request.SenseInfoOffset))
        return ERROR_INVALID_PARAMETER;
    sg_io_hdr_t header{};
    header.interface_id = 'S';
    header.cmd_len = request.CdbLength;
    header.cmdp = const_cast<unsigned char*>(request.Cdb);
    header.mx_sb_len = request.SenseInfoLength;
    header.sbp = request.SenseInfoLength > 0 ? base + request.SenseInfoOffset : nullptr;
    header.dxfer_len = request.DataTransferLength;
    header.dxferp = request.DataTransferLength > 0 ? data : nullptr;
    header.dxfer_direction = request.DataTransferLength == 0        ? SG_DXFER_NONE
                             : request.DataIn == SCSI_IOCTL_DATA_IN ? SG_DXFER_FROM_DEV
                                                                    : SG_DXFER_TO_DEV;
    const std::optional<DWORD> timeout = PassThroughMilliseconds(request.TimeOutValue);
    if (!timeout)
        return ERROR_INVALID_PARAMETER;
    header.timeout = *timeout;
    if (call(fd, &header) != 0)
        return Win32ErrorFromErrno(errno);
    if (header.host_status == kDidTimeOut)
        return ERROR_SEM_TIMEOUT;
    if (header.host_status != 0 || (header.driver_status & ~kDriverSense) != 0)
        return header.host_status == kDidNoConnect ? ERROR_NOT_READY : ERROR_IO_DEVICE;
    Request answer = request; // written back whole: the buffer need not be aligned for it
    answer.ScsiStatus = header.status;
    answer.SenseInfoLength = header.sb_len_wr;
    const int resid =
        std::clamp<int>(header.resid, 0, static_cast<int>(request.DataTransferLength));
    answer.DataTransferLength = request.DataTransferLength - static_cast<ULONG>(resid);
    std::memcpy(base, &answer, sizeof answer);
    if (returned != nullptr)
        *returned = answerSize;
    return ERROR_SUCCESS;
}

} // namespace

int SystemSgIo(int fd, void* header) {
    return ioctl(fd, SG_IO, header);
}

DWORD PassThrough(int fd, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                  DWORD* returned, const SgIoCall& call) {
    if (returned != nullptr)
        *returned = 0;
    if (in == nullptr || out == nullptr || outSize < inSize)
        return ERROR_INVALID_PARAMETER;
    auto* base = static_cast<std::uint8_t*>(out);
    if (in != out)
        std::memmove(base, in, inSize);
    if (code == IOCTL_SCSI_PASS_THROUGH_DIRECT) {
        if (inSize < sizeof(SCSI_PASS_THROUGH_DIRECT))
            return ERROR_INVALID_PARAMETER;
        SCSI_PASS_THROUGH_DIRECT request;
        std::memcpy(&request, base, sizeof request);
        if (request.DataTransferLength > 0 && request.DataBuffer == nullptr)
            return ERROR_INVALID_PARAMETER;
        return Carry(fd, request, base, outSize, static_cast<std::uint8_t*>(request.DataBuffer),
                     returned, sizeof request, call);
    }
    if (code != IOCTL_SCSI_PASS_THROUGH || inSize < sizeof(SCSI_PASS_THROUGH))
        return ERROR_INVALID_PARAMETER;
    SCSI_PASS_THROUGH request;
    std::memcpy(&request, base, sizeof request);
    // The data lies in the same buffer, after the request.
    if (request.DataTransferLength > 0 &&
        (request.DataBufferOffset > outSize ||
         request.DataTransferLength > outSize - request.DataBufferOffset))
        return ERROR_INVALID_PARAMETER;
    const auto dataEnd = static_cast<DWORD>(request.DataBufferOffset + request.DataTransferLength);
    return Carry(fd, request, base, outSize, base + request.DataBufferOffset, returned,
                 std::max<DWORD>(sizeof request, dataEnd), call);
}

} // namespace platform::linux_backend
