// The Linux back-end without root: image files named by the map file are drives with the
// Windows calls' answers, and the decision that keeps the running system safe, on a sysfs
// tree written for the test.
#include "disk/disk_classes.h"
#include "disk/disk_manager.h"
#include "loop_device.h"
#include "optical/optical_devices.h"
#include "platform/linux/drive_map.h"
#include "platform/linux/kernel32.h"
#include "platform/linux/system.h"
#include "platform/registry.h"
#include "support/test_part.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace platform::linux_backend;

class ImageDrives : public ::testing::Test {
protected:
    void SetUp() override {
        std::ofstream(folder / "stick.img", std::ios::binary)
            << std::string(2 * 1024 * 1024, '\x5A');
        Install("only\nG: " + (folder / "stick.img").string() + "\n" +
                (folder / "absent.img").string() + "\n");
    }
    void TearDown() override {
        system.reset();
        fs::remove_all(folder);
    }
    void Install(const std::string& map) {
        std::ofstream(folder / "drives.map") << map;
        system = CreateLinuxSystem(std::make_shared<DriveMap>(
            DriveMapOptions{(folder / "config").string(), (folder / "drives.map").string()}));
    }
    HANDLE Open(DWORD access) {
        return system->kernel32->CreateFileA("\\\\.\\G:", access,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, nullptr);
    }
    template <class T> bool Query(HANDLE handle, DWORD code, T* out) {
        DWORD returned = 0;
        return system->kernel32->DeviceIoControl(handle, code, nullptr, 0, out, sizeof(T),
                                                 &returned, nullptr) != FALSE;
    }

    fs::path folder = purgelet::testing::ScratchFolder("images");
    std::unique_ptr<platform::System> system;
};

TEST_F(ImageDrives, AnImageFileIsADriveWithItsSizeAndADiskOfItsOwn) {
    auto& k = *system->kernel32;
    EXPECT_EQ(k.GetLogicalDrives(), 1u << ('G' - 'A')); // the absent image is no drive
    EXPECT_EQ(k.GetDriveTypeA("G:\\"), static_cast<UINT>(DRIVE_FIXED));
    EXPECT_EQ(k.GetDriveTypeA("H:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
    char target[512] = {};
    EXPECT_EQ(k.QueryDosDeviceA("G:", target, sizeof target),
              (folder / "stick.img").string().size() + 2);
    EXPECT_EQ(std::string(target), (folder / "stick.img").string());

    HANDLE handle = Open(GENERIC_READ);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    DISK_GEOMETRY geometry{};
    ASSERT_TRUE(Query(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY, &geometry));
    EXPECT_EQ(geometry.BytesPerSector, 512u);
    EXPECT_EQ(geometry.Cylinders.QuadPart * geometry.TracksPerCylinder * geometry.SectorsPerTrack *
                  512,
              2 * 1024 * 1024); // never short of the drive
    PARTITION_INFORMATION partition{};
    ASSERT_TRUE(Query(handle, IOCTL_DISK_GET_PARTITION_INFO, &partition));
    EXPECT_EQ(partition.PartitionLength.QuadPart, 2 * 1024 * 1024);
    STORAGE_DEVICE_NUMBER number{};
    ASSERT_TRUE(Query(handle, IOCTL_STORAGE_GET_DEVICE_NUMBER, &number));
    EXPECT_EQ(number.DeviceNumber, 0u);
    EXPECT_TRUE(k.CloseHandle(handle));

    // Nothing to tell about a volume without a file system.
    char label[64], fileSystem[64];
    EXPECT_FALSE(
        k.GetVolumeInformationA("G:\\", label, 64, nullptr, nullptr, nullptr, fileSystem, 64));
    EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_UNRECOGNIZED_VOLUME));
}

TEST_F(ImageDrives, TheLockIsExclusiveAndWritesReachTheFileAtClose) {
    auto& k = *system->kernel32;
    HANDLE writer = Open(GENERIC_READ | GENERIC_WRITE);
    HANDLE other = Open(GENERIC_READ | GENERIC_WRITE);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(Query<char>(writer, FSCTL_LOCK_VOLUME, nullptr));
    EXPECT_FALSE(Query<char>(other, FSCTL_LOCK_VOLUME, nullptr));
    EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(Query<char>(other, FSCTL_UNLOCK_VOLUME, nullptr));
    EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_NOT_LOCKED));

    alignas(4096) static char block[4096];
    std::memset(block, 0xC3, sizeof block);
    LONG high = 0;
    EXPECT_EQ(k.SetFilePointer(writer, 4096, &high, FILE_BEGIN), 4096u);
    DWORD done = 0;
    ASSERT_TRUE(k.WriteFile(writer, block, sizeof block, &done, nullptr));
    EXPECT_TRUE(Query<char>(writer, FSCTL_UNLOCK_VOLUME, nullptr));
    EXPECT_TRUE(k.CloseHandle(writer));
    EXPECT_TRUE(Query<char>(other, FSCTL_LOCK_VOLUME, nullptr)); // free again
    EXPECT_TRUE(k.CloseHandle(other));

    std::ifstream in(folder / "stick.img", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes.substr(4096, 4096), std::string(4096, '\xC3'));
    EXPECT_EQ(bytes.substr(0, 4096), std::string(4096, '\x5A'));
    EXPECT_EQ(bytes.size(), 2u * 1024 * 1024);
}

TEST_F(ImageDrives, APhysicalDiskIsOpenedByItsNumberAndUnknownNamesAreNotFound) {
    auto& k = *system->kernel32;
    k.GetLogicalDrives();
    HANDLE disk = k.CreateFileA("\\\\.\\PhysicalDrive0", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(disk, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(k.CloseHandle(disk));
    for (const char* name :
         {"\\\\.\\PhysicalDrive1", "\\\\.\\Z:", "\\\\.\\PhysicalDrive", "\\\\.\\CdRom0"}) {
        EXPECT_EQ(
            k.CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE)
            << name;
        EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << name;
    }
}

// Why the last detection left the device out; empty when it did not.
std::string ReasonFor(platform::Kernel32& k, const std::string& device) {
    for (const auto& left : k.DevicesNotOffered())
        if (left.device == device)
            return left.reason;
    return "";
}

// The part of the next test that runs without the rights to the image, in a process of its
// own: the map file and the image in folder. 0 when the list is empty and the image is left
// out for the rights, and the program's detection keeps that for the drive page; else the
// first of these that failed, 11 to 13.
int DrivesWithoutRights(const std::string& folder) {
    auto system = CreateLinuxSystem(std::make_shared<DriveMap>(DriveMapOptions{
        (fs::path(folder) / "config").string(), (fs::path(folder) / "drives.map").string()}));
    auto& k = *system->kernel32;
    if (k.GetLogicalDrives() != 0 || k.GetLastError() != ERROR_SUCCESS)
        return 11;
    const auto why = ReasonFor(k, (fs::path(folder) / "stick.img").string());
    if (why.find("disk group") == std::string::npos) {
        std::fprintf(stderr, "left out for: %s\n", why.c_str());
        return 12;
    }
    platform::ScopedSystem scope(std::move(system));
    purgelet::TDiskManager manager(purgelet::DiskClassesForPlatform(VER_PLATFORM_WIN32_NT),
                                   [] { return purgelet::CreateOpticalDevices(); });
    manager.Detect();
    return manager.NotOffered.empty() ? 13 : 0;
}
const bool kDrivesWithoutRights =
    purgelet::testing::RegisterTestPart("drives-without-rights", &DrivesWithoutRights);

// Without the rights to the devices the list is empty, and each device left out says why;
// the "no rights" reason is given only where the rights are what is missing. Root reads
// everything, so the part runs as nobody, from a copy of this program beside the image:
// nobody may not reach the build folder (under /root, say), and a program whose own file
// cannot be followed to its device leaves every device in doubt, for another reason.
TEST_F(ImageDrives, WithoutRightsTheListIsEmptyAndEachDeviceSaysWhy) {
    ASSERT_TRUE(kDrivesWithoutRights);
    fs::permissions(folder / "stick.img", fs::perms::none);
    const fs::path program = folder / "program";
    fs::copy_file(fs::read_symlink("/proc/self/exe"), program);
    const auto everyone = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                          fs::perms::others_read | fs::perms::others_exec;
    fs::permissions(program, everyone);
    fs::permissions(folder, everyone);
    std::string programText = program.string(),
                flag = purgelet::testing::TestPartFlag("drives-without-rights"),
                folderText = folder.string();
    char* const argv[] = {programText.data(), flag.data(), folderText.data(), nullptr};
    const bool root = geteuid() == 0;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (root && setuid(65534) != 0) // become nobody
            _exit(3);
        execv(argv[0], argv);
        _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);

    fs::permissions(folder / "stick.img", fs::perms::owner_all);
    Install("only\n" + (folder / "stick.img").string() + "\n");
    EXPECT_NE(system->kernel32->GetLogicalDrives(), 0u);
    EXPECT_EQ(ReasonFor(*system->kernel32, (folder / "stick.img").string()), ""); // offered
}

// One device keeps one letter: a pin moves it and releases the old letter, and a letter kept
// for a device that is here is never given to another.
TEST_F(ImageDrives, APinMovesTheLetterAndTheOldOneIsReleased) {
    const std::string stick = (folder / "stick.img").string();
    const std::string other = (folder / "other.img").string();
    std::ofstream(other, std::ios::binary) << std::string(4096, 'o');
    auto letters = [&](const std::string& map) {
        Install(map);
        std::string text;
        char target[512];
        for (char letter = 'C'; letter <= 'Z'; ++letter) {
            const std::string root = std::string(1, letter) + ":";
            if (system->kernel32->QueryDosDeviceA(root.c_str(), target, sizeof target) != 0)
                text += root + (std::string(target) == stick ? "stick " : "other ");
        }
        return text;
    };
    EXPECT_EQ(letters("only\nF: " + stick + "\n"), "F:stick ");
    EXPECT_EQ(letters("only\nG: " + stick + "\n"), "G:stick ");
    EXPECT_EQ(letters("only\n" + stick + "\n" + other + "\n"), "C:other G:stick ");
    std::ifstream in(folder / "config" / "purgelet" / "drives.json");
    const nlohmann::json kept = nlohmann::json::parse(in)["letters"];
    EXPECT_EQ(kept.size(), 2u) << kept.dump();
    EXPECT_FALSE(kept.contains("F")) << kept.dump();
    // A pin takes a present device's kept letter: that device moves to a letter nobody
    // keeps (C: is still other's until this detection ends), and keeps it.
    EXPECT_EQ(letters("only\nG: " + other + "\n" + stick + "\n"), "D:stick G:other ");
    EXPECT_EQ(letters("only\n" + other + "\n" + stick + "\n"), "D:stick G:other ");
}

// More drives than letters: the map file's order of pins decides, the rest is named once.
// Every GetLogicalDrives detects again; the kept letters' file is replaced only when what it
// says changes (a damaged file is written anew).
TEST_F(ImageDrives, TheKeptLettersFileIsRewrittenOnlyWhenItChanges) {
    const fs::path state = folder / "config" / "purgelet" / "drives.json";
    auto inode = [&state] {
        struct stat st {};
        return stat(state.c_str(), &st) == 0 ? st.st_ino : ino_t{0};
    };
    system->kernel32->GetLogicalDrives();
    const ino_t first = inode();
    ASSERT_NE(first, ino_t{0});
    system->kernel32->GetLogicalDrives();
    EXPECT_EQ(inode(), first);

    std::ofstream(state, std::ios::trunc) << "damaged";
    system->kernel32->GetLogicalDrives();
    std::ifstream in(state);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("\"letters\""), std::string::npos) << text;
}

TEST_F(ImageDrives, DevicesBeyondTheLettersAreNamedOnceInTheErrorLog) {
    std::string map = "only\n";
    for (int i = 0; i < 25; ++i) {
        const fs::path image = folder / ("disk" + std::to_string(100 + i) + ".img");
        std::ofstream(image) << std::string(4096, 'x');
        map += image.string() + "\n";
    }
    Install(map);
    std::vector<std::string> told;
    platform::SetRegistryTroubleReporter([&](const std::string& text) { told.push_back(text); });
    EXPECT_EQ(system->kernel32->GetLogicalDrives(), 0x03FFFFFCu); // C: to Z:
    EXPECT_EQ(system->kernel32->GetLogicalDrives(), 0x03FFFFFCu);
    platform::SetRegistryTroubleReporter(nullptr);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find((folder / "disk124.img").string()), std::string::npos) << told[0];
}

// A sysfs tree with a disk vda (253:0) whose second partition (253:2) carries a mapped
// device (252:0), and a disk vdb (253:16) that has nothing to do with the system.
class SystemDecision : public ::testing::Test {
protected:
    void SetUp() override {
        Device("devices/vda", "253:0");
        Device("devices/vda/vda1", "253:1", true);
        Device("devices/vda/vda2", "253:2", true);
        Device("devices/vdb", "253:16");
        Device("devices/vdb/vdb1", "253:17", true);
        Device("devices/dm-0", "252:0");
        fs::create_directories(sysfs / "devices/dm-0/slaves");
        fs::create_symlink("../../vda/vda2", sysfs / "devices/dm-0/slaves/vda2");
    }
    void TearDown() override { fs::remove_all(sysfs); }
    void Device(const std::string& path, const std::string& number, bool partition = false) {
        fs::create_directories(sysfs / path);
        std::ofstream(sysfs / path / "dev") << number << "\n";
        if (partition)
            std::ofstream(sysfs / path / "partition") << "1\n";
        fs::create_directories(sysfs / "dev/block");
        fs::create_symlink(fs::path("../..") / path, sysfs / "dev/block" / number);
    }

    fs::path sysfs = purgelet::testing::ScratchFolder("sysfs");
};

// What the system rests on, as the decision sees it when given the devices to start from.
RunningSystem SystemOn(const std::vector<dev_t>& devices, const fs::path& sysfs) {
    RunningSystemSources sources;
    sources.mountInfo.clear();
    sources.paths.clear();
    sources.executable.clear();
    sources.swaps.clear();
    sources.sysfs = sysfs.string();
    sources.devices = devices;
    return RunningSystem::Scan(sources);
}

TEST_F(SystemDecision, WhatTheSystemRestsOnIsTouchedItsNeighboursAreNot) {
    const auto system = SystemOn({makedev(252, 0)}, sysfs); // the root file system on dm-0
    EXPECT_TRUE(system.WhyRefused(makedev(252, 0)));
    EXPECT_TRUE(system.WhyRefused(makedev(253, 2)));  // under dm-0
    EXPECT_TRUE(system.WhyRefused(makedev(253, 0)));  // its whole disk
    EXPECT_FALSE(system.WhyRefused(makedev(253, 1))); // a neighbour
    EXPECT_FALSE(system.WhyRefused(makedev(253, 16)));
    EXPECT_FALSE(system.WhyRefused(makedev(253, 17)));
    // Swap on the other disk's partition: that disk is the system's too, now.
    const auto withSwap = SystemOn({makedev(252, 0), makedev(253, 17)}, sysfs);
    EXPECT_TRUE(withSwap.WhyRefused(makedev(253, 16)));
}

TEST_F(SystemDecision, WhatHoldsADeviceIsNamedWithTheMappedName) {
    fs::create_directories(sysfs / "devices/vda/vda2/holders");
    fs::create_symlink("../../../dm-0", sysfs / "devices/vda/vda2/holders/dm-0");
    fs::create_directories(sysfs / "devices/dm-0/dm");
    std::ofstream(sysfs / "devices/dm-0/dm/name") << "vg0-home\n";
    EXPECT_EQ(HoldersOf(makedev(253, 2), sysfs.string()),
              std::vector<std::string>{"dm-0 (vg0-home)"});
    // A disk is held by what holds its partitions.
    EXPECT_EQ(HoldersOf(makedev(253, 0), sysfs.string()),
              std::vector<std::string>{"dm-0 (vg0-home)"});
    EXPECT_TRUE(HoldersOf(makedev(253, 16), sysfs.string()).empty());
}

// A root the decision cannot follow to devices refuses every device, and says why; a root
// that rests on no device at all (tmpfs, a network file system) refuses none.
TEST_F(SystemDecision, ARootThatCannotBeFollowedRefusesEveryDevice) {
    auto withRoot = [&](const std::string& type, const std::string& source) {
        std::ofstream(sysfs / "mountinfo")
            << "21 1 0:42 / / rw,relatime shared:1 - " << type << " " << source << " rw\n";
        RunningSystemSources sources;
        sources.mountInfo = (sysfs / "mountinfo").string();
        sources.paths = {"/"};
        sources.executable.clear();
        sources.swaps.clear();
        sources.sysfs = sysfs.string();
        return RunningSystem::Scan(sources);
    };
    const auto zfs = withRoot("zfs", "rpool/ROOT");
    ASSERT_EQ(zfs.Doubts().size(), 1u);
    for (dev_t device : {makedev(253, 16), makedev(253, 1)}) {
        const auto why = zfs.WhyRefused(device);
        ASSERT_TRUE(why);
        EXPECT_NE(why->find("/ is on zfs (rpool/ROOT)"), std::string::npos) << *why;
    }
    for (const char* type : {"tmpfs", "nfs4"}) {
        const auto system = withRoot(type, "server:/export");
        EXPECT_TRUE(system.Doubts().empty()) << type;
        EXPECT_FALSE(system.WhyRefused(makedev(253, 16))) << type;
    }
}

TEST(RunningSystemHere, TheRunningSystemsOwnRootIsRefused) {
    struct stat st {};
    ASSERT_EQ(stat("/", &st), 0);
    LinuxKernel32 k(std::make_shared<DriveMap>(DriveMapOptions{"/nonexistent", "/nonexistent"}));
    EXPECT_FALSE(k.MayWrite(st.st_dev));
}

} // namespace
