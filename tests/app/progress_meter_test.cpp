// The progress meter: the speed over the last few seconds (not since the start), the time
// left at that speed, a stall, a tick count that wraps, and a flood of updates that neither
// grows it nor skews it.
#include "app/progress_meter.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace purgelet {
namespace {

constexpr std::int64_t kMB = 1000 * 1000;

TEST(ProgressMeter, SpeedAndTimeLeftFollowTheLastSecondsNotTheWholeRun) {
    TProgressMeter meter(100 * kMB, 5000);
    meter.Start(1000);
    EXPECT_FALSE(meter.BytesPerSecond());
    EXPECT_FALSE(meter.SecondsLeft());
    EXPECT_EQ(meter.Fraction(), 0.0);

    // 10 seconds at 1 MB/s.
    for (std::uint32_t t = 1; t <= 10; ++t)
        meter.Update(static_cast<std::int64_t>(t) * kMB, 1000 + t * 1000);
    ASSERT_TRUE(meter.BytesPerSecond());
    EXPECT_DOUBLE_EQ(*meter.BytesPerSecond(), 1.0 * kMB);
    EXPECT_DOUBLE_EQ(*meter.SecondsLeft(), 90.0);
    EXPECT_EQ(meter.ElapsedMs(), 10000u);
    EXPECT_DOUBLE_EQ(meter.Fraction(), 0.1);

    // Then 4 MB/s: after a whole window the old pace no longer counts.
    for (std::uint32_t t = 1; t <= 5; ++t)
        meter.Update(10 * kMB + static_cast<std::int64_t>(t) * 4 * kMB, 11000 + t * 1000);
    EXPECT_DOUBLE_EQ(*meter.BytesPerSecond(), 4.0 * kMB);
    EXPECT_DOUBLE_EQ(*meter.SecondsLeft(), 70.0 / 4.0);

    // Halfway into the next window the speed lies between the two paces.
    meter.Update(30 * kMB, 17000);
    meter.Update(30 * kMB, 18000);
    EXPECT_LT(*meter.BytesPerSecond(), 4.0 * kMB);
    EXPECT_GT(*meter.BytesPerSecond(), 0.0);
}

TEST(ProgressMeter, AStallHasNoTimeLeftAndTheEndHasNone) {
    TProgressMeter meter(10 * kMB, 2000);
    meter.Start(0);
    meter.Update(5 * kMB, 1000);
    EXPECT_DOUBLE_EQ(*meter.SecondsLeft(), 1.0);
    // Nothing moves for longer than the window.
    meter.Update(5 * kMB, 2000);
    meter.Update(5 * kMB, 3500);
    EXPECT_DOUBLE_EQ(*meter.BytesPerSecond(), 0.0);
    EXPECT_FALSE(meter.SecondsLeft());

    meter.Update(10 * kMB, 4000);
    EXPECT_DOUBLE_EQ(*meter.SecondsLeft(), 0.0);
    EXPECT_DOUBLE_EQ(meter.Fraction(), 1.0);
    // Beyond the total or below zero is taken as the bound.
    meter.Update(12 * kMB, 4500);
    EXPECT_EQ(meter.DoneBytes(), 10 * kMB);
    meter.Update(-1, 4600);
    EXPECT_EQ(meter.DoneBytes(), 0);

    TProgressMeter nothing(0);
    nothing.Start(0);
    EXPECT_DOUBLE_EQ(nothing.Fraction(), 1.0);
    EXPECT_DOUBLE_EQ(*nothing.SecondsLeft(), 0.0);
}

TEST(ProgressMeter, TheTickCountMayWrapAround) {
    TProgressMeter meter(100 * kMB, 5000);
    const std::uint32_t start = 0xFFFFF000u; // 4096 ms before the wrap
    meter.Start(start);
    for (std::uint32_t t = 1; t <= 8; ++t)
        meter.Update(static_cast<std::int64_t>(t) * 2 * kMB, start + t * 1000);
    EXPECT_DOUBLE_EQ(*meter.BytesPerSecond(), 2.0 * kMB);
    EXPECT_EQ(meter.ElapsedMs(), 8000u);
}

TEST(ProgressMeter, ManyUpdatesASecondGiveTheSameSpeedAsFewOnes) {
    TProgressMeter many(1000 * kMB, 3000), few(1000 * kMB, 3000);
    many.Start(0);
    few.Start(0);
    // 3 MB/s, told every millisecond to one meter and every second to the other.
    for (std::uint32_t ms = 1; ms <= 20000; ++ms) {
        const std::int64_t done = static_cast<std::int64_t>(ms) * 3000;
        many.Update(done, ms);
        if (ms % 1000 == 0)
            few.Update(done, ms);
    }
    EXPECT_NEAR(*many.BytesPerSecond(), 3.0 * kMB, 1.0);
    EXPECT_NEAR(*few.BytesPerSecond(), 3.0 * kMB, 1.0);
    EXPECT_NEAR(*many.SecondsLeft(), *few.SecondsLeft(), 0.01);
}

} // namespace
} // namespace purgelet
