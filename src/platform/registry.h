// The program's view of Registry; calls are added here as the program needs them.
#pragma once

#include "platform/winapi.h"

#include <string>

namespace platform {

class Registry {
public:
    virtual ~Registry() = default;
};

} // namespace platform
