// Reading a machine file: the simulated PC its JSON describes, with the faults it injects,
// and the disk images it needs created or grown.
#include "platform/sim/machine.h"

#include "platform/sim/fat_volume.h"
#include "platform/sim/identity.h"
#include "platform/sim/machine_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace platform::sim {

namespace fs = std::filesystem;
using nlohmann::json;

void Bad(const std::string& where, const std::string& what) {
    throw std::runtime_error("machine file: " + where + ": " + what);
}

namespace {

std::int64_t GetInt(const json& object, const char* key, std::int64_t fallback,
                    const std::string& where) {
    auto value = Get<std::int64_t>(object, key, fallback, where);
    return value;
}

Fault ParseFault(const json& value, DWORD defaultError, const std::string& where) {
    Fault fault{0, defaultError};
    if (value.is_null())
        return fault;
    if (value.is_boolean()) {
        fault.remaining = value.get<bool>() ? -1 : 0;
    } else if (value.is_number_integer()) {
        fault.remaining = value.get<int>();
    } else if (value.is_object()) {
        fault.remaining = static_cast<int>(GetInt(value, "times", -1, where));
        fault.error = static_cast<DWORD>(GetInt(value, "error", defaultError, where));
    } else {
        Bad(where, "a fault is true, a number of times, or {\"times\", \"error\"}");
    }
    if (fault.remaining < -1)
        Bad(where, "times must be at least 0");
    return fault;
}

std::vector<BlockFault> ParseBlockFaults(const json& list, DWORD defaultError,
                                         const std::string& where) {
    std::vector<BlockFault> faults;
    if (list.is_null())
        return faults;
    if (!list.is_array())
        Bad(where, "must be a list of {\"block\", \"times\", \"error\", \"short\"}");
    for (std::size_t i = 0; i < list.size(); ++i) {
        std::string at = where + "[" + std::to_string(i) + "]";
        const json& item = list[i];
        if (!item.is_object() || !item.contains("block"))
            Bad(at, "needs a block number");
        BlockFault f;
        f.block = GetInt(item, "block", 0, at);
        if (f.block < 0)
            Bad(at, "block must not be negative");
        f.fault.remaining = static_cast<int>(GetInt(item, "times", -1, at));
        f.fault.error = static_cast<DWORD>(GetInt(item, "error", defaultError, at));
        f.shortTransfer = Get<bool>(item, "short", false, at);
        faults.push_back(f);
    }
    return faults;
}

DeviceFaults ParseFaults(const json& object, const std::string& where) {
    DeviceFaults f;
    if (object.is_null())
        return f;
    if (!object.is_object())
        Bad(where, "faults must be an object");
    auto one = [&](const char* key, DWORD error) {
        return ParseFault(object.contains(key) ? object[key] : json(), error, where + "." + key);
    };
    f.open = one("open", ERROR_ACCESS_DENIED);
    f.geometry = one("geometry", ERROR_INVALID_FUNCTION);
    f.partitionInfo = one("partitionInfo", ERROR_INVALID_FUNCTION);
    f.deviceNumber = one("deviceNumber", ERROR_INVALID_FUNCTION);
    f.mediaTypes = one("mediaTypes", ERROR_INVALID_FUNCTION);
    f.seek = one("seek", ERROR_SEEK);
    f.close = one("close", ERROR_INVALID_HANDLE);
    f.lock = one("lock", ERROR_ACCESS_DENIED);
    f.unlock = one("unlock", ERROR_NOT_LOCKED);
    f.dismount = one("dismount", ERROR_ACCESS_DENIED);
    f.driveMap = one("driveMap", ERROR_INVALID_FUNCTION);
    f.accessFlag = one("accessFlag", ERROR_INVALID_FUNCTION);
    f.setAccessFlag = one("setAccessFlag", ERROR_INVALID_FUNCTION);
    f.storageQuery = one("storageQuery", ERROR_INVALID_FUNCTION);
    f.readBlocks =
        ParseBlockFaults(object.value("readBlocks", json()), ERROR_CRC, where + ".readBlocks");
    f.writeBlocks = ParseBlockFaults(object.value("writeBlocks", json()), ERROR_WRITE_FAULT,
                                     where + ".writeBlocks");
    f.lostWrites =
        ParseBlockFaults(object.value("lostWrites", json()), ERROR_SUCCESS, where + ".lostWrites");
    return f;
}

std::optional<Volume> ParseVolume(const json& object, const std::string& where) {
    if (object.is_null())
        return std::nullopt;
    if (!object.is_object())
        Bad(where, "volume must be an object or null");
    Volume v;
    v.label = GetText(object, "label", "", where);
    v.fileSystem = GetText(object, "fileSystem", "NTFS", where);
    v.serial = static_cast<DWORD>(GetInt(object, "serial", v.serial, where));
    v.flags = static_cast<DWORD>(GetInt(object, "flags", v.flags, where));
    v.maxComponentLength =
        static_cast<DWORD>(GetInt(object, "maxComponentLength", v.maxComponentLength, where));
    if (object.contains("totalBytes"))
        v.totalBytes = GetInt(object, "totalBytes", 0, where);
    v.freeBytes = GetInt(object, "freeBytes", 0, where);
    return v;
}

// "bytesPerSecond": the real-time pace of a device's transfers, 0 when absent.
std::int64_t GetPace(const json& object, const std::string& where) {
    std::int64_t pace = GetInt(object, "bytesPerSecond", 0, where);
    if (object.contains("bytesPerSecond") && !object["bytesPerSecond"].is_null() && pace <= 0)
        Bad(where + ".bytesPerSecond", "must be a positive number of bytes");
    return pace;
}

DriveKind ParseKind(const std::string& kind, const std::string& where) {
    static const std::map<std::string, DriveKind> kinds = {
        {"fixed", DriveKind::Fixed},        {"removable", DriveKind::Removable},
        {"floppy", DriveKind::Floppy},      {"cdrom", DriveKind::CdRom},
        {"ramdisk", DriveKind::RamDisk},    {"network", DriveKind::Network},
        {"noRootDir", DriveKind::NoRootDir}};
    auto it = kinds.find(kind);
    if (it == kinds.end())
        Bad(where, "unknown kind \"" + kind + "\"");
    return it->second;
}

// A fresh disk gets a master boot record that describes its primary partitions, so that a
// test can check the partition table survives a wipe of one partition.
void WritePartitionTable(Machine& machine, int diskIndex) {
    PhysicalDisk& disk = machine.disks[static_cast<std::size_t>(diskIndex)];
    unsigned char mbr[512] = {};
    bool any = false;
    for (const Drive& d : machine.drives) {
        if (d.disk != diskIndex || d.partitionNumber < 1 || d.partitionNumber > 4)
            continue;
        any = true;
        unsigned char* e = mbr + 446 + 16 * (d.partitionNumber - 1);
        DWORD bps = disk.geometry.BytesPerSector;
        auto start = static_cast<DWORD>(d.offset / bps);
        auto count = static_cast<DWORD>(d.length / bps);
        e[0] = d.boot ? 0x80 : 0x00;
        e[1] = 0xFE, e[2] = 0xFF, e[3] = 0xFF; // CHS beyond reach: LBA fields count
        e[4] = d.partitionType;
        e[5] = 0xFE, e[6] = 0xFF, e[7] = 0xFF;
        for (int i = 0; i < 4; ++i) {
            e[8 + i] = static_cast<unsigned char>(start >> (8 * i));
            e[12 + i] = static_cast<unsigned char>(count >> (8 * i));
        }
    }
    if (!any)
        return;
    mbr[440] = static_cast<unsigned char>(disk.deviceNumber + 0x51);
    mbr[441] = 0x5A, mbr[442] = 0x1E, mbr[443] = 0xC0; // disk signature
    mbr[510] = 0x55, mbr[511] = 0xAA;
    disk.image->Write(0, mbr, sizeof(mbr));
}

// "files": a FAT file system with these files, written when the image was created by this
// start, so a fresh demo drive holds data before a wipe. Checked on every start.
void SeedFiles(const json& object, const std::string& where, Image* image, const FatLayout& layout,
               const std::optional<Volume>& volume) {
    if (!object.contains("files") || object["files"].is_null())
        return;
    const std::string at = where + ".files";
    const json& list = object["files"];
    if (!list.is_object())
        Bad(at, "must be an object of file name: text");
    std::vector<FatFile> files;
    char name[11];
    for (const auto& [fileName, text] : list.items()) {
        if (!text.is_string())
            Bad(at + "." + fileName, "must be a text");
        if (!ShortName(fileName, name))
            Bad(at + "." + fileName, "must be a short (8.3) file name");
        files.push_back(FatFile{fileName, text.get<std::string>()});
    }
    if (!volume)
        Bad(at, "needs a volume with a FAT file system");
    if (image == nullptr || !image->created())
        return;
    try {
        WriteFatVolume(*image, layout, volume->fileSystem, volume->label, volume->serial, files);
    } catch (const std::runtime_error& error) {
        Bad(at, error.what());
    }
}

} // namespace

namespace {

// A folder key of the top level, resolved as ResolveFolder does and created when missing.
fs::path MadeFolder(const json& file, const char* key, const fs::path& baseDir) {
    fs::path folder = ResolveFolder(key, Get<std::string>(file, key, "", key), baseDir);
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (!fs::is_directory(folder, ec))
        Bad(key, "\"" + folder.string() + "\" is not a folder and cannot be made one");
    return folder;
}

// "platform", "build" and "formatLibrary": the Windows the machine runs.
void ParsePlatform(Machine& m, const json& file) {
    std::string family = Get<std::string>(file, "platform", "NT", "platform");
    if (family == "NT")
        m.platformId = VER_PLATFORM_WIN32_NT;
    else if (family == "9x")
        m.platformId = VER_PLATFORM_WIN32_WINDOWS;
    else
        Bad("platform", "must be \"NT\" or \"9x\"");
    m.buildNumber = static_cast<DWORD>(
        GetInt(file, "build", m.platformId == VER_PLATFORM_WIN32_NT ? 2600 : 2222, "build"));
    std::string library = Get<std::string>(
        file, "formatLibrary", m.platformId == VER_PLATFORM_WIN32_NT ? "present" : "absent",
        "formatLibrary");
    if (library == "present")
        m.formatLibrary = Machine::FormatLibrary::Present;
    else if (library == "absent")
        m.formatLibrary = Machine::FormatLibrary::Absent;
    else if (library == "noFormatEx")
        m.formatLibrary = Machine::FormatLibrary::NoFormatEx;
    else
        Bad("formatLibrary", "must be \"present\", \"absent\" or \"noFormatEx\"");
}

// What the program finds around it: help viewer, executable, Windows folder, registry,
// clock, and the folders for images, the registry file and the desktop (made when missing).
void ParseSurroundings(Machine& m, const json& file, const fs::path& baseDir) {
    m.helpViewer = Get<bool>(file, "helpViewer", false, "helpViewer");
    if (const std::string exe = Get<std::string>(file, "executable", "", "executable");
        !exe.empty())
        m.executable = fs::path(exe).is_absolute() ? fs::path(exe) : baseDir / exe;
    m.windowsDirectory = GetText(file, "windowsDirectory", "C:\\WINDOWS", "windowsDirectory");
    if (file.contains("registry"))
        m.registry = file["registry"];
    m.imageDir = baseDir;
    if (file.contains("imageDir") && !file["imageDir"].is_null())
        m.imageDir = MadeFolder(file, "imageDir", baseDir);
    const std::string clock = Get<std::string>(file, "clock", "fixed", "clock");
    if (clock != "fixed" && clock != "real")
        Bad("clock", "must be \"fixed\" or \"real\"");
    m.realClock = clock == "real";
    if (const std::string registryFile = Get<std::string>(file, "registryFile", "", "registryFile");
        !registryFile.empty())
        m.registryFile = fs::path(registryFile).is_absolute() ? fs::path(registryFile)
                                                              : m.imageDir / registryFile;
    else if (file.contains("registryFile") && !file["registryFile"].is_null())
        Bad("registryFile", "must name a file");
    if (file.contains("desktopFolder") && !file["desktopFolder"].is_null())
        m.desktopFolder = MadeFolder(file, "desktopFolder", baseDir);
}

// A physical disk's "geometry" and "mediaType".
DISK_GEOMETRY ParseDiskGeometry(const json& d, const std::string& at) {
    DISK_GEOMETRY geometry{};
    const json g = d.value("geometry", json::object());
    std::string gat = at + ".geometry";
    geometry.Cylinders.QuadPart = GetInt(g, "cylinders", 16, gat);
    geometry.TracksPerCylinder = static_cast<DWORD>(GetInt(g, "tracksPerCylinder", 16, gat));
    geometry.SectorsPerTrack = static_cast<DWORD>(GetInt(g, "sectorsPerTrack", 63, gat));
    geometry.BytesPerSector = static_cast<DWORD>(GetInt(g, "bytesPerSector", 512, gat));
    geometry.MediaType =
        d.contains("mediaType") ? ParseMediaType(d["mediaType"], at + ".mediaType") : FixedMedia;
    if (geometry.BytesPerSector == 0 || geometry.BytesPerSector % 128 != 0)
        Bad(gat, "bytesPerSector must be a positive multiple of 128");
    if (geometry.Cylinders.QuadPart <= 0 || geometry.TracksPerCylinder == 0 ||
        geometry.SectorsPerTrack == 0)
        Bad(gat, "cylinders, tracks and sectors must be positive");
    return geometry;
}

// Entry i of "physicalDisks", its image made or grown; fresh tells whether the image was
// missing before, so that the disk gets a partition table.
PhysicalDisk ParsePhysicalDisk(Machine& m, const json& d, std::size_t i, bool& fresh) {
    std::string at = "physicalDisks[" + std::to_string(i) + "]";
    if (!d.is_object())
        Bad(at, "must be an object");
    PhysicalDisk disk;
    disk.friendlyName = GetText(d, "friendlyName", "SIM HARDDISK", at);
    disk.deviceNumber =
        static_cast<DWORD>(GetInt(d, "deviceNumber", static_cast<std::int64_t>(i), at));
    disk.instanceId =
        GetText(d, "instanceId", "IDE\\DISKSIM_HARDDISK\\5&SIM&0&" + std::to_string(i), at);
    disk.hardwareId = GetText(d, "hardwareId", "IDE\\DiskSIM_HARDDISK", at);
    disk.devicePath = GetText(d, "devicePath",
                              "\\\\?\\ide#disksim_harddisk#5&sim&0&" + std::to_string(i) +
                                  "#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
                              at);
    disk.geometry = ParseDiskGeometry(d, at);
    disk.size = GetInt(d, "size", GeometryBytes(disk.geometry), at);
    if (disk.size < GeometryBytes(disk.geometry) || disk.size % disk.geometry.BytesPerSector)
        Bad(at + ".size", "must be whole sectors, at least the geometry's size");
    if (!d.contains("image"))
        Bad(at, "needs an image file");
    std::string image = Get<std::string>(d, "image", "", at);
    fresh = !fs::exists(fs::path(image).is_absolute() ? fs::path(image) : m.imageDir / image);
    disk.image = m.ImageFor(image, disk.size);
    disk.bytesPerSecond = GetPace(d, at);
    disk.faults = ParseFaults(d.value("faults", json()), at + ".faults");
    disk.identity = ParseDiskIdentity(d, disk, at);
    disk.runningSystem = Get<bool>(d, "runningSystem", false, at);
    if (d.contains("firmware") && d["firmware"].is_object())
        disk.firmware = ParseFirmware(d["firmware"], at + ".firmware");
    return disk;
}

// "physicalDisks", added to the machine; for each, whether its image was missing before.
std::vector<bool> ParsePhysicalDisks(Machine& m, const json& file) {
    const json disks = file.value("physicalDisks", json::array());
    if (!disks.is_array())
        Bad("physicalDisks", "must be a list");
    std::vector<bool> freshDisk;
    for (std::size_t i = 0; i < disks.size(); ++i) {
        bool fresh = false;
        m.disks.push_back(ParsePhysicalDisk(m, disks[i], i, fresh));
        freshDisk.push_back(fresh);
    }
    ParseNamespaces(disks, m.disks);
    return freshDisk;
}

// A drive's "format": how FormatEx behaves on it.
FormatBehaviour ParseFormatBehaviour(const json& d, const std::string& at) {
    FormatBehaviour format;
    const json f = d.value("format", json::object());
    format.steps = std::max(1, static_cast<int>(GetInt(f, "steps", 10, at + ".format")));
    format.stepMs = static_cast<int>(GetInt(f, "stepMs", 0, at + ".format"));
    format.fails = Get<bool>(f, "fails", false, at + ".format");
    format.failAfterSteps = static_cast<int>(GetInt(f, "failAfterSteps", 0, at + ".format"));
    format.error = static_cast<DWORD>(GetInt(f, "error", ERROR_GEN_FAILURE, at + ".format"));
    return format;
}

// What every kind of drive has: letter, kind, partition facts, volume, faults and format.
Drive ParseDriveSettings(Machine& m, const json& d, const std::string& at) {
    Drive drive;
    std::string letter = Get<std::string>(d, "letter", "", at);
    if (letter.size() != 1 || !std::isalpha(static_cast<unsigned char>(letter[0])))
        Bad(at + ".letter", "must be one letter A to Z");
    drive.letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter[0])));
    if (m.FindDrive(drive.letter) != nullptr)
        Bad(at + ".letter", std::string("drive ") + drive.letter + ": is declared twice");
    drive.kind = ParseKind(Get<std::string>(d, "kind", "fixed", at), at + ".kind");
    drive.partitionType = static_cast<BYTE>(GetInt(d, "partitionType", 7, at));
    drive.boot = Get<bool>(d, "boot", false, at);
    drive.partitionNumber = static_cast<int>(GetInt(d, "partitionNumber", 1, at));
    drive.volume = d.contains("volume") ? ParseVolume(d["volume"], at + ".volume")
                                        : std::optional<Volume>(Volume{});
    if (d.contains("displayName") && !d["displayName"].is_null())
        drive.displayName = GetText(d, "displayName", "", at);
    drive.inUse = Get<bool>(d, "inUse", false, at);
    if (d.contains("int13Unit") && !d["int13Unit"].is_null())
        drive.int13Unit = static_cast<int>(GetInt(d, "int13Unit", 0, at)) & 0xFF;
    drive.bpbSectorCount = Get<bool>(d, "bpbSectorCount", true, at);
    drive.accessFlag = Get<bool>(d, "accessFlag", drive.volume.has_value(), at);
    drive.bytesPerSecond = GetPace(d, at);
    if (drive.bytesPerSecond > 0 && d.contains("disk"))
        Bad(at + ".bytesPerSecond", "a partition moves at its physical disk's pace");
    drive.faults = ParseFaults(d.value("faults", json()), at + ".faults");
    if (Get<bool>(d, "dismountFails", false, at))
        drive.faults.dismount = Fault::Always(ERROR_ACCESS_DENIED);
    drive.format = ParseFormatBehaviour(d, at);
    return drive;
}

// A floppy drive's "medium", inserted in the drive with the files it is seeded with.
void InsertFloppyMedium(Machine& m, char letter, const json& medium, const std::string& mat) {
    MEDIA_TYPE type = ParseMediaType(medium.value("type", json("F3_1Pt44_512")), mat);
    m.InsertMedium(letter, type, Get<std::string>(medium, "image", "", mat),
                   Get<bool>(medium, "writeProtected", false, mat));
    FloppyMedium& inserted = *m.FindDrive(letter)->medium;
    inserted.volume = medium.contains("volume") ? ParseVolume(medium["volume"], mat + ".volume")
                                                : std::optional<Volume>(Volume{"", "FAT12"});
    DISK_GEOMETRY g;
    FloppyGeometry(type, &g);
    FatLayout layout;
    layout.length = inserted.image->size();
    layout.bytesPerSector = g.BytesPerSector;
    layout.sectorsPerTrack = g.SectorsPerTrack;
    layout.heads = g.TracksPerCylinder;
    layout.floppy = true;
    SeedFiles(medium, mat, inserted.image, layout, inserted.volume);
}

// A floppy drive: the media it takes, and the medium in it, if any.
void AddFloppyDrive(Machine& m, Drive drive, const json& d, const std::string& at) {
    drive.partitionNumber = 0;
    drive.hasDeviceNumber = false;
    drive.partitionType = 1;
    const json media = d.value("supportedMedia", json::array({"F3_1Pt44_512"}));
    for (std::size_t k = 0; k < media.size(); ++k) {
        std::string mat = at + ".supportedMedia[" + std::to_string(k) + "]";
        MEDIA_TYPE type = ParseMediaType(media[k], mat);
        DISK_GEOMETRY g;
        if (type != RemovableMedia && type != FixedMedia && !FloppyGeometry(type, &g))
            Bad(mat, "the sim does not model this medium");
        drive.supportedMedia.push_back(type);
    }
    const char letter = drive.letter;
    m.drives.push_back(std::move(drive));
    const json medium = d.value("medium", json());
    if (!medium.is_null())
        InsertFloppyMedium(m, letter, medium, at + ".medium");
}

// A partition of a physical disk ("disk"): where it lies on it.
void PlaceOnDisk(const Machine& m, Drive& drive, const json& d, const std::string& at) {
    drive.disk = static_cast<int>(GetInt(d, "disk", -1, at));
    if (drive.disk < 0 || drive.disk >= static_cast<int>(m.disks.size()))
        Bad(at + ".disk", "no such physical disk");
    const PhysicalDisk& disk = m.disks[static_cast<std::size_t>(drive.disk)];
    drive.offset = GetInt(d, "offset",
                          disk.geometry.SectorsPerTrack *
                              static_cast<std::int64_t>(disk.geometry.BytesPerSector),
                          at);
    drive.length = GetInt(d, "length", disk.size - drive.offset, at);
    if (drive.offset < 0 || drive.length <= 0 || drive.offset + drive.length > disk.size)
        Bad(at, "the partition does not lie within its disk");
    if (drive.offset % disk.geometry.BytesPerSector)
        Bad(at + ".offset", "must be whole sectors");
    drive.deviceNumber = disk.deviceNumber;
    drive.hasDeviceNumber = Get<bool>(d, "hasDeviceNumber", true, at);
}

// A drive with an image of its own ("image"), made or grown to its size.
void PlaceInOwnImage(Machine& m, Drive& drive, const json& d, const std::string& at) {
    if (!d.contains("image"))
        Bad(at, "needs a physical disk (\"disk\") or an image of its own (\"image\")");
    drive.bytesPerSector = static_cast<DWORD>(GetInt(d, "bytesPerSector", 512, at));
    if (drive.bytesPerSector == 0 || drive.bytesPerSector % 128 != 0)
        Bad(at + ".bytesPerSector", "must be a positive multiple of 128");
    drive.length = GetInt(d, "size", 0, at);
    if (drive.length <= 0)
        Bad(at + ".size", "an image of its own needs a positive size");
    drive.offset = GetInt(d, "startingOffset", 0, at);
    drive.image = m.ImageFor(Get<std::string>(d, "image", "", at), drive.length);
    drive.hasDeviceNumber = d.contains("deviceNumber");
    drive.deviceNumber = static_cast<DWORD>(GetInt(d, "deviceNumber", 0, at));
}

// The drive's "files", written into its volume where it lies.
void SeedDriveFiles(const Machine& m, const Drive& drive, const json& d, const std::string& at) {
    FatLayout layout;
    layout.length = drive.length;
    if (drive.disk >= 0) {
        const PhysicalDisk& disk = m.disks[static_cast<std::size_t>(drive.disk)];
        layout.offset = drive.offset;
        layout.bytesPerSector = disk.geometry.BytesPerSector;
        layout.sectorsPerTrack = disk.geometry.SectorsPerTrack;
        layout.heads = disk.geometry.TracksPerCylinder;
        layout.hiddenSectors = drive.offset / disk.geometry.BytesPerSector;
        SeedFiles(d, at, disk.image, layout, drive.volume);
    } else {
        layout.bytesPerSector = drive.bytesPerSector;
        layout.hiddenSectors = drive.offset / drive.bytesPerSector;
        SeedFiles(d, at, drive.image, layout, drive.volume);
    }
}

// Entry i of "drives", added to the machine.
void ParseDrive(Machine& m, const json& d, std::size_t i) {
    std::string at = "drives[" + std::to_string(i) + "]";
    if (!d.is_object())
        Bad(at, "must be an object");
    Drive drive = ParseDriveSettings(m, d, at);
    if (drive.kind == DriveKind::Floppy) {
        AddFloppyDrive(m, std::move(drive), d, at);
        return;
    }
    if (d.contains("disk"))
        PlaceOnDisk(m, drive, d, at);
    else
        PlaceInOwnImage(m, drive, d, at);
    SeedDriveFiles(m, drive, d, at);
    m.drives.push_back(std::move(drive));
}

} // namespace

std::unique_ptr<Machine> Machine::Parse(const json& file, const fs::path& baseDir) {
    auto m = std::make_unique<Machine>();
    m->baseDir = baseDir;
    if (!file.is_object())
        Bad("top level", "a machine is a JSON object");
    ParsePlatform(*m, file);
    ParseSurroundings(*m, file, baseDir);
    ParseComputer(*m, file);
    const std::vector<bool> freshDisk = ParsePhysicalDisks(*m, file);
    const json drives = file.value("drives", json::array());
    if (!drives.is_array())
        Bad("drives", "must be a list");
    for (std::size_t i = 0; i < drives.size(); ++i)
        ParseDrive(*m, drives[i], i);
    ParseOptical(*m, file);
    for (std::size_t i = 0; i < m->disks.size(); ++i)
        if (freshDisk[i])
            WritePartitionTable(*m, static_cast<int>(i));
    return m;
}

std::string JsonErrorText(const json::exception& error) {
    // The library's own tag ("[json.exception.parse_error.101] ") says nothing to a user.
    std::string text = error.what();
    if (text.compare(0, 16, "[json.exception.") == 0) {
        const std::size_t end = text.find("] ");
        if (end != std::string::npos)
            text.erase(0, end + 2);
    }
    return text;
}

std::unique_ptr<Machine> Machine::Load(const fs::path& machineFile) {
    const std::string named = "machine file \"" + machineFile.string() + "\"";
    std::error_code ec;
    if (!fs::exists(machineFile, ec))
        throw std::runtime_error(named + " does not exist");
    if (fs::is_directory(machineFile, ec))
        throw std::runtime_error(named + " is a folder, not a file");
    std::ifstream in(machineFile, std::ios::binary);
    if (!in) {
        const int error = errno;
        throw std::runtime_error(
            named + " cannot be read" +
            (error != 0 ? " (" + std::string(std::strerror(error)) + ")" : std::string()));
    }
    json file;
    try {
        file = json::parse(in, nullptr, true, true);
    } catch (const json::exception& e) {
        // The parser's text names the line and the column.
        throw std::runtime_error(named + ": " + JsonErrorText(e));
    }
    try {
        return Parse(file, fs::absolute(machineFile).parent_path());
    } catch (const std::exception& e) {
        // Parse names the entry; the user also needs to know which file.
        std::string what = e.what();
        const std::string prefix = "machine file: ";
        if (what.compare(0, prefix.size(), prefix) == 0)
            what.erase(0, prefix.size());
        throw std::runtime_error(named + ": " + what);
    }
}

} // namespace platform::sim
