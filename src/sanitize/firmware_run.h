// What the ATA and NVMe drive classes share: sending a request, the time limits, and the
// poll loop on the machine's clock.
#pragma once

#include "sanitize/firmware_drive.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace purgelet::firmware {

// Sends a pass-through request in place; 0, or the system's error.
DWORD Send(HANDLE handle, DWORD code, std::vector<std::uint8_t>& request);

// Where the drive gives no estimate, a sanitize or an erase may take this long (a large
// disk erased block by block): 12 hours.
constexpr std::uint32_t kNoEstimateLimitSeconds = 12 * 3600;
// With an estimate: twice the estimate plus five minutes, and never under ten minutes
// (estimates are rough, and a drive's last percent can be slow).
std::uint32_t LimitFor(std::uint32_t estimateSeconds);
constexpr std::uint32_t kLongestLimitSeconds = 30 * 24 * 3600;
// A poll or a short command must not hang: the request's own timeout (a command whose work
// is longer is followed by polls; no request waits more than platform::kMaxPassThroughSeconds).
constexpr std::uint32_t kCommandTimeoutSeconds = 30;

// The machine's clock in whole seconds since start (tick count, wrapping).
std::uint32_t SecondsSince(DWORD startTicks);
DWORD Ticks();

struct TPollAnswer {
    enum class TState { InProgress, Completed, Failed } State = TState::InProgress;
    std::optional<double> Fraction;
    std::string DriveStatus;
    std::uint32_t SystemError = 0; // the poll itself failed (the drive is asked again)
};

// The drive has accepted the command: marks the result so, tells the observer, then polls
// once a second until the drive reports the end or limitSeconds have passed, telling the
// observer after each poll; fills Status and DriveStatus.
void PollUntilDone(const std::function<TPollAnswer()>& poll, std::uint32_t limitSeconds,
                   const TFirmwareObserver& observer, TFirmwareResult& result);

// What a command that returns only when its erase is done (ATA SECURITY ERASE UNIT, NVMe
// Format NVM) gave back: the system's error, or whether the drive refused it, and the drive's
// own words for either answer.
struct TBlockingAnswer {
    DWORD SystemError = 0;
    bool Refused = false;
    std::string DriveStatus;
};
// Sends such a command (the drive has the erase from the moment it is sent, and the request's
// timeout is the limit) and fills the result: an error the drive gave within the first second
// is a refusal (it did not start), a later one a failure. Tells the observer the acceptance
// before and the end after.
constexpr std::uint32_t kRefusalSeconds = 1;
void RunBlockingCommand(const std::function<TBlockingAnswer()>& send,
                        const TFirmwareObserver& observer, TFirmwareResult& result);

std::string Hex(std::uint32_t value, int digits);

std::unique_ptr<TFirmwareDrive> ProbeAta(HANDLE handle);
std::unique_ptr<TFirmwareDrive> ProbeNvme(HANDLE handle);

} // namespace purgelet::firmware
