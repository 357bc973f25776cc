// The program's view of Shell32; calls are added here as the program needs them.
#pragma once

#include "platform/winapi.h"

#include <string>

namespace platform {

class Shell32 {
public:
    virtual ~Shell32() = default;
};

} // namespace platform
