// The simulated PC as parsed from its machine file (docs/machine-file.md): physical disks
// with their images, drive letters as windows into a disk image or with an image of their
// own, floppy drives with their media, the faults to inject, and what the simulated system
// recorded. The sim back-ends (kernel32, shell32, fmifs, setupapi, registry) share one
// Machine; a test reaches the installed one through CurrentMachine() to inject faults or
// change a floppy between calls.
#pragma once

#include "platform/identity.h"
#include "platform/sim/firmware.h"
#include "platform/sim/optical_drive.h"
#include "platform/storage_query.h"
#include "platform/winapi.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace platform::sim {

// A fault that fires on every call (remaining -1), on the first N calls (remaining N) or
// never (remaining 0), failing with error.
struct Fault {
    int remaining = 0;
    DWORD error = ERROR_GEN_FAILURE;

    static Fault Always(DWORD error) { return Fault{-1, error}; }
    static Fault Times(int count, DWORD error) { return Fault{count, error}; }
    bool armed() const { return remaining != 0; }
    // True when the fault fires for this call (and counts it down).
    bool Fire();
};

// A block whose transfer fails (or, when shortTransfer, stops before it), numbered in the
// blocks of the device it is declared on.
struct BlockFault {
    std::int64_t block = 0;
    Fault fault;
    bool shortTransfer = false;
};

struct DeviceFaults {
    Fault open, geometry, partitionInfo, deviceNumber, mediaTypes, seek, close, lock, unlock,
        dismount;
    // Windows 9x: the drive map and the media access flag (query and change) of "\\.\vwin32";
    // its device parameters fail with geometry, its volume lock with lock and unlock.
    Fault driveMap, accessFlag, setAccessFlag;
    // IOCTL_STORAGE_QUERY_PROPERTY: the device does not tell who it is.
    Fault storageQuery;
    std::vector<BlockFault> readBlocks, writeBlocks;
    // Blocks whose writes the drive acknowledges and drops: the medium keeps what it held.
    std::vector<BlockFault> lostWrites;
};

// How FormatEx behaves on a drive.
struct FormatBehaviour {
    int steps = 10;         // progress reports before the end (at least 1)
    int stepMs = 0;         // real time each step takes, for demos
    bool fails = false;     // report failure at the end instead of writing the volume
    int failAfterSteps = 0; // with fails: steps reported before the failure
    DWORD error = ERROR_GEN_FAILURE;
};

// A backing file, opened on first use and kept open for the machine's life. Partitions of
// one disk share it, and their engines may move bytes at once: each transfer is whole.
class Image {
public:
    Image(std::filesystem::path path, std::int64_t size, bool created = false);
    const std::filesystem::path& path() const { return path_; }
    // The file did not exist before this machine made it (its first use).
    bool created() const { return created_; }
    std::int64_t size() const { return size_; }
    bool Read(std::int64_t offset, void* buffer, std::size_t size);
    bool Write(std::int64_t offset, const void* buffer, std::size_t size);
    void Flush();

private:
    std::fstream& Stream();
    std::filesystem::path path_;
    std::int64_t size_;
    bool created_;
    std::mutex mutex_; // the stream's position belongs to one transfer at a time
    std::fstream stream_;
};

struct Volume {
    std::string label;
    std::string fileSystem = "NTFS";
    DWORD serial = 0x1234ABCD;
    DWORD flags = 0x000700FF;
    DWORD maxComponentLength = 255;
    std::optional<std::int64_t> totalBytes; // default: the drive's length
    std::int64_t freeBytes = 0;
};

struct PhysicalDisk {
    std::string friendlyName;
    std::string devicePath; // the SetupAPI device interface path that opens it
    DWORD deviceNumber = 0;
    DISK_GEOMETRY geometry{};
    std::int64_t size = 0; // bytes: at least the geometry's product
    Image* image = nullptr;
    // Real-time pace of its transfers and its partitions'; 0: none.
    std::int64_t bytesPerSecond = 0;
    DeviceFaults faults;
    // Instance id and hardware id as SetupAPI reports them.
    std::string instanceId;
    std::string hardwareId;
    // What the storage property query answers for the disk and its partitions ("model",
    // else the friendly name, "serial", "firmware", "bus", "rotational").
    StorageDeviceFacts identity;
    // The disk holds the running system: the system refuses to have it written as a whole.
    bool runningSystem = false;
    // The drive's own command set ("firmware"): none when absent.
    std::optional<FirmwareDrive> firmware;
    // Another namespace of the NVMe drive of the disk at this index ("namespaceOf"), whose
    // firmware answers for both; -1: the disk is a drive of its own.
    int namespaceOf = -1;
    std::uint32_t nsid = 1; // its NVMe namespace id ("nsid")
};

enum class DriveKind { Fixed, Removable, Floppy, CdRom, RamDisk, Network, NoRootDir };

struct FloppyMedium {
    MEDIA_TYPE type = F3_1Pt44_512;
    Image* image = nullptr;
    bool writeProtected = false;
    std::optional<Volume> volume; // nullopt: the medium has no file system
};

struct Drive {
    char letter = 'C';
    DriveKind kind = DriveKind::Fixed;
    int disk = -1;              // index into Machine::disks, -1 for a drive with its own image
    std::int64_t offset = 0;    // byte offset of the partition on its disk
    std::int64_t length = 0;    // partition length in bytes (need not be whole sectors)
    Image* image = nullptr;     // own image (disk -1, not a floppy)
    DWORD bytesPerSector = 512; // of a drive with its own image
    BYTE partitionType = 7;
    bool boot = false;
    int partitionNumber = 1;
    bool hasDeviceNumber = true; // false: IOCTL_STORAGE_GET_DEVICE_NUMBER is not supported
    DWORD deviceNumber = 0;      // of a drive with its own image and hasDeviceNumber
    // Real-time pace of the transfers of a drive with its own image or of a floppy drive's
    // media; 0: none. A partition moves at its disk's pace.
    std::int64_t bytesPerSecond = 0;
    std::optional<Volume> volume; // nullopt: the volume does not answer (RAW)
    std::optional<std::string> displayName;
    bool inUse = false; // another process has files open: the lock is refused until dismount
    DeviceFaults faults;
    FormatBehaviour format;
    // Floppy drives.
    std::vector<MEDIA_TYPE> supportedMedia;
    std::optional<FloppyMedium> medium;
    // Windows 9x: the BIOS unit the drive map reports (default: floppies by letter, a
    // partition 80h + its disk, a drive with its own image after the disks), and whether the
    // parameter block counts the sectors (false: both counts 0, as some drivers report).
    std::optional<int> int13Unit;
    bool bpbSectorCount = true;
    // State kept by the simulated system.
    bool dismounted = false;
    bool written = false;        // raw writes went to the volume since it was mounted
    bool accessFlag = false;     // 9x media access flag; set at parse time when a volume answers
    HANDLE vwin32Lock = nullptr; // the "\\.\vwin32" handle holding the 9x volume lock
};

// One call the simulated system answered, for tests to assert on.
struct Call {
    std::string name;   // "CreateFileA", "DeviceIoControl", "SetFilePointer", "ReadFile", ...
    std::string device; // "\\.\E:", a disk's device path, or a drive root
    DWORD a = 0, b = 0, c = 0; // CreateFileA: access, share, flags; DeviceIoControl: code,
                               // out size; SetFilePointer: low, high; transfers: size
    std::int64_t offset = 0;   // transfers: device byte offset
    bool ok = false;
};

// One register packet handed to "\\.\vwin32", as it came in and as it went back.
struct Vwin32Packet {
    DWORD code = 0;
    DIOC_REGISTERS in{}, out{};
    char drive = 0;           // the drive letter it addressed, 0 when none
    std::int64_t sector = -1; // transfers: the first sector
    DWORD count = 0;          // transfers: sectors
    bool write = false;       // transfers: a write
    bool ok = false;          // answered with the carry flag clear
};

struct OutOfExtent {
    std::string device;
    std::int64_t offset = 0;
    std::int64_t size = 0;
    bool write = false;
};

struct FormatCall {
    std::string root, fileSystem, label;
    DWORD mediaFlag = 0, clusterSize = 0;
    bool quick = false;
};

struct ShellFormatCall {
    UINT drive = 0, formatId = 0, options = 0;
    // The dialog is a window: the thread that drew it, which must be the one that owns the
    // program's windows.
    std::thread::id thread;
};

class Machine {
public:
    // Parses a machine; images are relative to its image folder ("imageDir", by default
    // baseDir) and created sparse when missing.
    // Throws std::runtime_error naming the offending entry on a malformed machine.
    static std::unique_ptr<Machine> Parse(const nlohmann::json& file,
                                          const std::filesystem::path& baseDir);
    static std::unique_ptr<Machine> Load(const std::filesystem::path& machineFile);

    DWORD platformId = VER_PLATFORM_WIN32_NT;
    DWORD buildNumber = 2600;
    enum class FormatLibrary { Present, Absent, NoFormatEx } formatLibrary = FormatLibrary::Present;
    std::vector<PhysicalDisk> disks;
    std::vector<Drive> drives;
    std::vector<OpticalDrive> opticalDrives;
    AspiLayer aspi;
    bool helpViewer = false; // help files and shell documents can be opened
    // The running program's full path as GetModuleFileNameA reports it (its folder holds the
    // method files and the language file); empty: the real executable's.
    std::filesystem::path executable;
    // The folder of the simulated Windows, as GetWindowsDirectoryA reports it: its drive
    // letter holds the running system.
    std::string windowsDirectory = "C:\\WINDOWS";
    nlohmann::json registry = nlohmann::json::object();
    std::filesystem::path baseDir;  // the machine file's folder
    std::filesystem::path imageDir; // where relative image names live
    // "clock": "real": the clock and the tick count follow the host's; else they stand still
    // (tests move them), so logs and reports are reproducible.
    bool realClock = false;
    // Where the current user's registry keys are kept between starts; empty: nowhere.
    std::filesystem::path registryFile;
    // The desktop folder the shell's "Shell Folders" key names; empty: none.
    std::filesystem::path desktopFolder;
    // The computer itself ("computer"), as SystemInfo tells it; an empty operating system is
    // named from the platform and build that GetVersionExA reports.
    ComputerIdentity computer;
    bool letterPaper = false;

    // What the system recorded.
    std::vector<Call> calls;
    std::vector<OutOfExtent> outOfExtent;
    std::vector<Vwin32Packet> packets;
    std::vector<FormatCall> formats;
    std::vector<ShellFormatCall> shellFormats;
    DWORD shellFormatResult = SHFMT_NOFORMAT_VALUE;

    // Held by the simulated libraries while they look at or change what devices share (the
    // handle table, the drives' state and faults, the records), so that engines on different
    // devices may call at once. Recursive: a library call may make another.
    std::recursive_mutex mutex;

    Drive* FindDrive(char letter);
    PhysicalDisk* FindDisk(const std::string& devicePath); // case-insensitive
    // The image of a file name relative to the image folder, created sparse at size when
    // missing (and grown when smaller).
    Image* ImageFor(const std::string& name, std::int64_t size);

    // Floppy media, between calls.
    void InsertMedium(char letter, MEDIA_TYPE type, const std::string& image,
                      bool writeProtected = false);
    void EjectMedium(char letter);

    // Counters over the recorded calls for a device ("\\.\E:"), by name and optionally code.
    int CountCalls(const std::string& device, const std::string& name, DWORD code = 0) const;

    static constexpr DWORD SHFMT_NOFORMAT_VALUE = 0xFFFFFFFDUL;

private:
    std::map<std::string, std::unique_ptr<Image>> images_;
};

// Geometry of a floppy medium type (cylinders, heads, sectors per track, bytes per sector);
// false for a type the sim does not model.
bool FloppyGeometry(MEDIA_TYPE type, DISK_GEOMETRY* geometry);
std::int64_t GeometryBytes(const DISK_GEOMETRY& geometry);

// The folder a machine file's "imageDir" names: relative to baseDir, absolute, or
// "@userdata/rest" under the user's data folder ($XDG_DATA_HOME, else $HOME/.local/share,
// else %LOCALAPPDATA%). Throws std::runtime_error when it cannot be resolved.
std::filesystem::path ResolveImageDir(const std::string& value,
                                      const std::filesystem::path& baseDir);
// The same rules for any folder key of the machine file (named in the error).
std::filesystem::path ResolveFolder(const std::string& key, const std::string& value,
                                    const std::filesystem::path& baseDir);

// Bytes the host really allocated for a file, where the host tells (POSIX st_blocks);
// nullopt where it does not, or when the file cannot be examined.
std::optional<std::int64_t> AllocatedBytes(const std::filesystem::path& file);

// The last-error slot of the simulated process, shared by all its libraries: one per thread,
// as Windows keeps it.
DWORD& LastError();

// The machine of the installed system, or null when it is not a simulated PC.
Machine* CurrentMachine();

} // namespace platform::sim
