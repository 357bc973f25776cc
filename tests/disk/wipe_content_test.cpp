// Read-back by content: every block compared with what its pass wrote, drawn again from the
// generators as they stood at the pass's start. Against a memory disk that loses writes.
#include "disk/disk.h"
#include "disk_test_support.h"
#include "methods/generators.h"
#include "methods/method.h"
#include "report/exceptions.h"
#include "support/memory_disk.h"
#include "support/recording_owner.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace purgelet {
namespace {

using testing::MemoryDisk;
using testing::MemoryMedium;
using testing::MethodFromLines;
using testing::RecordingOwner;
using Op = MemoryMedium::Op;
using Blocks = std::vector<std::int64_t>;

struct TSetup {
    const char* name;
    std::int32_t blockSize;
    int depth;
    bool isaac;
    bool aes;
};

void PrintTo(const TSetup& setup, std::ostream* out) {
    *out << setup.name;
}

// Block sizes with and without a tail that ISAAC's words leave, one transfer at a time and
// several in flight, each random source.
const TSetup kSetups[] = {
    {"isaac-512-depth4", 512, 4, true, false},     {"aes-512-depth4", 512, 4, false, true},
    {"standard-512-depth1", 512, 1, false, false}, {"isaac-514-depth1", 514, 1, true, false},
    {"aes-4096-depth16", 4096, 16, false, true},
};

class WipeContent : public ::testing::TestWithParam<TSetup> {
protected:
    RecordingOwner owner;

    // A wipe of a fresh disk of `blocks` blocks with a run's generators (seed 1234), by
    // content or by sums; the bytes left and the wipe's findings are returned.
    struct TResult {
        std::vector<std::uint8_t> bytes;
        Blocks differing;
        std::int64_t differingCount = 0;
        int reads = 0;
    };
    TResult Wipe(const method& m, std::int64_t blocks, bool content, const Blocks& lost = {}) {
        const TSetup& setup = GetParam();
        auto disk = MakeDisk<MemoryDisk>("E", &owner, blocks, setup.blockSize, 0xEE);
        disk->medium.lostWrites = lost;
        TGenerators generators;
        generators.RandSeed = 1234;
        generators.UseIsaac = setup.isaac;
        generators.UseAesCtr = setup.aes;
        TWipeContext wipe(&m, &owner);
        wipe.Generators = &generators;
        wipe.Options.TransfersInFlight = setup.depth;
        wipe.Options.VerifyContent = content;
        disk->WipeDisk(wipe);
        return {disk->medium.bytes, wipe.Differing, wipe.DifferingCount,
                disk->medium.CountTransfers(Op::Read)};
    }
};

// Every pass kind, a last transfer shorter than the others: a good disk passes, and the bytes
// written are those of the same wipe verified by sums.
TEST_P(WipeContent, AGoodDiskPassesAndIsWrittenAsByTheSums) {
    auto m = MethodFromLines(
        {"RAND=000255", "CHECK", "HEXA=$A5$5A$01", "CHECK", "RAND=065090", "CHECK", "RAND=000255"});
    const TResult bySums = Wipe(*m, 2500, false);
    const TResult byContent = Wipe(*m, 2500, true);
    EXPECT_TRUE(owner.questions.empty()) << owner.questions.size() << " question(s)";
    EXPECT_EQ(byContent.differingCount, 0);
    EXPECT_EQ(byContent.reads, bySums.reads);
    EXPECT_TRUE(byContent.bytes == bySums.bytes);
}

// A drive that loses writes: the blocks are named in every checked pass, the user is asked
// once a pass, and a Yes goes on. The sums only know that something differs.
TEST_P(WipeContent, BlocksThatLostTheirWritesAreNamedPassByPass) {
    auto m = MethodFromLines({"HEXA=$00", "CHECK", "RAND=000255", "CHECK"});
    const std::int64_t blocks = 2500;
    const std::int64_t chunk = 512 * 1024 / GetParam().blockSize;
    const Blocks lost = {0, 7, chunk - 1, chunk, blocks - 1};
    owner.defaultAnswer = mrYes;
    const TResult byContent = Wipe(*m, blocks, true, lost);
    Blocks twice = lost;
    twice.insert(twice.end(), lost.begin(), lost.end());
    EXPECT_EQ(byContent.differing, twice);
    EXPECT_EQ(byContent.differingCount, 10);
    EXPECT_EQ(owner.Kinds(), (std::vector<int>{mkVerify, mkVerify}));

    owner.questions.clear();
    const TResult bySums = Wipe(*m, blocks, false, lost);
    EXPECT_EQ(bySums.differingCount, 0);
    EXPECT_EQ(owner.Kinds(), (std::vector<int>{mkVerify, mkVerify}));
}

INSTANTIATE_TEST_SUITE_P(Setups, WipeContent, ::testing::ValuesIn(kSetups), [](const auto& info) {
    std::string name = info.param.name;
    for (char& c : name)
        if (c == '-')
            c = '_';
    return name;
});

// A No to the question ends the wipe as a mismatch by sums does; an abort in the middle of a
// read-back by content leaves nothing running (the sanitizers watch the state it drew from).
TEST(WipeContentEnds, ANoEndsTheWipeAndAnAbortInTheReadBackStopsTheComparison) {
    RecordingOwner owner;
    auto disk = MakeDisk<MemoryDisk>("E", &owner, 5000, 512, 0xEE);
    disk->medium.lostWrites = {4000};
    owner.answers = {mrNo};
    auto m = MethodFromLines({"RAND=000255", "CHECK", "HEXA=$FF"});
    TWipeContext wipe(m.get(), &owner);
    wipe.Options.TransfersInFlight = 4;
    wipe.Options.VerifyContent = true;
    EXPECT_THROW(disk->WipeDisk(wipe), XVerify);
    EXPECT_EQ(wipe.Differing, Blocks{4000});
    EXPECT_EQ(disk->medium.calls.back(), "close");

    RecordingOwner aborting;
    auto other = MakeDisk<MemoryDisk>("F", &aborting, 5000, 512, 0xEE);
    aborting.abortAtUpdate = 7; // 5 transfers written, the second one read back
    TWipeContext stopped(m.get(), &aborting);
    stopped.Options.TransfersInFlight = 4;
    stopped.Options.VerifyContent = true;
    EXPECT_THROW(other->WipeDisk(stopped), XAbort);
    EXPECT_EQ(other->medium.calls.back(), "close");
    EXPECT_EQ(stopped.DifferingCount, 0);
}

} // namespace
} // namespace purgelet
