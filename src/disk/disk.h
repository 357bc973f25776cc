// The disk class model: every medium the program can wipe is one object of this tree.
//
//   TDisk
//     TRandomAccessDisk      blocks in any order; the block wipe engine (wipe.cpp)
//       TLogicalDisk         a drive letter; volume facts, formatting after the wipe
//       TPhysicalDisk        a whole physical drive
//     TSecvencialAccessDisk  written as a whole
//       TCDDVDDisk           a rewritable optical disc
//
// Constructors only set fields. A disk is created through MakeDisk, which then calls the
// virtual init (reading the medium's facts): a failure of init propagates out of MakeDisk
// and the half-built object is destroyed. A disk never owns its Owner, its Method, its
// Generators or its OwnerDisk.
#pragma once

#include "disk/firmware_wipe.h"
#include "disk/message_object.h"
#include "platform/identity.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace purgelet {

class method;
struct TGenerators;

// Property ids of the description list (TGenericProperty::Id).
enum : std::uint8_t {
    propName = 1,        // Description (string)
    propSize = 2,        // Size in bytes (64-bit)
    propOwner = 3,       // owner disk's description (string)
    prop9xFact4 = 4,     // Windows 9x fact, not shown
    propOwnerHard = 5,   // hard-disk owner (Windows 9x)
    prop9xFact6 = 6,     // Windows 9x fact, not shown
    propFileSystem = 7,  // file-system name, "RAW" when the volume does not answer
    propSerial = 8,      // volume serial number (32-bit)
    propFSFlags = 9,     // file-system flags (32-bit)
    propFreeSpace = 10,  // free bytes (64-bit)
    propUsedSpace = 11,  // used bytes (64-bit)
    propTotalSpace = 12, // total bytes (64-bit)
    propOpticalFact = 13,
    propCapacity = 14,
    propReadSpeed = 15,
    propWriteSpeed = 16,
    propErasable = 17,
};

// One line of a disk's description: an id and a string, 32-bit or 64-bit value.
struct TGenericProperty {
    using ValueType = std::variant<std::string, std::int32_t, std::int64_t>;

    std::uint8_t Id = 0;
    ValueType Value;

    bool operator==(const TGenericProperty&) const = default;
};

// How a wipe run wants each disk written: the settings of the run that are the disk's to
// apply (a disk kind takes the ones that mean something to it).
struct TWipeOptions {
    bool Unbuffered = false;     // open for writing without system caching
    std::int32_t BufferSize = 0; // bytes per transfer wanted; 0 the default
    bool QuickErase = true;      // a rewritable disc: the quick blank rather than the full one
    std::int32_t TransfersInFlight = 4; // a block wipe's transfers kept in flight; 1 one at a time
    // The NVMe drives every namespace of which the run holds (WholeFirmwareDrives): the only
    // ones a firmware command reaching beyond one namespace may be sent to.
    std::vector<std::string> WholeFirmwareDrives;
};

// Formatting wanted after a wipe. The wipe run passes 0, 0 and an empty label.
struct TFormatParams {
    std::uint8_t FileSystem = 0;
    std::int32_t ClusterSize = 0;
    std::string Label;
};

class TDisk {
public:
    TDisk(std::string Name, TMessageObject* Owner);
    // Every platform class that holds a device closes it in its own destructor when the disk
    // is freed while open (this destructor can no longer reach the platform's Close), and
    // never raises from there.
    virtual ~TDisk();
    TDisk(const TDisk&) = delete;
    TDisk& operator=(const TDisk&) = delete;

    std::string Name;                 // drive letter, device path or drive identity
    std::string Description = "????"; // shown in lists, dialogs and the report
    std::int32_t BlockSize = 512;     // bytes per block
    std::int64_t BlockCount = 0;      // Size / BlockSize
    std::int64_t Size = 0;            // bytes
    method* Method = nullptr;         // the method being run; not owned
    std::uint8_t DriveType = 4;       // 0 unknown, 1 fixed, 2 floppy, 3 removable, 5 CD, 6 RAM
    TDisk* OwnerDisk = nullptr;       // the physical disk of a logical disk; not owned
    std::int64_t StartingOffset = 0;  // byte offset of the partition on its physical disk
    std::int32_t PartitionNumber = 0; // -1 when the system does not tell it
    bool ReadOnly = true;             // the mode of the last Open
    TMessageObject* Owner;            // progress and question sink; not owned
    std::int32_t DeviceNumber = 0;    // -1 when the system does not tell it
    std::int32_t FormatPass = 0;      // 1 while a wipe to be followed by a format runs
    std::int32_t BufferSize = 0;      // bytes per transfer wanted; 0 the default
    bool Unbuffered = false;          // open for writing without system caching
    // The wipe being opened reads back what it writes (a verifying pass, a firmware erase's
    // samples): opened for writing, the device bypasses the system cache, so that the reads
    // see the medium and not a cached copy of what was written or of what it held before.
    bool ReadBack = false;
    // A block wipe's transfers kept in flight (1 to 16): a wipe run sets the run's depth; a
    // disk used without one transfers one at a time.
    std::int32_t TransfersInFlight = 1;
    // The run's generators, handed to each drive's wipe in turn so that the drives of a run
    // draw one sequence; not owned. Null: the wipe draws from its own, seeded from the clock.
    TGenerators* Generators = nullptr;
    std::int64_t CurrentBlock = 0; // first block of the transfer in progress
    // The medium as the last wipe found it open, for the record: a drive that reads its medium
    // at every open (a floppy) no longer knows it once closed. Zero before any wipe.
    struct TMedium {
        std::int64_t Size = 0;
        std::int32_t BlockSize = 0;
        std::int64_t BlockCount = 0;
    } Wiped;
    std::vector<TGenericProperty> Properties;
    // The device as its firmware names it, read once by init: a partition's is its disk's
    // (PartitionNumber and StartingOffset tell where on it it lies). Where the system does
    // not tell the model, MakeDisk makes the Description the model.
    platform::DeviceIdentity Identity;

    // The virtual operations, in their fixed order.
    virtual int getPropertiesCount(); // refills Properties, returns the count
    virtual int GetSortedPropertiesCount();
    virtual void GetProperty(int Index, TGenericProperty& Property) const;
    virtual void SortProperties();
    virtual void Wipe() = 0;
    virtual void init() = 0; // reads the medium's facts; called by MakeDisk
    virtual void Open(bool readOnly) = 0;
    virtual void Close() = 0;
    virtual void WipeDisk(method* Method, bool Format, std::uint8_t FileSystem,
                          std::int32_t ClusterSize, const std::string& Label);
    virtual void WipeDiskWithParams(method* Method, bool Format, const TFormatParams& Params);

    // Appends a copy of the pair at the end of Properties.
    void AddProperty(std::uint8_t id, TGenericProperty::ValueType value);

    // What a wipe run asks of a disk instead of its class.
    // Whether its wipe may be paused and aborted between transfers (a disc blanked by its
    // drive cannot be).
    virtual bool Interruptible() const { return true; }
    // Whether it has blocks to read back and show.
    virtual bool HasBlocks() const { return false; }
    // Whether its wipe runs the passes of a method (a disc is blanked by its drive).
    virtual bool TakesMethod() const { return true; }
    // Takes the run's settings for its next wipe.
    virtual void SetWipeOptions(const TWipeOptions& options);
    // The drive's own erase: the drive as probed once, reading only (null: this disk can
    // take none, e.g. it is no whole disk or cannot be opened).
    virtual const TFirmwareDrive* ProbedFirmware() { return nullptr; }
    // The drive works on a command of its own that cannot be paused or stopped. Readable
    // from any thread.
    virtual bool FirmwareBusy() const { return false; }

    // What every wipe reports to and asks: the Owner, or for a disk wiped without one a
    // plain sink of its own (nothing is retried, skipped or forced, nobody is told). Public
    // for the free callbacks (the format progress) that hold only the disk.
    TMessageObject& Sink() { return Owner != nullptr ? *Owner : headless_; }

    // Closes the device while another failure is on its way out: that failure is what the
    // caller must act on (an abort must stay an abort), so a failing Close does not replace
    // it; its own exception has already logged itself.
    void CloseAfterFailure() noexcept;

protected:
    // The frame of every wipe: open for writing, run Wipe, close even when Wipe raises.
    void OpenWipeClose(method* Method);

private:
    // One per disk, not shared: several disks may be wiped at once, each on its own thread.
    TMessageObject headless_;
};

// A disk open for the guard's life. Close() is the close whose failure counts; a guard left
// while a failure is on its way out closes the disk with CloseAfterFailure.
class TOpenedDisk {
public:
    TOpenedDisk(TDisk& disk, bool readOnly) : disk_(disk) { disk_.Open(readOnly); }
    ~TOpenedDisk() {
        if (open_)
            disk_.CloseAfterFailure();
    }
    TOpenedDisk(const TOpenedDisk&) = delete;
    TOpenedDisk& operator=(const TOpenedDisk&) = delete;

    void Close() {
        open_ = false;
        disk_.Close();
    }

private:
    TDisk& disk_;
    bool open_ = true;
};

class TRandomAccessDisk : public TDisk {
public:
    using TDisk::TDisk;

    // The engine's transfer buffer, in bytes; the default transfer is this many bytes
    // rounded down to whole blocks (1153 blocks of 512 bytes).
    static constexpr std::int32_t WipeBufferSize = 0x90200; // 590,336
    // The buffer's alignment: unbuffered transfers (FILE_FLAG_NO_BUFFERING, O_DIRECT)
    // need at least the sector size, and 4096 covers every sector size in use.
    static constexpr std::size_t WipeBufferAlignment = 4096;

    // Generation of the next buffer and summing of the last one run on a helper thread while
    // the disk transfers; off, every step runs on the calling thread with one buffer. The
    // bytes, the transfers and the calls to the Owner are the same either way.
    bool OverlapTransfers = true;

    // Overwrites every block once per pass of Method, verifies where the method says so.
    // Method is only read; the pass cursor and the fill flag live in the wipe.
    void Wipe() override;
    bool HasBlocks() const override { return true; }

    // Reads Count blocks from Block; raises an XDiskIO descendant on failure.
    virtual void ReadBlocks(void* Buffer, std::int32_t Count, std::int64_t Block) = 0;
    // Writes Count blocks at Block; raises XReadOnly when open read-only, else XDiskIO.
    virtual void WriteBlocks(const void* Buffer, std::int32_t Count, std::int64_t Block) = 0;
    // Makes the device ready for a retry after a failed transfer (platforms reopen it).
    virtual void PrepareToRetry();

    // One transfer handed to the device to run while the caller goes on.
    struct TTransfer {
        bool Write = false;
        std::uint8_t* Buffer = nullptr; // only read by a write
        std::int32_t Count = 0;
        std::int64_t Block = 0;
    };
    // Transfers in flight, each in a slot of the caller's (0 to TransfersInFlight - 1): Start
    // hands one over, Finish waits for a slot's and raises as ReadBlocks or WriteBlocks would,
    // Cancel drops every one started and not finished and returns once none runs. A transfer
    // may run at any moment between its Start and its Finish; a cancelled one may have run or
    // not. The base class runs each at its Finish, in the caller's order: a device that starts
    // a transfer only when asked for its result, which the platforms with asynchronous I/O
    // override. Buffers stay untouched by the caller until their transfer is finished or
    // cancelled.
    virtual void StartTransfer(int Slot, const TTransfer& Transfer);
    virtual void FinishTransfer(int Slot);
    virtual void CancelTransfers() noexcept;
    // Whether slot's transfer still runs on the device, so that its Finish would only wait:
    // the caller may do other work first. The base class runs a transfer in its Finish, which
    // is then work, not waiting: false.
    virtual bool TransferPending(int Slot);

    // Blocks per transfer for the current BufferSize, never more than a buffer of
    // capacity bytes holds (at least 1 while a block fits).
    std::int32_t ChunkBlocks(std::int64_t capacity) const;

private:
    std::vector<TTransfer> started_; // the base class's transfers waiting for their Finish
};

class TLogicalDisk : public TRandomAccessDisk {
public:
    using TRandomAccessDisk::TRandomAccessDisk;

    std::string FileSystem; // "NTFS", "FAT32", "Unknown", ...
    std::uint8_t BootIndicator = 0;
    // The last write open's lock stayed refused after every forced dismount it may try: the
    // volume is held by something a dismount does not drive away.
    bool LockRefusedForGood = false;

    // Description, size, then the volume's facts as the system reports them. Never raises:
    // a failure is logged and the list stays as far as it got.
    int getPropertiesCount() override;
    // Formats after the wipe when Format is set, and only when the wipe and Close succeeded.
    void WipeDiskWithParams(method* Method, bool Format, const TFormatParams& Params) override;

    virtual void Format(const TFormatParams& Params) = 0;
};

class TPhysicalDisk : public TRandomAccessDisk {
public:
    using TRandomAccessDisk::TRandomAccessDisk;
    TPhysicalDisk(std::string Name, TMessageObject* Owner, std::string Description);

    // The name a user knows the disk by (\\.\PhysicalDrive1, /dev/sdb), set by detection;
    // Name is the path the program opens it by, which may be the system's internal one.
    std::string Device;
    // The drive letters on this disk (their OwnerDisk is it), set by detection; not owned. A
    // write open locks and dismounts each of them first and releases them at its close.
    std::vector<TLogicalDisk*> Volumes;
    // Why the disk must not be written as a whole, in words; empty when it may be. Set by
    // detection (the running system rests on it) or by a write open whose volume lock was
    // refused for good.
    std::string NotWipeable;
    // NotWipeable says a volume lock was refused for good (detection keeps that for the disk).
    bool LockRefused = false;
    // What the drive's own erase of the last wipe did; none when the method asked for none.
    std::optional<TFirmwareRecord> Firmware;
    // The run's whole NVMe drives (TWipeOptions), set with its other options.
    std::vector<std::string> WholeFirmwareDrives;
    void SetWipeOptions(const TWipeOptions& options) override;

    // A method with a firmware step: the step first, then its overwrite passes if any.
    void Wipe() override;
    bool FirmwareBusy() const override { return firmwareBusy_.load(); }
    void SetFirmwareBusy(bool busy) { firmwareBusy_.store(busy); }

protected:
    // The drive probed again on the device open for writing, for the run (null: none).
    virtual std::unique_ptr<TFirmwareDrive> OpenedFirmware() { return nullptr; }

private:
    std::atomic<bool> firmwareBusy_{false};
};

// What the user names a drive by: a drive letter, a disc drive's name, a whole disk's device.
const std::string& DriveName(const TDisk& disk);

class TSecvencialAccessDisk : public TDisk {
public:
    using TDisk::TDisk;
};

class TCDDVDDisk : public TSecvencialAccessDisk {
public:
    using TSecvencialAccessDisk::TSecvencialAccessDisk;

    bool QuickErase = true; // set by the wipe run from the option "QuickEraseCDDVD"

    void Open(bool readOnly) override { ReadOnly = readOnly; }
    void Close() override {}
    bool Interruptible() const override { return false; }
    bool TakesMethod() const override { return false; }
    void SetWipeOptions(const TWipeOptions& options) override;
};

// Creates a disk and reads its facts (init). A failure of init propagates; the object is
// destroyed. A disk whose model the system did not tell is known by what the drive list
// calls it: a record then still names the drive the user chose.
template <class T, class... A> std::unique_ptr<T> MakeDisk(A&&... args) {
    static_assert(std::is_base_of_v<TDisk, T>, "MakeDisk creates disks");
    auto disk = std::make_unique<T>(std::forward<A>(args)...);
    disk->init();
    if (disk->Identity.Model.empty())
        disk->Identity.Model = disk->Description;
    return disk;
}

} // namespace purgelet
