// Disk access on Windows 95, 98 and ME. These systems hand out no raw volume handles: a
// drive's sectors are reached through the virtual device "\\.\vwin32", which runs the
// real-mode DOS disk services for the caller. Every request is a register packet given to
// DeviceIoControl; the returned carry flag tells whether the service failed.
#pragma once

#include "disk/disk.h"
#include "platform/handle.h"
#include "platform/winapi.h"

#include <cstdint>
#include <string>

namespace purgelet {

// A drive letter C..Z (and, through T9XFloppy, A and B).
class T9xLogicalDisk : public TLogicalDisk {
public:
    T9xLogicalDisk(std::string Name, TMessageObject* Owner);
    // Closes the device (unlocking and clearing the access flag) when still open.
    ~T9xLogicalDisk() override;

    std::int32_t DriveIndex = 0;  // A = 0, C = 2
    std::uint8_t Int13Unit = 255; // BIOS unit from the drive map; 255 none
    std::int32_t SectorsPerTrack = 0;
    bool Written = false;         // a block write succeeded during the current wipe
    std::uint8_t AccessState = 0; // 0 flag untouched, 1 allowed before Open, 2 allowed by us

    // Properties of a drive letter, then the BIOS unit (4) and the hard disk (5) or floppy
    // (6) number it stands for.
    int getPropertiesCount() override;
    // The block wipe; a wipe that wrote anything leaves the media access flag cleared.
    void Wipe(TWipeContext& wipe) override;
    void init() override;
    // Opens the device, reads the parameters again (the medium may have changed), allows
    // media access and, for writing, locks the volume.
    void Open(bool readOnly) override;
    // Unlocks, clears the access flag, closes; nothing when closed. Never raises.
    void Close() override;
    void ReadBlocks(void* Buffer, std::int32_t Count, std::int64_t Block) override;
    void WriteBlocks(const void* Buffer, std::int32_t Count, std::int64_t Block) override;
    // Windows 9x has no silent format: the user is offered the shell's format dialog.
    void Format(const TFormatParams& Params, TWipeContext& wipe) override;

    // Geometry and size from the device parameters, the drive type, then the drive map.
    virtual void GetDiskParameters();
    virtual void Lock();   // _Lock(0, 0)
    virtual void UnLock(); // its result is not checked

    void _Lock(std::int32_t Level, std::int32_t Permissions);
    // The BIOS unit of the drive map into Int13Unit (255, logged, when the map fails).
    void GetPartitionMapping();
    // Whether media access is allowed; a failed query (logged) counts as allowed.
    bool GetAccesFlag();
    // Allows or forbids media access; a failure is logged only.
    void SetAccessFlag(bool Allow);

    // The open device; INVALID_HANDLE_VALUE while closed.
    HANDLE Handle() const { return DeviceHandle.Get(); }

protected:
    platform::UniqueHandle DeviceHandle; // "\\.\vwin32"; none while closed

    // Opens "\\.\vwin32" into DeviceHandle; raises XVWin32NotFound.
    void OpenDevice();

private:
    // Sends the packet; true when the call succeeded and the carry flag came back clear. A
    // failed service's error code (AX) becomes the last error, so messages name it.
    bool Request(DWORD code, DIOC_REGISTERS& registers);
    // Register packet of the DOS IOCTL 440Dh with the drive number in BL.
    DIOC_REGISTERS Ioctl(DWORD minor, DWORD edx) const;
    void Transfer(void* Buffer, std::int32_t Count, std::int64_t Block, bool write);

    DWORD build_ = 0;            // low word of the system's build number, read at Open
    bool locked_ = false;        // this object holds the volume lock
    bool currentMedium_ = false; // the parameters asked for are the medium's, not the drive's
};

// Drive letters A and B: a floppy whose wipe moves one track per transfer.
class T9XFloppy : public T9xLogicalDisk {
public:
    using T9xLogicalDisk::T9xLogicalDisk;

    void init() override;
    // At most one track per transfer.
    void Wipe(TWipeContext& wipe) override;
};

// A whole physical disk. Windows 9x reaches disks only by drive letter, so this class
// provides none of the operations: creating one raises XCompatibility, and the disk manager
// never tries (physical disks are not detected on Windows 9x).
class T9xPhysicalDisk : public TPhysicalDisk {
public:
    using TPhysicalDisk::TPhysicalDisk;

    void init() override;
    void Open(bool readOnly) override;
    void Close() override {}
    void ReadBlocks(void* Buffer, std::int32_t Count, std::int64_t Block) override;
    void WriteBlocks(const void* Buffer, std::int32_t Count, std::int64_t Block) override;
};

} // namespace purgelet
