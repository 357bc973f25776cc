#include "disk/nt/setupdi.h"

#include "platform/system.h"
#include "report/exceptions.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>

namespace purgelet {

const GUID kDiskDriveSetupClass = {
    0x4D36E967, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
const GUID kDiskDeviceInterfaceClass = {
    0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

namespace {

const std::string kPastTheEnd = "*";

// Raises XSetupdi with prefix + the system's text for the current last error. The code is
// put back before the exception is built, so that the exception records the failing call's
// error rather than whatever the text lookup left behind.
[[noreturn]] void RaiseSetupdi(const std::string& prefix) {
    auto& kernel32 = platform::k32();
    const DWORD code = kernel32.GetLastError();
    std::string text = prefix + kernel32.SysErrorMessage(code);
    kernel32.SetLastError(code);
    throw XSetupdi(text);
}

// Releases a device set however the enumeration ends.
class DeviceSet {
public:
    explicit DeviceSet(HDEVINFO set) : set_(set) {}
    ~DeviceSet() {
        if (valid())
            platform::sys().setupapi->SetupDiDestroyDeviceInfoList(set_);
    }
    DeviceSet(const DeviceSet&) = delete;
    DeviceSet& operator=(const DeviceSet&) = delete;

    bool valid() const { return set_ != INVALID_HANDLE_VALUE; }
    HDEVINFO get() const { return set_; }

private:
    HDEVINFO set_;
};

// The text of a buffer the system filled, up to its first NUL and never past its end.
std::string TextOf(const char* text, std::size_t size) {
    return std::string(text, std::find(text, text + size, '\0'));
}

} // namespace

void EnumerateDisks(std::vector<std::string>& Paths, std::vector<std::string>& Names) {
    auto& setupapi = *platform::sys().setupapi;
    DeviceSet drives(
        setupapi.SetupDiGetClassDevsA(&kDiskDriveSetupClass, nullptr, nullptr, DIGCF_PRESENT));
    if (!drives.valid())
        return;
    DeviceSet interfaces(setupapi.SetupDiGetClassDevsA(&kDiskDeviceInterfaceClass, nullptr, nullptr,
                                                       DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!interfaces.valid())
        return;
    // Both names and paths are taken before either list grows, so that the two lists
    // always stay the same length.
    for (DWORD index = 0;; ++index) {
        std::string name = GetFriendlyName(drives.get(), index);
        if (name == kPastTheEnd)
            break;
        std::string path = GetDevicePath(interfaces.get(), index);
        if (path == kPastTheEnd)
            break;
        Names.push_back(std::move(name));
        Paths.push_back(std::move(path));
    }
}

std::string GetFriendlyName(HDEVINFO DeviceSet, DWORD Index) {
    auto& setupapi = *platform::sys().setupapi;
    auto& kernel32 = platform::k32();
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(SP_DEVINFO_DATA);
    if (!setupapi.SetupDiEnumDeviceInfo(DeviceSet, Index, &device)) {
        if (kernel32.GetLastError() == ERROR_NO_MORE_ITEMS)
            return kPastTheEnd;
        RaiseSetupdi("SetupDiEnumDeviceInfo failed with error: ");
    }

    DWORD type = 0;
    DWORD required = 0;
    if (setupapi.SetupDiGetDeviceRegistryPropertyA(DeviceSet, &device, SPDRP_FRIENDLYNAME, &type,
                                                   nullptr, 0, &required))
        return ""; // an empty property needs no buffer
    switch (kernel32.GetLastError()) {
    case ERROR_INSUFFICIENT_BUFFER:
        break;
    case ERROR_INVALID_DATA: // the device has no friendly name
        return "";
    default:
        RaiseSetupdi("");
    }

    std::vector<BYTE> buffer(required, 0);
    if (!setupapi.SetupDiGetDeviceRegistryPropertyA(DeviceSet, &device, SPDRP_FRIENDLYNAME, &type,
                                                    buffer.data(), required, &required)) {
        if (kernel32.GetLastError() == ERROR_INVALID_DATA)
            return "";
        RaiseSetupdi("");
    }
    return TextOf(reinterpret_cast<const char*>(buffer.data()), buffer.size());
}

std::string GetDevicePath(HDEVINFO DeviceSet, DWORD Index) {
    auto& setupapi = *platform::sys().setupapi;
    auto& kernel32 = platform::k32();
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
    if (!setupapi.SetupDiEnumDeviceInterfaces(DeviceSet, nullptr, &kDiskDeviceInterfaceClass, Index,
                                              &interfaceData)) {
        if (kernel32.GetLastError() == ERROR_NO_MORE_ITEMS)
            return kPastTheEnd;
        RaiseSetupdi("SetupDiEnumDeviceInterfaces failed with error: ");
    }

    DWORD required = 0;
    if (!setupapi.SetupDiGetDeviceInterfaceDetailA(DeviceSet, &interfaceData, nullptr, 0, &required,
                                                   nullptr) &&
        kernel32.GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        RaiseSetupdi("");

    // Never smaller than the fixed part whose size field is written below, DWORD-aligned as
    // the structure needs, and one zero byte past what the system may fill, so that the
    // path always ends inside the buffer.
    constexpr std::size_t kFixedPart = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    const std::size_t bytes = std::max<std::size_t>(required, kFixedPart);
    std::vector<DWORD> storage;
    try {
        storage.assign(bytes / sizeof(DWORD) + 2, 0);
    } catch (const std::bad_alloc&) {
        throw XSetupdi("Unable to allocate memory to get the interface detail data.");
    }
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
    detail->cbSize = kFixedPart;
    if (!setupapi.SetupDiGetDeviceInterfaceDetailA(DeviceSet, &interfaceData, detail,
                                                   static_cast<DWORD>(bytes), &required, nullptr))
        RaiseSetupdi("Error in SetupDiGetDeviceInterfaceDetail failed with error: ");
    const char* path = reinterpret_cast<const char*>(storage.data()) +
                       offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    return TextOf(path, bytes - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath));
}

} // namespace purgelet
