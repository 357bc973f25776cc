// Who a Linux block device is, read from a sysfs tree written for the test (laid out as the
// kernel lays it out for each kind of disk), through the descriptor the program parses; and
// the kernel32 query on what has no hardware behind it.
#include "disk/identity.h"
#include "loop_device.h"
#include "platform/linux/drive_map.h"
#include "platform/linux/storage_identity.h"
#include "platform/linux/system.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/sysmacros.h>

namespace {

namespace fs = std::filesystem;
using namespace platform::linux_backend;

class FakeSysfs : public ::testing::Test {
protected:
    void TearDown() override { fs::remove_all(sysfs); }

    // A block device folder under devices/ with its number; a partition gets its number file.
    fs::path Device(const std::string& path, unsigned major, unsigned minor, int partition = 0) {
        const fs::path dir = sysfs / "devices" / path;
        fs::create_directories(dir);
        const std::string number = std::to_string(major) + ":" + std::to_string(minor);
        std::ofstream(dir / "dev") << number << "\n";
        if (partition != 0)
            std::ofstream(dir / "partition") << partition << "\n";
        fs::create_directories(sysfs / "dev" / "block");
        fs::create_symlink(fs::relative(dir, sysfs / "dev" / "block"),
                           sysfs / "dev" / "block" / number);
        return dir;
    }
    static void File(const fs::path& file, const std::string& text) {
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << text;
    }
    // The identity the program reads from what the back-end answers for a device number.
    platform::DeviceIdentity Identity(unsigned major, unsigned minor) {
        const auto facts = ReadStorageFacts(sysfs.string(), makedev(major, minor));
        if (!facts)
            return {};
        const auto bytes = platform::DeviceDescriptorBytes(*facts);
        auto identity = purgelet::ParseDeviceDescriptor(bytes.data(), bytes.size());
        identity.Rotational = facts->rotational;
        return identity;
    }

    fs::path sysfs = purgelet::testing::ScratchFolder("sysfs-identity");
};

TEST_F(FakeSysfs, ASataDiskAndItsPartitionAreTheDiskTheATADeviceNames) {
    const fs::path port = "pci0000:00/0000:00:1f.2/ata1";
    const fs::path sda = Device((port / "host0/target0:0:0/0:0:0:0/block/sda").string(), 8, 0);
    Device((port / "host0/target0:0:0/0:0:0:0/block/sda/sda1").string(), 8, 1, 1);
    File(sysfs / "devices" / port / "link1/ata_link/link1/sata_spd", "3.0 Gbps\n");
    File(sda / "device/vendor", "ATA     \n");
    File(sda / "device/model", "ST3500418AS     \n");
    File(sda / "device/rev", "CC38\n");
    // The unit serial number page: 80h, length 20, the ATA serial padded with blanks.
    File(sda / "device/vpd_pg80", std::string("\x00\x80\x00\x14", 4) + "            9VM5ABCD");
    File(sda / "queue/rotational", "1\n");
    File(sda / "removable", "0\n");
    for (unsigned minor : {0u, 1u}) {
        SCOPED_TRACE(minor);
        const auto identity = Identity(8, minor);
        EXPECT_EQ(identity.Model, "ST3500418AS");
        EXPECT_EQ(identity.Serial, "9VM5ABCD");
        EXPECT_EQ(identity.Firmware, "CC38");
        EXPECT_EQ(identity.Bus, "SATA");
        EXPECT_EQ(identity.Rotational, true);
    }
    // Without the SATA link speed the port is a parallel ATA one.
    fs::remove(sysfs / "devices" / port / "link1/ata_link/link1/sata_spd");
    EXPECT_EQ(Identity(8, 0).Bus, "ATA");
    EXPECT_FALSE(ReadStorageFacts(sysfs.string(), makedev(8, 16)).has_value()); // no such device
}

TEST_F(FakeSysfs, NvmeUsbVirtioMmcAndTheScsiTransportsAreToldApart) {
    const fs::path nvme = Device("pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0/nvme0n1", 259, 0);
    Device("pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0/nvme0n1/nvme0n1p2", 259, 2, 2);
    File(nvme / "device/model", "Samsung SSD 970 EVO Plus 1TB            \n");
    File(nvme / "device/serial", "S4EWNX0R123456      \n");
    File(nvme / "device/firmware_rev", "2B2QEXM7\n");
    File(nvme / "queue/rotational", "0\n");
    const auto ssd = Identity(259, 2);
    EXPECT_EQ(ssd.Model, "Samsung SSD 970 EVO Plus 1TB");
    EXPECT_EQ(ssd.Serial, "S4EWNX0R123456");
    EXPECT_EQ(ssd.Firmware, "2B2QEXM7");
    EXPECT_EQ(ssd.Bus, "NVMe");
    EXPECT_EQ(ssd.Rotational, false);

    const fs::path stick = Device(
        "pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb", 8, 16);
    File(stick / "device/vendor", "Kingston\n");
    File(stick / "device/model", "DataTraveler 2.0\n");
    EXPECT_EQ(Identity(8, 16).Model, "Kingston DataTraveler 2.0");
    EXPECT_EQ(Identity(8, 16).Bus, "USB");
    EXPECT_FALSE(Identity(8, 16).Rotational.has_value()); // no queue/rotational to read
    EXPECT_EQ(Identity(8, 16).Serial, "");                // no serial page, no USB device's serial
    // The USB device's own serial number, as udev would tell it.
    const fs::path usbDevice = sysfs / "devices/pci0000:00/0000:00:14.0/usb2/2-1";
    File(usbDevice / "idVendor", "0951\n");
    File(usbDevice / "serial", "001CC0EC3450F9B0\n");
    EXPECT_EQ(Identity(8, 16).Serial, "001CC0EC3450F9B0");

    const fs::path vda = Device("pci0000:00/0000:00:04.0/virtio1/block/vda", 253, 0);
    File(vda / "serial", "QM00001\n");
    EXPECT_EQ(Identity(253, 0).Bus, "virtual");
    EXPECT_EQ(Identity(253, 0).Serial, "QM00001");
    EXPECT_EQ(Identity(253, 0).Model, ""); // the drive list's name stands in for it

    const fs::path card =
        Device("platform/fe320000.mmc/mmc_host/mmc0/mmc0:aaaa/block/mmcblk0", 179, 0);
    File(card / "device/type", "SD\n");
    File(card / "device/name", "SL32G\n");
    File(card / "device/serial", "0x1234abcd\n");
    EXPECT_EQ(Identity(179, 0).Bus, "SD");
    EXPECT_EQ(Identity(179, 0).Model, "SL32G");
    EXPECT_EQ(Identity(179, 0).Serial, "0x1234abcd");

    Device("pci0000:00/0000:00:10.0/host2/port-2:0/end_device-2:0/target2:0:0/2:0:0:0/block/sdc", 8,
           32);
    EXPECT_EQ(Identity(8, 32).Bus, "SAS");
    Device("platform/host3/session1/target3:0:0/3:0:0:0/block/sdd", 8, 48);
    EXPECT_EQ(Identity(8, 48).Bus, "iSCSI");
    Device("pci0000:00/0000:00:05.0/virtio2/host4/target4:0:0/4:0:0:0/block/sde", 8, 64);
    EXPECT_EQ(Identity(8, 64).Bus, "virtual");
    const fs::path scsi =
        Device("pci0000:00/0000:00:06.0/host5/target5:0:0/5:0:0:0/block/sdf", 8, 80);
    File(scsi / "device/serial", "ABC123\n"); // a serial file wins over the page
    File(scsi / "device/vpd_pg80", std::string("\x00\x80\x00\x03", 4) + "XYZ");
    EXPECT_EQ(Identity(8, 80).Bus, "SCSI");
    EXPECT_EQ(Identity(8, 80).Serial, "ABC123");
}

TEST_F(FakeSysfs, ALoopDeviceAndItsPartitionsAreTheLoopOverTheirFile) {
    const fs::path loop = Device("virtual/block/loop3", 7, 3);
    Device("virtual/block/loop3/loop3p1", 259, 5, 1);
    File(loop / "loop/backing_file", "/srv/images/disk.img\n");
    File(loop / "queue/rotational", "1\n");
    for (unsigned minor : {3u, 5u}) {
        const unsigned major = minor == 3 ? 7 : 259;
        const auto identity = Identity(major, minor);
        EXPECT_EQ(identity.Bus, "loop") << minor;
        EXPECT_EQ(identity.Model, "Loop device (/srv/images/disk.img)") << minor;
        EXPECT_EQ(identity.Serial, "") << minor;
    }
}

TEST(VpdPage80, OnlyAWholeUnitSerialNumberPageIsRead) {
    EXPECT_EQ(SerialOfVpdPage80(std::string("\x00\x80\x00\x05", 4) + " AB1 "), "AB1");
    EXPECT_EQ(SerialOfVpdPage80(std::string("\x00\x83\x00\x03", 4) + "AB1"), ""); // page 83h
    EXPECT_EQ(SerialOfVpdPage80(std::string("\x00\x80\x00\x09", 4) + "AB1"), ""); // cut
    EXPECT_EQ(SerialOfVpdPage80(std::string("\x00\x80\xFF", 3)), "");
    EXPECT_EQ(SerialOfVpdPage80(""), "");
}

// An image file named by the map file is a drive without hardware: the query is not
// supported, as on a Windows volume that lies on no disk.
TEST(LinuxStorageQuery, AnImageFileTellsNoHardware) {
    const fs::path folder = purgelet::testing::ScratchFolder("identity-image");
    std::ofstream(folder / "stick.img", std::ios::binary) << std::string(65536, '\0');
    std::ofstream(folder / "drives.map") << "only\nG: " << (folder / "stick.img").string() << "\n";
    {
        auto system = CreateLinuxSystem(std::make_shared<DriveMap>(
            DriveMapOptions{(folder / "config").string(), (folder / "drives.map").string()}));
        auto& k = *system->kernel32;
        HANDLE handle = k.CreateFileA("\\\\.\\G:", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);
        STORAGE_PROPERTY_QUERY query{};
        query.PropertyId = StorageDeviceProperty;
        std::uint8_t out[512] = {};
        DWORD returned = 7;
        EXPECT_FALSE(k.DeviceIoControl(handle, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query,
                                       out, sizeof out, &returned, nullptr));
        EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
        EXPECT_EQ(returned, 0u);
        k.CloseHandle(handle);
    }
    fs::remove_all(folder);
}

} // namespace
