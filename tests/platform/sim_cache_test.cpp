// The simulated PC's raw devices as a real system caches them: a handle opened without
// FILE_FLAG_NO_BUFFERING reads through its device's cache, which keeps what it read and what
// was written through it until the volume is locked or dismounted or the device's last handle
// closes; a drive that drops writes; and a device's length, which its cylinders may not reach.
#include "support/sim_pc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using nlohmann::json;
using purgelet::testing::SimPC;
namespace sim = platform::sim;

constexpr DWORD kRW = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr std::int64_t kDiskBytes = 16 * 16 * 64 * 512 + 7 * 512; // 7 sectors past the cylinders
constexpr std::int64_t kPartE = 32768;

json Machine() {
    json machine = json::parse(R"J({
      "physicalDisks": [{"friendlyName": "SIM DISK", "deviceNumber": 0, "image": "disk0.img",
                         "geometry": {"cylinders": 16, "tracksPerCylinder": 16,
                                      "sectorsPerTrack": 64, "bytesPerSector": 512}}],
      "drives": [
        {"letter": "E", "disk": 0, "offset": 32768, "length": 1048576, "partitionNumber": 1,
         "volume": {"label": "DATA", "fileSystem": "NTFS"}},
        {"letter": "A", "kind": "floppy", "supportedMedia": ["F3_1Pt44_512"],
         "medium": {"type": "F3_1Pt44_512", "image": "floppy.img"}}
      ]})J");
    machine["physicalDisks"][0]["size"] = kDiskBytes;
    return machine;
}

class SimCache : public ::testing::Test {
protected:
    SimPC pc{Machine()};
    platform::Kernel32& k = platform::k32();

    HANDLE Open(const std::string& path, DWORD access, DWORD flags = 0) {
        return k.CreateFileA(path.c_str(), access, kShare, nullptr, OPEN_EXISTING, flags, nullptr);
    }
    const std::string& Disk() { return pc.machine().disks[0].devicePath; }
    // The first byte of the sector at offset, read through h.
    int ByteAt(HANDLE h, std::int64_t offset) {
        alignas(512) std::uint8_t sector[512];
        LONG high = static_cast<LONG>(offset >> 32);
        k.SetFilePointer(h, static_cast<LONG>(offset & 0xFFFFFFFF), &high, FILE_BEGIN);
        DWORD done = 0;
        if (!k.ReadFile(h, sector, 512, &done, nullptr) || done != 512)
            return -1;
        return sector[0];
    }
    bool Put(HANDLE h, std::int64_t offset, std::uint8_t value) {
        alignas(512) std::uint8_t sector[512];
        std::memset(sector, value, sizeof sector);
        LONG high = static_cast<LONG>(offset >> 32);
        k.SetFilePointer(h, static_cast<LONG>(offset & 0xFFFFFFFF), &high, FILE_BEGIN);
        DWORD done = 0;
        return k.WriteFile(h, sector, 512, &done, nullptr) && done == 512;
    }
    bool Ioctl(HANDLE h, DWORD code, void* out = nullptr, DWORD size = 0) {
        DWORD returned = 0;
        return k.DeviceIoControl(h, code, nullptr, 0, out, size, &returned, nullptr) != FALSE;
    }
    void Fill(std::int64_t offset, std::uint8_t value) {
        pc.WriteImage("disk0.img", offset, std::vector<std::uint8_t>(512, value));
    }
};

// What reaches the medium past a buffered reader's device (an unbuffered handle, the drive
// itself) is not seen through its cache until the device's last handle closes.
TEST_F(SimCache, ABufferedReaderKeepsSeeingWhatItCachedUntilTheLastHandleCloses) {
    const std::int64_t at = 3 * 1024 * 1024;
    Fill(at, 0x11);
    HANDLE buffered = Open(Disk(), GENERIC_READ);
    ASSERT_EQ(ByteAt(buffered, at), 0x11);
    HANDLE direct = Open(Disk(), kRW, FILE_FLAG_NO_BUFFERING);
    ASSERT_TRUE(Put(direct, at, 0x22));
    EXPECT_EQ(ByteAt(direct, at), 0x22);
    EXPECT_EQ(ByteAt(buffered, at), 0x11); // the cached copy
    Fill(at, 0x33);                        // the drive's own erase, say
    EXPECT_EQ(ByteAt(buffered, at), 0x11);
    EXPECT_EQ(ByteAt(direct, at), 0x33);
    k.CloseHandle(direct);
    EXPECT_EQ(ByteAt(buffered, at), 0x11); // the buffered handle still holds the device
    // A block never read through the cache comes from the medium.
    Fill(at + 1024 * 1024, 0x44);
    EXPECT_EQ(ByteAt(buffered, at + 1024 * 1024), 0x44);
    k.CloseHandle(buffered);
    buffered = Open(Disk(), GENERIC_READ);
    EXPECT_EQ(ByteAt(buffered, at), 0x33);
    k.CloseHandle(buffered);
}

// A volume's cache is its own: a write through its disk is not seen there until the volume
// is locked or dismounted, which the system purges its cache for.
TEST_F(SimCache, AVolumesCacheIsPurgedByItsLockAndItsDismount) {
    for (DWORD purge : {FSCTL_LOCK_VOLUME, FSCTL_DISMOUNT_VOLUME}) {
        Fill(kPartE + 4096, 0x11);
        HANDLE volume = Open("\\\\.\\E:", kRW);
        ASSERT_EQ(ByteAt(volume, 4096), 0x11);
        HANDLE disk = Open(Disk(), kRW);
        ASSERT_TRUE(Put(disk, kPartE + 4096, 0x22));
        k.CloseHandle(disk);
        EXPECT_EQ(ByteAt(volume, 4096), 0x11) << purge;
        ASSERT_TRUE(Ioctl(volume, purge)) << purge;
        EXPECT_EQ(ByteAt(volume, 4096), 0x22) << purge;
        k.CloseHandle(volume);
    }
}

// A write the drive drops: a buffered handle reads back what it wrote (its cache), only an
// unbuffered read finds the block as it was; the blocks around it were written.
TEST_F(SimCache, ADroppedWriteIsFoundOnlyByAnUnbufferedRead) {
    pc.machine().disks[0].faults.lostWrites.push_back({2000, sim::Fault::Times(1, 0)});
    Fill(2000 * 512, 0x11);
    HANDLE disk = Open(Disk(), kRW);
    alignas(512) std::uint8_t block[3 * 512];
    std::memset(block, 0x5A, sizeof block);
    LONG high = 0;
    k.SetFilePointer(disk, 1999 * 512, &high, FILE_BEGIN);
    DWORD done = 0;
    ASSERT_TRUE(k.WriteFile(disk, block, sizeof block, &done, nullptr));
    EXPECT_EQ(done, sizeof block);
    EXPECT_EQ(ByteAt(disk, 2000 * 512), 0x5A);
    HANDLE direct = Open(Disk(), GENERIC_READ, FILE_FLAG_NO_BUFFERING);
    EXPECT_EQ(ByteAt(direct, 1999 * 512), 0x5A);
    EXPECT_EQ(ByteAt(direct, 2000 * 512), 0x11);
    EXPECT_EQ(ByteAt(direct, 2001 * 512), 0x5A);
    // The fault fired once: the next write of the block stays.
    EXPECT_TRUE(Put(disk, 2000 * 512, 0x66));
    EXPECT_EQ(ByteAt(direct, 2000 * 512), 0x66);
    k.CloseHandle(direct);
    k.CloseHandle(disk);
}

// The length of a device is its own, whatever its geometry counts; the request needs read
// access and a buffer of its size.
TEST_F(SimCache, TheLengthIsTheDevicesOwnBeyondItsCylinders) {
    GET_LENGTH_INFORMATION length{};
    HANDLE disk = Open(Disk(), GENERIC_READ);
    ASSERT_TRUE(Ioctl(disk, IOCTL_DISK_GET_LENGTH_INFO, &length, sizeof length));
    EXPECT_EQ(length.Length.QuadPart, kDiskBytes);
    DISK_GEOMETRY g{};
    ASSERT_TRUE(Ioctl(disk, IOCTL_DISK_GET_DRIVE_GEOMETRY, &g, sizeof g));
    EXPECT_LT(g.Cylinders.QuadPart * g.TracksPerCylinder * g.SectorsPerTrack * g.BytesPerSector,
              kDiskBytes);
    EXPECT_FALSE(Ioctl(disk, IOCTL_DISK_GET_LENGTH_INFO, &length, sizeof length - 1));
    EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    // The tail past the last cylinder is there to be written.
    HANDLE writer = Open(Disk(), kRW, FILE_FLAG_NO_BUFFERING);
    EXPECT_TRUE(Put(writer, kDiskBytes - 512, 0x77));
    k.CloseHandle(writer);
    k.CloseHandle(disk);
    EXPECT_EQ(pc.ReadImage("disk0.img", kDiskBytes - 512, 1)[0], 0x77);

    HANDLE query = Open(Disk(), 0);
    EXPECT_FALSE(Ioctl(query, IOCTL_DISK_GET_LENGTH_INFO, &length, sizeof length));
    EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    k.CloseHandle(query);

    for (const auto& [path, bytes] :
         {std::pair<std::string, std::int64_t>{"\\\\.\\E:", 1048576}, {"\\\\.\\A:", 1474560}}) {
        HANDLE h = Open(path, GENERIC_READ);
        ASSERT_TRUE(Ioctl(h, IOCTL_DISK_GET_LENGTH_INFO, &length, sizeof length)) << path;
        EXPECT_EQ(length.Length.QuadPart, bytes) << path;
        k.CloseHandle(h);
    }
}

} // namespace
