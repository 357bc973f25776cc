// Where a simulated PC keeps its images, how they are created, the real-time pace of its
// devices, and the demo machine the project ships.
#include "platform/sim/machine.h"
#include "platform/sim/sim.h"
#include "platform/system.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
namespace sim = platform::sim;
using nlohmann::json;

// A scratch folder of its own for each test.
class Scratch {
public:
    Scratch() {
        static std::atomic<int> counter{0};
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        path_ = fs::temp_directory_path() /
                ("purgelet-images-" + std::to_string(stamp) + "-" + std::to_string(counter++));
        fs::create_directories(path_);
    }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// Sets environment variables for a test and puts the old values back. An empty value is
// what the user-data rules treat as unset.
class ScopedEnv {
public:
    ~ScopedEnv() {
        for (const auto& [name, value] : saved_)
            Put(name, value);
    }
    void Set(const std::string& name, const std::string& value) {
        if (!saved_.count(name)) {
            const char* old = std::getenv(name.c_str());
            saved_[name] = old != nullptr ? old : "";
        }
        Put(name, value);
    }

private:
    static void Put(const std::string& name, const std::string& value) {
        static std::deque<std::string> kept; // putenv keeps the string itself
        kept.push_back(name + "=" + value);
        putenv(kept.back().data());
    }
    std::map<std::string, std::string> saved_;
};

json OneDrive(const std::string& imageDir) {
    json machine = {{"drives", {{{"letter", "D"}, {"image", "d.img"}, {"size", 65536}}}}};
    machine["imageDir"] = imageDir;
    return machine;
}

TEST(SimImages, ARelativeImageFolderIsTheMachineFilesAndIsCreated) {
    Scratch scratch;
    auto m = sim::Machine::Parse(OneDrive("images/demo"), scratch.path());
    EXPECT_EQ(m->imageDir, scratch.path() / "images" / "demo");
    EXPECT_TRUE(fs::is_directory(scratch.path() / "images" / "demo"));
    EXPECT_EQ(fs::file_size(scratch.path() / "images" / "demo" / "d.img"), 65536u);
    EXPECT_FALSE(fs::exists(scratch.path() / "d.img"));

    // Without the key the images stay beside the machine file; an absolute folder is taken.
    json plain = OneDrive("x");
    plain.erase("imageDir");
    sim::Machine::Parse(plain, scratch.path());
    EXPECT_TRUE(fs::exists(scratch.path() / "d.img"));
    sim::Machine::Parse(OneDrive((scratch.path() / "abs").string()), scratch.path() / "elsewhere");
    EXPECT_TRUE(fs::exists(scratch.path() / "abs" / "d.img"));
}

// Only a fresh disk image gets a partition table: a disk in the image folder that was wiped
// stays wiped when the machine is loaded again.
TEST(SimImages, ADiskInTheImageFolderKeepsItsContentsAcrossLoads) {
    Scratch scratch;
    json machine = json::parse(R"({"imageDir": "images", "physicalDisks": [{"image": "d0.img"}],
        "drives": [{"letter": "C", "disk": 0}]})");
    const fs::path image = scratch.path() / "images" / "d0.img";
    auto signature = [&] {
        std::ifstream in(image, std::ios::binary);
        in.seekg(510);
        const int first = in.get();
        return std::make_pair(first, in.get());
    };
    sim::Machine::Parse(machine, scratch.path());
    EXPECT_EQ(signature(), std::make_pair(0x55, 0xAA));
    {
        std::fstream out(image, std::ios::in | std::ios::out | std::ios::binary);
        out.seekp(510);
        out.write("\0\0", 2);
    }
    sim::Machine::Parse(machine, scratch.path());
    EXPECT_EQ(signature(), std::make_pair(0, 0));
}

TEST(SimImages, UserDataFollowsXdgThenHome) {
    Scratch scratch;
    ScopedEnv env;
    env.Set("XDG_DATA_HOME", (scratch.path() / "xdg").string());
    env.Set("HOME", (scratch.path() / "home").string());
    sim::Machine::Parse(OneDrive("@userdata/purgelet/demo"), scratch.path() / "machines");
    EXPECT_TRUE(fs::exists(scratch.path() / "xdg" / "purgelet" / "demo" / "d.img"));

    // An unset or relative XDG_DATA_HOME does not count: HOME's .local/share does.
    for (const char* xdg : {"", "relative/data"}) {
        env.Set("XDG_DATA_HOME", xdg);
        auto m = sim::Machine::Parse(OneDrive("@userdata/p"), scratch.path());
        EXPECT_EQ(m->imageDir, scratch.path() / "home" / ".local" / "share" / "p") << xdg;
        EXPECT_TRUE(fs::exists(m->imageDir / "d.img")) << xdg;
    }
    EXPECT_FALSE(fs::exists(scratch.path() / "relative"));

    // Names that would leave the user's data folder, or a data folder that cannot be found.
    for (const char* bad : {"@userdata/../escape", "@userdata//etc", "@userdataX", ""})
        EXPECT_THROW(sim::Machine::Parse(OneDrive(bad), scratch.path()), std::runtime_error) << bad;
    env.Set("HOME", "");
    env.Set("LOCALAPPDATA", "");
    EXPECT_THROW(sim::Machine::Parse(OneDrive("@userdata/p"), scratch.path()), std::runtime_error);
    EXPECT_FALSE(fs::exists(scratch.path() / "escape"));
}

TEST(SimImages, FreshImagesAreSparse) {
    Scratch scratch;
    const std::int64_t size = 64 << 20;
    json machine = json::parse(R"({"physicalDisks": [{"image": "big.img",
        "geometry": {"cylinders": 128, "tracksPerCylinder": 16, "sectorsPerTrack": 64}}],
        "drives": [{"letter": "C", "disk": 0}]})");
    auto m = sim::Machine::Parse(machine, scratch.path());
    const fs::path image = scratch.path() / "big.img";
    EXPECT_EQ(static_cast<std::int64_t>(fs::file_size(image)), size);
    auto allocated = sim::AllocatedBytes(image);
    if (fs::path::preferred_separator == '/') { // a POSIX host tells what it allocated
        ASSERT_TRUE(allocated.has_value());
    }
    if (allocated) { // only the partition table was written
        EXPECT_LT(*allocated, 1 << 20);
    }
}

// An image smaller than its disk (a machine file whose disk grew) keeps its bytes and is
// given the rest.
TEST(SimImages, AShortImageKeepsItsBytesAndGrowsToItsDisk) {
    Scratch scratch;
    const fs::path image = scratch.path() / "short.img";
    std::ofstream(image, std::ios::binary) << std::string(4096, '\x5A');
    json machine = json::parse(R"({"physicalDisks": [{"image": "short.img",
        "geometry": {"cylinders": 2, "tracksPerCylinder": 16, "sectorsPerTrack": 64}}],
        "drives": [{"letter": "C", "disk": 0}]})");
    auto m = sim::Machine::Parse(machine, scratch.path());
    EXPECT_EQ(static_cast<std::int64_t>(fs::file_size(image)), 2 * 16 * 64 * 512);
    std::ifstream in(image, std::ios::binary);
    std::string head(4096, '\0');
    in.read(head.data(), 4096);
    EXPECT_EQ(head.substr(1024), std::string(3072, '\x5A')); // past the table it writes
}

// Reads size bytes from a device of the installed machine, returning the real time taken.
std::chrono::duration<double> TimedRead(const char* device, DWORD size) {
    auto& k = platform::k32();
    HANDLE h = k.CreateFileA(device, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << device;
    std::vector<char> buffer(size);
    DWORD done = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(k.ReadFile(h, buffer.data(), size, &done, nullptr)) << device;
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(done, size) << device;
    k.CloseHandle(h);
    return elapsed;
}

TEST(SimImages, PacedDevicesTakeTheirTimeAndTheClockStays) {
    Scratch scratch;
    json machine = json::parse(R"({
      "physicalDisks": [{"image": "disk.img", "bytesPerSecond": 524288}],
      "drives": [
        {"letter": "C", "disk": 0},
        {"letter": "R", "kind": "removable", "image": "r.img", "size": 1048576,
         "bytesPerSecond": 1048576},
        {"letter": "A", "kind": "floppy", "bytesPerSecond": 262144,
         "medium": {"type": "F3_1Pt44_512", "image": "a.img"}},
        {"letter": "F", "image": "fast.img", "size": 1048576}]})");
    std::shared_ptr<sim::Machine> m = sim::Machine::Parse(machine, scratch.path());
    platform::ScopedSystem scope(sim::CreateSimSystem(m));
    const DWORD ticks = platform::k32().GetTickCount();
    using ms = std::chrono::milliseconds;
    // 62.5 ms each: the bytes over the pace of the device (a partition's is its disk's).
    EXPECT_GE(TimedRead("\\\\.\\C:", 32768), ms(62));
    EXPECT_GE(TimedRead("\\\\.\\PhysicalDrive0", 32768), ms(62));
    EXPECT_GE(TimedRead("\\\\.\\R:", 65536), ms(62));
    EXPECT_GE(TimedRead("\\\\.\\A:", 16384), ms(62));
    TimedRead("\\\\.\\F:", 1048576); // no pace: no lower bound to hold
    EXPECT_EQ(platform::k32().GetTickCount(), ticks);

    // A pace is positive, and a partition has none of its own.
    json partition = json::parse(R"({"physicalDisks": [{"image": "p.img"}],
        "drives": [{"letter": "C", "disk": 0, "bytesPerSecond": 1000}]})");
    EXPECT_THROW(sim::Machine::Parse(partition, scratch.path()), std::runtime_error);
    json zero = OneDrive(scratch.path().string());
    zero["drives"][0]["bytesPerSecond"] = 0;
    EXPECT_THROW(sim::Machine::Parse(zero, scratch.path()), std::runtime_error);
}

// The shipped demo machine parses and has the drives the demo shows, each paced for a
// one-pass wipe of a few seconds. Its images go to a scratch folder, not the user's.
TEST(SimImages, TheShippedDemoMachineRuns) {
    const fs::path folder = fs::path(PURGELET_SOURCE_DIR) / "machines";
    std::ifstream in(folder / "demo.json", std::ios::binary);
    ASSERT_TRUE(in.good());
    json file = json::parse(in, nullptr, true, true);
    EXPECT_EQ(file.value("imageDir", ""), "@userdata/purgelet/demo");
    EXPECT_EQ(file.value("desktopFolder", ""), "@userdata/purgelet/demo/Desktop");
    EXPECT_EQ(file.value("registryFile", ""), "registry.json"); // beside the images
    EXPECT_EQ(file.value("clock", ""), "real");
    Scratch scratch;
    file["imageDir"] = scratch.path().string();
    file["desktopFolder"] = (scratch.path() / "Desktop").string();
    std::shared_ptr<sim::Machine> m = sim::Machine::Parse(file, folder);
    EXPECT_EQ(m->registryFile, scratch.path() / "registry.json");
    platform::ScopedSystem scope(sim::CreateSimSystem(m));
    auto& k = platform::k32();

    ASSERT_EQ(m->disks.size(), 3u);
    EXPECT_EQ(m->disks[0].friendlyName, "DEMO SYSTEM DISK");
    EXPECT_EQ(m->disks[1].geometry.MediaType, RemovableMedia);
    // An NVMe drive of its own erase, with nothing on it that a drive letter shows.
    const sim::PhysicalDisk& nvme = m->disks[2];
    EXPECT_EQ(nvme.identity.busType, static_cast<DWORD>(BusTypeNvme));
    EXPECT_EQ(nvme.identity.revision, "1B2QDEMO");
    ASSERT_TRUE(nvme.firmware.has_value());
    EXPECT_EQ(nvme.firmware->commandSet, sim::FirmwareDrive::CommandSet::Nvme);
    EXPECT_TRUE(nvme.firmware->sanitizeCrypto && nvme.firmware->sanitizeBlock);
    EXPECT_GT(nvme.firmware->polls, 1);
    EXPECT_GT(nvme.firmware->estimatedSeconds, 0u);
    for (char letter = 'A'; letter <= 'Z'; ++letter)
        if (const sim::Drive* drive = m->FindDrive(letter)) {
            EXPECT_NE(drive->disk, 2) << letter;
        }
    struct Expected {
        char letter;
        UINT type;
        const char* label;
        const char* fileSystem;
        const char* displayName;
    };
    for (const Expected& e :
         {Expected{'A', DRIVE_REMOVABLE, "", "FAT12", "3.5 Floppy (A:)"},
          Expected{'C', DRIVE_FIXED, "SYSTEM", "NTFS", "SYSTEM (C:)"},
          Expected{'D', DRIVE_FIXED, "DATA", "FAT32", "DATA (D:)"},
          Expected{'E', DRIVE_REMOVABLE, "KINGSTON", "FAT32", "KINGSTON (E:)"},
          Expected{'N', DRIVE_REMOTE, "", "NTFS", "public on 'FILESERVER' (N:)"}}) {
        const std::string root = std::string(1, e.letter) + ":\\";
        SCOPED_TRACE(root);
        EXPECT_EQ(k.GetDriveTypeA(root.c_str()), e.type);
        char label[64] = {}, fileSystem[16] = {};
        ASSERT_TRUE(k.GetVolumeInformationA(root.c_str(), label, sizeof(label), nullptr, nullptr,
                                            nullptr, fileSystem, sizeof(fileSystem)));
        EXPECT_STREQ(label, e.label);
        EXPECT_STREQ(fileSystem, e.fileSystem);
        EXPECT_EQ(m->FindDrive(e.letter)->displayName.value_or(""), e.displayName);
    }
    EXPECT_TRUE(m->FindDrive('C')->inUse); // its lock asks to force the dismount
    EXPECT_EQ(m->FindDrive('C')->disk, 0);
    EXPECT_EQ(m->FindDrive('D')->disk, 0);
    EXPECT_EQ(m->FindDrive('E')->disk, 1);
    ASSERT_TRUE(m->FindDrive('A')->medium.has_value());
    EXPECT_EQ(m->FindDrive('A')->medium->image->size(), 1474560);
    // A CD-RW writer with a rewritable disc to blank.
    ASSERT_EQ(m->opticalDrives.size(), 1u);
    EXPECT_EQ(m->opticalDrives[0].letter, 'F');
    EXPECT_TRUE(m->opticalDrives[0].disc.erasable());

    // One pass over each wipeable device takes 3 to 8 seconds at its pace.
    auto seconds = [](std::int64_t bytes, std::int64_t pace) {
        return pace > 0 ? static_cast<double>(bytes) / static_cast<double>(pace) : 0.0;
    };
    std::vector<double> passes;
    for (const auto& disk : m->disks)
        passes.push_back(seconds(disk.size, disk.bytesPerSecond));
    for (char letter : {'C', 'D', 'E'}) {
        const sim::Drive& d = *m->FindDrive(letter);
        passes.push_back(
            seconds(d.length, m->disks[static_cast<std::size_t>(d.disk)].bytesPerSecond));
    }
    const sim::Drive& a = *m->FindDrive('A');
    passes.push_back(seconds(a.medium->image->size(), a.bytesPerSecond));
    for (double pass : passes) {
        EXPECT_GE(pass, 3.0);
        EXPECT_LE(pass, 8.0);
    }
    EXPECT_TRUE(fs::exists(scratch.path() / "system-disk.img"));
    for (const auto& entry : fs::directory_iterator(folder))
        EXPECT_EQ(entry.path().extension(), ".json") << entry.path(); // no images in the tree
}

} // namespace
