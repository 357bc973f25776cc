// Overlapped transfers on the simulated PC's raw devices. A transfer is queued when started
// and run, in start order, when its outcome or a later one's is waited for: what the program
// does between the start and the end (draw the next buffer, sum the last) happens before the
// bytes move, so a buffer touched before its transfer has ended shows on the disk.
#include "platform/sim/kernel32.h"

#include <algorithm>

namespace platform::sim {

namespace {

// The status of a transfer that has not ended (the system's STATUS_PENDING); an ended one
// holds its Win32 error, 0 for success.
constexpr ULONG_PTR kPending = 0x103;

void End(Kernel32& k, OVERLAPPED& overlapped, DWORD error, DWORD moved) {
    overlapped.Internal = error;
    overlapped.InternalHigh = moved;
    if (overlapped.hEvent != nullptr)
        k.SetEvent(overlapped.hEvent);
}

} // namespace

BOOL SimKernel32::StartOverlapped(HANDLE file, DeviceHandle& h, LPOVERLAPPED overlapped,
                                  void* buffer, DWORD size, LPDWORD done, bool write) {
    if (done != nullptr)
        *done = 0;
    // A device opened for overlapped transfers has no file position to use instead.
    if (overlapped == nullptr) {
        Record(h, write ? "WriteFile" : "ReadFile", size, 0, h.position, false);
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (overlapped->hEvent != nullptr)
        ResetEvent(overlapped->hEvent);
    overlapped->Internal = kPending;
    overlapped->InternalHigh = 0;
    queued_.push_back(
        QueuedTransfer{file, overlapped, buffer, size, write, std::this_thread::get_id()});
    return Fail(ERROR_IO_PENDING);
}

void SimKernel32::AbortOverlapped(HANDLE file, bool anyThread) {
    const auto me = std::this_thread::get_id();
    for (auto it = queued_.begin(); it != queued_.end();) {
        if (it->file == file && (anyThread || it->thread == me)) {
            End(*this, *it->overlapped, ERROR_OPERATION_ABORTED, 0);
            it = queued_.erase(it);
        } else {
            ++it;
        }
    }
}

BOOL SimKernel32::CancelIo(HANDLE file) {
    Lock lock(machine_->mutex);
    if (Find(file) == nullptr) {
        lock.unlock();
        return Forwarded(host_->CancelIo(file));
    }
    AbortOverlapped(file, false);
    LastError() = ERROR_SUCCESS;
    return TRUE;
}

BOOL SimKernel32::GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred,
                                      BOOL wait) {
    Lock lock(machine_->mutex);
    if (Find(file) == nullptr) {
        lock.unlock();
        return Forwarded(host_->GetOverlappedResult(file, overlapped, transferred, wait));
    }
    if (overlapped == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    auto queuedAt = [&] {
        return std::find_if(queued_.begin(), queued_.end(), [&](const QueuedTransfer& q) {
            return q.file == file && q.overlapped == overlapped;
        });
    };
    if (queuedAt() != queued_.end()) {
        if (!wait)
            return Fail(ERROR_IO_INCOMPLETE);
        // The handle's transfers up to this one run now, in the order they were started.
        for (;;) {
            auto next = std::find_if(queued_.begin(), queued_.end(),
                                     [&](const QueuedTransfer& q) { return q.file == file; });
            const QueuedTransfer q = *next;
            queued_.erase(next);
            DeviceHandle* h = Find(file);
            h->position = static_cast<std::int64_t>(
                (static_cast<std::uint64_t>(q.overlapped->OffsetHigh) << 32) |
                q.overlapped->Offset);
            DWORD moved = 0;
            const BOOL ok = Transfer(lock, *h, q.buffer, q.size, &moved, q.write);
            if (!lock.owns_lock())
                lock.lock();
            End(*this, *q.overlapped, ok ? ERROR_SUCCESS : LastError(), moved);
            if (q.overlapped == overlapped)
                break;
        }
    } else if (overlapped->Internal == kPending) {
        return Fail(ERROR_INVALID_PARAMETER); // never started on this handle
    }
    if (transferred != nullptr)
        *transferred = static_cast<DWORD>(overlapped->InternalHigh);
    if (overlapped->Internal != ERROR_SUCCESS)
        return Fail(static_cast<DWORD>(overlapped->Internal));
    LastError() = ERROR_SUCCESS;
    return TRUE;
}

} // namespace platform::sim
