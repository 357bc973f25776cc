// The two generators: the published ISAAC vectors, the standard generator's definition, and
// the bulk fill that must give exactly the bytes of the one-step-at-a-time definition.
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
    std::array<std::uint32_t, 256> seed{};
    IsaacInit(seed.data());
    EXPECT_EQ(IsaacNext(), 0xE76DD339u);
    EXPECT_EQ(IsaacNext(), 0xD91AA738u);
    EXPECT_EQ(IsaacNext(), 0xD32956E5u);
    EXPECT_EQ(IsaacNext(), 0xA264E933u);
    for (int i = 5; i <= 256; ++i)
        IsaacNext();
    EXPECT_EQ(IsaacNext(), 0xF650E4C8u);
    EXPECT_EQ(IsaacNext(), 0xE448E96Du);
    EXPECT_EQ(IsaacNext(), 0x98DB2FB4u);
    EXPECT_EQ(IsaacNext(), 0xF5FAD54Fu);
}

TEST(Isaac, WordFillHandsOutTheSameResultsLittleEndianAcrossBatches) {
    std::array<std::uint32_t, 256> seed{};
    seed[0] = 12345;
    IsaacInit(seed.data());
    std::vector<std::uint32_t> expected(1880);
    for (auto& word : expected)
        word = IsaacNext();
    std::uint32_t after = IsaacNext();

    IsaacInit(seed.data());
    std::vector<std::uint8_t> bytes(4 * 1880);
    // Uneven pieces: one word, a run ending exactly at a batch end, a run across a batch end,
    // a run over two whole batches ending at a batch end, and one from a batch start over
    // a whole batch into the next.
    IsaacFillWords(bytes.data(), 1);
    IsaacFillWords(bytes.data() + 4, 255);
    IsaacFillWords(bytes.data() + 4 * 256, 444);
    IsaacFillWords(bytes.data() + 4 * 700, 580);
    IsaacFillWords(bytes.data() + 4 * 1280, 600);
    for (std::size_t k = 0; k < expected.size(); ++k) {
        std::uint32_t word = bytes[4 * k] | bytes[4 * k + 1] << 8 | bytes[4 * k + 2] << 16 |
                             static_cast<std::uint32_t>(bytes[4 * k + 3]) << 24;
        ASSERT_EQ(word, expected[k]) << "word " << k;
    }
    EXPECT_EQ(IsaacNext(), after);
}

TEST(Isaac, ASavedStateDrawsTheSameWordsAgain) {
    std::array<std::uint32_t, 256> seed{};
    seed[7] = 99;
    IsaacInit(seed.data());
    IsaacNext();
    IsaacState saved;
    IsaacSaveState(saved);
    std::vector<std::uint8_t> first(4 * 1000), again(4 * 1000);
    IsaacFillWords(first.data(), 1000);
    const std::uint32_t after = IsaacNext();
    IsaacRestoreState(saved);
    IsaacFillWords(again.data(), 1000);
    EXPECT_EQ(again, first);
    EXPECT_EQ(IsaacNext(), after);
}

TEST(Isaac, RandomBytesMatchOneDrawPerByte) {
    std::array<std::uint32_t, 256> seed{};
    seed[3] = 9;
    for (std::uint32_t range : {26u, 1u, 2u, 255u}) {
        IsaacInit(seed.data());
        IsaacNext(); // start mid-batch
        std::vector<std::uint8_t> expected(1000);
        for (auto& byte : expected)
            byte = static_cast<std::uint8_t>(48 + IsaacRandom(range));
        std::uint32_t after = IsaacNext();
        IsaacInit(seed.data());
        IsaacNext();
        std::vector<std::uint8_t> actual(1000);
        IsaacRandomBytes(actual.data(), 255, range, 48);
        IsaacRandomBytes(actual.data() + 255, 745, range, 48);
        ASSERT_EQ(actual, expected) << range;
        EXPECT_EQ(IsaacNext(), after) << range;
    }
}

TEST(Isaac, RandomScalesTheNextResult) {
    std::array<std::uint32_t, 256> seed{};
    IsaacInit(seed.data());
    // E76DD339 * 10 >> 32 = 9, D91AA738 * 3 >> 32 = 2.
    EXPECT_EQ(IsaacRandom(10), 9u);
    EXPECT_EQ(IsaacRandom(3), 2u);
}

TEST(Isaac, SeedDrawsTheStandardGenerator) {
    RandSeed = 1;
    IsaacSeed();
    std::uint32_t first = IsaacNext();
    EXPECT_NE(RandSeed, 1u); // 256 draws advanced it
    RandSeed = 1;
    std::array<std::uint32_t, 256> seed{};
    for (auto& word : seed)
        word = Random(0xFFFFFFFFu);
    IsaacInit(seed.data());
    EXPECT_EQ(IsaacNext(), first);
}

TEST(StandardGenerator, StepAndScaling) {
    RandSeed = 0;
    EXPECT_EQ(Random(0xFFFFFFFFu), 0u); // seed 1: seed - 1
    EXPECT_EQ(RandSeed, 1u);
    EXPECT_EQ(Random(256), (0x08088405u * 1u + 1u) >> 24);
    RandSeed = 0xFFFFFFFFu;
    Random(1);
    EXPECT_EQ(RandSeed, 0xFFFFFFFFu * 0x08088405u + 1u);
    for (int i = 0; i < 1000; ++i)
        EXPECT_LT(Random(7), 7u);
}

TEST(StandardGenerator, RandomizeSeedsFromTheSystemClock) {
    platform::ScopedSystem machine{platform::sim::CreateSimSystem("")};
    auto& clock = dynamic_cast<platform::sim::SimKernel32&>(platform::k32());
    clock.ticks = 7; // the simulated counter runs at 1000 counts a tick
    RandSeed = 0;
    Randomize();
    EXPECT_EQ(RandSeed, 7000u);
    clock.ticks = 8;
    Randomize();
    EXPECT_EQ(RandSeed, 8000u);
}

// The bulk fill against the definition, over lengths around the lane width and odd ranges.
TEST(StandardGenerator, BulkFillMatchesOneStepAtATime) {
    for (std::uint32_t range : {256u, 26u, 2u, 1u, 255u}) {
        for (std::size_t count : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 33u, 512u, 4099u}) {
            RandSeed = 0xDEADBEEFu + static_cast<std::uint32_t>(count);
            std::vector<std::uint8_t> expected(count);
            for (auto& byte : expected)
                byte = static_cast<std::uint8_t>(65 + Random(range));
            std::uint32_t seedAfter = RandSeed;

            RandSeed = 0xDEADBEEFu + static_cast<std::uint32_t>(count);
            std::vector<std::uint8_t> actual(count);
            RandomBytes(actual.data(), count, range, 65);
            ASSERT_EQ(actual, expected) << "range " << range << " count " << count;
            ASSERT_EQ(RandSeed, seedAfter) << "range " << range << " count " << count;
        }
    }
}

} // namespace
} // namespace purgelet
