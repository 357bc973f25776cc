// The NT disk code on the real Windows back-end, under Wine. The test runner gives the Wine
// prefix a raw volume: \\.\X: is a 1 MiB image file of the prefix (dosdevices "x::"). Wine
// opens, reads, writes and locks it and answers the drive and volume queries; it does not
// implement the disk geometry and partition ioctls, so init fails there, which the tests
// assert rather than fake. Elsewhere (Linux, real Windows without that volume) they skip.
#include "disk/nt/nt_disk.h"
#include "nt_sim_machines.h"
#include "support/recording_owner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace purgelet {
namespace {

class NTOnWine : public ::testing::Test {
protected:
    void SetUp() override {
        auto& k = platform::k32();
        std::string exe = k.GetModuleFileNameA();
        std::transform(exe.begin(), exe.end(), exe.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        prefix = k.GetEnvironmentVariableA("WINEPREFIX");
        if (exe.size() < 4 || exe.substr(exe.size() - 4) != ".exe" || !prefix)
            GTEST_SKIP() << "needs the win32 build running under Wine";
        HANDLE probe = k.CreateFileA("\\\\.\\X:", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
        if (probe == INVALID_HANDLE_VALUE)
            GTEST_SKIP() << "the Wine prefix has no raw volume X: (see cmake/wine-run.sh)";
        k.CloseHandle(probe);
    }
    // The image behind \\.\X:, through Wine's Z: drive.
    std::vector<std::uint8_t> ImageBytes(std::int64_t offset, std::size_t size) {
        std::string path = "Z:" + *prefix + "/purgelet-x.img";
        std::replace(path.begin(), path.end(), '/', '\\');
        std::ifstream in(path, std::ios::binary);
        in.seekg(offset);
        std::vector<std::uint8_t> bytes(size);
        in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
        return bytes;
    }

    platform::ScopedSystem scope{platform::CreateNativeSystem()};
    std::optional<std::string> prefix;
    testing::RecordingOwner owner;
};

TEST_F(NTOnWine, TheDriveAndVolumeQueriesAnswer) {
    auto& k = platform::k32();
    EXPECT_EQ(k.GetDriveTypeA("X:\\"), static_cast<UINT>(DRIVE_FIXED));
    char label[64], fs[64];
    DWORD serial = 0;
    EXPECT_TRUE(k.GetVolumeInformationA("X:\\", label, 64, &serial, nullptr, nullptr, fs, 64));
}

TEST_F(NTOnWine, InitStopsAtTheGeometryIoctlWhichWineDoesNotImplement) {
    try {
        MakeDisk<TNTLogicalDisk>("X", &owner);
        FAIL() << "Wine answered the geometry ioctl: the test can now check init fully";
    } catch (const XDeviceIOControl& e) {
        EXPECT_EQ(std::string(e.what()).rfind(
                      "NTLogicalDisk.init - DeviceIoControl(IOCTL_DISK_GET_DRIVE_GEOMETRY) : ", 0),
                  0u);
    }
}

// At a depth above 1 the device is opened for overlapped transfers, and the lock, the unlock
// and every transfer go with an OVERLAPPED.
TEST_F(NTOnWine, ALockedVolumeIsWrittenAndReadBackThroughTheRawDevice) {
    for (std::int32_t depth : {1, 4}) {
        SCOPED_TRACE(std::to_string(depth) + " in flight");
        TNTLogicalDisk x("X", &owner); // constructed without init: Wine has no geometry to give
        x.BlockSize = 512;
        x.BlockCount = 2048;
        TOpenMode mode;
        mode.TransfersInFlight = depth;
        x.OpenForWipe(mode); // locks
        const auto fill = static_cast<std::uint8_t>(0x50 + depth);
        alignas(4096) static std::uint8_t data[1024];
        std::fill(std::begin(data), std::end(data), fill);
        x.WriteBlocks(data, 2, 3);
        alignas(4096) static std::uint8_t back[1024];
        std::fill(std::begin(back), std::end(back), 0);
        x.ReadBlocks(back, 2, 3);
        x.Close(); // unlocks
        EXPECT_TRUE(std::equal(std::begin(data), std::end(data), std::begin(back)));
        EXPECT_TRUE(owner.questions.empty());
        EXPECT_EQ(ImageBytes(3 * 512, 1024), std::vector<std::uint8_t>(1024, fill));

        x.Open(true);
        EXPECT_THROW(x.WriteBlocks(data, 1, 0), XReadOnly);
        x.Close();
    }
}

} // namespace
} // namespace purgelet
