// The program's view of Fmifs; calls are added here as the program needs them.
#pragma once

#include "platform/winapi.h"

#include <string>

namespace platform {

class Fmifs {
public:
    virtual ~Fmifs() = default;
};

} // namespace platform
