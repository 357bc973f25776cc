// Disk access on the Windows NT family: a drive letter's volume (TNTLogicalDisk) and a whole
// physical disk (TNTPhysicalDisk), both through raw device handles of the system. A logical
// disk opened for writing holds the volume lock, forcing a dismount when the user agrees.
#pragma once

#include "disk/device_access.h"
#include "disk/disk.h"
#include "disk/nt/in_flight.h"
#include "platform/handle.h"
#include "platform/winapi.h"
#include "report/exceptions.h"

#include <cstdint>
#include <string>

namespace purgelet {

// Opening a device failed.
class XNTCreateFile : public XSystemCall {
public:
    using XSystemCall::XSystemCall;
};

class TNTLogicalDisk : public TLogicalDisk {
public:
    // Name is the drive letter without colon; the device is "\\.\" + Name + ":".
    TNTLogicalDisk(std::string Name, TMessageObject* Owner);
    // A disk freed while open (the list refreshed under the block viewer, the manager torn
    // down mid-run) unlocks and closes its device, so the volume can be opened again at
    // once; never raises, a failure is logged.
    ~TNTLogicalDisk() override;

    std::string DevicePath;

    // The open device; INVALID_HANDLE_VALUE while closed.
    HANDLE Handle() const { return DeviceHandle.Get(); }

    int getPropertiesCount() override;
    void init() override;
    void Open(bool readOnly) override;
    // Opened for writing as the wipe wants it: without the system's cache, for overlapped
    // transfers, asking the wipe's sink whether to force a dismount.
    void OpenForWipe(const TOpenMode& mode) override;
    // Unlocks a volume opened for writing and closes the handle; nothing when closed.
    void Close() override;
    void ReadBlocks(void* Buffer, std::int32_t Count, std::int64_t Block) override;
    void WriteBlocks(const void* Buffer, std::int32_t Count, std::int64_t Block) override;
    // Opened for writing with more than one transfer in flight, the device is opened for
    // overlapped transfers and these run there; else as the base class runs them.
    void StartTransfer(int Slot, const TTransfer& Transfer) override;
    void FinishTransfer(int Slot) override;
    void CancelTransfers() noexcept override;
    bool TransferPending(int Slot) override;
    // Reopens the device in the mode it had (logged as a retry).
    void PrepareToRetry() override;
    // Formats the partition with FormatEx, offering the shell's dialog when that fails.
    void Format(const TFormatParams& Params, TWipeContext& wipe) override;

    virtual void SetCurrentBlock(std::int64_t Block);
    virtual void DisMount();
    // Locks the volume; when it is in use, asks (whom the open's mode says) whether to force
    // a dismount and opens again in the same mode.
    virtual void Lock();
    virtual void UnLock();

    // Forced dismounts one Open may try before a refused lock stands.
    static constexpr int kMaxForcedDismounts = 3;

protected:
    platform::UniqueHandle DeviceHandle; // none while closed
    bool Overlapped = false;             // DeviceHandle was opened with FILE_FLAG_OVERLAPPED
    TInFlight InFlight;
    // How the open device was opened for writing, for a reopen (a forced dismount, a retry);
    // its sink is the open's only, forgotten at the close.
    TOpenMode Mode;

    // Opens in mode: read-only, or for writing (locked).
    void OpenIn(bool readOnly, const TOpenMode& mode);
    // Opens as it was open (Open or OpenForWipe, whichever opened it), by its virtual open: a
    // floppy reads its medium again. The mode is a copy: the open replaces Mode.
    void OpenAgain(bool readOnly, TOpenMode mode);
    // The shell's name for the drive root replaces Description when the shell has one.
    void TakeShellDisplayName(const std::string& root);
    // FormatDrive with the former (or the chosen) file system; when the library fails, the
    // owner is asked whether to open the shell's format dialog instead (Media: 0 floppy,
    // 1 hard disk).
    void FormatOrOfferShell(const TFormatParams& Params, int Media, TWipeContext& wipe);

private:
    int forcedDismounts_ = 0; // forced dismounts of the Open in progress
};

class TNTPhysicalDisk : public TPhysicalDisk {
public:
    // Name is the device interface path that opens the disk; Description its friendly name.
    TNTPhysicalDisk(std::string Name, TMessageObject* Owner, std::string Description);
    // Closes the device when freed while open; never raises, a failure is logged.
    ~TNTPhysicalDisk() override;

    std::string DevicePath;

    // The open device; INVALID_HANDLE_VALUE while closed.
    HANDLE Handle() const { return DeviceHandle.Get(); }

    void init() override;
    // Opened for writing, every volume on the disk is locked first (Lock), then the disk.
    void Open(bool readOnly) override;
    // As a wipe wants it: without the system's cache, overlapped unless the wipe sends the
    // drive's own commands, its volumes' questions asked to the wipe's sink.
    void OpenForWipe(const TOpenMode& mode) override;
    // Closes the disk, then releases the volumes a write open locked (UnLock); a failing
    // close of the disk still releases them.
    void Close() override;
    void ReadBlocks(void* Buffer, std::int32_t Count, std::int64_t Block) override;
    void WriteBlocks(const void* Buffer, std::int32_t Count, std::int64_t Block) override;
    // Opened for writing with more than one transfer in flight, the device is opened for
    // overlapped transfers and these run there; else as the base class runs them.
    void StartTransfer(int Slot, const TTransfer& Transfer) override;
    void FinishTransfer(int Slot) override;
    void CancelTransfers() noexcept override;
    bool TransferPending(int Slot) override;

    virtual void SetCurrentBlock(std::int64_t Block);
    // Where the drive's own erase commands go: handed the open device, it probes it. Tests
    // hand a drive of their own.
    std::function<std::unique_ptr<TFirmwareDrive>(HANDLE)> FirmwareProbe = ProbeFirmwareDrive;
    // Probed once, on the device opened with write access (the pass-through requests need
    // it) but never written; the disk's own handle while it is open.
    const TFirmwareDrive* ProbedFirmware() override;
    // A whole disk has no volume of its own to dismount: its volumes are.
    virtual void DisMount() {}
    // Opens each of Volumes for writing, which locks it through the drive letter's own path
    // (asking whom the open's mode says whether to force a dismount when it is in use), then
    // dismounts it. A refusal or a failed dismount releases the volumes locked so far and
    // leaves; a lock refused for good marks the disk NotWipeable.
    virtual void Lock();
    // Closes (unlocks) every one of Volumes; raises the first failure after all are closed.
    virtual void UnLock();

protected:
    platform::UniqueHandle DeviceHandle; // none while closed
    bool Overlapped = false;             // DeviceHandle was opened with FILE_FLAG_OVERLAPPED
    TInFlight InFlight;

    std::unique_ptr<TFirmwareDrive> OpenedFirmware() override;
    // How the open device was opened for writing; its sink is forgotten at the close.
    TOpenMode Mode;
    void OpenIn(bool readOnly, const TOpenMode& mode);

private:
    // Closes every one of Volumes while another failure is on its way out.
    void ReleaseVolumes() noexcept;

    std::unique_ptr<TFirmwareDrive> probed_;
    bool probeTried_ = false;
};

// The file-system name of a partition type byte ("Unknown" for the types it does not name).
std::string PartitionTypeName(std::uint8_t type);

} // namespace purgelet
