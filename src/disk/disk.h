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
// and the half-built object is destroyed. A disk never owns its Owner or its OwnerDisk, and
// holds nothing of a wipe: that is the TWipeContext's, passed through every step.
#pragma once

#include "disk/firmware_wipe.h"
#include "disk/message_object.h"
#include "disk/wipe_context.h"
#include "platform/identity.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace purgelet {

class method;

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
    std::uint8_t DriveType = 4;       // 0 unknown, 1 fixed, 2 floppy, 3 removable, 5 CD, 6 RAM
    TDisk* OwnerDisk = nullptr;       // the physical disk of a logical disk; not owned
    std::int64_t StartingOffset = 0;  // byte offset of the partition on its physical disk
    std::int32_t PartitionNumber = 0; // -1 when the system does not tell it
    bool ReadOnly = true;             // the mode of the last Open
    // Who made the disk (the disk manager): asked and told outside a wipe (a plain open that
    // must ask, a format on its own), and the sink of a wipe that names none; not owned.
    TMessageObject* Owner;
    std::int32_t DeviceNumber = 0; // -1 when the system does not tell it
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
    // Overwrites the open disk as the wipe says (its method, sink, generators, options).
    virtual void Wipe(TWipeContext& wipe) = 0;
    virtual void init() = 0; // reads the medium's facts; called by MakeDisk
    // A plain open: read-only, or for writing with the system's cache; asks the Owner.
    virtual void Open(bool readOnly) = 0;
    // An open for writing as a wipe (or a whole disk locking its volumes) wants it. A disk
    // with nothing to choose opens for writing plainly.
    virtual void OpenForWipe(const TOpenMode& mode);
    virtual void Close() = 0;

    // Opens for writing, wipes, closes, and for a drive letter formats when the wipe asks for
    // it; what the wipe found is left in the context. Raises the program's exceptions.
    void WipeDisk(TWipeContext& wipe);
    // A wipe with a context of its own, its messages going to the Owner.
    void WipeDisk(const method* Method, bool Format, std::uint8_t FileSystem,
                  std::int32_t ClusterSize, const std::string& Label);
    void WipeDiskWithParams(const method* Method, bool Format, const TFormatParams& Params);

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
    // The drive's own erase: the drive as probed once, reading only (null: this disk can
    // take none, e.g. it is no whole disk or cannot be opened).
    virtual const TFirmwareDrive* ProbedFirmware() { return nullptr; }
    // The drive works on a command of its own that cannot be paused or stopped. Readable
    // from any thread.
    virtual bool FirmwareBusy() const { return false; }

    // Who is asked and told outside a wipe: the Owner, or for a disk made without one a
    // plain sink of its own (nothing is retried, skipped or forced, nobody is told).
    TMessageObject& Sink() { return Owner != nullptr ? *Owner : headless_; }
    // Who an open in mode asks: the mode's, else as outside a wipe.
    TMessageObject& Asked(const TOpenMode& mode) {
        return mode.Asks != nullptr ? *mode.Asks : Sink();
    }

    // Closes the device while another failure is on its way out: that failure is what the
    // caller must act on (an abort must stay an abort), so a failing Close does not replace
    // it; its own exception has already logged itself.
    void CloseAfterFailure() noexcept;

protected:
    // The wipe of the disk's kind: here the frame, OpenWipeClose; a drive letter formats after.
    virtual void WipeAndFormat(TWipeContext& wipe);
    // The frame of every wipe: open for writing, run Wipe, close even when Wipe raises.
    void OpenWipeClose(TWipeContext& wipe);

private:
    // One per disk, not shared: several disks may be wiped at once, each on its own thread.
    TMessageObject headless_;
};

// A disk open for the guard's life. Close() is the close whose failure counts; a guard left
// while a failure is on its way out closes the disk with CloseAfterFailure.
class TOpenedDisk {
public:
    TOpenedDisk(TDisk& disk, bool readOnly) : disk_(disk) { disk_.Open(readOnly); }
    TOpenedDisk(TDisk& disk, const TOpenMode& mode) : disk_(disk) { disk_.OpenForWipe(mode); }
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
    // bytes, the transfers and the calls to the sink are the same either way.
    bool OverlapTransfers = true;

    // Overwrites every block once per pass of the wipe's method, verifies where the method
    // says so. The method is only read; the pass cursor and the fill flag live in the wipe.
    void Wipe(TWipeContext& wipe) override;
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
    // Transfers in flight, each in a slot of the caller's (0 to the depth - 1): Start
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

    // Blocks per transfer for bufferSize bytes wanted (0 the default), never more than a
    // buffer of capacity bytes holds (at least 1 while a block fits).
    std::int32_t ChunkBlocks(std::int64_t capacity, std::int32_t bufferSize) const;

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
    // Formats, telling the wipe's sink its progress (the last share after the method's
    // passes) and asking it the questions.
    virtual void Format(const TFormatParams& Params, TWipeContext& wipe) = 0;

protected:
    // Formats after the wipe when the wipe says so, and only when the wipe and Close
    // succeeded.
    void WipeAndFormat(TWipeContext& wipe) override;
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
    // A method with a firmware step: the step first, then its overwrite passes if any.
    void Wipe(TWipeContext& wipe) override;
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

    void Open(bool readOnly) override { ReadOnly = readOnly; }
    void Close() override {}
    bool Interruptible() const override { return false; }
    bool TakesMethod() const override { return false; }
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
