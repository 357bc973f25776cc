// The run's figures against a clock the test drives: a drive's speed over the last seconds
// and its time left, its pass and read-back, the run's progress by bytes with drives of
// different sizes, drives that failed or were aborted, a disc that tells no fraction, and a
// tick count that wraps around.
#include "app/run_figures.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace purgelet {
namespace {

constexpr std::int64_t kMB = 1000 * 1000;

TDriveStatus Drive(TDriveState state, double progress, std::int64_t transfer, int pass = 0,
                   int passes = 0) {
    TDriveStatus status;
    status.State = state;
    status.Progress = progress;
    status.Pass = pass;
    status.PassCount = passes;
    status.Bytes = transfer / std::max(passes, 1);
    status.TransferBytes = transfer;
    return status;
}

TEST(RunFigures, ADrivesSpeedTimeLeftAndPassFollowTheLastSecondsAndItsEndKeepsItsAverage) {
    TRunFigures figures(5000);
    // 300 MB in 3 passes; 1 MB/s for 10 s, then 3 MB/s for 10 s.
    const std::int64_t total = 300 * kMB;
    figures.Update({Drive(TDriveState::dsWaiting, 0, total, 0, 3)}, 0);
    EXPECT_EQ(figures.Drives()[0].ElapsedMs, 0u);
    EXPECT_FALSE(figures.Drives()[0].BytesPerSecond);
    figures.Update({Drive(TDriveState::dsWiping, 0, total, 1, 3)}, 1000);
    std::int64_t moved = 0;
    std::uint32_t now = 1000;
    for (int s = 0; s < 20; ++s) {
        moved += (s < 10 ? 1 : 3) * kMB;
        now += 1000;
        figures.Update(
            {Drive(TDriveState::dsWiping, static_cast<double>(moved) / total, total, 1, 3)}, now);
    }
    const TDriveFigures& drive = figures.Drives()[0];
    EXPECT_EQ(drive.State, TDriveState::dsWiping);
    EXPECT_EQ(drive.Pass, 1);
    EXPECT_EQ(drive.PassCount, 3);
    EXPECT_EQ(drive.MovedBytes, 40 * kMB);
    ASSERT_TRUE(drive.BytesPerSecond);
    EXPECT_DOUBLE_EQ(*drive.BytesPerSecond, 3.0 * kMB); // not the 2 MB/s of the whole time
    ASSERT_TRUE(drive.SecondsLeft);
    EXPECT_DOUBLE_EQ(*drive.SecondsLeft, 260.0 / 3.0);
    EXPECT_EQ(drive.ElapsedMs, 20000u); // from the first update that was not waiting
    EXPECT_FALSE(drive.AverageBytesPerSecond);

    // The read-back of the pass is its own state; the pass stays.
    figures.Update({Drive(TDriveState::dsVerifying, 0.2, total, 1, 3)}, now + 500);
    EXPECT_EQ(figures.Drives()[0].State, TDriveState::dsVerifying);
    EXPECT_EQ(figures.Drives()[0].Pass, 1);

    // Done: no speed or time left any more, the average over its whole time, and the time
    // taken stays where it ended.
    figures.Update({Drive(TDriveState::dsDone, 1.0, total, 3, 3)}, 101000);
    figures.Update({Drive(TDriveState::dsDone, 1.0, total, 3, 3)}, 200000);
    const TDriveFigures& done = figures.Drives()[0];
    EXPECT_FALSE(done.BytesPerSecond);
    EXPECT_FALSE(done.SecondsLeft);
    EXPECT_EQ(done.ElapsedMs, 100000u);
    ASSERT_TRUE(done.AverageBytesPerSecond);
    EXPECT_DOUBLE_EQ(*done.AverageBytesPerSecond, 3.0 * kMB);
    EXPECT_EQ(figures.Run().Fraction, 1.0);
    EXPECT_EQ(figures.Run().ElapsedMs, 101000u); // the wait before the drive included
    ASSERT_TRUE(figures.Run().SecondsLeft);
    EXPECT_EQ(*figures.Run().SecondsLeft, 0.0);
}

TEST(RunFigures, TheRunIsMeasuredByBytesSoASmallDriveDoneCountsLittle) {
    TRunFigures figures(5000);
    const std::int64_t small = 10 * kMB;
    const std::int64_t large = 90 * kMB;
    figures.Update(
        {Drive(TDriveState::dsWiping, 0, small), Drive(TDriveState::dsWaiting, 0, large)}, 0);
    // The small drive at 1 MB/s.
    for (std::uint32_t s = 1; s <= 10; ++s)
        figures.Update(
            {Drive(s < 10 ? TDriveState::dsWiping : TDriveState::dsDone, s / 10.0, small),
             Drive(TDriveState::dsWaiting, 0, large)},
            s * 1000);
    // One drive of two done, yet a tenth of the run: by drive count it would be a half.
    EXPECT_DOUBLE_EQ(figures.Run().Fraction, 0.1);
    EXPECT_EQ(figures.Run().DoneBytes, small);
    EXPECT_EQ(figures.Run().TotalBytes, small + large);
    // The waiting drive's bytes at the run's speed so far.
    ASSERT_TRUE(figures.Run().SecondsLeft);
    EXPECT_NEAR(*figures.Run().SecondsLeft, 90.0, 1e-9);

    figures.Update({Drive(TDriveState::dsDone, 1, small), Drive(TDriveState::dsWiping, 0.5, large)},
                   60000);
    EXPECT_DOUBLE_EQ(figures.Run().Fraction, 0.55);
    EXPECT_EQ(figures.Drives()[1].MovedBytes, 45 * kMB);
    EXPECT_EQ(figures.Drives()[0].ElapsedMs, 10000u);
}

TEST(RunFigures, AFailedDriveIsPassedAndAnAbortedOneCountsWhatItMoved) {
    TRunFigures figures(5000);
    const std::int64_t size = 100 * kMB;
    figures.Update({Drive(TDriveState::dsWiping, 0, size), Drive(TDriveState::dsWaiting, 0, size),
                    Drive(TDriveState::dsWaiting, 0, size)},
                   0);
    figures.Update({Drive(TDriveState::dsWiping, 0.3, size), Drive(TDriveState::dsWaiting, 0, size),
                    Drive(TDriveState::dsWaiting, 0, size)},
                   3000);
    // The first fails at 30 %: the run goes past it, its whole share is behind.
    figures.Update({Drive(TDriveState::dsFailed, 0.3, size), Drive(TDriveState::dsWiping, 0, size),
                    Drive(TDriveState::dsWaiting, 0, size)},
                   4000);
    EXPECT_DOUBLE_EQ(figures.Run().Fraction, 1.0 / 3.0);
    const TDriveFigures& failed = figures.Drives()[0];
    EXPECT_EQ(failed.State, TDriveState::dsFailed);
    EXPECT_EQ(failed.MovedBytes, 30 * kMB);
    EXPECT_EQ(failed.ElapsedMs, 4000u);
    ASSERT_TRUE(failed.AverageBytesPerSecond);
    EXPECT_DOUBLE_EQ(*failed.AverageBytesPerSecond, 7.5 * kMB);
    EXPECT_FALSE(failed.SecondsLeft);

    // The second is aborted at 20 %, and the third never starts: the run ends short of its
    // end, and nothing is left to wait for.
    figures.Update({Drive(TDriveState::dsFailed, 0.3, size),
                    Drive(TDriveState::dsWiping, 0.2, size),
                    Drive(TDriveState::dsWaiting, 0, size)},
                   6000);
    figures.Update({Drive(TDriveState::dsFailed, 0.3, size),
                    Drive(TDriveState::dsAborted, 0.2, size),
                    Drive(TDriveState::dsAborted, 0, size)},
                   6500);
    EXPECT_DOUBLE_EQ(figures.Run().Fraction, 0.4);
    EXPECT_EQ(figures.Drives()[1].MovedBytes, 20 * kMB);
    EXPECT_EQ(figures.Drives()[1].ElapsedMs, 2500u);
    EXPECT_EQ(figures.Drives()[2].ElapsedMs, 0u);
    EXPECT_FALSE(figures.Drives()[2].AverageBytesPerSecond); // no time, no speed
    EXPECT_EQ(figures.Drives()[2].MovedBytes, 0);
    ASSERT_TRUE(figures.Run().SecondsLeft);
    EXPECT_EQ(*figures.Run().SecondsLeft, 0.0);
    EXPECT_FALSE(figures.Run().BytesPerSecond);
}

TEST(RunFigures, ADiscThatTellsNoFractionHasNoSpeedAndCountsHalfWhileBlanked) {
    TRunFigures figures(5000);
    TDriveStatus disc = Drive(TDriveState::dsWiping, -1.0, 0);
    disc.Bytes = 100 * kMB; // weighs its size in the run, though no byte of it is counted
    const TDriveStatus disk = Drive(TDriveState::dsWaiting, 0, 100 * kMB);
    for (std::uint32_t t = 0; t <= 20000; t += 1000)
        figures.Update({disc, disk}, t);
    const TDriveFigures& blanking = figures.Drives()[0];
    EXPECT_FALSE(blanking.Measurable);
    EXPECT_EQ(blanking.MovedBytes, 0);
    EXPECT_FALSE(blanking.BytesPerSecond);
    EXPECT_FALSE(blanking.SecondsLeft);
    EXPECT_EQ(blanking.ElapsedMs, 20000u);
    EXPECT_DOUBLE_EQ(figures.Run().Fraction, 0.25);
    EXPECT_FALSE(figures.Run().SecondsLeft) << "the disc's time is unknown";

    // Its end says 1, which measures nothing either.
    disc.State = TDriveState::dsDone;
    disc.Progress = 1.0;
    figures.Update({disc, disk}, 30000);
    EXPECT_EQ(figures.Drives()[0].MovedBytes, 0);
    EXPECT_FALSE(figures.Drives()[0].AverageBytesPerSecond);
    EXPECT_EQ(figures.Drives()[0].ElapsedMs, 30000u);
    EXPECT_DOUBLE_EQ(figures.Run().Fraction, 0.5);
}

TEST(RunFigures, TheTickCountWrapsAroundWithoutBadNumbers) {
    TRunFigures figures(5000);
    const std::int64_t total = 100 * kMB;
    const std::uint32_t start = 0xFFFFFFFFu - 2500u; // wraps 2.5 s in
    figures.Update({Drive(TDriveState::dsWiping, 0, total)}, start);
    for (std::uint32_t s = 1; s <= 6; ++s)
        figures.Update({Drive(TDriveState::dsWiping, s * 0.02, total)}, start + s * 1000);
    const TDriveFigures& drive = figures.Drives()[0];
    EXPECT_EQ(drive.ElapsedMs, 6000u);
    ASSERT_TRUE(drive.BytesPerSecond);
    EXPECT_DOUBLE_EQ(*drive.BytesPerSecond, 2.0 * kMB);
    EXPECT_DOUBLE_EQ(*drive.SecondsLeft, 44.0);
    EXPECT_EQ(figures.Run().ElapsedMs, 6000u);
    EXPECT_DOUBLE_EQ(*figures.Run().SecondsLeft, 44.0);
}

TEST(RunFigures, ADriveFirstSeenPartWayCountsOnlyWhatItMovesAfterInItsSpeed) {
    TRunFigures figures(5000);
    const std::int64_t total = 100 * kMB;
    figures.Update({Drive(TDriveState::dsWiping, 0.5, total)}, 0);
    EXPECT_FALSE(figures.Drives()[0].BytesPerSecond);
    EXPECT_EQ(figures.Drives()[0].MovedBytes, 50 * kMB);
    EXPECT_DOUBLE_EQ(figures.Run().Fraction, 0.5);
    figures.Update({Drive(TDriveState::dsWiping, 0.51, total)}, 1000);
    ASSERT_TRUE(figures.Drives()[0].BytesPerSecond);
    EXPECT_DOUBLE_EQ(*figures.Drives()[0].BytesPerSecond, 1.0 * kMB);
    EXPECT_DOUBLE_EQ(*figures.Drives()[0].SecondsLeft, 49.0);
}

TEST(RunFigures, AnotherRunStartsAfresh) {
    TRunFigures figures(5000);
    figures.Update({Drive(TDriveState::dsWiping, 0.5, 10 * kMB)}, 0);
    figures.Update({Drive(TDriveState::dsDone, 1, 10 * kMB)}, 5000);
    // A run of two drives: nothing of the first run's drive or time carries over.
    figures.Update({Drive(TDriveState::dsWiping, 0, kMB), Drive(TDriveState::dsWaiting, 0, kMB)},
                   9000);
    figures.Update({Drive(TDriveState::dsWiping, 0.5, kMB), Drive(TDriveState::dsWaiting, 0, kMB)},
                   10000);
    EXPECT_EQ(figures.Drives().size(), 2u);
    EXPECT_EQ(figures.Drives()[0].ElapsedMs, 1000u);
    EXPECT_EQ(figures.Run().ElapsedMs, 1000u);
    EXPECT_DOUBLE_EQ(figures.Run().Fraction, 0.25);
    figures.Reset();
    EXPECT_TRUE(figures.Drives().empty());
    EXPECT_EQ(figures.Run().Fraction, 0.0);
}

} // namespace
} // namespace purgelet
