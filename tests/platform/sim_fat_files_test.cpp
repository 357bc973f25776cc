// "files": a fresh simulated drive gets a FAT file system holding them, read back here through
// the simulated PC's raw devices, as the block viewer reads them.
#include "platform/sim/sim.h"
#include "platform/system.h"
#include "support/sim_pc.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
namespace sim = platform::sim;
using nlohmann::json;
using purgelet::testing::SimPC;

std::vector<unsigned char> ReadDevice(const std::string& device, std::int64_t offset, DWORD size) {
    auto& k = platform::k32();
    HANDLE h = k.CreateFileA(device.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << device;
    LONG high = static_cast<LONG>(offset >> 32);
    k.SetFilePointer(h, static_cast<LONG>(offset & 0xFFFFFFFF), &high, FILE_BEGIN);
    std::vector<unsigned char> bytes(size);
    DWORD done = 0;
    EXPECT_TRUE(k.ReadFile(h, bytes.data(), size, &done, nullptr)) << device;
    EXPECT_EQ(done, size);
    k.CloseHandle(h);
    return bytes;
}

unsigned U16(const std::vector<unsigned char>& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8);
}
std::uint32_t U32(const std::vector<unsigned char>& b, std::size_t at) {
    return U16(b, at) | (static_cast<std::uint32_t>(U16(b, at + 2)) << 16);
}

// A FAT volume as a reader sees it: its type, label and the files of its root folder, each
// read by following its cluster chain through the first FAT.
struct Listing {
    std::string type, label;
    std::map<std::string, std::string> files;
};

Listing ReadFat(const std::string& device) {
    Listing listing;
    const auto boot = ReadDevice(device, 0, 512);
    EXPECT_EQ(boot[510], 0x55);
    EXPECT_EQ(boot[511], 0xAA);
    const unsigned bps = U16(boot, 11), spc = boot[13], reserved = U16(boot, 14);
    const unsigned fats = boot[16], rootEntries = U16(boot, 17);
    const bool fat32 = U16(boot, 22) == 0;
    const std::uint32_t fatSectors = fat32 ? U32(boot, 36) : U16(boot, 22);
    const std::size_t ext = fat32 ? 64 : 36;
    listing.type = std::string(reinterpret_cast<const char*>(&boot[ext + 18]), 8);
    const std::uint32_t rootSectors = (rootEntries * 32 + bps - 1) / bps;
    const std::uint32_t firstData = reserved + fats * fatSectors + rootSectors;
    const auto fat = ReadDevice(device, static_cast<std::int64_t>(reserved) * bps,
                                static_cast<DWORD>(fatSectors * bps));
    auto next = [&](std::uint32_t cluster) -> std::uint32_t {
        if (listing.type == "FAT12   ") {
            const unsigned pair = U16(fat, cluster + cluster / 2);
            return cluster % 2 ? pair >> 4 : pair & 0xFFF;
        }
        return fat32 ? U32(fat, cluster * 4) & 0x0FFFFFFF : U16(fat, cluster * 2);
    };
    const std::uint32_t end = fat32 ? 0x0FFFFFF8 : listing.type == "FAT12   " ? 0xFF8 : 0xFFF8;
    auto clusterAt = [&](std::uint32_t cluster) {
        return (static_cast<std::int64_t>(firstData) + (cluster - 2ll) * spc) * bps;
    };
    const auto root =
        fat32 ? ReadDevice(device, clusterAt(U32(boot, 44)), spc * bps)
              : ReadDevice(device, static_cast<std::int64_t>(firstData - rootSectors) * bps,
                           rootSectors * bps);
    for (std::size_t at = 0; at + 32 <= root.size() && root[at] != 0; at += 32) {
        std::string name(reinterpret_cast<const char*>(&root[at]), 11);
        if (root[at + 11] == 0x08) {
            listing.label = name;
            continue;
        }
        std::string text;
        const std::uint32_t size = U32(root, at + 28);
        for (std::uint32_t c = (U16(root, at + 20) << 16) | U16(root, at + 26);
             c >= 2 && c < end && text.size() < size; c = next(c)) {
            const auto bytes = ReadDevice(device, clusterAt(c), spc * bps);
            text.append(bytes.begin(), bytes.end());
        }
        text.resize(size);
        listing.files[name] = text;
    }
    return listing;
}

json SeededMachine() {
    return json::parse(R"J({
      "physicalDisks": [{"image": "disk.img",
                         "geometry": {"cylinders": 40, "tracksPerCylinder": 16,
                                      "sectorsPerTrack": 64}}],
      "drives": [
        {"letter": "D", "disk": 0, "offset": 1048576, "length": 16777216,
         "volume": {"label": "Data", "fileSystem": "FAT32", "serial": 305419896},
         "files": {"README.TXT": "first\r\n", "big.bin": "", "EMPTY": ""}},
        {"letter": "R", "kind": "removable", "image": "r.img", "size": 4194304,
         "volume": {"label": "STICK", "fileSystem": "FAT16"},
         "files": {"NOTES.TXT": "on the stick"}},
        {"letter": "A", "kind": "floppy",
         "medium": {"type": "F3_1Pt44_512", "image": "a.img",
                    "volume": {"label": "", "fileSystem": "FAT12"},
                    "files": {"LETTER.TXT": "dear reader"}}}
      ]})J");
}

TEST(SimFatFiles, AFreshPartitionStickAndFloppyHoldTheirFiles) {
    json machine = SeededMachine();
    // A file of several clusters, to follow a chain.
    machine["drives"][0]["files"]["big.bin"] = std::string(3000, 'x') + "end";
    SimPC pc(machine);
    const Listing d = ReadFat("\\\\.\\D:");
    EXPECT_EQ(d.type, "FAT32   ");
    EXPECT_EQ(d.label, "DATA       ");
    EXPECT_EQ(d.files.at("README  TXT"), "first\r\n");
    EXPECT_EQ(d.files.at("BIG     BIN"), std::string(3000, 'x') + "end");
    EXPECT_EQ(d.files.at("EMPTY      "), "");
    const Listing r = ReadFat("\\\\.\\R:");
    EXPECT_EQ(r.type, "FAT16   ");
    EXPECT_EQ(r.files.at("NOTES   TXT"), "on the stick");
    const Listing a = ReadFat("\\\\.\\A:");
    EXPECT_EQ(a.type, "FAT12   ");
    EXPECT_EQ(a.label, "");
    EXPECT_EQ(a.files.at("LETTER  TXT"), "dear reader");
    // The partition's boot sector counts the sectors before it; the partition table stays.
    const auto boot = ReadDevice("\\\\.\\D:", 0, 512);
    EXPECT_EQ(U32(boot, 28), 2048u);
    const auto mbr = ReadDevice("\\\\.\\PhysicalDrive0", 0, 512);
    EXPECT_EQ(mbr[510], 0x55);
    EXPECT_EQ(U32(mbr, 446 + 8), 2048u);
}

// The files are written once, when the image is made: a wiped drive stays wiped.
TEST(SimFatFiles, AnImageThatExistsIsLeftAsItIs) {
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const fs::path folder = fs::temp_directory_path() / ("purgelet-fat-" + std::to_string(stamp));
    fs::create_directories(folder);
    json machine = SeededMachine();
    sim::Machine::Parse(machine, folder);
    {
        std::fstream image(folder / "r.img", std::ios::in | std::ios::out | std::ios::binary);
        image.write(std::string(512, '\0').data(), 512);
    }
    auto again = sim::Machine::Parse(machine, folder);
    unsigned char first[512];
    again->FindDrive('R')->image->Read(0, first, sizeof(first));
    EXPECT_EQ(first[510], 0);
    EXPECT_EQ(first[511], 0);
    std::error_code ec;
    fs::remove_all(folder, ec);
}

TEST(SimFatFiles, FilesThatCannotBeWrittenAreRefusedWithTheEntryNamed) {
    auto refusal = [](const json& machine) {
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        const fs::path folder =
            fs::temp_directory_path() / ("purgelet-fat-bad-" + std::to_string(stamp));
        std::string why;
        try {
            sim::Machine::Parse(machine, folder);
        } catch (const std::runtime_error& e) {
            why = e.what();
        }
        std::error_code ec;
        fs::remove_all(folder, ec);
        return why;
    };
    json machine = SeededMachine();
    machine["drives"][1]["files"] = {{"LONG FILE NAME.TXT", "x"}};
    EXPECT_NE(refusal(machine).find("drives[1].files.LONG FILE NAME.TXT"), std::string::npos);
    machine = SeededMachine();
    machine["drives"][1]["volume"]["fileSystem"] = "NTFS";
    EXPECT_NE(refusal(machine).find("drives[1].files: files need a FAT file system"),
              std::string::npos)
        << refusal(machine);
    machine = SeededMachine();
    machine["drives"][1]["size"] = 1048576; // 2048 clusters: a FAT12 count
    EXPECT_NE(refusal(machine).find("drives[1].files: the volume is too small for FAT16"),
              std::string::npos)
        << refusal(machine);
    machine = SeededMachine();
    machine["drives"][1]["volume"] = nullptr;
    EXPECT_NE(refusal(machine).find("drives[1].files: needs a volume"), std::string::npos);
    machine = SeededMachine();
    machine["drives"][2]["medium"]["files"]["HUGE.BIN"] = std::string(1600000, 'h');
    EXPECT_NE(refusal(machine).find("drives[2].medium.files: the files do not fit"),
              std::string::npos)
        << refusal(machine);
    machine = SeededMachine();
    machine["drives"][2]["medium"]["files"] = json::array({"A.TXT"});
    EXPECT_NE(refusal(machine).find("drives[2].medium.files: must be an object"),
              std::string::npos);
}

// The shipped demo's D:, stick and floppy hold files on first use, and the file-system
// checker of the host finds nothing wrong with them where it is installed.
TEST(SimFatFiles, TheDemoDrivesHoldFilesOnFirstUse) {
    const fs::path source = fs::path(PURGELET_SOURCE_DIR) / "machines";
    std::ifstream in(source / "demo.json", std::ios::binary);
    json demo = json::parse(in, nullptr, true, true);
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const fs::path folder = fs::temp_directory_path() / ("purgelet-demo-" + std::to_string(stamp));
    demo["imageDir"] = folder.string();
    demo["desktopFolder"] = (folder / "Desktop").string();
    {
        std::shared_ptr<sim::Machine> m = sim::Machine::Parse(demo, source);
        platform::ScopedSystem scope(sim::CreateSimSystem(m));
        for (const char* device : {"\\\\.\\D:", "\\\\.\\E:", "\\\\.\\A:"}) {
            SCOPED_TRACE(device);
            const Listing listing = ReadFat(device);
            EXPECT_GE(listing.files.size(), 2u);
            for (const auto& [name, text] : listing.files)
                EXPECT_FALSE(text.empty()) << name;
        }
        EXPECT_EQ(ReadFat("\\\\.\\D:").label, "DATA       ");
    }
    if (std::system("fsck.fat --help >/dev/null 2>&1") == 0 ||
        std::system("command -v fsck.fat >/dev/null 2>&1") == 0) {
        // The partitions cut out of their disks, as a checker takes a volume.
        const std::string cut = "dd if='" + (folder / "system-disk.img").string() + "' of='" +
                                (folder / "d.img").string() +
                                "' bs=512 skip=34816 count=32768 status=none && dd if='" +
                                (folder / "usb-stick.img").string() + "' of='" +
                                (folder / "e.img").string() + "' bs=512 skip=64 status=none";
        ASSERT_EQ(std::system(cut.c_str()), 0);
        for (const char* image : {"d.img", "e.img", "floppy.img"}) {
            const std::string check =
                "fsck.fat -n '" + (folder / image).string() + "' >/dev/null 2>&1";
            EXPECT_EQ(std::system(check.c_str()), 0) << image;
        }
    }
    std::error_code ec;
    fs::remove_all(folder, ec);
}

} // namespace
