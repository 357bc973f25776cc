// The Linux back-end on real block devices: loop devices with real partition tables and file
// systems, named to the back-end through the test's own map file, driven through the
// program's NT disk classes exactly as on Windows.
#include "disk/disk_manager.h"
#include "disk/disk_test_support.h"
#include "disk/nt/nt_disk.h"
#include "loop_device.h"
#include "platform/linux/kernel32.h"
#include "platform/linux/system.h"
#include "platform/linux/volume.h"
#include "support/recording_owner.h"
#include "ui/scripted_host.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <sys/stat.h>
#include <sys/wait.h>

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

class LinuxDrives : public ::testing::Test {
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
        Install("only\n" + disk->node() + "\n");
    }
    void TearDown() override {
        scope.reset(); // the back-end's handles before the devices they refer to
        disk.reset();
        fs::remove_all(folder);
    }
    // A fresh back-end (as a new run of the program) that sees only what the map names.
    void Install(const std::string& map) {
        std::ofstream(folder / "drives.map") << map;
        scope.reset();
        drives = std::make_shared<DriveMap>(
            DriveMapOptions{(folder / "config").string(), (folder / "drives.map").string()});
        scope = std::make_unique<platform::ScopedSystem>(
            platform::linux_backend::CreateLinuxSystem(drives));
    }
    std::string DosDevice(const char* letter) {
        char target[256] = {};
        return platform::k32().QueryDosDeviceA(letter, target, sizeof target) ? target : "";
    }

    fs::path folder = testing::ScratchFolder("linux");
    std::unique_ptr<LoopDevice> disk;
    std::shared_ptr<DriveMap> drives;
    std::unique_ptr<platform::ScopedSystem> scope;
    testing::RecordingOwner owner;
};

TEST_F(LinuxDrives, DetectionShowsLettersOwnersSizesLabelsAndFileSystems) {
    TDiskManager manager;
    manager.Detect();
    ASSERT_EQ(manager.LogicalDisks.Count(), 2);
    ASSERT_EQ(manager.PhysicalDisks.Count(), 1);
    auto* first = static_cast<TLogicalDisk*>(manager.LogicalDisks.Items(0));
    auto* second = static_cast<TLogicalDisk*>(manager.LogicalDisks.Items(1));
    TDisk* whole = manager.PhysicalDisks.Items(0);
    EXPECT_EQ(first->Description, "PURGETEST (C:) " + disk->Partition(1));
    EXPECT_EQ(first->FileSystem, "FAT16");
    EXPECT_EQ(first->Size, 24 * kMiB);
    EXPECT_EQ(first->StartingOffset, 1 * kMiB);
    EXPECT_EQ(first->BlockSize, 512);
    EXPECT_EQ(first->DriveType, 1);
    EXPECT_EQ(second->Description, "OTHERPART (D:) " + disk->Partition(2));
    EXPECT_EQ(second->FileSystem, "ext4");
    EXPECT_EQ(second->StartingOffset, 25 * kMiB);
    EXPECT_EQ(whole->Description, "Loop device (" + disk->image().string() + ")");
    EXPECT_EQ(whole->Size, 64 * kMiB);
    EXPECT_EQ(first->OwnerDisk, whole);
    EXPECT_EQ(second->OwnerDisk, whole);
    EXPECT_EQ(DosDevice("C:"), disk->Partition(1));
    EXPECT_EQ(DosDevice("E:"), "");
}

// The loop device tells the program it is one, and over which file; its partitions are the
// same device at their own number and offset.
TEST_F(LinuxDrives, TheLoopDeviceAndItsPartitionsNameTheirFileAndTheirPlace) {
    TDiskManager manager;
    manager.Detect();
    ASSERT_EQ(manager.PhysicalDisks.Count(), 1);
    const TDisk& whole = *manager.PhysicalDisks.Items(0);
    const std::string model = "Loop device (" + disk->image().string() + ")";
    EXPECT_EQ(whole.Identity.Model, model);
    EXPECT_EQ(whole.Identity.Bus, "loop");
    EXPECT_EQ(whole.Identity.Serial, "");
    for (int i = 0; i < 2; ++i) {
        const TDisk& partition = *manager.LogicalDisks.Items(i);
        SCOPED_TRACE(partition.Name);
        EXPECT_EQ(partition.Identity.Model, model);
        EXPECT_EQ(partition.Identity.Bus, "loop");
        EXPECT_EQ(partition.PartitionNumber, i + 1);
        EXPECT_EQ(partition.StartingOffset, (i == 0 ? 1 : 25) * kMiB);
    }
}

TEST_F(LinuxDrives, TheLockIsRefusedWhileMountedAndTheForcedDismountUnmounts) {
    // The ext4 partition: every kernel that runs these tests mounts it.
    ASSERT_TRUE(disk->Mount(2, folder / "mnt"));
    auto volume = MakeDisk<TNTLogicalDisk>("D", &owner);

    owner.answers = {mrNo};
    EXPECT_THROW(volume->Open(false), Xlock);
    EXPECT_TRUE(Mounted(disk->Partition(2)));

    {
        // A file held open keeps the volume busy: the dismount fails and says so.
        std::ofstream held(folder / "mnt" / "held.txt");
        owner.answers = {mrYes};
        EXPECT_THROW(volume->Open(false), XDisMount);
        EXPECT_TRUE(Mounted(disk->Partition(2)));
    }

    owner.answers = {mrYes};
    ASSERT_NO_THROW(volume->Open(false));
    EXPECT_FALSE(Mounted(disk->Partition(2)));
    EXPECT_NO_THROW(volume->Close());
    ASSERT_EQ(owner.questions.size(), 3u);
    EXPECT_EQ(owner.questions[0].kind, mkQueryForceDisMount);
}

TEST_F(LinuxDrives, WipingOnePartitionLeavesTheTableAndTheOtherPartitionByteIdentical) {
    const auto table = ImageBytes(disk->image(), 0, 1 * kMiB);
    const auto other = ImageBytes(disk->image(), 25 * kMiB, 24 * kMiB);
    auto volume = MakeDisk<TNTLogicalDisk>("C", &owner);
    TOpenMode unbuffered; // O_DIRECT, from an aligned buffer
    unbuffered.Unbuffered = true;
    volume->OpenForWipe(unbuffered);
    constexpr std::int32_t kBlocks = 128;
    void* raw = nullptr;
    ASSERT_EQ(posix_memalign(&raw, 4096, kBlocks * 512), 0);
    std::unique_ptr<void, decltype(&std::free)> buffer(raw, &std::free);
    std::memset(buffer.get(), 0xA5, kBlocks * 512);
    for (std::int64_t block = 0; block < volume->BlockCount; block += kBlocks)
        volume->WriteBlocks(buffer.get(), kBlocks, block);
    volume->Close(); // flushes: what follows reads the image file itself

    EXPECT_EQ(ImageBytes(disk->image(), 0, 1 * kMiB), table);
    EXPECT_EQ(ImageBytes(disk->image(), 25 * kMiB, 24 * kMiB), other);
    const auto wiped = ImageBytes(disk->image(), 1 * kMiB, 24 * kMiB);
    EXPECT_EQ(std::count(wiped.begin(), wiped.end(), static_cast<char>(0xA5)),
              static_cast<std::ptrdiff_t>(wiped.size()));
}

// The whole loop device wiped as the drive page's whole-disk row wipes it: both partitions
// locked first, the mounted one unmounted through the dismount question, then every byte of
// the device written, partition table included, and the partitions released at the end.
TEST_F(LinuxDrives, AWholeDiskWipeUnmountsItsPartitionsThroughTheQuestionAndWritesEveryByte) {
    ASSERT_TRUE(disk->Mount(2, folder / "mnt"));
    ui::ScriptedHost host;
    TGUIDiskManager manager(host);
    manager.Detect();
    ASSERT_EQ(manager.PhysicalDisks.Count(), 1);
    auto& whole = dynamic_cast<TPhysicalDisk&>(*manager.PhysicalDisks.Items(0));
    ASSERT_EQ(whole.Volumes.size(), 2u);
    EXPECT_EQ(whole.NotWipeable, "");
    host.Answer(mrYes);
    auto method = testing::MethodFromLines({"HEXA=$A5"});
    whole.WipeDisk(method.get(), false, 0, 0, "");
    EXPECT_FALSE(Mounted(disk->Partition(2)));
    ASSERT_EQ(host.dialogs().size(), 1u);
    EXPECT_EQ(host.dialogs()[0].text.rfind("Error_QueryForceDisMount\r\n", 0), 0u);
    const auto bytes = ImageBytes(disk->image(), 0, 64 * kMiB);
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), static_cast<char>(0xA5)),
              static_cast<std::ptrdiff_t>(bytes.size()));
    // The partitions are free again: a drive letter's write open locks at once.
    auto volume = MakeDisk<TNTLogicalDisk>("C", &owner);
    EXPECT_NO_THROW(volume->Open(false));
    EXPECT_NO_THROW(volume->Close());
    EXPECT_TRUE(owner.questions.empty());
}

TEST_F(LinuxDrives, FormatBringsBackTheFormerFileSystemAndLabel) {
    for (const char* letter : {"C", "D"}) {
        auto volume = MakeDisk<TNTLogicalDisk>(letter, &owner);
        const std::string label = letter[0] == 'C' ? "PURGETEST" : "OTHERPART";
        const std::string fileSystem = volume->FileSystem;
        volume->Open(false);
        std::vector<char> zeros(64 * 1024, 0);
        volume->WriteBlocks(zeros.data(), 128, 0);
        volume->WriteBlocks(zeros.data(), 128, 128);
        volume->Close();
        char name[64] = {}, fs[64] = {};
        EXPECT_FALSE(platform::k32().GetVolumeInformationA(
            (std::string(letter) + ":\\").c_str(), name, 64, nullptr, nullptr, nullptr, fs, 64));

        testing::FormatAlone(*volume, TFormatParams{0, 0, label});
        ASSERT_TRUE(platform::k32().GetVolumeInformationA(
            (std::string(letter) + ":\\").c_str(), name, 64, nullptr, nullptr, nullptr, fs, 64));
        EXPECT_EQ(std::string(name), label);
        EXPECT_EQ(std::string(fs), fileSystem);
    }
    ASSERT_FALSE(owner.progress.empty());
    EXPECT_DOUBLE_EQ(owner.progress.back(), 1.0);
}

// Labels are UTF-8 on Linux and Windows-1252 in the program: read, shown and formatted back
// without a character lost.
TEST_F(LinuxDrives, AUtf8LabelIsTheProgramsWindows1252AndComesBackAfterTheFormat) {
    Shell("e2label " + disk->Partition(2) +
          " 'DONN\xC3\x89"
          "ES'"); // "DONNÉES" in UTF-8
    TDiskManager manager;
    manager.Detect();
    ASSERT_EQ(manager.LogicalDisks.Count(), 2);
    auto* volume = static_cast<TNTLogicalDisk*>(manager.LogicalDisks.Items(1));
    EXPECT_EQ(volume->Description, "DONN\xC9"
                                   "ES (D:) " +
                                       disk->Partition(2));
    volume->Open(false);
    volume->Close();
    testing::FormatAlone(*volume, TFormatParams{0, 0,
                                                "DONN\xC9"
                                                "ES"});
    EXPECT_EQ(Shell("blkid -s LABEL -o value " + disk->Partition(2)), "DONN\xC3\x89"
                                                                      "ES");
    char name[64] = {};
    ASSERT_TRUE(platform::k32().GetVolumeInformationA("D:\\", name, 64, nullptr, nullptr, nullptr,
                                                      nullptr, 0));
    EXPECT_EQ(std::string(name), "DONN\xC9"
                                 "ES");
}

// The callback's refusal ends the mkfs child; the format then fails, saying so.
TEST_F(LinuxDrives, ACancelledFormatEndsTheFormatProgram) {
    static int calls = 0;
    static BOOLEAN done = TRUE;
    calls = 0;
    auto callback = [](DWORD command, DWORD, LPVOID info) -> BOOLEAN {
        if (command == platform::FMIFS_DONE) {
            done = *static_cast<BOOLEAN*>(info);
            return TRUE;
        }
        ++calls;
        return FALSE;
    };
    const std::basic_string<WCHAR> root = {'C', ':'}, fileSystem = {'F', 'A', 'T', '1', '6'},
                                   label = {'X'};
    platform::sys().fmifs->FormatEx(root.c_str(), FMIFS_HARDDISK, fileSystem.c_str(), label.c_str(),
                                    FALSE, 0, callback);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(done);
    EXPECT_NE(platform::k32().SysErrorMessage(platform::k32().GetLastError()).find("cancelled"),
              std::string::npos);
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1); // no child left behind
}

TEST_F(LinuxDrives, AFileSystemWithoutFormatProgramIsAClearFormatFailure) {
    auto volume = MakeDisk<TNTLogicalDisk>("C", &owner);
    volume->Open(false);
    volume->Close();
    volume->FileSystem = "hpfs";
    owner.answers = {mrNo}; // no shell format instead
    try {
        testing::FormatAlone(*volume, TFormatParams{0, 0, "X"});
        FAIL() << "formatted a file system it has no program for";
    } catch (const XFormatError& error) {
        EXPECT_NE(std::string(error.what())
                      .find("No format program is known for the file "
                            "system \"hpfs\""),
                  std::string::npos)
            << error.what();
    }
}

TEST_F(LinuxDrives, ALetterStaysWithItsDeviceAcrossDetections) {
    // The first run pins the second partition to F:; later runs keep it there unpinned.
    Install("only\n" + disk->node() + "\nF: " + disk->Partition(2) + "\n");
    EXPECT_EQ(platform::k32().GetLogicalDrives(), (1u << 2) | (1u << 5));
    EXPECT_EQ(DosDevice("F:"), disk->Partition(2));

    LoopDevice another(folder / "b.img", 8, "");
    ASSERT_TRUE(another.attached());
    Shell("mkfs.vfat " + another.node());
    Install("only\n" + another.node() + "\n" + disk->node() + "\n");
    EXPECT_EQ(platform::k32().GetLogicalDrives(), (1u << 2) | (1u << 3) | (1u << 5));
    EXPECT_EQ(DosDevice("C:"), disk->Partition(1));
    EXPECT_EQ(DosDevice("D:"), another.node());
    EXPECT_EQ(DosDevice("F:"), disk->Partition(2));
    scope.reset(); // before the device it may hold open
}

TEST_F(LinuxDrives, AVolumeHeldByAnotherProgramFailsTheDismountSayingSoAndIsAskedOnce) {
    // Another program's exclusive open: no mount to take away, so the dismount cannot free it.
    const int held = open(disk->Partition(1).c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
    ASSERT_GE(held, 0);
    auto volume = MakeDisk<TNTLogicalDisk>("C", &owner);
    owner.answers = {mrYes, mrYes, mrYes};
    try {
        volume->Open(false);
        FAIL() << "a held volume was opened for the wipe";
    } catch (const XDisMount& error) {
        EXPECT_NE(error.ErrorText.find("held open by another program"), std::string::npos)
            << error.ErrorText;
        EXPECT_NE(error.ErrorText.find(disk->Partition(1)), std::string::npos) << error.ErrorText;
    }
    close(held);
    EXPECT_EQ(owner.questions.size(), 1u); // the question does not come back
    owner.answers = {};
    EXPECT_NO_THROW(volume->Open(false)); // released: locked without a question
    EXPECT_NO_THROW(volume->Close());
}

// An image file named in the map file whose file system is mounted through a loop device.
class MountedImage : public LinuxDrives {
protected:
    void SetUp() override {
        LinuxDrives::SetUp();
        if (IsSkipped())
            return;
        image = std::make_unique<LoopDevice>(folder / "image.img", 8, "");
        ASSERT_TRUE(image->attached());
        Shell("mkfs.ext4 -q " + image->node());
        Install("only\nG: " + image->image().string() + "\n");
        mountPoint = folder / "image-mount";
        fs::create_directories(mountPoint);
        int status = 0;
        Shell("mount " + image->node() + " '" + mountPoint.string() + "'", &status);
        ASSERT_EQ(status, 0);
    }
    void TearDown() override {
        Shell("umount '" + mountPoint.string() + "'");
        scope.reset();
        image.reset();
        LinuxDrives::TearDown();
    }

    std::unique_ptr<LoopDevice> image;
    fs::path mountPoint;
};

TEST_F(MountedImage, IsInUseAndTheForcedDismountUnmountsTheLoopDeviceOverIt) {
    auto volume = MakeDisk<TNTLogicalDisk>("G", &owner);
    owner.answers = {mrNo};
    EXPECT_THROW(volume->Open(false), Xlock);
    EXPECT_TRUE(Mounted(image->node()));
    ASSERT_EQ(owner.questions.size(), 1u);
    EXPECT_EQ(owner.questions[0].kind, mkQueryForceDisMount);

    {
        std::ofstream busy(mountPoint / "busy.txt"); // a file open on it: the unmount fails
        owner.answers = {mrYes};
        try {
            volume->Open(false);
            FAIL() << "an image was opened under a busy mount";
        } catch (const XDisMount& error) {
            EXPECT_NE(error.ErrorText.find("busy"), std::string::npos) << error.ErrorText;
        }
        EXPECT_TRUE(Mounted(image->node()));
    }

    owner.answers = {mrYes};
    ASSERT_NO_THROW(volume->Open(false));
    EXPECT_FALSE(Mounted(image->node()));
    EXPECT_NO_THROW(volume->Close());
}

TEST_F(MountedImage, ALoopDeviceHeldOverTheImageKeepsTheLockRefused) {
    Shell("umount '" + mountPoint.string() + "'");
    const int held = open(image->node().c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
    ASSERT_GE(held, 0);
    auto volume = MakeDisk<TNTLogicalDisk>("G", &owner);
    owner.answers = {mrYes, mrYes};
    try {
        volume->Open(false);
        FAIL() << "an image was opened while a loop device over it is held";
    } catch (const XDisMount& error) {
        EXPECT_NE(error.ErrorText.find(image->node() + " is held open by another program"),
                  std::string::npos)
            << error.ErrorText;
    }
    EXPECT_EQ(owner.questions.size(), 1u);
    close(held);
}

TEST_F(LinuxDrives, APinMovesTheDevicesOneLetterAndNoOtherDeviceGetsTheOldOneWhileItIsHere) {
    Install("only\n" + disk->node() + "\nF: " + disk->Partition(2) + "\n");
    EXPECT_EQ(DosDevice("F:"), disk->Partition(2));
    Install("only\n" + disk->node() + "\nG: " + disk->Partition(2) + "\n");
    EXPECT_EQ(DosDevice("G:"), disk->Partition(2));
    EXPECT_EQ(DosDevice("F:"), "");

    LoopDevice another(folder / "b.img", 8, "");
    ASSERT_TRUE(another.attached());
    Install("only\n" + disk->node() + "\n" + another.node() + "\n");
    EXPECT_EQ(DosDevice("C:"), disk->Partition(1));
    EXPECT_EQ(DosDevice("G:"), disk->Partition(2)); // unpinned: its one kept letter
    EXPECT_EQ(DosDevice("D:"), another.node());
    EXPECT_EQ(DosDevice("F:"), ""); // released by the move, given to nobody yet
    scope.reset();                  // before the device it may hold open
}

TEST_F(LinuxDrives, TheTestsOwnLoopDeviceMayBeWrittenTheSystemsDeviceNever) {
    auto& k = static_cast<LinuxKernel32&>(platform::k32());
    struct stat st {};
    ASSERT_EQ(stat(disk->Partition(1).c_str(), &st), 0);
    EXPECT_TRUE(k.MayWrite(st.st_rdev));
    ASSERT_EQ(stat("/", &st), 0);
    EXPECT_FALSE(k.MayWrite(st.st_dev));
}

} // namespace
} // namespace purgelet
