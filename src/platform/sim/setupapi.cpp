#include "platform/sim/setupapi.h"

#include "platform/kernel32.h"

#include <cstddef>
#include <cstring>

namespace platform::sim {

namespace {

constexpr DWORD kErrorInvalidUserBuffer = 1784; // ERROR_INVALID_USER_BUFFER
constexpr DWORD kRegSz = 1;

bool SameGuid(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

} // namespace

const GUID kSimDiskDriveClass = {
    0x4D36E967, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
const GUID kSimDiskInterfaceClass = {
    0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

SimSetupApi::SimSetupApi(Kernel32& kernel32, SetupDevices devices)
    : devices(std::move(devices)), kernel32_(kernel32) {}

BOOL SimSetupApi::Fail(DWORD code) {
    kernel32_.SetLastError(code);
    return FALSE;
}

bool SimSetupApi::Faulted(SetupFault::Call call, DWORD index) {
    if (devices.fault.call != call || index < devices.fault.index)
        return false;
    if (devices.fault.passes > 0) {
        --devices.fault.passes;
        return false;
    }
    kernel32_.SetLastError(devices.fault.error);
    return true;
}

SimSetupApi::Set* SimSetupApi::Find(HDEVINFO set) {
    auto found = sets_.find(set);
    return found == sets_.end() ? nullptr : &found->second;
}

HDEVINFO SimSetupApi::SetupDiGetClassDevsA(const GUID* classGuid, PCSTR /*enumerator*/,
                                           HWND /*parent*/, DWORD flags) {
    if (Faulted(SetupFault::Call::GetClassDevs, 0))
        return INVALID_HANDLE_VALUE;
    if (classGuid == nullptr && (flags & DIGCF_ALLCLASSES) == 0) {
        kernel32_.SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    Set set;
    set.interfaces = (flags & DIGCF_DEVICEINTERFACE) != 0;
    const GUID& wanted = set.interfaces ? kSimDiskInterfaceClass : kSimDiskDriveClass;
    if (classGuid != nullptr && SameGuid(*classGuid, wanted)) {
        for (std::size_t i = 0; i < devices.disks.size(); ++i)
            if (!set.interfaces || devices.disks[i].hasInterface)
                set.members.push_back(i);
    }
    auto handle = reinterpret_cast<HDEVINFO>(next_);
    next_ += 0x10;
    sets_.emplace(handle, std::move(set));
    return handle;
}

BOOL SimSetupApi::SetupDiEnumDeviceInfo(HDEVINFO handle, DWORD index, SP_DEVINFO_DATA* data) {
    Set* set = Find(handle);
    if (set == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    if (data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA))
        return Fail(kErrorInvalidUserBuffer);
    if (Faulted(SetupFault::Call::EnumDeviceInfo, index))
        return FALSE;
    if (index >= set->members.size())
        return Fail(ERROR_NO_MORE_ITEMS);
    data->ClassGuid = kSimDiskDriveClass;
    data->DevInst = static_cast<DWORD>(set->members[index] + 1);
    data->Reserved = set->members[index] + 1;
    return TRUE;
}

BOOL SimSetupApi::SetupDiGetDeviceRegistryPropertyA(HDEVINFO handle, SP_DEVINFO_DATA* data,
                                                    DWORD property, DWORD* propertyRegType,
                                                    BYTE* buffer, DWORD bufferSize,
                                                    DWORD* requiredSize) {
    Set* set = Find(handle);
    if (set == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    if (data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA) || data->Reserved == 0 ||
        data->Reserved > devices.disks.size())
        return Fail(ERROR_INVALID_PARAMETER);
    if (buffer == nullptr && bufferSize != 0)
        return Fail(kErrorInvalidUserBuffer);
    const auto device = static_cast<DWORD>(data->Reserved - 1);
    if (Faulted(SetupFault::Call::GetProperty, device))
        return FALSE;
    const SetupDisk& disk = devices.disks[device];
    if (property != SPDRP_FRIENDLYNAME || !disk.friendlyName)
        return Fail(ERROR_INVALID_DATA);
    const auto needed = static_cast<DWORD>(disk.friendlyName->size() + 1);
    if (requiredSize != nullptr)
        *requiredSize = needed;
    if (propertyRegType != nullptr)
        *propertyRegType = kRegSz;
    if (bufferSize < needed)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(buffer, disk.friendlyName->c_str(), needed);
    return TRUE;
}

BOOL SimSetupApi::SetupDiEnumDeviceInterfaces(HDEVINFO handle, SP_DEVINFO_DATA* data,
                                              const GUID* interfaceClassGuid, DWORD index,
                                              SP_DEVICE_INTERFACE_DATA* interfaceData) {
    Set* set = Find(handle);
    if (set == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    if (interfaceData == nullptr || interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA))
        return Fail(kErrorInvalidUserBuffer);
    if (interfaceClassGuid == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    if (Faulted(SetupFault::Call::EnumInterfaces, index))
        return FALSE;
    // Only the disk interfaces of an interface set exist; one device's own interfaces when
    // device data is given.
    std::vector<std::size_t> members;
    if (set->interfaces && SameGuid(*interfaceClassGuid, kSimDiskInterfaceClass)) {
        for (std::size_t member : set->members)
            if (data == nullptr || data->Reserved == member + 1)
                members.push_back(member);
    }
    if (index >= members.size())
        return Fail(ERROR_NO_MORE_ITEMS);
    interfaceData->InterfaceClassGuid = kSimDiskInterfaceClass;
    interfaceData->Flags = 1; // SPINT_ACTIVE
    interfaceData->Reserved = members[index] + 1;
    return TRUE;
}

BOOL SimSetupApi::SetupDiGetDeviceInterfaceDetailA(HDEVINFO handle,
                                                   SP_DEVICE_INTERFACE_DATA* interfaceData,
                                                   SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail,
                                                   DWORD detailSize, DWORD* requiredSize,
                                                   SP_DEVINFO_DATA* data) {
    Set* set = Find(handle);
    if (set == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    if (interfaceData == nullptr || interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
        interfaceData->Reserved == 0 || interfaceData->Reserved > devices.disks.size())
        return Fail(ERROR_INVALID_PARAMETER);
    if ((detail == nullptr && detailSize != 0) ||
        (detail != nullptr && detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)))
        return Fail(kErrorInvalidUserBuffer);
    const auto device = static_cast<DWORD>(interfaceData->Reserved - 1);
    if (Faulted(SetupFault::Call::GetDetail, device))
        return FALSE;
    const std::string& path = devices.disks[device].devicePath;
    const auto needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) +
                                           path.size() + 1);
    if (requiredSize != nullptr)
        *requiredSize = needed;
    if (detail == nullptr || detailSize < needed)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    // The path runs past the declared one-character array into the caller's buffer.
    std::memcpy(reinterpret_cast<char*>(detail) +
                    offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath),
                path.c_str(), path.size() + 1);
    if (data != nullptr) {
        if (data->cbSize != sizeof(SP_DEVINFO_DATA))
            return Fail(kErrorInvalidUserBuffer);
        data->ClassGuid = kSimDiskDriveClass;
        data->DevInst = device + 1;
        data->Reserved = device + 1;
    }
    return TRUE;
}

BOOL SimSetupApi::SetupDiDestroyDeviceInfoList(HDEVINFO handle) {
    if (sets_.erase(handle) == 0)
        return Fail(ERROR_INVALID_HANDLE);
    return TRUE;
}

} // namespace platform::sim
