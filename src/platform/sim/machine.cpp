#include "platform/sim/machine.h"

#include "platform/sim/kernel32.h"
#include "platform/sim/machine_file.h"
#include "platform/system.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace platform::sim {

namespace fs = std::filesystem;
using nlohmann::json;

bool Fault::Fire() {
    if (remaining == 0)
        return false;
    if (remaining > 0)
        --remaining;
    return true;
}

// ---- Images.

Image::Image(fs::path path, std::int64_t size, bool created)
    : path_(std::move(path)), size_(size), created_(created) {}

std::fstream& Image::Stream() {
    if (!stream_.is_open())
        stream_.open(path_, std::ios::in | std::ios::out | std::ios::binary);
    stream_.clear();
    return stream_;
}

bool Image::Read(std::int64_t offset, void* buffer, std::size_t size) {
    if (offset < 0 || offset + static_cast<std::int64_t>(size) > size_)
        return false;
    std::lock_guard<std::mutex> lock(mutex_);
    auto& s = Stream();
    s.seekg(offset);
    s.read(static_cast<char*>(buffer), static_cast<std::streamsize>(size));
    return static_cast<std::size_t>(s.gcount()) == size;
}

bool Image::Write(std::int64_t offset, const void* buffer, std::size_t size) {
    if (offset < 0 || offset + static_cast<std::int64_t>(size) > size_)
        return false;
    std::lock_guard<std::mutex> lock(mutex_);
    auto& s = Stream();
    s.seekp(offset);
    s.write(static_cast<const char*>(buffer), static_cast<std::streamsize>(size));
    s.flush();
    return static_cast<bool>(s);
}

void Image::Flush() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stream_.is_open())
        stream_.flush();
}

// ---- Floppy media.

namespace {

struct FloppyType {
    MEDIA_TYPE type;
    const char* name;
    int cylinders, heads, sectors, bytes;
};

// The media the sim models, with the geometry Windows reports for them.
const FloppyType kFloppyTypes[] = {
    {F5_1Pt2_512, "F5_1Pt2_512", 80, 2, 15, 512},
    {F3_1Pt44_512, "F3_1Pt44_512", 80, 2, 18, 512},
    {F3_2Pt88_512, "F3_2Pt88_512", 80, 2, 36, 512},
    {F3_720_512, "F3_720_512", 80, 2, 9, 512},
    {F5_360_512, "F5_360_512", 40, 2, 9, 512},
    {F5_320_512, "F5_320_512", 40, 2, 8, 512},
    {F5_320_1024, "F5_320_1024", 40, 2, 4, 1024},
    {F5_180_512, "F5_180_512", 40, 1, 9, 512},
    {F5_160_512, "F5_160_512", 40, 1, 8, 512},
    {F3_640_512, "F3_640_512", 80, 2, 8, 512},
    {F5_640_512, "F5_640_512", 80, 2, 8, 512},
    {F5_720_512, "F5_720_512", 80, 2, 9, 512},
    {F3_1Pt2_512, "F3_1Pt2_512", 80, 2, 15, 512},
    {F3_1Pt23_1024, "F3_1Pt23_1024", 77, 2, 8, 1024},
    {F5_1Pt23_1024, "F5_1Pt23_1024", 77, 2, 8, 1024},
};

} // namespace

bool FloppyGeometry(MEDIA_TYPE type, DISK_GEOMETRY* geometry) {
    for (const auto& t : kFloppyTypes) {
        if (t.type != type)
            continue;
        std::memset(geometry, 0, sizeof(*geometry));
        geometry->Cylinders.QuadPart = t.cylinders;
        geometry->MediaType = t.type;
        geometry->TracksPerCylinder = static_cast<DWORD>(t.heads);
        geometry->SectorsPerTrack = static_cast<DWORD>(t.sectors);
        geometry->BytesPerSector = static_cast<DWORD>(t.bytes);
        return true;
    }
    return false;
}

std::int64_t GeometryBytes(const DISK_GEOMETRY& g) {
    return g.Cylinders.QuadPart * g.TracksPerCylinder * g.SectorsPerTrack * g.BytesPerSector;
}

MEDIA_TYPE ParseMediaType(const json& value, const std::string& where) {
    if (value.is_number_integer()) {
        int n = value.get<int>();
        if (n < 0 || n > 25)
            Bad(where, "media type out of range");
        return static_cast<MEDIA_TYPE>(n);
    }
    if (!value.is_string())
        Bad(where, "media type must be a name or a number");
    std::string name = value.get<std::string>();
    if (name == "fixed" || name == "FixedMedia")
        return FixedMedia;
    if (name == "removable" || name == "RemovableMedia")
        return RemovableMedia;
    if (name == "unknown" || name == "Unknown")
        return Unknown;
    for (const auto& t : kFloppyTypes)
        if (name == t.name)
            return t.type;
    Bad(where, "unknown media type \"" + name + "\"");
}

// ---- Image folder.

namespace {

// An environment variable naming an absolute folder; empty and relative values do not count
// (the XDG rule for XDG_DATA_HOME).
std::optional<fs::path> AbsoluteFolderIn(const char* variable) {
    const char* value = std::getenv(variable);
    if (value == nullptr || *value == '\0')
        return std::nullopt;
    fs::path folder(value);
    if (!folder.is_absolute())
        return std::nullopt;
    return folder;
}

fs::path UserDataFolder(const std::string& key) {
    if (auto folder = AbsoluteFolderIn("XDG_DATA_HOME"))
        return *folder;
    if (auto home = AbsoluteFolderIn("HOME"))
        return *home / ".local" / "share";
    if (auto local = AbsoluteFolderIn("LOCALAPPDATA")) // Windows without a HOME
        return *local;
    Bad(key, "\"@userdata\" needs XDG_DATA_HOME or HOME set to an absolute folder");
}

} // namespace

fs::path ResolveFolder(const std::string& key, const std::string& value, const fs::path& baseDir) {
    static const std::string kUserData = "@userdata";
    if (value.empty())
        Bad(key, "must name a folder");
    if (value.compare(0, kUserData.size(), kUserData) != 0)
        return fs::path(value).is_absolute() ? fs::path(value) : baseDir / value;
    if (value.size() == kUserData.size())
        return UserDataFolder(key);
    if (value[kUserData.size()] != '/' && value[kUserData.size()] != '\\')
        Bad(key, "\"" + value + "\": the user's data folder is written \"@userdata/...\"");
    // The rest stays inside the user's data folder.
    fs::path rest(value.substr(kUserData.size() + 1));
    if (rest.has_root_path() ||
        std::any_of(rest.begin(), rest.end(), [](const fs::path& p) { return p == ".."; }))
        Bad(key, "\"" + value + "\" leaves the user's data folder");
    return UserDataFolder(key) / rest;
}

fs::path ResolveImageDir(const std::string& value, const fs::path& baseDir) {
    return ResolveFolder("imageDir", value, baseDir);
}

std::optional<std::int64_t> AllocatedBytes(const fs::path& file) {
#ifndef _WIN32
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0)
        return std::nullopt;
    return static_cast<std::int64_t>(info.st_blocks) * 512; // st_blocks counts 512-byte units
#else
    (void)file;
    return std::nullopt;
#endif
}

Image* Machine::ImageFor(const std::string& name, std::int64_t size) {
    const fs::path& folder = imageDir.empty() ? baseDir : imageDir;
    fs::path path = fs::path(name).is_absolute() ? fs::path(name) : folder / name;
    std::string key = fs::absolute(path).lexically_normal().string();
    auto it = images_.find(key);
    if (it != images_.end()) {
        if (it->second->size() < size)
            throw std::runtime_error("machine file: image \"" + name +
                                     "\" is used with two different sizes");
        return it->second.get();
    }
    std::error_code ec;
    bool fresh = !fs::exists(path, ec);
    if (fresh) {
        // Created empty and given its size below without writing: sparse where the host can.
        if (!path.parent_path().empty())
            fs::create_directories(path.parent_path(), ec);
        std::ofstream(path, std::ios::binary).close();
    }
    if (!fs::exists(path, ec))
        throw std::runtime_error("machine file: image \"" + name + "\" cannot be created");
    // A machine file must never lead the simulated PC onto a real device (or a folder):
    // only plain files back its disks.
    if (!fs::is_regular_file(path, ec))
        throw std::runtime_error("machine file: image \"" + name + "\" is not a plain file");
    // Grown by its last byte, written past the end: what lay before is untouched and the gap
    // is a hole where the host has them. (Not resize_file: mingw's ftruncate64 walks the
    // system's volumes first, and under Wine that walk can fault while Wine starts.)
    if (const auto now = static_cast<std::int64_t>(fs::file_size(path, ec)); !ec && now < size) {
        std::fstream grow(path, std::ios::binary | std::ios::in | std::ios::out);
        grow.seekp(size - 1);
        grow.put('\0');
        grow.close();
        if (!grow)
            throw std::runtime_error("machine file: image \"" + name + "\" cannot be given " +
                                     std::to_string(size) + " bytes");
    }
    if (ec)
        throw std::runtime_error("machine file: image \"" + name + "\": " + ec.message());
    auto image = std::make_unique<Image>(path, size, fresh);
    Image* raw = image.get();
    images_[key] = std::move(image);
    return raw;
}

Drive* Machine::FindDrive(char letter) {
    char up = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    for (auto& d : drives)
        if (d.letter == up)
            return &d;
    return nullptr;
}

namespace {
bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}
} // namespace

PhysicalDisk* Machine::FindDisk(const std::string& devicePath) {
    for (auto& d : disks) {
        if (SameText(d.devicePath, devicePath) ||
            SameText("\\\\.\\PhysicalDrive" + std::to_string(d.deviceNumber), devicePath))
            return &d;
    }
    return nullptr;
}

void Machine::InsertMedium(char letter, MEDIA_TYPE type, const std::string& image,
                           bool writeProtected) {
    Drive* drive = FindDrive(letter);
    if (drive == nullptr || drive->kind != DriveKind::Floppy)
        throw std::runtime_error(std::string("machine: ") + letter + ": is not a floppy drive");
    DISK_GEOMETRY g;
    if (!FloppyGeometry(type, &g))
        throw std::runtime_error("machine: the sim does not model that floppy medium");
    if (image.empty())
        throw std::runtime_error("machine: a floppy medium needs an image file");
    FloppyMedium medium;
    medium.type = type;
    medium.image = ImageFor(image, GeometryBytes(g));
    medium.writeProtected = writeProtected;
    medium.volume = Volume{"", "FAT12"};
    drive->medium = medium;
    drive->dismounted = false;
    drive->written = false;
}

void Machine::EjectMedium(char letter) {
    Drive* drive = FindDrive(letter);
    if (drive != nullptr)
        drive->medium.reset();
}

int Machine::CountCalls(const std::string& device, const std::string& name, DWORD code) const {
    int count = 0;
    for (const auto& c : calls)
        if (SameText(c.device, device) && c.name == name && (code == 0 || c.a == code))
            ++count;
    return count;
}

DWORD& LastError() {
    thread_local DWORD lastError = ERROR_SUCCESS;
    return lastError;
}

Machine* CurrentMachine() {
    System* system = InstalledSystem();
    auto* kernel = system != nullptr ? dynamic_cast<SimKernel32*>(system->kernel32.get()) : nullptr;
    return kernel != nullptr ? &kernel->machine() : nullptr;
}

} // namespace platform::sim
