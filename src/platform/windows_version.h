// The name of a Windows version as a record of the computer gives it: what GetVersionExA (or
// the true version the system keeps) reports, in words.
#pragma once

#include "platform/winapi.h"

#include <string>

namespace platform {

// The system's product type as OSVERSIONINFOEX tells it; unknown reads as a workstation.
enum class WindowsProductType { Unknown, Workstation, Server };

// "Windows XP (5.1.2600) Service Pack 3", "Windows 98 (4.10.2222) A", "Windows 11
// (10.0.22631)": the name, the version with the build (its low word on the 9x family) and
// the service pack text; an unknown version is "Windows NT 7.0 (7.0.1)".
std::string WindowsVersionText(const OSVERSIONINFOA& version,
                               WindowsProductType product = WindowsProductType::Unknown);

} // namespace platform
