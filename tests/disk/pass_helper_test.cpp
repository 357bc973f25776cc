// The pass helper's jobs of several draws: each buffer handed back as soon as it is drawn,
// the state before each saved where the caller asked, and a discarded job left as drawn, since
// only the caller knows how many of its buffers were used.
#include "disk/pass_helper.h"
#include "disk_test_support.h"
#include "methods/generators.h"
#include "methods/wipe_state.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
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
    TPassHelper::Job Job() {
        TPassHelper::Job job;
        for (int i = 0; i < kDraws; ++i)
            job.draws[static_cast<std::size_t>(job.drawCount++)] = {
                buffers[static_cast<std::size_t>(i)].data(), kBytes,
                &before[static_cast<std::size_t>(i)]};
        return job;
    }
    // What drawing the same buffers one after another on this thread gives.
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

TEST(PassHelperDraws, ADiscardedJobOfDrawsIsLeftAsDrawnAndASingleFillIsUndone) {
    Fixture f(true);
    const auto expected = f.Reference();
    {
        TPassHelper helper(f.state);
        helper.Post(f.Job());
        helper.AwaitDrawn(2); // two buffers used, as a runner that then meets an abort
        helper.Discard();
        EXPECT_FALSE(helper.Busy());
    }
    // Left after the last draw: the next value is the one after the job's five buffers.
    std::vector<std::uint8_t> next(kBytes), after(kBytes);
    f.state.FillBuffer(next.data(), kBytes);
    {
        Fixture g(true);
        TWipeState& s = g.state;
        for (int i = 0; i < kDraws; ++i) {
            std::vector<std::uint8_t> skip(kBytes);
            s.FillBuffer(skip.data(), kBytes);
        }
        s.FillBuffer(after.data(), kBytes);
    }
    EXPECT_EQ(next, after);
    // The caller puts back what it did not use, from the state saved before the third draw.
    f.state.RestoreFillState(f.before[2]);
    std::vector<std::uint8_t> third(kBytes);
    f.state.FillBuffer(third.data(), kBytes);
    EXPECT_EQ(third, expected[2]);

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
