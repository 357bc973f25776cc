#include "platform/linux/console_control.h"

#include "platform/linux/errors.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <mutex>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace platform::linux_backend {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr std::size_t kSignalCount = std::size(kSignals);

// The pipe's write end, read by the signal handler: -1 until the handlers are installed.
std::atomic<int> g_writeEnd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnControlSignal(int signal) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    const int fd = g_writeEnd.load(std::memory_order_relaxed);
    if (fd >= 0) {
        // A full pipe drops the signal: the ones still in it are told first anyway.
        const ssize_t written = write(fd, &byte, 1);
        (void)written;
    }
    errno = saved;
}

std::size_t IndexOf(int signal) {
    return static_cast<std::size_t>(std::find(kSignals, kSignals + kSignalCount, signal) -
                                    kSignals);
}

class ConsoleControl {
public:
    static ConsoleControl& Instance() {
        // Signals belong to the process, and so does the thread that hands them to the
        // routines: made on first use and kept until the process ends, never destroyed
        // under a routine that is running.
        static ConsoleControl* const control = new ConsoleControl;
        return *control;
    }

    DWORD Change(PHANDLER_ROUTINE routine, bool add) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!add) {
            if (routine == nullptr) {
                ignoreInterrupt_ = false;
                return ERROR_SUCCESS;
            }
            const auto found = std::find(routines_.rbegin(), routines_.rend(), routine);
            if (found == routines_.rend())
                return ERROR_INVALID_PARAMETER;
            routines_.erase(std::next(found).base());
            return ERROR_SUCCESS;
        }
        if (const DWORD error = InstallLocked(); error != ERROR_SUCCESS)
            return error;
        if (routine == nullptr)
            ignoreInterrupt_ = true;
        else
            routines_.push_back(routine);
        return ERROR_SUCCESS;
    }

private:
    DWORD InstallLocked() {
        if (installed_)
            return ERROR_SUCCESS;
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return Win32ErrorFromErrno(errno);
        // The handler must never wait on a full pipe.
        fcntl(fds[1], F_SETFL, fcntl(fds[1], F_GETFL) | O_NONBLOCK);
        readEnd_ = fds[0];
        try {
            std::thread([this] { Watch(); }).detach();
        } catch (const std::system_error&) {
            close(fds[0]);
            close(fds[1]);
            readEnd_ = -1;
            return ERROR_NOT_ENOUGH_MEMORY;
        }
        g_writeEnd.store(fds[1]);
        struct sigaction ours {};
        ours.sa_handler = OnControlSignal;
        sigemptyset(&ours.sa_mask);
        ours.sa_flags = SA_RESTART;
        ours_ = ours;
        for (std::size_t i = 0; i < kSignalCount; ++i)
            sigaction(kSignals[i], &ours_, &previous_[i]);
        installed_ = true;
        return ERROR_SUCCESS;
    }

    void Watch() {
        for (;;) {
            unsigned char signal = 0;
            const ssize_t got = read(readEnd_, &signal, 1);
            if (got < 0 && errno == EINTR)
                continue;
            if (got != 1)
                return;
            Deliver(signal);
        }
    }

    void Deliver(int signal) {
        std::vector<PHANDLER_ROUTINE> routines;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (signal == SIGINT && ignoreInterrupt_)
                return;
            routines = routines_;
        }
        // Called without the lock, so that a routine may add or remove routines.
        const DWORD type = signal == SIGINT   ? CTRL_C_EVENT
                           : signal == SIGHUP ? CTRL_CLOSE_EVENT
                                              : CTRL_BREAK_EVENT;
        for (auto routine = routines.rbegin(); routine != routines.rend(); ++routine)
            if ((*routine)(type))
                return;
        TakeDefaultAction(signal);
    }

    // Nothing handled the signal: it does what it did before our handler was put in (by
    // default the process ends here), and ours comes back for the next one.
    void TakeDefaultAction(int signal) {
        std::lock_guard<std::mutex> lock(mutex_);
        const std::size_t i = IndexOf(signal);
        if (i == kSignalCount)
            return;
        sigaction(signal, &previous_[i], nullptr);
        raise(signal);
        sigaction(signal, &ours_, nullptr);
    }

    std::mutex mutex_;
    std::vector<PHANDLER_ROUTINE> routines_;
    bool ignoreInterrupt_ = false;
    bool installed_ = false;
    int readEnd_ = -1;
    struct sigaction ours_ {};
    struct sigaction previous_[kSignalCount] {};
};

} // namespace

DWORD ChangeConsoleControl(PHANDLER_ROUTINE routine, bool add) {
    return ConsoleControl::Instance().Change(routine, add);
}

} // namespace platform::linux_backend
