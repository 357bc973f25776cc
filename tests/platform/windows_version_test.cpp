// The Windows version in words, as a record names the system a wipe ran on.
#include "platform/windows_version.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using platform::WindowsProductType;
using platform::WindowsVersionText;

OSVERSIONINFOA Version(DWORD platform, DWORD major, DWORD minor, DWORD build,
                       const char* servicePack = "") {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    version.dwPlatformId = platform;
    version.dwMajorVersion = major;
    version.dwMinorVersion = minor;
    version.dwBuildNumber = build;
    std::strncpy(version.szCSDVersion, servicePack, sizeof version.szCSDVersion - 1);
    return version;
}

TEST(WindowsVersion, NamesTheSystemWithItsVersionBuildAndServicePack) {
    EXPECT_EQ(WindowsVersionText(Version(VER_PLATFORM_WIN32_NT, 5, 1, 2600, "Service Pack 3")),
              "Windows XP (5.1.2600) Service Pack 3");
    EXPECT_EQ(WindowsVersionText(Version(VER_PLATFORM_WIN32_NT, 10, 0, 22631)),
              "Windows 11 (10.0.22631)");
    EXPECT_EQ(WindowsVersionText(Version(VER_PLATFORM_WIN32_NT, 10, 0, 19045)),
              "Windows 10 (10.0.19045)");
    EXPECT_EQ(WindowsVersionText(Version(VER_PLATFORM_WIN32_NT, 10, 0, 20348),
                                 WindowsProductType::Server),
              "Windows Server 2022 (10.0.20348)");
    EXPECT_EQ(WindowsVersionText(Version(VER_PLATFORM_WIN32_NT, 6, 1, 7601, " Service Pack 1 "),
                                 WindowsProductType::Workstation),
              "Windows 7 (6.1.7601) Service Pack 1");
    EXPECT_EQ(WindowsVersionText(Version(VER_PLATFORM_WIN32_NT, 7, 0, 1)),
              "Windows NT 7.0 (7.0.1)");
}

// The 9x family keeps the version in the high word of the build number.
TEST(WindowsVersion, The9xFamilyIsNamedByItsMinorVersionAndTheBuildsLowWord) {
    EXPECT_EQ(WindowsVersionText(Version(VER_PLATFORM_WIN32_WINDOWS, 4, 10, 0x040A08AE, " A ")),
              "Windows 98 (4.10.2222) A");
    EXPECT_EQ(WindowsVersionText(Version(VER_PLATFORM_WIN32_WINDOWS, 4, 90, 0x045A0BB8)),
              "Windows Me (4.90.3000)");
    // A service pack text that fills its buffer without a NUL is read to its end only.
    OSVERSIONINFOA full = Version(VER_PLATFORM_WIN32_WINDOWS, 4, 0, 950);
    std::memset(full.szCSDVersion, 'C', sizeof full.szCSDVersion);
    EXPECT_EQ(WindowsVersionText(full), "Windows 95 (4.0.950) " + std::string(128, 'C'));
}

} // namespace
