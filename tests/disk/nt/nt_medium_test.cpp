// What a wipe reads and writes is the medium, as a real drive has it: the whole disk is its
// length, not its cylinders; a read-back (verification, a firmware erase's samples) bypasses
// the system cache, which would hand back what was written or what the disk held before; a
// whole disk's volumes are dismounted once locked, so no file system writes its metadata back.
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

constexpr std::int64_t kCylinderBytes = 16 * 63 * 512;
constexpr std::int64_t kCylinders = 16;
// The disk is three sectors short of a 17th cylinder: the geometry leaves them out, as
// Windows rounds a disk's size down to whole cylinders.
constexpr std::int64_t kDiskBytes = (kCylinders + 1) * kCylinderBytes - 3 * 512;
constexpr std::int64_t kDiskBlocks = kDiskBytes / 512;

nlohmann::json Machine() {
    nlohmann::json machine = nlohmann::json::parse(R"J({
      "windowsDirectory": "C:\\WINDOWS",
      "physicalDisks": [
        {"friendlyName": "SYSTEM DISK", "deviceNumber": 0, "image": "system.img",
         "geometry": {"cylinders": 4, "tracksPerCylinder": 16, "sectorsPerTrack": 64}},
        {"friendlyName": "DATA DISK", "deviceNumber": 1, "image": "data.img",
         "geometry": {"cylinders": 16, "tracksPerCylinder": 16, "sectorsPerTrack": 63},
         "bus": "NVMe", "firmware": {"commandSet": "nvme", "driver": "vendor",
                      "sanitize": ["crypto", "block"], "polls": 2}}],
      "drives": [
        {"letter": "C", "disk": 0, "offset": 32768, "length": 1048576,
         "volume": {"label": "SYSTEM"}},
        {"letter": "E", "disk": 1, "offset": 32768, "length": 2097152, "partitionNumber": 1,
         "volume": {"label": "DATA", "fileSystem": "NTFS"}},
        {"letter": "F", "disk": 1, "offset": 4194304, "length": 2097152, "partitionNumber": 2,
         "partitionType": 12, "volume": {"label": "MORE", "fileSystem": "FAT32"}}
      ]})J");
    machine["physicalDisks"][1]["size"] = kDiskBytes;
    return machine;
}

std::uint8_t Old(std::int64_t i) {
    return static_cast<std::uint8_t>(i * 13 % 251);
}

class Medium : public ::testing::Test {
protected:
    Medium() : pc(Machine()), manager(host) {
        std::vector<std::uint8_t> data(static_cast<std::size_t>(kDiskBytes));
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = Old(static_cast<std::int64_t>(i));
        pc.WriteImage("data.img", 0, data);
        manager.Detect();
    }

    TPhysicalDisk& Data() { return dynamic_cast<TPhysicalDisk&>(*manager.PhysicalDisks.Items(1)); }
    TRandomAccessDisk& Letter(const std::string& name) {
        for (int i = 0; i < manager.LogicalDisks.Count(); ++i)
            if (manager.LogicalDisks.Items(i)->Name == name)
                return dynamic_cast<TRandomAccessDisk&>(*manager.LogicalDisks.Items(i));
        throw std::runtime_error("no drive " + name);
    }
    const std::string& DiskPath() { return pc.machine().disks.at(1).devicePath; }
    // The flags of the last write open of a device.
    DWORD WriteOpenFlags(const std::string& device) {
        const auto& calls = pc.machine().calls;
        for (std::size_t i = calls.size(); i-- > 0;)
            if (calls[i].device == device && calls[i].name == "CreateFileA" &&
                (calls[i].a & GENERIC_WRITE) && calls[i].ok)
                return calls[i].c;
        return 0xFFFFFFFF;
    }
    int CallIndex(const std::string& device, const std::string& name, DWORD code) {
        const auto& calls = pc.machine().calls;
        for (std::size_t i = 0; i < calls.size(); ++i)
            if (calls[i].device == device && calls[i].name == name && calls[i].a == code)
                return static_cast<int>(i);
        return -1;
    }
    // Whether every byte of the data disk from..to holds value.
    bool Holds(std::uint8_t value, std::int64_t from = 0, std::int64_t to = kDiskBytes) {
        const auto bytes = pc.ReadImage("data.img", from, to - from);
        return !bytes.empty() &&
               std::all_of(bytes.begin(), bytes.end(), [&](std::uint8_t b) { return b == value; });
    }

    SimPC pc;
    ui::ScriptedHost host;
    TGUIDiskManager manager;
};

// The whole disk is its length: the three sectors past the last whole cylinder are written.
TEST_F(Medium, AWholeDiskIsItsLengthNotItsCylinders) {
    TPhysicalDisk& data = Data();
    EXPECT_EQ(data.BlockCount, kDiskBlocks);
    EXPECT_EQ(data.Size, kDiskBytes);
    auto m = testing::MethodFromLines({"HEXA=$5A"});
    data.WipeDisk(m.get(), false, 0, 0, "");
    EXPECT_TRUE(Holds(0x5A));
    EXPECT_TRUE(Holds(0x5A, kCylinders * kCylinderBytes, kDiskBytes)); // the tail
    EXPECT_TRUE(pc.machine().outOfExtent.empty());
}

// A volume's lock keeps others out but leaves its file system mounted, with metadata to write
// back: each is dismounted once locked, before the disk is opened.
TEST_F(Medium, AWholeDisksVolumesAreDismountedOnceLocked) {
    auto m = testing::MethodFromLines({"HEXA=$00"});
    Data().WipeDisk(m.get(), false, 0, 0, "");
    const int diskOpen = CallIndex(DiskPath(), "CreateFileA", GENERIC_READ | GENERIC_WRITE);
    ASSERT_GE(diskOpen, 0);
    for (const char* volume : {"\\\\.\\E:", "\\\\.\\F:"}) {
        const int locked = CallIndex(volume, "DeviceIoControl", FSCTL_LOCK_VOLUME);
        const int dismounted = CallIndex(volume, "DeviceIoControl", FSCTL_DISMOUNT_VOLUME);
        ASSERT_GE(locked, 0) << volume;
        EXPECT_GT(dismounted, locked) << volume;
        EXPECT_LT(dismounted, diskOpen) << volume;
    }
    EXPECT_TRUE(Holds(0x00));

    // A dismount that fails leaves the disk unwritten and every volume released.
    std::vector<std::uint8_t> old(static_cast<std::size_t>(kDiskBytes), 0x77);
    pc.WriteImage("data.img", 0, old);
    pc.drive('F').faults.dismount = sim::Fault::Times(1, ERROR_ACCESS_DENIED);
    EXPECT_THROW(Data().WipeDisk(m.get(), false, 0, 0, ""), XDisMount);
    EXPECT_TRUE(Holds(0x77));
    EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u);
}

// A block the drive drops on write is found by the verification. A read-back through the
// system cache would find what was written there instead and pass.
TEST_F(Medium, AVerificationReadsTheMediumNotTheCache) {
    const std::int64_t lost = 5000;
    pc.machine().disks[1].faults.lostWrites.push_back({lost, sim::Fault::Always(0)});
    auto checked = testing::MethodFromLines({"HEXA=$00", "CHECK"});
    host.AnswerRest(mrNo); // the verification's mismatch: the wipe fails
    for (bool unbuffered : {false, true}) {
        TPhysicalDisk& data = Data();
        EXPECT_THROW(
            testing::WipeWithOptions(data, checked.get(), TWipeOptions{unbuffered, 0, true, 1}),
            XVerify)
            << unbuffered;
        EXPECT_TRUE(WriteOpenFlags(DiskPath()) & FILE_FLAG_NO_BUFFERING) << unbuffered;
        EXPECT_TRUE(Holds(0x00, 0, lost * 512));
        EXPECT_FALSE(Holds(0x00, lost * 512, (lost + 1) * 512));
    }

    // The same through a drive letter, with transfers in flight: E:'s block 100 is the disk's.
    pc.machine().disks[1].faults.lostWrites = {{32768 / 512 + 100, sim::Fault::Always(0)}};
    TRandomAccessDisk& e = Letter("E");
    pc.WriteImage("data.img", 0, std::vector<std::uint8_t>(1 << 20, 0xEE)); // old data again
    EXPECT_THROW(testing::WipeWithOptions(e, checked.get(), TWipeOptions{false, 0, true, 4}),
                 XVerify);
    EXPECT_TRUE(WriteOpenFlags("\\\\.\\E:") & FILE_FLAG_NO_BUFFERING);
    EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u);
    const auto& dialogs = host.dialogs();
    EXPECT_EQ(std::count_if(dialogs.begin(), dialogs.end(),
                            [](const auto& d) { return d.text.rfind("Error_Verify", 0) == 0; }),
              3);
}

// No buffering asked for by the run holds for a whole disk too; a wipe that reads nothing
// back and was not asked keeps the system's buffering.
TEST_F(Medium, AWholeDiskTakesTheRunsNoBuffering) {
    auto m = testing::MethodFromLines({"HEXA=$00"});
    TPhysicalDisk& data = Data();
    testing::WipeWithOptions(data, m.get(), TWipeOptions{true, 0, true, 1});
    EXPECT_EQ(WriteOpenFlags(DiskPath()), FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH);
    testing::WipeWithOptions(data, m.get(), TWipeOptions{false, 0, true, 1});
    EXPECT_EQ(WriteOpenFlags(DiskPath()), 0u);
    EXPECT_TRUE(Holds(0x00));
}

// The drive's own erase changes the medium behind the system's back: samples read through the
// cache would come back as they were before and a good erase would be reported as old data.
TEST_F(Medium, AFirmwareEraseIsVerifiedOnTheMedium) {
    auto crypto = testing::MethodFromLines({"FIRMWARE=CRYPTO"});
    TPhysicalDisk& data = Data();
    TWipeContext good(crypto.get(), data.Owner);
    ASSERT_NO_THROW(data.WipeDisk(good));
    ASSERT_TRUE(good.Firmware.has_value());
    EXPECT_TRUE(good.Firmware->Passed());
    EXPECT_EQ(good.Firmware->Changed, good.Firmware->Sampled);
    EXPECT_EQ(good.Firmware->Sampled, static_cast<int>(SampleBlocks(kDiskBlocks).size()));
    EXPECT_TRUE(WriteOpenFlags(DiskPath()) & FILE_FLAG_NO_BUFFERING);

    // A drive that reports success and erases nothing is still caught.
    pc.machine().disks[1].firmware->fault = sim::FirmwareDrive::Fault::Lies;
    TWipeContext lied(crypto.get(), data.Owner);
    EXPECT_THROW(data.WipeDisk(lied), XFirmware);
    ASSERT_TRUE(lied.Firmware.has_value());
    EXPECT_EQ(lied.Firmware->Unchanged, lied.Firmware->Sampled);
    EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u);
}

} // namespace
} // namespace purgelet
