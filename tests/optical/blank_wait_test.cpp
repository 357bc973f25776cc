// How both transports blank a disc and wait for the drive: the poll count and the busy
// callback, drives that finish at once or never, requests the driver rejects, CHECK
// CONDITION on BLANK, the overall limit and a callback that ends the wait.
#include "optical/aspi.h"
#include "optical/spti.h"
#include "optical_test_support.h"
#include "report/exceptions.h"

#include <gtest/gtest.h>

#include <memory>

namespace purgelet {
namespace {

using testing::OpticalDriveOf;
using testing::OpticalMachine;
using testing::RewritableDisc;
using testing::SimPC;

enum class Transport { PassThrough, Aspi };

class BlankTest : public ::testing::TestWithParam<Transport> {
protected:
    void Start(const nlohmann::json& extra) {
        pc_ = std::make_unique<SimPC>(
            OpticalMachine(RewritableDisc(), GetParam() == Transport::Aspi, extra));
        if (GetParam() == Transport::Aspi)
            device_ = std::make_unique<TASPIdevice>(
                platform::SRB_HAInquiry{}, platform::SRB_GDEVBlock{}, TSCSIAddress{0, 1, 2});
        else
            device_ = std::make_unique<TSPTIdevice>('E');
        OpticalDriveOf(*pc_).commands.clear();
    }
    TBusyEvent Counting() {
        return [this](const TSCSIAddress& address) {
            ++busy_;
            addresses_.push_back(address.Target);
            return true;
        };
    }
    int Polls() const { return OpticalDriveOf(*pc_).Count(0x51); }
    std::uint8_t CheckCode() const { return GetParam() == Transport::Aspi ? 21 : 1; }

    std::unique_ptr<SimPC> pc_;
    std::unique_ptr<TOpticalDevice> device_;
    int busy_ = 0;
    std::vector<int> addresses_;
};

TEST_P(BlankTest, PollsUntilTheDriveIsDoneCallingOnBusyOncePerFailedPoll) {
    Start({{"blank", {{"polls", 4}}}});
    const DWORD before = pc_->kernel().ticks;
    EXPECT_EQ(device_->Blank(false, Counting()), 0);
    EXPECT_EQ(busy_, 4);
    EXPECT_EQ(Polls(), 5);
    EXPECT_EQ(pc_->kernel().ticks, before); // no pause between polls
    // ASPI devices pass their address, pass-through devices an all-zero one.
    EXPECT_EQ(addresses_.front(), GetParam() == Transport::Aspi ? 1 : 0);
    auto& drive = OpticalDriveOf(*pc_);
    EXPECT_EQ(drive.disc.status, 0);
    EXPECT_TRUE(drive.disc.erasable());
    EXPECT_EQ(pc_->kernel().OpenDeviceHandles(), 0u);
    EXPECT_EQ(pc_->kernel().OpenEvents(), 0u);
}

TEST_P(BlankTest, KeepsTheDrivesProgressIndicationWhereTheSenseReachesIt) {
    Start({{"blank", {{"polls", 4}}}});
    device_->BusyProgress = 1; // left from an earlier wait
    EXPECT_EQ(device_->Blank(false, Counting()), 0);
    EXPECT_EQ(busy_, 4);
    if (GetParam() == Transport::PassThrough) {
        ASSERT_TRUE(device_->BusyProgress);
        EXPECT_EQ(*device_->BusyProgress, 0xC000); // the last busy poll: three of four done
    } else {
        EXPECT_FALSE(device_->BusyProgress); // 14 bytes of sense end before the progress
    }
    // A drive that is done at once gives none.
    OpticalDriveOf(*pc_).blankPolls = 0;
    EXPECT_EQ(device_->Blank(false, Counting()), 0);
    EXPECT_FALSE(device_->BusyProgress);
}

TEST_P(BlankTest, QuickAndFullBlankingTypes) {
    Start({{"blank", {{"polls", 0}}}});
    ASSERT_EQ(device_->Blank(false, {}), 0);
    ASSERT_EQ(device_->Blank(true, {}), 0);
    const auto blanks = testing::Cdbs(OpticalDriveOf(*pc_), 0xA1);
    ASSERT_EQ(blanks.size(), 2u);
    EXPECT_EQ(blanks[0][1], 0x11);
    EXPECT_EQ(blanks[1][1], 0x10);
}

TEST_P(BlankTest, ADriveThatAnswersAtOnceNeverCallsOnBusy) {
    Start({{"blank", {{"polls", 0}}}});
    EXPECT_EQ(device_->Blank(true, Counting()), 0);
    EXPECT_EQ(busy_, 0);
    EXPECT_EQ(Polls(), 1);
}

TEST_P(BlankTest, ABlankTheDriveRefusesIsNotPolled) {
    Start({{"checkCondition", {"BLANK"}}});
    EXPECT_EQ(device_->Blank(false, Counting()), CheckCode());
    EXPECT_EQ(Polls(), 0);
    EXPECT_EQ(busy_, 0);
}

TEST_P(BlankTest, ABlankOfANonRewritableDiscFails) {
    Start({{"disc", {{"type", "CD-R"}, {"state", "complete"}}}});
    EXPECT_EQ(device_->Blank(false, Counting()), CheckCode());
    EXPECT_EQ(Polls(), 0);
}

TEST_P(BlankTest, ADriveThatNeverFinishesEndsAtTheOverallLimit) {
    Start({{"quirks", {{"neverFinishes", true}}}});
    // Each busy callback lets ten minutes pass on the machine's clock.
    auto& kernel = pc_->kernel();
    const std::uint8_t code = device_->Blank(false, [&](const TSCSIAddress&) {
        ++busy_;
        kernel.ticks += 10 * 60 * 1000;
        return true;
    });
    EXPECT_EQ(code, rcTimedOut);
    EXPECT_EQ(busy_, 12); // two hours
    EXPECT_EQ(kernel.OpenDeviceHandles(), 0u);
}

TEST_P(BlankTest, TheTimedBlankFinishesOnceItsTimeHasPassed) {
    Start({{"blank", {{"polls", 0}, {"ms", 300000}}}});
    auto& kernel = pc_->kernel();
    EXPECT_EQ(device_->Blank(true,
                             [&](const TSCSIAddress&) {
                                 ++busy_;
                                 kernel.ticks += 60000;
                                 return true;
                             }),
              0);
    EXPECT_EQ(busy_, 5);
}

TEST_P(BlankTest, OnBusyCanEndTheWait) {
    Start({{"blank", {{"polls", 10}}}});
    EXPECT_EQ(device_->Blank(false, [&](const TSCSIAddress&) { return ++busy_ < 3; }),
              rcWaitStopped);
    EXPECT_EQ(busy_, 3);
}

TEST_P(BlankTest, AnAbortRaisedByOnBusyLeavesTheWaitAndClosesEverything) {
    Start({{"blank", {{"polls", 10}}}});
    EXPECT_THROW(device_->Blank(false,
                                [&](const TSCSIAddress&) -> bool {
                                    if (++busy_ == 2)
                                        throw XAbort("user abort");
                                    return true;
                                }),
                 XAbort);
    EXPECT_EQ(busy_, 2);
    EXPECT_EQ(pc_->kernel().OpenDeviceHandles(), 0u);
    EXPECT_EQ(pc_->kernel().OpenEvents(), 0u);
}

TEST_P(BlankTest, ReadDiscInformationSucceedingTooEarlyEndsTheWaitAtOnce) {
    // A drive quirk the design cannot see through: the wait trusts the first good poll.
    Start({{"blank", {{"polls", 5}}}, {"quirks", {{"discInfoEarly", true}}}});
    EXPECT_EQ(device_->Blank(false, Counting()), 0);
    EXPECT_EQ(busy_, 0);
    EXPECT_TRUE(OpticalDriveOf(*pc_).busy);
}

INSTANTIATE_TEST_SUITE_P(Transports, BlankTest,
                         ::testing::Values(Transport::PassThrough, Transport::Aspi),
                         [](const auto& info) {
                             return info.param == Transport::Aspi ? "Aspi" : "PassThrough";
                         });

TEST(PassThroughRequests, ABlankTheDriverRejectsReturnsFiveWithoutPolling) {
    SimPC pc(OpticalMachine(RewritableDisc(), false, {{"rejected", {"BLANK"}}}));
    TSPTIdevice device('E');
    int busy = 0;
    EXPECT_EQ(device.Blank(false, [&](const TSCSIAddress&) { return ++busy, true; }), 5);
    EXPECT_EQ(OpticalDriveOf(pc).Count(0x51), 0);
    EXPECT_EQ(busy, 0);
}

TEST(PassThroughRequests, AnUnopenableDriveIsADiskWithoutNames) {
    SimPC pc(OpticalMachine(RewritableDisc(), false));
    pc.drive('E').faults.open = platform::sim::Fault::Always(ERROR_ACCESS_DENIED);
    TSPTIdevice device('E');
    EXPECT_EQ(device.DeviceType, 0);
    EXPECT_EQ(device.DeviceName, " ()");
    EXPECT_FALSE(device.CanWrite());
    TDiscStatus status;
    EXPECT_FALSE(device.PrepareToWrite(status));
    EXPECT_EQ(status.FailedStep, 3);
    EXPECT_EQ(device.Blank(false, {}), 5);
    EXPECT_EQ(device.ReadCapabilities(), 5);
}

TEST(PassThroughRequests, NoDiscFailsTestUnitReadyWithCheckCondition) {
    SimPC pc(OpticalMachine(nullptr, true));
    TSPTIdevice spti('E');
    TDiscStatus status;
    EXPECT_FALSE(spti.PrepareToWrite(status));
    EXPECT_EQ(status.FailedStep, 3);
    EXPECT_EQ(status.ResultCode, 1);
    TASPIdevice aspi(platform::SRB_HAInquiry{}, platform::SRB_GDEVBlock{}, TSCSIAddress{0, 1, 2});
    TDiscStatus aspiStatus;
    EXPECT_FALSE(aspi.PrepareToWrite(aspiStatus));
    EXPECT_EQ(aspiStatus.ResultCode, 21);
}

TEST(AspiRequests, AnOrdinaryCommandThatNeverCompletesIsAbortedAfter100Seconds) {
    SimPC pc(OpticalMachine(RewritableDisc(), true, {{"hung", {"TEST UNIT READY"}}}));
    TASPIdevice device(platform::SRB_HAInquiry{}, platform::SRB_GDEVBlock{}, TSCSIAddress{0, 1, 2});
    const DWORD before = pc.kernel().ticks;
    TDiscStatus status;
    EXPECT_FALSE(device.PrepareToWrite(status));
    EXPECT_EQ(status.ResultCode, 27);
    EXPECT_EQ(pc.kernel().ticks - before, 100000u);
    EXPECT_EQ(pc.machine().aspi.aborts, 1);
    EXPECT_EQ(pc.kernel().OpenEvents(), 0u);
}

TEST(AspiRequests, APendingBlankIsGivenUpAtTheOverallLimit) {
    SimPC pc(OpticalMachine(RewritableDisc(), true, {{"hung", {"BLANK"}}}));
    TASPIdevice device(platform::SRB_HAInquiry{}, platform::SRB_GDEVBlock{}, TSCSIAddress{0, 1, 2});
    const DWORD before = pc.kernel().ticks;
    EXPECT_EQ(device.Blank(false, {}), rcTimedOut);
    EXPECT_EQ(pc.kernel().ticks - before, kImmediateWaitLimitMs);
    EXPECT_EQ(pc.machine().aspi.aborts, 1);
}

TEST(AspiRequests, ABlankTheLayerRejectsIsNotPolled) {
    SimPC pc(OpticalMachine(RewritableDisc(), true, {{"rejected", {"BLANK"}}}));
    TASPIdevice device(platform::SRB_HAInquiry{}, platform::SRB_GDEVBlock{}, TSCSIAddress{0, 1, 2});
    EXPECT_EQ(device.Blank(false, {}), 2); // SS_INVALID_CMD
    EXPECT_EQ(OpticalDriveOf(pc).Count(0x51), 0);
}

} // namespace
} // namespace purgelet
