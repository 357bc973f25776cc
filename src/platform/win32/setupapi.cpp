// setupapi.dll on Windows: every call forwarded to the real function, which sets the
// thread's last error itself.
#include "platform/win32/backend.h"

namespace platform {

namespace {

class Win32SetupApi : public SetupApi {
public:
    HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent,
                                  DWORD flags) override {
        return ::SetupDiGetClassDevsA(classGuid, enumerator, parent, flags);
    }
    BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* data) override {
        return ::SetupDiEnumDeviceInfo(set, index, data);
    }
    BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO set, SP_DEVINFO_DATA* data, DWORD property,
                                           DWORD* propertyRegType, BYTE* buffer, DWORD bufferSize,
                                           DWORD* requiredSize) override {
        return ::SetupDiGetDeviceRegistryPropertyA(set, data, property, propertyRegType, buffer,
                                                   bufferSize, requiredSize);
    }
    BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, SP_DEVINFO_DATA* data,
                                     const GUID* interfaceClassGuid, DWORD index,
                                     SP_DEVICE_INTERFACE_DATA* interfaceData) override {
        return ::SetupDiEnumDeviceInterfaces(set, data, interfaceClassGuid, index, interfaceData);
    }
    BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interfaceData,
                                          SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail,
                                          DWORD detailSize, DWORD* requiredSize,
                                          SP_DEVINFO_DATA* data) override {
        return ::SetupDiGetDeviceInterfaceDetailA(set, interfaceData, detail, detailSize,
                                                  requiredSize, data);
    }
    BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) override {
        return ::SetupDiDestroyDeviceInfoList(set);
    }
};

} // namespace

std::unique_ptr<SetupApi> CreateWin32SetupApi() {
    return std::make_unique<Win32SetupApi>();
}

} // namespace platform
