#include "platform/handle.h"

#include "platform/system.h"

#include <utility>

namespace platform {

UniqueHandle::UniqueHandle(UniqueHandle&& other) noexcept
    : handle_(other.Release()), kind_(other.kind_) {}

UniqueHandle& UniqueHandle::operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
        const Kind kind = other.kind_;
        Reset(other.Release());
        kind_ = kind;
    }
    return *this;
}

HANDLE UniqueHandle::Release() noexcept {
    return std::exchange(handle_, INVALID_HANDLE_VALUE);
}

void UniqueHandle::Reset(HANDLE handle) noexcept {
    if (IsOpen()) {
        auto& k = k32();
        const DWORD code = k.GetLastError();
        Close();
        k.SetLastError(code);
    }
    handle_ = handle;
}

bool UniqueHandle::Close() noexcept {
    if (!IsOpen()) {
        handle_ = INVALID_HANDLE_VALUE;
        return true;
    }
    const HANDLE handle = Release();
    auto& k = k32();
    return (kind_ == Kind::Search ? k.FindClose(handle) : k.CloseHandle(handle)) != FALSE;
}

} // namespace platform
