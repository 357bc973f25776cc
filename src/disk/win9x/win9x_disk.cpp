#include "disk/win9x/win9x_disk.h"

#include "disk/device_access.h"
#include "platform/linear_address.h"
#include "platform/system.h"
#include "report/exceptions.h"

#include <cctype>
#include <cstring>

namespace purgelet {

namespace {

constexpr DWORD kIoctl = 0x440D;
constexpr DWORD kGetDeviceParams = 0x0860;
constexpr DWORD kGetDriveMap = 0x486F;
constexpr DWORD kGetAccessFlag = 0x4867;
constexpr DWORD kSetAccessFlag = 0x4847;
constexpr DWORD kLockVolume = 0x084A;
constexpr DWORD kUnlockVolume = 0x086A;   // up to build 1000
constexpr DWORD kUnlockVolume32 = 0x486A; // later builds
constexpr DWORD kExtendedTransfer = 0x7305;
constexpr DWORD kUseDiskIo = 0xFFFF;  // CX of a transfer: the registers point at a DISKIO
constexpr DWORD kLastOldBuild = 1000; // later builds have the FAT32 services
constexpr std::int64_t kSectorNumbers = std::int64_t{1} << 32;

// The low word of the system's build number; 0 (the services every 9x has) when the
// system does not tell it.
DWORD SystemBuild() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof(version);
    if (!platform::k32().GetVersionExA(&version))
        return 0;
    return version.dwBuildNumber & 0xFFFF;
}

} // namespace

// ---- T9xLogicalDisk

T9xLogicalDisk::T9xLogicalDisk(std::string Name, TMessageObject* Owner)
    : TLogicalDisk(std::move(Name), Owner) {}

T9xLogicalDisk::~T9xLogicalDisk() {
    CloseAfterFailure();
}

void T9xLogicalDisk::init() {
    DriveType = 0;
    Description = "logical disk (" + Name + ":)";
    TakeShellDisplayName(Description, Name + ":\\");
    DriveIndex = std::toupper(static_cast<unsigned char>(Name.empty() ? 'A' : Name[0])) - 'A';
    OpenDevice();
    try {
        GetDiskParameters();
    } catch (...) {
        DeviceHandle.Reset();
        throw;
    }
    DeviceHandle.Reset();
}

void T9xLogicalDisk::OpenDevice() {
    DeviceHandle.Reset(platform::k32().CreateFileA("\\\\.\\vwin32", GENERIC_READ | GENERIC_WRITE, 0,
                                                   nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!DeviceHandle)
        throw XVWin32NotFound("T9xLogicalDisk.create(" + Name + ") : " + LastErrorText());
}

bool T9xLogicalDisk::Request(DWORD code, DIOC_REGISTERS& registers) {
    auto& k = platform::k32();
    if (!DeviceHandle) {
        k.SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    DWORD returned = 0;
    if (!k.DeviceIoControl(DeviceHandle.Get(), code, &registers, sizeof(registers), &registers,
                           sizeof(registers), &returned, nullptr))
        return false;
    if ((registers.reg_Flags & VWIN32_CARRY_FLAG) == 0)
        return true;
    // The services' error codes are the system's: AX names what went wrong.
    if ((registers.reg_EAX & 0xFFFF) != 0)
        k.SetLastError(registers.reg_EAX & 0xFFFF);
    return false;
}

DIOC_REGISTERS T9xLogicalDisk::Ioctl(DWORD minor, DWORD edx) const {
    DIOC_REGISTERS r{};
    r.reg_EAX = kIoctl;
    r.reg_EBX = static_cast<DWORD>(DriveIndex + 1);
    r.reg_ECX = minor;
    r.reg_EDX = edx;
    return r;
}

void T9xLogicalDisk::GetDiskParameters() {
    if (!DeviceHandle)
        throw XNotOpened("T9xLogicalDisk.GetDiskParameters : fDeviceHandle=INVALID_HANDLE_VALUE");
    DOS_DEVICE_PARAMS params;
    std::memset(&params, 0, sizeof(params));
    // Once opened, the medium in the drive is what counts (bit 0); at detection the drive's
    // default medium, which needs no disk in a floppy drive.
    params.dpSpecFunc = currentMedium_ ? 1 : 0;
    platform::LinearAddress address(&params, sizeof(params));
    DIOC_REGISTERS r = Ioctl(kGetDeviceParams, address.value());
    r.reg_Flags = VWIN32_CARRY_FLAG;
    if (!Request(VWIN32_DIOC_DOS_IOCTL, r)) {
        BlockSize = 512;
        BlockCount = 0;
        Size = 0;
        throw XMDIOCError("T9xLogicalDisk.GetDiskParameters : " + LastErrorText());
    }
    SectorsPerTrack = params.bpbSecPerTrack;
    BlockSize = params.bpbBytesPerSec;
    // The large count is 0 when the 16-bit one holds the count; only when both are 0 is the
    // medium sized by its geometry.
    std::int64_t total = params.bpbHugeSectors;
    if (total == 0)
        total = params.bpbSectors;
    if (total == 0)
        total =
            static_cast<std::int64_t>(params.bpbSecPerTrack) * params.bpbHeads * params.dpCylinders;
    BlockCount = total;
    Size = static_cast<std::int64_t>(BlockSize) * BlockCount;
    DriveType = DriveTypeOf(Name, "T9xLogicalDisk.GetDiskParameters");
    GetPartitionMapping();
}

void T9xLogicalDisk::GetPartitionMapping() {
    Int13Unit = 255;
    DRIVE_MAP_INFO map;
    std::memset(&map, 0, sizeof(map));
    map.dmiAllocationLength = sizeof(map);
    map.dmiInfoLength = sizeof(map);
    platform::LinearAddress address(&map, sizeof(map));
    DIOC_REGISTERS r = Ioctl(kGetDriveMap, address.value());
    if (Request(VWIN32_DIOC_DOS_IOCTL, r))
        Int13Unit = map.dmiInt13Unit;
    else
        LogSilently<XMDIOCError>("T9xLogicalDisk.GetPartitionMapping : " + LastErrorText());
}

bool T9xLogicalDisk::GetAccesFlag() {
    DOS_ACCESS_FLAG flag{0, 0};
    platform::LinearAddress address(&flag, sizeof(flag));
    DIOC_REGISTERS r = Ioctl(kGetAccessFlag, address.value());
    if (Request(VWIN32_DIOC_DOS_IOCTL, r))
        return flag.bAccessFlag != 0;
    LogSilently<XMDIOCError>("T9xLogicalDisk.GetAccesFlag : " + LastErrorText());
    return true;
}

void T9xLogicalDisk::SetAccessFlag(bool Allow) {
    DOS_ACCESS_FLAG flag{0, static_cast<BYTE>(Allow ? 1 : 0)};
    platform::LinearAddress address(&flag, sizeof(flag));
    DIOC_REGISTERS r = Ioctl(kSetAccessFlag, address.value());
    if (!Request(VWIN32_DIOC_DOS_IOCTL, r))
        LogSilently<XMDIOCError>("T9xLogicalDisk.SetAccessFlag : " + LastErrorText());
}

void T9xLogicalDisk::_Lock(std::int32_t Level, std::int32_t Permissions) {
    DIOC_REGISTERS r = Ioctl(kLockVolume, static_cast<DWORD>(Permissions));
    r.reg_EBX = static_cast<DWORD>(Level * 256 + DriveIndex + 1);
    r.reg_Flags = VWIN32_CARRY_FLAG;
    if (!Request(VWIN32_DIOC_DOS_IOCTL, r))
        throw Xlock("T9xLogicalDisk._Lock(" + std::to_string(Level) + "," +
                    std::to_string(Permissions) + ") : " + LastErrorText());
    locked_ = true;
}

void T9xLogicalDisk::Lock() {
    _Lock(0, 0);
}

void T9xLogicalDisk::UnLock() {
    DIOC_REGISTERS r = Ioctl(build_ <= kLastOldBuild ? kUnlockVolume : kUnlockVolume32, 0);
    r.reg_Flags = VWIN32_CARRY_FLAG;
    Request(VWIN32_DIOC_DOS_IOCTL, r);
    locked_ = false;
}

void T9xLogicalDisk::Open(bool readOnly) {
    if (DeviceHandle.IsOpen())
        Close(); // a second Open would leave the first lock and handle behind
    AccessState = 0;
    ReadOnly = readOnly;
    OpenDevice();
    build_ = SystemBuild();
    try {
        currentMedium_ = true;
        GetDiskParameters();
        currentMedium_ = false;
        if (GetAccesFlag()) {
            AccessState = 1;
        } else {
            SetAccessFlag(true);
            AccessState = 2;
        }
        if (!readOnly)
            Lock();
    } catch (...) {
        currentMedium_ = false;
        CloseAfterFailure();
        throw;
    }
}

void T9xLogicalDisk::Close() {
    if (!DeviceHandle)
        return;
    // Only a lock this object took is given back: after a refused lock there is none.
    if (!ReadOnly && locked_)
        UnLock();
    if (AccessState == 1 || AccessState == 2)
        SetAccessFlag(false);
    AccessState = 0;
    DeviceHandle.Reset();
}

void T9xLogicalDisk::Transfer(void* Buffer, std::int32_t Count, std::int64_t Block, bool write) {
    const std::string where =
        std::string(write ? "T9xLogicalDisk.WriteBlocks( " : "T9xLogicalDisk.ReadBlocks(") +
        std::to_string(Block) + "," + std::to_string(Count) + ") : ";
    // The transfer block names the sector in 32 bits and the count in 16. Cutting a larger
    // number down would move other sectors than the ones asked for (and a wipe would call
    // itself done), so such a transfer is refused.
    if (Block < 0 || Block >= kSectorNumbers || Count <= 0 || Count > 0xFFFF ||
        Block + Count > kSectorNumbers || BlockSize <= 0)
        throw XMDIOCError(where + "block out of the reach of the disk services");
    platform::LinearAddress buffer(Buffer, static_cast<std::size_t>(Count) *
                                               static_cast<std::size_t>(BlockSize));
    DISKIO io{static_cast<DWORD>(Block), static_cast<WORD>(Count), buffer.value()};
    platform::LinearAddress packet(&io, sizeof(io));
    DIOC_REGISTERS r{};
    DWORD code = 0;
    if (build_ > kLastOldBuild) {
        code = VWIN32_DIOC_DOS_DRIVEINFO;
        r.reg_EAX = kExtendedTransfer;
        r.reg_EBX = packet.value();
        r.reg_ECX = kUseDiskIo;
        r.reg_EDX = static_cast<DWORD>(DriveIndex + 1);
        r.reg_ESI = write ? 1 : 0;
    } else {
        code = write ? VWIN32_DIOC_DOS_INT26 : VWIN32_DIOC_DOS_INT25;
        r.reg_EAX = static_cast<DWORD>(DriveIndex);
        r.reg_EBX = packet.value();
        r.reg_ECX = kUseDiskIo;
    }
    r.reg_Flags = VWIN32_CARRY_FLAG;
    if (!Request(code, r))
        throw XMDIOCError(where + LastErrorText());
}

void T9xLogicalDisk::ReadBlocks(void* Buffer, std::int32_t Count, std::int64_t Block) {
    Transfer(Buffer, Count, Block, false);
}

void T9xLogicalDisk::WriteBlocks(const void* Buffer, std::int32_t Count, std::int64_t Block) {
    if (ReadOnly)
        throw XReadOnly("Read only !!!");
    Transfer(const_cast<void*>(Buffer), Count, Block, true);
    Written = true;
}

void T9xLogicalDisk::Wipe(TWipeContext& wipe) {
    Written = false;
    // What was written is no longer the file system the system knows: media access is
    // forbidden again, also when the wipe fails half-way.
    auto forbid = [this] {
        if (Written) {
            SetAccessFlag(false);
            AccessState = 2;
        }
    };
    try {
        TLogicalDisk::Wipe(wipe);
    } catch (...) {
        forbid();
        throw;
    }
    forbid();
}

void T9xLogicalDisk::Format(const TFormatParams&, TWipeContext& wipe) {
    if (ReadOnly)
        throw XReadOnly("Read only !!!");
    TMessageObject& sink = wipe.Messages();
    const int answer = sink.Message(mkQueryWinFormat9x, Description, TMsgDlgType::mtError, mbYesNo);
    if (answer == mrYes)
        ShellFormatDrive(sink, Name);
}

int T9xLogicalDisk::getPropertiesCount() {
    TLogicalDisk::getPropertiesCount();
    if (Int13Unit != 255) {
        AddProperty(prop9xFact4, static_cast<std::int32_t>(Int13Unit));
        if (Int13Unit >= 128)
            AddProperty(propOwnerHard, static_cast<std::int32_t>(Int13Unit - 128));
        else
            AddProperty(prop9xFact6, static_cast<std::int32_t>(Int13Unit));
    }
    return static_cast<int>(Properties.size());
}

// ---- T9XFloppy

void T9XFloppy::init() {
    T9xLogicalDisk::init();
    DriveType = 2;
}

void T9XFloppy::Wipe(TWipeContext& wipe) {
    const std::int64_t track = static_cast<std::int64_t>(SectorsPerTrack) * BlockSize;
    std::int32_t& wanted = wipe.Options.BufferSize;
    if (track > 0 && (wanted == 0 || wanted > track))
        wanted = static_cast<std::int32_t>(track);
    T9xLogicalDisk::Wipe(wipe);
}

// ---- T9xPhysicalDisk

namespace {

[[noreturn]] void NoPhysicalAccess(const std::string& operation, const std::string& name) {
    throw XCompatibility("T9xPhysicalDisk." + operation +
                         " - Windows 9x reaches disks by drive letter only: " + name);
}

} // namespace

void T9xPhysicalDisk::init() {
    NoPhysicalAccess("init", Name);
}

void T9xPhysicalDisk::Open(bool) {
    NoPhysicalAccess("Open", Name);
}

void T9xPhysicalDisk::ReadBlocks(void*, std::int32_t, std::int64_t) {
    NoPhysicalAccess("ReadBlocks", Name);
}

void T9xPhysicalDisk::WriteBlocks(const void*, std::int32_t, std::int64_t) {
    NoPhysicalAccess("WriteBlocks", Name);
}

} // namespace purgelet
