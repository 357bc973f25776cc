// Events of a back-end without a kernel to hold them (Linux, the simulated PC): an event is
// a flag that only the same process sets, and a wait on an unset event ends by its time
// limit. The table is shared by the threads (every CloseHandle looks here first).
#pragma once

#include "platform/winapi.h"

#include <cstdint>
#include <map>
#include <mutex>

namespace platform {

class LocalEvents {
public:
    explicit LocalEvents(std::uintptr_t firstHandle) : next_(firstHandle) {}

    HANDLE Create(bool manualReset, bool initialState);
    bool Owns(HANDLE handle) const;
    bool Set(HANDLE handle);
    bool Reset(HANDLE handle);
    // WAIT_OBJECT_0 when the event is set (an auto-reset event is reset by it), WAIT_TIMEOUT
    // when it is not (the caller lets the time pass), WAIT_FAILED for no such event.
    DWORD Wait(HANDLE handle);
    bool Close(HANDLE handle);
    std::size_t Count() const;

private:
    struct Event {
        bool manualReset = true;
        bool signalled = false;
    };
    mutable std::mutex mutex_;
    std::map<HANDLE, Event> events_;
    std::uintptr_t next_;
};

} // namespace platform
