// The NT pass-through transport: every command travels in one DeviceIoControl request on a
// device handle (a drive letter, a physical drive). Commands without data or reading up to
// 512 bytes use the buffered request; commands sending data, or reading more, the direct one.
#pragma once

#include "platform/handle.h"
#include "platform/winapi.h"
#include "scsi/transport.h"

#include <string>

namespace purgelet {

// Opens path (\\.\E: or the like) for commands, shared for reading and writing.
platform::UniqueHandle OpenForCommands(const std::string& path, DWORD access);

class TPassThroughTransport : public TScsiTransport {
public:
    // handle stays the caller's and must be open for reading and writing.
    explicit TPassThroughTransport(HANDLE handle) : handle_(handle) {}

    // A failed DeviceIoControl is NotSent with the system's error code (the last error is
    // left as the system set it). A buffered request always asks for its whole 512-byte
    // data area, reading, even for a command without data: drives have always been sent it
    // so, and answer it.
    TScsiResult Execute(const TCdb& cdb, std::uint8_t* data, std::uint32_t timeoutSeconds) override;

    // The data area of the buffered request.
    static constexpr std::uint32_t kBufferedDataLength = 512;

private:
    HANDLE handle_;
};

} // namespace purgelet
