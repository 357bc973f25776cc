// The pass cursor and FillBuffer as the wipe engine drives them.
#include "met_files.h"
#include "methods/isaac.h"
#include "methods/method.h"
#include "methods/random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace purgelet {
namespace {

using testing::MetFolder;
using Bytes = std::vector<std::uint8_t>;

class FillTest : public ::testing::Test {
protected:
    void SetUp() override { savedIsaac_ = UseIsaac; }
    void TearDown() override { UseIsaac = savedIsaac_; }

    std::unique_ptr<method> Load(std::initializer_list<std::string> lines) {
        return method::CreateFromFile(folder_.Write("m.met", lines));
    }

    MetFolder folder_;
    bool savedIsaac_ = true;
};

// What the engine does: run a pass, verify when it checks and step over the check slot.
TEST_F(FillTest, PassSequenceOfTheExample) {
    auto m = Load({"HEXA=$00", "INV", "RAND=000255", "CHECK"});
    m->ResetPasses();
    std::vector<std::string> runs;
    do {
        runs.push_back("write " + std::to_string(m->CurrentPass));
        if (m->CurrentPassChecks()) {
            runs.push_back("verify " + std::to_string(m->CurrentPass));
            m->NextPass();
        }
    } while (m->NextPass());
    EXPECT_EQ(runs, (std::vector<std::string>{"write 1", "write 2", "write 3", "verify 3"}));
    EXPECT_FALSE(m->CurrentPassChecks()); // beyond the last slot
}

TEST_F(FillTest, ZeroMethodRunsOnePassWithoutVerification) {
    auto m = method::CreateFromFile("");
    m->ResetPasses();
    EXPECT_EQ(m->CurrentPass, 1);
    EXPECT_FALSE(m->CurrentPassChecks());
    EXPECT_FALSE(m->NextPass());
}

TEST_F(FillTest, FixedPatternRestartsEachBufferAndIsFilledOncePerPass) {
    auto m = Load({"HEXA=$55$AA", "HEXA=$01$02$03"});
    m->ResetPasses();
    Bytes buffer(5, 0xEE);
    m->FillBuffer(buffer.data(), buffer.size());
    EXPECT_EQ(buffer, (Bytes{0x55, 0xAA, 0x55, 0xAA, 0x55}));
    EXPECT_FALSE(m->NeedsFill);
    Bytes untouched(5, 0xEE);
    m->FillBuffer(untouched.data(), untouched.size()); // the caller reuses its buffer
    EXPECT_EQ(untouched, Bytes(5, 0xEE));
    m->InvalidateBuffer();
    m->FillBuffer(untouched.data(), untouched.size());
    EXPECT_EQ(untouched, buffer);

    ASSERT_TRUE(m->NextPass());
    Bytes second(7);
    m->FillBuffer(second.data(), second.size());
    EXPECT_EQ(second, (Bytes{1, 2, 3, 1, 2, 3, 1}));

    // A long buffer is the pattern throughout.
    m->InvalidateBuffer();
    Bytes big(100003);
    m->FillBuffer(big.data(), big.size());
    for (std::size_t k = 0; k < big.size(); ++k)
        ASSERT_EQ(big[k], k % 3 + 1) << k;

    EXPECT_FALSE(m->NextPass());
    Bytes past(4, 0xEE);
    m->FillBuffer(past.data(), past.size());
    EXPECT_EQ(past, Bytes(4, 0));
}

TEST_F(FillTest, ZeroMethodWritesZerosAndNeverDraws) {
    auto m = method::CreateFromFile("");
    RandSeed = 5;
    m->ResetPasses();
    std::uint32_t seedAfterReset = RandSeed;
    Bytes buffer(4096, 0xEE);
    m->FillBuffer(buffer.data(), buffer.size());
    EXPECT_EQ(buffer, Bytes(4096, 0));
    EXPECT_EQ(RandSeed, seedAfterReset);
    std::uint32_t next = IsaacNext();
    RandSeed = 5;
    IsaacSeed();
    EXPECT_EQ(IsaacNext(), next); // ISAAC did not advance either
}

TEST_F(FillTest, FullRangeIsaacWritesLittleEndianWords) {
    UseIsaac = true;
    auto m = Load({"RAND=000255"});
    RandSeed = 99;
    m->ResetPasses();
    Bytes first(512);
    Bytes second(512);
    m->FillBuffer(first.data(), first.size());
    EXPECT_TRUE(m->NeedsFill);
    m->FillBuffer(second.data(), second.size());

    RandSeed = 99;
    IsaacSeed();
    for (const Bytes* block : {&first, &second}) {
        for (std::size_t k = 0; k < 128; ++k) {
            std::uint32_t word = IsaacNext();
            for (std::size_t b = 0; b < 4; ++b)
                ASSERT_EQ((*block)[4 * k + b], static_cast<std::uint8_t>(word >> (8 * b)));
        }
    }
    EXPECT_NE(first, second);

    // A count that is not a whole number of words leaves its tail as it was.
    Bytes odd(7, 0xEE);
    m->FillBuffer(odd.data(), odd.size());
    EXPECT_EQ(odd[4], 0xEE);
    EXPECT_EQ(odd[6], 0xEE);
}

TEST_F(FillTest, FullRangeStandardGeneratorIsTheTopByteOfEachSeed) {
    UseIsaac = false;
    auto m = Load({"RAND=000255"});
    m->ResetPasses();
    RandSeed = 1234;
    Bytes buffer(1000);
    m->FillBuffer(buffer.data(), buffer.size());
    RandSeed = 1234;
    for (std::size_t k = 0; k < buffer.size(); ++k)
        ASSERT_EQ(buffer[k], Random(256)) << k;
}

TEST_F(FillTest, NarrowedRangesHitBothEndsWithEitherGenerator) {
    for (bool isaac : {true, false}) {
        UseIsaac = isaac;
        auto m = Load({"RAND=065090", "RAND=000001", "RAND=007007"});
        m->ResetPasses();
        Bytes buffer(4096);
        m->FillBuffer(buffer.data(), buffer.size());
        std::set<int> seen(buffer.begin(), buffer.end());
        EXPECT_EQ(*seen.begin(), 'A') << isaac;
        EXPECT_EQ(*seen.rbegin(), 'Z') << isaac;
        EXPECT_EQ(seen.size(), 26u) << isaac;

        m->NextPass();
        m->FillBuffer(buffer.data(), buffer.size());
        EXPECT_EQ(std::set<int>(buffer.begin(), buffer.end()), (std::set<int>{0, 1})) << isaac;

        m->NextPass();
        m->FillBuffer(buffer.data(), buffer.size());
        EXPECT_EQ(buffer, Bytes(4096, 7)) << isaac;
    }
}

TEST_F(FillTest, NarrowedRangeDrawsOncePerByteFromTheChosenGenerator) {
    UseIsaac = true;
    auto m = Load({"RAND=065090"});
    RandSeed = 3;
    m->ResetPasses();
    Bytes buffer(300);
    m->FillBuffer(buffer.data(), buffer.size());
    RandSeed = 3;
    IsaacSeed();
    for (std::size_t k = 0; k < buffer.size(); ++k)
        ASSERT_EQ(buffer[k], 65 + IsaacRandom(26)) << k;

    UseIsaac = false;
    RandSeed = 8;
    m->FillBuffer(buffer.data(), buffer.size());
    RandSeed = 8;
    for (std::size_t k = 0; k < buffer.size(); ++k)
        ASSERT_EQ(buffer[k], 65 + Random(26)) << k;
}

TEST_F(FillTest, TwoDisksGetDifferentRandomData) {
    for (bool isaac : {true, false}) {
        UseIsaac = isaac;
        auto m = Load({"RAND=000255", "RAND=065090"});
        Bytes disk1(4096);
        Bytes disk2(4096);
        m->ResetPasses();
        m->FillBuffer(disk1.data(), disk1.size());
        m->ResetPasses();
        m->FillBuffer(disk2.data(), disk2.size());
        EXPECT_NE(disk1, disk2) << isaac;
        m->NextPass();
        m->FillBuffer(disk1.data(), disk1.size());
        m->ResetPasses();
        m->NextPass();
        m->FillBuffer(disk2.data(), disk2.size());
        EXPECT_NE(disk1, disk2) << isaac;
    }
}

TEST_F(FillTest, AFillUndoneThroughTheSavedStateIsDrawnAgainTheSame) {
    for (bool isaac : {true, false}) {
        UseIsaac = isaac;
        auto m = Load({"RAND=000255", "HEXA=$AA"});
        m->ResetPasses();
        Bytes first(8192), again(8192), next(8192), nextAgain(8192);
        TFillState saved;
        m->SaveFillState(saved);
        m->FillBuffer(first.data(), first.size());
        m->FillBuffer(next.data(), next.size());
        m->RestoreFillState(saved);
        m->FillBuffer(again.data(), again.size());
        m->FillBuffer(nextAgain.data(), nextAgain.size());
        EXPECT_EQ(again, first) << isaac;
        EXPECT_EQ(nextAgain, next) << isaac;

        // The fill flag comes back too: a pattern drawn once is drawn again after the undo.
        m->NextPass();
        m->SaveFillState(saved);
        Bytes pattern(16, 0);
        m->FillBuffer(pattern.data(), pattern.size());
        EXPECT_FALSE(m->NeedsFill);
        m->RestoreFillState(saved);
        EXPECT_TRUE(m->NeedsFill) << isaac;
    }
}

} // namespace
} // namespace purgelet
