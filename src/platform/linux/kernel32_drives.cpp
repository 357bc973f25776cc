// kernel32's drives and devices on Linux: letters over block devices (the drive map), the
// disk control codes answered from the block-device ioctls and the partition table, the
// volume lock as an exclusive open and the dismount as a real unmount.
#include "platform/drive_letter.h"
#include "platform/linux/ata_pass_through.h"
#include "platform/linux/errors.h"
#include "platform/linux/kernel32.h"
#include "platform/linux/nvme_admin.h"
#include "platform/linux/running_system.h"
#include "platform/linux/storage_identity.h"
#include "platform/linux/sysfs.h"
#include "platform/linux/volume.h"
#include "platform/storage_pass_through.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace platform::linux_backend {

namespace {

static_assert(sizeof(DISK_GEOMETRY) == 24);
static_assert(FILE_DEVICE_DISK == 7);

// Floppy media by capacity, as Windows names them.
MEDIA_TYPE FloppyMedia(std::int64_t size) {
    switch (size) {
    case 1474560:
        return F3_1Pt44_512;
    case 2949120:
        return F3_2Pt88_512;
    case 737280:
        return F3_720_512;
    case 1228800:
        return F5_1Pt2_512;
    case 368640:
        return F5_360_512;
    default:
        return RemovableMedia;
    }
}

// The bytes of the device (block) or image file behind fd; false with errno set.
bool SizeOf(int fd, bool block, std::uint64_t& bytes) {
    if (block)
        return ioctl(fd, BLKGETSIZE64, &bytes) == 0;
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return false;
    bytes = static_cast<std::uint64_t>(st.st_size);
    return true;
}

template <class T> bool Answer(const T& value, LPVOID out, DWORD outSize, LPDWORD returned) {
    if (out == nullptr || outSize < sizeof(T))
        return false;
    std::memcpy(out, &value, sizeof(T));
    if (returned != nullptr)
        *returned = sizeof(T);
    return true;
}

// What a floppy drive takes, medium or not: 3.5" high and double density.
void FloppyMediaTypes(DISK_GEOMETRY (&types)[2]) {
    types[0].MediaType = F3_1Pt44_512;
    types[0].Cylinders.QuadPart = 80;
    types[0].TracksPerCylinder = 2;
    types[0].SectorsPerTrack = 18;
    types[0].BytesPerSector = 512;
    types[1] = types[0];
    types[1].MediaType = F3_720_512;
    types[1].SectorsPerTrack = 9;
}

// IOCTL_DISK_GET_DRIVE_GEOMETRY for the device (block) or image file behind fd, opened as
// drive or as a whole disk; ERROR_SUCCESS or why not.
DWORD DriveGeometry(int fd, bool block, const std::optional<Drive>& drive,
                    DISK_GEOMETRY& geometry) {
    int sectorSize = 512;
    std::uint64_t bytes = 0;
    if ((block && ioctl(fd, BLKSSZGET, &sectorSize) != 0) || !SizeOf(fd, block, bytes))
        return Win32ErrorFromErrno(errno);
    if (bytes == 0)
        return ERROR_NOT_READY; // no medium
    geometry.BytesPerSector = static_cast<DWORD>(sectorSize);
    const std::uint64_t sectors = bytes / static_cast<std::uint64_t>(sectorSize);
    // The device's own heads and sectors where they divide it exactly; otherwise one sector
    // per track, so that cylinders × heads × sectors is never short of the device.
    hd_geometry hd{};
    if (block && ioctl(fd, HDIO_GETGEO, &hd) == 0 && hd.heads != 0 && hd.sectors != 0 &&
        sectors % (static_cast<std::uint64_t>(hd.heads) * hd.sectors) == 0) {
        geometry.TracksPerCylinder = hd.heads;
        geometry.SectorsPerTrack = hd.sectors;
        geometry.Cylinders.QuadPart =
            static_cast<LONGLONG>(sectors / (static_cast<std::uint64_t>(hd.heads) * hd.sectors));
    } else {
        geometry.TracksPerCylinder = 1;
        geometry.SectorsPerTrack = 1;
        geometry.Cylinders.QuadPart = static_cast<LONGLONG>(sectors);
    }
    const bool floppy = drive && drive->kind == DriveKind::Floppy;
    geometry.MediaType = floppy ? FloppyMedia(static_cast<std::int64_t>(bytes))
                         : (drive && drive->removable) ? RemovableMedia
                                                       : FixedMedia;
    return ERROR_SUCCESS;
}

// IOCTL_DISK_GET_PARTITION_INFO: a partition's place and type from its disk's table; a
// whole disk or image is one recognised partition from its start.
DWORD PartitionInformation(int fd, bool block, const std::optional<Drive>& drive,
                           PARTITION_INFORMATION& partition) {
    std::uint64_t bytes = 0;
    if (!SizeOf(fd, block, bytes))
        return Win32ErrorFromErrno(errno);
    partition.PartitionLength.QuadPart = static_cast<LONGLONG>(bytes);
    partition.RecognizedPartition = TRUE;
    if (drive && drive->kind == DriveKind::Partition) {
        partition.StartingOffset.QuadPart = drive->start;
        partition.HiddenSectors = static_cast<DWORD>(drive->start / 512);
        partition.PartitionNumber = drive->partitionNumber;
        if (auto entry =
                ReadPartitionEntry(drive->wholeDisk, static_cast<int>(drive->partitionNumber))) {
            partition.PartitionType = entry->type;
            partition.BootIndicator = entry->boot ? TRUE : FALSE;
        }
    }
    return ERROR_SUCCESS;
}

} // namespace

DriveMap& LinuxKernel32::Drives() {
    return *drives_;
}

bool LinuxKernel32::MayWrite(dev_t device) {
    std::lock_guard<std::mutex> lock(drivesMutex_);
    DetectOnce();
    return !drives_->System().WhyRefused(device);
}

std::optional<std::string> LinuxKernel32::WhyNotWritable(const std::string& node) {
    std::lock_guard<std::mutex> lock(drivesMutex_);
    DetectOnce();
    const RunningSystem& system = drives_->System();
    struct stat st {};
    if (stat(node.c_str(), &st) == 0 && S_ISBLK(st.st_mode))
        return system.WhyRefused(st.st_rdev);
    return system.WhyRefusedImage(node); // an image file: the loop devices over it
}

std::optional<std::string> LinuxKernel32::WhyDiskRefused(DWORD deviceNumber) {
    std::string node;
    {
        std::lock_guard<std::mutex> lock(drivesMutex_);
        DetectOnce();
        const PhysicalDisk* disk = drives_->DiskByNumber(deviceNumber);
        if (disk == nullptr)
            return std::nullopt;
        if (!disk->offered)
            return "the map file " + drives_->MapFile() +
                   " names partitions of it, not the whole disk";
        node = disk->node;
    }
    return WhyNotWritable(node);
}

std::string LinuxKernel32::DiskDeviceName(DWORD deviceNumber) {
    std::lock_guard<std::mutex> lock(drivesMutex_);
    DetectOnce();
    const PhysicalDisk* disk = drives_->DiskByNumber(deviceNumber);
    return disk != nullptr ? disk->node : Kernel32::DiskDeviceName(deviceNumber);
}

std::optional<DWORD> LinuxKernel32::DiskNumberOfPath(const std::string& path) {
    // By the device the path leads to, so that a link (/dev/disk/by-id/...) names its disk.
    struct stat wanted {};
    if (stat(path.c_str(), &wanted) != 0 || !S_ISBLK(wanted.st_mode))
        return std::nullopt;
    std::lock_guard<std::mutex> lock(drivesMutex_);
    DetectOnce();
    for (const PhysicalDisk& disk : drives_->Disks()) {
        struct stat st {};
        if (stat(disk.node.c_str(), &st) == 0 && S_ISBLK(st.st_mode) &&
            st.st_rdev == wanted.st_rdev)
            return disk.number;
    }
    return std::nullopt;
}

std::vector<Kernel32::DeviceNotOffered> LinuxKernel32::DevicesNotOffered() {
    std::lock_guard<std::mutex> lock(drivesMutex_);
    return drives_->LeftOut();
}

void LinuxKernel32::DetectOnce() {
    if (!detected_) {
        drives_->Detect();
        detected_ = true;
    }
}

bool LinuxKernel32::ResolveDeviceName(const std::string& name, File& file) {
    std::unique_lock<std::mutex> lock(drivesMutex_);
    DetectOnce();
    const std::string rest = name.substr(4);
    const Drive* drive = nullptr;
    const PhysicalDisk* disk = nullptr;
    if (rest.size() == 2 && rest[1] == ':') {
        const char letter = DriveLetterOf(rest);
        drive = letter != 0 ? drives_->ByLetter(letter) : nullptr;
        if (drive == nullptr)
            return false;
        file.drive = *drive;
        file.node = drive->node;
    } else {
        static const char kPhysical[] = "physicaldrive";
        std::string lower = rest;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (lower.rfind(kPhysical, 0) != 0 || lower.size() == sizeof(kPhysical) - 1)
            return false;
        const std::string digits = lower.substr(sizeof(kPhysical) - 1);
        if (!std::all_of(digits.begin(), digits.end(),
                         [](unsigned char c) { return std::isdigit(c) != 0; }))
            return false;
        disk = drives_->DiskByNumber(static_cast<std::uint32_t>(std::stoul(digits)));
        if (disk == nullptr || !disk->offered)
            return false;
        file.physical = true;
        file.node = disk->node;
    }
    lock.unlock(); // what the file needs of the map is copied
    struct stat st {};
    if (stat(file.node.c_str(), &st) == 0 && S_ISBLK(st.st_mode))
        file.device = st.st_rdev;
    return true;
}

BOOL LinuxKernel32::DriveControl(File& file, DWORD code, LPVOID out, DWORD outSize,
                                 LPDWORD returned) {
    if (file.node.empty()) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    const bool block = file.device != 0;
    auto fail = [this](DWORD error) {
        SetLastError(error);
        return FALSE;
    };
    auto answered = [&](const auto& value) {
        if (!Answer(value, out, outSize, returned))
            return fail(ERROR_INSUFFICIENT_BUFFER);
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    };
    switch (code) {
    case IOCTL_DISK_GET_MEDIA_TYPES:
        if (file.drive && file.drive->kind == DriveKind::Floppy) {
            DISK_GEOMETRY types[2] = {};
            FloppyMediaTypes(types);
            return answered(types);
        }
        [[fallthrough]];
    case IOCTL_DISK_GET_DRIVE_GEOMETRY: {
        DISK_GEOMETRY geometry{};
        if (const DWORD error = DriveGeometry(file.fd, block, file.drive, geometry);
            error != ERROR_SUCCESS)
            return fail(error);
        return answered(geometry);
    }
    case IOCTL_DISK_GET_LENGTH_INFO: {
        std::uint64_t bytes = 0;
        if (!SizeOf(file.fd, block, bytes))
            return fail(Win32ErrorFromErrno(errno));
        if (bytes == 0)
            return fail(ERROR_NOT_READY); // no medium
        GET_LENGTH_INFORMATION length{};
        length.Length.QuadPart = static_cast<LONGLONG>(bytes);
        return answered(length);
    }
    case IOCTL_DISK_GET_PARTITION_INFO: {
        PARTITION_INFORMATION partition{};
        if (const DWORD error = PartitionInformation(file.fd, block, file.drive, partition);
            error != ERROR_SUCCESS)
            return fail(error);
        return answered(partition);
    }
    case IOCTL_STORAGE_GET_DEVICE_NUMBER: {
        const std::optional<std::uint32_t> diskNumber = DiskNumberOf(file);
        if (!diskNumber)
            return fail(ERROR_INVALID_FUNCTION); // floppies and optical drives have none
        STORAGE_DEVICE_NUMBER number{};
        number.DeviceType = FILE_DEVICE_DISK;
        number.DeviceNumber = *diskNumber;
        number.PartitionNumber = file.drive ? file.drive->partitionNumber : 0;
        return answered(number);
    }
    case FSCTL_LOCK_VOLUME:
        return LockVolume(file);
    case FSCTL_UNLOCK_VOLUME:
        return UnlockVolume(file);
    case FSCTL_DISMOUNT_VOLUME:
        // Locked through an exclusive open of its node, which the kernel grants only while
        // nothing is mounted from it or holds it: there is nothing to dismount (and the
        // check for holders would find our own lock).
        if (file.lockFd >= 0) {
            SetLastError(ERROR_SUCCESS);
            return TRUE;
        }
        return Dismount(file);
    default:
        return fail(ERROR_INVALID_FUNCTION);
    }
}

std::optional<std::uint32_t> LinuxKernel32::DiskNumberOf(const File& file) {
    std::lock_guard<std::mutex> lock(drivesMutex_);
    const PhysicalDisk* disk = nullptr;
    if (file.drive)
        disk = drives_->DiskOf(*file.drive);
    else
        for (const auto& candidate : drives_->Disks())
            if (candidate.node == file.node)
                disk = &candidate;
    if (disk == nullptr)
        return std::nullopt;
    return disk->number;
}

BOOL LinuxKernel32::LockVolume(File& file) {
    if (file.lockFd >= 0 || file.locked || file.coveredByDisk) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (file.device == 0)
        return LockImage(file);
    // Refused while mounted or held open exclusively: the program then offers the forced
    // dismount, as Windows refuses a volume with open files.
    const int lock = open(file.node.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
    if (lock < 0) {
        SetLastError(errno == EBUSY ? DWORD{ERROR_ACCESS_DENIED} : Win32ErrorFromErrno(errno));
        return FALSE;
    }
    file.lockFd = lock;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL LinuxKernel32::UnlockVolume(File& file) {
    if (file.lockFd >= 0) {
        close(file.lockFd);
        file.lockFd = -1;
    } else if (file.locked) {
        flock(file.fd, LOCK_UN);
        file.locked = false;
    } else if (file.coveredByDisk) {
        file.coveredByDisk = false; // the disk's own open is released with its handle
    } else {
        SetLastError(ERROR_NOT_LOCKED);
        return FALSE;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL LinuxKernel32::DriveCommand(const File& file, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                 DWORD outSize, LPDWORD returned) {
    DWORD count = 0;
    DWORD error = ERROR_INVALID_FUNCTION;
    if (file.device != 0 && code == IOCTL_ATA_PASS_THROUGH) {
        error = AtaPassThrough(file.fd, in, inSize, out, outSize, &count);
    } else if (file.device != 0) {
        // Admin commands belong to the controller; a namespace's node takes them too where
        // the controller's cannot be opened.
        const std::string controller = NvmeControllerNode(SysDirOf(drives_->Sysfs(), file.device));
        const int fd = controller.empty() ? -1 : open(controller.c_str(), O_RDONLY | O_CLOEXEC);
        error = NvmeAdmin(fd >= 0 ? fd : file.fd, in, inSize, out, outSize, &count);
        if (fd >= 0)
            close(fd);
    }
    if (returned != nullptr)
        *returned = count;
    SetLastError(error);
    return error == ERROR_SUCCESS ? TRUE : FALSE;
}

// Image files and what is no block device have no hardware to tell of.
BOOL LinuxKernel32::StorageQuery(const File& file, LPVOID in, DWORD inSize, LPVOID out,
                                 DWORD outSize, LPDWORD returned) {
    STORAGE_PROPERTY_QUERY query{};
    if (in != nullptr && inSize >= sizeof query)
        std::memcpy(&query, in, sizeof query);
    if (query.PropertyId == StorageDeviceProtocolSpecificProperty) {
        // An NVMe namespace's own data: its id from its node, the data from its controller.
        DWORD count = 0;
        DWORD error = ERROR_NOT_SUPPORTED;
        const std::string controller =
            file.device != 0 ? NvmeControllerNode(SysDirOf(drives_->Sysfs(), file.device)) : "";
        const int fd = controller.empty() ? -1 : open(controller.c_str(), O_RDONLY | O_CLOEXEC);
        if (!controller.empty())
            error = NvmeNamespaceQuery(file.fd, fd >= 0 ? fd : file.fd, in, inSize, out, outSize,
                                       &count);
        if (fd >= 0)
            close(fd);
        if (returned != nullptr)
            *returned = count;
        SetLastError(error);
        return error == ERROR_SUCCESS ? TRUE : FALSE;
    }
    const std::optional<StorageDeviceFacts> facts =
        file.device != 0 ? ReadStorageFacts(drives_->Sysfs(), file.device) : std::nullopt;
    if (!facts) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    DWORD count = 0;
    const DWORD error = AnswerStorageQuery(*facts, in, inSize, out, outSize, &count);
    if (returned != nullptr)
        *returned = count;
    SetLastError(error);
    return error == ERROR_SUCCESS ? TRUE : FALSE;
}

// An image file is in use while a loop device over it (or a partition on one) is mounted or
// held: the lock is refused, and the program offers the dismount.
BOOL LinuxKernel32::LockImage(File& file) {
    for (const auto& loop : LoopDevicesOver(file.node)) {
        if (WhyBusy(loop, DevnoOf(loop))) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
    }
    if (flock(file.fd, LOCK_EX | LOCK_NB) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    file.locked = true;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

// Unmounts what is mounted from the device (an image file: from every loop device over it),
// then makes sure nothing else holds it: a device held by a mapped device, a RAID array or
// another program's exclusive open fails, saying by what, instead of answering success and
// having the lock refused again.
BOOL LinuxKernel32::Dismount(File& file) {
    std::vector<std::pair<std::string, dev_t>> devices;
    if (file.device != 0) {
        devices.emplace_back(file.node, file.device);
    } else {
        for (const auto& loop : LoopDevicesOver(file.node))
            devices.emplace_back(loop, DevnoOf(loop));
    }
    if (auto why = WhyNotWritable(file.node)) {
        SetLastErrorText(ERROR_ACCESS_DENIED, file.node + ": " + *why);
        return FALSE;
    }
    for (const auto& [node, device] : devices) {
        // A loop device's partitions are mounted on their own nodes: all of them go.
        const int error = UnmountAll(device, file.physical || file.device == 0);
        if (error == EBUSY) {
            SetLastErrorText(ERROR_BUSY, node + " is busy: a program uses a file on it");
            return FALSE;
        }
        if (error != 0) {
            SetLastError(Win32ErrorFromErrno(error));
            return FALSE;
        }
        if (file.physical) {
            if (auto why = WhyDiskBusy(node, device)) {
                SetLastErrorText(ERROR_BUSY, *why);
                return FALSE;
            }
        } else if (auto why = WhyBusy(node, device)) {
            SetLastErrorText(ERROR_BUSY, node + " is " + *why);
            return FALSE;
        }
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

std::vector<std::shared_ptr<LinuxKernel32::File>> LinuxKernel32::OwnLocksOn(dev_t disk) const {
    std::vector<std::shared_ptr<File>> locks;
    std::lock_guard<std::mutex> lock(handlesMutex_);
    // A disk without a partition table is its own only volume: that volume's lock is on the
    // disk's own node.
    for (const auto& [handle, file] : files_)
        if ((file->lockFd >= 0 || file->coveredByDisk) && file->device != 0 &&
            (file->device == disk || DiskOfPartition(drives_->Sysfs(), file->device) == disk))
            locks.push_back(file);
    return locks;
}

std::optional<std::string> LinuxKernel32::WhyDiskBusy(const std::string& node, dev_t disk) const {
    const auto own = OwnLocksOn(disk);
    std::string text;
    for (const auto& partition : PartitionsOf(drives_->Sysfs(), disk)) {
        const bool ours = std::any_of(own.begin(), own.end(), [&](const auto& file) {
            return file->device == partition.devno;
        });
        if (ours)
            continue; // locked for this very wipe
        if (auto why = WhyBusy(partition.node, partition.devno))
            text += (text.empty() ? "" : "; ") + partition.node + " is " + *why;
    }
    if (!text.empty())
        return text;
    if (!own.empty())
        return std::nullopt; // the disk cannot be tried as a whole while its volumes are ours
    if (auto why = WhyBusy(node, disk))
        return node + " is " + *why;
    return std::nullopt;
}

int LinuxKernel32::ClaimWholeDisk(const File& file, int mode) {
    // The volume locks of this program are exclusive opens of the partitions, which keep the
    // kernel from giving the whole disk to anyone, this program included: they are handed
    // over to the disk's exclusive open, which keeps every partition from being mounted.
    const auto own = OwnLocksOn(file.device);
    int fd = open(file.node.c_str(), mode | O_EXCL | O_CLOEXEC);
    if (fd >= 0 || errno != EBUSY || own.empty())
        return fd;
    std::lock_guard<std::mutex> lock(handlesMutex_);
    for (const auto& volume : own)
        if (volume->lockFd >= 0) {
            close(volume->lockFd);
            volume->lockFd = -1;
            volume->coveredByDisk = true;
        }
    fd = open(file.node.c_str(), mode | O_EXCL | O_CLOEXEC);
    const int error = errno;
    if (fd < 0) {
        // Taken back; one lost meanwhile to another program leaves that volume unlocked,
        // which its close then reports.
        for (const auto& volume : own) {
            volume->coveredByDisk = false;
            volume->lockFd = open(volume->node.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
        }
    }
    errno = error;
    return fd;
}

std::optional<Drive> LinuxKernel32::DriveOfRoot(LPCSTR root) {
    std::lock_guard<std::mutex> lock(drivesMutex_);
    DetectOnce();
    const char letter = root != nullptr ? DriveLetterOf(root) : 0;
    const Drive* drive = letter == 0 ? nullptr : drives_->ByLetter(letter);
    return drive != nullptr ? std::optional<Drive>(*drive) : std::nullopt;
}

DWORD LinuxKernel32::GetLogicalDrives() {
    DWORD mask = 0;
    {
        std::lock_guard<std::mutex> lock(drivesMutex_);
        drives_->Detect();
        detected_ = true;
        for (const auto& drive : drives_->Drives())
            mask |= DWORD{1} << (drive.letter - 'A');
    }
    // What was left out, and why, is told by DevicesNotOffered.
    SetLastError(ERROR_SUCCESS);
    return mask;
}

UINT LinuxKernel32::GetDriveTypeA(LPCSTR root) {
    const std::optional<Drive> drive = DriveOfRoot(root);
    if (!drive)
        return DRIVE_NO_ROOT_DIR;
    switch (drive->kind) {
    case DriveKind::Optical:
        return DRIVE_CDROM;
    case DriveKind::Floppy:
        return DRIVE_REMOVABLE;
    default:
        return drive->removable ? DRIVE_REMOVABLE : DRIVE_FIXED;
    }
}

BOOL LinuxKernel32::GetVolumeInformationA(LPCSTR root, LPSTR volumeName, DWORD volumeNameSize,
                                          LPDWORD serial, LPDWORD maxComponentLength,
                                          LPDWORD fileSystemFlags, LPSTR fileSystemName,
                                          DWORD fileSystemNameSize) {
    const std::optional<Drive> drive = DriveOfRoot(root);
    if (!drive) {
        SetLastError(ERROR_INVALID_DRIVE);
        return FALSE;
    }
    auto facts = ProbeVolume(drive->node);
    if (!facts) {
        SetLastError(ERROR_UNRECOGNIZED_VOLUME);
        return FALSE;
    }
    auto copy = [](const std::string& text, LPSTR out, DWORD size) {
        if (out == nullptr || size == 0)
            return true;
        if (text.size() + 1 > size)
            return false;
        std::memcpy(out, text.c_str(), text.size() + 1);
        return true;
    };
    if (!copy(facts->label, volumeName, volumeNameSize) ||
        !copy(facts->fileSystem, fileSystemName, fileSystemNameSize)) {
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
    }
    if (serial != nullptr)
        *serial = facts->serial;
    if (maxComponentLength != nullptr)
        *maxComponentLength = 255;
    if (fileSystemFlags != nullptr)
        *fileSystemFlags = 0;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL LinuxKernel32::GetDiskFreeSpaceExA(LPCSTR root, PULARGE_INTEGER freeToCaller,
                                        PULARGE_INTEGER total, PULARGE_INTEGER totalFree) {
    const std::optional<Drive> drive = DriveOfRoot(root);
    if (!drive) {
        SetLastError(ERROR_INVALID_DRIVE);
        return FALSE;
    }
    struct stat st {};
    std::optional<std::string> mountPoint;
    if (stat(drive->node.c_str(), &st) == 0 && S_ISBLK(st.st_mode))
        mountPoint = MountPointOf(st.st_rdev);
    // Space is a fact of a mounted file system; an unmounted volume is not ready for it.
    struct statvfs vfs {};
    if (!mountPoint || statvfs(mountPoint->c_str(), &vfs) != 0) {
        SetLastError(ERROR_NOT_READY);
        return FALSE;
    }
    const std::uint64_t unit = vfs.f_frsize != 0 ? vfs.f_frsize : vfs.f_bsize;
    if (freeToCaller != nullptr)
        freeToCaller->QuadPart = static_cast<ULONGLONG>(vfs.f_bavail) * unit;
    if (total != nullptr)
        total->QuadPart = static_cast<ULONGLONG>(vfs.f_blocks) * unit;
    if (totalFree != nullptr)
        totalFree->QuadPart = static_cast<ULONGLONG>(vfs.f_bfree) * unit;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

DWORD LinuxKernel32::QueryDosDeviceA(LPCSTR device, LPSTR target, DWORD size) {
    const std::optional<Drive> drive = DriveOfRoot(device);
    if (!drive) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    const DWORD needed = static_cast<DWORD>(drive->node.size() + 2); // a list: two NULs end it
    if (target == nullptr || size < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(target, drive->node.c_str(), drive->node.size() + 1);
    target[needed - 1] = '\0';
    SetLastError(ERROR_SUCCESS);
    return needed;
}

} // namespace platform::linux_backend
