// Events of a back-end without a kernel to hold them (Linux, the simulated PC): the
// program runs on one thread, so an event is a flag that only the same process sets, and a
// wait on an unset event can only end by its time limit.
#pragma once

#include "platform/winapi.h"

#include <cstdint>
#include <map>

namespace platform {

class LocalEvents {
public:
    explicit LocalEvents(std::uintptr_t firstHandle) : next_(firstHandle) {}

    HANDLE Create(bool manualReset, bool initialState);
    bool Owns(HANDLE handle) const { return events_.count(handle) != 0; }
    bool Set(HANDLE handle);
    bool Reset(HANDLE handle);
    // WAIT_OBJECT_0 when the event is set (an auto-reset event is reset by it), WAIT_TIMEOUT
    // when it is not (the caller lets the time pass), WAIT_FAILED for no such event.
    DWORD Wait(HANDLE handle);
    bool Close(HANDLE handle);
    std::size_t Count() const { return events_.size(); }

private:
    struct Event {
        bool manualReset = true;
        bool signalled = false;
    };
    std::map<HANDLE, Event> events_;
    std::uintptr_t next_;
};

} // namespace platform
