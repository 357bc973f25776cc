#include "disk/nt/floppy.h"

#include "disk/identity.h"
#include "disk/nt/format.h"
#include "platform/system.h"

#include <cctype>
#include <cstring>
#include <vector>

namespace purgelet {

namespace {

constexpr std::array<std::uint8_t, 512> MakeFloppyBootSector() {
    std::array<std::uint8_t, 512> s{};
    auto put = [&s](std::size_t at, std::initializer_list<std::uint8_t> bytes) {
        for (std::uint8_t b : bytes)
            s[at++] = b;
    };
    auto text = [&s](std::size_t at, const char* chars, std::size_t width) {
        std::size_t i = 0;
        for (; chars[i] != '\0'; ++i)
            s[at + i] = static_cast<std::uint8_t>(chars[i]);
        for (; i < width; ++i)
            s[at + i] = ' ';
    };
    put(0, {0xEB, 0x3C, 0x90});
    text(3, "MSDOS5.0", 8);
    put(11, {0x00, 0x02});       // 512 bytes per sector
    put(13, {0x01});             // 1 sector per cluster
    put(14, {0x01, 0x00});       // 1 reserved sector
    put(16, {0x02});             // 2 FATs
    put(17, {0xE0, 0x00});       // 224 root entries
    put(19, {0x40, 0x0B});       // 2880 sectors
    put(21, {0xF0});             // media descriptor
    put(22, {0x09, 0x00});       // 9 sectors per FAT
    put(24, {0x12, 0x00});       // 18 sectors per track
    put(26, {0x02, 0x00});       // 2 heads
    put(28, {0, 0, 0, 0});       // no hidden sectors
    put(32, {0, 0, 0, 0});       // no large sector count
    put(36, {0x00, 0x00, 0x29}); // drive 0, reserved, extended boot signature
    put(39, {0x33, 0xBD, 0x19, 0x1C});
    text(43, "NO NAME", 11);
    text(54, "FAT12", 8);

    // Boot code, loaded at 0000:7C00 and entered at 7C3E. It resets the boot drive, tells
    // the user to remove the disk ("Disk error" when even the reset fails), waits for a key
    // and restarts through the BIOS.
    put(62, {
                0xFA,             // cli
                0x33, 0xC0,       // xor ax,ax
                0x8E, 0xD0,       // mov ss,ax
                0xBC, 0x00, 0x7C, // mov sp,7C00h
                0x8E, 0xD8,       // mov ds,ax
                0xFB,             // sti
                0xFC,             // cld
                0x33, 0xC0,       // xor ax,ax          (reset disk system, drive in dl)
                0xCD, 0x13,       // int 13h
                0xBE, 0x77, 0x7C, // mov si,media
                0x73, 0x03,       // jnc show
                0xBE, 0x96, 0x7C, // mov si,diskError
                0xE8, 0x0F, 0x00, // show: call print
                0xBE, 0xA3, 0x7C, // mov si,press
                0xE8, 0x09, 0x00, // call print
                0x33, 0xC0,       // xor ax,ax
                0xCD, 0x16,       // int 16h            (wait for a key)
                0xCD, 0x19,       // int 19h            (restart)
                0xF4,             // halt: hlt
                0xEB, 0xFD,       // jmp halt
                0xAC,             // print: lodsb
                0x84, 0xC0,       // test al,al
                0x74, 0x09,       // jz done
                0xB4, 0x0E,       // mov ah,0Eh         (teletype output)
                0xBB, 0x07, 0x00, // mov bx,0007h
                0xCD, 0x10,       // int 10h
                0xEB, 0xF2,       // jmp print
                0xC3,             // done: ret
            });
    text(62 + 57, "\r\nRemove disks or other media.", 30);  // at 7C77
    text(62 + 88, "\r\nDisk error", 12);                    // at 7C96
    text(62 + 101, "\r\nPress any key to restart\r\n", 28); // at 7CA3
    put(510, {0x55, 0xAA});
    return s;
}

bool IsFloppyMedia(int type) {
    return (type >= 1 && type <= 10) || (type >= 13 && type <= 25);
}

constexpr DWORD kMediaTypesBytes = 24600; // room for 1025 entries

} // namespace

alignas(4096) constexpr std::array<std::uint8_t, 512> FloppyBootSector = MakeFloppyBootSector();

// The strings of the boot code end with their terminating zero right after the text.
static_assert(FloppyBootSector[62 + 57 + 30] == 0 && FloppyBootSector[62 + 88 + 12] == 0 &&
              FloppyBootSector[62 + 101 + 28] == 0 && FloppyBootSector[62 + 130] == 0);

void TNTFloppy::init() {
    auto& k = platform::k32();
    const std::string root = Name + ":\\";
    DriveType = 0;
    std::vector<char> volumeName(10000, '\0'), fileSystemName(10000, '\0');
    DWORD serial = 0, maxComponent = 0, flags = 0;
    std::string label = "Logical drive";
    if (k.GetVolumeInformationA(root.c_str(), volumeName.data(), 10000, &serial, &maxComponent,
                                &flags, fileSystemName.data(), 10000)) {
        volumeName.back() = fileSystemName.back() = '\0';
        std::string fs = fileSystemName.data();
        while (!fs.empty() && static_cast<unsigned char>(fs.back()) <= ' ')
            fs.pop_back();
        while (!fs.empty() && static_cast<unsigned char>(fs.front()) <= ' ')
            fs.erase(fs.begin());
        FileSystem = fs;
        label = volumeName.data();
    } else {
        FileSystem = "FAT12";
    }
    Description = label + " (" + Name + ":)";

    platform::UniqueHandle device(k.CreateFileA(DevicePath.c_str(), GENERIC_READ,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                OPEN_EXISTING, 0, nullptr));
    const HANDLE handle = device.Get();
    if (!device)
        throw XNTCreateFile("NTLogicalDisk.init - CreateFile('" + DevicePath +
                            "') : " + LastErrorText());
    std::vector<DISK_GEOMETRY> media(kMediaTypesBytes / sizeof(DISK_GEOMETRY) + 1);
    std::memset(media.data(), 0, kMediaTypesBytes);
    DWORD returned = 0;
    if (!k.DeviceIoControl(handle, IOCTL_DISK_GET_MEDIA_TYPES, nullptr, 0, media.data(),
                           kMediaTypesBytes, &returned, nullptr))
        throw XDeviceIOControl(
            "NTLogicalDisk.init - DeviceIoControl(IOCTL_DISK_GET_MEDIA_TYPES) : " +
            LastErrorText());
    StartingOffset = 0;
    BlockSize = 0;
    BootIndicator = 0;
    Size = 0;
    BlockCount = 0;
    const std::size_t entries =
        std::min<std::size_t>(returned / sizeof(DISK_GEOMETRY), media.size());
    for (std::size_t i = 0; i < entries; ++i) {
        const DISK_GEOMETRY& g = media[i];
        if (!IsFloppyMedia(static_cast<int>(g.MediaType)))
            throw XCompatibility("TNTFloppy.init - Non floppy drive");
        DriveType = 2;
        const std::int64_t count = g.Cylinders.QuadPart * g.TracksPerCylinder * g.SectorsPerTrack;
        if (count > BlockCount) {
            BlockCount = count;
            BlockSize = static_cast<std::int32_t>(g.BytesPerSector);
            Size = count * BlockSize;
        }
    }
    MaxBlockCount = BlockCount;
    MaxBlockSize = BlockSize;
    PartitionNumber = 0;
    DeviceNumber = -1; // a floppy never has an owner disk
    // A USB floppy drive tells who it is; the others answer nothing.
    Identity = QueryDeviceIdentity(handle);
    device.Reset();

    Description = "Floppy (" + Name + ":)";
    TakeShellDisplayName(root);
}

void TNTFloppy::Open(bool readOnly) {
    TNTLogicalDisk::Open(readOnly);
    ReadMedium(Sink());
}

void TNTFloppy::OpenForWipe(const TOpenMode& mode) {
    TNTLogicalDisk::OpenForWipe(mode);
    ReadMedium(Asked(mode));
}

void TNTFloppy::ReadMedium(TMessageObject& asked) {
    try {
        DISK_GEOMETRY g;
        for (;;) {
            std::memset(&g, 0, sizeof(g));
            DWORD returned = 0;
            if (TInFlight::Control(DeviceHandle.Get(), IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0,
                                   &g, sizeof(g), &returned))
                break;
            const DWORD code = platform::k32().GetLastError();
            const std::string text = platform::k32().SysErrorMessage(code);
            const int answer =
                asked.Message(mkNoFloppy, Description, TMsgDlgType::mtError, mbAbortRetry);
            if (answer != mrRetry) {
                platform::k32().SetLastError(code);
                throw XNoDisk("NTFloppy.open - DeviceIoControl(IOCTL_DISK_GET_DRIVE_GEOMETRY) : " +
                              text);
            }
        }
        BlockSize = static_cast<std::int32_t>(g.BytesPerSector);
        BlockCount = g.Cylinders.QuadPart * g.TracksPerCylinder * g.SectorsPerTrack;
        Size = BlockCount * BlockSize;
        SectorsPerTrack = static_cast<std::int32_t>(g.SectorsPerTrack);
    } catch (...) {
        CloseAfterFailure();
        BlockCount = MaxBlockCount;
        BlockSize = MaxBlockSize;
        Size = BlockCount * BlockSize;
        throw;
    }
}

void TNTFloppy::Close() {
    LastBlockSize = BlockSize;
    LastBlockCount = BlockCount;
    BlockCount = 0;
    Size = 0;
    BlockSize = 0;
    TNTLogicalDisk::Close();
}

void TNTFloppy::Wipe(TWipeContext& wipe) {
    const std::int64_t track = static_cast<std::int64_t>(SectorsPerTrack) * BlockSize;
    std::int32_t& wanted = wipe.Options.BufferSize;
    if (track > 0 && (wanted == 0 || wanted > track))
        wanted = static_cast<std::int32_t>(track);
    TNTLogicalDisk::Wipe(wipe);
}

void TNTFloppy::Format(const TFormatParams& Params, TWipeContext& wipe) {
    if (ReadOnly)
        throw XReadOnly("Read only !!!");
    if (LastBlockCount == 2880 && LastBlockSize == 512) {
        TOpenedDisk opened(*this, wipe.OpenMode());
        WriteBlocks(FloppyBootSector.data(), 1, 0);
        opened.Close();
    }
    FormatOrOfferShell(Params, 0, wipe);
}

} // namespace purgelet
