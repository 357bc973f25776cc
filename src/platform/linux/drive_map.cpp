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

using LeftOut = std::vector<Kernel32::DeviceNotOffered>;

void LeaveOut(LeftOut& leftOut, const std::string& node, std::string reason) {
    leftOut.push_back(Kernel32::DeviceNotOffered{node, std::move(reason)});
}

// An image file the map file names, as a drive; none when the file is not there, or when
// the running system refuses it (left out with the reason).
std::optional<Candidate> ImageCandidate(char letter, const std::string& path,
                                        const RunningSystem& system, LeftOut& leftOut) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0)
        return std::nullopt; // an image that is not there is no drive
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
    if (auto why = system.WhyRefusedImage(absolute)) {
        LeaveOut(leftOut, absolute, *why);
        return std::nullopt;
    }
    return image;
}

// What the map file decides about the block devices of this machine.
struct DeviceRules {
    std::string mapFile;                     // its name, for the reasons
    bool only = false;                       // only the devices it names are offered
    std::map<dev_t, char> named;             // the devices it names, with their pinned letter
    std::map<dev_t, std::string> neverDisks; // the disks it keeps, with the path that named them
};

// The disks the map file keeps from being wiped (a boot medium, a records medium): the
// disk a named partition lies on goes with it, so that no partition of it is offered.
std::map<dev_t, std::string> NeverDisks(const MapFile& map, const std::string& sysfs) {
    std::map<dev_t, std::string> neverDisks;
    for (const auto& path : map.never)
        if (dev_t devno = DevnoOf(path)) {
            const dev_t disk = DiskOfPartition(sysfs, devno); // 0: devno is a disk
            neverDisks.emplace(disk != 0 ? disk : devno, path);
        }
    return neverDisks;
}

// A block device as sysfs describes it, with the disk it lies on (itself for a disk).
struct BlockDevice {
    std::string name; // sda1
    fs::path dir;     // its own sysfs folder
    bool isPartition = false;
    std::string diskName;
    fs::path diskDir;
    std::int64_t sectors = 0;
    std::string node;
    dev_t devno = 0;
    dev_t diskDevno = 0;
};

// The block device an entry of /sys/class/block stands for; none for a kind of device a
// user does not wipe, or one without a device node.
std::optional<BlockDevice> ReadBlockDevice(const fs::path& entry) {
    BlockDevice device;
    device.name = entry.filename().string();
    if (!WipeableName(device.name))
        return std::nullopt;
    std::error_code error;
    device.dir = fs::canonical(entry, error);
    if (error)
        return std::nullopt;
    device.isPartition = fs::exists(device.dir / "partition", error);
    device.diskName =
        device.isPartition ? device.dir.parent_path().filename().string() : device.name;
    device.diskDir = device.isPartition ? device.dir.parent_path() : device.dir;
    device.sectors = ReadNumber(device.dir / "size");
    device.node = "/dev/" + device.name;
    device.devno = DevnoOf(device.node);
    if (device.devno == 0)
        return std::nullopt;
    device.diskDevno = DevnoOf("/dev/" + device.diskName);
    return device;
}

bool HasPartitions(const fs::path& diskDir) {
    std::error_code error;
    bool partitioned = false;
    for (const auto& child : fs::directory_iterator(diskDir, error))
        if (fs::exists(child.path() / "partition", error))
            partitioned = true;
    return partitioned;
}

// Why a device is not offered, the weightiest reason first; none when it is offered.
std::optional<std::string> WhyNotOffered(const BlockDevice& device, bool named, bool optical,
                                         const DeviceRules& rules, const RunningSystem& system) {
    // The system's own device says so whatever else holds.
    if (auto why = system.WhyRefused(device.devno))
        return why;
    if (auto kept = rules.neverDisks.find(device.diskDevno); kept != rules.neverDisks.end())
        return "the map file " + rules.mapFile + " keeps " + kept->second + " from being wiped";
    if (rules.only && !named)
        return "the map file " + rules.mapFile + " lists only its own devices";
    // A disc that cannot be written block by block (a pressed or closed disc) is still
    // the drive's to judge: it is asked whether the disc can be blanked, and tells why not.
    if (ReadNumber(device.dir / "ro") == 1 && !optical)
        return "read-only";
    if (device.sectors <= 0)
        return "empty (no medium)";
    return std::nullopt;
}

Candidate DeviceCandidate(const BlockDevice& device, char letter, bool optical, bool floppy,
                          std::optional<DeviceLinks>& links) {
    Candidate candidate;
    Drive& drive = candidate.drive;
    drive.node = device.node;
    drive.wholeDisk = "/dev/" + device.diskName;
    drive.removable = ReadNumber(device.diskDir / "removable") == 1;
    drive.size = device.sectors * 512;
    drive.letter = letter;
    if (device.isPartition) {
        drive.kind = DriveKind::Partition;
        drive.partitionNumber = static_cast<std::uint32_t>(ReadNumber(device.dir / "partition"));
        drive.start = ReadNumber(device.dir / "start") * 512;
    } else if (floppy) {
        drive.kind = DriveKind::Floppy;
        drive.removable = true;
    } else if (optical) {
        drive.kind = DriveKind::Optical;
        drive.removable = true;
    } else {
        drive.kind = DriveKind::Disk;
    }
    drive.identity = IdentityOf(device.node, device.dir.string(), drive.partitionNumber, links);
    candidate.devno = device.devno;
    candidate.sortKey = drive.kind == DriveKind::Optical ? "}" + device.name : device.name;
    return candidate;
}

// The block devices that may be offered, as drives, in sysfs order; a device passed over
// for a reason is left out with it.
std::vector<Candidate> DeviceCandidates(const std::string& sysfs, const DeviceRules& rules,
                                        const RunningSystem& system, LeftOut& leftOut) {
    std::vector<Candidate> candidates;
    std::error_code error;
    std::optional<DeviceLinks> links;
    const fs::path classBlock = fs::path(sysfs) / "class" / "block";
    for (const auto& entry : fs::directory_iterator(classBlock, error)) {
        const auto device = ReadBlockDevice(entry.path());
        if (!device)
            continue;
        const bool named =
            rules.named.count(device->devno) != 0 || rules.named.count(device->diskDevno) != 0;
        // Loop devices are no drives of this machine unless the map file names them; they
        // are passed over without a word (a system may have dozens).
        if (StartsWith(device->name, "loop") && !named)
            continue;
        const bool optical = StartsWith(device->name, "sr"),
                   floppy = StartsWith(device->name, "fd");
        // A disk with a partition table is listed through its partitions.
        if (!device->isPartition && !optical && !floppy && HasPartitions(device->dir))
            continue;
        if (auto why = WhyNotOffered(*device, named, optical, rules, system)) {
            LeaveOut(leftOut, device->node, *why);
            continue;
        }
        auto pinned = rules.named.find(device->devno);
        const char letter = pinned != rules.named.end() ? pinned->second : 0;
        candidates.push_back(DeviceCandidate(*device, letter, optical, floppy, links));
    }
    return candidates;
}

// What this user may not open is left out, with the reason.
void LeaveOutUnreadable(std::vector<Candidate>& candidates, LeftOut& leftOut) {
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
            LeaveOut(leftOut, c.drive.node,
                     "this user may not open it (run Purgelet as root or as a "
                     "member of the disk group)");
            return true;
        }
        if (c.drive.kind != DriveKind::Image)
            return false; // an empty drive still has its letter
        LeaveOut(leftOut, c.drive.node,
                 std::string("it cannot be read (") + std::strerror(errno) + ")");
        return true;
    });
}

// The kept letters: the file as read (rewritten only when the letters changed), and its
// contents, an object with a "letters" object whatever the file held.
struct LetterState {
    std::string stored;
    nlohmann::json state = nlohmann::json::object();
};

LetterState ReadLetterState(const std::string& stateFile) {
    LetterState letters;
    std::ifstream in(stateFile);
    if (in) {
        letters.stored.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        letters.state = nlohmann::json::parse(letters.stored, nullptr, false);
    }
    const auto& state = letters.state;
    if (!state.is_object() || !state.contains("letters") || !state["letters"].is_object())
        letters.state = nlohmann::json{{"letters", nlohmann::json::object()}};
    return letters;
}

void StoreLetterState(const std::string& stateFile, const LetterState& letters) {
    const std::string text = letters.state.dump(2) + '\n';
    if (text == letters.stored)
        return;
    std::error_code error;
    fs::create_directories(fs::path(stateFile).parent_path(), error);
    const std::string temporary = stateFile + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << text;
    }
    fs::rename(temporary, stateFile, error);
}

// The floppy drives' own letters and the map file's pins; two pins on one letter: the first
// wins.
void TakeFixedLetters(std::vector<Candidate>& candidates, std::set<char>& taken) {
    for (auto& c : candidates) {
        if (c.drive.kind == DriveKind::Floppy && c.drive.letter == 0) {
            const std::string name = fs::path(c.drive.node).filename().string();
            if (name == "fd0" || name == "fd1")
                c.drive.letter = name == "fd0" ? 'A' : 'B';
        }
        if (c.drive.letter != 0 && !taken.insert(c.drive.letter).second)
            c.drive.letter = 0;
    }
}

// What each letter C..Z is kept for.
std::map<char, std::string> KeptFor(const nlohmann::json& kept) {
    std::map<char, std::string> keptFor;
    for (auto it = kept.begin(); it != kept.end(); ++it)
        if (it->is_string() && it.key().size() == 1 && it.key()[0] >= 'C' && it.key()[0] <= 'Z')
            keptFor[it.key()[0]] = it->get<std::string>();
    return keptFor;
}

// Each device without a letter gets the one kept for it, unless that is taken.
void GiveKeptLetters(std::vector<Candidate>& candidates, const std::map<char, std::string>& keptFor,
                     std::set<char>& taken) {
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
}

// The first free letter, taken: first the letters nobody keeps, then those of devices that
// are not here today. 0 when none is left.
char TakeFreeLetter(const std::map<char, std::string>& keptFor,
                    const std::set<std::string>& present, std::set<char>& taken) {
    for (int pass = 0; pass < 2; ++pass)
        for (char letter = 'C'; letter <= 'Z'; ++letter) {
            auto keeper = keptFor.find(letter);
            const bool free =
                keeper == keptFor.end() || (pass == 1 && present.count(keeper->second) == 0);
            if (taken.count(letter) == 0 && free) {
                taken.insert(letter);
                return letter;
            }
        }
    return 0;
}

// The device's letter moves here: whatever it kept before is released.
void KeepLetter(nlohmann::json& kept, const Drive& drive) {
    for (auto it = kept.begin(); it != kept.end();)
        if (it->is_string() && it->get<std::string>() == drive.identity)
            it = kept.erase(it);
        else
            ++it;
    kept[std::string(1, drive.letter)] = drive.identity;
}

// The whole disks under the drives, in disk order.
std::vector<std::string> WholeDisksOf(const std::vector<Drive>& drives) {
    std::vector<std::string> wholeDisks;
    for (const auto& drive : drives)
        if (drive.kind != DriveKind::Floppy && drive.kind != DriveKind::Optical &&
            std::find(wholeDisks.begin(), wholeDisks.end(), drive.wholeDisk) == wholeDisks.end())
            wholeDisks.push_back(drive.wholeDisk);
    std::sort(wholeDisks.begin(), wholeDisks.end(), NaturalLess);
    return wholeDisks;
}

// The disk's vendor and model, else its loop device's backing file, else its node; in the
// program's code page (sysfs and paths are UTF-8).
std::string DiskModel(const std::string& sysfs, const std::string& node) {
    std::string model;
    const std::string dir = SysDirOf(sysfs, DevnoOf(node));
    if (!dir.empty()) {
        model = ReadLine(fs::path(dir) / "device" / "model");
        const std::string vendor = ReadLine(fs::path(dir) / "device" / "vendor");
        if (!vendor.empty() && !model.empty())
            model = vendor + " " + model;
        const std::string backing = ReadLine(fs::path(dir) / "loop" / "backing_file");
        if (model.empty() && !backing.empty())
            model = "Loop device (" + backing + ")";
    }
    if (model.empty())
        model = node;
    return platform::Utf8ToCp1252(model);
}
// The whole disks under the drives, in disk order, numbered as Windows numbers them.
std::vector<PhysicalDisk> DisksUnder(const std::vector<Drive>& drives, const DeviceRules& rules,
                                     const std::string& sysfs, LeftOut& leftOut) {
    std::vector<PhysicalDisk> disks;
    for (const auto& node : WholeDisksOf(drives)) {
        PhysicalDisk disk;
        disk.node = node;
        disk.number = static_cast<std::uint32_t>(disks.size());
        disk.model = DiskModel(sysfs, node);
        // An image file names itself; a device disk must be named as a whole.
        const dev_t devno = DevnoOf(node);
        disk.offered = !rules.only || devno == 0 || rules.named.count(devno) != 0;
        if (!disk.offered)
            LeaveOut(leftOut, node,
                     "the map file " + rules.mapFile +
                         " names partitions of it, not the whole disk");
        disks.push_back(std::move(disk));
    }
    return disks;
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
    DeviceRules rules;
    rules.mapFile = MapFile();
    const struct MapFile map = ReadMapFile(rules.mapFile);
    rules.only = map.only;
    RunningSystemSources sources;
    sources.sysfs = options_.sysfs;
    system_ = RunningSystem::Scan(sources);
    leftOut_.clear();
    std::vector<Candidate> candidates;
    for (const auto& [letter, path] : map.entries) {
        if (dev_t devno = DevnoOf(path))
            rules.named[devno] = letter;
        else if (auto image = ImageCandidate(letter, path, system_, leftOut_))
            candidates.push_back(std::move(*image));
    }
    rules.neverDisks = NeverDisks(map, options_.sysfs);
    for (auto& candidate : DeviceCandidates(options_.sysfs, rules, system_, leftOut_))
        candidates.push_back(std::move(candidate));
    LeaveOutUnreadable(candidates, leftOut_);
    std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        return NaturalLess(a.sortKey, b.sortKey);
    });

    // Letters: the floppy drives' own, then the map file's, then the kept ones, then the
    // first free letter that no absent device keeps. A letter kept for a device that is here
    // today is never given to another.
    const std::string stateFile = StateFile();
    LetterState letters = ReadLetterState(stateFile);
    auto& kept = letters.state["letters"];
    std::set<char> taken;
    TakeFixedLetters(candidates, taken);
    const std::map<char, std::string> keptFor = KeptFor(kept);
    std::set<std::string> present;
    for (const auto& c : candidates)
        present.insert(c.drive.identity);
    GiveKeptLetters(candidates, keptFor, taken);
    for (auto& c : candidates) {
        if (c.drive.letter != 0 || c.drive.kind == DriveKind::Floppy)
            continue;
        c.drive.letter = TakeFreeLetter(keptFor, present, taken);
        if (c.drive.letter == 0) {
            // Said once a run, in the error log (where the program routes a back-end's
            // absorbed trouble); the map file decides which devices get the letters.
            LeaveOut(leftOut_, c.drive.node,
                     "no drive letter is left for it (pin the letters in " + rules.mapFile + ")");
            if (told_.insert(c.drive.node).second)
                ReportRegistryTrouble("DriveMap.Detect - no drive letter left for " + c.drive.node +
                                      " (pin the letters in " + rules.mapFile + ")");
        }
    }

    drives_.clear();
    for (auto& c : candidates) {
        if (c.drive.letter == 0)
            continue;
        if (c.drive.kind != DriveKind::Floppy)
            KeepLetter(kept, c.drive);
        drives_.push_back(std::move(c.drive));
    }
    std::sort(drives_.begin(), drives_.end(),
              [](const Drive& a, const Drive& b) { return a.letter < b.letter; });
    StoreLetterState(stateFile, letters);

    disks_ = DisksUnder(drives_, rules, options_.sysfs, leftOut_);
}

} // namespace platform::linux_backend
