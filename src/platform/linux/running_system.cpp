#include "platform/linux/running_system.h"

#include "platform/linux/sysfs.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <libmount/libmount.h>
#include <memory>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace platform::linux_backend {

namespace {

namespace fs = std::filesystem;

struct TableFree {
    void operator()(libmnt_table* table) const { mnt_unref_table(table); }
};
using Table = std::unique_ptr<libmnt_table, TableFree>;

// File systems that rest on no local block device: nothing under them can be wiped.
bool Deviceless(const std::string& type) {
    static const char* const kTypes[] = {"tmpfs",    "ramfs",    "rootfs", "proc", "sysfs",
                                         "devtmpfs", "nfs",      "nfs4",   "cifs", "smb3",
                                         "9p",       "virtiofs", "afs",    "ceph", "glusterfs"};
    return std::find(std::begin(kTypes), std::end(kTypes), type) != std::end(kTypes) ||
           type.rfind("fuse.sshfs", 0) == 0;
}

// An overlay's layer folders: lowerdir is a list split by ':' (an escaped "\:" belongs to
// the name), upperdir and workdir one folder each.
std::vector<std::string> OverlayLayers(const char* options) {
    std::vector<std::string> layers;
    if (options == nullptr)
        return layers;
    for (const char* name : {"lowerdir", "upperdir", "workdir", "lowerdir+", "datadir+"}) {
        char* value = nullptr;
        size_t size = 0;
        // Every occurrence: newer kernels may show a "+" option once per layer.
        const char* rest = options;
        while (rest != nullptr && *rest != '\0' &&
               mnt_optstr_get_option(rest, name, &value, &size) == 0 && value != nullptr) {
            const std::string list(value, size);
            std::string current;
            for (std::size_t i = 0; i < list.size(); ++i) {
                if (list[i] == '\\' && i + 1 < list.size()) {
                    current.push_back(list[++i]);
                } else if (list[i] == ':') {
                    if (!current.empty())
                        layers.push_back(current);
                    current.clear();
                } else {
                    current.push_back(list[i]);
                }
            }
            if (!current.empty())
                layers.push_back(current);
            rest = value + size;
        }
    }
    return layers;
}

// The WWID of the disk under a block device (a partition's is its disk's), empty when the
// device tells none: SCSI and ATA disks in device/wwid, NVMe namespaces in wwid.
std::string WwidOf(const std::string& sysfs, dev_t devno) {
    const std::string dir = SysDirOf(sysfs, devno);
    if (dir.empty())
        return {};
    fs::path disk(dir);
    std::error_code error;
    if (fs::exists(disk / "partition", error))
        disk = disk.parent_path();
    std::string wwid = ReadLine(disk / "wwid");
    if (wwid.empty())
        wwid = ReadLine(disk / "device" / "wwid");
    return wwid;
}

} // namespace

class RunningSystem::Resolver {
public:
    // A mount table and the root its paths are under: this program's, or process 1's.
    struct View {
        Table table;
        std::string role; // put before each role: "" for this program's, "the host's "
    };

    Resolver(RunningSystem& system, const RunningSystemSources& sources)
        : system_(system), sources_(sources) {
        if (!sources.mountInfo.empty()) {
            own_.table.reset(mnt_new_table());
            if (!own_.table ||
                mnt_table_parse_file(own_.table.get(), sources.mountInfo.c_str()) != 0) {
                own_.table.reset();
                Doubt("the mount table " + sources.mountInfo + " cannot be read");
            }
        }
        // Not readable (no right to look at process 1): this program's view is all there is.
        if (!sources.hostMountInfo.empty() && access(sources.hostMountInfo.c_str(), R_OK) == 0) {
            host_.table.reset(mnt_new_table());
            host_.role = "the host's ";
            if (host_.table &&
                mnt_table_parse_file(host_.table.get(), sources.hostMountInfo.c_str()) != 0)
                host_.table.reset();
        }
    }

    // A path of the system: the device of the mount that holds it.
    void Path(const std::string& path, const std::string& role, bool mustExist) {
        std::error_code error;
        const fs::path real = fs::canonical(path, error);
        if (error) {
            if (mustExist)
                Doubt(role + " (" + path + ") cannot be found");
            return;
        }
        libmnt_fs* mount = own_.table ? mnt_table_find_mountpoint(own_.table.get(), real.c_str(),
                                                                  MNT_ITER_BACKWARD)
                                      : nullptr;
        if (mount == nullptr) {
            // No table to look in: the file's own device is all there is to go by.
            struct stat st {};
            if (stat(real.c_str(), &st) == 0 && IsBlockDevice(sources_.sysfs, st.st_dev))
                Device(st.st_dev, role);
            else
                Doubt(role + " (" + path + ") lies on no mount this can follow");
            return;
        }
        Mount(own_, mount, role);
    }

    // The same paths as process 1 sees them, looked up in its table by name (its root may lie
    // beyond this program's), and the device its root directory is on.
    void HostPaths(const std::vector<std::string>& paths) {
        if (!sources_.hostRoot.empty()) {
            struct stat st {};
            if (stat(sources_.hostRoot.c_str(), &st) == 0 &&
                IsBlockDevice(sources_.sysfs, st.st_dev))
                Device(st.st_dev, host_.role + "/");
        }
        if (!host_.table)
            return;
        for (const auto& path : paths)
            if (libmnt_fs* mount =
                    mnt_table_find_mountpoint(host_.table.get(), path.c_str(), MNT_ITER_BACKWARD))
                Mount(host_, mount, host_.role + path);
    }

    // A device and everything it rests on.
    void Device(dev_t device, const std::string& role) {
        if (device == 0 || !system_.devices_.emplace(device, role).second)
            return;
        const std::string dir = SysDirOf(sources_.sysfs, device);
        if (dir.empty())
            return;
        std::error_code error;
        const fs::path here(dir);
        if (fs::exists(here / "partition", error))
            Device(DevnoOfSysDir(here.parent_path()), role);
        else if (const std::string wwid = WwidOf(sources_.sysfs, device); !wwid.empty())
            system_.wwids_.emplace(wwid, SameDisk{here.filename().string(), role, device});
        for (const auto& slave : fs::directory_iterator(here / "slaves", error)) {
            const fs::path real = fs::canonical(slave.path(), error);
            if (!error)
                Device(DevnoOfSysDir(real), role);
        }
        // zram writes pages it cannot keep in memory to its backing device.
        if (const std::string backing = ReadLine(here / "backing_dev");
            !backing.empty() && backing != "none") {
            if (dev_t devno = DeviceNamed(backing))
                Device(devno, role);
            else
                Doubt(role + " rests on " + here.filename().string() + ", whose backing device " +
                      backing + " is not found");
        }
        std::string backing = ReadLine(here / "loop" / "backing_file");
        if (!backing.empty()) {
            static const std::string kDeleted = " (deleted)";
            if (backing.size() > kDeleted.size() &&
                backing.compare(backing.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0)
                Doubt(role + " rests on " + here.filename().string() +
                      ", whose backing file was deleted");
            else
                Path(backing, role, true);
        }
    }

    void Swaps(const std::string& swaps) {
        std::ifstream in(swaps);
        std::string line;
        std::getline(in, line); // the heading
        while (std::getline(in, line)) {
            std::istringstream words(line);
            std::string name;
            words >> name;
            if (name.empty())
                continue;
            if (dev_t devno = DevnoOf(name))
                Device(devno, "swap");
            else
                Path(name, "swap", true); // a swap file: the device that holds it
        }
    }

    void Doubt(const std::string& text) {
        if (std::find(system_.doubts_.begin(), system_.doubts_.end(), text) ==
            system_.doubts_.end())
            system_.doubts_.push_back(text);
    }

private:
    void Mount(View& view, libmnt_fs* mount, const std::string& role) {
        if (!mounts_.insert(mount).second)
            return;
        const dev_t devno = mnt_fs_get_devno(mount);
        if (IsBlockDevice(sources_.sysfs, devno)) {
            Device(devno, role);
            return;
        }
        const char* typeText = mnt_fs_get_fstype(mount);
        const std::string type = typeText != nullptr ? typeText : "";
        const char* sourceText = mnt_fs_get_source(mount);
        const std::string source = sourceText != nullptr ? sourceText : "";
        const bool own = &view == &own_;
        if (type == "overlay") {
            const auto layers = OverlayLayers(mnt_fs_get_fs_options(mount));
            if (layers.empty())
                Doubt(role + " is an overlay whose layers are not shown");
            for (const auto& layer : layers)
                if (own)
                    Path(layer, role, true);
                else
                    HostPath(layer, role);
            return;
        }
        const dev_t sourceDevice = DevnoOf(source);
        if (type == "btrfs") {
            if (sourceDevice == 0) {
                Doubt(role + " is on btrfs from " + source + ", which is no device here");
                return;
            }
            BtrfsDevices(sourceDevice, role);
            return;
        }
        if (sourceDevice != 0) {
            Device(sourceDevice, role);
            return;
        }
        if (type == "autofs") {
            // An automount point nobody used yet holds nothing; what will be mounted there is
            // the system's all the same, where fstab tells it.
            const char* target = mnt_fs_get_target(mount);
            if (dev_t device = target != nullptr ? FstabDevice(target) : 0)
                Device(device, role);
            return;
        }
        if ((type == "fuse" || type.rfind("fuse.", 0) == 0) && !source.empty() &&
            source[0] == '/') {
            // A file system a program serves from an image file (an AppImage, squashfuse,
            // fuse2fs): the image lies on a file system of its own, which is followed.
            struct stat st {};
            const std::string image = own ? source : sources_.hostRoot + source;
            if (stat(image.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
                if (own)
                    Path(source, role, true);
                else
                    HostPath(source, role);
                return;
            }
        }
        if (Deviceless(type))
            return;
        Doubt(role + " is on " + type + " (" + source + ")");
    }

    // A path process 1 sees: the mount of its table that holds it.
    void HostPath(const std::string& path, const std::string& role) {
        if (libmnt_fs* mount =
                mnt_table_find_mountpoint(host_.table.get(), path.c_str(), MNT_ITER_BACKWARD))
            Mount(host_, mount, role);
        else
            Doubt(role + " (" + path + ") lies on no mount this can follow");
    }

    // The device fstab mounts at target, 0 when it names none that is here.
    dev_t FstabDevice(const std::string& target) {
        if (sources_.fstab.empty())
            return 0;
        Table fstab(mnt_new_table());
        if (!fstab || mnt_table_parse_fstab(fstab.get(), sources_.fstab.c_str()) != 0)
            return 0;
        libmnt_fs* entry = mnt_table_find_target(fstab.get(), target.c_str(), MNT_ITER_BACKWARD);
        const char* source = entry != nullptr ? mnt_fs_get_source(entry) : nullptr;
        return source != nullptr ? DeviceNamed(source) : 0;
    }

    // A device by a name fstab or sysfs gives: a node, a link to one, or UUID=, LABEL=,
    // PARTUUID=, PARTLABEL=; found in sysfs by its kernel name when there is no node.
    dev_t DeviceNamed(const std::string& given) {
        static const std::pair<const char*, const char*> kTags[] = {{"UUID=", "by-uuid"},
                                                                    {"LABEL=", "by-label"},
                                                                    {"PARTUUID=", "by-partuuid"},
                                                                    {"PARTLABEL=", "by-partlabel"}};
        fs::path path = given;
        for (const auto& [tag, folder] : kTags)
            if (given.rfind(tag, 0) == 0) {
                std::string value = given.substr(std::strlen(tag));
                if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
                    value = value.substr(1, value.size() - 2);
                path = fs::path(sources_.dev) / "disk" / folder / value;
            }
        if (dev_t devno = DevnoOf(path.string()))
            return devno;
        std::error_code error;
        std::string name = path.filename().string();
        if (fs::is_symlink(path, error))
            name = fs::read_symlink(path, error).filename().string();
        if (name.empty())
            return 0;
        const fs::path dir =
            fs::canonical(fs::path(sources_.sysfs) / "class" / "block" / name, error);
        return error ? 0 : DevnoOfSysDir(dir);
    }

    // Every device of the btrfs file system that has source among its devices.
    void BtrfsDevices(dev_t source, const std::string& role) {
        Device(source, role);
        std::error_code error;
        for (const auto& filesystem :
             fs::directory_iterator(fs::path(sources_.sysfs) / "fs" / "btrfs", error)) {
            std::vector<dev_t> members;
            for (const auto& member :
                 fs::directory_iterator(filesystem.path() / "devices", error)) {
                const fs::path real = fs::canonical(member.path(), error);
                if (!error)
                    members.push_back(DevnoOfSysDir(real));
            }
            if (std::find(members.begin(), members.end(), source) != members.end())
                for (dev_t member : members)
                    Device(member, role);
        }
    }

    RunningSystem& system_;
    const RunningSystemSources& sources_;
    View own_;
    View host_;
    std::set<libmnt_fs*> mounts_;
};

RunningSystem RunningSystem::Scan(const RunningSystemSources& sources) {
    RunningSystem system;
    system.sysfs_ = sources.sysfs;
    Resolver resolver(system, sources);
    for (dev_t device : sources.devices)
        resolver.Device(device, "the system");
    for (const auto& path : sources.paths)
        resolver.Path(path, path, path == "/");
    resolver.HostPaths(sources.paths);
    if (!sources.executable.empty())
        resolver.Path(sources.executable, "the running program", true);
    if (!sources.swaps.empty())
        resolver.Swaps(sources.swaps);
    return system;
}

std::optional<std::string> RunningSystem::WhyRefused(dev_t device) const {
    if (!doubts_.empty())
        return "it cannot be told which devices hold the running system (" + doubts_.front() +
               "), so no device is written";
    auto held = [&](dev_t devno) -> std::optional<std::string> {
        auto found = devices_.find(devno);
        if (found == devices_.end())
            return std::nullopt;
        return "holds the running system (" + found->second + ")";
    };
    if (auto why = held(device))
        return why;
    // A disk that holds a system partition is touched by writing to it as a whole; so is a
    // device that something of the system is built on top of.
    const std::string dir = SysDirOf(sysfs_, device);
    if (dir.empty())
        return std::nullopt;
    std::error_code error;
    for (const auto& child : fs::directory_iterator(dir, error))
        if (fs::exists(child.path() / "partition", error))
            if (auto why = held(DevnoOfSysDir(child.path())))
                return why;
    for (const auto& holder : fs::directory_iterator(fs::path(dir) / "holders", error)) {
        const fs::path real = fs::canonical(holder.path(), error);
        if (!error)
            if (auto why = held(DevnoOfSysDir(real)))
                return why;
    }
    // The same disk on another path (two ports, two controllers) without device-mapper to
    // join them: the WWID tells it is one disk. As a whole it is the system's disk; a
    // partition is refused where its twin on the other path would be.
    const std::string wwid = WwidOf(sysfs_, device);
    auto same = wwid.empty() ? wwids_.end() : wwids_.find(wwid);
    const bool partition = fs::exists(fs::path(dir) / "partition", error);
    const dev_t whole = partition ? DevnoOfSysDir(fs::path(dir).parent_path()) : device;
    if (same == wwids_.end() || same->second.disk == whole)
        return std::nullopt;
    const std::string twin = "is the same disk as " + same->second.name;
    if (!partition)
        return twin + ", which holds the running system (" + same->second.role + ")";
    const std::string number = ReadLine(fs::path(dir) / "partition");
    for (const auto& child : fs::directory_iterator(SysDirOf(sysfs_, same->second.disk), error))
        if (ReadLine(child.path() / "partition") == number)
            if (auto why = WhyRefused(DevnoOfSysDir(child.path())))
                return twin + ", whose partition " + number + " " + *why;
    return std::nullopt;
}

std::optional<std::string> RunningSystem::WhyRefusedImage(const std::string& file) const {
    for (const auto& node : LoopDevicesOver(file, sysfs_))
        if (auto why = WhyRefused(DevnoOf(node)))
            return why;
    if (!doubts_.empty())
        return WhyRefused(0);
    return std::nullopt;
}

std::vector<std::string> LoopDevicesOver(const std::string& file, const std::string& sysfs) {
    std::vector<std::string> nodes;
    struct stat target {};
    if (stat(file.c_str(), &target) != 0)
        return nodes;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(fs::path(sysfs) / "block", error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("loop", 0) != 0)
            continue;
        const std::string backing = ReadLine(entry.path() / "loop" / "backing_file");
        struct stat st {};
        if (!backing.empty() && stat(backing.c_str(), &st) == 0 && st.st_dev == target.st_dev &&
            st.st_ino == target.st_ino)
            nodes.push_back("/dev/" + name);
    }
    std::sort(nodes.begin(), nodes.end());
    return nodes;
}

std::vector<std::string> HoldersOf(dev_t device, const std::string& sysfs) {
    std::vector<std::string> holders;
    const std::string dir = SysDirOf(sysfs, device);
    if (dir.empty())
        return holders;
    auto collect = [&](const fs::path& folder) {
        std::error_code error;
        for (const auto& holder : fs::directory_iterator(folder / "holders", error)) {
            const std::string name = holder.path().filename().string();
            const std::string mapped = ReadLine(holder.path() / "dm" / "name");
            std::string text = mapped.empty() ? name : name + " (" + mapped + ")";
            if (std::find(holders.begin(), holders.end(), text) == holders.end())
                holders.push_back(std::move(text));
        }
    };
    collect(dir);
    std::error_code error;
    for (const auto& child : fs::directory_iterator(dir, error))
        if (fs::exists(child.path() / "partition", error))
            collect(child.path());
    std::sort(holders.begin(), holders.end());
    return holders;
}

} // namespace platform::linux_backend
