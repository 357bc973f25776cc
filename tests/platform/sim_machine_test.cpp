// The simulated PC must answer the raw device calls as Windows does, since the NT disk code
// is tested against it: share modes, locks, aligned transfers, exact ioctl sizes, the
// SetFilePointer rule, extents, faults, floppies and the format library.
#include "platform/sim/fmifs.h"
#include "platform/sim/sim.h"
#include "support/sim_pc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace {

using nlohmann::json;
using purgelet::testing::SimPC;
namespace sim = platform::sim;

constexpr DWORD kRW = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

// One 16-cylinder disk (8 MiB) with two partitions, a standalone drive and a floppy.
json TwoPartitionMachine() {
    return json::parse(R"J({
      "physicalDisks": [{"friendlyName": "SIM DISK", "deviceNumber": 0, "image": "disk0.img",
                         "geometry": {"cylinders": 16, "tracksPerCylinder": 16,
                                      "sectorsPerTrack": 64, "bytesPerSector": 512}}],
      "drives": [
        {"letter": "C", "disk": 0, "offset": 32768, "length": 4161536, "partitionType": 7,
         "boot": true, "partitionNumber": 1, "inUse": true,
         "volume": {"label": "SYSTEM", "fileSystem": "NTFS", "freeBytes": 1000}},
        {"letter": "E", "disk": 0, "offset": 4194304, "length": 4194304, "partitionType": 11,
         "partitionNumber": 2, "displayName": "Data (E:)",
         "volume": {"label": "DATA", "fileSystem": "FAT32", "serial": 4660}},
        {"letter": "R", "kind": "removable", "image": "stick.img", "size": 1048576,
         "volume": null},
        {"letter": "A", "kind": "floppy", "supportedMedia": ["F3_720_512", "F3_1Pt44_512"],
         "medium": {"type": "F3_1Pt44_512", "image": "floppy.img"}}
      ]})J");
}

class SimMachine : public ::testing::Test {
protected:
    SimPC pc{TwoPartitionMachine()};
    platform::Kernel32& k = platform::k32();

    HANDLE Open(const char* path, DWORD access, DWORD share = kShare, DWORD flags = 0) {
        return k.CreateFileA(path, access, share, nullptr, OPEN_EXISTING, flags, nullptr);
    }
    bool Ioctl(HANDLE h, DWORD code, void* out = nullptr, DWORD size = 0, DWORD* got = nullptr) {
        DWORD returned = 0;
        BOOL ok = k.DeviceIoControl(h, code, nullptr, 0, out, size, &returned, nullptr);
        if (got != nullptr)
            *got = returned;
        return ok != FALSE;
    }
};

TEST_F(SimMachine, ImagesAreCreatedAtTheirSizeWithAPartitionTable) {
    EXPECT_EQ(std::filesystem::file_size(pc.folder() / "disk0.img"), 8u << 20);
    EXPECT_EQ(std::filesystem::file_size(pc.folder() / "floppy.img"), 1474560u);
    auto mbr = pc.ReadImage("disk0.img", 0, 512);
    EXPECT_EQ(mbr[510], 0x55);
    EXPECT_EQ(mbr[511], 0xAA);
    EXPECT_EQ(mbr[446], 0x80);     // C: boots
    EXPECT_EQ(mbr[446 + 4], 7);    // NTFS
    EXPECT_EQ(mbr[462 + 4], 11);   // FAT32
    EXPECT_EQ(mbr[462 + 8], 0x00); // E: starts at sector 8192 = 0x2000
    EXPECT_EQ(mbr[462 + 9], 0x20);
}

TEST_F(SimMachine, MalformedMachinesAreRefusedWithTheEntryNamed) {
    auto bad = [](const char* text) {
        try {
            sim::Machine::Parse(json::parse(text), std::filesystem::temp_directory_path());
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    EXPECT_NE(bad(R"({"drives": [{"letter": "CC", "image": "x.img", "size": 512}]})")
                  .find("drives[0].letter"),
              std::string::npos);
    EXPECT_NE(bad(R"({"drives": [{"letter": "C", "disk": 3}]})").find("drives[0].disk"),
              std::string::npos);
    EXPECT_NE(bad(R"({"platform": "OS/2"})").find("platform"), std::string::npos);
    EXPECT_NE(bad(R"({"drives": [{"letter": "C", "kind": "tape", "image": "t", "size": 9}]})")
                  .find("kind"),
              std::string::npos);
    // Only plain files back a simulated disk: never a folder, never a real device.
    EXPECT_NE(bad(R"({"drives": [{"letter": "C", "image": ".", "size": 512}]})")
                  .find("is not a plain file"),
              std::string::npos);
    if (std::filesystem::exists("/dev/null")) {
        EXPECT_NE(bad(R"({"drives": [{"letter": "C", "image": "/dev/null", "size": 512}]})")
                      .find("is not a plain file"),
                  std::string::npos);
    }
}

TEST_F(SimMachine, DevicesOpenByLetterAndByPathOthersAreNotFound) {
    HANDLE c = Open("\\\\.\\c:", GENERIC_READ);
    ASSERT_NE(c, INVALID_HANDLE_VALUE);
    HANDLE disk = Open(pc.machine().disks[0].devicePath.c_str(), GENERIC_READ);
    ASSERT_NE(disk, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Open("\\\\.\\Q:", GENERIC_READ), INVALID_HANDLE_VALUE);
    EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(k.CloseHandle(c));
    EXPECT_TRUE(k.CloseHandle(disk));
    EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u);
}

TEST_F(SimMachine, ShareModesAndLocksExcludeOtherOpens) {
    HANDLE exclusive = Open("\\\\.\\E:", GENERIC_READ, 0);
    ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Open("\\\\.\\E:", GENERIC_READ), INVALID_HANDLE_VALUE);
    EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    k.CloseHandle(exclusive);

    HANDLE a = Open("\\\\.\\E:", kRW);
    HANDLE b = Open("\\\\.\\E:", GENERIC_READ);
    EXPECT_FALSE(Ioctl(a, FSCTL_LOCK_VOLUME)); // b is open on the volume
    EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    k.CloseHandle(b);
    EXPECT_TRUE(Ioctl(a, FSCTL_LOCK_VOLUME));
    EXPECT_EQ(Open("\\\\.\\E:", GENERIC_READ), INVALID_HANDLE_VALUE); // locked
    EXPECT_TRUE(Ioctl(a, FSCTL_UNLOCK_VOLUME));
    EXPECT_FALSE(Ioctl(a, FSCTL_UNLOCK_VOLUME));
    EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_NOT_LOCKED));
    k.CloseHandle(a);
}

TEST_F(SimMachine, AVolumeInUseLocksOnlyAfterADismount) {
    HANDLE c = Open("\\\\.\\C:", kRW);
    EXPECT_FALSE(Ioctl(c, FSCTL_LOCK_VOLUME));
    EXPECT_TRUE(Ioctl(c, FSCTL_DISMOUNT_VOLUME));
    k.CloseHandle(c);
    c = Open("\\\\.\\C:", kRW);
    EXPECT_TRUE(Ioctl(c, FSCTL_LOCK_VOLUME));
    k.CloseHandle(c);
}

TEST_F(SimMachine, IoctlsAnswerExactSizesAndRefuseShortBuffers) {
    HANDLE e = Open("\\\\.\\E:", 0);
    ASSERT_NE(e, INVALID_HANDLE_VALUE);
    DISK_GEOMETRY g;
    DWORD got = 0;
    EXPECT_FALSE(Ioctl(e, IOCTL_DISK_GET_DRIVE_GEOMETRY, &g, sizeof(g) - 1));
    EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_TRUE(Ioctl(e, IOCTL_DISK_GET_DRIVE_GEOMETRY, &g, sizeof(g), &got));
    EXPECT_EQ(got, 24u);
    EXPECT_EQ(g.SectorsPerTrack, 64u);
    PARTITION_INFORMATION p;
    ASSERT_TRUE(Ioctl(e, IOCTL_DISK_GET_PARTITION_INFO, &p, sizeof(p), &got));
    EXPECT_EQ(got, 32u);
    EXPECT_EQ(p.StartingOffset.QuadPart, 4194304);
    EXPECT_EQ(p.PartitionLength.QuadPart, 4194304);
    EXPECT_EQ(p.PartitionType, 11);
    STORAGE_DEVICE_NUMBER n;
    ASSERT_TRUE(Ioctl(e, IOCTL_STORAGE_GET_DEVICE_NUMBER, &n, sizeof(n), &got));
    EXPECT_EQ(got, 12u);
    EXPECT_EQ(n.PartitionNumber, 2u);
    k.CloseHandle(e);

    HANDLE r = Open("\\\\.\\R:", 0); // an image of its own lies on no numbered disk
    EXPECT_FALSE(Ioctl(r, IOCTL_STORAGE_GET_DEVICE_NUMBER, &n, sizeof(n)));
    k.CloseHandle(r);
}

TEST_F(SimMachine, SetFilePointerFollowsTheWindowsRule) {
    HANDLE disk = Open(pc.machine().disks[0].devicePath.c_str(), GENERIC_READ);
    k.SetLastError(ERROR_ACCESS_DENIED);
    LONG high = 0;
    EXPECT_EQ(k.SetFilePointer(disk, -1, &high, FILE_BEGIN), 0xFFFFFFFFu); // 4 GiB - 1
    EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(k.SetFilePointer(disk, -1, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
    pc.machine().disks[0].faults.seek = sim::Fault::Times(1, ERROR_SEEK);
    high = 0;
    EXPECT_EQ(k.SetFilePointer(disk, 512, &high, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_SEEK));
    EXPECT_EQ(k.SetFilePointer(disk, 512, &high, FILE_BEGIN), 512u);
    k.CloseHandle(disk);
}

TEST_F(SimMachine, TransfersStayInsideTheirDeviceAndMoveWholeSectors) {
    HANDLE e = Open("\\\\.\\E:", GENERIC_READ);
    std::vector<char> buffer(4096);
    DWORD done = 0;
    LONG high = 0;
    k.SetFilePointer(e, 4194304 - 512, &high, FILE_BEGIN);
    EXPECT_FALSE(k.ReadFile(e, buffer.data(), 1024, &done, nullptr));
    EXPECT_EQ(done, 0u);
    ASSERT_EQ(pc.machine().outOfExtent.size(), 1u);
    EXPECT_EQ(pc.machine().outOfExtent[0].device, "\\\\.\\E:");
    EXPECT_TRUE(k.ReadFile(e, buffer.data(), 512, &done, nullptr));
    EXPECT_EQ(done, 512u);
    high = 0;
    k.SetFilePointer(e, 100, &high, FILE_BEGIN);
    EXPECT_FALSE(k.ReadFile(e, buffer.data(), 512, &done, nullptr));
    EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(k.WriteFile(e, buffer.data(), 512, &done, nullptr)); // opened to read
    EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    k.CloseHandle(e);
}

TEST_F(SimMachine, UnbufferedTransfersNeedAlignedBuffers) {
    HANDLE e = Open("\\\\.\\E:", kRW, kShare, FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH);
    ASSERT_TRUE(Ioctl(e, FSCTL_LOCK_VOLUME));
    alignas(512) static char buffer[2048];
    DWORD done = 0;
    EXPECT_FALSE(k.WriteFile(e, buffer + 1, 512, &done, nullptr));
    EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(k.WriteFile(e, buffer, 512, &done, nullptr));
    k.CloseHandle(e);
}

TEST_F(SimMachine, APartitionWriteLandsInItsWindowOfTheDiskAndUnmountsTheVolume) {
    HANDLE e = Open("\\\\.\\E:", kRW);
    ASSERT_TRUE(Ioctl(e, FSCTL_LOCK_VOLUME));
    std::vector<char> data(1024, 'W');
    DWORD done = 0;
    LONG high = 0;
    k.SetFilePointer(e, 512, &high, FILE_BEGIN);
    ASSERT_TRUE(k.WriteFile(e, data.data(), 1024, &done, nullptr));
    k.CloseHandle(e);
    auto bytes = pc.ReadImage("disk0.img", 4194304 + 512, 1024);
    EXPECT_EQ(bytes, std::vector<std::uint8_t>(1024, 'W'));
    char label[32], fs[32];
    EXPECT_FALSE(k.GetVolumeInformationA("E:\\", label, 32, nullptr, nullptr, nullptr, fs, 32));
    EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_UNRECOGNIZED_VOLUME));
}

TEST_F(SimMachine, LaterBuildsRefuseWritesToAMountedVolumeThatIsNotLocked) {
    pc.kernel().buildNumber = 7601;
    HANDLE e = Open("\\\\.\\E:", kRW);
    std::vector<char> data(512, 1);
    DWORD done = 0;
    EXPECT_FALSE(k.WriteFile(e, data.data(), 512, &done, nullptr));
    EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    k.CloseHandle(e);
}

TEST_F(SimMachine, BlockFaultsFailOrShortenTransfersTheFirstNTimes) {
    pc.drive('E').faults.writeBlocks.push_back({3, sim::Fault::Times(1, ERROR_WRITE_FAULT)});
    pc.drive('E').faults.readBlocks.push_back({2, sim::Fault::Always(ERROR_CRC), true});
    HANDLE e = Open("\\\\.\\E:", kRW);
    ASSERT_TRUE(Ioctl(e, FSCTL_LOCK_VOLUME));
    std::vector<char> data(4 * 512, 'x');
    DWORD done = 0;
    LONG high = 0;
    EXPECT_FALSE(k.WriteFile(e, data.data(), 4 * 512, &done, nullptr));
    EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_WRITE_FAULT));
    k.SetFilePointer(e, 0, &high, FILE_BEGIN);
    EXPECT_TRUE(k.WriteFile(e, data.data(), 4 * 512, &done, nullptr));
    EXPECT_EQ(done, 4u * 512);
    k.SetFilePointer(e, 0, &high, FILE_BEGIN);
    EXPECT_TRUE(k.ReadFile(e, data.data(), 4 * 512, &done, nullptr));
    EXPECT_EQ(done, 2u * 512); // stops before block 2
    k.CloseHandle(e);
}

TEST_F(SimMachine, FloppiesListTheirMediaAndAnswerNotReadyWhenEmpty) {
    HANDLE a = Open("\\\\.\\A:", GENERIC_READ);
    std::vector<DISK_GEOMETRY> media(1025);
    DWORD got = 0;
    ASSERT_TRUE(Ioctl(a, IOCTL_DISK_GET_MEDIA_TYPES, media.data(), 24600, &got));
    ASSERT_EQ(got, 48u);
    EXPECT_EQ(media[0].MediaType, F3_720_512);
    EXPECT_EQ(media[1].SectorsPerTrack, 18u);
    pc.machine().EjectMedium('A');
    DISK_GEOMETRY g;
    EXPECT_FALSE(Ioctl(a, IOCTL_DISK_GET_DRIVE_GEOMETRY, &g, sizeof(g)));
    EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_NOT_READY));
    pc.machine().InsertMedium('A', F3_720_512, "720.img");
    ASSERT_TRUE(Ioctl(a, IOCTL_DISK_GET_DRIVE_GEOMETRY, &g, sizeof(g)));
    EXPECT_EQ(g.SectorsPerTrack, 9u);
    k.CloseHandle(a);
}

TEST_F(SimMachine, DrivesAndVolumesAnswerTheirQueries) {
    EXPECT_EQ(k.GetDriveTypeA("C:\\"), static_cast<UINT>(DRIVE_FIXED));
    EXPECT_EQ(k.GetDriveTypeA("R:\\"), static_cast<UINT>(DRIVE_REMOVABLE));
    EXPECT_EQ(k.GetDriveTypeA("Z:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
    EXPECT_EQ(k.GetLogicalDrives(), (1u << 0) | (1u << 2) | (1u << 4) | (1u << 17));
    char label[32], fs[32];
    DWORD serial = 0;
    ASSERT_TRUE(k.GetVolumeInformationA("E:\\", label, 32, &serial, nullptr, nullptr, fs, 32));
    EXPECT_STREQ(label, "DATA");
    EXPECT_STREQ(fs, "FAT32");
    EXPECT_EQ(serial, 4660u);
    EXPECT_FALSE(k.GetVolumeInformationA("E:\\", label, 3, nullptr, nullptr, nullptr, fs, 32));
    EXPECT_FALSE(k.GetVolumeInformationA("R:\\", label, 32, nullptr, nullptr, nullptr, fs, 32));
    ULARGE_INTEGER freeToCaller, total, totalFree;
    ASSERT_TRUE(k.GetDiskFreeSpaceExA("C:\\", &freeToCaller, &total, &totalFree));
    EXPECT_EQ(total.QuadPart, 4161536u);
    EXPECT_EQ(totalFree.QuadPart, 1000u);
    SHFILEINFOA info;
    EXPECT_NE(platform::sys().shell32->SHGetFileInfoA("E:\\", 0, &info, sizeof(info), 0x301), 0u);
    EXPECT_STREQ(info.szDisplayName, "Data (E:)");
    EXPECT_EQ(platform::sys().shell32->SHGetFileInfoA("C:\\", 0, &info, sizeof(info), 0x301), 0u);
}

// ---- The format library

struct FormatTrace {
    std::vector<DWORD> percents;
    int done = -1;
    int cancelAt = 0;
};
FormatTrace* trace = nullptr;

BOOLEAN PURGELET_FMIFS_CALLBACK Trace(DWORD command, DWORD, LPVOID info) {
    if (command == platform::FMIFS_PROGRESS) {
        trace->percents.push_back(*static_cast<DWORD*>(info));
        return trace->cancelAt == 0 || static_cast<int>(trace->percents.size()) < trace->cancelAt;
    }
    if (command == platform::FMIFS_DONE)
        trace->done = *static_cast<BOOLEAN*>(info);
    return TRUE;
}

std::basic_string<WCHAR> W(const char* text) {
    std::basic_string<WCHAR> wide;
    while (*text)
        wide.push_back(static_cast<WCHAR>(*text++));
    return wide;
}

class SimFormat : public SimMachine {
protected:
    FormatTrace t;
    void SetUp() override { trace = &t; }
    void TearDown() override { trace = nullptr; }
    void Format(const char* root, DWORD media, const char* fs) {
        platform::sys().fmifs->FormatEx(W(root).c_str(), media, W(fs).c_str(), W("NEW").c_str(),
                                        FALSE, 0, &Trace);
    }
};

TEST_F(SimFormat, WritesARecognisableBootSectorAfterItsProgressSteps) {
    pc.drive('E').format.steps = 4;
    Format("E:", FMIFS_HARDDISK, "FAT32");
    EXPECT_EQ(t.percents, (std::vector<DWORD>{25, 50, 75, 100}));
    EXPECT_EQ(t.done, 1);
    auto boot = pc.ReadImage("disk0.img", 4194304, 512);
    EXPECT_EQ(std::string(boot.begin() + 82, boot.begin() + 90), "FAT32   ");
    EXPECT_EQ(std::string(boot.begin() + 71, boot.begin() + 74), "NEW");
    EXPECT_EQ(boot[510], 0x55);
    char label[32], fs[32];
    ASSERT_TRUE(k.GetVolumeInformationA("E:\\", label, 32, nullptr, nullptr, nullptr, fs, 32));
    EXPECT_STREQ(fs, "FAT32");
    EXPECT_STREQ(label, "NEW");
    // C: lies before E: on the same disk and was not touched.
    EXPECT_EQ(pc.ReadImage("disk0.img", 4194304 - 512, 512), std::vector<std::uint8_t>(512, 0));
}

TEST_F(SimFormat, NtfsFat16AndFat12HeadsNameTheirFileSystem) {
    auto head = [](const char* fs) {
        DISK_GEOMETRY g{};
        g.SectorsPerTrack = 63;
        g.TracksPerCylinder = 255;
        auto bytes = sim::FormattedHead(fs, 8192, 512, 0, "", 1, g, 0, false);
        return bytes.size() >= 512 ? bytes : std::vector<unsigned char>(512);
    };
    auto ntfs = head("NTFS");
    EXPECT_EQ(std::string(ntfs.begin() + 3, ntfs.begin() + 11), "NTFS    ");
    auto fat16 = head("FAT16");
    EXPECT_EQ(std::string(fat16.begin() + 54, fat16.begin() + 62), "FAT16   ");
    auto fat12 = head("FAT12");
    EXPECT_EQ(std::string(fat12.begin() + 54, fat12.begin() + 62), "FAT12   ");
    EXPECT_TRUE(sim::FormattedHead("HPFS", 8192, 512, 0, "", 1, {}, 0, false).empty());
}

TEST_F(SimFormat, ACancelStopsTheFormatBeforeItWritesAnything) {
    t.cancelAt = 2;
    auto before = pc.ReadImage("disk0.img", 4194304, 512);
    Format("E:", FMIFS_HARDDISK, "NTFS");
    EXPECT_EQ(t.percents.size(), 2u);
    EXPECT_EQ(t.done, -1);
    EXPECT_EQ(pc.ReadImage("disk0.img", 4194304, 512), before);
}

TEST_F(SimFormat, FailuresAreReportedThroughTheDoneCommand) {
    pc.drive('E').format.fails = true;
    pc.drive('E').format.failAfterSteps = 3;
    pc.drive('E').format.error = ERROR_WRITE_FAULT;
    Format("E:", FMIFS_HARDDISK, "NTFS");
    EXPECT_EQ(t.percents.size(), 3u);
    EXPECT_EQ(t.done, 0);
    EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_WRITE_FAULT));
    t = FormatTrace{};
    pc.drive('E').format.fails = false;
    Format("E:", FMIFS_HARDDISK, "Unknown"); // no such file system
    EXPECT_EQ(t.done, 0);
    t = FormatTrace{};
    Format("A:", FMIFS_HARDDISK, "FAT12"); // a floppy is formatted as a floppy
    EXPECT_EQ(t.done, 0);
    t = FormatTrace{};
    HANDLE e = Open("\\\\.\\E:", GENERIC_READ);
    Format("E:", FMIFS_HARDDISK, "NTFS"); // the volume is in use
    EXPECT_EQ(t.done, 0);
    k.CloseHandle(e);
}

TEST(SimSystem, TheFormatLibraryFollowsThePlatformAndTheMachine) {
    SimPC nine(json::parse(R"({"platform": "9x"})"));
    EXPECT_EQ(platform::sys().fmifs, nullptr);
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof(version);
    ASSERT_TRUE(platform::k32().GetVersionExA(&version));
    EXPECT_EQ(version.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_WINDOWS));
    SimPC partial(json::parse(R"({"formatLibrary": "noFormatEx"})"));
    ASSERT_NE(platform::sys().fmifs, nullptr);
    EXPECT_FALSE(platform::sys().fmifs->HasEntry("FormatEx"));
    EXPECT_TRUE(platform::sys().fmifs->HasEntry("ChkDsk"));
}

TEST(SimSystem, AMachineFileIsReadFromDiskWithImagesBesideIt) {
    auto folder = std::filesystem::temp_directory_path() / "purgelet-sim-machine-file";
    std::filesystem::create_directories(folder);
    {
        std::ofstream(folder / "pc.json")
            << R"({"drives": [{"letter": "D", "image": "sub/d.img", "size": 65536}]})";
    }
    {
        platform::ScopedSystem scope(sim::CreateSimSystem((folder / "pc.json").string()));
        ASSERT_NE(sim::CurrentMachine(), nullptr);
        EXPECT_EQ(std::filesystem::file_size(folder / "sub" / "d.img"), 65536u);
        EXPECT_EQ(platform::k32().GetDriveTypeA("D:\\"), static_cast<UINT>(DRIVE_FIXED));
    }
    std::filesystem::remove_all(folder);
    EXPECT_THROW(sim::CreateSimSystem((folder / "absent.json").string()), std::runtime_error);
}

} // namespace

namespace {

// The example of the machine-file documentation is a machine the sim runs.
TEST(SimSystem, TheDocumentedExampleMachineRuns) {
    std::ifstream doc(std::string(PURGELET_SOURCE_DIR) + "/docs/machine-file.md");
    ASSERT_TRUE(doc.good());
    std::string text((std::istreambuf_iterator<char>(doc)), std::istreambuf_iterator<char>());
    auto start = text.find("```json\n");
    ASSERT_NE(start, std::string::npos);
    start += 8;
    auto end = text.find("```", start);
    SimPC pc(json::parse(text.substr(start, end - start)));
    EXPECT_EQ(pc.machine().drives.size(), 4u);
    EXPECT_EQ(platform::k32().GetDriveTypeA("A:\\"), static_cast<UINT>(DRIVE_REMOVABLE));
    std::unique_ptr<platform::RegistryKey> key;
    EXPECT_EQ(platform::sys().registry->OpenKey(platform::RegistryRoot::CurrentUser,
                                                "Software\\Quillon\\Purgelet 2005", false, key),
              ERROR_SUCCESS);
}

} // namespace
