// SetupAPI of the simulated PC: the machine's physical disks as present disk drives (setup
// class "DiskDrive") and disk interfaces, with faults a test can inject.
#pragma once

#include "platform/setupapi.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform::sim {

// One present disk drive. Without a friendly name the property query fails with
// ERROR_INVALID_DATA, as for a real device that has none.
struct SetupDisk {
    std::optional<std::string> friendlyName;
    std::string devicePath;   // what CreateFileA opens for the whole disk
    bool hasInterface = true; // false: the drive is present but exposes no disk interface
};

// A call that fails once its index is reached, with the given last error.
struct SetupFault {
    enum class Call { None, GetClassDevs, EnumDeviceInfo, GetProperty, EnumInterfaces, GetDetail };
    Call call = Call::None;
    DWORD index = 0; // device or interface index from which the call fails (0 for sets)
    int passes = 0;  // matching calls that still succeed before the first failure
    DWORD error = ERROR_GEN_FAILURE;
};

struct SetupDevices {
    std::vector<SetupDisk> disks;
    SetupFault fault;
};

// The two class identifiers the simulated devices answer to.
extern const GUID kSimDiskDriveClass;     // {4D36E967-E325-11CE-BFC1-08002BE10318}
extern const GUID kSimDiskInterfaceClass; // {53F56307-B6BF-11D0-94F2-00A0C91EFB8B}

class SimSetupApi : public SetupApi {
public:
    SimSetupApi(Kernel32& kernel32, SetupDevices devices);

    HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent,
                                  DWORD flags) override;
    BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* data) override;
    BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO set, SP_DEVINFO_DATA* data, DWORD property,
                                           DWORD* propertyRegType, BYTE* buffer, DWORD bufferSize,
                                           DWORD* requiredSize) override;
    BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, SP_DEVINFO_DATA* data,
                                     const GUID* interfaceClassGuid, DWORD index,
                                     SP_DEVICE_INTERFACE_DATA* interfaceData) override;
    BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interfaceData,
                                          SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail,
                                          DWORD detailSize, DWORD* requiredSize,
                                          SP_DEVINFO_DATA* data) override;
    BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) override;

    SetupDevices devices; // a test may change them between calls
    int OpenSets() const { return static_cast<int>(sets_.size()); }

private:
    struct Set {
        bool interfaces = false;
        std::vector<std::size_t> members; // indices into devices.disks, in enumeration order
    };

    BOOL Fail(DWORD code);
    bool Faulted(SetupFault::Call call, DWORD index);
    Set* Find(HDEVINFO set);

    Kernel32& kernel32_;
    std::uintptr_t next_ = 0x5E10;
    std::map<HDEVINFO, Set> sets_;
};

} // namespace platform::sim
