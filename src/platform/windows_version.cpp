#include "platform/windows_version.h"

#include <cstddef>

namespace platform {

namespace {

std::string NtName(DWORD major, DWORD minor, DWORD build, bool server) {
    const DWORD version = major * 100 + minor;
    switch (version) {
    case 400:
        return "Windows NT 4.0";
    case 500:
        return "Windows 2000";
    case 501:
        return "Windows XP";
    case 502:
        return server ? "Windows Server 2003" : "Windows XP Professional x64";
    case 600:
        return server ? "Windows Server 2008" : "Windows Vista";
    case 601:
        return server ? "Windows Server 2008 R2" : "Windows 7";
    case 602:
        return server ? "Windows Server 2012" : "Windows 8";
    case 603:
        return server ? "Windows Server 2012 R2" : "Windows 8.1";
    case 1000:
        if (!server)
            return build >= 22000 ? "Windows 11" : "Windows 10";
        return build >= 26100   ? "Windows Server 2025"
               : build >= 20348 ? "Windows Server 2022"
               : build >= 17763 ? "Windows Server 2019"
                                : "Windows Server 2016";
    default:
        return "Windows NT " + std::to_string(major) + "." + std::to_string(minor);
    }
}

std::string NineXName(DWORD major, DWORD minor) {
    if (major == 4 && minor == 0)
        return "Windows 95";
    if (major == 4 && minor == 10)
        return "Windows 98";
    if (major == 4 && minor == 90)
        return "Windows Me";
    return "Windows " + std::to_string(major) + "." + std::to_string(minor);
}

// The service pack text, without the blanks around it and never read past its buffer.
std::string ServicePack(const OSVERSIONINFOA& version) {
    std::size_t length = 0;
    while (length < sizeof version.szCSDVersion && version.szCSDVersion[length] != '\0')
        ++length;
    std::string text(version.szCSDVersion, length);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ')
        text.pop_back();
    std::size_t first = 0;
    while (first < text.size() && static_cast<unsigned char>(text[first]) <= ' ')
        ++first;
    return text.substr(first);
}

} // namespace

std::string WindowsVersionText(const OSVERSIONINFOA& version, WindowsProductType product) {
    const bool nineX = version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
    // The 9x family keeps the version in the high word of the build number.
    const DWORD build = nineX ? version.dwBuildNumber & 0xFFFF : version.dwBuildNumber;
    std::string text = nineX ? NineXName(version.dwMajorVersion, version.dwMinorVersion)
                             : NtName(version.dwMajorVersion, version.dwMinorVersion, build,
                                      product == WindowsProductType::Server);
    text += " (" + std::to_string(version.dwMajorVersion) + "." +
            std::to_string(version.dwMinorVersion) + "." + std::to_string(build) + ")";
    if (const std::string pack = ServicePack(version); !pack.empty())
        text += " " + pack;
    return text;
}

} // namespace platform
