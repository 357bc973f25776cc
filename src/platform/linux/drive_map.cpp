#include "platform/linux/drive_map.h"

#include "platform/codepage.h"
#include "platform/drive_letter.h"
#include "platform/linux/sysfs.h"
#include "platform/registry.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <libmount/libmount.h>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace platform::linux_backend {

namespace {

namespace fs = std::filesystem;

// sda2 < sda10 < sdb: names compared with their numbers as numbers.
bool NaturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) &&
            std::isdigit(static_cast<unsigned char>(b[j]))) {
            std::size_t ei = i, ej = j;
            while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei])))
                ++ei;
            while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej])))
                ++ej;
            const std::string na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
            if (na.size() != nb.size())
                return na.size() < nb.size();
            if (na != nb)
                return na < nb;
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j])
                return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

// Kernel names of the block devices a user wipes; device-mapper, RAID, RAM and network
// block devices are left out.
bool WipeableName(const std::string& name) {
    static const char* const kPrefixes[] = {"fd",   "sd",     "hd", "vd",  "xvd",
                                            "nvme", "mmcblk", "sr", "loop"};
    for (const char* prefix : kPrefixes)
        if (StartsWith(name, prefix))
            return true;
    return false;
}

std::string ConfigFolderFromEnvironment() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/')
        return xdg;
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.config";
}

using FileId = std::pair<dev_t, ino_t>;

std::optional<FileId> FileIdOf(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return FileId{st.st_dev, st.st_ino};
}

// The udev links that name the hardware, per folder: for each node they lead to, the first
// link name in name order. Read once per detection rather than once per device.
using DeviceLinks = std::vector<std::pair<std::string, std::map<FileId, std::string>>>;

DeviceLinks ReadDeviceLinks() {
    DeviceLinks links;
    std::error_code error;
    for (const char* folder : {"/dev/disk/by-id", "/dev/disk/by-path"}) {
        auto& names = links.emplace_back(folder, std::map<FileId, std::string>{}).second;
        for (const auto& entry : fs::directory_iterator(folder, error)) {
            const auto id = FileIdOf(entry.path().string());
            if (!id)
                continue;
            const std::string name = entry.path().filename().string();
            auto [known, added] = names.emplace(*id, name);
            if (!added && name < known->second)
                known->second = name;
        }
    }
    return links;
}

// The name under which a device keeps its letter: a udev link that names the hardware, the
// backing file of a loop device, else the node itself. links is read when first needed.
std::string IdentityOf(const std::string& node, const std::string& sysDir, std::uint32_t partition,
                       std::optional<DeviceLinks>& links) {
    std::error_code error;
    const std::string loopFile = ReadLine(fs::path(sysDir) / "loop" / "backing_file");
    if (!loopFile.empty())
        return "loop:" + loopFile;
    const fs::path partitionedLoop = fs::path(sysDir).parent_path() / "loop" / "backing_file";
    if (partition != 0 && fs::exists(partitionedLoop, error))
        return "loop:" + ReadLine(partitionedLoop) + "#" + std::to_string(partition);
    const auto id = FileIdOf(node);
    if (!id)
        return node;
    if (!links)
        links = ReadDeviceLinks();
    for (const auto& [folder, names] : *links)
        if (auto found = names.find(*id); found != names.end())
            return folder + "/" + found->second;
    return node;
}

struct MapFile {
    bool only = false;
    std::vector<std::pair<char, std::string>> entries; // letter (0: none), path
    std::vector<std::string> never;                    // devices whose disks are never offered
};

MapFile ReadMapFile(const std::string& name) {
    MapFile map;
    std::ifstream in(name);
    std::string line;
    while (std::getline(in, line)) {
        const auto hash = line.find('#');
        if (hash != std::string::npos)
            line.erase(hash);
        std::istringstream words(line);
        std::string first, second;
        words >> first >> second;
        if (first.empty())
            continue;
        if (first == "only") {
            map.only = true;
        } else if (first == "never" && !second.empty()) {
            map.never.push_back(second);
        } else if (const char letter = first.size() == 2 ? DriveLetterOf(first) : 0;
                   letter != 0 && !second.empty()) {
            map.entries.emplace_back(letter, second);
        } else {
            map.entries.emplace_back(0, first);
        }
    }
    return map;
}

struct Candidate {
    Drive drive;
    std::string sortKey;
    dev_t devno = 0;
};

} // namespace

DriveMap::DriveMap(DriveMapOptions options) : options_(std::move(options)) {
    if (options_.configFolder.empty())
        options_.configFolder = ConfigFolderFromEnvironment();
}

std::string DriveMap::StateFile() const {
    return options_.configFolder + "/purgelet/drives.json";
}

std::string DriveMap::MapFile() const {
    if (!options_.mapFile.empty())
        return options_.mapFile;
    const char* fromEnvironment = std::getenv("PURGELET_DRIVE_MAP");
    if (fromEnvironment != nullptr && fromEnvironment[0] != '\0')
        return fromEnvironment;
    return options_.configFolder + "/purgelet/drives.map";
}

const Drive* DriveMap::ByLetter(char letter) const {
    for (const auto& drive : drives_)
        if (drive.letter == letter)
            return &drive;
    return nullptr;
}

const PhysicalDisk* DriveMap::DiskByNumber(std::uint32_t number) const {
    return number < disks_.size() ? &disks_[number] : nullptr;
}

const PhysicalDisk* DriveMap::DiskOf(const Drive& drive) const {
    for (const auto& disk : disks_)
        if (disk.node == drive.wholeDisk)
            return &disk;
    return nullptr;
}

void DriveMap::Detect() {
    const struct MapFile map = ReadMapFile(MapFile());
    RunningSystemSources sources;
    sources.sysfs = options_.sysfs;
    system_ = RunningSystem::Scan(sources);
    leftOut_.clear();
    auto leaveOut = [this](const std::string& node, std::string reason) {
        leftOut_.push_back(Kernel32::DeviceNotOffered{node, std::move(reason)});
    };
    std::map<dev_t, char> namedDevices; // devices the map file names, with their pinned letter
    std::vector<Candidate> candidates;
    for (const auto& [letter, path] : map.entries) {
        if (dev_t devno = DevnoOf(path)) {
            namedDevices[devno] = letter;
            continue;
        }
        struct stat st {};
        if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0)
            continue; // an image that is not there is no drive
        Candidate image;
        std::error_code error;
        const std::string absolute = fs::absolute(path, error).string();
        image.drive.letter = letter;
        image.drive.node = absolute;
        image.drive.identity = "file:" + absolute;
        image.drive.kind = DriveKind::Image;
        image.drive.wholeDisk = absolute;
        image.drive.size = st.st_size;
        image.sortKey = "~" + absolute; // after the devices
        if (auto why = system_.WhyRefusedImage(absolute)) {
            leaveOut(absolute, *why);
            continue;
        }
        candidates.push_back(std::move(image));
    }

    // The disks the map file keeps from being wiped (a boot medium, a records medium): the
    // disk a named partition lies on goes with it, so that no partition of it is offered.
    std::map<dev_t, std::string> neverDisks;
    for (const auto& path : map.never)
        if (dev_t devno = DevnoOf(path)) {
            const dev_t disk = DiskOfPartition(options_.sysfs, devno); // 0: devno is a disk
            neverDisks.emplace(disk != 0 ? disk : devno, path);
        }

    std::error_code error;
    std::optional<DeviceLinks> links;
    const fs::path classBlock = fs::path(options_.sysfs) / "class" / "block";
    for (const auto& entry : fs::directory_iterator(classBlock, error)) {
        const std::string name = entry.path().filename().string();
        if (!WipeableName(name))
            continue;
        const fs::path dir = fs::canonical(entry.path(), error);
        if (error)
            continue;
        const bool isPartition = fs::exists(dir / "partition", error);
        const std::string diskName = isPartition ? dir.parent_path().filename().string() : name;
        const fs::path diskDir = isPartition ? dir.parent_path() : dir;
        const std::int64_t sectors = ReadNumber(dir / "size");
        const std::string node = "/dev/" + name;
        const dev_t devno = DevnoOf(node);
        if (devno == 0)
            continue;
        const dev_t diskDevno = DevnoOf("/dev/" + diskName);
        const bool named = namedDevices.count(devno) != 0 || namedDevices.count(diskDevno) != 0;
        // Loop devices are no drives of this machine unless the map file names them; they
        // are passed over without a word (a system may have dozens).
        if (StartsWith(name, "loop") && !named)
            continue;
        const bool optical = StartsWith(name, "sr"), floppy = StartsWith(name, "fd");
        if (!isPartition && !optical && !floppy) {
            // A disk with a partition table is listed through its partitions.
            bool partitioned = false;
            for (const auto& child : fs::directory_iterator(dir, error))
                if (fs::exists(child.path() / "partition", error))
                    partitioned = true;
            if (partitioned)
                continue;
        }
        // The weightiest reason first: the system's own device says so whatever else holds.
        if (auto why = system_.WhyRefused(devno)) {
            leaveOut(node, *why);
            continue;
        }
        if (auto kept = neverDisks.find(diskDevno); kept != neverDisks.end()) {
            leaveOut(node,
                     "the map file " + MapFile() + " keeps " + kept->second + " from being wiped");
            continue;
        }
        if (map.only && !named) {
            leaveOut(node, "the map file " + MapFile() + " lists only its own devices");
            continue;
        }
        // A disc that cannot be written block by block (a pressed or closed disc) is still
        // the drive's to judge: it is asked whether the disc can be blanked, and tells why not.
        if (ReadNumber(dir / "ro") == 1 && !optical) {
            leaveOut(node, "read-only");
            continue;
        }
        if (sectors <= 0) {
            leaveOut(node, "empty (no medium)");
            continue;
        }
        Candidate candidate;
        Drive& drive = candidate.drive;
        drive.node = node;
        drive.wholeDisk = "/dev/" + diskName;
        drive.removable = ReadNumber(diskDir / "removable") == 1;
        drive.size = sectors * 512;
        auto pinned = namedDevices.find(devno);
        drive.letter = pinned != namedDevices.end() ? pinned->second : 0;
        if (isPartition) {
            drive.kind = DriveKind::Partition;
            drive.partitionNumber = static_cast<std::uint32_t>(ReadNumber(dir / "partition"));
            drive.start = ReadNumber(dir / "start") * 512;
        } else if (floppy) {
            drive.kind = DriveKind::Floppy;
            drive.removable = true;
        } else if (optical) {
            drive.kind = DriveKind::Optical;
            drive.removable = true;
        } else {
            drive.kind = DriveKind::Disk;
        }
        drive.identity = IdentityOf(node, dir.string(), drive.partitionNumber, links);
        candidate.devno = devno;
        candidate.sortKey = drive.kind == DriveKind::Optical ? "}" + name : name;
        candidates.push_back(std::move(candidate));
    }

    // What this user may not open is left out, with the reason.
    std::erase_if(candidates, [&](const Candidate& c) {
        bool readable = false;
        if (c.drive.kind == DriveKind::Image) {
            readable = access(c.drive.node.c_str(), R_OK) == 0;
        } else if (int fd = open(c.drive.node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
                   fd >= 0) {
            close(fd);
            readable = true;
        }
        if (readable)
            return false;
        if (errno == EACCES || errno == EPERM) {
            leaveOut(c.drive.node, "this user may not open it (run Purgelet as root or as a "
                                   "member of the disk group)");
            return true;
        }
        if (c.drive.kind != DriveKind::Image)
            return false; // an empty drive still has its letter
        leaveOut(c.drive.node, std::string("it cannot be read (") + std::strerror(errno) + ")");
        return true;
    });

    std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        return NaturalLess(a.sortKey, b.sortKey);
    });

    // Letters: the floppy drives' own, then the map file's, then the kept ones, then the
    // first free letter that no absent device keeps.
    const std::string stateFile = StateFile();
    std::string stored; // the file as read: rewritten only when the letters changed
    nlohmann::json state = nlohmann::json::object();
    {
        std::ifstream in(stateFile);
        if (in) {
            stored.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            state = nlohmann::json::parse(stored, nullptr, false);
        }
        if (!state.is_object() || !state.contains("letters") || !state["letters"].is_object())
            state = nlohmann::json{{"letters", nlohmann::json::object()}};
    }
    auto& kept = state["letters"];
    std::set<char> taken;
    for (auto& c : candidates) {
        if (c.drive.kind == DriveKind::Floppy && c.drive.letter == 0) {
            const std::string name = fs::path(c.drive.node).filename().string();
            if (name == "fd0" || name == "fd1")
                c.drive.letter = name == "fd0" ? 'A' : 'B';
        }
        if (c.drive.letter != 0 && !taken.insert(c.drive.letter).second)
            c.drive.letter = 0; // two pins on one letter: the first wins
    }
    // What each letter is kept for; a device keeps one letter, and a letter kept for a
    // device that is here today is never given to another.
    std::map<char, std::string> keptFor;
    for (auto it = kept.begin(); it != kept.end(); ++it)
        if (it->is_string() && it.key().size() == 1 && it.key()[0] >= 'C' && it.key()[0] <= 'Z')
            keptFor[it.key()[0]] = it->get<std::string>();
    std::set<std::string> present;
    for (const auto& c : candidates)
        present.insert(c.drive.identity);
    for (auto& c : candidates) {
        if (c.drive.letter != 0 || c.drive.kind == DriveKind::Floppy)
            continue;
        for (const auto& [letter, identity] : keptFor)
            if (identity == c.drive.identity && taken.count(letter) == 0) {
                c.drive.letter = letter;
                taken.insert(letter);
                break;
            }
    }
    for (auto& c : candidates) {
        if (c.drive.letter != 0 || c.drive.kind == DriveKind::Floppy)
            continue;
        // First the letters nobody keeps, then those of devices that are not here today.
        for (int pass = 0; pass < 2 && c.drive.letter == 0; ++pass)
            for (char letter = 'C'; letter <= 'Z'; ++letter) {
                auto keeper = keptFor.find(letter);
                const bool free =
                    keeper == keptFor.end() || (pass == 1 && present.count(keeper->second) == 0);
                if (taken.count(letter) == 0 && free) {
                    c.drive.letter = letter;
                    taken.insert(letter);
                    break;
                }
            }
        if (c.drive.letter == 0) {
            // Said once a run, in the error log (where the program routes a back-end's
            // absorbed trouble); the map file decides which devices get the letters.
            leaveOut(c.drive.node,
                     "no drive letter is left for it (pin the letters in " + MapFile() + ")");
            if (told_.insert(c.drive.node).second)
                ReportRegistryTrouble("DriveMap.Detect - no drive letter left for " + c.drive.node +
                                      " (pin the letters in " + MapFile() + ")");
        }
    }

    drives_.clear();
    for (auto& c : candidates) {
        if (c.drive.letter == 0)
            continue;
        if (c.drive.kind != DriveKind::Floppy) {
            // The device's letter moves here: whatever it kept before is released.
            for (auto it = kept.begin(); it != kept.end();)
                if (it->is_string() && it->get<std::string>() == c.drive.identity)
                    it = kept.erase(it);
                else
                    ++it;
            kept[std::string(1, c.drive.letter)] = c.drive.identity;
        }
        drives_.push_back(std::move(c.drive));
    }
    std::sort(drives_.begin(), drives_.end(),
              [](const Drive& a, const Drive& b) { return a.letter < b.letter; });

    if (const std::string text = state.dump(2) + '\n'; text != stored) {
        fs::create_directories(fs::path(stateFile).parent_path(), error);
        const std::string temporary = stateFile + ".new";
        {
            std::ofstream out(temporary, std::ios::trunc);
            out << text;
        }
        fs::rename(temporary, stateFile, error);
    }

    // The whole disks under the drives, in disk order, numbered as Windows numbers them.
    std::vector<std::string> wholeDisks;
    for (const auto& drive : drives_)
        if (drive.kind != DriveKind::Floppy && drive.kind != DriveKind::Optical &&
            std::find(wholeDisks.begin(), wholeDisks.end(), drive.wholeDisk) == wholeDisks.end())
            wholeDisks.push_back(drive.wholeDisk);
    std::sort(wholeDisks.begin(), wholeDisks.end(), NaturalLess);
    disks_.clear();
    for (const auto& node : wholeDisks) {
        PhysicalDisk disk;
        disk.node = node;
        disk.number = static_cast<std::uint32_t>(disks_.size());
        const std::string dir = SysDirOf(options_.sysfs, DevnoOf(node));
        if (!dir.empty()) {
            disk.model = ReadLine(fs::path(dir) / "device" / "model");
            const std::string vendor = ReadLine(fs::path(dir) / "device" / "vendor");
            if (!vendor.empty() && !disk.model.empty())
                disk.model = vendor + " " + disk.model;
            const std::string backing = ReadLine(fs::path(dir) / "loop" / "backing_file");
            if (disk.model.empty() && !backing.empty())
                disk.model = "Loop device (" + backing + ")";
        }
        if (disk.model.empty())
            disk.model = node;
        // An image file names itself; a device disk must be named as a whole.
        const dev_t devno = DevnoOf(node);
        disk.offered = !map.only || devno == 0 || namedDevices.count(devno) != 0;
        if (!disk.offered)
            leaveOut(node,
                     "the map file " + MapFile() + " names partitions of it, not the whole disk");
        disk.model = platform::Utf8ToCp1252(disk.model); // sysfs and paths are UTF-8
        disks_.push_back(std::move(disk));
    }
}

} // namespace platform::linux_backend
