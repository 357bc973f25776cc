#include "platform/sim/kernel32.h"

#include <cstring>

namespace platform::sim {

SimKernel32::SimKernel32(std::unique_ptr<Kernel32> host) : host_(std::move(host)) {}

std::string SimKernel32::SysErrorMessage(DWORD code) { return host_->SysErrorMessage(code); }

BOOL SimKernel32::GetVersionExA(OSVERSIONINFOA* info) {
    if (info == nullptr || info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOA)) {
        lastError_ = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    info->dwMajorVersion = platformId == VER_PLATFORM_WIN32_NT ? 5 : 4;
    info->dwMinorVersion = platformId == VER_PLATFORM_WIN32_NT ? 1 : 10;
    info->dwBuildNumber = buildNumber;
    info->dwPlatformId = platformId;
    std::memset(info->szCSDVersion, 0, sizeof(info->szCSDVersion));
    return TRUE;
}

BOOL SimKernel32::QueryPerformanceCounter(LARGE_INTEGER* count) {
    count->QuadPart = static_cast<LONGLONG>(ticks) * 1000;
    return TRUE;
}

HANDLE SimKernel32::CreateFileA(LPCSTR name, DWORD access, DWORD share,
                                LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                HANDLE templateFile) {
    if (name != nullptr && std::strncmp(name, "\\\\.\\", 4) == 0) {
        lastError_ = ERROR_FILE_NOT_FOUND; // no such device on this machine
        return INVALID_HANDLE_VALUE;
    }
    return Forwarded(
        host_->CreateFileA(name, access, share, security, disposition, flags, templateFile));
}

BOOL SimKernel32::ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read,
                           LPOVERLAPPED overlapped) {
    return Forwarded(host_->ReadFile(file, buffer, toRead, read, overlapped));
}

BOOL SimKernel32::WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                            LPOVERLAPPED overlapped) {
    return Forwarded(host_->WriteFile(file, buffer, toWrite, written, overlapped));
}

DWORD SimKernel32::SetFilePointer(HANDLE file, LONG distanceLow, PLONG distanceHigh,
                                  DWORD method) {
    return Forwarded(host_->SetFilePointer(file, distanceLow, distanceHigh, method));
}

BOOL SimKernel32::DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                  DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) {
    return Forwarded(
        host_->DeviceIoControl(device, code, in, inSize, out, outSize, returned, overlapped));
}

BOOL SimKernel32::CloseHandle(HANDLE handle) { return Forwarded(host_->CloseHandle(handle)); }

HANDLE SimKernel32::FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* data) {
    return Forwarded(host_->FindFirstFileA(pattern, data));
}

BOOL SimKernel32::FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data) {
    return Forwarded(host_->FindNextFileA(find, data));
}

BOOL SimKernel32::FindClose(HANDLE find) { return Forwarded(host_->FindClose(find)); }

DWORD SimKernel32::GetFileAttributesA(LPCSTR name) {
    return Forwarded(host_->GetFileAttributesA(name));
}

DWORD SimKernel32::GetLogicalDrives() { return 0; }

UINT SimKernel32::GetDriveTypeA(LPCSTR /*root*/) { return DRIVE_NO_ROOT_DIR; }

BOOL SimKernel32::GetVolumeInformationA(LPCSTR, LPSTR, DWORD, LPDWORD, LPDWORD, LPDWORD, LPSTR,
                                        DWORD) {
    lastError_ = ERROR_INVALID_DRIVE;
    return FALSE;
}

BOOL SimKernel32::GetDiskFreeSpaceExA(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER,
                                      PULARGE_INTEGER) {
    lastError_ = ERROR_INVALID_DRIVE;
    return FALSE;
}

DWORD SimKernel32::QueryDosDeviceA(LPCSTR, LPSTR, DWORD) {
    lastError_ = ERROR_FILE_NOT_FOUND;
    return 0;
}

} // namespace platform::sim
