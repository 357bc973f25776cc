// Addresses that travel in 32-bit registers (the buffers of the Windows 9x register
// packets). On a 32-bit build a buffer's linear address is its pointer. A 64-bit build has
// pointers that do not fit, so a buffer is entered in a table for as long as a request
// needs it and gets a 32-bit stand-in that the simulated system resolves back.
#pragma once

#include "platform/winapi.h"

#include <cstddef>

namespace platform {

class LinearAddress {
public:
    // Maps size bytes at buffer for the lifetime of the object.
    LinearAddress(const void* buffer, std::size_t size);
    ~LinearAddress();
    LinearAddress(const LinearAddress&) = delete;
    LinearAddress& operator=(const LinearAddress&) = delete;

    DWORD value() const { return value_; }

private:
    DWORD value_ = 0;
};

// The buffer behind address when size bytes from it lie in one mapped buffer, else null. A
// 32-bit build cannot tell a mapped buffer from any other: there every address but 0 is
// taken as the caller's pointer.
void* ResolveLinearAddress(DWORD address, std::size_t size);

} // namespace platform
