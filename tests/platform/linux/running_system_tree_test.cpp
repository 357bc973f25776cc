// The running system's devices found from mount tables, sysfs and fstab written by the test:
// the cases a test machine cannot set up for real (a chroot over the host's disk, an automount
// point nobody used yet, a program served by FUSE from an image file, zram writing back to a
// disk, one disk on two paths).
#include "loop_device.h"
#include "platform/linux/running_system.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <sys/sysmacros.h>

namespace purgelet {
namespace {

namespace fs = std::filesystem;
using platform::linux_backend::RunningSystem;
using platform::linux_backend::RunningSystemSources;

// A sysfs of block devices: block/<disk>[/<partition>] with dev, partition, wwid, and the
// dev/block and class/block links the kernel makes.
class FakeSysfs {
public:
    explicit FakeSysfs(fs::path root) : root_(std::move(root)) {
        fs::create_directories(root_ / "dev" / "block");
        fs::create_directories(root_ / "class" / "block");
    }
    const fs::path& root() const { return root_; }

    dev_t Disk(const std::string& name, unsigned major, unsigned minor,
               const std::string& wwid = "") {
        const fs::path dir = root_ / "block" / name;
        if (!wwid.empty()) {
            fs::create_directories(dir / "device");
            std::ofstream(dir / "device" / "wwid") << wwid << "\n";
        }
        return Add(dir, major, minor);
    }
    dev_t Partition(const std::string& disk, int number, unsigned major, unsigned minor) {
        const fs::path dir = root_ / "block" / disk / (disk + std::to_string(number));
        fs::create_directories(dir);
        std::ofstream(dir / "partition") << number << "\n";
        return Add(dir, major, minor);
    }
    void Write(const std::string& name, const std::string& file, const std::string& text) {
        std::ofstream(root_ / "class" / "block" / name / file) << text << "\n";
    }

private:
    dev_t Add(const fs::path& dir, unsigned major, unsigned minor) {
        fs::create_directories(dir);
        const std::string number = std::to_string(major) + ":" + std::to_string(minor);
        std::ofstream(dir / "dev") << number << "\n";
        fs::create_directory_symlink(dir, root_ / "dev" / "block" / number);
        fs::create_directory_symlink(dir, root_ / "class" / "block" / dir.filename());
        return makedev(major, minor);
    }
    fs::path root_;
};

class RunningSystemTree : public ::testing::Test {
protected:
    RunningSystemTree() {
        sources.mountInfo = (folder / "mountinfo").string();
        sources.hostMountInfo = "";
        sources.hostRoot = "";
        sources.fstab = (folder / "fstab").string();
        sources.dev = (folder / "devfs").string();
        sources.sysfs = sysfs.root().string();
        sources.paths = {root.string()};
        sources.executable = "";
        sources.swaps = "";
        fs::create_directories(root);
        std::ofstream(folder / "fstab") << "";
    }
    ~RunningSystemTree() override { fs::remove_all(folder); }

    // A mountinfo line: a mount of device major:minor at target.
    static std::string Line(int id, const std::string& devno, const fs::path& target,
                            const std::string& type, const std::string& source) {
        return std::to_string(id) + " 1 " + devno + " / " + target.string() + " rw,relatime - " +
               type + " " + source + " rw\n";
    }
    std::string Verdict(const RunningSystem& system, dev_t device) {
        return system.WhyRefused(device).value_or("-");
    }

    fs::path folder = fs::canonical(testing::ScratchFolder("tree"));
    fs::path root = folder / "root"; // where the fake tables mount the system's /
    FakeSysfs sysfs{folder / "sys"};
    RunningSystemSources sources;
};

// In a chroot (or a mount namespace of its own) this program's / is a folder on something
// else; process 1's table tells the host's / lies on sda1, so sda is the running system's.
TEST_F(RunningSystemTree, AChrootDoesNotHideTheHostsRootDisk) {
    const dev_t sda = sysfs.Disk("sda", 8, 0);
    const dev_t sda1 = sysfs.Partition("sda", 1, 8, 1);
    const dev_t sdb = sysfs.Disk("sdb", 8, 16);
    // What this program sees: its / (the chroot) on a file system of no device.
    std::ofstream(folder / "mountinfo") << Line(20, "0:30", "/", "tmpfs", "tmpfs");
    std::ofstream(folder / "host-mountinfo")
        << Line(1, "8:1", "/", "ext4", "/dev/sda1") << Line(2, "0:31", "/tmp", "tmpfs", "tmpfs");
    sources.hostMountInfo = (folder / "host-mountinfo").string();
    sources.paths = {"/", "/usr"};

    const RunningSystem system = RunningSystem::Scan(sources);
    EXPECT_TRUE(system.Doubts().empty());
    EXPECT_EQ(Verdict(system, sda1), "holds the running system (the host's /)");
    EXPECT_EQ(Verdict(system, sda), "holds the running system (the host's /)");
    EXPECT_EQ(Verdict(system, sdb), "-");
}

// /boot is an automount point nobody used since the start: its partition is the one fstab
// mounts there, found by its UUID; an automount point fstab does not name holds nothing.
TEST_F(RunningSystemTree, AnAutomountPointNotMountedYetIsFollowedThroughFstab) {
    sysfs.Disk("sda", 8, 0);
    sysfs.Partition("sda", 1, 8, 1);
    const dev_t sdb = sysfs.Disk("sdb", 8, 16);
    const dev_t sdb1 = sysfs.Partition("sdb", 1, 8, 17);
    const dev_t sdc = sysfs.Disk("sdc", 8, 32);
    const fs::path boot = root / "boot", data = root / "data";
    fs::create_directories(boot);
    fs::create_directories(data);
    std::ofstream(folder / "mountinfo") << Line(20, "8:1", root, "ext4", "/dev/sda1")
                                        << Line(21, "0:40", boot, "autofs", "systemd-1")
                                        << Line(22, "0:41", data, "autofs", "systemd-1");
    fs::create_directories(folder / "devfs" / "disk" / "by-uuid");
    fs::create_symlink("../../sdb1", folder / "devfs" / "disk" / "by-uuid" / "5E1F-0A2B");
    std::ofstream(folder / "fstab")
        << "UUID=5E1F-0A2B " << boot.string() << " vfat noauto,x-systemd.automount 0 2\n";
    sources.paths = {root.string(), boot.string(), data.string()};

    const RunningSystem system = RunningSystem::Scan(sources);
    EXPECT_TRUE(system.Doubts().empty()) << system.Doubts().front();
    EXPECT_EQ(Verdict(system, sdb1), "holds the running system (" + boot.string() + ")");
    EXPECT_EQ(Verdict(system, sdb), "holds the running system (" + boot.string() + ")");
    EXPECT_EQ(Verdict(system, sdc), "-");
}

// The program runs from a FUSE mount of an image file (an AppImage): the image lies on sdc1,
// which is followed; a FUSE file system that serves no file here stays a doubt.
TEST_F(RunningSystemTree, AProgramOnAFuseMountOfAnImageIsFollowedToTheImagesDevice) {
    sysfs.Disk("sda", 8, 0);
    sysfs.Partition("sda", 1, 8, 1);
    const dev_t sdc = sysfs.Disk("sdc", 8, 32);
    const dev_t sdc1 = sysfs.Partition("sdc", 1, 8, 33);
    const dev_t sdd = sysfs.Disk("sdd", 8, 48);
    const fs::path media = folder / "media", app = folder / "app";
    fs::create_directories(media);
    fs::create_directories(app);
    std::ofstream(media / "Purgelet.AppImage") << "image";
    std::ofstream(app / "purgelet") << "program";
    const std::string table =
        Line(20, "8:1", root, "ext4", "/dev/sda1") + Line(21, "8:33", media, "ext4", "/dev/sdc1");
    std::ofstream(folder / "mountinfo")
        << table
        << Line(22, "0:50", app, "fuse.squashfuse", (media / "Purgelet.AppImage").string());
    sources.executable = (app / "purgelet").string();

    const RunningSystem system = RunningSystem::Scan(sources);
    EXPECT_TRUE(system.Doubts().empty()) << system.Doubts().front();
    EXPECT_EQ(Verdict(system, sdc1), "holds the running system (the running program)");
    EXPECT_EQ(Verdict(system, sdc), "holds the running system (the running program)");
    EXPECT_EQ(Verdict(system, sdd), "-");

    std::ofstream(folder / "mountinfo") << table << Line(22, "0:50", app, "fuse.rclone", "remote:");
    const RunningSystem remote = RunningSystem::Scan(sources);
    ASSERT_EQ(remote.Doubts().size(), 1u);
    EXPECT_NE(Verdict(remote, sdd), "-");
}

// zram writes back what memory cannot keep to its backing device: that device is the
// system's as much as the swap on zram is.
TEST_F(RunningSystemTree, ZramIsFollowedToItsBackingDevice) {
    const dev_t zram = sysfs.Disk("zram0", 252, 0);
    const dev_t sde = sysfs.Disk("sde", 8, 64);
    const dev_t sdf = sysfs.Disk("sdf", 8, 80);
    sysfs.Write("zram0", "backing_dev", (folder / "devfs" / "sde").string());
    std::ofstream(folder / "mountinfo") << Line(20, "0:30", root, "tmpfs", "tmpfs");
    sources.devices = {zram};

    const RunningSystem system = RunningSystem::Scan(sources);
    EXPECT_TRUE(system.Doubts().empty()) << system.Doubts().front();
    EXPECT_EQ(Verdict(system, sde), "holds the running system (the system)");
    EXPECT_EQ(Verdict(system, sdf), "-");
}

// One disk on two paths without device-mapper to join them: sda and sdb tell the same WWID.
// sdb as a whole is the system's disk, and its partition 1 is the system's partition; its
// partition 2, like sda2, may be wiped; a disk of another WWID is not touched.
TEST_F(RunningSystemTree, OneDiskOnTwoPathsIsKnownByItsWwid) {
    const std::string wwid = "naa.5000c500a1b2c3d4";
    sysfs.Disk("sda", 8, 0, wwid);
    sysfs.Partition("sda", 1, 8, 1);
    const dev_t sda2 = sysfs.Partition("sda", 2, 8, 2);
    const dev_t sdb = sysfs.Disk("sdb", 8, 16, wwid);
    const dev_t sdb1 = sysfs.Partition("sdb", 1, 8, 17);
    const dev_t sdb2 = sysfs.Partition("sdb", 2, 8, 18);
    const dev_t sdc = sysfs.Disk("sdc", 8, 32, "naa.5000c500ffffffff");
    std::ofstream(folder / "mountinfo") << Line(20, "8:1", root, "ext4", "/dev/sda1");

    const RunningSystem system = RunningSystem::Scan(sources);
    EXPECT_TRUE(system.Doubts().empty());
    const std::string role = root.string();
    EXPECT_EQ(Verdict(system, sdb),
              "is the same disk as sda, which holds the running system (" + role + ")");
    EXPECT_EQ(Verdict(system, sdb1), "is the same disk as sda, whose partition 1 holds the "
                                     "running system (" +
                                         role + ")");
    EXPECT_EQ(Verdict(system, sdb2), "-");
    EXPECT_EQ(Verdict(system, sda2), "-");
    EXPECT_EQ(Verdict(system, sdc), "-");
}

} // namespace
} // namespace purgelet
