#include "platform/local_events.h"

namespace platform {

HANDLE LocalEvents::Create(bool manualReset, bool initialState) {
    std::lock_guard<std::mutex> lock(mutex_);
    HANDLE handle = reinterpret_cast<HANDLE>(next_);
    next_ += 4;
    events_[handle] = Event{manualReset, initialState};
    return handle;
}

bool LocalEvents::Set(HANDLE handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = events_.find(handle);
    if (it == events_.end())
        return false;
    it->second.signalled = true;
    return true;
}

bool LocalEvents::Reset(HANDLE handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = events_.find(handle);
    if (it == events_.end())
        return false;
    it->second.signalled = false;
    return true;
}

DWORD LocalEvents::Wait(HANDLE handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = events_.find(handle);
    if (it == events_.end())
        return WAIT_FAILED;
    if (!it->second.signalled)
        return WAIT_TIMEOUT;
    if (!it->second.manualReset)
        it->second.signalled = false;
    return WAIT_OBJECT_0;
}

bool LocalEvents::Close(HANDLE handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_.erase(handle) != 0;
}

bool LocalEvents::Owns(HANDLE handle) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_.count(handle) != 0;
}

std::size_t LocalEvents::Count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_.size();
}

} // namespace platform
