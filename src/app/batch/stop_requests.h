// The requests to stop that reach an unattended run from outside: Ctrl+C, SIGINT and SIGTERM,
// the console window closing. They come through the system's console control, which calls on
// a thread of its own; the run looks at them on its own thread between transfers and turns
// them into the abort the wipe page's Abort button makes. One at a time in a process.
#pragma once

#include "platform/winapi.h"

#include <atomic>
#include <deque>
#include <optional>
#include <string>

namespace purgelet {

class TStopRequests {
public:
    // Registers with the system's console control; Installed tells whether it could.
    TStopRequests();
    // Lets a routine still waiting return, then unregisters.
    ~TStopRequests();
    TStopRequests(const TStopRequests&) = delete;
    TStopRequests& operator=(const TStopRequests&) = delete;

    bool Installed() const { return installed_; }

    // The oldest request not yet taken (a CTRL_* event); each is taken once, so that a second
    // request made before the run looked is not lost in the first.
    std::optional<DWORD> Take();
    // The run has ended and its report is closed: a request that must see that before it
    // returns (the console closing, after which the system ends the process) may return.
    void RunEnded();

    // What the system's console control calls: TRUE when a run took the request.
    static BOOL WINAPI Routine(DWORD ctrlType);

private:
    bool installed_ = false;
    std::atomic<bool> pending_{false};
    std::deque<DWORD> events_; // under the routine's lock
    bool ended_ = false;
};

// "interrupt" (Ctrl+C, SIGINT), "stop" (Ctrl+Break, SIGTERM), "console closed", "logoff",
// "shutdown".
std::string StopReason(DWORD ctrlType);

} // namespace purgelet
