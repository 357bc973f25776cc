#include "app/batch/stop_requests.h"

#include "platform/system.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace purgelet {

namespace {

// The routine holds no pointer of its own: it finds the run's requests under this lock, which
// the destructor takes to let go of them.
std::mutex g_lock;
std::condition_variable g_ended;
TStopRequests* g_active = nullptr;

// Windows ends the process five seconds after the console closes; the run is given most of
// that to end its drive and close its report.
constexpr auto kCloseWait = std::chrono::milliseconds(4500);

bool EndsProcess(DWORD ctrlType) {
    return ctrlType == CTRL_CLOSE_EVENT || ctrlType == CTRL_LOGOFF_EVENT ||
           ctrlType == CTRL_SHUTDOWN_EVENT;
}

} // namespace

TStopRequests::TStopRequests() {
    {
        std::lock_guard<std::mutex> lock(g_lock);
        g_active = this;
    }
    installed_ = platform::k32().SetConsoleCtrlHandler(&TStopRequests::Routine, TRUE) != FALSE;
}

TStopRequests::~TStopRequests() {
    {
        std::lock_guard<std::mutex> lock(g_lock);
        ended_ = true;
        if (g_active == this)
            g_active = nullptr;
    }
    g_ended.notify_all();
    if (installed_)
        platform::k32().SetConsoleCtrlHandler(&TStopRequests::Routine, FALSE);
}

std::optional<DWORD> TStopRequests::Take() {
    if (!pending_.load(std::memory_order_acquire))
        return std::nullopt;
    std::lock_guard<std::mutex> lock(g_lock);
    if (events_.empty())
        return std::nullopt;
    const DWORD event = events_.front();
    events_.pop_front();
    pending_.store(!events_.empty(), std::memory_order_relaxed);
    return event;
}

void TStopRequests::RunEnded() {
    {
        std::lock_guard<std::mutex> lock(g_lock);
        ended_ = true;
    }
    g_ended.notify_all();
}

BOOL WINAPI TStopRequests::Routine(DWORD ctrlType) {
    std::unique_lock<std::mutex> lock(g_lock);
    TStopRequests* requests = g_active;
    if (requests == nullptr)
        return FALSE; // no run: the system's default (the process ends)
    // A few are kept: more than that tell nothing more.
    if (requests->events_.size() < 8)
        requests->events_.push_back(ctrlType);
    requests->pending_.store(true, std::memory_order_release);
    if (EndsProcess(ctrlType))
        g_ended.wait_for(lock, kCloseWait, [] { return g_active == nullptr || g_active->ended_; });
    return TRUE;
}

std::string StopReason(DWORD ctrlType) {
    switch (ctrlType) {
    case CTRL_C_EVENT:
        return "interrupt";
    case CTRL_BREAK_EVENT:
        return "stop";
    case CTRL_CLOSE_EVENT:
        return "console closed";
    case CTRL_LOGOFF_EVENT:
        return "logoff";
    case CTRL_SHUTDOWN_EVENT:
        return "shutdown";
    default:
        return "console event " + std::to_string(ctrlType);
    }
}

} // namespace purgelet
