// The two generators: the published ISAAC vectors, the standard generator's definition, and
// the bulk fill that must give exactly the bytes of the one-step-at-a-time definition.
#include "methods/generators.h"
#include "methods/isaac.h"
#include "methods/random.h"
#include "platform/sim/kernel32.h"
#include "platform/sim/sim.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

namespace purgelet {
namespace {

TEST(Isaac, ZeroSeedGivesThePublishedVectors) {
    IsaacState isaac;
    std::array<std::uint32_t, 256> seed{};
    IsaacInit(isaac, seed.data());
    EXPECT_EQ(IsaacNext(isaac), 0xE76DD339u);
    EXPECT_EQ(IsaacNext(isaac), 0xD91AA738u);
    EXPECT_EQ(IsaacNext(isaac), 0xD32956E5u);
    EXPECT_EQ(IsaacNext(isaac), 0xA264E933u);
    for (int i = 5; i <= 256; ++i)
        IsaacNext(isaac);
    EXPECT_EQ(IsaacNext(isaac), 0xF650E4C8u);
    EXPECT_EQ(IsaacNext(isaac), 0xE448E96Du);
    EXPECT_EQ(IsaacNext(isaac), 0x98DB2FB4u);
    EXPECT_EQ(IsaacNext(isaac), 0xF5FAD54Fu);
}

TEST(Isaac, WordFillHandsOutTheSameResultsLittleEndianAcrossBatches) {
    IsaacState isaac;
    std::array<std::uint32_t, 256> seed{};
    seed[0] = 12345;
    IsaacInit(isaac, seed.data());
    std::vector<std::uint32_t> expected(1880);
    for (auto& word : expected)
        word = IsaacNext(isaac);
    std::uint32_t after = IsaacNext(isaac);

    IsaacInit(isaac, seed.data());
    std::vector<std::uint8_t> bytes(4 * 1880);
    // Uneven pieces: one word, a run ending exactly at a batch end, a run across a batch end,
    // a run over two whole batches ending at a batch end, and one from a batch start over
    // a whole batch into the next.
    IsaacFillWords(isaac, bytes.data(), 1);
    IsaacFillWords(isaac, bytes.data() + 4, 255);
    IsaacFillWords(isaac, bytes.data() + 4 * 256, 444);
    IsaacFillWords(isaac, bytes.data() + 4 * 700, 580);
    IsaacFillWords(isaac, bytes.data() + 4 * 1280, 600);
    for (std::size_t k = 0; k < expected.size(); ++k) {
        std::uint32_t word = bytes[4 * k] | bytes[4 * k + 1] << 8 | bytes[4 * k + 2] << 16 |
                             static_cast<std::uint32_t>(bytes[4 * k + 3]) << 24;
        ASSERT_EQ(word, expected[k]) << "word " << k;
    }
    EXPECT_EQ(IsaacNext(isaac), after);
}

TEST(Isaac, ASavedStateDrawsTheSameWordsAgain) {
    IsaacState isaac;
    std::array<std::uint32_t, 256> seed{};
    seed[7] = 99;
    IsaacInit(isaac, seed.data());
    IsaacNext(isaac);
    IsaacState saved;
    saved = isaac;
    std::vector<std::uint8_t> first(4 * 1000), again(4 * 1000);
    IsaacFillWords(isaac, first.data(), 1000);
    const std::uint32_t after = IsaacNext(isaac);
    isaac = saved;
    IsaacFillWords(isaac, again.data(), 1000);
    EXPECT_EQ(again, first);
    EXPECT_EQ(IsaacNext(isaac), after);
}

TEST(Isaac, RandomBytesMatchOneDrawPerByte) {
    IsaacState isaac;
    std::array<std::uint32_t, 256> seed{};
    seed[3] = 9;
    for (std::uint32_t range : {26u, 1u, 2u, 255u}) {
        IsaacInit(isaac, seed.data());
        IsaacNext(isaac); // start mid-batch
        std::vector<std::uint8_t> expected(1000);
        for (auto& byte : expected)
            byte = static_cast<std::uint8_t>(48 + IsaacRandom(isaac, range));
        std::uint32_t after = IsaacNext(isaac);
        IsaacInit(isaac, seed.data());
        IsaacNext(isaac);
        std::vector<std::uint8_t> actual(1000);
        IsaacRandomBytes(isaac, actual.data(), 255, range, 48);
        IsaacRandomBytes(isaac, actual.data() + 255, 745, range, 48);
        ASSERT_EQ(actual, expected) << range;
        EXPECT_EQ(IsaacNext(isaac), after) << range;
    }
}

TEST(Isaac, RandomScalesTheNextResult) {
    IsaacState isaac;
    std::array<std::uint32_t, 256> seed{};
    IsaacInit(isaac, seed.data());
    // E76DD339 * 10 >> 32 = 9, D91AA738 * 3 >> 32 = 2.
    EXPECT_EQ(IsaacRandom(isaac, 10), 9u);
    EXPECT_EQ(IsaacRandom(isaac, 3), 2u);
}

TEST(Isaac, SeedDrawsTheStandardGenerator) {
    std::uint32_t randSeed = 0;
    IsaacState isaac;
    randSeed = 1;
    IsaacSeed(isaac, randSeed);
    std::uint32_t first = IsaacNext(isaac);
    EXPECT_NE(randSeed, 1u); // 256 draws advanced it
    randSeed = 1;
    std::array<std::uint32_t, 256> seed{};
    for (auto& word : seed)
        word = Random(randSeed, 0xFFFFFFFFu);
    IsaacInit(isaac, seed.data());
    EXPECT_EQ(IsaacNext(isaac), first);
}

TEST(StandardGenerator, StepAndScaling) {
    std::uint32_t randSeed = 0;
    EXPECT_EQ(Random(randSeed, 0xFFFFFFFFu), 0u); // seed 1: seed - 1
    EXPECT_EQ(randSeed, 1u);
    EXPECT_EQ(Random(randSeed, 256), (0x08088405u * 1u + 1u) >> 24);
    randSeed = 0xFFFFFFFFu;
    Random(randSeed, 1);
    EXPECT_EQ(randSeed, 0xFFFFFFFFu * 0x08088405u + 1u);
    for (int i = 0; i < 1000; ++i)
        EXPECT_LT(Random(randSeed, 7), 7u);
}

TEST(StandardGenerator, RandomizeSeedsFromTheSystemClock) {
    std::uint32_t randSeed = 0;
    platform::ScopedSystem machine{platform::sim::CreateSimSystem("")};
    auto& clock = dynamic_cast<platform::sim::SimKernel32&>(platform::k32());
    clock.ticks = 7; // the simulated counter runs at 1000 counts a tick
    Randomize(randSeed);
    EXPECT_EQ(randSeed, 7000u);
    clock.ticks = 8;
    Randomize(randSeed);
    EXPECT_EQ(randSeed, 8000u);
    TGenerators run; // a run's generators are seeded the same way
    Randomize(run);
    EXPECT_EQ(run.RandSeed, 8000u);
}

// Generators are plain values: two of them, drawn from in turn, give each the sequence it
// gives alone, and a copy goes on exactly as the original.
TEST(Generators, TwoStatesDrawIndependently) {
    TGenerators first, second;
    first.RandSeed = 11;
    second.RandSeed = 12;
    IsaacSeed(first.Isaac, first.RandSeed);
    IsaacSeed(second.Isaac, second.RandSeed);
    const TGenerators firstCopy = first, secondCopy = second;

    std::vector<std::uint32_t> interleaved;
    for (int k = 0; k < 600; ++k) {
        interleaved.push_back(IsaacNext(first.Isaac));
        interleaved.push_back(IsaacNext(second.Isaac));
        interleaved.push_back(Random(first.RandSeed, 1000));
        interleaved.push_back(Random(second.RandSeed, 1000));
    }
    TGenerators a = firstCopy, b = secondCopy;
    for (int k = 0; k < 600; ++k) {
        ASSERT_EQ(interleaved[4 * k], IsaacNext(a.Isaac)) << k;
        ASSERT_EQ(interleaved[4 * k + 2], Random(a.RandSeed, 1000)) << k;
    }
    for (int k = 0; k < 600; ++k) {
        ASSERT_EQ(interleaved[4 * k + 1], IsaacNext(b.Isaac)) << k;
        ASSERT_EQ(interleaved[4 * k + 3], Random(b.RandSeed, 1000)) << k;
    }
    EXPECT_NE(interleaved[0], interleaved[1]);
}

// The bulk fill against the definition, over lengths around the lane width and odd ranges.
TEST(StandardGenerator, BulkFillMatchesOneStepAtATime) {
    std::uint32_t randSeed = 0;
    for (std::uint32_t range : {256u, 26u, 2u, 1u, 255u}) {
        for (std::size_t count : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 33u, 512u, 4099u}) {
            randSeed = 0xDEADBEEFu + static_cast<std::uint32_t>(count);
            std::vector<std::uint8_t> expected(count);
            for (auto& byte : expected)
                byte = static_cast<std::uint8_t>(65 + Random(randSeed, range));
            std::uint32_t seedAfter = randSeed;

            randSeed = 0xDEADBEEFu + static_cast<std::uint32_t>(count);
            std::vector<std::uint8_t> actual(count);
            RandomBytes(randSeed, actual.data(), count, range, 65);
            ASSERT_EQ(actual, expected) << "range " << range << " count " << count;
            ASSERT_EQ(randSeed, seedAfter) << "range " << range << " count " << count;
        }
    }
}

} // namespace
} // namespace purgelet
