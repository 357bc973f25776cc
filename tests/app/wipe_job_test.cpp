// The wipe job with no window: the drives in order with one snapshot of the settings, each
// disk asked what it can do rather than what it is, a failed drive told and passed over, an
// abort ending the run, and nothing written without a method.
#include "app/wipe_job.h"

#include "disk/disk_manager.h"
#include "lang/catalogue.h"
#include "methods/met_files.h"
#include "methods/method.h"
#include "platform/sim/sim.h"
#include "platform/system.h"
#include "support/memory_disk.h"
#include "ui/scripted_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace purgelet {
namespace {

using testing::MemoryDisk;

// A rewritable disc that records what its wipe was given.
class RecordingDisc : public TCDDVDDisk {
public:
    using TCDDVDDisk::TCDDVDDisk;
    void init() override { Description = "Disc (F:)"; }
    void Wipe(TWipeContext& wipe) override {
        ++wipes;
        methodGiven = wipe.Method;
        quickErase = wipe.Options.QuickErase;
    }
    int wipes = 0;
    const method* methodGiven = reinterpret_cast<const method*>(1);
    bool quickErase = true;
};

class RecordingView : public TWipeJobView {
public:
    std::vector<std::string> events;
    std::vector<std::string> told;
    std::function<void(TDisk&)> onDriveEnded;

    void RunStarting(const TWipeSettings&) override { events.push_back("run"); }
    void DriveStarting(TDisk& disk, const TWipeSettings&) override {
        events.push_back("start " + disk.Name);
    }
    void DriveEnded(TDisk& disk) override {
        events.push_back("end " + disk.Name);
        if (onDriveEnded)
            onDriveEnded(disk);
    }
    void Tell(const std::string& text, TMsgDlgType type) override {
        told.push_back(text);
        events.push_back(type == TMsgDlgType::mtWarning ? "warning" : "error");
    }
};

class WipeJobTest : public ::testing::Test {
protected:
    platform::ScopedSystem system_{platform::sim::CreateSimSystem("")};
    ui::ScriptedHost host_;
    TGUIDiskManager manager_{host_};
    std::unique_ptr<method> zero_ = method::CreateFromFile("");
    RecordingView view_;

    void TearDown() override { CurrentReport.reset(); }

    TWipeSettings Settings() {
        TWipeSettings settings;
        settings.Method = zero_.get();
        settings.Unattended = true;
        return settings;
    }
    static bool AllZero(const MemoryDisk& disk) {
        const auto& bytes = disk.medium.bytes;
        return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
    }
};

TEST_F(WipeJobTest, EveryDriveInOrderTakesTheSettingsItsKindUses) {
    auto first = MakeDisk<MemoryDisk>("E", &manager_, 64);
    auto disc = MakeDisk<RecordingDisc>("F", &manager_);
    auto last = MakeDisk<MemoryDisk>("G", &manager_, 32);
    EXPECT_TRUE(first->Interruptible() && first->HasBlocks() && first->TakesMethod());
    EXPECT_FALSE(disc->Interruptible() || disc->HasBlocks() || disc->TakesMethod());

    TWipeSettings settings = Settings();
    settings.NoBuffering = true;
    settings.BufferBytes = 8192;
    settings.QuickEraseCDDVD = false;
    TWipeJob job(manager_, {first.get(), disc.get(), last.get()}, settings);
    EXPECT_EQ(job.Run(view_), TWipeOutcome::woCompleted);

    EXPECT_EQ(view_.events, (std::vector<std::string>{"run", "start E", "end E", "start F", "end F",
                                                      "start G", "end G"}));
    EXPECT_TRUE(AllZero(*first));
    EXPECT_TRUE(AllZero(*last));
    EXPECT_TRUE(first->lastOptions.Unbuffered);
    EXPECT_EQ(first->lastOptions.BufferSize, 8192);
    // 8192 bytes are 16 blocks: four transfers for 64 blocks.
    EXPECT_EQ(first->medium.CountTransfers(testing::MemoryMedium::Op::Write), 4);
    EXPECT_EQ(disc->wipes, 1);
    EXPECT_EQ(disc->methodGiven, nullptr); // blanked by its drive, not by passes
    EXPECT_FALSE(disc->quickErase);
    ASSERT_EQ(job.Results().size(), 3u);
    for (const TDriveResult& result : job.Results()) {
        EXPECT_EQ(result.Outcome, TWipeOutcome::woCompleted);
        EXPECT_TRUE(result.Error.empty());
    }
    EXPECT_TRUE(manager_.Unattended);
}

TEST_F(WipeJobTest, AFailedDriveIsToldAndPassedOverAnAbortEndsTheRun) {
    auto broken = MakeDisk<MemoryDisk>("E", &manager_, 16);
    broken->medium.failOpen = true;
    auto good = MakeDisk<MemoryDisk>("G", &manager_, 16);
    auto never = MakeDisk<MemoryDisk>("H", &manager_, 16);
    // The user answers Abort after the second drive.
    view_.onDriveEnded = [&](TDisk& disk) {
        if (disk.Name == "G")
            manager_.RequestAbort("User abort");
    };
    TWipeJob job(manager_, {broken.get(), good.get(), never.get()}, Settings());
    // A failure before the abort: the run's outcome stays Failed.
    EXPECT_EQ(job.Run(view_), TWipeOutcome::woFailed);

    EXPECT_EQ(view_.events, (std::vector<std::string>{"run", "start E", "error", "end E", "start G",
                                                      "end G", "warning"}));
    ASSERT_EQ(view_.told.size(), 2u);
    EXPECT_EQ(view_.told[0].rfind(CatalogueText("ErrorUnexpected") + "\r\n", 0), 0u);
    EXPECT_EQ(view_.told[1], CatalogueText("ErrorXAbort"));
    EXPECT_TRUE(AllZero(*good));
    EXPECT_FALSE(AllZero(*never));
    EXPECT_EQ(never->medium.openCount, 0);
    ASSERT_EQ(job.Results().size(), 3u);
    EXPECT_EQ(job.Results()[0].Outcome, TWipeOutcome::woFailed);
    EXPECT_EQ(job.Results()[0].Error, view_.told[0]);
    EXPECT_EQ(job.Results()[1].Outcome, TWipeOutcome::woCompleted);
    EXPECT_EQ(job.Results()[2].Outcome, TWipeOutcome::woAborted);
}

TEST_F(WipeJobTest, TheStatusFollowsEachDriveThroughItsPassesAndReadBacks) {
    // Two write passes, the first read back: three slots of the method, two passes to the user.
    testing::MetFolder folder;
    const auto checked = method::CreateFromFile(folder.Write(
        "checked.met", {"METHODNR=2", "NAME=Checked", "HEXA=$AA", "CHECK", "RAND=000255"}));
    ASSERT_EQ(checked->PassCount, 3);
    auto first = MakeDisk<MemoryDisk>("E", &manager_, 64);
    auto broken = MakeDisk<MemoryDisk>("F", &manager_, 16);
    broken->medium.failOpen = true;
    auto waiting = MakeDisk<MemoryDisk>("G", &manager_, 8);

    TWipeSettings settings = Settings();
    settings.Method = checked.get();
    settings.BufferBytes = 8192;
    TWipeJob job(manager_, {first.get(), broken.get(), waiting.get()}, settings);
    // What the window's refresh would read after each Update: the job's figures are current.
    std::vector<std::vector<TDriveStatus>> seen;
    manager_.OnUpdate = [&] { seen.push_back(job.Status().Snapshot()); };
    view_.onDriveEnded = [&](TDisk& disk) {
        if (disk.Name == "F")
            manager_.RequestAbort("User abort");
    };
    EXPECT_EQ(job.Run(view_), TWipeOutcome::woFailed);

    ASSERT_FALSE(seen.empty());
    std::vector<std::tuple<TDriveState, int, int>> steps;
    for (const auto& snapshot : seen) {
        ASSERT_EQ(snapshot.size(), 3u);
        EXPECT_EQ(snapshot[0].Bytes, 64 * 512);
        // Its progress is over every slot of the method: two writes and a read-back.
        EXPECT_EQ(snapshot[0].TransferBytes, 3 * 64 * 512);
        EXPECT_EQ(snapshot[2].TransferBytes, 3 * 8 * 512);
        EXPECT_EQ(snapshot[2].State, TDriveState::dsWaiting);
        const auto step =
            std::make_tuple(snapshot[0].State, snapshot[0].Pass, snapshot[0].PassCount);
        if (steps.empty() || steps.back() != step)
            steps.push_back(step);
    }
    EXPECT_EQ(steps,
              (std::vector<std::tuple<TDriveState, int, int>>{{TDriveState::dsWiping, 1, 2},
                                                              {TDriveState::dsVerifying, 1, 2},
                                                              {TDriveState::dsWiping, 2, 2}}));
    EXPECT_LE(seen.back()[0].Progress, 1.0);

    const std::vector<TDriveStatus> last = job.Status().Snapshot();
    EXPECT_EQ(last[0].State, TDriveState::dsDone);
    EXPECT_EQ(last[0].Progress, 1.0);
    EXPECT_EQ(last[1].State, TDriveState::dsFailed);
    // The abort answered after the failed drive: the drive it never reached is aborted too.
    EXPECT_EQ(last[2].State, TDriveState::dsAborted);
    EXPECT_TRUE(Ended(last[2].State));
    EXPECT_FALSE(Ended(TDriveState::dsVerifying));
}

TEST_F(WipeJobTest, WithoutAMethodNothingIsWrittenAndWithoutDrivesNothingHappens) {
    auto disk = MakeDisk<MemoryDisk>("E", &manager_, 16);
    TWipeSettings settings = Settings();
    settings.Method = nullptr;
    TWipeJob noMethod(manager_, {disk.get()}, settings);
    EXPECT_EQ(noMethod.Run(view_), TWipeOutcome::woFailed);
    EXPECT_EQ(disk->medium.openCount, 0);
    EXPECT_EQ(CurrentReport, nullptr);

    TWipeJob noDrives(manager_, {}, Settings());
    EXPECT_EQ(noDrives.Run(view_), TWipeOutcome::woNone);
    EXPECT_TRUE(view_.events.empty());
}

} // namespace
} // namespace purgelet
