// The computer's identity on Windows: the firmware's names from SMBIOS, the computer name,
// the version in words; the paper from the user's locale. GetSystemFirmwareTable (XP SP2 and
// later) and RtlGetVersion are looked up, not linked: the program still starts on the
// systems that lack them, where what they would tell stays unknown.
#include "platform/smbios.h"
#include "platform/win32/backend.h"
#include "platform/windows_version.h"

#include <windows.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace platform {

namespace {

// The provider signature 'RSMB' as GetSystemFirmwareTable takes it.
constexpr DWORD kRawSmbios = 0x52534D42;
// A table larger than this is no SMBIOS table.
constexpr UINT kLargestTable = 1024 * 1024;

template <class Function> Function Entry(const char* module, const char* name) {
    HMODULE library = GetModuleHandleA(module);
    if (library == nullptr)
        return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

std::optional<SmbiosSystem> ReadSmbios() {
    using GetTableFn = UINT(WINAPI*)(DWORD, DWORD, PVOID, DWORD);
    const auto getTable = Entry<GetTableFn>("kernel32.dll", "GetSystemFirmwareTable");
    if (getTable == nullptr)
        return std::nullopt;
    const UINT needed = getTable(kRawSmbios, 0, nullptr, 0);
    if (needed == 0 || needed > kLargestTable)
        return std::nullopt;
    std::vector<std::uint8_t> table(needed);
    const UINT got = getTable(kRawSmbios, 0, table.data(), needed);
    if (got == 0 || got > needed)
        return std::nullopt;
    return ParseSmbiosSystem(table.data(), got);
}

std::string OperatingSystem() {
    OSVERSIONINFOEXA extended{};
    extended.dwOSVersionInfoSize = sizeof extended;
    OSVERSIONINFOA version{};
    WindowsProductType product = WindowsProductType::Unknown;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    // The extended form from NT 4.0 SP6 on; the plain one everywhere.
    if (::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&extended))) {
        std::memcpy(&version, &extended, sizeof version);
        product = extended.wProductType == VER_NT_WORKSTATION ? WindowsProductType::Workstation
                                                              : WindowsProductType::Server;
    } else {
        version.dwOSVersionInfoSize = sizeof version;
        if (!::GetVersionExA(&version))
            return {};
    }
#pragma GCC diagnostic pop
    // GetVersionExA reports 6.2 on every Windows after 8 to a program that does not list
    // them in its manifest; the kernel's own answer is the true one.
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    if (const auto rtlGetVersion = Entry<RtlGetVersionFn>("ntdll.dll", "RtlGetVersion")) {
        OSVERSIONINFOW real{};
        real.dwOSVersionInfoSize = sizeof real;
        if (rtlGetVersion(&real) == 0) {
            version.dwMajorVersion = real.dwMajorVersion;
            version.dwMinorVersion = real.dwMinorVersion;
            version.dwBuildNumber = real.dwBuildNumber;
        }
    }
    return WindowsVersionText(version, product);
}

class Win32SystemInfo : public SystemInfo {
public:
    ComputerIdentity Computer() override {
        ComputerIdentity computer;
        if (const auto smbios = ReadSmbios()) {
            computer.Vendor = smbios->Manufacturer;
            computer.Product = smbios->ProductName;
            computer.Serial = smbios->SerialNumber;
        }
        char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
        DWORD length = sizeof name;
        if (::GetComputerNameA(name, &length) && length < sizeof name)
            computer.HostName.assign(name, length);
        computer.OperatingSystem = OperatingSystem();
        return computer;
    }

    bool LetterPaper() override {
        // "1" is US Letter, "9" A4, and so on (DMPAPER_*).
        char paper[8] = {};
        return ::GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_IPAPERSIZE, paper, sizeof paper) > 0 &&
               std::string(paper) == "1";
    }
};

static_assert(LOCALE_IPAPERSIZE == 0x100A && VER_NT_WORKSTATION == 1);
static_assert(sizeof(OSVERSIONINFOEXA) == 156);

} // namespace

std::unique_ptr<SystemInfo> CreateWin32SystemInfo() {
    return std::make_unique<Win32SystemInfo>();
}

} // namespace platform
