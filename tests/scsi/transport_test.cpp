// The transports and the wait for immediate commands against a simulated drive: status and
// sense as each transport brings them back (the ASPI block's 14 bytes of sense end before
// the progress bytes), the direct request for long answers, refused and hung requests, and
// the wait's polling, limit and progress.
#include "platform/sim/optical_drive.h"
#include "scsi/aspi_transport.h"
#include "scsi/immediate_wait.h"
#include "scsi/pass_through.h"
#include "support/sim_pc.h"

#include <gtest/gtest.h>

#include <vector>

namespace purgelet {
namespace {

using testing::SimPC;

// An NT machine with a CD writer at E:, also ASPI unit 0/1/2; extra is merged into the drive.
nlohmann::json Machine(const nlohmann::json& disc, const nlohmann::json& extra = {}) {
    nlohmann::json drive = {
        {"letter", "E"}, {"disc", disc}, {"aspi", {{"host", 0}, {"target", 1}, {"lun", 2}}}};
    if (extra.is_object())
        drive.update(extra);
    return {{"platform", "NT"}, {"aspi", true}, {"opticalDrives", {drive}}};
}
const nlohmann::json kRewritable = {{"type", "CD-RW"}, {"state", "complete"}};

platform::sim::OpticalDrive& Drive(SimPC& pc) {
    return pc.machine().opticalDrives.at(0);
}

TCdb Blank() {
    TCdb cdb = scsi::Make(12, 0xA1);
    cdb.Bytes[1] = 0x11;
    return cdb;
}

TEST(PassThroughTransport, CheckConditionComesBackWithDecodedSense) {
    SimPC pc(Machine(nullptr));
    const platform::UniqueHandle handle =
        OpenForCommands("\\\\.\\E:", GENERIC_READ | GENERIC_WRITE);
    ASSERT_TRUE(handle.IsOpen());
    const TScsiResult r =
        TPassThroughTransport(handle.Get()).Execute(scsi::TestUnitReady(), nullptr, 7);
    EXPECT_EQ(r.Outcome, TScsiOutcome::Completed);
    EXPECT_EQ(r.ScsiStatus, kScsiStatusCheckCondition);
    EXPECT_EQ(r.Code, 1);
    EXPECT_FALSE(r.Taken());
    const TSense sense = r.Sense();
    EXPECT_EQ(sense.Format, TSenseFormat::Fixed);
    EXPECT_EQ(sense.Key, skNotReady);
    EXPECT_EQ(sense.Asc, 0x3A); // medium not present
    const auto& sent = Drive(pc).commands.back();
    EXPECT_EQ(sent.transport, "spti");
    EXPECT_EQ(sent.detail, 7u); // the time limit, in seconds
    EXPECT_EQ(sent.dataLength, TPassThroughTransport::kBufferedDataLength);
}

TEST(PassThroughTransport, AnswersUpTo512BytesBufferedLongerOnesDirect) {
    SimPC pc(Machine(kRewritable));
    const platform::UniqueHandle handle =
        OpenForCommands("\\\\.\\E:", GENERIC_READ | GENERIC_WRITE);
    TPassThroughTransport transport(handle.Get());
    std::vector<std::uint8_t> inquiry(36, 0xEE);
    TScsiResult r = transport.Execute(scsi::Inquiry(36), inquiry.data(), 2);
    EXPECT_EQ(r.Code, 0);
    EXPECT_TRUE(r.Taken());
    EXPECT_EQ(r.SenseLength, 0u);
    EXPECT_EQ(std::string(inquiry.begin() + 8, inquiry.begin() + 15), "SIMDISC");
    std::vector<std::uint8_t> page(1024, 0xEE);
    r = transport.Execute(scsi::ModeSense10(0, 0x2A, 1024), page.data(), 2);
    EXPECT_EQ(r.Code, 0);
    EXPECT_EQ(page[8], 0x2A);
    EXPECT_EQ(page[1000], 0); // past the answer: cleared by the drive, not left as it was
    const auto& sent = Drive(pc).commands;
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].transport, "spti");
    EXPECT_EQ(sent[1].transport, "spti-direct");
    EXPECT_TRUE(sent[1].dataIn);
    EXPECT_EQ(sent[1].dataLength, 1024u);
}

TEST(PassThroughTransport, ARefusedRequestIsNotSentWithTheSystemsReason) {
    SimPC pc(Machine(kRewritable, {{"rejected", {"TEST UNIT READY"}}}));
    const platform::UniqueHandle handle =
        OpenForCommands("\\\\.\\E:", GENERIC_READ | GENERIC_WRITE);
    const TScsiResult r =
        TPassThroughTransport(handle.Get()).Execute(scsi::TestUnitReady(), nullptr, 2);
    EXPECT_EQ(r.Outcome, TScsiOutcome::NotSent);
    EXPECT_EQ(r.Code, rcRequestFailed);
    EXPECT_EQ(r.SystemError, static_cast<std::uint32_t>(ERROR_INVALID_FUNCTION));
    EXPECT_FALSE(r.Taken());
    EXPECT_FALSE(r.Sense().Valid());
}

TEST(PassThroughTransport, ABusyDriveTellsItsProgress) {
    SimPC pc(Machine(kRewritable, {{"blank", {{"polls", 4}}}}));
    const platform::UniqueHandle handle =
        OpenForCommands("\\\\.\\E:", GENERIC_READ | GENERIC_WRITE);
    TPassThroughTransport transport(handle.Get());
    ASSERT_TRUE(transport.Execute(Blank(), nullptr, 2).Taken());
    std::vector<std::uint32_t> seen;
    for (int poll = 0; poll < 4; ++poll) {
        const TSense sense = transport.Execute(scsi::TestUnitReady(), nullptr, 2).Sense();
        EXPECT_EQ(sense.Key, skNotReady);
        EXPECT_EQ(sense.Asc, 0x04);
        EXPECT_EQ(sense.Ascq, 0x07);
        ASSERT_TRUE(sense.Progress);
        seen.push_back(*sense.Progress);
    }
    EXPECT_EQ(seen, (std::vector<std::uint32_t>{0, 0x4000, 0x8000, 0xC000}));
    EXPECT_EQ(transport.Execute(scsi::TestUnitReady(), nullptr, 2).Code, 0);
}

TEST(AspiTransport, SenseEndsBeforeTheProgressBytes) {
    SimPC pc(Machine(kRewritable, {{"blank", {{"polls", 2}}}}));
    TAspiTransport transport(TSCSIAddress{0, 1, 2});
    ASSERT_TRUE(transport.Execute(Blank(), nullptr, 100).Taken());
    const TScsiResult r = transport.Execute(scsi::TestUnitReady(), nullptr, 100);
    EXPECT_EQ(r.Code, 21);
    EXPECT_EQ(r.ScsiStatus, kScsiStatusCheckCondition);
    EXPECT_EQ(r.SenseLength, TAspiTransport::kSenseLength);
    const TSense sense = r.Sense();
    EXPECT_EQ(sense.Key, skNotReady);
    EXPECT_EQ(sense.Ascq, 0x07);
    EXPECT_FALSE(sense.Progress);
    EXPECT_EQ(Drive(pc).commands.back().detail, static_cast<DWORD>(SRB_EVENT_NOTIFY));
    EXPECT_EQ(pc.kernel().OpenEvents(), 0u);
}

TEST(AspiTransport, AHungRequestIsAbortedAtItsTimeLimit) {
    SimPC pc(Machine(kRewritable, {{"hung", {"TEST UNIT READY"}}}));
    const DWORD before = pc.kernel().ticks;
    const TScsiResult r =
        TAspiTransport(TSCSIAddress{0, 1, 2}).Execute(scsi::TestUnitReady(), nullptr, 30);
    EXPECT_EQ(r.Outcome, TScsiOutcome::TimedOut);
    EXPECT_EQ(r.Code, rcTimedOut);
    EXPECT_FALSE(r.Taken());
    EXPECT_EQ(pc.kernel().ticks - before, 30000u);
    EXPECT_EQ(pc.machine().aspi.aborts, 1);
    EXPECT_EQ(pc.kernel().OpenEvents(), 0u);
}

// A poll result: busy (with a progress indication when given) or done.
TScsiResult Busy(int progress = -1) {
    TScsiResult r;
    r.Code = 1;
    r.ScsiStatus = r.RequestStatus = kScsiStatusCheckCondition;
    const std::uint8_t sense[18] = {0x70,
                                    0,
                                    0x02,
                                    0,
                                    0,
                                    0,
                                    0,
                                    10,
                                    0,
                                    0,
                                    0,
                                    0,
                                    0x04,
                                    0x07,
                                    0,
                                    static_cast<std::uint8_t>(progress >= 0 ? 0x80 : 0),
                                    static_cast<std::uint8_t>(progress >> 8),
                                    static_cast<std::uint8_t>(progress)};
    std::copy(std::begin(sense), std::end(sense), r.SenseData);
    r.SenseLength = sizeof(sense);
    return r;
}

TEST(ImmediateWait, PollsUntilDoneKeepingTheLastProgressGiven) {
    SimPC pc(Machine(nullptr));
    std::vector<TScsiResult> polls = {Busy(0x1000), Busy(0x3000), Busy(), TScsiResult{}};
    std::size_t next = 0;
    int busy = 0;
    TImmediateWait wait{[&] { return polls.at(next++); }, [&] { return ++busy, true; }, {}};
    EXPECT_EQ(wait.Run(), rcSuccess);
    EXPECT_EQ(next, 4u);
    EXPECT_EQ(busy, 3);
    ASSERT_TRUE(wait.Progress);
    EXPECT_EQ(*wait.Progress, 0x3000); // a poll without progress keeps what was known
    // A new wait starts knowing nothing.
    polls = {Busy(), TScsiResult{}};
    next = 0;
    EXPECT_EQ(wait.Run(), rcSuccess);
    EXPECT_FALSE(wait.Progress);
}

TEST(ImmediateWait, TheBusyCallbackAndTheOverallLimitEndIt) {
    SimPC pc(Machine(nullptr));
    int polls = 0, busy = 0;
    TImmediateWait stop{[&] { return ++polls, Busy(); }, [&] { return ++busy < 3; }, {}};
    EXPECT_EQ(stop.Run(), rcWaitStopped);
    EXPECT_EQ(polls, 3);
    EXPECT_EQ(busy, 3);
    auto& kernel = pc.kernel();
    polls = 0;
    TImmediateWait never{[&] { return ++polls, Busy(0x10); },
                         [&] {
                             kernel.ticks += 25 * 60 * 1000;
                             return true;
                         },
                         {}};
    EXPECT_EQ(never.Run(), rcTimedOut);
    EXPECT_EQ(polls, 5); // 125 minutes: past the two hours
    EXPECT_EQ(*never.Progress, 0x10);
    // Without a callback it polls on until the drive is done.
    polls = 0;
    TImmediateWait plain{[&] { return ++polls < 4 ? Busy() : TScsiResult{}; }, {}, {}};
    EXPECT_EQ(plain.Run(), rcSuccess);
    EXPECT_EQ(polls, 4);
}

} // namespace
} // namespace purgelet
