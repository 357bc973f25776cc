// The record a wipe job writes beside its report: the drives' facts, times, errors with their
// answers and outcomes for a completed, a failed and an aborted run; appended runs; and a
// folder that cannot be written, which loses nothing and changes no result.
#include "app/run_record.h"
#include "app/wipe_job.h"

#include "disk/disk_manager.h"
#include "lang/catalogue.h"
#include "methods/method.h"
#include "platform/sim/machine.h"
#include "platform/sim/sim.h"
#include "platform/system.h"
#include "record/record_file.h"
#include "support/memory_disk.h"
#include "support/scratch_folder.h"
#include "ui/scripted_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace purgelet {
namespace {

namespace fs = std::filesystem;
using testing::MemoryDisk;

class TellingView : public TWipeJobView {
public:
    std::vector<std::string> told;
    std::function<void(TDisk&)> onDriveEnded;
    void RunStarting(const TWipeSettings&) override {}
    void DriveStarting(TDisk&, const TWipeSettings&) override {}
    void DriveEnded(TDisk& disk) override {
        if (onDriveEnded)
            onDriveEnded(disk);
    }
    void Tell(const std::string& text, TMsgDlgType) override { told.push_back(text); }
};

class RunRecordTest : public ::testing::Test {
protected:
    platform::ScopedSystem system_{platform::sim::CreateSimSystem("")};
    ui::ScriptedHost host_;
    TGUIDiskManager manager_{host_};
    std::unique_ptr<method> zero_ = method::CreateFromFile("");
    TellingView view_;
    testing::ScratchFolder folder_{"purgelet-run-record-"};

    void TearDown() override { CurrentReport.reset(); }

    TWipeSettings Settings() {
        TWipeSettings settings;
        settings.Method = zero_.get();
        settings.Unattended = true;
        settings.GenerateReportFile = true;
        settings.LogFileName = (folder_ / "run.log").string();
        settings.RecordFile = true;
        settings.Certificate = false;
        return settings;
    }
    std::string ReportText() const {
        std::ifstream in(folder_ / "run.log", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    nlohmann::json RecordFile() const {
        std::ifstream in(folder_ / "run.log.json", std::ios::binary);
        return nlohmann::json::parse(std::string(std::istreambuf_iterator<char>(in), {}));
    }
};

TEST_F(RunRecordTest, ARunWithABlockPassedOverIsRecordedDriveByDriveAndNotAsErased) {
    auto first = MakeDisk<MemoryDisk>("E", &manager_, 64);
    first->Description = "Data (E:)";
    first->medium.FailWrites(16, testing::MemoryMedium::kAlways);
    auto second = MakeDisk<MemoryDisk>("G", &manager_, 32);
    first->FileSystem = second->FileSystem = "FAT16"; // one to make again after the wipe
    TWipeSettings settings = Settings();
    settings.FormatPartitions = true;
    settings.BufferBytes = 8192;
    TWipeJob job(manager_, {first.get(), second.get()}, settings);
    // The run went to its end, as the wizard and the report say...
    ASSERT_EQ(job.Run(view_), TWipeOutcome::woCompleted);
    EXPECT_TRUE(view_.told.empty());
    CurrentReport.reset();

    ASSERT_EQ(job.RecordFile(), (folder_ / "run.log.json").string());
    const nlohmann::json file = RecordFile();
    ASSERT_EQ(file.size(), 1u);
    const record::TRecord got = record::FromJson(file[0]);
    EXPECT_EQ(record::ToJson(got), record::ToJson(job.Record()));
    // ...but a drive with a block left unwritten is not proven erased.
    EXPECT_EQ(got.Run.Outcome, "failed");
    EXPECT_TRUE(got.Run.Unattended);
    long long start = 0, end = 0;
    ASSERT_TRUE(record::IsoTimeSeconds(got.Run.Start, start));
    ASSERT_TRUE(record::IsoTimeSeconds(got.Run.End, end));
    EXPECT_LE(start, end);
    EXPECT_EQ(got.Tool.Name, "Purgelet");
    EXPECT_FALSE(got.Tool.Version.empty());
    ASSERT_EQ(got.Drives.size(), 2u);

    const record::TDrive& e = got.Drives[0];
    EXPECT_EQ(e.Name, "E");
    EXPECT_EQ(e.Description, "Data (E:)");
    EXPECT_EQ(e.BlockCount, 64);
    EXPECT_EQ(e.Size, 64 * 512);
    EXPECT_EQ(e.BlockSize, 512);
    EXPECT_EQ(e.Method, zero_->Name);
    ASSERT_EQ(e.Passes.size(), 1u);
    EXPECT_EQ(e.Passes[0].Kind, "pattern");
    EXPECT_EQ(e.Passes[0].Pattern, "00");
    EXPECT_EQ(e.NistCategory, "none"); // not proven erased: no category achieved
    EXPECT_EQ(e.Verification, "none");
    EXPECT_EQ(e.Outcome, "failed");
    EXPECT_NE(e.OutcomeText.find("old data may remain"), std::string::npos);
    EXPECT_TRUE(e.Formatted); // it was, after the passes
    // The failed transfer's block and the unattended answer, as the report has them.
    ASSERT_FALSE(e.Errors.empty());
    EXPECT_EQ(e.Errors[0].Block, std::optional<std::int64_t>(16));
    EXPECT_EQ(e.Errors[0].Answer, TGUIDiskManager::ModalResultText(mrIgnore));
    EXPECT_NE(ReportText().find(e.Errors[0].Answer), std::string::npos);
    EXPECT_EQ(got.Drives[1].Name, "G");
    EXPECT_TRUE(got.Drives[1].Errors.empty());
    EXPECT_EQ(got.Drives[1].Outcome, "completed");
    EXPECT_EQ(got.Drives[1].NistCategory, "Clear");
    EXPECT_TRUE(got.Drives[1].Formatted);

    const record::TVerifyResult verified = record::VerifyRecordFiles({job.RecordFile()});
    EXPECT_EQ(verified.Broken, 0);
    EXPECT_EQ(verified.Records, 1);
}

TEST_F(RunRecordTest, FailedAndAbortedRunsSayWhichDriveAndWhy) {
    auto broken = MakeDisk<MemoryDisk>("E", &manager_, 16);
    broken->medium.failOpen = true;
    auto good = MakeDisk<MemoryDisk>("G", &manager_, 16);
    auto never = MakeDisk<MemoryDisk>("H", &manager_, 16);
    TWipeSettings settings = Settings();
    {
        TWipeJob job(manager_, {broken.get(), good.get()}, settings);
        EXPECT_EQ(job.Run(view_), TWipeOutcome::woFailed);
        CurrentReport.reset();
        const record::TRecord got = record::FromJson(RecordFile()[0]);
        EXPECT_EQ(got.Run.Outcome, "failed");
        ASSERT_EQ(got.Drives.size(), 2u);
        EXPECT_EQ(got.Drives[0].Outcome, "failed");
        EXPECT_FALSE(got.Drives[0].OutcomeText.empty());
        EXPECT_FALSE(got.Drives[0].Formatted);
        EXPECT_EQ(got.Drives[0].BlocksVerified, 0);
        EXPECT_EQ(got.Drives[1].Outcome, "completed");
    }
    // Aborted after the first drive: the drive the abort reached is recorded as aborted, the
    // one after it not at all; appended, the first run's record stays and the chain links.
    settings.AppendLog = true;
    view_.onDriveEnded = [&](TDisk&) { manager_.RequestAbort("User abort"); };
    TWipeJob job(manager_, {good.get(), never.get()}, settings);
    EXPECT_EQ(job.Run(view_), TWipeOutcome::woAborted);
    CurrentReport.reset();
    const nlohmann::json file = RecordFile();
    ASSERT_EQ(file.size(), 2u);
    const record::TRecord got = record::FromJson(file[1]);
    EXPECT_EQ(got.Run.Outcome, "aborted");
    ASSERT_EQ(got.Drives.size(), 2u);
    EXPECT_EQ(got.Drives[0].Outcome, "completed");
    EXPECT_EQ(got.Drives[1].Name, "H");
    EXPECT_EQ(got.Drives[1].Outcome, "aborted");
    EXPECT_EQ(got.PreviousSha256, file[0]["sha256"].get<std::string>());
    EXPECT_EQ(record::VerifyRecordFiles({job.RecordFile()}).Broken, 0);
    EXPECT_NE(ReportText().find(got.Drives[1].OutcomeText), std::string::npos);
    EXPECT_FALSE(got.Drives[1].OutcomeText.empty());
}

TEST_F(RunRecordTest, AnUnwritableFolderIsToldAndChangesNeitherTheWipeNorTheReport) {
    auto disk = MakeDisk<MemoryDisk>("E", &manager_, 16);
    TWipeSettings settings = Settings();
    settings.GenerateReportFile = false; // the record alone, into a folder that is not there
    settings.LogFileName = (folder_ / "missing" / "run.log").string();
    TWipeJob job(manager_, {disk.get()}, settings);
    EXPECT_EQ(job.Run(view_), TWipeOutcome::woCompleted);
    ASSERT_EQ(view_.told.size(), 1u);
    EXPECT_NE(view_.told[0].find("run.log.json"), std::string::npos);
    EXPECT_TRUE(job.RecordFile().empty());
    EXPECT_EQ(job.Record().Run.Outcome, "completed"); // kept for whoever shows it
    EXPECT_FALSE(fs::exists(folder_ / "missing"));
    EXPECT_TRUE(std::all_of(disk->medium.bytes.begin(), disk->medium.bytes.end(),
                            [](std::uint8_t b) { return b == 0; }));

    // The option off: no record, nothing told.
    view_.told.clear();
    settings.RecordFile = false;
    TWipeJob quiet(manager_, {disk.get()}, settings);
    EXPECT_EQ(quiet.Run(view_), TWipeOutcome::woCompleted);
    EXPECT_TRUE(view_.told.empty());
    EXPECT_TRUE(TRunRecorder::RecordPathFor(settings).empty());
}

// A report that cannot be opened stops the run before any drive is written, and says why in
// its own words; the record of the failed run is still written, and readable.
TEST_F(RunRecordTest, AReportNamedLikeAFolderIsToldAsOneAndNothingIsWritten) {
    auto disk = MakeDisk<MemoryDisk>("E", &manager_, 16);
    disk->medium.bytes.assign(disk->medium.bytes.size(), 0xAA);
    fs::create_directories(folder_ / "run.log");
    TWipeJob job(manager_, {disk.get()}, Settings());
    EXPECT_EQ(job.Run(view_), TWipeOutcome::woFailed);
    ASSERT_FALSE(view_.told.empty());
    EXPECT_NE(view_.told[0].find("it is a folder"), std::string::npos) << view_.told[0];
    EXPECT_EQ(view_.told[0].find("not functioning"), std::string::npos) << view_.told[0];
    EXPECT_EQ(job.ReportError(), view_.told[0]);
    EXPECT_TRUE(std::all_of(disk->medium.bytes.begin(), disk->medium.bytes.end(),
                            [](std::uint8_t b) { return b == 0xAA; }));
    EXPECT_EQ(RecordFile()[0]["run"]["outcome"], "failed");
}

// The program's texts are Windows-1252: a label outside ASCII is recorded as itself (UTF-8 in
// the file), and the run is not left without its record.
TEST_F(RunRecordTest, ALabelOutsideAsciiIsRecordedAsItself) {
    auto disk = MakeDisk<MemoryDisk>("E", &manager_, 16);
    disk->Description = "DONN\xC9"
                        "ES (E:)";
    TWipeJob job(manager_, {disk.get()}, Settings());
    EXPECT_EQ(job.Run(view_), TWipeOutcome::woCompleted);
    EXPECT_TRUE(view_.told.empty()) << ::testing::PrintToString(view_.told);
    const nlohmann::json file = RecordFile();
    EXPECT_EQ(file[0]["drives"][0]["description"], "DONN\xC3\x89"
                                                   "ES (E:)");
    EXPECT_EQ(record::VerifyRecordFiles({(folder_ / "run.log.json").string()}).Broken, 0);
}

// A read-back by content names the blocks that lost their writes, in the report and in the
// record, and the record names the random source the run drew from. A Windows 9x machine has
// no AES: the run says so, in the report too, and draws from ISAAC.
TEST_F(RunRecordTest, AReadBackByContentNamesTheDifferingBlocksAndTheSourceIsRecorded) {
    {
        std::ofstream out(folder_ / "checked.met", std::ios::binary);
        out << "NAME=checked\r\nRAND=000255\r\nCHECK\r\n";
    }
    auto checked = method::CreateFromFile((folder_ / "checked.met").string());
    for (const bool nt : {true, false}) {
        platform::ScopedSystem machine(platform::sim::CreateSimSystem(platform::sim::Machine::Parse(
            nlohmann::json{{"platform", nt ? "NT" : "9x"}}, folder_.path())));
        auto disk = MakeDisk<MemoryDisk>("E", &manager_, 64);
        disk->Description = "Data (E:)";
        disk->medium.lostWrites = {5, 6, 7, 20};
        TWipeSettings settings = Settings();
        settings.Method = checked.get();
        settings.UseAesCtr = true;
        settings.VerifyContent = true;
        settings.BufferBytes = 8192;
        view_.told.clear();
        TWipeJob job(manager_, {disk.get()}, settings);
        job.Run(view_);
        CurrentReport.reset();
        const std::string report = ReportText();
        EXPECT_NE(report.find("Data (E:): 4 block(s) read back differ from what was written: 5-7, "
                              "20"),
                  std::string::npos)
            << report;
        const record::TDrive& drive = job.Record().Drives.at(0);
        EXPECT_TRUE(drive.VerifiedByContent);
        EXPECT_EQ(drive.DifferingBlocks, (std::vector<std::int64_t>{5, 6, 7, 20}));
        EXPECT_EQ(drive.DifferingBlockCount, 4);
        const auto& options = job.Record().Run.Options;
        const auto source = std::find_if(options.begin(), options.end(), [](const auto& option) {
            return option.first == "randomSource";
        });
        ASSERT_NE(source, options.end());
        EXPECT_EQ(source->second, nt ? "aes-256-ctr" : "isaac");
        const std::string none = CatalogueText("AESCTR_NONE");
        EXPECT_EQ(report.find(none) != std::string::npos, !nt) << report;
        EXPECT_EQ(std::count(view_.told.begin(), view_.told.end(), none), nt ? 0 : 1);
        fs::remove(folder_ / "run.log");
        fs::remove(folder_ / "run.log.json");
    }
}

TEST(RecordPasses, AVerificationSlotIsReadBackOfThePassBeforeIt) {
    method m;
    steptype ones, random;
    ones.PatternLength = 2;
    ones.Pattern[0] = 0xff;
    ones.Pattern[1] = 0x5a;
    ones.Check = true;
    random.IsRandom = true;
    m.Steps = {nullptr, &random, &ones, &ones};
    m.PassCount = 3;
    const std::vector<record::TPass> passes = RecordPasses(m);
    ASSERT_EQ(passes.size(), 3u);
    EXPECT_EQ(passes[0].Kind, "random");
    EXPECT_EQ(passes[1].Kind, "pattern");
    EXPECT_EQ(passes[1].Pattern, "ff5a");
    EXPECT_EQ(passes[2].Kind, "verify");
    EXPECT_EQ(VerificationKind(m), "last pass");
    EXPECT_EQ(VerifyPassCount(m), 1);
    m.Steps = {nullptr, &ones, &ones};
    m.PassCount = 2;
    EXPECT_EQ(VerificationKind(m), "every pass");
    random.Check = false;
    m.Steps = {nullptr, &random};
    m.PassCount = 1;
    EXPECT_EQ(VerificationKind(m), "none");
}

} // namespace
} // namespace purgelet
