// Raw devices of the simulated PC: "\\.\X:" volumes and whole physical disks, with the
// rules of real Windows that the disk code relies on (share modes, access rights, aligned
// unbuffered transfers, volume lock and dismount, exact ioctl output sizes) and the faults
// of the machine file. Every transfer is held to the extent of the device it was opened on.
#include "platform/drive_letter.h"
#include "platform/scsi.h"
#include "platform/sim/kernel32.h"
#include "platform/storage_pass_through.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <thread>

namespace platform::sim {

namespace {

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    std::size_t n = std::strlen(prefix);
    if (text.size() < n)
        return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

// Whether a new open (access, share) is compatible with an existing one.
bool SharesWith(DWORD access, DWORD share, DWORD oldAccess, DWORD oldShare) {
    const DWORD rw = GENERIC_READ | GENERIC_WRITE;
    if ((access & rw) == 0 || (oldAccess & rw) == 0)
        return true; // query-only opens do not take part in sharing
    if ((access & GENERIC_READ) && !(oldShare & FILE_SHARE_READ))
        return false;
    if ((access & GENERIC_WRITE) && !(oldShare & FILE_SHARE_WRITE))
        return false;
    if ((oldAccess & GENERIC_READ) && !(share & FILE_SHARE_READ))
        return false;
    if ((oldAccess & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE))
        return false;
    return true;
}

} // namespace

void SimKernel32::Record(const DeviceHandle& h, const char* name, DWORD a, DWORD b,
                         std::int64_t offset, bool ok) {
    machine_->calls.push_back(Call{name, h.name, a, b, h.flags, offset, ok});
}

SimKernel32::DeviceHandle* SimKernel32::Find(HANDLE handle) {
    auto it = handles_.find(handle);
    return it == handles_.end() ? nullptr : &it->second;
}

DeviceFaults& SimKernel32::FaultsOf(const DeviceHandle& h) {
    if (h.vwin32)
        return noFaults_;
    if (h.drive >= 0)
        return machine_->drives[static_cast<std::size_t>(h.drive)].faults;
    return machine_->disks[static_cast<std::size_t>(h.disk)].faults;
}

bool SimKernel32::DriveExtent(std::size_t i, Extent* e) {
    DeviceHandle probe;
    probe.drive = static_cast<int>(i);
    const DWORD saved = LastError();
    const bool has = ExtentOf(probe, e);
    LastError() = saved;
    return has;
}

bool SimKernel32::ExtentOf(const DeviceHandle& h, Extent* e) {
    if (h.vwin32) {
        LastError() = ERROR_INVALID_FUNCTION; // no sectors behind the virtual device
        return false;
    }
    if (h.disk >= 0) {
        const PhysicalDisk& disk = machine_->disks[static_cast<std::size_t>(h.disk)];
        *e = Extent{disk.image, 0, disk.size, disk.geometry.BytesPerSector};
        return true;
    }
    return DriveExtent(machine_->drives[static_cast<std::size_t>(h.drive)], e);
}

bool SimKernel32::DriveExtent(const Drive& d, Extent* e) {
    std::lock_guard<std::recursive_mutex> lock(machine_->mutex);
    if (d.kind == DriveKind::Floppy) {
        DISK_GEOMETRY g;
        if (!d.medium || !FloppyGeometry(d.medium->type, &g)) {
            LastError() = ERROR_NOT_READY;
            return false;
        }
        *e = Extent{d.medium->image, 0, d.medium->image->size(), g.BytesPerSector};
        return true;
    }
    if (d.disk >= 0) {
        const PhysicalDisk& disk = machine_->disks[static_cast<std::size_t>(d.disk)];
        *e = Extent{disk.image, d.offset, d.length, disk.geometry.BytesPerSector};
        return true;
    }
    *e = Extent{d.image, 0, d.length, d.bytesPerSector};
    return true;
}

bool SimKernel32::Geometry(const DeviceHandle& h, DISK_GEOMETRY* g) {
    std::memset(g, 0, sizeof(*g));
    if (h.disk >= 0) {
        *g = machine_->disks[static_cast<std::size_t>(h.disk)].geometry;
        return true;
    }
    return DriveGeometry(machine_->drives[static_cast<std::size_t>(h.drive)], g);
}

bool SimKernel32::DriveGeometry(const Drive& d, DISK_GEOMETRY* g) {
    std::lock_guard<std::recursive_mutex> lock(machine_->mutex);
    std::memset(g, 0, sizeof(*g));
    if (d.kind == DriveKind::Floppy) {
        if (!d.medium || !FloppyGeometry(d.medium->type, g)) {
            LastError() = ERROR_NOT_READY;
            return false;
        }
        return true;
    }
    if (d.disk >= 0) {
        *g = machine_->disks[static_cast<std::size_t>(d.disk)].geometry;
        return true;
    }
    // A volume with an image of its own reports the usual translated geometry.
    g->BytesPerSector = d.bytesPerSector;
    g->TracksPerCylinder = 255;
    g->SectorsPerTrack = 63;
    g->Cylinders.QuadPart = std::max<std::int64_t>(1, d.length / (255 * 63 * d.bytesPerSector));
    g->MediaType = d.kind == DriveKind::Removable ? RemovableMedia : FixedMedia;
    return true;
}

bool SimKernel32::DriveHasOpenHandles(const Drive& drive) const {
    std::lock_guard<std::recursive_mutex> lock(machine_->mutex);
    if (drive.vwin32Lock != nullptr)
        return true;
    auto index = static_cast<int>(&drive - machine_->drives.data());
    for (const auto& [handle, h] : handles_)
        if (h.drive == index)
            return true;
    return false;
}

// ---- Opening and closing.

HANDLE SimKernel32::CreateFileA(LPCSTR name, DWORD access, DWORD share,
                                LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                HANDLE templateFile) {
    Lock lock(machine_->mutex);
    std::string path = name != nullptr ? name : "";
    bool device = StartsWithNoCase(path, "\\\\.\\");
    if (device && path.size() == 10 && StartsWithNoCase(path, "\\\\.\\vwin32"))
        return OpenVwin32(path, access, share, flags);
    if (device || StartsWithNoCase(path, "\\\\?\\")) {
        // "\\.\E:": a drive letter's volume.
        const char letter =
            device && path.size() == 6 ? DriveLetterOf(std::string_view(path).substr(4)) : 0;
        if (letter != 0) {
            Drive* drive = machine_->FindDrive(letter);
            if (drive != nullptr)
                return OpenDevice(path, static_cast<int>(drive - machine_->drives.data()), -1,
                                  access, share, disposition, flags);
        }
        if (PhysicalDisk* disk = machine_->FindDisk(path))
            return OpenDevice(path, -1, static_cast<int>(disk - machine_->disks.data()), access,
                              share, disposition, flags);
        if (device) {
            LastError() = ERROR_FILE_NOT_FOUND; // no such device on this machine
            return INVALID_HANDLE_VALUE;
        }
    }
    lock.unlock(); // an ordinary file is the host's
    return Forwarded(
        host_->CreateFileA(name, access, share, security, disposition, flags, templateFile));
}

HANDLE SimKernel32::OpenDevice(const std::string& name, int drive, int disk, DWORD access,
                               DWORD share, DWORD disposition, DWORD flags) {
    DeviceHandle h;
    h.drive = drive;
    h.disk = disk;
    h.name = name;
    h.access = access;
    h.share = share;
    h.flags = flags;
    auto refuse = [&](DWORD error) {
        Record(h, "CreateFileA", access, share, 0, false);
        LastError() = error;
        return INVALID_HANDLE_VALUE;
    };
    if (disposition != OPEN_EXISTING && disposition != OPEN_ALWAYS)
        return refuse(ERROR_INVALID_PARAMETER);
    DeviceFaults& faults = FaultsOf(h);
    if (faults.open.Fire())
        return refuse(faults.open.error);
    for (const auto& [other, o] : handles_) {
        bool same = (drive >= 0 && o.drive == drive) || (disk >= 0 && o.disk == disk);
        if (!same)
            continue;
        if (o.locked)
            return refuse(ERROR_ACCESS_DENIED); // a locked volume is reached only through its lock
        if (!SharesWith(access, share, o.access, o.share))
            return refuse(ERROR_SHARING_VIOLATION);
    }
    HANDLE handle = reinterpret_cast<HANDLE>(nextHandle_);
    nextHandle_ += 4;
    handles_[handle] = h;
    Record(h, "CreateFileA", access, share, 0, true);
    LastError() = ERROR_SUCCESS;
    return handle;
}

// A volume whose raw sectors were written comes back without a file system once nothing
// holds it open; a dismounted volume mounts again at its next open.
void SimKernel32::RemountReleasedVolumes() {
    for (auto& d : machine_->drives) {
        if (DriveHasOpenHandles(d))
            continue;
        if (d.written) {
            if (d.kind == DriveKind::Floppy) {
                if (d.medium)
                    d.medium->volume.reset();
            } else {
                d.volume.reset();
            }
            d.written = false;
        }
        d.dismounted = false;
    }
}

BOOL SimKernel32::CloseHandle(HANDLE handle) {
    if (events_.Close(handle)) {
        LastError() = ERROR_SUCCESS;
        return TRUE;
    }
    Lock lock(machine_->mutex);
    DeviceHandle* h = Find(handle);
    if (h == nullptr) {
        lock.unlock();
        return Forwarded(host_->CloseHandle(handle));
    }
    DeviceHandle closed = *h;
    AbortOverlapped(handle, true); // a closed handle's transfers are cancelled
    handles_.erase(handle);        // the handle is gone even when the close reports a failure
    if (!closed.vwin32 && std::none_of(handles_.begin(), handles_.end(), [&](const auto& other) {
            return other.second.drive == closed.drive && other.second.disk == closed.disk;
        }))
        DropCache(closed); // the device's last handle takes its cache with it
    if (closed.vwin32)
        ReleaseVwin32Locks(handle);
    Extent e;
    if (ExtentOf(closed, &e) && e.image != nullptr)
        e.image->Flush();
    RemountReleasedVolumes();
    DeviceFaults& faults = FaultsOf(closed);
    bool ok = !faults.close.Fire();
    Record(closed, "CloseHandle", 0, 0, 0, ok);
    if (!ok)
        return Fail(faults.close.error);
    LastError() = ERROR_SUCCESS;
    return TRUE;
}

// ---- Position and transfers.

DWORD SimKernel32::SetFilePointer(HANDLE file, LONG distanceLow, PLONG distanceHigh, DWORD method) {
    Lock lock(machine_->mutex);
    DeviceHandle* h = Find(file);
    if (h == nullptr) {
        lock.unlock();
        return Forwarded(host_->SetFilePointer(file, distanceLow, distanceHigh, method));
    }
    DWORD high = distanceHigh != nullptr ? static_cast<DWORD>(*distanceHigh) : 0;
    auto fail = [&](DWORD error) {
        Record(*h, "SetFilePointer", static_cast<DWORD>(distanceLow), high, h->position, false);
        LastError() = error;
        return INVALID_SET_FILE_POINTER;
    };
    DeviceFaults& faults = FaultsOf(*h);
    if (faults.seek.Fire())
        return fail(faults.seek.error);
    std::int64_t distance =
        distanceHigh != nullptr
            ? static_cast<std::int64_t>((static_cast<std::uint64_t>(high) << 32) |
                                        static_cast<DWORD>(distanceLow))
            : static_cast<std::int64_t>(distanceLow);
    std::int64_t from = 0;
    if (method == FILE_CURRENT) {
        from = h->position;
    } else if (method == FILE_END) {
        Extent e;
        from = ExtentOf(*h, &e) ? e.length : 0;
    } else if (method != FILE_BEGIN) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    std::int64_t target = from + distance;
    if (target < 0)
        return fail(ERROR_NEGATIVE_SEEK);
    if (distanceHigh == nullptr && target > 0xFFFFFFFFll)
        return fail(ERROR_INVALID_PARAMETER); // not representable without the high part
    h->position = target;
    if (distanceHigh != nullptr)
        *distanceHigh = static_cast<LONG>(static_cast<std::uint64_t>(target) >> 32);
    Record(*h, "SetFilePointer", static_cast<DWORD>(distanceLow), high, target, true);
    auto low = static_cast<DWORD>(target & 0xFFFFFFFF);
    if (low == INVALID_SET_FILE_POINTER)
        LastError() = ERROR_SUCCESS; // how a caller tells this success from failure
    return low;
}

BlockFault* SimKernel32::FirstFault(Image* image, std::int64_t offset, std::int64_t size,
                                    bool write, std::int64_t* at) {
    BlockFault* first = nullptr;
    auto consider = [&](std::vector<BlockFault>& faults, std::int64_t base, DWORD sector) {
        for (auto& f : faults) {
            std::int64_t where = base + f.block * sector;
            if (!f.fault.armed() || where + sector <= offset || where >= offset + size)
                continue;
            where = std::max(where, offset);
            if (first == nullptr || where < *at) {
                first = &f;
                *at = where;
            }
        }
    };
    for (std::size_t i = 0; i < machine_->disks.size(); ++i) {
        PhysicalDisk& disk = machine_->disks[i];
        if (disk.image == image)
            consider(write ? disk.faults.writeBlocks : disk.faults.readBlocks, 0,
                     disk.geometry.BytesPerSector);
    }
    for (std::size_t i = 0; i < machine_->drives.size(); ++i) {
        Extent e;
        Drive& d = machine_->drives[i];
        if (DriveExtent(i, &e) && e.image == image)
            consider(write ? d.faults.writeBlocks : d.faults.readBlocks, e.base, e.sectorSize);
    }
    return first;
}

// Since Windows Vista a raw write may not reach the sectors of a mounted file system unless
// the volume is locked or dismounted; earlier builds let it through.
bool SimKernel32::WriteAllowed(const DeviceHandle& h, std::int64_t offset, std::int64_t size) {
    if (buildNumber < 6000)
        return true;
    Extent mine;
    ExtentOf(h, &mine);
    for (std::size_t i = 0; i < machine_->drives.size(); ++i) {
        Drive& d = machine_->drives[i];
        Extent e;
        if (!DriveExtent(i, &e) || e.image != mine.image || e.base + e.length <= offset ||
            e.base >= offset + size)
            continue;
        bool mounted = d.kind == DriveKind::Floppy ? d.medium && d.medium->volume.has_value()
                                                   : d.volume.has_value();
        bool locked = false;
        for (const auto& [other, o] : handles_)
            locked = locked || (o.drive == static_cast<int>(i) && o.locked);
        if (mounted && !d.dismounted && !locked)
            return false;
    }
    return true;
}

std::int64_t SimKernel32::PaceOf(const DeviceHandle& h) {
    if (h.disk >= 0)
        return machine_->disks[static_cast<std::size_t>(h.disk)].bytesPerSecond;
    const Drive& d = machine_->drives[static_cast<std::size_t>(h.drive)];
    return d.disk >= 0 ? machine_->disks[static_cast<std::size_t>(d.disk)].bytesPerSecond
                       : d.bytesPerSecond;
}

// A device with a pace takes real time for the bytes it moved, so that a demo's progress
// can be watched; the simulated clock is left alone.
void SimKernel32::Pace(std::int64_t pace, DWORD moved) {
    if (pace > 0 && moved > 0)
        std::this_thread::sleep_for(
            std::chrono::microseconds(static_cast<std::int64_t>(moved) * 1000000 / pace));
}

BOOL SimKernel32::Transfer(Lock& lock, DeviceHandle& h, void* buffer, DWORD size, LPDWORD done,
                           bool write) {
    const char* name = write ? "WriteFile" : "ReadFile";
    if (done != nullptr)
        *done = 0;
    std::int64_t position = h.position;
    auto fail = [&](DWORD error) {
        Record(h, name, size, 0, position, false);
        return Fail(error);
    };
    if (!(h.access & (write ? GENERIC_WRITE : GENERIC_READ)))
        return fail(ERROR_ACCESS_DENIED);
    Extent e;
    if (!ExtentOf(h, &e))
        return fail(LastError());
    if (size == 0) {
        Record(h, name, 0, 0, position, true);
        return TRUE;
    }
    if (position % e.sectorSize != 0 || size % e.sectorSize != 0)
        return fail(ERROR_INVALID_PARAMETER); // raw devices move whole sectors only
    if ((h.flags & FILE_FLAG_NO_BUFFERING) &&
        reinterpret_cast<std::uintptr_t>(buffer) % e.sectorSize != 0)
        return fail(ERROR_INVALID_PARAMETER); // unbuffered buffers are sector-aligned
    if (position + static_cast<std::int64_t>(size) > e.length) {
        machine_->outOfExtent.push_back(OutOfExtent{h.name, position, size, write});
        return fail(ERROR_SECTOR_NOT_FOUND);
    }
    if (write && h.drive >= 0) {
        const Drive& d = machine_->drives[static_cast<std::size_t>(h.drive)];
        if (d.kind == DriveKind::Floppy && d.medium->writeProtected)
            return fail(ERROR_WRITE_PROTECT);
    }
    std::int64_t absolute = e.base + position;
    if (write && !WriteAllowed(h, absolute, size))
        return fail(ERROR_ACCESS_DENIED);
    DWORD count = size;
    std::int64_t at = 0;
    if (BlockFault* f = FirstFault(e.image, absolute, size, write, &at)) {
        f->fault.Fire();
        if (!f->shortTransfer)
            return fail(f->fault.error); // a failed transfer moves nothing
        count = static_cast<DWORD>(at - absolute);
    }
    ReadCache* cache = (h.flags & FILE_FLAG_NO_BUFFERING) ? nullptr : &CacheOf(h);
    const auto lost = write ? LostSectors(e.image, absolute, count)
                            : std::vector<std::pair<std::int64_t, DWORD>>{};
    // The image and the cache guard their own state: other devices' calls need not wait for
    // these bytes.
    lock.unlock();
    bool ok = MoveBytes(e, cache, position, absolute, buffer, count, write, lost);
    lock.lock();
    if (!ok)
        return fail(write ? ERROR_WRITE_FAULT : ERROR_READ_FAULT);
    if (write && count > 0)
        MarkWritten(e.image, absolute, count);
    h.position += count;
    if (done != nullptr)
        *done = count;
    Record(h, name, size, count, position, true);
    const std::int64_t pace = PaceOf(h);
    lock.unlock();
    Pace(pace, count);
    LastError() = ERROR_SUCCESS;
    return TRUE;
}

// Every volume whose sectors were touched loses its file system when it settles.
void SimKernel32::MarkWritten(Image* image, std::int64_t absolute, std::int64_t size) {
    for (std::size_t i = 0; i < machine_->drives.size(); ++i) {
        Extent de;
        if (DriveExtent(i, &de) && de.image == image && de.base < absolute + size &&
            de.base + de.length > absolute)
            machine_->drives[i].written = true;
    }
}

BOOL SimKernel32::ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read,
                           LPOVERLAPPED overlapped) {
    Lock lock(machine_->mutex);
    DeviceHandle* h = Find(file);
    if (h == nullptr) {
        lock.unlock();
        return Forwarded(host_->ReadFile(file, buffer, toRead, read, overlapped));
    }
    if (h->flags & FILE_FLAG_OVERLAPPED)
        return StartOverlapped(file, *h, overlapped, buffer, toRead, read, false);
    return Transfer(lock, *h, buffer, toRead, read, false);
}

BOOL SimKernel32::WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                            LPOVERLAPPED overlapped) {
    Lock lock(machine_->mutex);
    DeviceHandle* h = Find(file);
    if (h == nullptr) {
        lock.unlock();
        return Forwarded(host_->WriteFile(file, buffer, toWrite, written, overlapped));
    }
    if (h->flags & FILE_FLAG_OVERLAPPED)
        return StartOverlapped(file, *h, overlapped, const_cast<void*>(buffer), toWrite, written,
                               true);
    return Transfer(lock, *h, const_cast<void*>(buffer), toWrite, written, true);
}

// ---- Device control.

BOOL SimKernel32::VolumeControl(DeviceHandle& h, HANDLE handle, DWORD code) {
    if (h.drive < 0)
        return Fail(ERROR_INVALID_FUNCTION);
    Drive& d = machine_->drives[static_cast<std::size_t>(h.drive)];
    DeviceFaults& faults = d.faults;
    if (code == FSCTL_LOCK_VOLUME) {
        if (faults.lock.Fire())
            return Fail(faults.lock.error);
        for (const auto& [other, o] : handles_)
            if (o.drive == h.drive && (other != handle || o.locked))
                return Fail(ERROR_ACCESS_DENIED); // someone else holds the volume
        if (d.inUse && !d.dismounted)
            return Fail(ERROR_ACCESS_DENIED); // another process has files open on it
        h.locked = true;
        DropCache(h); // the system purges a volume's cache when it is locked
        return TRUE;
    }
    if (code == FSCTL_UNLOCK_VOLUME) {
        if (!h.locked)
            return Fail(ERROR_NOT_LOCKED);
        if (faults.unlock.Fire())
            return Fail(faults.unlock.error);
        h.locked = false;
        return TRUE;
    }
    if (faults.dismount.Fire())
        return Fail(faults.dismount.error);
    d.dismounted = true;
    d.inUse = false; // the other process's files are gone with the file system
    DropCache(h);    // and its cached pages with it
    return TRUE;
}

BOOL SimKernel32::AnswerIoctl(const void* data, DWORD length, LPVOID out, DWORD outSize,
                              DWORD* size) {
    if (out == nullptr || outSize < length)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(out, data, length);
    *size = length;
    return TRUE;
}

Drive* SimKernel32::DriveOf(const DeviceHandle& h) {
    return h.drive >= 0 ? &machine_->drives[static_cast<std::size_t>(h.drive)] : nullptr;
}

BOOL SimKernel32::GetDriveGeometry(const DeviceHandle& h, LPVOID out, DWORD outSize, DWORD* size) {
    DISK_GEOMETRY g;
    DeviceFaults& faults = FaultsOf(h);
    if (outSize < sizeof(g) || out == nullptr)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (faults.geometry.Fire())
        return Fail(faults.geometry.error);
    return Geometry(h, &g) ? AnswerIoctl(&g, sizeof(g), out, outSize, size) : FALSE;
}

BOOL SimKernel32::GetPartitionInfo(const DeviceHandle& h, LPVOID out, DWORD outSize, DWORD* size) {
    PARTITION_INFORMATION p;
    std::memset(&p, 0, sizeof(p));
    Extent e;
    DeviceFaults& faults = FaultsOf(h);
    const Drive* drive = DriveOf(h);
    if (outSize < sizeof(p) || out == nullptr)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (faults.partitionInfo.Fire())
        return Fail(faults.partitionInfo.error);
    if (!ExtentOf(h, &e))
        return FALSE;
    bool partition = drive != nullptr && drive->kind != DriveKind::Floppy;
    p.StartingOffset.QuadPart = partition ? drive->offset : 0;
    p.PartitionLength.QuadPart = e.length;
    p.HiddenSectors = partition ? static_cast<DWORD>(drive->offset / e.sectorSize) : 0;
    p.PartitionNumber = partition ? static_cast<DWORD>(drive->partitionNumber) : 0;
    p.PartitionType = drive != nullptr ? drive->partitionType : 0;
    p.BootIndicator = partition && drive->boot ? TRUE : FALSE;
    p.RecognizedPartition = drive != nullptr ? TRUE : FALSE;
    p.RewritePartition = FALSE;
    return AnswerIoctl(&p, sizeof(p), out, outSize, size);
}

// The device's length in bytes, however many cylinders its geometry counts; the request
// needs read access.
BOOL SimKernel32::GetLengthInfo(const DeviceHandle& h, LPVOID out, DWORD outSize, DWORD* size) {
    GET_LENGTH_INFORMATION length{};
    Extent e;
    if (!(h.access & GENERIC_READ))
        return Fail(ERROR_ACCESS_DENIED);
    if (outSize < sizeof(length) || out == nullptr)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (!ExtentOf(h, &e))
        return FALSE;
    length.Length.QuadPart = e.length;
    return AnswerIoctl(&length, sizeof(length), out, outSize, size);
}

BOOL SimKernel32::GetDeviceNumber(const DeviceHandle& h, LPVOID out, DWORD outSize, DWORD* size) {
    STORAGE_DEVICE_NUMBER n{FILE_DEVICE_DISK, 0, 0};
    DeviceFaults& faults = FaultsOf(h);
    const Drive* drive = DriveOf(h);
    if (outSize < sizeof(n) || out == nullptr)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (faults.deviceNumber.Fire())
        return Fail(faults.deviceNumber.error);
    if (drive != nullptr && !drive->hasDeviceNumber)
        return Fail(ERROR_INVALID_FUNCTION);
    if (drive != nullptr) {
        n.DeviceNumber = drive->deviceNumber;
        n.PartitionNumber = static_cast<DWORD>(drive->partitionNumber);
    } else {
        n.DeviceNumber = machine_->disks[static_cast<std::size_t>(h.disk)].deviceNumber;
    }
    return AnswerIoctl(&n, sizeof(n), out, outSize, size);
}

// A floppy drive lists the media it takes; any other device its own geometry, if it has one.
BOOL SimKernel32::GetMediaTypes(const DeviceHandle& h, LPVOID out, DWORD outSize, DWORD* size) {
    std::vector<DISK_GEOMETRY> list;
    DeviceFaults& faults = FaultsOf(h);
    const Drive* drive = DriveOf(h);
    if (drive != nullptr && drive->kind == DriveKind::Floppy) {
        for (MEDIA_TYPE type : drive->supportedMedia) {
            DISK_GEOMETRY g{};
            if (!FloppyGeometry(type, &g)) {
                g.MediaType = type; // a removable or fixed drive answering as a floppy
                g.Cylinders.QuadPart = 1;
                g.TracksPerCylinder = 1;
                g.SectorsPerTrack = 1;
                g.BytesPerSector = 512;
            }
            list.push_back(g);
        }
    } else {
        DISK_GEOMETRY g;
        DWORD saved = LastError();
        if (Geometry(h, &g))
            list.push_back(g);
        LastError() = saved;
    }
    DWORD need = static_cast<DWORD>(list.size() * sizeof(DISK_GEOMETRY));
    if (out == nullptr || outSize < sizeof(DISK_GEOMETRY) || outSize < need)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (faults.mediaTypes.Fire())
        return Fail(faults.mediaTypes.error);
    return AnswerIoctl(list.data(), need, out, outSize, size);
}

BOOL SimKernel32::DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                  DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) {
    Lock lock(machine_->mutex);
    DeviceHandle* h = Find(device);
    if (h == nullptr) {
        lock.unlock();
        return Forwarded(
            host_->DeviceIoControl(device, code, in, inSize, out, outSize, returned, overlapped));
    }
    if (returned != nullptr)
        *returned = 0;
    // On a handle opened for overlapped transfers a request needs an OVERLAPPED: without one
    // Windows may report it done while the driver still works, into a status that is gone.
    if ((h->flags & FILE_FLAG_OVERLAPPED) && overlapped == nullptr) {
        Record(*h, "DeviceIoControl", code, outSize, 0, false);
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (h->vwin32)
        return Vwin32Control(*h, device, code, in, inSize, out, outSize, returned);
    BOOL ok = FALSE;
    DWORD size = 0;
    switch (code) {
    case IOCTL_DISK_GET_DRIVE_GEOMETRY:
        ok = GetDriveGeometry(*h, out, outSize, &size);
        break;
    case IOCTL_DISK_GET_PARTITION_INFO:
        ok = GetPartitionInfo(*h, out, outSize, &size);
        break;
    case IOCTL_DISK_GET_LENGTH_INFO:
        ok = GetLengthInfo(*h, out, outSize, &size);
        break;
    case IOCTL_STORAGE_GET_DEVICE_NUMBER:
        ok = GetDeviceNumber(*h, out, outSize, &size);
        break;
    case IOCTL_DISK_GET_MEDIA_TYPES:
        ok = GetMediaTypes(*h, out, outSize, &size);
        break;
    case FSCTL_LOCK_VOLUME:
    case FSCTL_UNLOCK_VOLUME:
    case FSCTL_DISMOUNT_VOLUME:
        ok = VolumeControl(*h, device, code);
        break;
    case IOCTL_STORAGE_QUERY_PROPERTY:
        ok = StorageQuery(lock, *h, in, inSize, out, outSize, &size);
        break;
    case IOCTL_SCSI_PASS_THROUGH:
    case IOCTL_SCSI_PASS_THROUGH_DIRECT:
    case IOCTL_STORAGE_MEDIA_REMOVAL:
    case IOCTL_STORAGE_EJECT_MEDIA:
        ok = OpticalControl(*h, code, in, inSize, out, outSize, &size);
        break;
    case IOCTL_STORAGE_REINITIALIZE_MEDIA:
        ok = ReinitializeMedia(lock, *h, in, inSize);
        break;
    case IOCTL_ATA_PASS_THROUGH:
    case IOCTL_STORAGE_PROTOCOL_COMMAND:
        ok = FirmwareControl(lock, *h, code, in, inSize, out, outSize, &size);
        break;
    default:
        ok = Fail(ERROR_INVALID_FUNCTION);
        break;
    }
    if (ok) {
        LastError() = ERROR_SUCCESS;
        if (returned != nullptr)
            *returned = size;
    }
    // Every request ends at once here, as a driver may end one: the OVERLAPPED tells so too.
    if (overlapped != nullptr) {
        overlapped->Internal = ok ? ERROR_SUCCESS : LastError();
        overlapped->InternalHigh = ok ? size : 0;
        if (overlapped->hEvent != nullptr)
            events_.Set(overlapped->hEvent);
    }
    Record(*h, "DeviceIoControl", code, outSize, 0, ok != FALSE);
    return ok;
}

} // namespace platform::sim
