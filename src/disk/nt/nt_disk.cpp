#include "disk/nt/nt_disk.h"

#include "disk/identity.h"
#include "lang/catalogue.h"
#include "lang/language.h"
#include "methods/method.h"
#include "platform/system.h"

#include <cctype>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

namespace purgelet {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr const char* kLockRefusedDefault = "the lock of %s stays refused after every dismount";

constexpr DWORD kVolumeNameChars = 10000;

std::string Trim(const std::string& text) {
    std::size_t first = 0, last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= ' ')
        ++first;
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ')
        --last;
    return text.substr(first, last - first);
}

platform::UniqueHandle OpenReadOnly(const std::string& path) {
    return platform::UniqueHandle(platform::k32().CreateFileA(path.c_str(), GENERIC_READ, kShareAll,
                                                              nullptr, OPEN_EXISTING, 0, nullptr));
}

template <class T> bool Query(HANDLE handle, DWORD code, T* out) {
    std::memset(out, 0, sizeof(T));
    DWORD returned = 0;
    return platform::k32().DeviceIoControl(handle, code, nullptr, 0, out, sizeof(T), &returned,
                                           nullptr) != FALSE;
}

// On the device handle of a wipe, which may be open for overlapped transfers.
bool Control(HANDLE handle, DWORD code) {
    DWORD returned = 0;
    return TInFlight::Control(handle, code, nullptr, 0, nullptr, 0, &returned);
}

// The flags of a device opened for a wipe: no system buffering when the run asks for none or
// the wipe reads back (which must see the medium, not the cache); the run's choice writes
// through the device's cache as well.
DWORD OpenFlags(const TOpenMode& mode, bool readOnly, bool overlapped) {
    DWORD flags = overlapped ? FILE_FLAG_OVERLAPPED : 0;
    if (!readOnly && (mode.Unbuffered || mode.ReadBack))
        flags |= FILE_FLAG_NO_BUFFERING;
    if (!readOnly && mode.Unbuffered)
        flags |= FILE_FLAG_WRITE_THROUGH;
    return flags;
}

// Moves the handle to Block × BlockSize. SetFilePointer answers 0xFFFFFFFF both for a
// failure and for an offset whose low part is 0xFFFFFFFF; the last error tells them apart.
void Seek(HANDLE handle, std::int64_t Block, std::int32_t BlockSize, const char* cls) {
    const std::int64_t offset = Block * BlockSize;
    LONG high = static_cast<LONG>(static_cast<std::uint64_t>(offset) >> 32);
    platform::k32().SetLastError(ERROR_SUCCESS);
    DWORD low = platform::k32().SetFilePointer(
        handle, static_cast<LONG>(static_cast<std::uint32_t>(offset)), &high, FILE_BEGIN);
    if (low == INVALID_SET_FILE_POINTER && platform::k32().GetLastError() != ERROR_SUCCESS)
        throw XSystemCall(std::string(cls) + ".SetCurrentBlock(" + std::to_string(Block) +
                          ") : " + LastErrorText());
}

// The bytes of Count blocks, or 0 when that is not a transfer size the system takes.
DWORD TransferBytes(std::int32_t Count, std::int32_t BlockSize) {
    const std::int64_t bytes = static_cast<std::int64_t>(Count) * BlockSize;
    if (Count <= 0 || BlockSize <= 0 || bytes > 0xFFFFFFFFll)
        return 0;
    return static_cast<DWORD>(bytes);
}

template <class X>
[[noreturn]] void TransferFailed(const std::string& prefix, std::int64_t Block,
                                 std::int32_t Count) {
    throw X(prefix + std::to_string(Block) + "," + std::to_string(Count) +
            ") : " + LastErrorText());
}

// The transfers in flight of a disk whose device may be open for overlapped transfers: there
// they run through the slots, else as the base class runs them. The logical and the physical
// disk differ only in the names their failures carry.
struct TransfersOn {
    TRandomAccessDisk& disk;
    TInFlight& inFlight;
    HANDLE handle;
    bool overlapped;

    void Start(int slot, const TRandomAccessDisk::TTransfer& transfer) {
        if (!overlapped)
            disk.TRandomAccessDisk::StartTransfer(slot, transfer);
        else
            inFlight.Start(handle, slot, transfer, disk.BlockSize);
    }
    void Finish(int slot, const char* readName, const char* writeName) {
        if (!overlapped) {
            disk.TRandomAccessDisk::FinishTransfer(slot);
            return;
        }
        if (inFlight.Finish(handle, slot))
            return;
        const TRandomAccessDisk::TTransfer& transfer = inFlight.Of(slot);
        if (transfer.Write)
            TransferFailed<XWriteFile>(writeName, transfer.Block, transfer.Count);
        TransferFailed<XReadFile>(readName, transfer.Block, transfer.Count);
    }
    bool Pending(int slot) {
        return overlapped ? inFlight.Pending(handle, slot)
                          : disk.TRandomAccessDisk::TransferPending(slot);
    }
};

// Reads or writes Count blocks at the current position (at offset on a handle opened for
// overlapped transfers, which has none to use); a short transfer is the failure.
bool Transfer(HANDLE handle, void* buffer, DWORD bytes, bool write, bool overlapped,
              std::int64_t offset) {
    DWORD done = 0;
    if (bytes == 0)
        return false;
    if (overlapped)
        return TInFlight::Transfer(handle, buffer, bytes, offset, write);
    if (write)
        platform::k32().WriteFile(handle, buffer, bytes, &done, nullptr);
    else
        platform::k32().ReadFile(handle, buffer, bytes, &done, nullptr);
    return done == bytes;
}

// The device of a disk freed while open, released as its Close would (unlock, close). A
// destructor must not raise: our own exceptions have logged themselves, anything else is
// logged here, and the handle is closed even when Close gave up half-way. The system's last
// error is left as it was, for a failure that may be on its way out past the disk.
template <class Disk> void CloseOnRelease(Disk& disk) noexcept {
    if (disk.Handle() == INVALID_HANDLE_VALUE)
        return;
    const DWORD code = platform::k32().GetLastError();
    try {
        disk.Disk::Close();
    } catch (const XException&) {
    } catch (const std::exception& error) {
        try {
            LogSilently<XException>("Release of " + disk.Name + " - exception : " +
                                    ClassNameOf(error) + "- \"" + error.what() + "\"");
        } catch (...) {
        }
    } catch (...) {
    }
    platform::k32().SetLastError(code); // the handle itself closes quietly with the disk
}

} // namespace

std::string PartitionTypeName(std::uint8_t type) {
    switch (type) {
    case 1:
        return "FAT12";
    case 4:
    case 14:
        return "FAT16";
    case 7:
        return "NTFS";
    case 11:
    case 12:
        return "FAT32";
    default:
        return "Unknown";
    }
}

// ---- TNTLogicalDisk

TNTLogicalDisk::TNTLogicalDisk(std::string Name, TMessageObject* Owner)
    : TLogicalDisk(std::move(Name), Owner) {
    DevicePath = "\\\\.\\" + this->Name + ":";
}

TNTLogicalDisk::~TNTLogicalDisk() {
    CloseOnRelease(*this);
}

void TNTLogicalDisk::init() {
    auto& k = platform::k32();
    const std::string root = Name + ":\\";
    DriveType = 0;
    std::vector<char> volumeName(kVolumeNameChars, '\0');
    std::vector<char> fileSystemName(kVolumeNameChars, '\0');
    DWORD serial = 0, maxComponent = 0, flags = 0;
    std::string label, fsName;
    const bool volumeAnswers =
        k.GetVolumeInformationA(root.c_str(), volumeName.data(), kVolumeNameChars, &serial,
                                &maxComponent, &flags, fileSystemName.data(),
                                kVolumeNameChars) != FALSE;
    if (volumeAnswers) {
        volumeName.back() = fileSystemName.back() = '\0';
        fsName = Trim(fileSystemName.data());
        label = Trim(volumeName.data());
        FileSystem = fsName;
    } else {
        FileSystem = "Unknown";
        label = "Logical drive";
    }
    Description = label + " (" + Name + ":)";

    platform::UniqueHandle device = OpenReadOnly(DevicePath);
    const HANDLE handle = device.Get();
    if (!device)
        throw XNTCreateFile("NTLogicalDisk.init - CreateFile('" + DevicePath +
                            "') : " + LastErrorText());
    DISK_GEOMETRY geometry;
    if (!Query(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY, &geometry))
        throw XDeviceIOControl(
            "NTLogicalDisk.init - DeviceIoControl(IOCTL_DISK_GET_DRIVE_GEOMETRY) : " +
            LastErrorText());
    BlockSize = static_cast<std::int32_t>(geometry.BytesPerSector);
    StartingOffset = 0;

    PARTITION_INFORMATION partition;
    if (!Query(handle, IOCTL_DISK_GET_PARTITION_INFO, &partition))
        throw XDeviceIOControl(
            "NTLogicalDisk.init - DeviceIoControl(IOCTL_DISK_GET_PARTITION_INFO) : " +
            LastErrorText());
    StartingOffset = partition.StartingOffset.QuadPart;
    BootIndicator = partition.BootIndicator;
    Size = partition.PartitionLength.QuadPart;
    // A device that reports no sector size cannot be divided into blocks.
    if (BlockSize <= 0)
        throw XGeometryError("Geometry error - " + Name + " (" + DevicePath + ")");
    BlockCount = Size / BlockSize;
    if (fsName.empty())
        FileSystem = PartitionTypeName(partition.PartitionType);
    if (Size % BlockSize != 0)
        throw XGeometryError("Geometry error - " + Name + " (" + DevicePath + ")");

    STORAGE_DEVICE_NUMBER number;
    if (Query(handle, IOCTL_STORAGE_GET_DEVICE_NUMBER, &number)) {
        PartitionNumber = static_cast<std::int32_t>(number.PartitionNumber);
        DeviceNumber = static_cast<std::int32_t>(number.DeviceNumber);
    } else {
        // Not every volume lies on a numbered disk: recorded, and the disk has no owner.
        LogSilently<XDeviceIOControl>(
            "NTLogicalDisk.init - DeviceIoControl(IOCTL_STORAGE_GET_DEVICE_NUMBER) : " +
            LastErrorText());
        PartitionNumber = -1;
        DeviceNumber = -1;
    }
    Identity = QueryDeviceIdentity(handle); // a volume answers for the disk it lies on
    device.Reset(); // the volume is not held open while the shell is asked about it

    DriveType = DriveTypeOf(Name, "TNTLogicalDisk.init");

    if (volumeAnswers && label.empty()) {
        const char* kind = DriveType == 1   ? "Local Disk"
                           : DriveType == 2 ? "Floppy"
                           : DriveType == 3 ? "Removable Disk"
                                            : "Unknown Disk";
        Description = std::string(kind) + " (" + Name + ":)";
    }
    TakeShellDisplayName(root);
}

void TNTLogicalDisk::TakeShellDisplayName(const std::string& root) {
    purgelet::TakeShellDisplayName(Description, root);
}

void TNTLogicalDisk::Open(bool readOnly) {
    OpenIn(readOnly, TOpenMode{});
}

void TNTLogicalDisk::OpenForWipe(const TOpenMode& mode) {
    OpenIn(false, mode);
}

void TNTLogicalDisk::OpenAgain(bool readOnly, TOpenMode mode) {
    if (readOnly)
        Open(true);
    else
        OpenForWipe(mode);
}

void TNTLogicalDisk::OpenIn(bool readOnly, const TOpenMode& mode) {
    ReadOnly = readOnly;
    Mode = readOnly ? TOpenMode{} : mode;
    const DWORD access = readOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    Overlapped = !readOnly && Mode.TransfersInFlight > 1;
    DeviceHandle.Reset(platform::k32().CreateFileA(DevicePath.c_str(), access, kShareAll, nullptr,
                                                   OPEN_EXISTING,
                                                   OpenFlags(Mode, readOnly, Overlapped), nullptr));
    if (!DeviceHandle)
        throw XNTCreateFile("TNTLogicalDisk.Open - CreateFile(" + DevicePath +
                            ") : " + LastErrorText());
    if (readOnly)
        return;
    try {
        Lock();
    } catch (...) {
        // A volume we could not lock is not left open behind the caller's back.
        DeviceHandle.Reset();
        throw;
    }
}

void TNTLogicalDisk::Lock() {
    if (Control(DeviceHandle.Get(), FSCTL_LOCK_VOLUME)) {
        LockRefusedForGood = false;
        return;
    }
    const DWORD code = platform::k32().GetLastError();
    const std::string text = platform::k32().SysErrorMessage(code);
    // A volume that something takes again after every dismount would keep the question coming
    // back for ever (and the reopen below nests once more each time): after a few forced
    // dismounts the refusal stands.
    const int answer = forcedDismounts_ < kMaxForcedDismounts
                           ? Asked(Mode).Message(mkQueryForceDisMount, Description,
                                                 TMsgDlgType::mtConfirmation, mbYesNo)
                           : mrNone;
    if (answer != mrYes) {
        LockRefusedForGood = forcedDismounts_ >= kMaxForcedDismounts;
        platform::k32().SetLastError(code);
        throw Xlock("TNTLogicalDisk.Lock - DeviceIoControl(FSCTL_LOCK_VOLUME) : " + text);
    }
    DisMount();
    DeviceHandle.Reset();
    struct Nesting {
        int& depth;
        explicit Nesting(int& d) : depth(++d) {}
        ~Nesting() { --depth; }
    } nesting(forcedDismounts_);
    OpenAgain(ReadOnly, Mode); // opens afresh and locks again, asking again on a second refusal
}

void TNTLogicalDisk::UnLock() {
    if (!Control(DeviceHandle.Get(), FSCTL_UNLOCK_VOLUME))
        throw XUnLock("TNTLogicalDisk.UnLock - DeviceIoControl(FSCTL_UNLOCK_VOLUME) : " +
                      LastErrorText());
}

void TNTLogicalDisk::DisMount() {
    if (!Control(DeviceHandle.Get(), FSCTL_DISMOUNT_VOLUME))
        throw XDisMount("TNTLogicalDisk.DisMount - DeviceIoControl(FSCTL_DISMOUNT_VOLUME) : " +
                        LastErrorText());
}

void TNTLogicalDisk::Close() {
    Mode = {};
    if (!DeviceHandle)
        return;
    InFlight.Cancel(DeviceHandle.Get());
    if (!ReadOnly) {
        try {
            UnLock();
        } catch (...) {
            // Closing the handle releases the lock too: do it, then report the failure.
            DeviceHandle.Reset();
            throw;
        }
    }
    if (!DeviceHandle.Close())
        throw XSystemCall("TNTLogicalDisk.Close - CloseHandle : " + LastErrorText());
}

void TNTLogicalDisk::SetCurrentBlock(std::int64_t Block) {
    Seek(DeviceHandle.Get(), Block, BlockSize, "TNTLogicalDisk");
}

void TNTLogicalDisk::ReadBlocks(void* Buffer, std::int32_t Count, std::int64_t Block) {
    SetCurrentBlock(Block);
    if (!Transfer(DeviceHandle.Get(), Buffer, TransferBytes(Count, BlockSize), false, Overlapped,
                  Block * BlockSize))
        TransferFailed<XReadFile>("TNTLogicalDisk.ReadBlocks : (buff,", Block, Count);
}

void TNTLogicalDisk::WriteBlocks(const void* Buffer, std::int32_t Count, std::int64_t Block) {
    if (ReadOnly)
        throw XReadOnly("Read only !!!");
    SetCurrentBlock(Block);
    if (!Transfer(DeviceHandle.Get(), const_cast<void*>(Buffer), TransferBytes(Count, BlockSize),
                  true, Overlapped, Block * BlockSize))
        TransferFailed<XWriteFile>("TNTLogicalDisk.WriteBlocks : (buff,", Block, Count);
}

void TNTLogicalDisk::PrepareToRetry() {
    LogSilently<XPrepareToRetry>("TNTLogicalDisk.PrepareToRetry : " + Name);
    const bool readOnly = ReadOnly;
    const TOpenMode mode = Mode; // the close forgets it
    Close();
    OpenAgain(readOnly, mode);
}

int TNTLogicalDisk::getPropertiesCount() {
    TLogicalDisk::getPropertiesCount();
    if (OwnerDisk != nullptr)
        AddProperty(propOwner, OwnerDisk->Description);
    return static_cast<int>(Properties.size());
}

// ---- TNTPhysicalDisk

TNTPhysicalDisk::TNTPhysicalDisk(std::string Name, TMessageObject* Owner, std::string Description)
    : TPhysicalDisk(Name, Owner, std::move(Description)), DevicePath(std::move(Name)) {}

TNTPhysicalDisk::~TNTPhysicalDisk() {
    CloseOnRelease(*this);
}

void TNTPhysicalDisk::init() {
    OwnerDisk = nullptr;
    PartitionNumber = 0;
    platform::UniqueHandle device = OpenReadOnly(DevicePath);
    const HANDLE handle = device.Get();
    if (!device)
        throw XNTCreateFile("NTPhysical.init - CreateFile('" + DevicePath +
                            "') : " + LastErrorText());
    DISK_GEOMETRY geometry;
    if (!Query(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY, &geometry))
        throw XDeviceIOControl(
            "NTPhysicalDisk.init - DeviceIoControl(IOCTL_DISK_GET_DRIVE_GEOMETRY) : " +
            LastErrorText());
    StartingOffset = 0;
    BlockSize = static_cast<std::int32_t>(geometry.BytesPerSector);
    // The geometry counts whole cylinders only, which leaves up to a cylinder (about 8 MiB,
    // where the backup GPT lives) out of the disk: the length is the device's own. A system
    // that does not answer for it (before Windows XP) has only the cylinders to go by.
    GET_LENGTH_INFORMATION length;
    const bool lengthKnown = BlockSize > 0 && Query(handle, IOCTL_DISK_GET_LENGTH_INFO, &length) &&
                             length.Length.QuadPart > 0;
    if (lengthKnown) {
        BlockCount = length.Length.QuadPart / BlockSize;
    } else {
        if (BlockSize > 0)
            LogSilently<XDeviceIOControl>(
                "NTPhysicalDisk.init - DeviceIoControl(IOCTL_DISK_GET_LENGTH_INFO) : " +
                LastErrorText());
        BlockCount = static_cast<std::int64_t>(geometry.SectorsPerTrack) *
                     geometry.TracksPerCylinder * geometry.Cylinders.QuadPart;
    }
    Size = BlockCount * BlockSize;
    switch (geometry.MediaType) {
    case Unknown:
        DriveType = 0;
        break;
    case RemovableMedia:
        DriveType = 3;
        break;
    case FixedMedia:
        DriveType = 1;
        break;
    default:
        DriveType = 2;
        break;
    }
    STORAGE_DEVICE_NUMBER number;
    if (!Query(handle, IOCTL_STORAGE_GET_DEVICE_NUMBER, &number))
        throw XDeviceIOControl(
            "NTPhysicalDisk.init - DeviceIoControl(IOCTL_STORAGE_GET_DEVICE_NUMBER) : " +
            LastErrorText());
    PartitionNumber = 0;
    DeviceNumber = static_cast<std::int32_t>(number.DeviceNumber);
    Device = platform::k32().DiskDeviceName(number.DeviceNumber);
    Identity = QueryDeviceIdentity(handle);
}

void TNTPhysicalDisk::Open(bool readOnly) {
    OpenIn(readOnly, TOpenMode{});
}

void TNTPhysicalDisk::OpenForWipe(const TOpenMode& mode) {
    OpenIn(false, mode);
}

void TNTPhysicalDisk::OpenIn(bool readOnly, const TOpenMode& mode) {
    ReadOnly = readOnly;
    Mode = readOnly ? TOpenMode{} : mode;
    if (!readOnly) {
        // The drive list is not the only way here (a command line names disks too), and what
        // the system rests on may have changed since it was drawn: asked again at the open.
        std::string why = LockRefused ? std::string() : NotWipeable;
        if (why.empty() && DeviceNumber >= 0)
            why = platform::k32().WhyDiskRefused(static_cast<DWORD>(DeviceNumber)).value_or("");
        if (!why.empty()) {
            platform::k32().SetLastError(ERROR_ACCESS_DENIED);
            throw XNTCreateFile("TNTPhysicalDisk.Open - " + Description + " (" + DevicePath +
                                ") cannot be wiped: " + why);
        }
        // Writing the whole disk writes every volume on it: each is locked (and dismounted
        // when the user agrees) before the disk is opened, so that no file system works on it
        // meanwhile.
        Lock();
    }
    const DWORD access = readOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    // The drive's own commands go as plain DeviceIoControl requests, which an overlapped handle
    // would take without waiting for them: a wipe that sends one keeps one transfer at a time.
    Overlapped = !readOnly && Mode.TransfersInFlight > 1 && !Mode.Firmware;
    for (int dismounts = 0;; ++dismounts) {
        DeviceHandle.Reset(platform::k32().CreateFileA(
            DevicePath.c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
            OpenFlags(Mode, readOnly, Overlapped), nullptr));
        if (DeviceHandle)
            return;
        const DWORD code = platform::k32().GetLastError();
        const std::string text = platform::k32().SysErrorMessage(code);
        // A system that refuses the disk while a volume without a drive letter is mounted on
        // it: the same question as a drive letter's, then every volume of the disk goes.
        if (!readOnly && code == ERROR_BUSY && dismounts < TNTLogicalDisk::kMaxForcedDismounts &&
            Asked(Mode).Message(mkQueryForceDisMount, Description + "\r\n" + text,
                                TMsgDlgType::mtConfirmation, mbYesNo) == mrYes) {
            platform::UniqueHandle whole = OpenReadOnly(DevicePath);
            if (whole && Control(whole.Get(), FSCTL_DISMOUNT_VOLUME))
                continue;
            const std::string failure = LastErrorText();
            const DWORD failed = platform::k32().GetLastError();
            ReleaseVolumes();
            platform::k32().SetLastError(failed); // what the exception tells the user
            throw XDisMount("TNTPhysicalDisk.Open - DeviceIoControl(FSCTL_DISMOUNT_VOLUME) : " +
                            failure);
        }
        if (!readOnly)
            ReleaseVolumes();
        platform::k32().SetLastError(code);
        if (code == ERROR_BUSY)
            throw Xlock("TNTPhysicalDisk.Open - CreateFile(" + DevicePath + ") : " + text);
        throw XNTCreateFile("TNTPhysicalDisk.Open - CreateFile(" + DevicePath + ") : " + text);
    }
}

void TNTPhysicalDisk::Lock() {
    std::size_t locked = 0;
    try {
        for (; locked < Volumes.size(); ++locked) {
            // A volume's question (force a dismount?) is this wipe's: it goes to the sink the
            // disk is opened with, the drive's own in a run of several, not to the volume's
            // owner from this thread. The volume is opened plainly otherwise.
            TLogicalDisk& volume = *Volumes[locked];
            TOpenMode plain;
            plain.Asks = &Asked(Mode);
            volume.OpenForWipe(plain);
            // The lock only keeps others out: the file system still holds its metadata and
            // would write it back over the wiped disk. Dismounted, it has none left.
            if (auto* nt = dynamic_cast<TNTLogicalDisk*>(&volume)) {
                try {
                    nt->DisMount();
                } catch (...) {
                    nt->CloseAfterFailure();
                    throw;
                }
            }
        }
    } catch (...) {
        TLogicalDisk* refused = Volumes[locked];
        if (refused->LockRefusedForGood) {
            LockRefused = true;
            NotWipeable =
                FillIn(GetLngText("Purgelet", "WHOLEDISK_LOCKREFUSED", kLockRefusedDefault),
                       {refused->Description});
        }
        for (std::size_t i = 0; i < locked; ++i)
            Volumes[i]->CloseAfterFailure();
        throw;
    }
}

void TNTPhysicalDisk::UnLock() {
    // Every volume is released even when one of them fails to; the first failure is told.
    std::exception_ptr first;
    for (TLogicalDisk* volume : Volumes) {
        try {
            volume->Close();
        } catch (...) {
            if (!first)
                first = std::current_exception();
        }
    }
    if (first)
        std::rethrow_exception(first);
}

void TNTPhysicalDisk::ReleaseVolumes() noexcept {
    for (TLogicalDisk* volume : Volumes)
        volume->CloseAfterFailure();
}

void TNTPhysicalDisk::Close() {
    Mode = {};
    if (!DeviceHandle)
        return;
    InFlight.Cancel(DeviceHandle.Get());
    const bool wrote = !ReadOnly;
    if (!DeviceHandle.Close()) {
        const std::string text = "TNTPhysicalDisk.Close - CloseHandle : " + LastErrorText();
        if (wrote)
            ReleaseVolumes();
        throw XSystemCall(text);
    }
    if (wrote)
        UnLock();
}

void TNTPhysicalDisk::SetCurrentBlock(std::int64_t Block) {
    Seek(DeviceHandle.Get(), Block, BlockSize, "TNTPhysicalDisk");
}

void TNTPhysicalDisk::ReadBlocks(void* Buffer, std::int32_t Count, std::int64_t Block) {
    SetCurrentBlock(Block);
    if (!Transfer(DeviceHandle.Get(), Buffer, TransferBytes(Count, BlockSize), false, Overlapped,
                  Block * BlockSize))
        TransferFailed<XReadFile>("TNTPhysicalDisk.ReadBlocks(buff,", Block, Count);
}

void TNTPhysicalDisk::WriteBlocks(const void* Buffer, std::int32_t Count, std::int64_t Block) {
    if (ReadOnly)
        throw XReadOnly("Read only !!!");
    SetCurrentBlock(Block);
    if (!Transfer(DeviceHandle.Get(), const_cast<void*>(Buffer), TransferBytes(Count, BlockSize),
                  true, Overlapped, Block * BlockSize))
        TransferFailed<XWriteFile>("TNTPhysicalDisk.WriteBlocks(buff,", Block, Count);
}

const TFirmwareDrive* TNTPhysicalDisk::ProbedFirmware() {
    // Once per disk, not per redraw: the probe sends identify commands, which take time.
    if (probeTried_)
        return probed_.get();
    probeTried_ = true;
    if (!FirmwareProbe)
        return nullptr;
    if (DeviceHandle) {
        probed_ = FirmwareProbe(DeviceHandle.Get());
    } else {
        // The pass-through requests need a handle with write access, as Windows wants it;
        // the probe only asks (identify, status), it writes nothing and locks nothing.
        platform::UniqueHandle device(
            platform::k32().CreateFileA(DevicePath.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
        // A system that opens a disk for writing only while none of its volumes is mounted
        // still answers the requests on a handle opened for reading.
        if (!device)
            device = OpenReadOnly(DevicePath);
        if (device)
            probed_ = FirmwareProbe(device.Get());
    }
    return probed_.get();
}

std::unique_ptr<TFirmwareDrive> TNTPhysicalDisk::OpenedFirmware() {
    if (!DeviceHandle || !FirmwareProbe)
        return nullptr;
    return FirmwareProbe(DeviceHandle.Get());
}

void TNTLogicalDisk::StartTransfer(int Slot, const TTransfer& Transfer) {
    TransfersOn{*this, InFlight, DeviceHandle.Get(), Overlapped}.Start(Slot, Transfer);
}

void TNTLogicalDisk::FinishTransfer(int Slot) {
    TransfersOn{*this, InFlight, DeviceHandle.Get(), Overlapped}.Finish(
        Slot, "TNTLogicalDisk.ReadBlocks : (buff,", "TNTLogicalDisk.WriteBlocks : (buff,");
}

void TNTLogicalDisk::CancelTransfers() noexcept {
    TRandomAccessDisk::CancelTransfers();
    InFlight.Cancel(DeviceHandle.Get());
}

bool TNTLogicalDisk::TransferPending(int Slot) {
    return TransfersOn{*this, InFlight, DeviceHandle.Get(), Overlapped}.Pending(Slot);
}

void TNTPhysicalDisk::StartTransfer(int Slot, const TTransfer& Transfer) {
    TransfersOn{*this, InFlight, DeviceHandle.Get(), Overlapped}.Start(Slot, Transfer);
}

void TNTPhysicalDisk::FinishTransfer(int Slot) {
    TransfersOn{*this, InFlight, DeviceHandle.Get(), Overlapped}.Finish(
        Slot, "TNTPhysicalDisk.ReadBlocks(buff,", "TNTPhysicalDisk.WriteBlocks(buff,");
}

void TNTPhysicalDisk::CancelTransfers() noexcept {
    TRandomAccessDisk::CancelTransfers();
    InFlight.Cancel(DeviceHandle.Get());
}

bool TNTPhysicalDisk::TransferPending(int Slot) {
    return TransfersOn{*this, InFlight, DeviceHandle.Get(), Overlapped}.Pending(Slot);
}

} // namespace purgelet
