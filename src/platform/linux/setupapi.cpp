#include "platform/linux/setupapi.h"

#include <cstddef>
#include <cstring>
#include <map>

namespace platform::linux_backend {

namespace {

class LinuxSetupApi : public SetupApi {
public:
    explicit LinuxSetupApi(LinuxKernel32& kernel32) : kernel32_(kernel32) {}

    HDEVINFO SetupDiGetClassDevsA(const GUID*, PCSTR, HWND, DWORD) override {
        // A set is what the last detection found; the disk manager detects drives first.
        auto handle = reinterpret_cast<HDEVINFO>(next_++);
        // Only the disks that may be opened as a whole are enumerated.
        auto& disks = sets_[handle];
        for (const auto& disk : kernel32_.Drives().Disks())
            if (disk.offered)
                disks.push_back(disk);
        return handle;
    }
    BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* data) override {
        const PhysicalDisk* disk = nullptr;
        if (BOOL failed = Find(set, index, disk); failed != TRUE)
            return failed;
        if (data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA))
            return Fail(ERROR_INVALID_PARAMETER);
        data->DevInst = index;
        return TRUE;
    }
    BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO set, SP_DEVINFO_DATA* data, DWORD property,
                                           DWORD* type, BYTE* buffer, DWORD size,
                                           DWORD* required) override {
        if (data == nullptr)
            return Fail(ERROR_INVALID_PARAMETER);
        const PhysicalDisk* disk = nullptr;
        if (BOOL failed = Find(set, data->DevInst, disk); failed != TRUE)
            return failed == FALSE && kernel32_.GetLastError() == ERROR_NO_MORE_ITEMS
                       ? Fail(ERROR_INVALID_PARAMETER)
                       : failed;
        if (property != SPDRP_FRIENDLYNAME)
            return Fail(ERROR_INVALID_DATA);
        const DWORD needed = static_cast<DWORD>(disk->model.size() + 1);
        if (type != nullptr)
            *type = 1; // REG_SZ
        if (required != nullptr)
            *required = needed;
        if (buffer == nullptr || size < needed)
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        std::memcpy(buffer, disk->model.c_str(), needed);
        return TRUE;
    }
    BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, SP_DEVINFO_DATA*, const GUID*, DWORD index,
                                     SP_DEVICE_INTERFACE_DATA* data) override {
        const PhysicalDisk* disk = nullptr;
        if (BOOL failed = Find(set, index, disk); failed != TRUE)
            return failed;
        if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA))
            return Fail(ERROR_INVALID_PARAMETER);
        data->Flags = 1; // SPINT_ACTIVE
        data->Reserved = index;
        return TRUE;
    }
    BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data,
                                          SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail, DWORD size,
                                          DWORD* required, SP_DEVINFO_DATA*) override {
        if (data == nullptr)
            return Fail(ERROR_INVALID_PARAMETER);
        const PhysicalDisk* disk = nullptr;
        if (BOOL failed = Find(set, static_cast<DWORD>(data->Reserved), disk); failed != TRUE)
            return failed;
        const std::string path = "\\\\.\\PhysicalDrive" + std::to_string(disk->number);
        const DWORD needed = static_cast<DWORD>(
            offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
        if (required != nullptr)
            *required = needed;
        if (detail == nullptr || size < needed)
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
            return Fail(ERROR_INVALID_USER_BUFFER_CODE);
        std::memcpy(detail->DevicePath, path.c_str(), path.size() + 1);
        return TRUE;
    }
    BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) override {
        if (sets_.erase(set) == 0)
            return Fail(ERROR_INVALID_HANDLE);
        return TRUE;
    }

private:
    static constexpr DWORD ERROR_INVALID_USER_BUFFER_CODE = 1784;

    BOOL Fail(DWORD code) {
        kernel32_.SetLastError(code);
        return FALSE;
    }
    BOOL Find(HDEVINFO set, DWORD index, const PhysicalDisk*& disk) {
        auto found = sets_.find(set);
        if (found == sets_.end())
            return Fail(ERROR_INVALID_HANDLE);
        if (index >= found->second.size())
            return Fail(ERROR_NO_MORE_ITEMS);
        disk = &found->second[index];
        return TRUE;
    }

    LinuxKernel32& kernel32_;
    std::uintptr_t next_ = 0x5E70;
    std::map<HDEVINFO, std::vector<PhysicalDisk>> sets_;
};

} // namespace

std::unique_ptr<SetupApi> CreateLinuxSetupApi(LinuxKernel32& kernel32) {
    return std::make_unique<LinuxSetupApi>(kernel32);
}

} // namespace platform::linux_backend
