// The program's view of Aspi32; calls are added here as the program needs them.
#pragma once

#include "platform/winapi.h"

#include <string>

namespace platform {

class Aspi32 {
public:
    virtual ~Aspi32() = default;
};

} // namespace platform
