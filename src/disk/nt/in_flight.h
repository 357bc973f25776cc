// Transfers in flight on a device handle opened with FILE_FLAG_OVERLAPPED: one OVERLAPPED
// and one event per slot, so that each transfer is waited for on its own (a wait on the
// handle itself cannot tell which of several transfers ended).
#pragma once

#include "disk/disk.h"
#include "platform/handle.h"
#include "platform/winapi.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace purgelet {

class TInFlight {
public:
    // The owner cancels what runs (Cancel) before its handle is closed or this is freed.
    TInFlight() = default;
    TInFlight(const TInFlight&) = delete;
    TInFlight& operator=(const TInFlight&) = delete;

    // Starts transfer in slot on handle; a start the system refuses is kept for Finish.
    void Start(HANDLE handle, int slot, const TRandomAccessDisk::TTransfer& transfer,
               std::int32_t blockSize);
    // The transfer started in slot.
    const TRandomAccessDisk::TTransfer& Of(int slot) const;
    // Waits for slot's transfer; false (the last error telling why) when it failed or moved
    // fewer bytes than asked, as a synchronous transfer fails.
    bool Finish(HANDLE handle, int slot);
    // Whether slot's transfer runs still: started, not yet ended, not yet finished. Leaves the
    // last error as it was.
    bool Pending(HANDLE handle, int slot);
    // Cancels every transfer running on handle and waits until none runs.
    void Cancel(HANDLE handle) noexcept;

    // One transfer on an overlapped handle, waited for: what ReadFile or WriteFile does on a
    // handle opened without the flag. False with the last error set on failure or a short one.
    static bool Transfer(HANDLE handle, void* buffer, DWORD bytes, std::int64_t offset, bool write);
    // A device control request on a handle that may be overlapped, waited for: with no
    // OVERLAPPED, a request the driver completes later would write its status into a frame
    // that is gone. On a handle opened without the flag the OVERLAPPED is ignored.
    static bool Control(HANDLE handle, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                        DWORD* returned);

private:
    struct Slot {
        OVERLAPPED overlapped{};
        platform::UniqueHandle event;
        TRandomAccessDisk::TTransfer transfer;
        DWORD bytes = 0;
        bool running = false; // started and not yet waited for
        DWORD refused = 0;    // the error of a start the system refused, else 0
    };
    Slot& At(int slot);
    std::vector<std::unique_ptr<Slot>> slots_; // stable addresses: the system holds them
};

} // namespace purgelet
