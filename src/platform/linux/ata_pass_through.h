// ATA pass-through on Linux: an IOCTL_ATA_PASS_THROUGH request (a task file and its data, as
// the sanitize code builds it for Windows) carried as the SCSI/ATA translation's ATA
// PASS-THROUGH (16) command by the SG_IO ioctl of the disk's node. The registers the drive
// returns come back in the request's task files, as Windows gives them.
#pragma once

#include "platform/linux/sg_io.h"
#include "platform/winapi.h"

#include <cstdint>

namespace platform::linux_backend {

// The 16-byte command block carrying the request's task file: data-in, data-out or non-data
// PIO (DMA when the request asks for it), the transfer length counted in 512-byte blocks in
// the count register, and the registers asked back whatever the outcome.
void AtaPassThrough16(const void* request, std::uint8_t cdb[16]);

// Carries the request in `in` (an ATA_PASS_THROUGH_EX with its data at DataBufferOffset) to the
// device; the answer goes to `out`, which may be the same buffer. Returns a Win32 error code:
// ERROR_SUCCESS when the drive answered (its status register may still say the command
// failed), ERROR_INVALID_FUNCTION when the device does not translate ATA commands (no ATA
// drive behind it), else why the request did not reach it.
DWORD AtaPassThrough(int fd, const void* in, DWORD inSize, void* out, DWORD outSize,
                     DWORD* returned, const SgIoCall& call = SystemSgIo);

} // namespace platform::linux_backend
