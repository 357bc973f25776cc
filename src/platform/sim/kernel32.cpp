// kernel32 of the simulated PC: version, clock, drives and volumes; ordinary files go to the
// host. Raw device handles are in devices.cpp.
#include "platform/sim/kernel32.h"

#include "platform/drive_letter.h"

#include <cstring>

namespace platform::sim {

SimKernel32::SimKernel32(std::unique_ptr<Kernel32> host, std::shared_ptr<Machine> machine)
    : host_(std::move(host)), machine_(std::move(machine)) {
    platformId = machine_->platformId;
    buildNumber = machine_->buildNumber;
    realClock = machine_->realClock;
    hostTicks_ = host_->GetTickCount();
}

std::string SimKernel32::SysErrorMessage(DWORD code) {
    return host_->SysErrorMessage(code);
}

BOOL SimKernel32::GetVersionExA(OSVERSIONINFOA* info) {
    if (info == nullptr || info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOA))
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    info->dwMajorVersion = platformId == VER_PLATFORM_WIN32_NT ? 5 : 4;
    info->dwMinorVersion = platformId == VER_PLATFORM_WIN32_NT ? 1 : 10;
    // NT 6.0 (Vista) from build 6000, 6.1 from 7600, 6.2 from 9200, 6.3 from 9600 and 10.0
    // from 10240: what a program manifested for Windows 10 is told.
    if (platformId == VER_PLATFORM_WIN32_NT && buildNumber >= 6000) {
        info->dwMajorVersion = buildNumber >= 10240 ? 10 : 6;
        info->dwMinorVersion = buildNumber >= 10240  ? 0
                               : buildNumber >= 9600 ? 3
                               : buildNumber >= 9200 ? 2
                               : buildNumber >= 7600 ? 1
                                                     : 0;
    }
    info->dwBuildNumber = buildNumber;
    if (platformId != VER_PLATFORM_WIN32_NT) {
        // Windows 95 (up to build 1998), 98 (up to 3000) and ME; the 9x family reports the
        // version in the high word of the build number, the build itself in the low word.
        const DWORD build = buildNumber & 0xFFFF;
        info->dwMinorVersion = build < 1998 ? 0 : build < 3000 ? 10 : 90;
        info->dwBuildNumber = (4u << 24) | (info->dwMinorVersion << 16) | build;
    }
    info->dwPlatformId = platformId;
    std::memset(info->szCSDVersion, 0, sizeof(info->szCSDVersion));
    return TRUE;
}

// ---- Clock.

DWORD SimKernel32::MachineTicks() {
    std::lock_guard<std::mutex> lock(clockMutex_);
    if (realClock) {
        // Added up in steps, so what a test added to ticks stays added.
        const DWORD now = host_->GetTickCount();
        ticks += now - hostTicks_;
        hostTicks_ = now;
    }
    return ticks;
}

void SimKernel32::GetLocalTime(SYSTEMTIME* time) {
    if (realClock)
        host_->GetLocalTime(time);
    else
        *time = localTime;
}

void SimKernel32::GetSystemTime(SYSTEMTIME* time) {
    if (realClock)
        host_->GetSystemTime(time);
    else
        *time = utcTime;
}

BOOL SimKernel32::QueryPerformanceCounter(LARGE_INTEGER* count) {
    if (realClock)
        return host_->QueryPerformanceCounter(count);
    std::lock_guard<std::mutex> lock(clockMutex_);
    count->QuadPart = static_cast<LONGLONG>(ticks) * 1000;
    return TRUE;
}

void SimKernel32::Sleep(DWORD milliseconds) {
    Pass(milliseconds);
}

void SimKernel32::Pass(DWORD milliseconds) {
    if (!realClock) {
        std::lock_guard<std::mutex> lock(clockMutex_);
        ticks += milliseconds;
        return;
    }
    host_->Sleep(milliseconds);
    MachineTicks();
}

HANDLE SimKernel32::FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* data) {
    return Forwarded(host_->FindFirstFileA(pattern, data));
}

BOOL SimKernel32::FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data) {
    return Forwarded(host_->FindNextFileA(find, data));
}

BOOL SimKernel32::FindClose(HANDLE find) {
    return Forwarded(host_->FindClose(find));
}

DWORD SimKernel32::GetFileAttributesA(LPCSTR name) {
    return Forwarded(host_->GetFileAttributesA(name));
}

// Ordinary files are the host's; a simulated device has nothing cached to flush.
BOOL SimKernel32::FlushFileBuffers(HANDLE file) {
    {
        std::lock_guard<std::recursive_mutex> lock(machine_->mutex);
        if (Find(file) != nullptr)
            return TRUE;
    }
    return Forwarded(host_->FlushFileBuffers(file));
}

BOOL SimKernel32::MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
    return Forwarded(host_->MoveFileExA(from, to, flags));
}

// A lock file is the host's; a simulated device takes no file locks.
BOOL SimKernel32::LockFileEx(HANDLE file, DWORD flags, DWORD reserved, DWORD bytesLow,
                             DWORD bytesHigh, LPOVERLAPPED overlapped) {
    {
        std::lock_guard<std::recursive_mutex> lock(machine_->mutex);
        if (Find(file) != nullptr) {
            LastError() = ERROR_INVALID_FUNCTION;
            return FALSE;
        }
    }
    return Forwarded(host_->LockFileEx(file, flags, reserved, bytesLow, bytesHigh, overlapped));
}

BOOL SimKernel32::UnlockFileEx(HANDLE file, DWORD reserved, DWORD bytesLow, DWORD bytesHigh,
                               LPOVERLAPPED overlapped) {
    {
        std::lock_guard<std::recursive_mutex> lock(machine_->mutex);
        if (Find(file) != nullptr) {
            LastError() = ERROR_INVALID_FUNCTION;
            return FALSE;
        }
    }
    return Forwarded(host_->UnlockFileEx(file, reserved, bytesLow, bytesHigh, overlapped));
}

BOOL SimKernel32::DeleteFileA(LPCSTR name) {
    return Forwarded(host_->DeleteFileA(name));
}

// ---- Drives and volumes.

Drive* SimKernel32::DriveOfRoot(LPCSTR root) {
    const char letter = root != nullptr ? DriveLetterOf(root) : 0;
    if (letter == 0 || (root[2] != '\0' && !(root[2] == '\\' && root[3] == '\0')))
        return nullptr;
    return machine_->FindDrive(letter);
}

Volume* SimKernel32::AnsweringVolume(Drive& drive) {
    std::lock_guard<std::recursive_mutex> lock(machine_->mutex);
    std::optional<Volume>* volume = &drive.volume;
    if (drive.kind == DriveKind::Floppy) {
        if (!drive.medium) {
            LastError() = ERROR_NOT_READY;
            return nullptr;
        }
        volume = &drive.medium->volume;
    }
    if (!volume->has_value()) {
        LastError() = ERROR_UNRECOGNIZED_VOLUME;
        return nullptr;
    }
    return &**volume;
}

DWORD SimKernel32::GetLogicalDrives() {
    DWORD mask = 0;
    for (const auto& d : machine_->drives)
        mask |= 1u << (d.letter - 'A');
    return mask;
}

UINT SimKernel32::GetDriveTypeA(LPCSTR root) {
    Drive* drive = DriveOfRoot(root);
    if (drive == nullptr)
        return DRIVE_NO_ROOT_DIR;
    switch (drive->kind) {
    case DriveKind::Fixed:
        return DRIVE_FIXED;
    case DriveKind::Removable:
    case DriveKind::Floppy:
        return DRIVE_REMOVABLE;
    case DriveKind::CdRom:
        return DRIVE_CDROM;
    case DriveKind::RamDisk:
        return DRIVE_RAMDISK;
    case DriveKind::Network:
        return DRIVE_REMOTE;
    case DriveKind::NoRootDir:
        return DRIVE_NO_ROOT_DIR;
    }
    return DRIVE_UNKNOWN;
}

namespace {
// Copies text with its terminating NUL when it fits in size characters.
bool CopyOut(const std::string& text, LPSTR out, DWORD size) {
    if (out == nullptr)
        return true;
    if (text.size() + 1 > size)
        return false;
    std::memcpy(out, text.c_str(), text.size() + 1);
    return true;
}
} // namespace

BOOL SimKernel32::GetVolumeInformationA(LPCSTR root, LPSTR volumeName, DWORD volumeNameSize,
                                        LPDWORD serial, LPDWORD maxComponentLength,
                                        LPDWORD fileSystemFlags, LPSTR fileSystemName,
                                        DWORD fileSystemNameSize) {
    std::lock_guard<std::recursive_mutex> lock(machine_->mutex);
    Drive* drive = DriveOfRoot(root);
    if (drive == nullptr || drive->kind == DriveKind::NoRootDir)
        return Fail(ERROR_PATH_NOT_FOUND);
    Volume* volume = AnsweringVolume(*drive);
    if (volume == nullptr)
        return FALSE;
    if (!CopyOut(volume->label, volumeName, volumeNameSize) ||
        !CopyOut(volume->fileSystem, fileSystemName, fileSystemNameSize))
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (serial != nullptr)
        *serial = volume->serial;
    if (maxComponentLength != nullptr)
        *maxComponentLength = volume->maxComponentLength;
    if (fileSystemFlags != nullptr)
        *fileSystemFlags = volume->flags;
    return TRUE;
}

BOOL SimKernel32::GetDiskFreeSpaceExA(LPCSTR root, PULARGE_INTEGER freeToCaller,
                                      PULARGE_INTEGER total, PULARGE_INTEGER totalFree) {
    std::lock_guard<std::recursive_mutex> lock(machine_->mutex);
    Drive* drive = DriveOfRoot(root);
    if (drive == nullptr || drive->kind == DriveKind::NoRootDir)
        return Fail(ERROR_PATH_NOT_FOUND);
    Volume* volume = AnsweringVolume(*drive);
    if (volume == nullptr)
        return FALSE;
    std::int64_t size = drive->length;
    if (drive->kind == DriveKind::Floppy)
        size = drive->medium->image->size();
    std::int64_t all = volume->totalBytes.value_or(size);
    std::int64_t free = std::min(volume->freeBytes, all);
    if (freeToCaller != nullptr)
        freeToCaller->QuadPart = static_cast<ULONGLONG>(free);
    if (total != nullptr)
        total->QuadPart = static_cast<ULONGLONG>(all);
    if (totalFree != nullptr)
        totalFree->QuadPart = static_cast<ULONGLONG>(free);
    return TRUE;
}

DWORD SimKernel32::QueryDosDeviceA(LPCSTR device, LPSTR target, DWORD size) {
    std::string answer;
    if (device == nullptr) {
        for (const auto& d : machine_->drives)
            answer += std::string(1, d.letter) + ":" + '\0';
    } else {
        Drive* drive = DriveOfRoot(device);
        if (drive == nullptr || device[2] != '\0') {
            LastError() = ERROR_FILE_NOT_FOUND;
            return 0;
        }
        std::size_t index = static_cast<std::size_t>(drive - machine_->drives.data());
        if (drive->kind == DriveKind::Floppy)
            answer = "\\Device\\Floppy" + std::to_string(drive->letter - 'A');
        else if (drive->kind == DriveKind::CdRom)
            answer = "\\Device\\CdRom" + std::to_string(index);
        else if (drive->kind == DriveKind::Network)
            answer = "\\Device\\LanmanRedirector\\;" + std::string(1, drive->letter) + ":";
        else
            answer = "\\Device\\HarddiskVolume" + std::to_string(index + 1);
        answer += '\0';
    }
    answer += '\0';
    if (target == nullptr || answer.size() > size) {
        LastError() = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    std::memcpy(target, answer.data(), answer.size());
    return static_cast<DWORD>(answer.size());
}

std::optional<std::string> SimKernel32::WhyDiskRefused(DWORD deviceNumber) {
    std::lock_guard<std::recursive_mutex> lock(machine_->mutex);
    for (const auto& disk : machine_->disks)
        if (disk.deviceNumber == deviceNumber && disk.runningSystem)
            return std::string("holds the running system");
    return std::nullopt;
}

} // namespace platform::sim
