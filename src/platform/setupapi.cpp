#include "platform/setupapi.h"

#include "platform/kernel32.h"

#include <set>

namespace platform {

namespace {

// Every set it opens is empty; handles are checked so that a caller's misuse is still told
// apart from "no more items".
class EmptySetupApi : public SetupApi {
public:
    explicit EmptySetupApi(Kernel32& kernel32) : kernel32_(kernel32) {}

    HDEVINFO SetupDiGetClassDevsA(const GUID*, PCSTR, HWND, DWORD) override {
        auto handle = reinterpret_cast<HDEVINFO>(next_++);
        open_.insert(handle);
        return handle;
    }
    BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD, SP_DEVINFO_DATA*) override {
        return Fail(open_.count(set) ? ERROR_NO_MORE_ITEMS : ERROR_INVALID_HANDLE);
    }
    BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO set, SP_DEVINFO_DATA*, DWORD, DWORD*, BYTE*,
                                           DWORD, DWORD*) override {
        return Fail(open_.count(set) ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    }
    BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, SP_DEVINFO_DATA*, const GUID*, DWORD,
                                     SP_DEVICE_INTERFACE_DATA*) override {
        return Fail(open_.count(set) ? ERROR_NO_MORE_ITEMS : ERROR_INVALID_HANDLE);
    }
    BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, SP_DEVICE_INTERFACE_DATA*,
                                          SP_DEVICE_INTERFACE_DETAIL_DATA_A*, DWORD, DWORD*,
                                          SP_DEVINFO_DATA*) override {
        return Fail(open_.count(set) ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    }
    BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) override {
        if (open_.erase(set) == 0)
            return Fail(ERROR_INVALID_HANDLE);
        return TRUE;
    }

private:
    BOOL Fail(DWORD code) {
        kernel32_.SetLastError(code);
        return FALSE;
    }

    Kernel32& kernel32_;
    std::uintptr_t next_ = 0x5E70;
    std::set<HDEVINFO> open_;
};

} // namespace

std::unique_ptr<SetupApi> CreateEmptySetupApi(Kernel32& kernel32) {
    return std::make_unique<EmptySetupApi>(kernel32);
}

} // namespace platform
