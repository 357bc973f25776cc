// The wipe of a rewritable disc: every failure is put to the owner as an Abort/Retry
// question (kinds 4, 5, 6), Retry starts again from PrepareToWrite, Abort raises the
// matching exception; the owner's Update runs between polls and its abort ends the wait.
#include "optical/aspi.h"
#include "optical/spti.h"
#include "optical/univ_cddvd.h"
#include "optical_test_support.h"
#include "report/exceptions.h"
#include "support/recording_owner.h"

#include <gtest/gtest.h>

#include <sstream>

namespace purgelet {
namespace {

using testing::OpticalDriveOf;
using testing::OpticalMachine;
using testing::RecordingOwner;
using testing::RewritableDisc;
using testing::SimPC;

class DiscWipeTest : public ::testing::Test {
protected:
    void Start(const nlohmann::json& disc, const nlohmann::json& extra = nlohmann::json::object()) {
        pc_ = std::make_unique<SimPC>(OpticalMachine(disc, false, extra));
        device_ = std::make_unique<TSPTIdevice>('E');
        disc_ = MakeDisk<TUnivCDDVD>("", &owner_, *device_);
    }
    template <class X> std::string Raises() {
        try {
            disc_->WipeDisk(nullptr, false, 0, 0, "");
        } catch (const X& error) {
            return error.what();
        }
        ADD_FAILURE() << "no exception of the expected class";
        return "";
    }

    RecordingOwner owner_;
    std::unique_ptr<SimPC> pc_;
    std::unique_ptr<TSPTIdevice> device_;
    std::unique_ptr<TUnivCDDVD> disc_;
};

TEST_F(DiscWipeTest, AQuickEraseIsOneMinimalBlankWithUpdatesBetweenPolls) {
    Start(RewritableDisc("DVD-RW"), {{"blank", {{"polls", 3}}}});
    disc_->WipeDisk(nullptr, false, 0, 0, "");
    EXPECT_TRUE(owner_.questions.empty());
    EXPECT_EQ(owner_.updates, 3);
    EXPECT_EQ(owner_.progress, (std::vector<double>{-1.0, -1.0, -1.0}));
    const auto blanks = testing::Cdbs(OpticalDriveOf(*pc_), 0xA1);
    ASSERT_EQ(blanks.size(), 1u);
    EXPECT_EQ(blanks[0][1], 0x11);
    EXPECT_EQ(OpticalDriveOf(*pc_).disc.status, 0);
    EXPECT_EQ(disc_->Name, "E");
    EXPECT_EQ(disc_->Description, "RW-5240 (SIMDISC)"); // the shell names no drive here
}

TEST_F(DiscWipeTest, NoDiscIsAskedAboutAndRetryGoesOnOnceADiscIsIn) {
    Start(nullptr, {{"quirks", {{"insertAfterPolls", {{"polls", 2}, {"disc", RewritableDisc()}}}}},
                    {"blank", {{"polls", 0}}}});
    owner_.answers = {mrRetry, mrRetry};
    disc_->WipeDisk(nullptr, false, 0, 0, "");
    EXPECT_EQ(owner_.Kinds(), (std::vector<int>{4, 4}));
    EXPECT_EQ(owner_.questions[0].detail, disc_->Description);
    EXPECT_EQ(owner_.questions[0].dlgType, TMsgDlgType::mtError);
    EXPECT_EQ(owner_.questions[0].buttons, mbAbortRetry);
    EXPECT_EQ(OpticalDriveOf(*pc_).Count(0xA1), 1);
}

TEST_F(DiscWipeTest, AbortWithoutADiscRaisesPrepareToWriteFailed) {
    Start(nullptr);
    owner_.answers = {mrAbort};
    EXPECT_EQ(Raises<XPrepareToWriteFailed>(),
              "TUnivCDDVD.wipe - cd.PrepareToWrite failed - abort");
    EXPECT_EQ(OpticalDriveOf(*pc_).Count(0xA1), 0);
}

TEST_F(DiscWipeTest, AFinalisedCdRIsNotErasable) {
    Start({{"type", "CD-R"}, {"state", "complete"}});
    owner_.answers = {mrRetry, mrAbort};
    EXPECT_EQ(Raises<XNotErasable>(), "TUnivCDDVD.wipe - Not Eraseble!");
    EXPECT_EQ(owner_.Kinds(), (std::vector<int>{5, 5}));
    EXPECT_EQ(OpticalDriveOf(*pc_).Count(0x00), 2); // Retry checked the disc again
    EXPECT_EQ(OpticalDriveOf(*pc_).Count(0xA1), 0);
}

TEST_F(DiscWipeTest, AFailedBlankIsAskedAboutThenRaisesWithItsCode) {
    Start(RewritableDisc(), {{"checkCondition", {"BLANK"}}});
    owner_.answers = {mrRetry}; // then the default: no answer, which is not Retry
    EXPECT_EQ(Raises<XBlankFailed>(), "TUnivCDDVD.wipe - Blank Failed, error code : 1");
    EXPECT_EQ(owner_.Kinds(), (std::vector<int>{6, 6}));
    EXPECT_EQ(OpticalDriveOf(*pc_).Count(0xA1), 2);
}

TEST_F(DiscWipeTest, AFullEraseWhenQuickEraseIsOff) {
    Start(RewritableDisc(), {{"blank", {{"polls", 0}}}});
    TWipeContext full(nullptr, disc_->Owner);
    full.Options.QuickErase = false;
    disc_->WipeDisk(full);
    EXPECT_EQ(testing::Cdbs(OpticalDriveOf(*pc_), 0xA1).at(0)[1], 0x10);
}

TEST_F(DiscWipeTest, AnAbortFromUpdateEndsTheWaitAndIsNotSwallowed) {
    Start(RewritableDisc(), {{"blank", {{"polls", 50}}}});
    owner_.abortAtUpdate = 2;
    EXPECT_THROW(disc_->WipeDisk(nullptr, false, 0, 0, ""), XAbort);
    EXPECT_EQ(owner_.updates, 2);
    EXPECT_EQ(OpticalDriveOf(*pc_).Count(0x51), 1 + 2);
    EXPECT_EQ(pc_->kernel().OpenDeviceHandles(), 0u);
}

TEST_F(DiscWipeTest, ADriveThatNeverFinishesFailsTheBlankWithTheTimeLimitCode) {
    Start(RewritableDisc(), {{"quirks", {{"neverFinishes", true}}}});
    owner_.onUpdate = [this](RecordingOwner&) { pc_->kernel().ticks += 30 * 60 * 1000; };
    EXPECT_EQ(Raises<XBlankFailed>(), "TUnivCDDVD.wipe - Blank Failed, error code : 27");
    EXPECT_EQ(owner_.updates, 4);
}

TEST_F(DiscWipeTest, PropertiesOfADriveWithoutVolumeOrDisc) {
    Start(nullptr);
    disc_->getPropertiesCount();
    std::vector<std::uint8_t> ids;
    for (const auto& p : disc_->Properties)
        ids.push_back(p.Id);
    EXPECT_EQ(ids, (std::vector<std::uint8_t>{1, 3, 15, 16}));
}

// A disc wiped with no owner: the blank runs to the end, and every failure raises at once
// as an unanswered question would (nothing is retried).
TEST(DiscWipeWithoutOwner, CompletesAndFailuresStillRaise) {
    {
        SimPC pc(OpticalMachine(RewritableDisc(), false, {{"blank", {{"polls", 3}}}}));
        TSPTIdevice device('E');
        auto disc = MakeDisk<TUnivCDDVD>("", nullptr, device);
        EXPECT_NO_THROW(disc->WipeDisk(nullptr, false, 0, 0, ""));
        EXPECT_EQ(OpticalDriveOf(pc).Count(0xA1), 1);
        EXPECT_EQ(OpticalDriveOf(pc).Count(0x51), 1 + 4); // PrepareToWrite, then the polls
        EXPECT_EQ(OpticalDriveOf(pc).disc.status, 0);
        EXPECT_FALSE(OpticalDriveOf(pc).busy);
    }
    auto wipe = [](const nlohmann::json& disc, const nlohmann::json& extra, int& blanks) {
        SimPC pc(OpticalMachine(disc, false, extra));
        TSPTIdevice device('E');
        auto target = MakeDisk<TUnivCDDVD>("", nullptr, device);
        try {
            target->WipeDisk(nullptr, false, 0, 0, "");
        } catch (...) {
            blanks = OpticalDriveOf(pc).Count(0xA1);
            throw;
        }
    };
    int blanks = -1;
    EXPECT_THROW(wipe(nullptr, nlohmann::json::object(), blanks), XPrepareToWriteFailed);
    EXPECT_EQ(blanks, 0);
    EXPECT_THROW(wipe({{"type", "CD-R"}, {"state", "complete"}}, nlohmann::json::object(), blanks),
                 XNotErasable);
    EXPECT_EQ(blanks, 0);
    try {
        wipe(RewritableDisc(), {{"checkCondition", {"BLANK"}}}, blanks);
        ADD_FAILURE() << "a refused blank did not raise";
    } catch (const XBlankFailed& error) {
        EXPECT_STREQ(error.what(), "TUnivCDDVD.wipe - Blank Failed, error code : 1");
    }
    EXPECT_EQ(blanks, 1);
}

// The image writer: a short image written track-at-once onto a blank disc.
TEST(WriteImage, WritesASmallImageAsOneTrackAndClosesTheSession) {
    SimPC pc(OpticalMachine({{"type", "CD-RW"}, {"state", "empty"}, {"blocks", 1000}}, false));
    TSPTIdevice device('E');
    std::string image(5 * 2048 + 100, '\0');
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<char>(i * 7 + 3);
    std::istringstream stream(image);
    struct Sink : TBurningIO {
        std::vector<int> stages;
        std::vector<double> done;
        void ReportStage(std::uint8_t stage) override { stages.push_back(stage); }
        void ReportProgress(std::uint8_t kind, double, double fraction) override {
            if (kind == 0)
                done.push_back(fraction);
        }
    } sink;
    TWriteReport report;
    ASSERT_TRUE(device.WriteImage(report, stream, &sink));
    EXPECT_EQ(report.Step, 14);
    EXPECT_EQ(report.Code, 0);
    EXPECT_EQ(sink.stages, (std::vector<int>{0, 1, 2, 3, 4}));
    ASSERT_EQ(sink.done.size(), 1u);
    EXPECT_DOUBLE_EQ(sink.done[0], 1.0);
    const auto& drive = OpticalDriveOf(pc);
    ASSERT_GE(drive.disc.data.size(), image.size());
    EXPECT_EQ(std::string(drive.disc.data.begin(), drive.disc.data.begin() + image.size()), image);
    EXPECT_EQ(drive.disc.status, 2);
    EXPECT_EQ(drive.writePage[8 + 2], 0x01); // track-at-once
    EXPECT_EQ(drive.writePage[8 + 3], 0xC4);
    EXPECT_EQ(drive.writePage[8 + 4], 0x08);
    const auto writes = testing::Cdbs(drive, 0x2A);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0][8], 6); // five whole blocks and the padded rest
    for (const auto& c : drive.commands) {
        if (c.cdb[0] == 0x2A || c.cdb[0] == 0x55) {
            EXPECT_EQ(c.transport, "spti-direct");
        }
        EXPECT_EQ(c.detail,
                  (c.cdb[0] == 0x12 || (c.cdb[0] == 0x5A && c.cdb[2] == 0x2A)) ? 2u : 120u);
    }
    EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u);
}

TEST(WriteImage, ADataOutRequestTheDriverRejectsIsShownAndStopsTheWrite) {
    SimPC pc(OpticalMachine({{"type", "CD-RW"}, {"state", "empty"}, {"blocks", 1000}}, false,
                            {{"rejected", {"WRITE"}}}));
    std::vector<std::string> shown;
    TSPTIdevice::ErrorBox = [&](const std::string& text) { shown.push_back(text); };
    TSPTIdevice device('E');
    std::istringstream stream(std::string(4096, 'a'));
    TWriteReport report;
    EXPECT_FALSE(device.WriteImage(report, stream, nullptr));
    TSPTIdevice::ErrorBox = nullptr;
    EXPECT_EQ(report.Step, 11);
    EXPECT_EQ(report.Code, 5);
    EXPECT_EQ(shown,
              (std::vector<std::string>{pc.kernel().SysErrorMessage(ERROR_INVALID_FUNCTION)}));
    EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u);
}

TEST(WriteImage, StopsWhenTheImageDoesNotFitTheTrack) {
    SimPC pc(OpticalMachine({{"type", "CD-RW"}, {"state", "empty"}, {"blocks", 10}}, true));
    TASPIdevice device(platform::SRB_HAInquiry{}, platform::SRB_GDEVBlock{}, TSCSIAddress{0, 1, 2});
    std::istringstream stream(std::string(20480, 'x'));
    TWriteReport report;
    EXPECT_FALSE(device.WriteImage(report, stream, nullptr));
    EXPECT_EQ(report.Step, 9);
    EXPECT_EQ(OpticalDriveOf(pc).Count(0x2A), 0);
}

} // namespace
} // namespace purgelet
