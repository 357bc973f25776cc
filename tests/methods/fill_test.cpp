// The pass cursor and FillBuffer as the wipe engine drives them.
#include "met_files.h"
#include "methods/aes_ctr.h"
#include "methods/generators.h"
#include "methods/isaac.h"
#include "methods/method.h"
#include "methods/random.h"
#include "methods/wipe_state.h"
#include "platform/system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace purgelet {
namespace {

using testing::MetFolder;
using Bytes = std::vector<std::uint8_t>;

// The three random sources: ISAAC, the standard generator, AES-256-CTR.
enum class TSource { Isaac, Standard, Aes };
constexpr TSource kSources[] = {TSource::Isaac, TSource::Standard, TSource::Aes};
std::ostream& operator<<(std::ostream& out, TSource source) {
    return out << (source == TSource::Isaac ? "ISAAC"
                   : source == TSource::Aes ? "AES"
                                            : "standard");
}

class FillTest : public ::testing::Test {
protected:
    void Choose(TSource source) {
        gen_.UseIsaac = source == TSource::Isaac;
        gen_.UseAesCtr = source == TSource::Aes;
    }
    std::unique_ptr<method> Load(std::initializer_list<std::string> lines) {
        return method::CreateFromFile(folder_.Write("m.met", lines));
    }

    MetFolder folder_;
    TGenerators gen_; // the run's generators
};

// What the engine does: run a pass, verify when it checks and step over the check slot.
TEST_F(FillTest, PassSequenceOfTheExample) {
    auto m = Load({"HEXA=$00", "INV", "RAND=000255", "CHECK"});
    TWipeState w(*m, gen_);
    w.ResetPasses();
    std::vector<std::string> runs;
    do {
        runs.push_back("write " + std::to_string(w.CurrentPass));
        if (w.CurrentPassChecks()) {
            runs.push_back("verify " + std::to_string(w.CurrentPass));
            w.NextPass();
        }
    } while (w.NextPass());
    EXPECT_EQ(runs, (std::vector<std::string>{"write 1", "write 2", "write 3", "verify 3"}));
    EXPECT_FALSE(w.CurrentPassChecks()); // beyond the last slot
}

// The method is only read: two wipes of it at once, each with its generators, walk it apart.
TEST_F(FillTest, TwoWipesOfOneMethodKeepTheirOwnCursors) {
    auto m = Load({"HEXA=$11", "RAND=000255", "HEXA=$33"});
    const method& shared = *m;
    TGenerators other;
    TWipeState first(shared, gen_), second(shared, other);
    first.ResetPasses();
    second.ResetPasses();
    ASSERT_TRUE(first.NextPass());
    ASSERT_TRUE(first.NextPass());
    Bytes a(8), b(8);
    first.FillBuffer(a.data(), a.size());
    second.FillBuffer(b.data(), b.size());
    EXPECT_EQ(a, Bytes(8, 0x33));
    EXPECT_EQ(b, Bytes(8, 0x11));
    EXPECT_EQ(first.CurrentPass, 3);
    EXPECT_EQ(second.CurrentPass, 1);
    EXPECT_FALSE(first.NeedsFill);
    second.InvalidateBuffer();
    EXPECT_FALSE(first.NeedsFill);
}

TEST_F(FillTest, ZeroMethodRunsOnePassWithoutVerification) {
    auto m = method::CreateFromFile("");
    TWipeState w(*m, gen_);
    w.ResetPasses();
    EXPECT_EQ(w.CurrentPass, 1);
    EXPECT_FALSE(w.CurrentPassChecks());
    EXPECT_FALSE(w.NextPass());
}

TEST_F(FillTest, FixedPatternRestartsEachBufferAndIsFilledOncePerPass) {
    auto m = Load({"HEXA=$55$AA", "HEXA=$01$02$03"});
    TWipeState w(*m, gen_);
    w.ResetPasses();
    Bytes buffer(5, 0xEE);
    w.FillBuffer(buffer.data(), buffer.size());
    EXPECT_EQ(buffer, (Bytes{0x55, 0xAA, 0x55, 0xAA, 0x55}));
    EXPECT_FALSE(w.NeedsFill);
    Bytes untouched(5, 0xEE);
    w.FillBuffer(untouched.data(), untouched.size()); // the caller reuses its buffer
    EXPECT_EQ(untouched, Bytes(5, 0xEE));
    w.InvalidateBuffer();
    w.FillBuffer(untouched.data(), untouched.size());
    EXPECT_EQ(untouched, buffer);

    ASSERT_TRUE(w.NextPass());
    Bytes second(7);
    w.FillBuffer(second.data(), second.size());
    EXPECT_EQ(second, (Bytes{1, 2, 3, 1, 2, 3, 1}));

    // A long buffer is the pattern throughout.
    w.InvalidateBuffer();
    Bytes big(100003);
    w.FillBuffer(big.data(), big.size());
    for (std::size_t k = 0; k < big.size(); ++k)
        ASSERT_EQ(big[k], k % 3 + 1) << k;

    EXPECT_FALSE(w.NextPass());
    Bytes past(4, 0xEE);
    w.FillBuffer(past.data(), past.size());
    EXPECT_EQ(past, Bytes(4, 0));
}

TEST_F(FillTest, ZeroMethodWritesZerosAndNeverDraws) {
    auto m = method::CreateFromFile("");
    TWipeState w(*m, gen_);
    gen_.RandSeed = 5;
    w.ResetPasses();
    std::uint32_t seedAfterReset = gen_.RandSeed;
    Bytes buffer(4096, 0xEE);
    w.FillBuffer(buffer.data(), buffer.size());
    EXPECT_EQ(buffer, Bytes(4096, 0));
    EXPECT_EQ(gen_.RandSeed, seedAfterReset);
    std::uint32_t next = IsaacNext(gen_.Isaac);
    TGenerators ref;
    ref.RandSeed = 5;
    IsaacSeed(ref.Isaac, ref.RandSeed);
    EXPECT_EQ(IsaacNext(ref.Isaac), next); // ISAAC did not advance either
}

TEST_F(FillTest, FullRangeIsaacWritesLittleEndianWords) {
    gen_.UseIsaac = true;
    auto m = Load({"RAND=000255"});
    TWipeState w(*m, gen_);
    gen_.RandSeed = 99;
    w.ResetPasses();
    Bytes first(512);
    Bytes second(512);
    w.FillBuffer(first.data(), first.size());
    EXPECT_TRUE(w.NeedsFill);
    w.FillBuffer(second.data(), second.size());

    TGenerators ref;
    ref.RandSeed = 99;
    IsaacSeed(ref.Isaac, ref.RandSeed);
    for (const Bytes* block : {&first, &second}) {
        for (std::size_t k = 0; k < 128; ++k) {
            std::uint32_t word = IsaacNext(ref.Isaac);
            for (std::size_t b = 0; b < 4; ++b)
                ASSERT_EQ((*block)[4 * k + b], static_cast<std::uint8_t>(word >> (8 * b)));
        }
    }
    EXPECT_NE(first, second);

    // A count that is not a whole number of words leaves its tail as it was.
    Bytes odd(7, 0xEE);
    w.FillBuffer(odd.data(), odd.size());
    EXPECT_EQ(odd[4], 0xEE);
    EXPECT_EQ(odd[6], 0xEE);
}

TEST_F(FillTest, FullRangeStandardGeneratorIsTheTopByteOfEachSeed) {
    gen_.UseIsaac = false;
    auto m = Load({"RAND=000255"});
    TWipeState w(*m, gen_);
    w.ResetPasses();
    gen_.RandSeed = 1234;
    Bytes buffer(1000);
    w.FillBuffer(buffer.data(), buffer.size());
    std::uint32_t seed = 1234;
    for (std::size_t k = 0; k < buffer.size(); ++k)
        ASSERT_EQ(buffer[k], Random(seed, 256)) << k;
}

TEST_F(FillTest, NarrowedRangesHitBothEndsWithEitherGenerator) {
    for (const TSource isaac : kSources) {
        Choose(isaac);
        auto m = Load({"RAND=065090", "RAND=000001", "RAND=007007"});
        TWipeState w(*m, gen_);
        w.ResetPasses();
        Bytes buffer(4096);
        w.FillBuffer(buffer.data(), buffer.size());
        std::set<int> seen(buffer.begin(), buffer.end());
        EXPECT_EQ(*seen.begin(), 'A') << isaac;
        EXPECT_EQ(*seen.rbegin(), 'Z') << isaac;
        EXPECT_EQ(seen.size(), 26u) << isaac;

        w.NextPass();
        w.FillBuffer(buffer.data(), buffer.size());
        EXPECT_EQ(std::set<int>(buffer.begin(), buffer.end()), (std::set<int>{0, 1})) << isaac;

        w.NextPass();
        w.FillBuffer(buffer.data(), buffer.size());
        EXPECT_EQ(buffer, Bytes(4096, 7)) << isaac;
    }
}

TEST_F(FillTest, NarrowedRangeDrawsOncePerByteFromTheChosenGenerator) {
    gen_.UseIsaac = true;
    auto m = Load({"RAND=065090"});
    TWipeState w(*m, gen_);
    gen_.RandSeed = 3;
    w.ResetPasses();
    Bytes buffer(300);
    w.FillBuffer(buffer.data(), buffer.size());
    TGenerators ref;
    ref.RandSeed = 3;
    IsaacSeed(ref.Isaac, ref.RandSeed);
    for (std::size_t k = 0; k < buffer.size(); ++k)
        ASSERT_EQ(buffer[k], 65 + IsaacRandom(ref.Isaac, 26)) << k;

    gen_.UseIsaac = false;
    gen_.RandSeed = 8;
    w.FillBuffer(buffer.data(), buffer.size());
    ref.RandSeed = 8;
    for (std::size_t k = 0; k < buffer.size(); ++k)
        ASSERT_EQ(buffer[k], 65 + Random(ref.RandSeed, 26)) << k;
}

TEST_F(FillTest, TwoDisksGetDifferentRandomData) {
    for (const TSource isaac : kSources) {
        Choose(isaac);
        auto m = Load({"RAND=000255", "RAND=065090"});
        TWipeState w(*m, gen_);
        Bytes disk1(4096);
        Bytes disk2(4096);
        w.ResetPasses();
        w.FillBuffer(disk1.data(), disk1.size());
        w.ResetPasses();
        w.FillBuffer(disk2.data(), disk2.size());
        EXPECT_NE(disk1, disk2) << isaac;
        w.NextPass();
        w.FillBuffer(disk1.data(), disk1.size());
        w.ResetPasses();
        w.NextPass();
        w.FillBuffer(disk2.data(), disk2.size());
        EXPECT_NE(disk1, disk2) << isaac;
    }
}

TEST_F(FillTest, AFillUndoneThroughTheSavedStateIsDrawnAgainTheSame) {
    for (const TSource isaac : kSources) {
        Choose(isaac);
        auto m = Load({"RAND=000255", "HEXA=$AA"});
        TWipeState w(*m, gen_);
        w.ResetPasses();
        Bytes first(8192), again(8192), next(8192), nextAgain(8192);
        TFillState saved = w.SaveFillState();
        w.FillBuffer(first.data(), first.size());
        w.FillBuffer(next.data(), next.size());
        w.RestoreFillState(saved);
        w.FillBuffer(again.data(), again.size());
        w.FillBuffer(nextAgain.data(), nextAgain.size());
        EXPECT_EQ(again, first) << isaac;
        EXPECT_EQ(nextAgain, next) << isaac;

        // The fill flag comes back too: a pattern drawn once is drawn again after the undo.
        w.NextPass();
        saved = w.SaveFillState();
        Bytes pattern(16, 0);
        w.FillBuffer(pattern.data(), pattern.size());
        EXPECT_FALSE(w.NeedsFill);
        w.RestoreFillState(saved);
        EXPECT_TRUE(w.NeedsFill) << isaac;
    }
}

} // namespace
} // namespace purgelet

namespace purgelet {
namespace {

// The system's cipher in counter mode, against blocks enciphered by the openssl command
// (openssl enc -aes-256-ecb -nopad, key 00 01 .. 1F): the same bytes on every back-end.
TEST(AesCtr, TheKeyStreamIsTheCounterBlocksEnciphered) {
    platform::AesKey key;
    for (std::size_t i = 0; i < key.size(); ++i)
        key[i] = static_cast<std::uint8_t>(i);
    const Bytes block0 = {0xf2, 0x90, 0x00, 0xb6, 0x2a, 0x49, 0x9f, 0xd0,
                          0xa9, 0xf3, 0x9a, 0x6a, 0xdd, 0x2e, 0x77, 0x80};
    const Bytes block1 = {0xf0, 0x5d, 0x76, 0xae, 0x4a, 0xb9, 0x9f, 0xe5,
                          0xa6, 0xf6, 0x9b, 0x31, 0x48, 0xc2, 0x36, 0x3d};
    const Bytes high = {0x2e, 0x16, 0x53, 0x92, 0xfd, 0xee, 0x1d, 0x47,
                        0xbe, 0x15, 0x1d, 0x65, 0x58, 0xb5, 0x9b, 0x08}; // block 2^32 + 5
    ASSERT_TRUE(platform::sys().crypto->HasAes());
    TAesCtrState aes{key, 0};
    Bytes stream(40, 0x55); // two blocks and half a third
    AesCtrFill(aes, stream.data(), stream.size());
    EXPECT_EQ(Bytes(stream.begin(), stream.begin() + 16), block0);
    EXPECT_EQ(Bytes(stream.begin() + 16, stream.begin() + 32), block1);
    EXPECT_EQ(aes.Block, 3u) << "the partial block is used up";
    aes.Block = (std::uint64_t{1} << 32) + 5;
    Bytes tail(7);
    AesCtrFill(aes, tail.data(), tail.size());
    EXPECT_EQ(tail, Bytes(high.begin(), high.begin() + 7))
        << "the counter carries into its high half";
}

// Each drive of a run is keyed from its own draw of the run's generators, so two drives never
// write the same stream, and the same seed gives the same stream again.
TEST(AesCtr, DrivesOfARunGetStreamsOfTheirOwnAndASeedGivesItsStreamAgain) {
    TGenerators run;
    run.RandSeed = 77;
    run.UseAesCtr = true;
    TGenerators first = Draw(run), second = Draw(run);
    auto m = method::CreateFromFile("");
    auto stream = [&](TGenerators& generators) {
        TWipeState state(*m, generators);
        state.ResetPasses();
        Bytes bytes(4096);
        AesCtrFill(generators.Aes, bytes.data(), bytes.size());
        return bytes;
    };
    TGenerators firstAgain = first;
    const Bytes one = stream(first);
    EXPECT_NE(one, stream(second));
    EXPECT_EQ(one, stream(firstAgain));
    EXPECT_NE(first.Aes.Key, platform::AesKey{}) << "keyed at the disk's start";
}

} // namespace
} // namespace purgelet
