// Report files written on a simulated PC (its clock is fixed, so the times are too) and
// compared byte for byte with golden files.
#include "lang/catalogue.h"
#include "lang/language.h"
#include "platform/sim/kernel32.h"
#include "platform/sim/sim.h"
#include "platform/system.h"
#include "record/record_file.h"
#include "report/errorlog.h"
#include "report/exceptions.h"
#include "report/report.h"
#include "support/memory_disk.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using namespace purgelet;
using purgelet::testing::MemoryDisk;

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The options page with its default captions: what the wipe run hands in.
TReportSettings PageSettings() {
    auto caption = [](const char* component) { return *FindControlText(component, "Caption"); };
    TReportSettings s;
    s.MethodName = "Pseudorandom Data (1 pass)";
    s.OptionsCaption = caption("gbWipeOptions");
    s.Before = {{caption("cbAllowUserAbort"), true},
                {caption("cbWipeWithoutIntervention"), false},
                {caption("cbUseIsaac"), true},
                {caption("cbNoBuffering"), true}};
    s.BufferCaption = caption("lblOverwriteBuffer");
    s.BufferText = "512 KB";
    s.After = {{caption("cbQuickErase"), false},
               {caption("cbFormarPartitions"), true},
               {caption("cbAskDlg"), false}};
    return s;
}

// A CD that the report must not dump: not a random-access disk.
class TestDisc : public TCDDVDDisk {
public:
    using TCDDVDDisk::TCDDVDDisk;
    void Wipe(TWipeContext&) override {}
    void init() override {}
};

class Report : public ::testing::Test {
protected:
    void SetUp() override {
        LoadCatalogueTexts(); // the language table is empty here: the defaults
        folder = fs::temp_directory_path() /
                 ("purgelet_report_" +
                  std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(folder);
        fs::create_directories(folder);
        disk = MakeDisk<MemoryDisk>("E", &owner, 100);
        disk->Description = "Removable Disk (E:)";
        // Opened for the wipe without system buffering (the default): the block dump must
        // read into a sector-aligned buffer.
        disk->medium.alignment = 512;
        SetReportInputQuery(nullptr);
    }
    void TearDown() override {
        SetReportInputQuery(nullptr);
        CurrentReport.reset();
        disk.reset();
        fs::remove_all(folder);
    }
    // Compares with the golden file; a differing result is kept as <name>.actual in the
    // temporary folder for a look.
    void ExpectGolden(const fs::path& file, const std::string& name) {
        std::string actual = Read(file);
        std::string golden = Read(fs::path(PURGELET_TEST_DATA) / "report" / name);
        EXPECT_EQ(actual, golden) << "see " << (fs::temp_directory_path() / (name + ".actual"));
        if (actual != golden)
            std::ofstream(fs::temp_directory_path() / (name + ".actual"), std::ios::binary)
                << actual;
    }
    // The answers the DoD prompts get, in order; an empty optional cancels.
    void Answer(std::vector<std::optional<std::string>> answers) {
        auto queue = std::make_shared<std::vector<std::optional<std::string>>>(std::move(answers));
        SetReportInputQuery([this, queue](const std::string& caption, const std::string& prompt,
                                          std::string& value) {
            prompts.push_back(caption + "|" + prompt);
            if (queue->empty() || !queue->front()) {
                if (!queue->empty())
                    queue->erase(queue->begin());
                return false;
            }
            value = *queue->front();
            queue->erase(queue->begin());
            return true;
        });
    }
    // The run of one disk with a write error that the user ignores; the run completes.
    void OneDiskRun(TPLReport& report) {
        report.WriteDiskHeader(*disk);
        report.WriteLine(CatalogueText("Error_Write"));
        report.WriteLine(CatalogueText("DECISION") + ": " + CatalogueText("mrIgnore_TEXT"));
        report.BlockWarning(*disk, block);
        report.SetOutcome(TRunOutcome::Completed);
    }

    platform::ScopedSystem pc{platform::sim::CreateSimSystem("")};
    TMessageObject owner;
    std::unique_ptr<MemoryDisk> disk;
    std::int64_t block = 0; // the block in progress of disk's wipe
    fs::path folder;
    std::vector<std::string> prompts;
};

TEST_F(Report, NormalStyleMatchesItsGoldenFile) {
    fs::path file = folder / "normal.log";
    {
        TPLReport report(true, false, false, file.string(), PageSettings());
        OneDiskRun(report);
    }
    ExpectGolden(file, "normal.golden");
    EXPECT_TRUE(prompts.empty()); // the normal style never asks
}

TEST_F(Report, DodStyleAsksAgainForEmptyAnswersAndDumpsTheFailedBlock) {
    // Block 7 holds text with the characters the dump must not show as they are.
    disk->Open(false);
    std::string content = "Secret\tletter\r\n`quoted` and \x01 byte";
    auto block7 = disk->medium.bytes.begin() + 7 * 512;
    std::fill(block7, block7 + 512, 0);
    std::copy(content.begin(), content.end(), block7);
    block = 7;
    Answer({"", "J. Smith, IT security", "", "", "USB stick, serial 4711"});
    fs::path file = folder / "dod.log";
    fs::path log = folder / "except.log";
    OpenErrorLog(log.string());
    {
        TPLReport report(true, true, false, file.string(), PageSettings());
        OneDiskRun(report);
        // A block that cannot be read leaves zeros in the dump; the last block counts from 0.
        block = 99;
        disk->medium.FailReads(99, purgelet::testing::MemoryMedium::kAlways);
        report.WriteLine(CatalogueText("Error_Read"));
        report.BlockWarning(*disk, block);
        // Not a random-access disk: no warning at all.
        TestDisc disc("F", &owner);
        report.BlockWarning(disc, 0);
    }
    disk->Close();
    CloseErrorLog();
    ExpectGolden(file, "dod.golden");
    // The readable block was read at the first attempt; only the unreadable one is logged.
    const std::string errors = Read(log);
    EXPECT_EQ(errors.find("(buff,7,"), std::string::npos) << errors;
    EXPECT_NE(errors.find("TMemoryDisk.ReadBlocks : (buff,99,1)"), std::string::npos) << errors;
    EXPECT_EQ(prompts,
              (std::vector<std::string>{
                  "Responsible|Responsible for wipe:", "Responsible|Responsible for wipe:",
                  "Media Description|Media Description:", "Media Description|Media Description:",
                  "Media Description|Media Description:"}));
}

TEST_F(Report, AppendAddsOneReportToAnExistingFile) {
    fs::path file = folder / "append.log";
    fs::path alone = folder / "alone.log";
    std::ofstream(file, std::ios::binary) << "earlier run\r\n";
    {
        TPLReport report(true, false, true, file.string(), PageSettings());
        report.SetOutcome(TRunOutcome::Completed);
    }
    {
        TPLReport report(true, false, false, alone.string(), PageSettings());
        report.SetOutcome(TRunOutcome::Completed);
    }
    EXPECT_EQ(Read(file), "earlier run\r\n" + Read(alone));
    {
        TPLReport report(true, false, true, file.string(), PageSettings());
        report.SetOutcome(TRunOutcome::Completed);
    }
    EXPECT_EQ(Read(file), "earlier run\r\n" + Read(alone) + Read(alone));
}

TEST_F(Report, WithoutAppendAnExistingFileIsReplaced) {
    fs::path file = folder / "replace.log";
    std::ofstream(file, std::ios::binary) << "earlier run\r\n";
    { TPLReport report(true, false, false, file.string(), PageSettings()); }
    EXPECT_EQ(Read(file).find("earlier run"), std::string::npos);
}

TEST_F(Report, AppendWithNoFileCreatesIt) {
    fs::path file = folder / "new.log";
    {
        TPLReport report(true, false, true, file.string(), PageSettings());
        OneDiskRun(report);
    }
    ExpectGolden(file, "normal.golden");
}

// A whole disk's own erase adds its lines under the drive: the command, the drive's status,
// the verification's counts and, where it stayed, the temporary password; a run without one
// writes exactly what it always wrote.
TEST_F(Report, TheDrivesOwnEraseIsReportedUnderItsDriveAndNothingElseChanges) {
    TWipeContext wiped;
    TFirmwareRecord& erase = wiped.Firmware.emplace();
    erase.Command = "NVMe Sanitize, crypto erase (84h, SANACT 100b)";
    erase.Status = TFirmwareStatus::Completed;
    erase.DriveStatus = "SSTAT 0001h";
    erase.Verified = true;
    erase.Sampled = 66;
    erase.Changed = 60;
    erase.Blank = 5;
    erase.Unchanged = 1;
    erase.PasswordSet = true;
    erase.Password = "Purgelet temporary erase pwd";
    fs::path file = folder / "firmware.log";
    CurrentReport = std::make_unique<TPLReport>(true, false, false, file.string(), PageSettings());
    ReportWriteFirmware(wiped);
    wiped.Firmware->Status = TFirmwareStatus::TimedOut;
    wiped.Firmware->DriveStatus.clear();
    wiped.Firmware->Verified = false;
    wiped.Firmware->PasswordRemoved = true;
    ReportWriteFirmware(wiped);
    wiped.Firmware->Status = TFirmwareStatus::NotAccepted;
    wiped.Firmware->Command.clear();
    ReportWriteFirmware(wiped);
    CurrentReport.reset();
    const std::string text = Read(file);
    EXPECT_NE(text.find("Firmware sanitize command: NVMe Sanitize, crypto erase (84h, SANACT "
                        "100b)\r\n"
                        "Drive's completion status: completed (SSTAT 0001h)\r\n"
                        "Verification: 66 blocks sampled, 60 changed, 5 held no data, 1 still "
                        "held old data\r\n"
                        "The temporary security password set for the erase could not be "
                        "removed: the drive may ask for it. Unlock it with the user password "
                        "\"Purgelet temporary erase pwd\".\r\n\r\n"
                        "Firmware sanitize command: NVMe Sanitize, crypto erase (84h, SANACT "
                        "100b)\r\n"
                        "Drive's completion status: not finished within the time limit\r\n"
                        "Verification: not done\r\n\r\n"
                        "Firmware sanitize command: -\r\n"
                        "Drive's completion status: not accepted by the drive\r\n"
                        "Verification: not done\r\n\r\n"),
              std::string::npos)
        << text;

    // Neither a drive letter nor a whole disk without the step adds a line.
    wiped.Firmware.reset();
    fs::path plain = folder / "normal.log";
    CurrentReport = std::make_unique<TPLReport>(true, false, false, plain.string(), PageSettings());
    ReportWriteFirmware(wiped);
    CurrentReport->WriteDiskHeader(*disk);
    TWipeContext letter;
    ReportWriteFirmware(letter);
    ReportWriteFirmware(wiped);
    CurrentReport->WriteLine(CatalogueText("Error_Write"));
    CurrentReport->WriteLine(CatalogueText("DECISION") + ": " + CatalogueText("mrIgnore_TEXT"));
    CurrentReport->BlockWarning(*disk, block);
    CurrentReport->SetOutcome(TRunOutcome::Completed);
    CurrentReport.reset();
    ExpectGolden(plain, "normal.golden");
}

TEST_F(Report, NoReportTouchesNoFileAndEveryCallIsSilent) {
    fs::path file = folder / "none.log";
    Answer({"someone", "something"});
    CurrentReport = std::make_unique<TPLReport>(false, true, true, file.string(), PageSettings());
    ReportWriteDiskHeader(*disk);
    ReportWriteLine("a line");
    ReportBlockWarning(*disk, block);
    CurrentReport.reset();
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(prompts.empty());
    // And with no report at all.
    ReportWriteLine("nowhere");
    ReportWriteDiskHeader(*disk);
    ReportBlockWarning(*disk, block);
}

TEST_F(Report, ACancelledPromptLeavesAClosedFileEndingAsAnAbortedRun) {
    for (int cancelled = 0; cancelled < 2; ++cancelled) {
        fs::path file = folder / ("cancel" + std::to_string(cancelled) + ".log");
        if (cancelled == 0)
            Answer({std::nullopt});
        else
            Answer({"J. Smith", std::nullopt});
        try {
            TPLReport report(true, true, false, file.string(), PageSettings());
            FAIL() << "no abort";
        } catch (const XAbort& abort) {
            EXPECT_STREQ(abort.what(), cancelled == 0 ? "INPUT RESPONSIBLE - User Abort"
                                                      : "INPUT MEDIA TEXT - User Abort");
        }
        std::string stars = std::string(79, '*') + " ";
        EXPECT_EQ(Read(file), CatalogueText("REPORT00", "report") + "\r\n" +
                                  "SANITIZING PERFORMED on  2026-01-01 11:00:00 UTC\r\n\r\n" +
                                  "WIPE ABORTED at2026-01-01 11:00:00 UTC\r\n" + stars + "\r\n");
        fs::rename(file, folder / "moved.log"); // closed: it can be moved away
        fs::remove(folder / "moved.log");
    }
    SetReportInputQuery(nullptr); // nothing connected counts as cancelled
    EXPECT_THROW(TPLReport(true, true, false, (folder / "x.log").string(), PageSettings()), XAbort);
}

// The report's times are UTC and say so: read as such, each is the very moment the record gives in
// local time with its offset, on either side of UTC and across a date.
TEST_F(Report, ItsTimesAreUtcAndTheMomentsTheRecordGivesInLocalTime) {
    struct Moment {
        SYSTEMTIME local, utc;
        const char* record;
    };
    const Moment moments[] = {{{2026, 3, 2, 10, 17, 45, 30, 0},
                               {2026, 3, 2, 10, 12, 15, 30, 0},
                               "2026-03-10T17:45:30+05:30"},
                              {{2026, 3, 1, 9, 23, 15, 0, 0},
                               {2026, 3, 2, 10, 7, 15, 0, 0},
                               "2026-03-09T23:15:00-08:00"}};
    auto& kernel = dynamic_cast<platform::sim::SimKernel32&>(platform::k32());
    for (const Moment& moment : moments) {
        kernel.localTime = moment.local;
        kernel.utcTime = moment.utc;
        const fs::path file = folder / "moment.log";
        {
            TPLReport report(true, false, false, file.string(), PageSettings());
            OneDiskRun(report);
        }
        const std::string text = Read(file);
        const std::string performed = "SANITIZING PERFORMED on  ";
        const std::size_t at = text.find(performed);
        ASSERT_NE(at, std::string::npos) << text;
        std::string shown = text.substr(at + performed.size());
        shown.erase(shown.find("\r\n"));
        // "2026-03-10 12:15:30 UTC" as ISO 8601.
        ASSERT_EQ(shown.size(), 23u) << shown;
        EXPECT_EQ(shown.substr(19), " UTC");
        const std::string iso = shown.substr(0, 10) + "T" + shown.substr(11, 8) + "+00:00";
        const std::string recorded = record::IsoTimeNow();
        EXPECT_EQ(recorded, moment.record);
        long long reportSeconds = 0, recordSeconds = 0;
        ASSERT_TRUE(record::IsoTimeSeconds(iso, reportSeconds)) << iso;
        ASSERT_TRUE(record::IsoTimeSeconds(recorded, recordSeconds)) << recorded;
        EXPECT_EQ(reportSeconds, recordSeconds) << shown << " is not " << recorded;
        fs::remove(file);
    }
}

// The last line states how the run ended; only a completed run says "WIPE COMPLETED". The
// last outcome told counts, and a report never told counts as failed.
TEST_F(Report, TheLastLineStatesTheOutcomeItWasTold) {
    struct Ending {
        std::optional<TRunOutcome> told;
        const char* line;
    };
    const std::vector<Ending> endings = {{TRunOutcome::Completed, "WIPE COMPLETED at"},
                                         {TRunOutcome::Aborted, "WIPE ABORTED at"},
                                         {TRunOutcome::Failed, "WIPE FAILED at"},
                                         {TRunOutcome::NotTold, "WIPE FAILED at"},
                                         {std::nullopt, "WIPE FAILED at"}};
    const std::string tail =
        std::string("2026-01-01 11:00:00 UTC\r\n") + std::string(79, '*') + " \r\n";
    for (const Ending& ending : endings) {
        fs::path file = folder / "outcome.log";
        {
            TPLReport report(true, false, false, file.string(), PageSettings());
            report.WriteDiskHeader(*disk);
            if (ending.told)
                report.SetOutcome(*ending.told);
        }
        std::string text = Read(file);
        std::string expected = ending.line + tail;
        ASSERT_GE(text.size(), expected.size());
        EXPECT_EQ(text.substr(text.size() - expected.size()), expected) << ending.line;
        const bool completed = ending.told == TRunOutcome::Completed;
        EXPECT_EQ(text.find("COMPLETED") != std::string::npos, completed) << ending.line;
    }
    // The last outcome told counts.
    fs::path file = folder / "changed.log";
    {
        TPLReport report(true, false, false, file.string(), PageSettings());
        report.SetOutcome(TRunOutcome::Completed);
        report.SetOutcome(TRunOutcome::Aborted);
    }
    EXPECT_NE(Read(file).find("WIPE ABORTED at" + tail), std::string::npos);
}

// A translated language file brings its own words for the endings.
TEST_F(Report, TheEndingComesFromTheLanguageTable) {
    LanguageTable.Entries = {{"REPORT.SANITIZEFAILEDAT", "L\xD6SCHEN FEHLGESCHLAGEN um "}};
    LoadCatalogueTexts();
    fs::path file = folder / "translated.log";
    {
        TPLReport report(true, false, false, file.string(), PageSettings());
        report.SetOutcome(TRunOutcome::Failed);
    }
    LanguageTable.Clear();
    LoadCatalogueTexts();
    EXPECT_NE(Read(file).find("L\xD6SCHEN FEHLGESCHLAGEN um 2026-01-01 11:00:00 UTC\r\n"),
              std::string::npos);
}

TEST_F(Report, AFileThatCannotBeCreatedStopsTheReport) {
    fs::path file = folder / "no such folder" / "r.log";
    EXPECT_THROW(TPLReport(true, false, false, file.string(), PageSettings()), XGenericError);
}

TEST_F(Report, AFullDiskIsLoggedOnceAndTheRunGoesOn) {
    if (fs::path::preferred_separator != '/' || !fs::exists("/dev/full"))
        GTEST_SKIP() << "needs /dev/full";
    fs::path log = folder / "except.log";
    OpenErrorLog(log.string());
    {
        TPLReport report(true, false, false, "/dev/full", PageSettings());
        OneDiskRun(report);
        report.WriteLine("more");
    }
    CloseErrorLog();
    std::string text = Read(log);
    std::size_t first = text.find("TPLReport.WriteLine - WriteFile(/dev/full)");
    ASSERT_NE(first, std::string::npos) << text;
    EXPECT_EQ(text.find("TPLReport.WriteLine", first + 1), std::string::npos) << text;
}

TEST(ReportTexts, BlockOfTakesTwoNumbersAndNothingElse) {
    EXPECT_EQ(FormatBlockOf("Block %d of %d", 0, 5000000000LL), "Block 0 of 5000000000");
    EXPECT_EQ(FormatBlockOf("%s %d %n %d %d", 1, 2), "%s 1 %n 2 %d");
    EXPECT_EQ(FormatBlockOf("Block %", 1, 2), "Block %");
}

} // namespace
