// A whole physical disk wiped through the disk manager on a simulated PC: every block of the
// disk from block 0 as the method says, its volumes locked (after a forced dismount when in
// use and the user agrees) and dismounted before the disk is opened and released after it on every
// way out, and the disks that must not be wiped as a whole marked by detection.
#include "disk/disk_manager.h"
#include "disk/disk_test_support.h"
#include "disk/nt/nt_disk.h"
#include "platform/sim/kernel32.h"
#include "support/sim_pc.h"
#include "ui/scripted_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace purgelet {
namespace {

using testing::SimPC;
namespace sim = platform::sim;

constexpr std::int64_t kDiskBytes = 16 * 16 * 64 * 512; // 8 MiB
constexpr std::int64_t kPartE = 32768;
constexpr std::int64_t kPartF = 4194304;
constexpr std::int64_t kPartLength = 4161536;

// The system on C: of disk 0; disk 1 holds E: (in use) and F:, both with old data to see.
nlohmann::json Machine() {
    return nlohmann::json::parse(R"J({
      "windowsDirectory": "C:\\WINDOWS",
      "physicalDisks": [
        {"friendlyName": "SYSTEM DISK", "deviceNumber": 0, "image": "system.img",
         "geometry": {"cylinders": 4, "tracksPerCylinder": 16, "sectorsPerTrack": 64}},
        {"friendlyName": "DATA DISK", "deviceNumber": 1, "image": "data.img",
         "geometry": {"cylinders": 16, "tracksPerCylinder": 16, "sectorsPerTrack": 64}}],
      "drives": [
        {"letter": "C", "disk": 0, "offset": 32768, "length": 1048576,
         "volume": {"label": "SYSTEM"}},
        {"letter": "E", "disk": 1, "offset": 32768, "length": 4161536, "inUse": true,
         "partitionNumber": 1, "volume": {"label": "DATA", "fileSystem": "NTFS"}},
        {"letter": "F", "disk": 1, "offset": 4194304, "length": 4194304, "partitionNumber": 2,
         "partitionType": 12, "volume": {"label": "MORE", "fileSystem": "FAT32"}}
      ]})J");
}

class WholeDisk : public ::testing::Test {
protected:
    explicit WholeDisk(const nlohmann::json& machine = Machine()) : pc(machine), manager(host) {
        Fill(0xEE);
    }

    void Fill(std::uint8_t value) {
        pc.WriteImage("data.img", 0,
                      std::vector<std::uint8_t>(static_cast<std::size_t>(kDiskBytes), value));
    }
    TDisk* Logical(const std::string& name) {
        for (int i = 0; i < manager.LogicalDisks.Count(); ++i)
            if (manager.LogicalDisks.Items(i)->Name == name)
                return manager.LogicalDisks.Items(i);
        return nullptr;
    }
    TPhysicalDisk& Physical(int index) {
        return dynamic_cast<TPhysicalDisk&>(*manager.PhysicalDisks.Items(index));
    }
    const std::string& DiskPath(int index) { return pc.machine().disks.at(index).devicePath; }
    // The index of the first recorded call matching, -1 when none.
    int CallIndex(const std::string& device, const std::string& name, DWORD code = 0) {
        const auto& calls = pc.machine().calls;
        for (std::size_t i = 0; i < calls.size(); ++i)
            if (calls[i].device == device && calls[i].name == name &&
                (code == 0 || calls[i].a == code))
                return static_cast<int>(i);
        return -1;
    }
    int LastCallIndex(const std::string& device, const std::string& name, DWORD code = 0) {
        const auto& calls = pc.machine().calls;
        for (std::size_t i = calls.size(); i-- > 0;)
            if (calls[i].device == device && calls[i].name == name &&
                (code == 0 || calls[i].a == code))
                return static_cast<int>(i);
        return -1;
    }
    // Whether every byte of the data disk's image holds what pattern gives for its offset.
    ::testing::AssertionResult ImageIs(const std::vector<std::uint8_t>& pattern) {
        const auto bytes = pc.ReadImage("data.img", 0, kDiskBytes);
        if (static_cast<std::int64_t>(bytes.size()) != kDiskBytes)
            return ::testing::AssertionFailure() << "image of " << bytes.size() << " bytes";
        for (std::size_t i = 0; i < bytes.size(); ++i)
            if (bytes[i] != pattern[i % pattern.size()])
                return ::testing::AssertionFailure()
                       << "byte " << i << " is " << int(bytes[i]) << ", not "
                       << int(pattern[i % pattern.size()]);
        return ::testing::AssertionSuccess();
    }

    SimPC pc;
    ui::ScriptedHost host;
    TGUIDiskManager manager;
};

TEST_F(WholeDisk, DetectionGivesEachDiskItsVolumesAndMarksTheSystemDisk) {
    manager.Detect();
    ASSERT_EQ(manager.PhysicalDisks.Count(), 2);
    TPhysicalDisk& system = Physical(0);
    TPhysicalDisk& data = Physical(1);
    ASSERT_EQ(system.Volumes.size(), 1u);
    EXPECT_EQ(system.Volumes[0], Logical("C"));
    EXPECT_EQ(system.NotWipeable, "holds the running system (C:\\WINDOWS)");
    ASSERT_EQ(data.Volumes.size(), 2u);
    EXPECT_EQ(data.Volumes[0], Logical("E"));
    EXPECT_EQ(data.Volumes[1], Logical("F"));
    EXPECT_EQ(data.NotWipeable, "");
    EXPECT_EQ(data.Size, kDiskBytes);
    EXPECT_TRUE(host.dialogs().empty());
}

// Every block from block 0 holds the pattern, partition table and gaps included; the
// volumes were locked before the disk was opened, E: (in use) after the forced dismount the
// user agreed to, and all of them were unlocked and closed after the disk was closed.
TEST_F(WholeDisk, WipesEveryBlockOfTheDiskWithTheVolumesLockedMeanwhile) {
    manager.Detect();
    TPhysicalDisk& data = Physical(1);
    for (const auto& [lines, pattern] :
         std::vector<std::pair<std::vector<std::string>, std::vector<std::uint8_t>>>{
             {{"HEXA=$00"}, {0x00}}, {{"HEXA=$92$49$24", "HEXA=$5A"}, {0x5A}}}) {
        Fill(0xEE);
        pc.machine().calls.clear();
        pc.drive('E').inUse = true;
        host.Answer(mrYes); // force the dismount of E:
        std::unique_ptr<method> m;
        if (lines.size() == 1)
            m = testing::MethodFromLines({lines[0]});
        else
            m = testing::MethodFromLines({lines[0], lines[1]});
        data.WipeDisk(m.get(), true, 0, 0, "");
        EXPECT_TRUE(ImageIs(pattern)) << lines[0];

        // The question about E: was the drive letter's own.
        ASSERT_FALSE(host.dialogs().empty());
        EXPECT_EQ(host.dialogs().back().text.rfind("Error_QueryForceDisMount\r\n", 0), 0u);

        const std::string disk = DiskPath(1);
        const int firstWrite = CallIndex(disk, "WriteFile");
        const int diskOpen = CallIndex(disk, "CreateFileA");
        ASSERT_GE(firstWrite, 0);
        for (const char* volume : {"\\\\.\\E:", "\\\\.\\F:"}) {
            const int locked = LastCallIndex(volume, "DeviceIoControl", FSCTL_LOCK_VOLUME);
            ASSERT_GE(locked, 0) << volume;
            EXPECT_TRUE(pc.machine().calls[static_cast<std::size_t>(locked)].ok) << volume;
            EXPECT_LT(locked, diskOpen) << volume;
            const int unlocked = CallIndex(volume, "DeviceIoControl", FSCTL_UNLOCK_VOLUME);
            const int closed = LastCallIndex(volume, "CloseHandle");
            EXPECT_GT(unlocked, LastCallIndex(disk, "CloseHandle")) << volume;
            EXPECT_GT(closed, unlocked) << volume;
        }
        // Each volume dismounted once locked, E: besides before its lock was granted.
        EXPECT_EQ(pc.machine().CountCalls("\\\\.\\E:", "DeviceIoControl", FSCTL_DISMOUNT_VOLUME),
                  2);
        EXPECT_EQ(pc.machine().CountCalls("\\\\.\\F:", "DeviceIoControl", FSCTL_DISMOUNT_VOLUME),
                  1);
        EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u);
        // Never formatted, whatever the run asked.
        EXPECT_TRUE(pc.machine().formats.empty());
    }
    // The wipe wrote through the disk: its partitions read the same bytes.
    std::vector<std::uint8_t> block(512);
    auto* f = Logical("F");
    TOpenedDisk opened(*f, true);
    dynamic_cast<TRandomAccessDisk&>(*f).ReadBlocks(block.data(), 1, 0);
    opened.Close();
    EXPECT_TRUE(std::all_of(block.begin(), block.end(), [](std::uint8_t b) { return b == 0x5A; }));
}

TEST_F(WholeDisk, AnAbortOrAFailureReleasesEveryVolume) {
    manager.Detect();
    TPhysicalDisk& data = Physical(1);
    pc.drive('E').inUse = false;
    auto m = testing::MethodFromLines({"HEXA=$00"});

    // A write that fails, answered Abort: the run ends there, the volumes are free again.
    pc.machine().disks[1].faults.writeBlocks.push_back({200, sim::Fault::Always(ERROR_CRC)});
    host.Answer(mrAbort);
    EXPECT_THROW(data.WipeDisk(m.get(), false, 0, 0, ""), XException);
    EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u);
    EXPECT_GE(CallIndex("\\\\.\\F:", "DeviceIoControl", FSCTL_UNLOCK_VOLUME), 0);
    pc.machine().disks[1].faults.writeBlocks.clear();

    // The disk that cannot be opened: the volumes locked for it are let go.
    pc.machine().calls.clear();
    pc.machine().disks[1].faults.open = sim::Fault::Times(1, ERROR_ACCESS_DENIED);
    EXPECT_THROW(data.WipeDisk(m.get(), false, 0, 0, ""), XNTCreateFile);
    EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u);
    EXPECT_GE(CallIndex("\\\\.\\E:", "DeviceIoControl", FSCTL_UNLOCK_VOLUME), 0);
    EXPECT_GE(CallIndex("\\\\.\\F:", "DeviceIoControl", FSCTL_UNLOCK_VOLUME), 0);

    // F:'s lock refused, the dismount declined: E: (locked first) is let go, nothing written.
    pc.machine().calls.clear();
    pc.drive('F').inUse = true;
    host.Answer(mrNo);
    EXPECT_THROW(data.WipeDisk(m.get(), false, 0, 0, ""), Xlock);
    EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u);
    EXPECT_GE(CallIndex("\\\\.\\E:", "DeviceIoControl", FSCTL_UNLOCK_VOLUME), 0);
    EXPECT_EQ(CallIndex(DiskPath(1), "CreateFileA"), -1);
    EXPECT_EQ(CallIndex(DiskPath(1), "WriteFile"), -1);
    // Declined by the user: not a refusal for good, the disk may be tried again.
    EXPECT_EQ(data.NotWipeable, "");
}

// A lock that stays refused after every forced dismount marks the disk, and detection keeps
// the mark for it when it makes the disk objects afresh.
TEST_F(WholeDisk, ALockRefusedForGoodMarksTheDiskFromThenOn) {
    manager.Detect();
    pc.drive('F').faults.lock = sim::Fault::Always(ERROR_ACCESS_DENIED);
    host.AnswerRest(mrYes);
    auto m = testing::MethodFromLines({"HEXA=$00"});
    EXPECT_THROW(Physical(1).WipeDisk(m.get(), false, 0, 0, ""), Xlock);
    EXPECT_EQ(Physical(1).NotWipeable, "the lock of MORE (F:) stays refused after every dismount");
    EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u);
    EXPECT_TRUE(ImageIs({0xEE}));

    manager.Detect();
    EXPECT_EQ(Physical(1).NotWipeable, "the lock of MORE (F:) stays refused after every dismount");
    EXPECT_TRUE(Physical(1).LockRefused);
}

// What the drive list marks is refused again by the disk itself when it is opened for
// writing: a run that reaches the disk some other way (a command line, a list drawn before
// the system changed) writes nothing, locks nothing, and says why.
TEST_F(WholeDisk, ADiskThatCannotBeWipedIsRefusedAtTheWriteOpenNotOnlyInTheList) {
    constexpr std::int64_t kSystemBytes = 4 * 16 * 64 * 512;
    pc.WriteImage("system.img", 0,
                  std::vector<std::uint8_t>(static_cast<std::size_t>(kSystemBytes), 0xEE));
    manager.Detect();
    ASSERT_EQ(Physical(0).NotWipeable, "holds the running system (C:\\WINDOWS)");
    auto m = testing::MethodFromLines({"HEXA=$00"});
    try {
        Physical(0).WipeDisk(m.get(), false, 0, 0, "");
        FAIL() << "the system's disk was opened for writing";
    } catch (const XNTCreateFile& error) {
        EXPECT_NE(std::string(error.what()).find("holds the running system"), std::string::npos)
            << error.what();
    }
    EXPECT_EQ(CallIndex("\\\\.\\C:", "DeviceIoControl", FSCTL_LOCK_VOLUME), -1);
    EXPECT_EQ(CallIndex(DiskPath(0), "WriteFile"), -1);
    EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u);
    EXPECT_TRUE(host.dialogs().empty());
    const auto system = pc.ReadImage("system.img", 0, kSystemBytes);
    EXPECT_EQ(std::count(system.begin(), system.end(), 0xEE),
              static_cast<std::ptrdiff_t>(kSystemBytes));

    // A disk object made without the list (no mark of its own): the system still says no.
    pc.machine().disks[1].runningSystem = true;
    auto direct = MakeDisk<TNTPhysicalDisk>(DiskPath(1), &manager, "DATA DISK");
    ASSERT_EQ(direct->NotWipeable, "");
    EXPECT_THROW(direct->WipeDisk(m.get(), false, 0, 0, ""), XNTCreateFile);
    EXPECT_EQ(CallIndex(DiskPath(1), "WriteFile"), -1);
    EXPECT_TRUE(ImageIs({0xEE}));
}

TEST_F(WholeDisk, AReadOnlyOpenLocksNoVolume) {
    manager.Detect();
    TPhysicalDisk& data = Physical(1);
    pc.drive('E').inUse = true;
    data.Open(true);
    data.Close();
    EXPECT_EQ(pc.machine().CountCalls("\\\\.\\E:", "DeviceIoControl", FSCTL_LOCK_VOLUME), 0);
    EXPECT_TRUE(host.dialogs().empty());
}

// The machine file's flag, the system partition Setup recorded, and this program's drive.
TEST(WholeDiskMarks, TheMachineFileFlagTheSystemPartitionAndTheProgramsDriveMarkTheirDisks) {
    auto machine = Machine();
    machine["windowsDirectory"] = "X:\\WINDOWS"; // on no disk of this machine
    machine["physicalDisks"].push_back({{"friendlyName", "FLAGGED"},
                                        {"deviceNumber", 2},
                                        {"image", "flagged.img"},
                                        {"runningSystem", true},
                                        {"geometry", {{"cylinders", 2}}}});
    // C: is \Device\HarddiskVolume1 on this machine (the drives in file order).
    machine["registry"]["HKEY_LOCAL_MACHINE"]["SYSTEM\\Setup"]["SystemPartition"] =
        "\\Device\\HarddiskVolume1";
    SimPC pc(machine);
    ui::ScriptedHost host;
    TGUIDiskManager manager(host);
    manager.Detect();
    ASSERT_EQ(manager.PhysicalDisks.Count(), 3);
    auto notWipeable = [&](int i) {
        return dynamic_cast<TPhysicalDisk&>(*manager.PhysicalDisks.Items(i)).NotWipeable;
    };
    EXPECT_EQ(notWipeable(0), "holds the running system (\\Device\\HarddiskVolume1)");
    EXPECT_EQ(notWipeable(1), "");
    EXPECT_EQ(notWipeable(2), "holds the running system");

    pc.machine().executable = "E:\\PURGELET\\PURGELET.EXE";
    manager.Detect();
    EXPECT_EQ(notWipeable(1), "holds this program (E:\\PURGELET\\PURGELET.EXE)");
}

} // namespace
} // namespace purgelet
