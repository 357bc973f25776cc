#include "scsi/immediate_wait.h"

#include "platform/system.h"

namespace purgelet {

std::uint8_t TImmediateWait::Run() {
    auto& kernel = platform::k32();
    const std::uint32_t start = kernel.GetTickCount();
    Progress.reset();
    for (;;) {
        const TScsiResult poll = Poll();
        if (poll.Code == rcSuccess)
            return rcSuccess;
        if (const TSense sense = poll.Sense(); sense.Progress)
            Progress = sense.Progress;
        if (OnBusy && !OnBusy())
            return rcWaitStopped;
        // A unit that never again answers would otherwise hold the program for ever.
        if (kernel.GetTickCount() - start >= kImmediateWaitLimitMs)
            return rcTimedOut;
    }
}

} // namespace purgelet
