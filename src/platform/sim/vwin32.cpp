// "\\.\vwin32" of a simulated Windows 9x PC: the register packets of the real-mode disk
// services. DeviceIoControl itself succeeds for every known control code; a service that
// fails sets the carry flag and puts its error code in AX (the error codes of these
// services are the system's error codes, so the sim also leaves it as the last error).
// Transfers are held to the extent of their drive as on the NT side, and every packet is
// recorded in Machine::packets.
#include "platform/linear_address.h"
#include "platform/sim/kernel32.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace platform::sim {

namespace {

constexpr DWORD kIoctl = 0x440D;
constexpr DWORD kExtendedTransfer = 0x7305;

// The build number as the 9x services see it: the low word.
DWORD BuildOf(DWORD buildNumber) {
    return buildNumber & 0xFFFF;
}

} // namespace

HANDLE SimKernel32::OpenVwin32(const std::string& path, DWORD access, DWORD share, DWORD flags) {
    if (platformId == VER_PLATFORM_WIN32_NT) {
        LastError() = ERROR_FILE_NOT_FOUND; // the NT family has no such device
        return INVALID_HANDLE_VALUE;
    }
    DeviceHandle h;
    h.name = path;
    h.access = access;
    h.share = share;
    h.flags = flags;
    h.vwin32 = true;
    HANDLE handle = reinterpret_cast<HANDLE>(nextHandle_);
    nextHandle_ += 4;
    handles_[handle] = h;
    Record(h, "CreateFileA", access, share, 0, true);
    LastError() = ERROR_SUCCESS;
    return handle;
}

void SimKernel32::ReleaseVwin32Locks(HANDLE handle) {
    for (auto& d : machine_->drives)
        if (d.vwin32Lock == handle)
            d.vwin32Lock = nullptr;
}

Drive* SimKernel32::Vwin32Drive(DWORD index) {
    if (index >= 26)
        return nullptr;
    Drive* d = machine_->FindDrive(static_cast<char>('A' + index));
    if (d == nullptr)
        return nullptr;
    const bool disk = d->kind == DriveKind::Fixed || d->kind == DriveKind::Removable ||
                      d->kind == DriveKind::Floppy;
    return disk ? d : nullptr;
}

BOOL SimKernel32::Vwin32Control(DeviceHandle& h, HANDLE handle, DWORD code, LPVOID in, DWORD inSize,
                                LPVOID out, DWORD outSize, LPDWORD returned) {
    const bool known = code == VWIN32_DIOC_DOS_IOCTL || code == VWIN32_DIOC_DOS_INT25 ||
                       code == VWIN32_DIOC_DOS_INT26 || code == VWIN32_DIOC_DOS_DRIVEINFO;
    if (!known || in == nullptr || out == nullptr || inSize < sizeof(DIOC_REGISTERS) ||
        outSize < sizeof(DIOC_REGISTERS)) {
        Record(h, "DeviceIoControl", code, outSize, 0, false);
        return Fail(known ? ERROR_INVALID_PARAMETER : ERROR_INVALID_FUNCTION);
    }
    DIOC_REGISTERS r;
    std::memcpy(&r, in, sizeof(r));
    Vwin32Packet p;
    p.code = code;
    p.in = r;
    r.reg_Flags &= ~static_cast<DWORD>(VWIN32_CARRY_FLAG);
    LastError() = ERROR_SUCCESS;
    switch (code) {
    case VWIN32_DIOC_DOS_IOCTL:
        Vwin32Ioctl(handle, r, p);
        break;
    case VWIN32_DIOC_DOS_INT25:
    case VWIN32_DIOC_DOS_INT26:
        Vwin32Transfer(handle, r, p, r.reg_EAX & 0xFF, code == VWIN32_DIOC_DOS_INT26);
        break;
    default: // VWIN32_DIOC_DOS_DRIVEINFO: only function 7305h, and only after build 1000
        if ((r.reg_EAX & 0xFFFF) != kExtendedTransfer || BuildOf(buildNumber) <= 1000) {
            r.reg_Flags |= VWIN32_CARRY_FLAG;
            r.reg_EAX = (r.reg_EAX & 0xFFFF0000) | ERROR_INVALID_FUNCTION;
            LastError() = ERROR_INVALID_FUNCTION;
        } else {
            // DL is the drive number, 1 for A; 0 (the current drive) is no drive here.
            const DWORD number = r.reg_EDX & 0xFF;
            Vwin32Transfer(handle, r, p, number == 0 ? 26 : number - 1, (r.reg_ESI & 1) != 0);
        }
        break;
    }
    p.out = r;
    p.ok = (r.reg_Flags & VWIN32_CARRY_FLAG) == 0;
    machine_->packets.push_back(p);
    std::memcpy(out, &r, sizeof(r));
    if (returned != nullptr)
        *returned = sizeof(r);
    Record(h, "DeviceIoControl", code, outSize, 0, p.ok);
    return TRUE; // the call succeeded; a failed service leaves its error as the last error
}

void SimKernel32::Vwin32Ioctl(HANDLE handle, DIOC_REGISTERS& r, Vwin32Packet& p) {
    auto carry = [&](DWORD error) {
        r.reg_Flags |= VWIN32_CARRY_FLAG;
        r.reg_EAX = (r.reg_EAX & 0xFFFF0000) | (error & 0xFFFF);
        LastError() = error;
    };
    if ((r.reg_EAX & 0xFFFF) != kIoctl)
        return carry(ERROR_INVALID_FUNCTION);
    const DWORD number = r.reg_EBX & 0xFF; // BL: 1 for A; BH: the lock level
    Drive* d = number == 0 ? nullptr : Vwin32Drive(number - 1);
    if (d == nullptr)
        return carry(ERROR_INVALID_DRIVE);
    p.drive = d->letter;
    const DWORD minor = r.reg_ECX & 0xFFFF;
    if (minor == 0x486A && BuildOf(buildNumber) <= 1000)
        return carry(ERROR_INVALID_FUNCTION); // the FAT32 unlock came after build 1000
    DeviceFaults& faults = d->faults;
    switch (minor) {
    case 0x0860: // get device parameters
        if (const std::optional<DWORD> error = Vwin32DeviceParameters(*d, r.reg_EDX))
            return carry(*error);
        return;
    case 0x486F: // drive map information
        if (const std::optional<DWORD> error = Vwin32DriveMap(*d, r.reg_EDX))
            return carry(*error);
        return;
    case 0x4867:   // get the media access flag
    case 0x4847: { // set it
        auto* flag = static_cast<DOS_ACCESS_FLAG*>(ResolveLinearAddress(r.reg_EDX, 2));
        if (flag == nullptr)
            return carry(ERROR_NOACCESS);
        Fault& fault = minor == 0x4867 ? faults.accessFlag : faults.setAccessFlag;
        if (fault.Fire())
            return carry(fault.error);
        if (minor == 0x4867)
            flag->bAccessFlag = d->accessFlag ? 1 : 0;
        else
            d->accessFlag = flag->bAccessFlag != 0;
        return;
    }
    case 0x084A: // lock logical volume
        if (faults.lock.Fire())
            return carry(faults.lock.error);
        if ((d->inUse && !d->dismounted) || (d->vwin32Lock != nullptr && d->vwin32Lock != handle))
            return carry(ERROR_ACCESS_DENIED); // another process has files open on it
        d->vwin32Lock = handle;
        return;
    case 0x086A: // unlock logical volume
    case 0x486A:
        if (faults.unlock.Fire())
            return carry(faults.unlock.error);
        if (d->vwin32Lock != handle)
            return carry(ERROR_NOT_LOCKED);
        d->vwin32Lock = nullptr;
        return;
    default:
        return carry(ERROR_INVALID_FUNCTION);
    }
}

std::optional<DWORD> SimKernel32::Vwin32DeviceParameters(Drive& d, DWORD address) {
    auto* block = static_cast<DOS_DEVICE_PARAMS*>(
        ResolveLinearAddress(address, offsetof(DOS_DEVICE_PARAMS, reserved)));
    if (block == nullptr)
        return ERROR_NOACCESS;
    if (d.faults.geometry.Fire())
        return d.faults.geometry.error;
    DISK_GEOMETRY g{};
    std::int64_t length = 0;
    if (const std::optional<DWORD> error =
            Vwin32Geometry(d, (block->dpSpecFunc & 1) != 0, g, length))
        return error;
    const std::int64_t bps = std::max<std::int64_t>(1, g.BytesPerSector);
    const std::int64_t total = length / bps;
    const std::int64_t perCylinder =
        std::max<std::int64_t>(1, std::int64_t{g.TracksPerCylinder} * g.SectorsPerTrack);
    const BYTE specFunc = block->dpSpecFunc;
    std::memset(block, 0, offsetof(DOS_DEVICE_PARAMS, reserved));
    block->dpSpecFunc = specFunc;
    block->dpDevType = d.kind == DriveKind::Floppy ? 7 : 5;
    block->dpDevAttr = d.kind == DriveKind::Fixed ? 1 : 0; // bit 0: not removable
    block->dpCylinders = static_cast<WORD>(std::min<std::int64_t>(total / perCylinder, 0xFFFF));
    block->bpbBytesPerSec = static_cast<WORD>(g.BytesPerSector);
    block->bpbSecPerTrack = static_cast<WORD>(g.SectorsPerTrack);
    block->bpbHeads = static_cast<WORD>(g.TracksPerCylinder);
    block->bpbMedia = d.kind == DriveKind::Floppy ? 0xF0 : 0xF8;
    if (d.bpbSectorCount) {
        // DOS keeps a count below 65536 in the 16-bit field and the large one at 0.
        if (total < 0x10000)
            block->bpbSectors = static_cast<WORD>(total);
        else
            block->bpbHugeSectors = static_cast<DWORD>(std::min<std::int64_t>(total, 0xFFFFFFFFll));
    }
    return std::nullopt;
}

std::optional<DWORD> SimKernel32::Vwin32Geometry(const Drive& d, bool current, DISK_GEOMETRY& g,
                                                 std::int64_t& length) {
    if (d.kind != DriveKind::Floppy) {
        Extent e;
        if (!DriveGeometry(d, &g) || !DriveExtent(d, &e))
            return LastError();
        length = e.length;
        return std::nullopt;
    }
    // Without bit 0 of the special functions DOS answers the drive's default medium, the
    // largest it takes, which needs no disk in the drive.
    if (current) {
        if (!d.medium)
            return ERROR_NOT_READY;
        FloppyGeometry(d.medium->type, &g);
    } else {
        for (MEDIA_TYPE type : d.supportedMedia) {
            DISK_GEOMETRY candidate{};
            if (FloppyGeometry(type, &candidate) && GeometryBytes(candidate) > GeometryBytes(g))
                g = candidate;
        }
    }
    length = GeometryBytes(g);
    return std::nullopt;
}

std::optional<DWORD> SimKernel32::Vwin32DriveMap(Drive& d, DWORD address) {
    auto* map = static_cast<DRIVE_MAP_INFO*>(ResolveLinearAddress(address, 16));
    if (map == nullptr)
        return ERROR_NOACCESS;
    if (map->dmiAllocationLength < sizeof(DRIVE_MAP_INFO))
        return ERROR_INVALID_PARAMETER;
    if (d.faults.driveMap.Fire())
        return d.faults.driveMap.error;
    map->dmiInfoLength = sizeof(DRIVE_MAP_INFO);
    map->dmiFlags = 0;
    map->dmiInt13Unit = static_cast<BYTE>(Int13Unit(d));
    map->dmiAssociatedDriveMap = 1u << (d.letter - 'A');
    Extent e;
    map->dmiPartitionStartRBA =
        DriveExtent(d, &e) ? static_cast<ULONGLONG>(e.base / e.sectorSize) : 0;
    LastError() = ERROR_SUCCESS;
    return std::nullopt;
}

int SimKernel32::Int13Unit(const Drive& d) const {
    if (d.int13Unit)
        return *d.int13Unit;
    if (d.kind == DriveKind::Floppy)
        return d.letter - 'A';
    if (d.disk >= 0)
        return 0x80 + d.disk;
    // Drives with images of their own come after the physical disks.
    int unit = 0x80 + static_cast<int>(machine_->disks.size());
    for (const Drive& other : machine_->drives) {
        if (&other == &d)
            break;
        if (other.kind != DriveKind::Floppy && other.disk < 0)
            ++unit;
    }
    return unit;
}

void SimKernel32::Vwin32Transfer(HANDLE handle, DIOC_REGISTERS& r, Vwin32Packet& p, DWORD index,
                                 bool write) {
    auto carry = [&](DWORD error) {
        r.reg_Flags |= VWIN32_CARRY_FLAG;
        r.reg_EAX = (r.reg_EAX & 0xFFFF0000) | (error & 0xFFFF);
        LastError() = error;
    };
    p.write = write;
    if ((r.reg_ECX & 0xFFFF) != 0xFFFF) // CX FFFFh: the registers point at a DISKIO block
        return carry(ERROR_INVALID_PARAMETER);
    Drive* d = Vwin32Drive(index);
    if (d == nullptr)
        return carry(ERROR_INVALID_DRIVE);
    p.drive = d->letter;
    const auto* io = static_cast<const DISKIO*>(ResolveLinearAddress(r.reg_EBX, sizeof(DISKIO)));
    if (io == nullptr)
        return carry(ERROR_NOACCESS);
    p.sector = io->dwStartSector;
    p.count = io->wSectors;
    Extent e;
    if (!DriveExtent(*d, &e))
        return carry(LastError());
    const std::int64_t offset = static_cast<std::int64_t>(io->dwStartSector) * e.sectorSize;
    const std::int64_t size = static_cast<std::int64_t>(io->wSectors) * e.sectorSize;
    void* buffer = ResolveLinearAddress(io->dwBuffer, static_cast<std::size_t>(size));
    if (buffer == nullptr && size > 0)
        return carry(ERROR_NOACCESS);
    if (offset + size > e.length) {
        machine_->outOfExtent.push_back(
            OutOfExtent{std::string(1, d->letter) + ":", offset, size, write});
        return carry(ERROR_SECTOR_NOT_FOUND);
    }
    const bool mounted =
        d->kind == DriveKind::Floppy ? d->medium->volume.has_value() : d->volume.has_value();
    if (!mounted && !d->accessFlag)
        return carry(ERROR_NOT_READY); // an unformatted medium is reached only when allowed
    if (write) {
        if (d->kind == DriveKind::Floppy && d->medium->writeProtected)
            return carry(ERROR_WRITE_PROTECT);
        if (d->vwin32Lock != handle)
            return carry(ERROR_ACCESS_DENIED); // direct writes need the volume lock
    }
    if (size == 0)
        return;
    const std::int64_t absolute = e.base + offset;
    std::int64_t at = 0;
    if (BlockFault* f = FirstFault(e.image, absolute, size, write, &at)) {
        f->fault.Fire();
        return carry(f->fault.error); // the services know no partial transfer
    }
    const bool ok = write ? e.image->Write(absolute, buffer, static_cast<std::size_t>(size))
                          : e.image->Read(absolute, buffer, static_cast<std::size_t>(size));
    if (!ok)
        return carry(write ? ERROR_WRITE_FAULT : ERROR_READ_FAULT);
    if (write)
        MarkWritten(e.image, absolute, size);
}

} // namespace platform::sim
