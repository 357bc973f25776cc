// The bytes every shipped method leaves on the disks of a run, pinned: three disks wiped in
// a row from one fixed seed, as a wipe run does, with either generator and either pass
// runner. A change to how the generators are held or handed over must not move one byte.
#include "disk/disk.h"
#include "methods/generators.h"
#include "methods/listing.h"
#include "methods/method.h"
#include "support/memory_disk.h"
#include "support/recording_owner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace purgelet {
namespace {

using testing::MemoryDisk;
using testing::RecordingOwner;

constexpr std::uint32_t kSeed = 0x5EED2005u;

// 64-bit FNV-1a, continued from hash.
std::uint64_t Fnv1a(std::uint64_t hash, const std::vector<std::uint8_t>& bytes) {
    for (std::uint8_t byte : bytes) {
        hash ^= byte;
        hash *= 0x100000001B3ull;
    }
    return hash;
}

struct DiskShape {
    std::int32_t blockSize;
    std::int64_t blocks;
    std::int32_t bufferSize; // 0: the default transfer
};

// Several transfers a pass with a shorter last one, larger blocks, one transfer a pass.
constexpr DiskShape kShapes[] = {{512, 61, 8 * 512}, {2048, 40, 6 * 2048}, {512, 300, 0}};

// The hash of the three disks' contents, one after the other, after the run.
std::uint64_t RunHash(const std::string& methodFile, bool isaac, bool overlap) {
    // The run's generators: the methods are read from the same ones.
    TGenerators generators;
    generators.RandSeed = kSeed;
    generators.UseIsaac = isaac;
    auto m = method::CreateFromFile(methodFile, generators);
    std::uint64_t hash = 0xCBF29CE484222325ull;
    for (const DiskShape& shape : kShapes) {
        RecordingOwner owner;
        auto disk = MakeDisk<MemoryDisk>("E", &owner, shape.blocks, shape.blockSize, 0xEE);
        disk->OverlapTransfers = overlap;
        TWipeContext wipe(m.get(), disk->Owner);
        wipe.Options.BufferSize = shape.bufferSize;
        wipe.Generators = &generators;
        disk->WipeDisk(wipe);
        EXPECT_TRUE(owner.questions.empty());
        hash = Fnv1a(hash, disk->medium.bytes);
    }
    return hash;
}

struct Expected {
    const char* file; // in data/Methods; empty for the internal zero method
    std::uint64_t isaac;
    std::uint64_t standard;
};

// Recorded from the program as it wrote them.
constexpr Expected kExpected[] = {
    {"", 0xBF6501AB176E8B25ull, 0xBF6501AB176E8B25ull},
    {"afssi-5020.met", 0xAA052EA9455DED25ull, 0xAA052EA9455DED25ull},
    {"army-ar-380-19.met", 0x72F73350D58CAD25ull, 0x72F73350D58CAD25ull},
    {"dod-5220-22-m-ece.met", 0xD9D3E05ED79EE598ull, 0xA7981B661F613733ull},
    {"dod-5220-22-m.met", 0x638CF99EA5A31E9Dull, 0x342EFF0D2E87A532ull},
    {"gost-r-50739-95.met", 0x638CF99EA5A31E9Dull, 0x342EFF0D2E87A532ull},
    {"gutmann.met", 0xA29089DD37414F01ull, 0xADEC047E6D622D2Eull},
    {"hmg-is5-baseline.met", 0xBF6501AB176E8B25ull, 0xBF6501AB176E8B25ull},
    {"hmg-is5-enhanced.met", 0x638CF99EA5A31E9Dull, 0x342EFF0D2E87A532ull},
    {"navso-p-5239-26.met", 0x638CF99EA5A31E9Dull, 0x342EFF0D2E87A532ull},
    {"nist-800-88-clear.met", 0xBF6501AB176E8B25ull, 0xBF6501AB176E8B25ull},
    {"random.met", 0x638CF99EA5A31E9Dull, 0x342EFF0D2E87A532ull},
    {"rcmp-tssit-ops-ii.met", 0xAA052EA9455DED25ull, 0xAA052EA9455DED25ull},
    {"schneier.met", 0xF3805E45D8BA90E5ull, 0x76620E30099EFBF6ull},
    {"vsitr.met", 0x3FF7CD4D45101325ull, 0x3FF7CD4D45101325ull},
    {"zero.met", 0xBF6501AB176E8B25ull, 0xBF6501AB176E8B25ull},
};

class WipeBytes : public ::testing::Test {};

// Both runners, either generator, against the recorded hashes.
void ExpectRecorded(const std::string& label, const std::string& file, std::uint64_t isaac,
                    std::uint64_t standard) {
    for (bool overlap : {true, false}) {
        SCOPED_TRACE(label + (overlap ? ", overlapped" : ", inline"));
        EXPECT_EQ(RunHash(file, true, overlap), isaac);
        EXPECT_EQ(RunHash(file, false, overlap), standard);
    }
}

TEST_F(WipeBytes, EveryShippedMethodWritesTheRecordedBytesOverThreeDisksInARow) {
    const std::filesystem::path folder =
        std::filesystem::path(PURGELET_SOURCE_DIR) / "data" / "Methods";
    std::size_t shipped = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        // A drive's own erase runs on whole disks only: no bytes of the engine to pin.
        if (entry.path().extension() == ".met" &&
            method::CreateFromFile(entry.path().string())->Firmware == TFirmwareStep::None)
            ++shipped;
    ASSERT_EQ(shipped + 1, std::size(kExpected)) << "a method without recorded bytes";

    for (const Expected& e : kExpected)
        ExpectRecorded(*e.file ? e.file : "(zero method)",
                       *e.file ? (folder / e.file).string() : std::string(), e.isaac, e.standard);
}

// No shipped method narrows a random range; this one does, with either generator, between
// characters drawn while reading and a pattern, a read-back and a change of direction.
TEST_F(WipeBytes, NarrowedRangesWriteTheRecordedBytes) {
    const auto folder = std::filesystem::temp_directory_path() / "purgelet-wipe-bytes";
    std::filesystem::create_directories(folder);
    // Test cases may run as parallel processes: the clock tells their files apart.
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const auto path = folder / ("narrow-" + std::to_string(stamp) + ".met");
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        for (const char* line :
             {"NAME=narrow", "RNDCH=065090048057", "RAND=065090", "CHECK", "RAND=000001",
              "HEXA=$55$AA", "INV", "RAND=007007", "CHGDIR", "RAND=000255"})
            out << line << "\r\n";
    }
    ExpectRecorded("narrowed ranges", path.string(), 0x7BB3E7B32CDB5819ull, 0xB5A54C462D536C75ull);
    std::filesystem::remove(path);
}

// The pinned values mean something only while the generators move between disks: the
// second and third disks of a random method differ from the first.
TEST_F(WipeBytes, TheDisksOfARunGetDifferentRandomData) {
    for (bool isaac : {true, false}) {
        TGenerators generators;
        generators.RandSeed = kSeed;
        generators.UseIsaac = isaac;
        auto m = method::CreateFromFile(
            (std::filesystem::path(PURGELET_SOURCE_DIR) / "data" / "Methods" / "random.met")
                .string(),
            generators);
        std::vector<std::vector<std::uint8_t>> contents;
        for (int k = 0; k < 3; ++k) {
            RecordingOwner owner;
            auto disk = MakeDisk<MemoryDisk>("E", &owner, 16, 512, 0xEE);
            TWipeContext wipe(m.get(), disk->Owner);
            wipe.Generators = &generators;
            disk->WipeDisk(wipe);
            contents.push_back(disk->medium.bytes);
        }
        EXPECT_NE(contents[0], contents[1]) << isaac;
        EXPECT_NE(contents[1], contents[2]) << isaac;
    }
}

// purgelet-tool's preview shows what the engine writes: the first disk of a run wiped with a
// one-pass method, with either generator and either runner, in transfers of three blocks that
// a seven-byte pattern does not divide (it starts again with each), the last one shorter.
TEST_F(WipeBytes, ThePreviewShowsWhatTheEngineWritesTransferByTransfer) {
    const auto folder = std::filesystem::temp_directory_path() / "purgelet-wipe-bytes";
    std::filesystem::create_directories(folder);
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const auto path = folder / ("preview-" + std::to_string(stamp) + ".met");
    constexpr std::int32_t kTransfer = 3 * 512;
    for (const char* pass : {"HEXA=$01$02$03$04$05$06$07", "RNDCH=065090066091067092", "INV",
                             "RAND=000255", "RAND=048057"}) {
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            if (std::string(pass) == "INV")
                out << "HEXA=$01$02$03$04$05$06$07\r\nCHECK\r\n";
            out << pass << "\r\n";
        }
        for (bool isaac : {true, false})
            for (bool overlap : {true, false}) {
                SCOPED_TRACE(std::string(pass) + (isaac ? ", isaac" : ", standard") +
                             (overlap ? ", overlapped" : ", inline"));
                TGenerators generators;
                generators.RandSeed = kSeed;
                generators.UseIsaac = isaac;
                auto m = method::CreateFromFile(path.string(), generators);
                RecordingOwner owner;
                auto disk = MakeDisk<MemoryDisk>("E", &owner, 13, 512, 0xEE);
                disk->OverlapTransfers = overlap;
                TWipeContext wipe(m.get(), disk->Owner);
                wipe.Options.BufferSize = kTransfer;
                wipe.Generators = &generators;
                disk->WipeDisk(wipe);
                const auto preview =
                    PreviewPass(path.string(), m->PassCount, disk->medium.bytes.size(), isaac,
                                kSeed, kTransfer);
                EXPECT_EQ(preview, disk->medium.bytes);
                // The pattern starts again with the second transfer.
                if (std::string(pass).rfind("HEXA", 0) == 0) {
                    EXPECT_EQ(preview[kTransfer], 0x01);
                }
            }
    }
    std::filesystem::remove(path);
}

} // namespace
} // namespace purgelet
