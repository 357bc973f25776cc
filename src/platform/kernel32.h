// Files and devices, drives and volumes, errors, version, time: what the program asks of
// kernel32. Each back-end gives every call the meaning Windows gives it; the program tests
// results and last-error codes exactly as it would on Windows.
#pragma once

#include "platform/winapi.h"

#include <optional>
#include <string>
#include <vector>

namespace platform {

class Kernel32 {
public:
    virtual ~Kernel32() = default;

    // Errors.
    virtual DWORD GetLastError() = 0;
    virtual void SetLastError(DWORD code) = 0;
    // FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM) for code, without the trailing line break;
    // empty (or the system's generic text) when the system has none.
    virtual std::string SysErrorMessage(DWORD code) = 0;

    // Version, process, time.
    virtual BOOL GetVersionExA(OSVERSIONINFOA* info) = 0;
    virtual std::string GetModuleFileNameA() = 0; // full path of the running executable
    // GetEnvironmentVariableA: the variable's value, nothing when it is not set. A machine
    // without an environment (the simulated PC) answers nothing for every name.
    virtual std::optional<std::string> GetEnvironmentVariableA(const std::string& /*name*/) {
        return std::nullopt;
    }
    virtual void GetLocalTime(SYSTEMTIME* time) = 0;
    virtual void GetSystemTime(SYSTEMTIME* time) = 0; // UTC
    virtual BOOL QueryPerformanceCounter(LARGE_INTEGER* count) = 0;
    virtual DWORD GetTickCount() = 0;
    virtual void Sleep(DWORD milliseconds) = 0;
    // GetWindowsDirectoryA: the folder the running Windows lives in ("C:\WINDOWS"), so that
    // what holds the running system can be told by its drive letter. Empty where the system
    // is not Windows: that back-end leaves the devices of the running system out of its
    // drives instead.
    virtual std::string GetWindowsDirectoryA() { return {}; }

    // Console control (SetConsoleCtrlHandler): adds or removes a routine called when the
    // process is asked to stop from outside (Ctrl+C, Ctrl+Break, the console closing). A null
    // routine with add set makes Ctrl+C ignored. Routines run on a thread of their own, the
    // newest first, until one returns TRUE; when none does, the process ends. A back-end
    // without a console fails with ERROR_CALL_NOT_IMPLEMENTED.
    virtual BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE /*routine*/, BOOL /*add*/) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }

    // Events and waits (the ASPI layer signals completion through an event). CloseHandle
    // releases an event.
    virtual HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                                LPCSTR name) = 0;
    virtual BOOL SetEvent(HANDLE event) = 0;
    virtual BOOL ResetEvent(HANDLE event) = 0;
    virtual DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) = 0;

    // Files and devices.
    virtual HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share,
                               LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                               HANDLE templateFile) = 0;
    virtual BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read,
                          LPOVERLAPPED overlapped) = 0;
    virtual BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                           LPOVERLAPPED overlapped) = 0;
    virtual DWORD SetFilePointer(HANDLE file, LONG distanceLow, PLONG distanceHigh,
                                 DWORD method) = 0;
    // Overlapped transfers, on a handle opened with FILE_FLAG_OVERLAPPED: ReadFile and WriteFile
    // given an OVERLAPPED take their offset from it and answer FALSE with ERROR_IO_PENDING
    // while the transfer runs (TRUE when it ended at once); the OVERLAPPED and the buffer
    // belong to the transfer until it has ended. GetOverlappedResult gives its outcome as the
    // synchronous call would have (waiting for it when wait is set, else failing with
    // ERROR_IO_INCOMPLETE while it runs), and sets its event. CancelIo cancels the calling
    // thread's transfers on the handle: each still to end does so with ERROR_OPERATION_ABORTED,
    // and is still to be collected. A back-end without them fails with
    // ERROR_CALL_NOT_IMPLEMENTED.
    virtual BOOL GetOverlappedResult(HANDLE /*file*/, LPOVERLAPPED /*overlapped*/,
                                     LPDWORD /*transferred*/, BOOL /*wait*/) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    virtual BOOL CancelIo(HANDLE /*file*/) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    virtual BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                 DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) = 0;
    virtual BOOL CloseHandle(HANDLE handle) = 0;
    // The process's standard input, output or error (STD_*_HANDLE), written as bytes.
    virtual HANDLE GetStdHandle(DWORD which) = 0;

    // File enumeration and attributes.
    virtual HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* data) = 0;
    virtual BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data) = 0;
    virtual BOOL FindClose(HANDLE find) = 0;
    virtual DWORD GetFileAttributesA(LPCSTR name) = 0;
    // Ordinary files: bytes written reach the medium; a rename (MOVEFILE_REPLACE_EXISTING
    // replaces the target in one step); a removal.
    virtual BOOL FlushFileBuffers(HANDLE file) = 0;
    virtual BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) = 0;
    virtual BOOL DeleteFileA(LPCSTR name) = 0;
    // An exclusive lock (LOCKFILE_EXCLUSIVE_LOCK) on an ordinary file, held by the handle until
    // UnlockFileEx or its close, excluding every other handle, of this process or another.
    // LOCKFILE_FAIL_IMMEDIATELY fails with ERROR_LOCK_VIOLATION rather than waiting. Only as a
    // lock file's lock: on Linux it covers the whole file whatever the range.
    virtual BOOL LockFileEx(HANDLE /*file*/, DWORD /*flags*/, DWORD /*reserved*/,
                            DWORD /*bytesLow*/, DWORD /*bytesHigh*/, LPOVERLAPPED /*overlapped*/) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    virtual BOOL UnlockFileEx(HANDLE /*file*/, DWORD /*reserved*/, DWORD /*bytesLow*/,
                              DWORD /*bytesHigh*/, LPOVERLAPPED /*overlapped*/) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }

    // Drives and volumes.
    virtual DWORD GetLogicalDrives() = 0;
    virtual UINT GetDriveTypeA(LPCSTR root) = 0;
    virtual BOOL GetVolumeInformationA(LPCSTR root, LPSTR volumeName, DWORD volumeNameSize,
                                       LPDWORD serial, LPDWORD maxComponentLength,
                                       LPDWORD fileSystemFlags, LPSTR fileSystemName,
                                       DWORD fileSystemNameSize) = 0;
    virtual BOOL GetDiskFreeSpaceExA(LPCSTR root, PULARGE_INTEGER freeToCaller,
                                     PULARGE_INTEGER total, PULARGE_INTEGER totalFree) = 0;
    virtual DWORD QueryDosDeviceA(LPCSTR device, LPSTR target, DWORD size) = 0;

    // A device the drive letters leave out, and why, in words.
    struct DeviceNotOffered {
        std::string device;
        std::string reason;
    };
    // What the last GetLogicalDrives found and did not offer as a drive. Windows offers every
    // drive it has and answers none; a system that leaves devices out (the one it runs from,
    // read-only or empty ones, ones this user may not open) says which and why.
    virtual std::vector<DeviceNotOffered> DevicesNotOffered() { return {}; }
    // Why the physical disk with this device number must not be written as a whole, in words
    // ("holds the running system (/)"); nothing when the back-end knows no reason. Windows
    // tells none: the program finds the disks of its system and boot volumes itself.
    virtual std::optional<std::string> WhyDiskRefused(DWORD /*deviceNumber*/) {
        return std::nullopt;
    }
    // The name a user knows a physical disk by: "\\.\PhysicalDrive1" on Windows, its device
    // node (/dev/sdb) where the system has one.
    virtual std::string DiskDeviceName(DWORD deviceNumber) {
        return "\\\\.\\PhysicalDrive" + std::to_string(deviceNumber);
    }
    // The device number of the physical disk a path of the system's own names (a block device
    // node, or a link to one such as /dev/disk/by-id/...); nothing when it names no whole
    // disk. Windows names its disks \\.\PhysicalDriveN only, which the program reads itself.
    virtual std::optional<DWORD> DiskNumberOfPath(const std::string& /*path*/) {
        return std::nullopt;
    }
};

} // namespace platform
