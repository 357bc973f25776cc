#pragma once

#include "platform/kernel32.h"

#include <memory>

namespace platform::sim {

// kernel32 of the simulated PC. Ordinary files are passed to the host's kernel32; the
// clock is fixed (settable by a test) so that logs and reports are reproducible.
class SimKernel32 : public Kernel32 {
public:
    explicit SimKernel32(std::unique_ptr<Kernel32> host);

    SYSTEMTIME localTime{2026, 1, 4, 1, 12, 0, 0, 0};
    SYSTEMTIME utcTime{2026, 1, 4, 1, 11, 0, 0, 0};
    DWORD platformId = VER_PLATFORM_WIN32_NT;
    DWORD buildNumber = 2600;
    DWORD ticks = 0;

    DWORD GetLastError() override { return lastError_; }
    void SetLastError(DWORD code) override { lastError_ = code; }
    std::string SysErrorMessage(DWORD code) override;
    BOOL GetVersionExA(OSVERSIONINFOA* info) override;
    std::string GetModuleFileNameA() override { return host_->GetModuleFileNameA(); }
    void GetLocalTime(SYSTEMTIME* time) override { *time = localTime; }
    void GetSystemTime(SYSTEMTIME* time) override { *time = utcTime; }
    BOOL QueryPerformanceCounter(LARGE_INTEGER* count) override;
    DWORD GetTickCount() override { return ticks; }
    void Sleep(DWORD milliseconds) override { ticks += milliseconds; }
    HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                       DWORD disposition, DWORD flags, HANDLE templateFile) override;
    BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read,
                  LPOVERLAPPED overlapped) override;
    BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                   LPOVERLAPPED overlapped) override;
    DWORD SetFilePointer(HANDLE file, LONG distanceLow, PLONG distanceHigh, DWORD method) override;
    BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                         DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) override;
    BOOL CloseHandle(HANDLE handle) override;
    HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* data) override;
    BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data) override;
    BOOL FindClose(HANDLE find) override;
    DWORD GetFileAttributesA(LPCSTR name) override;
    DWORD GetLogicalDrives() override;
    UINT GetDriveTypeA(LPCSTR root) override;
    BOOL GetVolumeInformationA(LPCSTR root, LPSTR volumeName, DWORD volumeNameSize,
                               LPDWORD serial, LPDWORD maxComponentLength,
                               LPDWORD fileSystemFlags, LPSTR fileSystemName,
                               DWORD fileSystemNameSize) override;
    BOOL GetDiskFreeSpaceExA(LPCSTR root, PULARGE_INTEGER freeToCaller, PULARGE_INTEGER total,
                             PULARGE_INTEGER totalFree) override;
    DWORD QueryDosDeviceA(LPCSTR device, LPSTR target, DWORD size) override;

private:
    // The host's last error follows each forwarded call into ours.
    template <class R> R Forwarded(R result) {
        lastError_ = host_->GetLastError();
        return result;
    }

    std::unique_ptr<Kernel32> host_;
    DWORD lastError_ = ERROR_SUCCESS;
};

} // namespace platform::sim
