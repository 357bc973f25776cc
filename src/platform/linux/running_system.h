// The one decision that keeps the running system safe: which block devices it is built from.
// The root file system, /usr, /boot, active swap and the file system of the running program
// are followed down to the devices under them: loop devices to the device that holds their
// backing file, overlay mounts to every layer, btrfs to every device of the file system,
// device-mapper and RAID devices to their parts, zram to its backing device, partitions to
// their disks, an automount point not mounted yet to what fstab mounts there, a FUSE mount of
// an image file to that file. They are looked up both as this program sees them and as
// process 1 does: a chroot or a mount namespace of its own hides the host's mounts. A disk
// seen on two paths (the same WWID) is refused on both. A file system this cannot follow to
// devices leaves it in doubt, and then no device is written.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace platform::linux_backend {

struct RunningSystemSources {
    std::string mountInfo = "/proc/self/mountinfo"; // empty: no mounts
    // Process 1's mounts and root directory, the host system's when this program runs in a
    // chroot or a mount namespace of its own; either empty or unreadable: not looked at.
    std::string hostMountInfo = "/proc/1/mountinfo";
    std::string hostRoot = "/proc/1/root";
    std::string fstab = "/etc/fstab"; // what an automount point mounts once it is used
    std::string dev = "/dev";         // where UUID= and LABEL= are found (dev/disk/by-uuid)
    std::string sysfs = "/sys";
    std::vector<std::string> paths = {"/", "/usr", "/boot", "/boot/efi"};
    std::string executable = "/proc/self/exe"; // empty: none
    std::string swaps = "/proc/swaps";         // empty: none
    // Devices taken as the system's as they are (what the system rests on is added).
    std::vector<dev_t> devices;
};

class RunningSystem {
public:
    // Reads the mounts and swaps and follows them to their devices.
    static RunningSystem Scan(const RunningSystemSources& sources = {});

    // Why writing to device would touch the running system: it is one of the devices the
    // system is built from, or a disk holding one; nothing when writing it is safe.
    std::optional<std::string> WhyRefused(dev_t device) const;
    // The same for an image file: refused when a loop device over it is the system's.
    std::optional<std::string> WhyRefusedImage(const std::string& file) const;

    // What could not be followed to devices ("/ is on zfs (rpool/ROOT)"); while any, every
    // device is refused.
    const std::vector<std::string>& Doubts() const { return doubts_; }
    // The devices found, each with the part of the system it holds ("/", "swap").
    const std::map<dev_t, std::string>& Devices() const { return devices_; }

private:
    class Resolver;
    struct SameDisk {
        std::string name; // the system's device with this WWID ("sda")
        std::string role;
        dev_t disk = 0;
    };
    std::map<dev_t, std::string> devices_;
    std::map<std::string, SameDisk> wwids_; // the WWIDs of the disks found
    std::vector<std::string> doubts_;
    std::string sysfs_;
};

// The loop devices whose backing file is file (the same file, however it is named), as
// their nodes (/dev/loop3).
std::vector<std::string> LoopDevicesOver(const std::string& file,
                                         const std::string& sysfs = "/sys");

// What holds a block device so that it cannot be opened exclusively, in words ("dm-0
// (vg0-home)", "md0"), from sysfs; its partitions' holders count for a disk. Empty when
// nothing in sysfs holds it.
std::vector<std::string> HoldersOf(dev_t device, const std::string& sysfs = "/sys");

} // namespace platform::linux_backend
