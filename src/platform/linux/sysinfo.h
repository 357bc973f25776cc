// The computer's identity on Linux: the firmware's names from sysfs (DMI), the host name, the
// distribution's name and the kernel's release; the paper from the user's locale.
#pragma once

#include "platform/identity.h"

#include <memory>
#include <string>
#include <vector>

namespace platform::linux_backend {

struct SystemInfoSources {
    std::string sysfs = "/sys"; // class/dmi/id/{sys_vendor,product_name,product_serial}
    std::vector<std::string> osRelease = {"/etc/os-release", "/usr/lib/os-release"}; // first found
};

// The computer as the sources tell it, with this system's host name and kernel release. The
// serial number is readable by root only: empty for everyone else.
ComputerIdentity ReadComputer(const SystemInfoSources& sources);
// The PRETTY_NAME of an os-release file's text (NAME where it has none), unquoted; empty
// when it has neither.
std::string OsReleaseName(const std::string& text);
// Whether a locale's paper is US Letter (216 mm wide, glibc's LC_PAPER); an empty name is
// the user's locale as the environment sets it. False for a locale the system lacks.
bool LocaleUsesLetter(const std::string& locale);

std::unique_ptr<SystemInfo> CreateLinuxSystemInfo(SystemInfoSources sources = {});

} // namespace platform::linux_backend
