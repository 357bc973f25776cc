// The pieces of the Windows back-end, one per system library.
#pragma once

#include "platform/system.h"

#include <memory>

namespace platform {

std::unique_ptr<Kernel32> CreateWin32Kernel32();
std::unique_ptr<Shell32> CreateWin32Shell32();
// Null when fmifs.dll cannot be loaded.
std::unique_ptr<Fmifs> CreateWin32Fmifs();
std::unique_ptr<Registry> CreateWin32Registry();
std::unique_ptr<SetupApi> CreateWin32SetupApi();
// Null when wnaspi32.dll cannot be loaded or lacks one of its two entries.
std::unique_ptr<Aspi32> CreateWin32Aspi32();
// The computer's identity from SMBIOS, the computer name and the version.
std::unique_ptr<SystemInfo> CreateWin32SystemInfo();

} // namespace platform
