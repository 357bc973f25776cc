// SCSI pass-through on Linux: an IOCTL_SCSI_PASS_THROUGH or _DIRECT request, as the optical
// transport builds it for Windows, carried by the SG_IO ioctl of the drive's /dev/srN.
#pragma once

#include "platform/winapi.h"

#include <functional>

namespace platform::linux_backend {

// The SG_IO call: ioctl(fd, SG_IO, header); 0, or -1 with errno set. Tests give their own.
using SgIoCall = std::function<int(int fd, void* header)>;
int SystemSgIo(int fd, void* header);

// Carries the request in `in` to the device; the answer (SCSI status, sense, data length, the
// data of a buffered request) goes to `out`, which may be the same buffer. Returns a Win32
// error code: ERROR_SUCCESS when the command reached the device and came back (with any SCSI
// status, CHECK CONDITION included), else why it did not (a request that does not fit its
// buffers, the adapter's time-out, a device that is gone).
DWORD PassThrough(int fd, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                  DWORD* returned, const SgIoCall& call = SystemSgIo);

} // namespace platform::linux_backend
