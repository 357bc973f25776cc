#pragma once

#include "platform/linux/kernel32.h"
#include "platform/shell32.h"

#include <memory>

namespace platform::linux_backend {

// Linux has no Windows shell: a drive's display name is built from its label, letter and
// device node, and the format "dialog" tells the command that would format the drive.
std::unique_ptr<Shell32> CreateLinuxShell32(LinuxKernel32& kernel32);

} // namespace platform::linux_backend
