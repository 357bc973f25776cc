#pragma once

#include "platform/kernel32.h"
#include "platform/local_events.h"
#include "platform/sim/machine.h"
#include "platform/sim/read_cache.h"

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace platform::sim {

// kernel32 of the simulated PC. Drive letters and physical disks are those of the machine;
// their raw devices read and write the machine's image files and never a real device.
// Ordinary files are passed to the host's kernel32; the clock is fixed (settable by a test)
// so that logs and reports are reproducible, unless the machine asks for the real clock.
// Engines on different devices may call from their own threads: the last error is each
// thread's, and what the devices share is looked at under the machine's lock.
class SimKernel32 : public Kernel32 {
public:
    SimKernel32(std::unique_ptr<Kernel32> host, std::shared_ptr<Machine> machine);

    // Thursday 2026-01-01 12:00 in a zone one hour ahead of UTC (the third field is the day
    // of the week, the fourth the day of the month).
    SYSTEMTIME localTime{2026, 1, 4, 1, 12, 0, 0, 0};
    SYSTEMTIME utcTime{2026, 1, 4, 1, 11, 0, 0, 0};
    DWORD platformId = VER_PLATFORM_WIN32_NT;
    DWORD buildNumber = 2600;
    DWORD ticks = 0;
    // The host's clock: the times are the host's, the tick count moves with the host's and
    // Sleep and waits take real time. Else the clock stands still until a test moves it.
    bool realClock = false;

    // The machine's tick count now (what GetTickCount answers); a test may add to ticks.
    DWORD MachineTicks();

    Machine& machine() { return *machine_; }
    const std::shared_ptr<Machine>& sharedMachine() const { return machine_; }
    // Open device handles of the machine (tests check that a disk closed what it opened).
    std::size_t OpenDeviceHandles() const {
        std::lock_guard<std::recursive_mutex> lock(machine_->mutex);
        return handles_.size();
    }

    DWORD GetLastError() override { return LastError(); }
    void SetLastError(DWORD code) override { LastError() = code; }
    std::string SysErrorMessage(DWORD code) override;
    BOOL GetVersionExA(OSVERSIONINFOA* info) override;
    std::string GetModuleFileNameA() override {
        return machine_->executable.empty() ? host_->GetModuleFileNameA()
                                            : machine_->executable.string();
    }
    void GetLocalTime(SYSTEMTIME* time) override;
    void GetSystemTime(SYSTEMTIME* time) override;
    BOOL QueryPerformanceCounter(LARGE_INTEGER* count) override;
    DWORD GetTickCount() override { return MachineTicks(); }
    void Sleep(DWORD milliseconds) override;
    std::string GetWindowsDirectoryA() override { return machine_->windowsDirectory; }
    // A disk the machine file marks as the running system's ("runningSystem").
    std::optional<std::string> WhyDiskRefused(DWORD deviceNumber) override;
    // The host's: a run on the simulated PC is stopped as the real program is.
    BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE routine, BOOL add) override {
        return Forwarded(host_->SetConsoleCtrlHandler(routine, add));
    }
    // Events: a wait on an unset event lets its time limit pass on the machine's clock.
    HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                        LPCSTR name) override;
    BOOL SetEvent(HANDLE event) override;
    BOOL ResetEvent(HANDLE event) override;
    DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) override;
    std::size_t OpenEvents() const { return events_.Count(); }
    HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                       DWORD disposition, DWORD flags, HANDLE templateFile) override;
    BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read,
                  LPOVERLAPPED overlapped) override;
    BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                   LPOVERLAPPED overlapped) override;
    DWORD SetFilePointer(HANDLE file, LONG distanceLow, PLONG distanceHigh, DWORD method) override;
    // Overlapped transfers run in the order they were started, each when its outcome (or a
    // later one's on the same handle) is waited for: the latest a device may run them, with
    // the pace and the faults of a synchronous transfer. A cancelled one never runs.
    BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred,
                             BOOL wait) override;
    BOOL CancelIo(HANDLE file) override;
    BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                         DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) override;
    BOOL CloseHandle(HANDLE handle) override;
    HANDLE GetStdHandle(DWORD which) override { return Forwarded(host_->GetStdHandle(which)); }
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

    // The drive of a root "X:\" (or "X:"), null when the machine has none.
    Drive* DriveOfRoot(LPCSTR root);
    // The volume facts of a drive as the system sees them now, null with the last error set
    // when the volume does not answer.
    Volume* AnsweringVolume(Drive& drive);
    // Whether any handle of this process is open on the drive's volume (a format needs none).
    bool DriveHasOpenHandles(const Drive& drive) const;

    // Where a device's bytes are: the image, the byte offset of the device on it, the
    // device's extent and its sector size. False (last error set) when there is no medium.
    struct Extent {
        Image* image = nullptr;
        std::int64_t base = 0, length = 0;
        DWORD sectorSize = 512;
    };
    // The extent of a drive letter's volume (false, last error set, without a medium).
    bool DriveExtent(const Drive& drive, Extent* extent);
    bool DriveGeometry(const Drive& drive, DISK_GEOMETRY* geometry);

private:
    // A handle on a raw device: a drive letter's volume or a whole physical disk.
    struct DeviceHandle {
        int drive = -1; // index into Machine::drives, or -1
        int disk = -1;  // index into Machine::disks, or -1
        std::string name;
        DWORD access = 0, share = 0, flags = 0;
        std::int64_t position = 0;
        bool locked = false;
        bool vwin32 = false; // the Windows 9x virtual device, not a disk
    };

    template <class R> R Forwarded(R result) {
        LastError() = host_->GetLastError();
        return result;
    }
    BOOL Fail(DWORD error) {
        LastError() = error;
        return FALSE;
    }
    void Record(const DeviceHandle& h, const char* name, DWORD a, DWORD b, std::int64_t offset,
                bool ok);
    DeviceHandle* Find(HANDLE handle);
    // Pass-through requests and the eject requests on an optical drive's letter
    // (optical_io.cpp).
    BOOL OpticalControl(DeviceHandle& h, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                        DWORD outSize, DWORD* size);
    using Lock = std::unique_lock<std::recursive_mutex>;
    // IOCTL_STORAGE_QUERY_PROPERTY on a disk or partition (identity.cpp).
    BOOL StorageQuery(Lock& lock, const DeviceHandle& h, LPVOID in, DWORD inSize, LPVOID out,
                      DWORD outSize, DWORD* size);
    DeviceFaults& FaultsOf(const DeviceHandle& h);
    // The drive letter a handle is open on, null for a physical disk.
    Drive* DriveOf(const DeviceHandle& h);
    // Copies an ioctl's answer to out, or fails when it does not fit.
    BOOL AnswerIoctl(const void* data, DWORD length, LPVOID out, DWORD outSize, DWORD* size);
    // The disk queries of a volume or physical disk handle, each with its own fault.
    BOOL GetDriveGeometry(const DeviceHandle& h, LPVOID out, DWORD outSize, DWORD* size);
    BOOL GetPartitionInfo(const DeviceHandle& h, LPVOID out, DWORD outSize, DWORD* size);
    BOOL GetLengthInfo(const DeviceHandle& h, LPVOID out, DWORD outSize, DWORD* size);
    BOOL GetDeviceNumber(const DeviceHandle& h, LPVOID out, DWORD outSize, DWORD* size);
    BOOL GetMediaTypes(const DeviceHandle& h, LPVOID out, DWORD outSize, DWORD* size);
    bool ExtentOf(const DeviceHandle& h, Extent* extent);
    // The extent of drive letter i, asked on the machine's behalf: the last error stays.
    bool DriveExtent(std::size_t i, Extent* extent);
    bool Geometry(const DeviceHandle& h, DISK_GEOMETRY* geometry);
    HANDLE OpenDevice(const std::string& name, int drive, int disk, DWORD access, DWORD share,
                      DWORD disposition, DWORD flags);
    // With the machine's lock, which it lets go while the bytes move and while it paces.
    BOOL Transfer(Lock& lock, DeviceHandle& h, void* buffer, DWORD size, LPDWORD done, bool write);
    // The ATA pass-through and the storage protocol command on a physical disk with an
    // emulated drive (firmware_ata.cpp, firmware_nvme.cpp); any other device has none.
    BOOL FirmwareControl(Lock& lock, DeviceHandle& h, DWORD code, LPVOID in, DWORD inSize,
                         LPVOID out, DWORD outSize, DWORD* size);
    BOOL AtaControl(Lock& lock, PhysicalDisk& disk, BYTE* request, DWORD size, DWORD* returned);
    BOOL NvmeControl(Lock& lock, PhysicalDisk& disk, BYTE* request, DWORD size, DWORD* returned);
    // One admin command as the NVMe drive of disk (the controller's disk) takes it, whichever
    // way it came: its NVMe status, or the system's error where it never completed.
    struct NvmeAnswer {
        DWORD status = 0;
        DWORD systemError = 0;
    };
    NvmeAnswer NvmeCommand(Lock& lock, PhysicalDisk& disk, const BYTE* sqe, BYTE* data,
                           DWORD dataLength, DWORD timeout, DWORD* dw0);
    // The ways Windows' own NVMe driver carries commands (nvme_driver.cpp): the storage
    // property query of protocol data (adapter or device) and the media reinitialization.
    BOOL NvmeQuery(Lock& lock, const DeviceHandle& h, LPVOID in, DWORD inSize, LPVOID out,
                   DWORD outSize, DWORD* size);
    BOOL ReinitializeMedia(Lock& lock, const DeviceHandle& h, LPVOID in, DWORD inSize);
    // An emulated drive busy with a command that returns when done: the machine's clock
    // moves on, without the machine's lock.
    void DriveWorks(Lock& lock, DWORD milliseconds);
    // An overlapped ReadFile or WriteFile, queued (overlapped.cpp).
    BOOL StartOverlapped(HANDLE file, DeviceHandle& h, LPOVERLAPPED overlapped, void* buffer,
                         DWORD size, LPDWORD done, bool write);
    // Ends every queued transfer of file (of the calling thread only, unless anyThread) with
    // ERROR_OPERATION_ABORTED.
    void AbortOverlapped(HANDLE file, bool anyThread);
    struct QueuedTransfer {
        HANDLE file;
        OVERLAPPED* overlapped;
        void* buffer;
        DWORD size;
        bool write;
        std::thread::id thread;
    };
    // The bytes per second of the device's pace, 0 for none.
    std::int64_t PaceOf(const DeviceHandle& h);
    // Sleeps for the real time the pace gives the bytes moved.
    static void Pace(std::int64_t bytesPerSecond, DWORD moved);
    // The first armed block fault in [offset, offset + size) of an image, by byte offset.
    BlockFault* FirstFault(Image* image, std::int64_t offset, std::int64_t size, bool write,
                           std::int64_t* at);
    bool WriteAllowed(const DeviceHandle& h, std::int64_t offset, std::int64_t size);
    BOOL VolumeControl(DeviceHandle& h, HANDLE handle, DWORD code);
    void RemountReleasedVolumes();
    // Marks every drive whose sectors [absolute, absolute + size) of image touch as written.
    void MarkWritten(Image* image, std::int64_t absolute, std::int64_t size);

    // The system cache of a device's buffered handles, and what goes through it
    // (cached_io.cpp). Caches are made on first use and never freed before the kernel.
    ReadCache& CacheOf(const DeviceHandle& h);
    // Drops the cache of the device h is open on.
    void DropCache(const DeviceHandle& h);
    // The sectors (image byte offset, bytes) of [absolute, absolute + size) whose write the
    // drive will drop, each lost-write fault counted as it fires.
    std::vector<std::pair<std::int64_t, DWORD>> LostSectors(Image* image, std::int64_t absolute,
                                                            std::int64_t size);
    // Moves count bytes between buffer and the device at position (absolute on the image):
    // through cache when there is one, else straight to the medium; a write keeps the lost
    // sectors as the medium held them. Without the machine's lock.
    static bool MoveBytes(const Extent& e, ReadCache* cache, std::int64_t position,
                          std::int64_t absolute, void* buffer, DWORD count, bool write,
                          const std::vector<std::pair<std::int64_t, DWORD>>& lost);

    // "\\.\vwin32" (vwin32.cpp): the register packets of the 9x disk services.
    HANDLE OpenVwin32(const std::string& path, DWORD access, DWORD share, DWORD flags);
    BOOL Vwin32Control(DeviceHandle& h, HANDLE handle, DWORD code, LPVOID in, DWORD inSize,
                       LPVOID out, DWORD outSize, LPDWORD returned);
    // Each answers the packet, setting the carry flag and the error on failure.
    void Vwin32Ioctl(HANDLE handle, DIOC_REGISTERS& r, Vwin32Packet& p);
    void Vwin32Transfer(HANDLE handle, DIOC_REGISTERS& r, Vwin32Packet& p, DWORD index, bool write);
    // The IOCTL services that fill a block at a linear address: the error the service fails
    // with, none when it answered.
    std::optional<DWORD> Vwin32DeviceParameters(Drive& d, DWORD address);
    std::optional<DWORD> Vwin32DriveMap(Drive& d, DWORD address);
    // The drive's geometry and length in bytes: a floppy drive's medium, or its default one
    // (the largest it takes) unless current.
    std::optional<DWORD> Vwin32Geometry(const Drive& d, bool current, DISK_GEOMETRY& g,
                                        std::int64_t& length);
    // The BIOS unit the drive map names for a drive.
    int Int13Unit(const Drive& d) const;
    // The disk drive of a 0-based index (A = 0), null when there is none to serve.
    Drive* Vwin32Drive(DWORD index);
    // Closing the device gives up the volume locks it held.
    void ReleaseVwin32Locks(HANDLE handle);

    // Lets milliseconds pass on the machine's clock (really, with the real clock).
    void Pass(DWORD milliseconds);

    std::unique_ptr<Kernel32> host_;
    std::mutex clockMutex_; // ticks and hostTicks_, moved by every thread's waits and clock reads
    DWORD hostTicks_ = 0;   // the host's tick count when ticks was last brought up to date
    LocalEvents events_{0x5F000000};
    std::shared_ptr<Machine> machine_;
    std::map<HANDLE, DeviceHandle> handles_;
    std::uintptr_t nextHandle_ = 0x5E000000;
    DeviceFaults noFaults_;             // of the virtual device, which has none of its own
    std::deque<QueuedTransfer> queued_; // overlapped transfers not yet run, in start order
    // The system cache of each device, by (drive, disk) index.
    std::map<std::pair<int, int>, std::unique_ptr<ReadCache>> caches_;
};

} // namespace platform::sim
