#pragma once

#include "platform/kernel32.h"
#include "platform/linux/async_io.h"
#include "platform/linux/drive_map.h"
#include "platform/local_events.h"

#include <map>
#include <memory>
#include <mutex>
#include <sys/types.h>

namespace platform::linux_backend {

class LinuxKernel32 : public Kernel32 {
public:
    // The drives are shared with the other Linux back-end files; null: this machine's,
    // with the user's configuration folder and map file.
    explicit LinuxKernel32(std::shared_ptr<DriveMap> drives = nullptr);
    ~LinuxKernel32() override;

    DWORD GetLastError() override;
    void SetLastError(DWORD code) override;
    std::string SysErrorMessage(DWORD code) override;
    BOOL GetVersionExA(OSVERSIONINFOA* info) override;
    std::string GetModuleFileNameA() override;
    std::optional<std::string> GetEnvironmentVariableA(const std::string& name) override;
    void GetLocalTime(SYSTEMTIME* time) override;
    void GetSystemTime(SYSTEMTIME* time) override;
    BOOL QueryPerformanceCounter(LARGE_INTEGER* count) override;
    DWORD GetTickCount() override;
    void Sleep(DWORD milliseconds) override;
    BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE routine, BOOL add) override;
    HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                        LPCSTR name) override;
    BOOL SetEvent(HANDLE event) override;
    BOOL ResetEvent(HANDLE event) override;
    DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) override;
    HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                       DWORD disposition, DWORD flags, HANDLE templateFile) override;
    BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read,
                  LPOVERLAPPED overlapped) override;
    BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                   LPOVERLAPPED overlapped) override;
    DWORD SetFilePointer(HANDLE file, LONG distanceLow, PLONG distanceHigh, DWORD method) override;
    // Overlapped transfers through io_uring (async_io.h).
    BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred,
                             BOOL wait) override;
    BOOL CancelIo(HANDLE file) override;
    BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                         DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) override;
    BOOL CloseHandle(HANDLE handle) override;
    HANDLE GetStdHandle(DWORD which) override;
    HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* data) override;
    BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data) override;
    BOOL FindClose(HANDLE find) override;
    DWORD GetFileAttributesA(LPCSTR name) override;
    BOOL FlushFileBuffers(HANDLE file) override;
    BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) override;
    BOOL LockFileEx(HANDLE file, DWORD flags, DWORD reserved, DWORD bytesLow, DWORD bytesHigh,
                    LPOVERLAPPED overlapped) override;
    BOOL UnlockFileEx(HANDLE file, DWORD reserved, DWORD bytesLow, DWORD bytesHigh,
                      LPOVERLAPPED overlapped) override;
    BOOL DeleteFileA(LPCSTR name) override;
    DWORD GetLogicalDrives() override;
    UINT GetDriveTypeA(LPCSTR root) override;
    BOOL GetVolumeInformationA(LPCSTR root, LPSTR volumeName, DWORD volumeNameSize, LPDWORD serial,
                               LPDWORD maxComponentLength, LPDWORD fileSystemFlags,
                               LPSTR fileSystemName, DWORD fileSystemNameSize) override;
    BOOL GetDiskFreeSpaceExA(LPCSTR root, PULARGE_INTEGER freeToCaller, PULARGE_INTEGER total,
                             PULARGE_INTEGER totalFree) override;
    DWORD QueryDosDeviceA(LPCSTR device, LPSTR target, DWORD size) override;

    // The descriptor behind a handle of this back-end, -1 for none (for the other Linux
    // back-end files, which issue ioctls on it).
    int Descriptor(HANDLE handle) const;

    // Sets the last error with a message of its own (which command failed and how), told
    // by SysErrorMessage while that error is the last one. Both are the calling thread's.
    void SetLastErrorText(DWORD code, std::string text);

    DriveMap& Drives();
    std::vector<DeviceNotOffered> DevicesNotOffered() override;
    // The disk numbered so is refused as a whole when the running system rests on it.
    std::optional<std::string> WhyDiskRefused(DWORD deviceNumber) override;
    std::string DiskDeviceName(DWORD deviceNumber) override;
    std::optional<DWORD> DiskNumberOfPath(const std::string& path) override;

    // The decision that keeps the running system safe: whether the device may be opened
    // for writing, locked and dismounted. Never for the devices the system runs from.
    bool MayWrite(dev_t device);
    // The same for a device node or an image file, with the reason when it may not.
    std::optional<std::string> WhyNotWritable(const std::string& node);

private:
    struct Find;
    // An open file or device; a device opened through its drive letter or disk number
    // carries what the control codes answer about it.
    struct File {
        int fd = -1;
        int lockFd = -1;     // the exclusive open that is the volume lock
        bool locked = false; // an image file's lock (flock on fd)
        // A partition's lock handed over to the exclusive open of its whole disk.
        bool coveredByDisk = false;
        bool written = false;
        bool physical = false;      // \\.\PhysicalDriveN
        std::optional<Drive> drive; // opened as \\.\X:
        std::string node;
        dev_t device = 0;
        std::unique_ptr<AsyncIo> async; // opened with FILE_FLAG_OVERLAPPED
    };
    // An overlapped ReadFile or WriteFile.
    BOOL StartOverlapped(File& file, LPOVERLAPPED overlapped, void* buffer, DWORD size,
                         LPDWORD done, bool write);
    // With handlesMutex_ held.
    HANDLE NewHandle();
    // The open file behind a handle, null for none. The table is locked only for the look-up:
    // the transfer on the file runs without it, so engines on other devices are not held up.
    std::shared_ptr<File> FileOf(HANDLE handle) const;
    static bool NextMatch(Find& find, WIN32_FIND_DATAA* data);
    // The drives as the last detection found them, detecting first when none ran yet (with
    // drivesMutex_ held).
    void DetectOnce();
    // The node a Windows device name stands for; false when it names no device of ours.
    bool ResolveDeviceName(const std::string& name, File& file);
    BOOL DriveControl(File& file, DWORD code, LPVOID out, DWORD outSize, LPDWORD returned);
    // The number of the disk a file was opened on, none for floppies and optical drives.
    std::optional<std::uint32_t> DiskNumberOf(const File& file);
    // FSCTL_LOCK_VOLUME and FSCTL_UNLOCK_VOLUME.
    BOOL LockVolume(File& file);
    BOOL UnlockVolume(File& file);
    // IOCTL_ATA_PASS_THROUGH through SG_IO, IOCTL_STORAGE_PROTOCOL_COMMAND (NVMe admin) on the
    // controller's node; only block devices carry them.
    BOOL DriveCommand(const File& file, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                      DWORD outSize, LPDWORD returned);
    // IOCTL_STORAGE_QUERY_PROPERTY: the whole disk under a block device, from udev and sysfs.
    BOOL StorageQuery(const File& file, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                      LPDWORD returned);
    BOOL LockImage(File& file);
    BOOL Dismount(File& file);
    // The partitions of disk this program holds locked (their volumes' files).
    std::vector<std::shared_ptr<File>> OwnLocksOn(dev_t disk) const;
    // What keeps the whole disk from being opened exclusively: its partitions that are
    // mounted or held (those this program locked aside), else the disk itself; nothing when
    // free.
    std::optional<std::string> WhyDiskBusy(const std::string& node, dev_t disk) const;
    // The exclusive open of a whole disk for writing (mode without O_EXCL); -1 with errno
    // set (EBUSY while a partition is mounted or held).
    int ClaimWholeDisk(const File& file, int mode);
    // A copy of the drive of a root, taken under the lock: a detection on another thread may
    // replace the list meanwhile.
    std::optional<Drive> DriveOfRoot(LPCSTR root);

    // The drive map, and whether it was detected: shared by every thread's calls.
    std::mutex drivesMutex_;
    std::shared_ptr<DriveMap> drives_;
    bool detected_ = false;
    // The handle table: files, searches, the standard streams and the counter they draw from.
    mutable std::mutex handlesMutex_;
    std::uintptr_t nextHandle_ = 0x40;
    std::map<HANDLE, std::shared_ptr<File>> files_;
    HANDLE std_[3] = {nullptr, nullptr, nullptr};
    std::map<HANDLE, std::shared_ptr<Find>> finds_;
    LocalEvents events_{0x7E000000};
};

} // namespace platform::linux_backend
