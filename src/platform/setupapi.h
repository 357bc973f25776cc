// The program's view of SetupApi; calls are added here as the program needs them.
#pragma once

#include "platform/winapi.h"

#include <string>

namespace platform {

class SetupApi {
public:
    virtual ~SetupApi() = default;
};

} // namespace platform
