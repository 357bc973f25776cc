#pragma once

#include "platform/shell32.h"

#include <memory>

namespace platform::linux_backend {

// Linux has no Windows shell: no drive has a shell display name (the program then builds
// its own description), and there is no interactive format dialog to offer.
std::unique_ptr<Shell32> CreateLinuxShell32();

} // namespace platform::linux_backend
