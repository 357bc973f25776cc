// Overlapped transfers of a Linux file or device: io_uring (liburing) where the kernel gives
// a ring; where it refuses one (an old kernel, a seccomp filter, a container), each transfer
// runs to its end when started, which Windows also allows an overlapped transfer to do.
#pragma once

#include "platform/winapi.h"

#include <memory>
#include <mutex>
#include <set>

namespace platform::linux_backend {

class AsyncIo {
public:
    // For the descriptor fd, which outlives this.
    explicit AsyncIo(int fd);
    // Waits for every transfer still running.
    ~AsyncIo();
    AsyncIo(const AsyncIo&) = delete;
    AsyncIo& operator=(const AsyncIo&) = delete;

    // Starts size bytes at the OVERLAPPED's offset: 0 when it runs or has ended, else the
    // Win32 error of the refusal.
    DWORD Start(OVERLAPPED* overlapped, void* buffer, DWORD size, bool write);
    // The outcome of a transfer started here: 0 and the bytes moved, ERROR_IO_INCOMPLETE while
    // it runs and wait is not set, else its Win32 error.
    DWORD Result(OVERLAPPED* overlapped, bool wait, DWORD* moved);
    // Asks the kernel to cancel what runs, then waits until nothing does.
    void Cancel();
    // Whether transfers go through a ring (else they end when started).
    bool UsesRing() const { return ring_ != nullptr; }

    // Tests: every AsyncIo made while set does without a ring, as on a kernel that refuses one.
    static void RefuseRings(bool refuse);

private:
    struct Ring;
    // Takes one completion off the ring (waiting for it) and records it in its OVERLAPPED;
    // false when the ring fails.
    bool Reap();
    int fd_;
    std::unique_ptr<Ring> ring_;
    std::mutex mutex_;
    int running_ = 0;                   // transfers on the ring not yet reaped
    std::set<const OVERLAPPED*> reads_; // reads on the ring, told apart at their end
};

} // namespace platform::linux_backend
