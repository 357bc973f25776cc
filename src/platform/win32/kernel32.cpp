// kernel32 on Windows: every call forwarded to the real function.
#include "platform/win32/backend.h"

#include <string>

namespace platform {

namespace {

class Win32Kernel32 : public Kernel32 {
public:
    DWORD GetLastError() override { return ::GetLastError(); }
    void SetLastError(DWORD code) override { ::SetLastError(code); }

    std::string SysErrorMessage(DWORD code) override {
        char* text = nullptr;
        DWORD length =
            ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
        std::string result = length != 0 && text != nullptr ? std::string(text, length) : "";
        if (text != nullptr)
            ::LocalFree(text);
        while (!result.empty() &&
               (result.back() == '\n' || result.back() == '\r' || result.back() == ' '))
            result.pop_back();
        return result;
    }

    BOOL GetVersionExA(OSVERSIONINFOA* info) override {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        return ::GetVersionExA(info);
#pragma GCC diagnostic pop
    }

    std::string GetModuleFileNameA() override {
        char path[MAX_PATH + 1] = {};
        DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
        return std::string(path, length);
    }

    std::optional<std::string> GetEnvironmentVariableA(const std::string& name) override {
        DWORD size = ::GetEnvironmentVariableA(name.c_str(), nullptr, 0);
        if (size == 0)
            return std::nullopt;
        std::string value(size, '\0');
        DWORD length = ::GetEnvironmentVariableA(name.c_str(), value.data(), size);
        if (length == 0 || length >= size)
            return std::nullopt;
        value.resize(length);
        return value;
    }

    void GetLocalTime(SYSTEMTIME* time) override {
        ::GetLocalTime(time);
    }
    void GetSystemTime(SYSTEMTIME* time) override {
        ::GetSystemTime(time);
    }
    BOOL QueryPerformanceCounter(LARGE_INTEGER* count) override {
        return ::QueryPerformanceCounter(count);
    }
    DWORD GetTickCount() override {
        return ::GetTickCount();
    }
    HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                        LPCSTR name) override {
        return ::CreateEventA(security, manualReset, initialState, name);
    }
    BOOL SetEvent(HANDLE event) override {
        return ::SetEvent(event);
    }
    BOOL ResetEvent(HANDLE event) override {
        return ::ResetEvent(event);
    }
    DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) override {
        return ::WaitForSingleObject(object, milliseconds);
    }
    void Sleep(DWORD milliseconds) override {
        ::Sleep(milliseconds);
    }
    std::string GetWindowsDirectoryA() override {
        char path[MAX_PATH + 1] = {};
        const UINT length = ::GetWindowsDirectoryA(path, MAX_PATH);
        return length > 0 && length <= MAX_PATH ? std::string(path, length) : std::string();
    }
    BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE routine, BOOL add) override {
        return ::SetConsoleCtrlHandler(routine, add);
    }

    HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                       DWORD disposition, DWORD flags, HANDLE templateFile) override {
        return ::CreateFileA(name, access, share, security, disposition, flags, templateFile);
    }
    BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read,
                  LPOVERLAPPED overlapped) override {
        return ::ReadFile(file, buffer, toRead, read, overlapped);
    }
    BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                   LPOVERLAPPED overlapped) override {
        return ::WriteFile(file, buffer, toWrite, written, overlapped);
    }
    BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred,
                             BOOL wait) override {
        return ::GetOverlappedResult(file, overlapped, transferred, wait);
    }
    BOOL CancelIo(HANDLE file) override {
        return ::CancelIo(file);
    }
    DWORD SetFilePointer(HANDLE file, LONG distanceLow, PLONG distanceHigh, DWORD method) override {
        return ::SetFilePointer(file, distanceLow, distanceHigh, method);
    }
    BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                         DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) override {
        return ::DeviceIoControl(device, code, in, inSize, out, outSize, returned, overlapped);
    }
    BOOL CloseHandle(HANDLE handle) override {
        return ::CloseHandle(handle);
    }
    HANDLE GetStdHandle(DWORD which) override {
        return ::GetStdHandle(which);
    }

    HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* data) override {
        return ::FindFirstFileA(pattern, data);
    }
    BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data) override {
        return ::FindNextFileA(find, data);
    }
    BOOL FindClose(HANDLE find) override {
        return ::FindClose(find);
    }
    DWORD GetFileAttributesA(LPCSTR name) override {
        return ::GetFileAttributesA(name);
    }
    BOOL FlushFileBuffers(HANDLE file) override {
        return ::FlushFileBuffers(file);
    }
    BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) override {
        return ::MoveFileExA(from, to, flags);
    }
    BOOL LockFileEx(HANDLE file, DWORD flags, DWORD reserved, DWORD bytesLow, DWORD bytesHigh,
                    LPOVERLAPPED overlapped) override {
        return ::LockFileEx(file, flags, reserved, bytesLow, bytesHigh, overlapped);
    }
    BOOL UnlockFileEx(HANDLE file, DWORD reserved, DWORD bytesLow, DWORD bytesHigh,
                      LPOVERLAPPED overlapped) override {
        return ::UnlockFileEx(file, reserved, bytesLow, bytesHigh, overlapped);
    }
    BOOL DeleteFileA(LPCSTR name) override {
        return ::DeleteFileA(name);
    }

    DWORD GetLogicalDrives() override {
        return ::GetLogicalDrives();
    }
    UINT GetDriveTypeA(LPCSTR root) override {
        return ::GetDriveTypeA(root);
    }
    BOOL GetVolumeInformationA(LPCSTR root, LPSTR volumeName, DWORD volumeNameSize, LPDWORD serial,
                               LPDWORD maxComponentLength, LPDWORD fileSystemFlags,
                               LPSTR fileSystemName, DWORD fileSystemNameSize) override {
        return ::GetVolumeInformationA(root, volumeName, volumeNameSize, serial, maxComponentLength,
                                       fileSystemFlags, fileSystemName, fileSystemNameSize);
    }
    BOOL GetDiskFreeSpaceExA(LPCSTR root, PULARGE_INTEGER freeToCaller, PULARGE_INTEGER total,
                             PULARGE_INTEGER totalFree) override {
        return ::GetDiskFreeSpaceExA(root, freeToCaller, total, totalFree);
    }
    DWORD QueryDosDeviceA(LPCSTR device, LPSTR target, DWORD size) override {
        return ::QueryDosDeviceA(device, target, size);
    }
};

} // namespace

std::unique_ptr<Kernel32> CreateWin32Kernel32() {
    return std::make_unique<Win32Kernel32>();
}

} // namespace platform
