// The device installation calls the program makes (setupapi.dll): the present disk drives and
// their disk interfaces. Failures are reported as Windows does, FALSE (or INVALID_HANDLE_VALUE
// for a device set) with the reason in kernel32's last error.
#pragma once

#include "platform/winapi.h"

#include <memory>
#include <string>

namespace platform {

class Kernel32;

class SetupApi {
public:
    virtual ~SetupApi() = default;

    virtual HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent,
                                          DWORD flags) = 0;
    virtual BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* data) = 0;
    virtual BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO set, SP_DEVINFO_DATA* data,
                                                   DWORD property, DWORD* propertyRegType,
                                                   BYTE* buffer, DWORD bufferSize,
                                                   DWORD* requiredSize) = 0;
    virtual BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, SP_DEVINFO_DATA* data,
                                             const GUID* interfaceClassGuid, DWORD index,
                                             SP_DEVICE_INTERFACE_DATA* interfaceData) = 0;
    virtual BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO set,
                                                  SP_DEVICE_INTERFACE_DATA* interfaceData,
                                                  SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail,
                                                  DWORD detailSize, DWORD* requiredSize,
                                                  SP_DEVINFO_DATA* data) = 0;
    virtual BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) = 0;
};

// A SetupAPI that knows no devices: every set opens and is empty. For systems without a
// device installation service; errors go to the given kernel32's last error.
std::unique_ptr<SetupApi> CreateEmptySetupApi(Kernel32& kernel32);

} // namespace platform
