// The pass engine against an in-memory disk with injected faults and a scripted owner.
// Every test that writes checks the bytes left on the disk.
#include "disk/disk.h"
#include "disk/wipe_passes.h"
#include "disk_test_support.h"
#include "methods/generators.h"
#include "methods/method.h"
#include "methods/wipe_state.h"
#include "platform/sim/kernel32.h"
#include "platform/sim/sim.h"
#include "report/exceptions.h"
#include "support/memory_disk.h"
#include "support/recording_owner.h"
#include "support/reference_runners.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace purgelet {
namespace {

using testing::MemoryDisk;
using testing::MemoryMedium;
using testing::MethodFromLines;
using testing::RecordingOwner;
using Op = MemoryMedium::Op;

constexpr std::uint8_t kOld = 0xEE; // the memory disk's content before the wipe

// Blocks [from, to) all hold value.
::testing::AssertionResult BlocksHold(const MemoryDisk& disk, std::int64_t from, std::int64_t to,
                                      std::uint8_t value) {
    const auto size = static_cast<std::size_t>(disk.BlockSize);
    for (auto i = static_cast<std::size_t>(from) * size; i < static_cast<std::size_t>(to) * size;
         ++i)
        if (disk.medium.bytes[i] != value)
            return ::testing::AssertionFailure()
                   << "byte " << i << " (block " << i / size << ") is " << int(disk.medium.bytes[i])
                   << ", expected " << int(value);
    return ::testing::AssertionSuccess();
}

std::vector<std::int32_t> Counts(const MemoryMedium& medium, Op op) {
    std::vector<std::int32_t> counts;
    for (const auto& t : medium.transfers)
        if (t.op == op)
            counts.push_back(t.count);
    return counts;
}

class WipeEngine : public ::testing::Test {
protected:
    RecordingOwner owner;

    std::unique_ptr<MemoryDisk> Disk(std::int64_t blocks, std::int32_t blockSize = 512) {
        return MakeDisk<MemoryDisk>("E", &owner, blocks, blockSize, kOld);
    }
};

// ---- Transfer sizes and the chunk rule

TEST_F(WipeEngine, DefaultTransfersFillTheBufferAndTheLastOneIsShorter) {
    auto disk = Disk(2500);
    auto zero = method::CreateFromFile("");
    disk->WipeDisk(zero.get(), false, 0, 0, "");

    EXPECT_EQ(Counts(disk->medium, Op::Write), (std::vector<std::int32_t>{1153, 1153, 194}));
    EXPECT_TRUE(BlocksHold(*disk, 0, 2500, 0x00));
    EXPECT_EQ(disk->medium.calls, (std::vector<std::string>{"open(w)", "close"}));
    EXPECT_EQ(owner.Disk, disk.get());
    EXPECT_TRUE(owner.questions.empty());
    for (const auto& t : disk->medium.transfers)
        EXPECT_EQ(t.misalignment, 0u) << "the transfer buffer must be aligned for unbuffered I/O";
}

TEST_F(WipeEngine, LargeBlocksGetTheBufferInWholeBlocks) {
    auto disk = Disk(300, 2048);
    auto zero = method::CreateFromFile("");
    disk->WipeDisk(zero.get(), false, 0, 0, "");
    EXPECT_EQ(Counts(disk->medium, Op::Write), (std::vector<std::int32_t>{288, 12}));
    EXPECT_TRUE(BlocksHold(*disk, 0, 300, 0x00));
}

TEST_F(WipeEngine, ABufferSizeBelowTheBlockSizeBecomesOneBlock) {
    auto disk = Disk(4);
    auto ones = MethodFromLines({"HEXA=$FF"});
    TWipeContext wipe(ones.get(), &owner);
    wipe.Options.BufferSize = 100;
    disk->WipeDisk(wipe);
    EXPECT_EQ(wipe.Options.BufferSize, 512);
    EXPECT_EQ(Counts(disk->medium, Op::Write), (std::vector<std::int32_t>{1, 1, 1, 1}));
    EXPECT_TRUE(BlocksHold(*disk, 0, 4, 0xFF));
}

TEST_F(WipeEngine, ABufferSizeBeyondTheBufferIsLimitedToItsCapacity) {
    auto disk = Disk(3000);
    auto ones = MethodFromLines({"HEXA=$FF"});
    TWipeContext wipe(ones.get(), &owner);
    wipe.Options.BufferSize = 4 * 1024 * 1024; // outside the options list
    disk->WipeDisk(wipe);
    EXPECT_EQ(Counts(disk->medium, Op::Write), (std::vector<std::int32_t>{1153, 1153, 694}));
    EXPECT_TRUE(BlocksHold(*disk, 0, 3000, 0xFF));
}

TEST_F(WipeEngine, AFixedPatternRestartsItsPhaseAtEveryTransfer) {
    // Three pattern bytes do not divide a 1024-byte transfer: every transfer starts again
    // with the first pattern byte, and the short last one is a prefix of the others.
    auto disk = Disk(5);
    auto pattern = MethodFromLines({"HEXA=$01$02$03"});
    TWipeContext wipe(pattern.get(), &owner);
    wipe.Options.BufferSize = 1024;
    disk->WipeDisk(wipe);

    EXPECT_EQ(Counts(disk->medium, Op::Write), (std::vector<std::int32_t>{2, 2, 1}));
    const std::uint8_t cycle[3] = {1, 2, 3};
    for (std::size_t i = 0; i < disk->medium.bytes.size(); ++i) {
        const std::size_t inTransfer = i % 1024;
        ASSERT_EQ(disk->medium.bytes[i], cycle[inTransfer % 3]) << "byte " << i;
    }
}

// ---- Passes, verification and progress

TEST_F(WipeEngine, ProgressIsReportedAfterEveryTransferAsDonePlusOneOverTotal) {
    auto disk = Disk(2500);
    auto zero = method::CreateFromFile("");
    disk->WipeDisk(zero.get(), false, 0, 0, "");
    ASSERT_EQ(owner.updates, 3);
    EXPECT_EQ(owner.progress, (std::vector<double>{1154.0 / 2500, 2307.0 / 2500, 2501.0 / 2500}));
    EXPECT_EQ(owner.Progress, 2501.0 / 2500);
    EXPECT_EQ(owner.Flag, 0);
}

TEST_F(WipeEngine, APassWithCheckIsReadBackAndCountsAsASecondPass) {
    auto disk = Disk(1500);
    auto checked = MethodFromLines({"HEXA=$00", "CHECK"});
    owner.Flag = 7;
    disk->WipeDisk(checked.get(), false, 0, 0, "");

    EXPECT_EQ(Counts(disk->medium, Op::Write), (std::vector<std::int32_t>{1153, 347}));
    EXPECT_EQ(Counts(disk->medium, Op::Read), (std::vector<std::int32_t>{1153, 347}));
    EXPECT_EQ(disk->medium.transfers[2].op, Op::Read) << "the read-back follows the pass";
    EXPECT_TRUE(owner.questions.empty());
    EXPECT_EQ(owner.progress,
              (std::vector<double>{1154.0 / 3000, 1501.0 / 3000, 2654.0 / 3000, 3001.0 / 3000}));
    EXPECT_EQ(owner.Flag, 0);
    EXPECT_TRUE(BlocksHold(*disk, 0, 1500, 0x00));
}

TEST_F(WipeEngine, APassAfterAVerificationStartsWithItsOwnPattern) {
    // The read-back overwrites the buffer; the next pass must not write what was read.
    auto disk = Disk(10);
    auto method = MethodFromLines({"HEXA=$00", "CHECK", "HEXA=$A5"});
    disk->WipeDisk(method.get(), false, 0, 0, "");
    EXPECT_EQ(disk->medium.transfers.size(), 3u);
    EXPECT_TRUE(BlocksHold(*disk, 0, 10, 0xA5));
    EXPECT_EQ(owner.progress.back(), 31.0 / 30);
}

TEST_F(WipeEngine, ARandomPassIsVerifiedBySums) {
    auto disk = Disk(3000); // wiped alone: generators of its own, ISAAC
    auto random = MethodFromLines({"RAND=000255", "CHECK"});
    disk->WipeDisk(random.get(), false, 0, 0, "");
    EXPECT_TRUE(owner.questions.empty());
    EXPECT_EQ(disk->medium.CountTransfers(Op::Read), 3);
    const auto old = std::count(disk->medium.bytes.begin(), disk->medium.bytes.end(), kOld);
    EXPECT_LT(old, 3000 * 512 / 64) << "random data replaced the old content";
}

TEST_F(WipeEngine, FormattingCountsAsOneMorePassInTheTotal) {
    auto disk = Disk(100);
    auto zero = method::CreateFromFile("");
    TWipeContext wipe(zero.get(), &owner);
    wipe.Format = true;
    disk->WipeDisk(wipe);
    EXPECT_EQ(wipe.FormatPass, 1);
    EXPECT_EQ(owner.progress, (std::vector<double>{101.0 / 200}));
    EXPECT_EQ(disk->medium.calls, (std::vector<std::string>{"open(w)", "close", "format"}));
    EXPECT_TRUE(BlocksHold(*disk, 0, 100, 0x00));
}

TEST_F(WipeEngine, AnEmptyDiskStepsThroughThePassesWithoutTransfers) {
    auto disk = Disk(0);
    auto method = MethodFromLines({"HEXA=$00", "CHECK", "HEXA=$FF", "RAND=000255"});
    disk->WipeDisk(method.get(), false, 0, 0, "");
    EXPECT_TRUE(disk->medium.transfers.empty());
    EXPECT_EQ(owner.updates, 0);
    EXPECT_TRUE(owner.questions.empty());
    // The cursor is the wipe's own: the same walk, run where it can be looked at afterwards.
    TGenerators generators;
    TWipeState state(*method, generators);
    state.ResetPasses();
    TWipeContext wipe(method.get(), &owner);
    wipe_engine::TWipeRun run{*disk, wipe, owner, 0};
    testing::RunPassesInline(run, state);
    EXPECT_EQ(state.CurrentPass, method->PassCount + 1);
}

TEST_F(WipeEngine, ADiskWipedAloneDrawsFromGeneratorsSeededFromTheClock) {
    platform::ScopedSystem machine{platform::sim::CreateSimSystem("")};
    auto& clock = dynamic_cast<platform::sim::SimKernel32&>(platform::k32());
    clock.ticks = 7; // the simulated counter runs at 1000 counts a tick
    auto random = MethodFromLines({"RAND=000255", "RAND=065090"});
    auto alone = Disk(40);
    alone->WipeDisk(random.get(), false, 0, 0, "");

    TGenerators run; // a run's, seeded from the same clock reading
    run.RandSeed = 7000;
    auto lent = Disk(40);
    TWipeContext wipe(random.get(), lent->Owner);
    wipe.Generators = &run;
    lent->WipeDisk(wipe);
    EXPECT_TRUE(alone->medium.bytes == lent->medium.bytes);
    EXPECT_NE(run.RandSeed, 7000u) << "the run's generators moved on";
}

// ---- Failed transfers and the owner's answers

TEST_F(WipeEngine, AFailedChunkIsRedoneBlockByBlockWithoutAQuestionWhenThatWorks) {
    auto disk = Disk(20);
    disk->medium.FailWrites(7, 1);
    auto ones = MethodFromLines({"HEXA=$FF"});
    disk->WipeDisk(ones.get(), false, 0, 0, "");
    EXPECT_TRUE(owner.questions.empty());
    std::vector<std::int32_t> expected(21, 1); // the chunk, then each of its blocks alone
    expected[0] = 20;
    EXPECT_EQ(Counts(disk->medium, Op::Write), expected);
    EXPECT_EQ(disk->medium.calls, (std::vector<std::string>{"open(w)", "prepare", "close"}));
    EXPECT_EQ(owner.updates, 1) << "the chunk counts as one transfer";
    EXPECT_TRUE(BlocksHold(*disk, 0, 20, 0xFF));
}

TEST_F(WipeEngine, AShortTransferIsCompletedBlockByBlock) {
    auto disk = Disk(1200);
    disk->medium.ShortWrite(600, 1);
    auto ones = MethodFromLines({"HEXA=$FF"});
    disk->WipeDisk(ones.get(), false, 0, 0, "");
    EXPECT_TRUE(owner.questions.empty());
    EXPECT_EQ(disk->medium.CountTransfers(Op::Write), 1 + 1153 + 1);
    EXPECT_TRUE(BlocksHold(*disk, 0, 1200, 0xFF));
}

TEST_F(WipeEngine, RetryRepeatsTheFailedBlockAfterPrepareToRetry) {
    auto disk = Disk(20);
    disk->medium.FailWrites(5, 2); // the chunk and the first one-block write fail
    owner.answers = {mrRetry};
    auto ones = MethodFromLines({"HEXA=$FF"});
    disk->WipeDisk(ones.get(), false, 0, 0, "");

    ASSERT_EQ(owner.questions.size(), 1u);
    const auto& q = owner.questions[0];
    EXPECT_EQ(q.kind, mkWrite);
    EXPECT_EQ(q.detail, "????");
    EXPECT_EQ(q.dlgType, TMsgDlgType::mtError);
    EXPECT_EQ(q.buttons.Bits(), 112);
    EXPECT_EQ(q.currentBlock, 5);
    EXPECT_EQ(disk->medium.calls,
              (std::vector<std::string>{"open(w)", "prepare", "prepare", "close"}));
    EXPECT_TRUE(BlocksHold(*disk, 0, 20, 0xFF));
}

TEST_F(WipeEngine, IgnoreLeavesTheFailingBlockAndWritesTheRest) {
    auto disk = Disk(2000);
    disk->medium.FailWrites(1500, MemoryMedium::kAlways);
    owner.defaultAnswer = mrIgnore; // the unattended answer
    auto ones = MethodFromLines({"HEXA=$FF", "HEXA=$00"});
    disk->WipeDisk(ones.get(), false, 0, 0, "");

    EXPECT_EQ(owner.Kinds(), (std::vector<int>{mkWrite, mkWrite}));
    EXPECT_TRUE(BlocksHold(*disk, 0, 1500, 0x00));
    EXPECT_TRUE(BlocksHold(*disk, 1500, 1501, kOld));
    EXPECT_TRUE(BlocksHold(*disk, 1501, 2000, 0x00));
}

TEST_F(WipeEngine, AnIgnoredUnreadableBlockInTheReadBackLeadsToTheVerifyQuestion) {
    // With a fixed pattern the buffer still holds the pattern where the block could not be
    // read, so the sums agree; the pass must still not pass as verified.
    auto disk = Disk(100);
    disk->medium.FailReads(40, MemoryMedium::kAlways);
    owner.answers = {mrIgnore, mrYes};
    auto checked = MethodFromLines({"HEXA=$00", "CHECK"});
    disk->WipeDisk(checked.get(), false, 0, 0, "");

    EXPECT_EQ(owner.Kinds(), (std::vector<int>{mkRead, mkVerify}));
    EXPECT_EQ(owner.questions[1].dlgType, TMsgDlgType::mtWarning);
    EXPECT_EQ(owner.questions[1].buttons.Bits(), 3);
    EXPECT_EQ(disk->medium.calls.back(), "close");
    EXPECT_TRUE(BlocksHold(*disk, 0, 100, 0x00));
}

TEST_F(WipeEngine, AMismatchAnsweredNoRaisesXVerifyAndSkipsTheFormat) {
    auto disk = Disk(100);
    disk->medium.FailWrites(10, MemoryMedium::kAlways);
    owner.answers = {mrIgnore, mrNo};
    auto checked = MethodFromLines({"HEXA=$00", "CHECK", "HEXA=$FF"});
    try {
        disk->WipeDisk(checked.get(), true, 0, 0, "");
        FAIL() << "XVerify expected";
    } catch (const XVerify& error) {
        EXPECT_STREQ(error.what(), "TLogicalDisk.Wipe - Verify ");
    }
    EXPECT_EQ(owner.Kinds(), (std::vector<int>{mkWrite, mkVerify}));
    EXPECT_EQ(disk->medium.calls.back(), "close");
    EXPECT_EQ(std::count(disk->medium.calls.begin(), disk->medium.calls.end(), "format"), 0);
    EXPECT_TRUE(BlocksHold(*disk, 0, 10, 0x00)) << "the second pass never started";
    EXPECT_TRUE(BlocksHold(*disk, 10, 11, kOld));
}

TEST_F(WipeEngine, AMismatchAnsweredYesGoesOnWithTheNextPass) {
    auto disk = Disk(100);
    disk->medium.FailWrites(10, 3); // chunk, one-block, then the second pass works
    owner.answers = {mrIgnore, mrYes};
    auto checked = MethodFromLines({"HEXA=$00", "CHECK", "HEXA=$FF"});
    disk->WipeDisk(checked.get(), false, 0, 0, "");
    EXPECT_EQ(owner.Kinds(), (std::vector<int>{mkWrite, mkVerify}));
    EXPECT_TRUE(BlocksHold(*disk, 0, 100, 0xFF));
}

TEST_F(WipeEngine, APlainMessageObjectNeverRetriesNorSkips) {
    TMessageObject plain;
    auto disk = MakeDisk<MemoryDisk>("E", &plain, 20, 512, kOld);
    disk->medium.FailWrites(3, MemoryMedium::kAlways);
    auto ones = MethodFromLines({"HEXA=$FF"});
    EXPECT_THROW(disk->WipeDisk(ones.get(), true, 0, 0, ""), XWriteFile);
    EXPECT_EQ(disk->medium.calls, (std::vector<std::string>{"open(w)", "prepare", "close"}));
    // The chunk, then blocks 0..3 alone; the answer 0 stops at block 3.
    EXPECT_EQ(disk->medium.CountTransfers(Op::Write), 1 + 4);
    EXPECT_TRUE(BlocksHold(*disk, 0, 3, 0xFF));
    EXPECT_TRUE(BlocksHold(*disk, 3, 20, kOld));
}

TEST_F(WipeEngine, APlainMessageObjectRefusesAVerifyMismatch) {
    TMessageObject plain;
    auto disk = MakeDisk<MemoryDisk>("E", &plain, 20, 512, kOld);
    disk->medium.ShortRead(5, MemoryMedium::kAlways);
    auto checked = MethodFromLines({"HEXA=$00", "CHECK"});
    EXPECT_THROW(disk->WipeDisk(checked.get(), false, 0, 0, ""), XReadFile);
    EXPECT_EQ(disk->medium.calls.back(), "close");
    EXPECT_TRUE(BlocksHold(*disk, 0, 20, 0x00));
}

TEST_F(WipeEngine, XReadOnlyIsNeverRetried) {
    auto disk = Disk(20);
    disk->medium.opensReadOnly = true;
    owner.defaultAnswer = mrRetry;
    auto ones = MethodFromLines({"HEXA=$FF"});
    EXPECT_THROW(disk->WipeDisk(ones.get(), false, 0, 0, ""), XReadOnly);
    EXPECT_TRUE(owner.questions.empty());
    EXPECT_EQ(disk->medium.calls, (std::vector<std::string>{"open(w)", "close"}));
    EXPECT_TRUE(BlocksHold(*disk, 0, 20, kOld));
}

TEST_F(WipeEngine, AnAbortFromUpdateEndsThePassClosesAndSkipsTheFormat) {
    auto disk = Disk(3000);
    owner.abortAtUpdate = 2;
    auto ones = MethodFromLines({"HEXA=$FF", "HEXA=$00"});
    EXPECT_THROW(disk->WipeDisk(ones.get(), true, 0, 0, ""), XAbort);
    EXPECT_EQ(disk->medium.calls, (std::vector<std::string>{"open(w)", "close"}));
    EXPECT_EQ(disk->medium.CountTransfers(Op::Write), 2);
    EXPECT_TRUE(BlocksHold(*disk, 0, 2306, 0xFF));
    EXPECT_TRUE(BlocksHold(*disk, 2306, 3000, kOld));
}

TEST_F(WipeEngine, AnAbortAnsweredToAQuestionEndsTheWipe) {
    auto disk = Disk(20);
    disk->medium.FailWrites(2, MemoryMedium::kAlways);
    owner.answers = {RecordingOwner::kRaiseAbort};
    auto ones = MethodFromLines({"HEXA=$FF"});
    EXPECT_THROW(disk->WipeDisk(ones.get(), false, 0, 0, ""), XAbort);
    EXPECT_EQ(disk->medium.calls.back(), "close");
    EXPECT_TRUE(BlocksHold(*disk, 0, 2, 0xFF));
    EXPECT_TRUE(BlocksHold(*disk, 2, 20, kOld));
}

TEST_F(WipeEngine, ARetriedReadFailureIsReadAgainAndVerifies) {
    auto disk = Disk(50);
    disk->medium.FailReads(49, 2);
    owner.answers = {mrRetry};
    auto checked = MethodFromLines({"HEXA=$5A", "CHECK"});
    disk->WipeDisk(checked.get(), false, 0, 0, "");
    EXPECT_EQ(owner.Kinds(), (std::vector<int>{mkRead}));
    EXPECT_EQ(owner.questions[0].currentBlock, 49);
    EXPECT_TRUE(BlocksHold(*disk, 0, 50, 0x5A));
}

} // namespace
} // namespace purgelet
