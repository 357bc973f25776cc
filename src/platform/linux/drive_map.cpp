#include "platform/linux/drive_map.h"

#include "platform/registry.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
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

std::string ReadLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back())))
        line.pop_back();
    std::size_t first = 0;
    while (first < line.size() && std::isspace(static_cast<unsigned char>(line[first])))
        ++first;
    return line.substr(first);
}

std::int64_t ReadNumber(const fs::path& file) {
    const std::string text = ReadLine(file);
    return text.empty() ? -1 : std::strtoll(text.c_str(), nullptr, 10);
}

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
        } else if (first.size() == 2 && first[1] == ':' &&
                   std::isalpha(static_cast<unsigned char>(first[0])) && !second.empty()) {
            map.entries.emplace_back(
                static_cast<char>(std::toupper(static_cast<unsigned char>(first[0]))), second);
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

dev_t DevnoOf(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode))
        return 0;
    return st.st_rdev;
}

std::string SysDirOf(const std::string& sysfs, dev_t devno) {
    std::error_code error;
    const fs::path link = fs::path(sysfs) / "dev" / "block" /
                          (std::to_string(major(devno)) + ":" + std::to_string(minor(devno)));
    fs::path real = fs::canonical(link, error);
    return error ? std::string() : real.string();
}

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
        candidates.push_back(std::move(image));
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
        if (ReadNumber(dir / "ro") == 1 || sectors <= 0)
            continue;
        const std::string node = "/dev/" + name;
        const dev_t devno = DevnoOf(node);
        if (devno == 0)
            continue;
        const dev_t diskDevno = DevnoOf("/dev/" + diskName);
        const bool named = namedDevices.count(devno) != 0 || namedDevices.count(diskDevno) != 0;
        if ((map.only || StartsWith(name, "loop")) && !named)
            continue;
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
        } else if (StartsWith(name, "fd")) {
            drive.kind = DriveKind::Floppy;
            drive.removable = true;
        } else if (StartsWith(name, "sr")) {
            drive.kind = DriveKind::Optical;
            drive.removable = true;
        } else {
            // A disk with a partition table is listed through its partitions.
            bool partitioned = false;
            for (const auto& child : fs::directory_iterator(dir, error))
                if (fs::exists(child.path() / "partition", error))
                    partitioned = true;
            if (partitioned)
                continue;
            drive.kind = DriveKind::Disk;
        }
        drive.identity = IdentityOf(node, dir.string(), drive.partitionNumber, links);
        candidate.devno = devno;
        candidate.sortKey = drive.kind == DriveKind::Optical ? "}" + name : name;
        candidates.push_back(std::move(candidate));
    }

    // Without the rights to open block devices there is nothing to list; the reason is kept.
    accessDenied_ = false;
    std::erase_if(candidates, [&](const Candidate& c) {
        if (c.drive.kind == DriveKind::Image) {
            if (access(c.drive.node.c_str(), R_OK) == 0)
                return false;
            accessDenied_ = accessDenied_ || errno == EACCES || errno == EPERM;
            return true;
        }
        int fd = open(c.drive.node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            close(fd);
            return false;
        }
        if (errno == EACCES || errno == EPERM) {
            accessDenied_ = true;
            return true;
        }
        return false; // an empty drive still has its letter
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
    std::set<std::string> present;
    for (const auto& c : candidates)
        present.insert(c.drive.identity);
    for (auto& c : candidates) {
        if (c.drive.letter != 0 || c.drive.kind == DriveKind::Floppy)
            continue;
        for (auto it = kept.begin(); it != kept.end(); ++it) {
            const std::string& letter = it.key();
            if (it->is_string() && it->get<std::string>() == c.drive.identity &&
                letter.size() == 1 && letter[0] >= 'C' && letter[0] <= 'Z' &&
                taken.count(letter[0]) == 0) {
                c.drive.letter = letter[0];
                taken.insert(letter[0]);
                break;
            }
        }
    }
    std::set<char> reserved; // letters kept for devices that are not here today
    for (auto it = kept.begin(); it != kept.end(); ++it)
        if (it->is_string() && present.count(it->get<std::string>()) == 0 && it.key().size() == 1)
            reserved.insert(it.key()[0]);
    for (auto& c : candidates) {
        if (c.drive.letter != 0 || c.drive.kind == DriveKind::Floppy)
            continue;
        for (int pass = 0; pass < 2 && c.drive.letter == 0; ++pass)
            for (char letter = 'C'; letter <= 'Z'; ++letter)
                if (taken.count(letter) == 0 && (pass == 1 || reserved.count(letter) == 0)) {
                    c.drive.letter = letter;
                    taken.insert(letter);
                    break;
                }
        if (c.drive.letter == 0) {
            // Said once a run, in the error log (where the program routes a back-end's
            // absorbed trouble); the map file decides which devices get the letters.
            if (told_.insert(c.drive.node).second)
                ReportRegistryTrouble("DriveMap.Detect - no drive letter left for " + c.drive.node +
                                      " (pin the letters in " + MapFile() + ")");
        }
    }

    drives_.clear();
    for (auto& c : candidates) {
        if (c.drive.letter == 0)
            continue;
        if (c.drive.kind != DriveKind::Floppy)
            kept[std::string(1, c.drive.letter)] = c.drive.identity;
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
        disks_.push_back(std::move(disk));
    }
}

std::vector<dev_t> SystemDevices() {
    std::vector<dev_t> devices;
    libmnt_table* table = mnt_new_table();
    if (table != nullptr && mnt_table_parse_mtab(table, nullptr) == 0) {
        for (const char* target : {"/", "/usr", "/boot", "/boot/efi"}) {
            libmnt_fs* entry = mnt_table_find_target(table, target, MNT_ITER_BACKWARD);
            if (entry != nullptr && mnt_fs_get_devno(entry) != 0)
                devices.push_back(mnt_fs_get_devno(entry));
        }
    }
    mnt_unref_table(table);
    struct stat st {};
    if (stat("/", &st) == 0)
        devices.push_back(st.st_dev);
    std::ifstream swaps("/proc/swaps");
    std::string line;
    std::getline(swaps, line); // the heading
    while (std::getline(swaps, line)) {
        std::istringstream words(line);
        std::string name;
        words >> name;
        if (dev_t devno = DevnoOf(name))
            devices.push_back(devno);
        else if (stat(name.c_str(), &st) == 0)
            devices.push_back(st.st_dev); // a swap file: the device that holds it
    }
    return devices;
}

bool TouchesSystem(dev_t device, const std::vector<dev_t>& systemDevices,
                   const std::string& sysfs) {
    // What each system device rests on: itself, the disk it is a partition of, and what a
    // mapped or RAID device is built from, down to the disks.
    std::set<dev_t> touched;
    std::vector<std::string> pending;
    for (dev_t devno : systemDevices) {
        touched.insert(devno);
        const std::string dir = SysDirOf(sysfs, devno);
        if (!dir.empty())
            pending.push_back(dir);
    }
    std::error_code error;
    while (!pending.empty()) {
        const fs::path dir = pending.back();
        pending.pop_back();
        auto add = [&](const fs::path& other) {
            const std::string text = ReadLine(other / "dev");
            unsigned int maj = 0, min = 0;
            if (std::sscanf(text.c_str(), "%u:%u", &maj, &min) == 2 &&
                touched.insert(makedev(maj, min)).second)
                pending.push_back(other.string());
        };
        if (fs::exists(dir / "partition", error))
            add(dir.parent_path());
        for (const auto& slave : fs::directory_iterator(dir / "slaves", error)) {
            const fs::path real = fs::canonical(slave.path(), error);
            if (!error)
                add(real);
        }
    }
    if (touched.count(device) != 0)
        return true;
    // A disk that holds a system partition is touched by writing to it as a whole.
    const std::string dir = SysDirOf(sysfs, device);
    if (dir.empty())
        return false;
    for (const auto& child : fs::directory_iterator(dir, error)) {
        const std::string text = ReadLine(child.path() / "dev");
        unsigned int maj = 0, min = 0;
        if (fs::exists(child.path() / "partition", error) &&
            std::sscanf(text.c_str(), "%u:%u", &maj, &min) == 2 &&
            touched.count(makedev(maj, min)) != 0)
            return true;
    }
    for (const auto& holder : fs::directory_iterator(fs::path(dir) / "holders", error)) {
        const std::string text = ReadLine(holder.path() / "dev");
        unsigned int maj = 0, min = 0;
        if (std::sscanf(text.c_str(), "%u:%u", &maj, &min) == 2 &&
            touched.count(makedev(maj, min)) != 0)
            return true;
    }
    return false;
}

} // namespace platform::linux_backend
