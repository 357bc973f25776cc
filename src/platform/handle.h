// A handle of the system interface that its holder owns: moved, never copied, and closed
// when the holder lets it go. The quiet close of the destructor keeps the system's last
// error as it was, because a holder that gives up a handle on a failure's way out must
// still be able to name that failure; Close() is the close whose result counts.
#pragma once

#include "platform/winapi.h"

namespace platform {

class UniqueHandle {
public:
    // How the handle goes back to the system: CloseHandle, or FindClose for a search.
    enum class Kind { Object, Search };

    UniqueHandle() noexcept = default;
    // Takes handle over; INVALID_HANDLE_VALUE and a null handle are both "none".
    explicit UniqueHandle(HANDLE handle, Kind kind = Kind::Object) noexcept
        : handle_(handle), kind_(kind) {}
    UniqueHandle(UniqueHandle&& other) noexcept;
    UniqueHandle& operator=(UniqueHandle&& other) noexcept;
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { Reset(); }

    HANDLE Get() const noexcept { return IsOpen() ? handle_ : INVALID_HANDLE_VALUE; }
    bool IsOpen() const noexcept { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    explicit operator bool() const noexcept { return IsOpen(); }

    // Gives the handle up without closing it.
    HANDLE Release() noexcept;
    // Closes the handle held, if any, quietly (the last error stays as it was), and takes
    // handle over.
    void Reset(HANDLE handle = INVALID_HANDLE_VALUE) noexcept;
    // Closes the handle held and answers the system's result (true when there was none). The
    // handle is given up either way: after a failed close it is no longer the holder's to use.
    bool Close() noexcept;

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    Kind kind_ = Kind::Object;
};

} // namespace platform
