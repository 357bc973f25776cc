// errno as the Win32 error codes the program tests for, with Windows' message texts.
#pragma once

#include "platform/winapi.h"

#include <string>

namespace platform::linux_backend {

DWORD Win32ErrorFromErrno(int error);
std::string Win32ErrorText(DWORD code);

} // namespace platform::linux_backend
