// The pass helper's jobs of several draws: each buffer handed back as soon as it is drawn,
// the state before each saved where the caller asked, a buffer of the ring drawn again only
// once the caller allows it, and a discarded job stopped and left as drawn, since only the
// caller knows how many of its buffers were used.
#include "disk/pass_helper.h"
#include "disk_test_support.h"
#include "methods/generators.h"
#include "methods/wipe_state.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

namespace purgelet::wipe_engine {
namespace {

constexpr std::size_t kBytes = 4096;
constexpr int kDraws = 5;

struct Fixture {
    std::unique_ptr<method> m = testing::MethodFromLines({"RAND=000255"});
    TGenerators generators;
    TWipeState state{*m, generators};
    std::array<std::vector<std::uint8_t>, kDraws> buffers;
    std::array<TFillState, kDraws> before;

    explicit Fixture(bool isaac) {
        generators.UseIsaac = isaac;
        generators.RandSeed = 0x2468ACEu;
        state.ResetPasses(); // the first pass: the random one
        for (auto& b : buffers)
            b.assign(kBytes, 0);
    }
    // Draws into the first ringSize buffers in turn, all of them allowed unless told.
    TPassHelper::Job Job(int ringSize = kDraws, std::int64_t allowed = kDraws) {
        TPassHelper::Job job;
        for (int i = 0; i < ringSize; ++i)
            job.ring[static_cast<std::size_t>(i)] = {buffers[static_cast<std::size_t>(i)].data(),
                                                     kBytes, &before[static_cast<std::size_t>(i)]};
        job.ringSize = ringSize;
        job.draws = kDraws;
        job.allowed = allowed;
        return job;
    }
    // What drawing kDraws buffers one after another on this thread gives.
    std::vector<std::vector<std::uint8_t>> Reference() {
        TGenerators copy = generators;
        TWipeState again(*m, copy);
        again.CurrentPass = 1;
        std::vector<std::vector<std::uint8_t>> out;
        for (int i = 0; i < kDraws; ++i) {
            out.emplace_back(kBytes);
            again.FillBuffer(out.back().data(), kBytes);
        }
        return out;
    }
};

TEST(PassHelperDraws, EachBufferIsHandedBackInTurnWithTheStateBeforeItSaved) {
    for (bool isaac : {true, false}) {
        SCOPED_TRACE(isaac ? "ISAAC" : "standard generator");
        Fixture f(isaac);
        const auto expected = f.Reference();
        TPassHelper helper(f.state);
        helper.Post(f.Job());
        int seen = 0;
        for (int n = 1; n <= kDraws; ++n) {
            helper.AwaitDrawn(n);
            seen = helper.Drawn();
            ASSERT_GE(seen, n);
            // A buffer handed back holds its draw already, while the job may still run.
            EXPECT_EQ(f.buffers[static_cast<std::size_t>(n - 1)],
                      expected[static_cast<std::size_t>(n - 1)]);
        }
        helper.Wait();
        EXPECT_EQ(helper.Drawn(), kDraws);
        // Each saved state draws its own buffer again: it is the state just before that draw.
        for (int i = 0; i < kDraws; ++i) {
            const auto k = static_cast<std::size_t>(i);
            f.state.RestoreFillState(f.before[k]);
            std::vector<std::uint8_t> again(kBytes);
            f.state.FillBuffer(again.data(), kBytes);
            EXPECT_EQ(again, expected[k]) << "draw " << i;
        }
    }
}

TEST(PassHelperDraws, ARingBufferIsDrawnAgainOnlyOnceAllowedAndTheLastDrawMayBeShorter) {
    Fixture f(true);
    const auto expected = f.Reference();
    TPassHelper helper(f.state);
    auto job = f.Job(2, 2); // draws 0 and 2 go to buffer 0, 1 and 3 to buffer 1, 4 to buffer 0
    job.lastBytes = 100;
    helper.Post(job);
    helper.AwaitDrawn(2);
    EXPECT_EQ(f.buffers[0], expected[0]);
    EXPECT_EQ(f.buffers[1], expected[1]);
    // Not allowed further: the helper waits, and neither buffer, still the caller's, changes.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(helper.Drawn(), 2);
    EXPECT_FALSE(helper.Done());
    EXPECT_EQ(f.buffers[0], expected[0]);

    helper.Allow(3);
    helper.AwaitDrawn(3);
    EXPECT_EQ(f.buffers[0], expected[2]);
    helper.Allow(1); // never takes back what was allowed
    helper.Allow(kDraws);
    helper.Wait();
    EXPECT_EQ(helper.Drawn(), kDraws);
    EXPECT_EQ(helper.Begun(), kDraws);
    EXPECT_EQ(f.buffers[1], expected[3]);
    // The last draw's 100 bytes are the start of what a whole buffer would have held; the rest
    // of the buffer is left as draw 2 made it.
    EXPECT_TRUE(std::equal(f.buffers[0].begin(), f.buffers[0].begin() + 100, expected[4].begin()));
    EXPECT_TRUE(
        std::equal(f.buffers[0].begin() + 100, f.buffers[0].end(), expected[2].begin() + 100));
}

TEST(PassHelperDraws, ADiscardWhileTheHelperAwaitsABufferStopsTheJobWithWhatItDrew) {
    Fixture f(false);
    const auto expected = f.Reference();
    {
        TPassHelper helper(f.state);
        helper.Post(f.Job(2, 3));
        helper.AwaitDrawn(3);
        std::this_thread::sleep_for(std::chrono::milliseconds(5)); // asleep on the fourth
        helper.Discard();
        EXPECT_FALSE(helper.Busy());
        EXPECT_EQ(helper.Drawn(), 3);
        EXPECT_EQ(helper.Begun(), 3);
    }
    // Left after the third draw: the caller undoes from there if it must.
    std::vector<std::uint8_t> next(kBytes);
    f.state.FillBuffer(next.data(), kBytes);
    EXPECT_EQ(next, expected[3]);
}

TEST(PassHelperDraws, ADiscardedJobOfDrawsIsLeftAsDrawnAndASingleFillIsUndone) {
    Fixture f(true);
    const auto expected = f.Reference();
    std::int64_t begun = 0;
    {
        TPassHelper helper(f.state);
        helper.Post(f.Job());
        helper.AwaitDrawn(2); // two buffers used, as a runner that then meets an abort
        helper.Discard();
        EXPECT_FALSE(helper.Busy());
        begun = helper.Begun();
    }
    // Stopped after the draw under way, or later: the generators stand right after the draws
    // begun, and nothing is undone.
    ASSERT_GE(begun, 2);
    ASSERT_LE(begun, kDraws);
    std::vector<std::uint8_t> next(kBytes), after(kBytes);
    f.state.FillBuffer(next.data(), kBytes);
    {
        Fixture g(true);
        TWipeState& s = g.state;
        for (std::int64_t i = 0; i < begun; ++i) {
            std::vector<std::uint8_t> skip(kBytes);
            s.FillBuffer(skip.data(), kBytes);
        }
        s.FillBuffer(after.data(), kBytes);
    }
    EXPECT_EQ(next, after);
    // The caller puts back what it did not use, from the state saved before the third draw
    // (when that draw was begun; else the generators already stand there).
    if (begun > 2) {
        f.state.RestoreFillState(f.before[2]);
        std::vector<std::uint8_t> third(kBytes);
        f.state.FillBuffer(third.data(), kBytes);
        EXPECT_EQ(third, expected[2]);
    } else {
        EXPECT_EQ(next, expected[2]);
    }

    // A single fill discarded is undone by the helper itself.
    Fixture h(true);
    const auto first = h.Reference()[0];
    {
        TPassHelper helper(h.state);
        TPassHelper::Job job;
        job.fill = h.buffers[0].data();
        job.bytes = kBytes;
        helper.Post(job);
        helper.Discard();
    }
    std::vector<std::uint8_t> redrawn(kBytes);
    h.state.FillBuffer(redrawn.data(), kBytes);
    EXPECT_EQ(redrawn, first);
}

} // namespace
} // namespace purgelet::wipe_engine
