#include "platform/linux/async_io.h"

#include "platform/linux/errors.h"

#include <liburing.h>

#include <atomic>
#include <cerrno>
#include <unistd.h>

namespace platform::linux_backend {

namespace {

// The status of a transfer that has not ended (the system's STATUS_PENDING); an ended one
// holds its Win32 error, 0 for success.
constexpr ULONG_PTR kPending = 0x103;
// Transfers a ring holds at once: the pass engine keeps at most 16 in flight.
constexpr unsigned kRingEntries = 32;

std::atomic<bool> refuseRings{false};

std::int64_t OffsetOf(const OVERLAPPED& overlapped) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(overlapped.OffsetHigh) << 32) |
                                     overlapped.Offset);
}

void End(OVERLAPPED& overlapped, DWORD error, DWORD moved) {
    overlapped.InternalHigh = moved;
    overlapped.Internal = error;
}

} // namespace

struct AsyncIo::Ring {
    io_uring ring{};
};

void AsyncIo::RefuseRings(bool refuse) {
    refuseRings = refuse;
}

AsyncIo::AsyncIo(int fd) : fd_(fd) {
    if (refuseRings)
        return;
    auto ring = std::make_unique<Ring>();
    if (io_uring_queue_init(kRingEntries, &ring->ring, 0) == 0)
        ring_ = std::move(ring);
}

AsyncIo::~AsyncIo() {
    if (!ring_)
        return;
    Cancel();
    io_uring_queue_exit(&ring_->ring);
}

DWORD AsyncIo::Start(OVERLAPPED* overlapped, void* buffer, DWORD size, bool write) {
    const std::int64_t offset = OffsetOf(*overlapped);
    End(*overlapped, static_cast<DWORD>(kPending), 0);
    if (!ring_) {
        // Run to the end now, in pieces as the kernel takes them.
        DWORD done = 0;
        auto* bytes = static_cast<char*>(buffer);
        while (done < size) {
            const ssize_t n = write ? ::pwrite(fd_, bytes + done, size - done, offset + done)
                                    : ::pread(fd_, bytes + done, size - done, offset + done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                End(*overlapped, Win32ErrorFromErrno(errno), done);
                return 0;
            }
            if (n == 0) {
                if (write) {
                    End(*overlapped, Win32ErrorFromErrno(ENOSPC), done);
                    return 0;
                }
                if (done == 0) { // nothing past the end, as Windows tells it
                    End(*overlapped, ERROR_HANDLE_EOF, 0);
                    return 0;
                }
                break; // the end of the file: a short read
            }
            done += static_cast<DWORD>(n);
        }
        End(*overlapped, ERROR_SUCCESS, done);
        return 0;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    io_uring_sqe* sqe = io_uring_get_sqe(&ring_->ring);
    if (sqe == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY; // more in flight than the ring holds
    if (write)
        io_uring_prep_write(sqe, fd_, buffer, size, static_cast<__u64>(offset));
    else
        io_uring_prep_read(sqe, fd_, buffer, size, static_cast<__u64>(offset));
    io_uring_sqe_set_data(sqe, overlapped);
    if (!write && size > 0)
        reads_.insert(overlapped);
    const int submitted = io_uring_submit(&ring_->ring);
    if (submitted < 0) {
        reads_.erase(overlapped);
        End(*overlapped, ERROR_SUCCESS, 0);
        return Win32ErrorFromErrno(-submitted);
    }
    ++running_;
    return 0;
}

bool AsyncIo::Reap() {
    io_uring_cqe* cqe = nullptr;
    int got = 0;
    do
        got = io_uring_wait_cqe(&ring_->ring, &cqe);
    while (got == -EINTR);
    if (got < 0 || cqe == nullptr)
        return false;
    auto* overlapped = static_cast<OVERLAPPED*>(io_uring_cqe_get_data(cqe));
    const int res = cqe->res;
    io_uring_cqe_seen(&ring_->ring, cqe);
    if (overlapped == nullptr)
        return true; // a cancel request's own completion
    --running_;
    if (res != 0)
        reads_.erase(overlapped);
    if (res < 0)
        End(*overlapped,
            res == -ECANCELED ? static_cast<DWORD>(ERROR_OPERATION_ABORTED)
                              : Win32ErrorFromErrno(-res),
            0);
    else if (res == 0 && reads_.erase(overlapped) > 0)
        End(*overlapped, ERROR_HANDLE_EOF, 0); // nothing past the end, as Windows tells it
    else
        End(*overlapped, ERROR_SUCCESS, static_cast<DWORD>(res));
    return true;
}

DWORD AsyncIo::Result(OVERLAPPED* overlapped, bool wait, DWORD* moved) {
    if (ring_) {
        std::lock_guard<std::mutex> lock(mutex_);
        while (overlapped->Internal == kPending && running_ > 0) {
            if (!wait) {
                io_uring_cqe* cqe = nullptr;
                if (io_uring_peek_cqe(&ring_->ring, &cqe) != 0)
                    return ERROR_IO_INCOMPLETE;
            }
            if (!Reap())
                break;
        }
    }
    if (overlapped->Internal == kPending)
        return ERROR_INVALID_PARAMETER; // never started here
    *moved = static_cast<DWORD>(overlapped->InternalHigh);
    return static_cast<DWORD>(overlapped->Internal);
}

void AsyncIo::Cancel() {
    if (!ring_)
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_ == 0)
        return;
    // Block transfers that reached the device usually finish anyway; those still queued in
    // the kernel end cancelled.
    if (io_uring_sqe* sqe = io_uring_get_sqe(&ring_->ring)) {
        io_uring_prep_cancel(sqe, nullptr, IORING_ASYNC_CANCEL_ANY);
        io_uring_sqe_set_data(sqe, nullptr);
        io_uring_submit(&ring_->ring);
    }
    while (running_ > 0 && Reap()) {
    }
}

} // namespace platform::linux_backend
