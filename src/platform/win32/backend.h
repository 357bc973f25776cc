// The pieces of the Windows back-end, one per system library.
#pragma once

#include "platform/system.h"

#include <memory>

namespace platform {

std::unique_ptr<Kernel32> CreateWin32Kernel32();
std::unique_ptr<Registry> CreateWin32Registry();
std::unique_ptr<SetupApi> CreateWin32SetupApi();

} // namespace platform
