// The wait after an immediate command (BLANK, SYNCHRONIZE CACHE, CLOSE TRACK/SESSION, and
// later the sanitize commands): the unit is polled until a poll succeeds, the caller's busy
// callback running after every failed poll, within an overall limit.
#pragma once

#include "scsi/transport.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace purgelet {

// How long an immediate command may keep the unit busy before the wait gives up with
// rcTimedOut: two hours, more than a full blank of an 80-minute CD-RW or a 4.7 GB DVD-RW at
// 1x (about 80 and 57 minutes).
inline constexpr std::uint32_t kImmediateWaitLimitMs = 2u * 60u * 60u * 1000u;
inline constexpr std::uint32_t kImmediateWaitLimitSeconds = kImmediateWaitLimitMs / 1000u;
static_assert(kImmediateWaitLimitMs % 1000u == 0);

struct TImmediateWait {
    // One poll; a result code other than 0 means the unit is still busy.
    std::function<TScsiResult()> Poll;
    // Runs after every failed poll; false ends the wait (rcWaitStopped). An exception
    // leaves the wait as it is.
    std::function<bool()> OnBusy;

    // The progress indication of the last failed poll that gave one, in 65536ths; empty
    // until a poll gives one.
    std::optional<std::uint16_t> Progress;

    // Polls until one succeeds: 0, or rcTimedOut after kImmediateWaitLimitMs on the
    // system's clock, or rcWaitStopped. Polls follow each other without a pause.
    std::uint8_t Run();
};

} // namespace purgelet
