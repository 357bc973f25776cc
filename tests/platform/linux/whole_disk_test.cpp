// A whole loop device written as a disk: the kernel gives it to the wipe alone, never while a
// partition on it is mounted or held, whether the partition has a drive letter or not; and a
// map file that names only a partition offers that partition, not the disk around it.
#include "disk/disk_manager.h"
#include "disk/disk_test_support.h"
#include "disk/nt/nt_disk.h"
#include "loop_device.h"
#include "platform/linux/kernel32.h"
#include "platform/linux/system.h"
#include "platform/linux/volume.h"
#include "ui/scripted_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace purgelet {
namespace {

namespace fs = std::filesystem;
using platform::linux_backend::DriveMap;
using platform::linux_backend::DriveMapOptions;
using platform::linux_backend::LinuxKernel32;
using testing::ImageBytes;
using testing::kMiB;
using testing::LoopDevice;
using testing::Mounted;
using testing::Shell;

std::ptrdiff_t CountOf(const std::vector<char>& bytes, unsigned char value) {
    return std::count(bytes.begin(), bytes.end(), static_cast<char>(value));
}

class LinuxWholeDisk : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string reason = testing::LoopDevicesUnavailable();
        if (!reason.empty())
            GTEST_SKIP() << reason;
        disk = std::make_unique<LoopDevice>(folder / "a.img", 64, testing::kTwoPartitionTable);
        ASSERT_TRUE(disk->attached()) << "losetup could not attach the image";
        ASSERT_TRUE(fs::exists(disk->Partition(2))) << "the partition table was not read";
        Shell("mkfs.vfat -F 16 -n PURGETEST " + disk->Partition(1));
        Shell("mkfs.ext4 -q -L OTHERPART " + disk->Partition(2));
    }
    void TearDown() override {
        manager.reset();
        scope.reset(); // the back-end's handles before the devices they refer to
        disk.reset();
        fs::remove_all(folder);
    }
    // A fresh back-end that sees only what the map names, and the drives it offers.
    void Install(const std::string& map) {
        std::ofstream(folder / "drives.map") << map;
        manager.reset();
        scope.reset();
        drives = std::make_shared<DriveMap>(
            DriveMapOptions{(folder / "config").string(), (folder / "drives.map").string()});
        scope = std::make_unique<platform::ScopedSystem>(
            platform::linux_backend::CreateLinuxSystem(drives));
        manager = std::make_unique<TGUIDiskManager>(host);
        manager->Detect();
    }
    // The whole disk with D: (the second partition) taken from its volumes, as detection
    // makes it for a partition that got no letter.
    TPhysicalDisk& WholeWithoutLetterForPartition2() {
        Install("only\n" + disk->node() + "\n");
        EXPECT_EQ(manager->PhysicalDisks.Count(), 1);
        auto& whole = dynamic_cast<TPhysicalDisk&>(*manager->PhysicalDisks.Items(0));
        std::erase_if(whole.Volumes,
                      [](const TLogicalDisk* volume) { return volume->Name == "D"; });
        EXPECT_EQ(whole.Volumes.size(), 1u);
        return whole;
    }

    // Whether the disk numbered 0 opens for writing (closed again at once).
    static bool OpensDisk0() {
        auto& k = platform::k32();
        const HANDLE handle =
            k.CreateFileA("\\\\.\\PhysicalDrive0", GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            return false;
        k.CloseHandle(handle);
        return true;
    }

    fs::path folder = testing::ScratchFolder("whole");
    std::unique_ptr<LoopDevice> disk;
    std::shared_ptr<DriveMap> drives;
    std::unique_ptr<platform::ScopedSystem> scope;
    ui::ScriptedHost host;
    std::unique_ptr<TGUIDiskManager> manager;
};

// The partition without a letter is mounted: the disk is not written under it. Declined, the
// wipe stops with the partition still mounted and not a byte written; agreed, the partition
// is unmounted through the same question as a drive letter's and every byte is written.
TEST_F(LinuxWholeDisk, APartitionWithoutLetterIsDismountedThroughTheQuestionOrNothingIsWritten) {
    ASSERT_TRUE(disk->Mount(2, folder / "mnt"));
    TPhysicalDisk& whole = WholeWithoutLetterForPartition2();
    const auto before = ImageBytes(disk->image(), 0, 64 * kMiB);
    auto method = testing::MethodFromLines({"HEXA=$A5"});

    host.Answer(mrNo);
    EXPECT_THROW(whole.WipeDisk(method.get(), false, 0, 0, ""), Xlock);
    EXPECT_TRUE(Mounted(disk->Partition(2)));
    ASSERT_EQ(host.dialogs().size(), 1u);
    const std::string& asked = host.dialogs()[0].text;
    EXPECT_EQ(asked.rfind("Error_QueryForceDisMount\r\n", 0), 0u) << asked;
    EXPECT_NE(asked.find(disk->Partition(2) + " is mounted at"), std::string::npos) << asked;
    EXPECT_EQ(ImageBytes(disk->image(), 0, 64 * kMiB), before);
    // C:, locked for the disk, was let go: its own write open locks at once.
    {
        auto volume = MakeDisk<TNTLogicalDisk>("C", manager.get());
        EXPECT_NO_THROW(volume->Open(false));
        EXPECT_NO_THROW(volume->Close());
    }
    EXPECT_EQ(host.dialogs().size(), 1u);

    host.Answer(mrYes);
    whole.WipeDisk(method.get(), false, 0, 0, "");
    EXPECT_FALSE(Mounted(disk->Partition(2)));
    EXPECT_EQ(host.dialogs().size(), 2u);
    EXPECT_EQ(CountOf(ImageBytes(disk->image(), 0, 64 * kMiB), 0xA5), 64 * kMiB);
}

// Another program's exclusive open of the partition without a letter: no mount to take
// away, so the dismount fails saying what holds it, and nothing is written.
TEST_F(LinuxWholeDisk, APartitionWithoutLetterHeldByAnotherProgramKeepsTheDiskUnwritten) {
    TPhysicalDisk& whole = WholeWithoutLetterForPartition2();
    const int held = open(disk->Partition(2).c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
    ASSERT_GE(held, 0);
    const auto before = ImageBytes(disk->image(), 0, 64 * kMiB);
    auto method = testing::MethodFromLines({"HEXA=$A5"});
    host.AnswerRest(mrYes);
    try {
        whole.WipeDisk(method.get(), false, 0, 0, "");
        ADD_FAILURE() << "a disk was written while a partition on it is held";
    } catch (const XDisMount& error) {
        EXPECT_NE(error.ErrorText.find(disk->Partition(2) + " is held open by another program"),
                  std::string::npos)
            << error.ErrorText;
    }
    close(held);
    EXPECT_EQ(host.dialogs().size(), 1u);
    EXPECT_EQ(ImageBytes(disk->image(), 0, 64 * kMiB), before);
}

// While the disk is open for writing it is the wipe's alone: nobody mounts a partition of it
// meanwhile, lettered or not.
TEST_F(LinuxWholeDisk, WhileTheDiskIsOpenForWritingNoPartitionCanBeMounted) {
    TPhysicalDisk& whole = WholeWithoutLetterForPartition2();
    whole.Open(false);
    fs::create_directories(folder / "mnt");
    for (int number : {1, 2}) {
        int status = 0;
        Shell("mount " + disk->Partition(number) + " '" + (folder / "mnt").string() + "'", &status);
        EXPECT_NE(status, 0) << "partition " << number << " was mounted under the wipe";
        if (status == 0)
            Shell("umount '" + (folder / "mnt").string() + "'");
    }
    EXPECT_NO_THROW(whole.Close());
    // Released at the close: the volumes lock again, the disk opens again.
    auto volume = MakeDisk<TNTLogicalDisk>("C", manager.get());
    EXPECT_NO_THROW(volume->Open(false));
    EXPECT_NO_THROW(volume->Close());
    EXPECT_TRUE(host.dialogs().empty());
}

// A map file that lists only one partition offers that partition, never the whole disk:
// not in the list, not by its device name, and it says so among the devices left out.
TEST_F(LinuxWholeDisk, AMapFileNamingOnlyAPartitionDoesNotOfferTheWholeDisk) {
    Install("only\n" + disk->Partition(1) + "\n");
    EXPECT_EQ(manager->LogicalDisks.Count(), 1);
    EXPECT_EQ(manager->PhysicalDisks.Count(), 0);
    auto& k = static_cast<LinuxKernel32&>(platform::k32());
    EXPECT_FALSE(OpensDisk0());
    bool told = false;
    for (const auto& left : k.DevicesNotOffered())
        if (left.device == disk->node())
            told = left.reason.find("not the whole disk") != std::string::npos;
    EXPECT_TRUE(told);

    // Named itself, the disk is offered with its partitions.
    Install("only\n" + disk->node() + "\n");
    EXPECT_EQ(manager->LogicalDisks.Count(), 2);
    EXPECT_EQ(manager->PhysicalDisks.Count(), 1);
    // With no "only" line, every disk of the machine is offered as before.
    Install(disk->node() + "\n");
    EXPECT_GE(manager->PhysicalDisks.Count(), 1);
}

// A disk without a partition table is its own only volume: the whole disk's wipe locks that
// volume (the disk's own node) and is then given the disk all the same, and every byte is
// written; the kernel refuses the volume to another program meanwhile.
TEST_F(LinuxWholeDisk, ADiskWithoutPartitionTableIsWipedAsAWholeThroughItsOwnVolumeLock) {
    LoopDevice bare(folder / "bare.img", 8, "");
    ASSERT_TRUE(bare.attached());
    Install("only\n" + bare.node() + "\n");
    ASSERT_EQ(manager->LogicalDisks.Count(), 1);
    ASSERT_EQ(manager->PhysicalDisks.Count(), 1);
    auto& whole = dynamic_cast<TPhysicalDisk&>(*manager->PhysicalDisks.Items(0));
    ASSERT_EQ(whole.Volumes.size(), 1u);
    auto method = testing::MethodFromLines({"HEXA=$A5"});
    whole.Open(false);
    const int other = open(bare.node().c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
    EXPECT_LT(other, 0) << "another program was given the disk under the wipe";
    if (other >= 0)
        close(other);
    EXPECT_NO_THROW(whole.Close());
    whole.WipeDisk(method.get(), false, 0, 0, "");
    EXPECT_TRUE(host.dialogs().empty()) << host.dialogs()[0].text;
    EXPECT_EQ(CountOf(ImageBytes(bare.image(), 0, 8 * kMiB), 0xA5), 8 * kMiB);
}

// A "never" line keeps the whole disk of the device it names out of the list (a boot stick, a
// records stick): named by one partition, the disk, that partition and its sibling all go,
// each told with the reason, and the disk cannot be opened by its number.
TEST_F(LinuxWholeDisk, ANeverLineKeepsTheWholeDiskOfItsDeviceOutOfTheList) {
    Install("only\n" + disk->node() + "\nnever " + disk->Partition(2) + "\n");
    EXPECT_EQ(manager->LogicalDisks.Count(), 0);
    EXPECT_EQ(manager->PhysicalDisks.Count(), 0);
    auto& k = static_cast<LinuxKernel32&>(platform::k32());
    EXPECT_FALSE(OpensDisk0());
    int told = 0;
    for (const auto& left : k.DevicesNotOffered())
        if (left.reason.find("keeps " + disk->Partition(2) + " from being wiped") !=
            std::string::npos)
            ++told;
    EXPECT_EQ(told, 2); // both partitions, each with the reason

    // Without the line the same map offers the disk and both partitions.
    Install("only\n" + disk->node() + "\n");
    EXPECT_EQ(manager->LogicalDisks.Count(), 2);
    EXPECT_EQ(manager->PhysicalDisks.Count(), 1);
}

} // namespace
} // namespace purgelet
