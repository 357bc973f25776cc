// Unattended runs of the whole program on simulated PCs: the drives wiped byte for byte, the
// lines and JSON lines told, the report written, a write fault answered as no one at the
// keyboard answers it, an abort by a signal, the drives --all takes, and every usage error
// that needs the machine to be told.
#include "app/batch/batch_run.h"

#include "app/batch/batch_fixture.h"
#include "app/batch/stop_requests.h"
#include "app/wipe_job.h"
#include "lang/catalogue.h"
#include "lang/language.h"
#include "platform/system.h"
#include "record/certificate.h"
#include "record/record_file.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

namespace purgelet::testing {
namespace {

using nlohmann::json;

// A request to stop as the system delivers it: a signal where signals are its way (the
// routine then runs on the console control's thread of the host under the simulated PC),
// else the routine called on a thread of its own, as Windows calls it.
void RequestStop(DWORD ctrlType) {
#ifdef _WIN32
    std::thread([ctrlType] { TStopRequests::Routine(ctrlType); }).join();
#else
    std::raise(ctrlType == CTRL_C_EVENT ? SIGINT : SIGTERM);
#endif
}

TEST_F(BatchRunTest, TwoDrivesAreWipedWithALineForEachEventAndTheReport) {
    Boot(Machine());
    const Outcome run = Batch({"--batch", "/M0", "/R" + ReportPath(), "d:", "R"});

    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.lines, (std::vector<std::string>{
                             "run started: method \"Zero fill\", drives D R",
                             "drive D started: DATA (D:), 1048576 bytes",
                             "drive D ended: completed in 0:00:00",
                             "drive R started: STICK (R:), 524288 bytes",
                             "drive R ended: completed in 0:00:00",
                             "run ended: completed, exit status 0; report: " + ReportPath(),
                         }));
    EXPECT_TRUE(All("disk.img", kPartD, kPartLength, 0x00));
    EXPECT_TRUE(All("stick.img", 0, kStickSize, 0x00));
    EXPECT_TRUE(All("disk.img", kPartC, kPartLength, 0xAA));
    EXPECT_TRUE(All("floppy.img", 0, 1474560, 0xAA));

    const std::string report = ReadFile(ReportPath());
    EXPECT_NE(report.find("\r\nZero fill\r\n"), std::string::npos) << report;
    // Questions are answered without a dialog, and the report says so.
    EXPECT_NE(report.find(*FindControlText("cbWipeWithoutIntervention", "Caption") + ": " +
                          CatalogueText("ENABLED") + "\r\n"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("DATA (D:)\r\n"), std::string::npos);
    EXPECT_NE(report.find("STICK (R:)\r\n"), std::string::npos);
    EXPECT_NE(report.find(R("SANITIZECOMPLETEDAT")), std::string::npos) << report;

    // The switches were for this run: the stored options are as they were.
    app_.reset();
    EXPECT_EQ(Stored("GenerateReportFile"), "0");
    EXPECT_EQ(Stored("LogFileName"), "");
    EXPECT_EQ(Stored("WipeWithoutIntervention"), "0");
}

// Stored options the load could not read to their end (a buffer index that is no number stops
// it; what follows takes its default) are left as the user stored them: the run's switches,
// and the defaults the run started from, are never written over them.
TEST_F(BatchRunTest, StoredOptionsAreLeftAsTheyWereAlsoWhereTheLoadFellBackToDefaults) {
    json machine = Machine();
    json& stored = machine["registry"]["HKEY_CURRENT_USER"][kOptionsKey];
    stored["OverwriteBuffer"] = "abc";
    stored["QuickEraseCDDVD"] = "1";
    stored["UseIsaac"] = "true"; // reads as off; stays as written
    Boot(machine);
    const json before = stored;
    const Outcome run = Batch({"--batch", "/M0", "/F", "/I", "/B3", "/R" + ReportPath(), "d:"});
    EXPECT_EQ(run.status, 0) << run.err;

    app_.reset();
    for (const auto& [name, value] : before.items())
        EXPECT_EQ(Stored(name), value.get<std::string>()) << name;
}

// The format after the wipe: a stick that held no file system gets none, and the report says
// why; a format the library fails is told as a failed format, not as a failed wipe.
TEST_F(BatchRunTest, AFormatIsSkippedWithoutAFileSystemAndAFailedOneIsToldAsAFormat) {
    json machine = Machine();
    // Never formatted: no file system answers, and no partition type names one.
    machine["drives"][2]["volume"] = nullptr;
    machine["drives"][2]["partitionType"] = 0;
    machine["drives"][1]["format"] = {{"fails", true}, {"error", 31}}; // ERROR_GEN_FAILURE
    Boot(machine);
    const Outcome run = Batch({"--batch", "/M0", "/F", "/R" + ReportPath(), "d:", "R"});

    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_TRUE(All("disk.img", kPartD, kPartLength, 0x00));
    EXPECT_TRUE(All("stick.img", 0, kStickSize, 0x00));
    const auto has = [&](const std::string& start, const std::string& part) {
        return std::any_of(run.lines.begin(), run.lines.end(), [&](const std::string& line) {
            return line.rfind(start, 0) == 0 && line.find(part) != std::string::npos;
        });
    };
    const std::string formatFailed = CatalogueText("ErrorXFormat");
    EXPECT_TRUE(has("drive D error: ", formatFailed.substr(0, 40))) << formatFailed;
    EXPECT_FALSE(has("drive D error: ", CatalogueText("ErrorXDiskIO").substr(0, 30)));
    EXPECT_TRUE(has("drive R ended: ", "completed"));
    EXPECT_FALSE(has("drive R error: ", ""));
    const auto& formats = pc_->machine().formats;
    EXPECT_EQ(std::count_if(formats.begin(), formats.end(),
                            [](const auto& call) { return call.root == "R:"; }),
              0);

    const std::string report = ReadFile(ReportPath());
    const std::size_t stick = report.find("(R:)\r\n"); // no volume: no label either
    ASSERT_NE(stick, std::string::npos) << report;
    EXPECT_NE(report.find(R("FORMAT_SKIPPED"), stick), std::string::npos) << report;
    EXPECT_EQ(report.find(R("FORMAT_SKIPPED")), report.find(R("FORMAT_SKIPPED"), stick));
}

// A report whose writes fail (a full disk) cannot stand for the run: the drive is wiped, but
// the run is told failed, with an error line and the failure's exit status.
TEST_F(BatchRunTest, AReportThatCouldNotBeWrittenIsAFailedRun) {
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "needs /dev/full";
    Boot(Machine());
    const Outcome run = Batch({"--batch", "/M0", "/R/dev/full", "d:"});

    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_TRUE(All("disk.img", kPartD, kPartLength, 0x00));
    ASSERT_FALSE(run.lines.empty());
    EXPECT_EQ(run.lines.back().rfind("run ended: failed, exit status 1", 0), 0u)
        << run.lines.back();
    const std::string told = "error: " + ReportWriteFailedText("/dev/full");
    EXPECT_EQ(std::count(run.lines.begin(), run.lines.end(), told), 1) << told;
}

// Drives on different devices wiped at once: each line whole, each drive's start before its
// end, every drive written, the report's sections in list order.
TEST_F(BatchRunTest, DrivesWipedAtOnceAreToldInWholeLinesAndReportedInListOrder) {
    json machine = Machine();
    machine["registry"]["HKEY_CURRENT_USER"][kOptionsKey]["WipeInParallel"] = "1";
    machine["drives"][1]["faults"] = json::parse(R"({"writeBlocks": [{"block": 10}]})");
    Boot(machine);
    const Outcome run = Batch({"--batch", "/M0", "/B5", "/R" + ReportPath(), "d:", "R", "A"});

    EXPECT_EQ(run.status, 1) << run.err; // the block given up on D:
    ASSERT_GE(run.lines.size(), 2u);
    EXPECT_EQ(run.lines.front(), "run started: method \"Zero fill\", drives D R A");
    EXPECT_EQ(run.lines.back(), "run ended: failed, exit status 1; report: " + ReportPath());
    for (const std::string name : {"D", "R", "A"}) {
        const auto at = [&](const std::string& start) {
            return std::find_if(run.lines.begin(), run.lines.end(),
                                [&](const std::string& l) { return l.rfind(start, 0) == 0; }) -
                   run.lines.begin();
        };
        const auto started = at("drive " + name + " started: ");
        const auto ended = at("drive " + name + " ended: ");
        EXPECT_LT(started, ended) << name;
        EXPECT_LT(ended, static_cast<long>(run.lines.size()) - 1) << name;
    }
    const auto question = std::find_if(run.lines.begin(), run.lines.end(), [](const auto& l) {
        return l.rfind("drive D question: ", 0) == 0;
    });
    EXPECT_NE(question, run.lines.end());
    EXPECT_TRUE(All("stick.img", 0, kStickSize, 0x00));
    EXPECT_TRUE(All("floppy.img", 0, 1474560, 0x00));
    EXPECT_TRUE(All("disk.img", kPartD + 11 * 512, kPartLength - 11 * 512, 0x00));

    const std::string report = ReadFile(ReportPath());
    const std::size_t d = report.find("DATA (D:)\r\n");
    const std::size_t block = report.find("Decision: ", d);
    const std::size_t r = report.find("STICK (R:)\r\n");
    const std::size_t a = report.find(R("TOTALNUMBEROFSECTORS") + "2880\r\n");
    EXPECT_LT(d, block) << report;
    EXPECT_LT(block, r) << report;
    EXPECT_LT(r, a) << report;
    EXPECT_NE(a, std::string::npos) << report;
}

// With the record on (as it is by default), the run's record, and where the build draws
// them its certificate, are written beside the report and named in the run's last line.
TEST_F(BatchRunTest, TheRecordAndTheCertificateAreWrittenBesideTheReportAndTold) {
    json machine = Machine();
    machine["registry"]["HKEY_CURRENT_USER"][kOptionsKey]["RecordFile"] = "1";
    machine["registry"]["HKEY_CURRENT_USER"][kOptionsKey].erase("Certificate");
    machine["physicalDisks"][0]["model"] = "ST380011A";
    machine["physicalDisks"][0]["serial"] = "3JV1ABCD";
    machine["physicalDisks"][0]["bus"] = "ATA";
    machine["computer"] = {{"vendor", "Example"}, {"serial", "PC-4711"}, {"hostName", "BENCH-7"}};
    Boot(machine);
    const Outcome run = Batch({"--batch", "/M0", "/R" + ReportPath(), "d:", "R"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::string last = "run ended: completed, exit status 0; report: " + ReportPath() +
                       "; record: " + ReportPath() + ".json" + "; certificate: " + ReportPath() +
                       ".pdf";
    ASSERT_FALSE(run.lines.empty());
    EXPECT_EQ(run.lines.back(), last);
    const json file = json::parse(ReadFile(ReportPath() + ".json"));
    ASSERT_EQ(file.size(), 1u);
    EXPECT_EQ(file[0]["run"]["outcome"], "completed");
    EXPECT_TRUE(file[0]["run"]["unattended"].get<bool>());
    ASSERT_EQ(file[0]["drives"].size(), 2u);
    EXPECT_EQ(file[0]["computer"]["serial"], "PC-4711");
    EXPECT_EQ(file[0]["computer"]["hostName"], "BENCH-7");
    const json& d = file[0]["drives"][0];
    EXPECT_EQ(d["name"], "D");
    EXPECT_EQ(d["identity"]["model"], "ST380011A");
    EXPECT_EQ(d["identity"]["serial"], "3JV1ABCD");
    EXPECT_EQ(d["identity"]["bus"], "ATA");
    EXPECT_EQ(d["partitionNumber"], 2);
    EXPECT_EQ(d["partitionOffset"], 2097152);
    EXPECT_EQ(d["blockCount"], 2048);
    EXPECT_EQ(d["outcome"], "completed");
    // The stick tells no identity of its own: its name in the list stands for its model.
    EXPECT_EQ(file[0]["drives"][1]["identity"]["model"], "STICK (R:)");
    EXPECT_TRUE(file[0]["drives"][1]["partitionNumber"].is_null());
    EXPECT_EQ(file[0]["drives"][1]["outcome"], "completed");
    EXPECT_EQ(record::VerifyRecordFiles({ReportPath() + ".json"}).Broken, 0);
}

// Runs into one report name keep every record and certificate: the second without appending
// takes the next free names and chains to the first. A floppy's size, which its drive tells
// only while the disk is open, is in the record with what was read back.
TEST_F(BatchRunTest, EveryRunKeepsItsOwnRecordAndAFloppyIsRecordedWithItsSize) {
    json machine = Machine();
    machine["registry"]["HKEY_CURRENT_USER"][kOptionsKey]["RecordFile"] = "1";
    machine["registry"]["HKEY_CURRENT_USER"][kOptionsKey].erase("Certificate");
    Boot(machine);
    for (const char* number : {"", ".2"}) {
        const Outcome run =
            Batch({"--batch", "--method", "HMG IS5 (Baseline)", "/R" + ReportPath(), "a:"});
        ASSERT_EQ(run.status, 0) << run.err;
        ASSERT_FALSE(run.lines.empty());
        const std::string base = ReportPath() + number;
        EXPECT_NE(run.lines.back().find("record: " + base + ".json"), std::string::npos)
            << run.lines.back();
        EXPECT_NE(run.lines.back().find("certificate: " + base + ".pdf"), std::string::npos)
            << run.lines.back();
    }
    const json first = json::parse(ReadFile(ReportPath() + ".json"));
    const json second = json::parse(ReadFile(ReportPath() + ".2.json"));
    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0]["previousSha256"], first[0]["sha256"]);
    EXPECT_NE(ReadFile(ReportPath() + ".pdf"), ReadFile(ReportPath() + ".2.pdf"));
    const json& floppy = first[0]["drives"][0];
    EXPECT_EQ(floppy["name"], "A");
    EXPECT_EQ(floppy["size"], 1474560);
    EXPECT_EQ(floppy["blockCount"], 2880);
    EXPECT_EQ(floppy["verification"]["blocksRead"], 2880);
    EXPECT_EQ(record::VerifyRecordFiles({ReportPath() + ".2.json", ReportPath() + ".json"}).Broken,
              0);
}

// What an auditor asks besides the drives comes from the command line over the stored
// settings, --operator and --media without a DoD report too; a logo that is no picture is told
// and the certificate drawn without it.
TEST_F(BatchRunTest, TheAuditorsFieldsComeFromTheCommandLineOverTheStoredOnes) {
    json machine = Machine();
    auto& options = machine["registry"]["HKEY_CURRENT_USER"][kOptionsKey];
    options["RecordFile"] = "1";
    options.erase("Certificate");
    options["Organisation"] = "Stored Org";
    options["OperatorTitle"] = "Stored title";
    options["Confidentiality"] = "secret"; // not a category: not recorded
    Boot(machine);
    const std::string logo = (pc_->folder() / "logo.png").string();
    std::ofstream(logo) << "not a picture";
    const Outcome run =
        Batch({"--batch", "/M0", "/R" + ReportPath(), "--operator", "Jo Smith", "--media",
               "One stick", "--validator", "Ann Checker", "--validator-title", "Auditor",
               "--destination", "Reuse", "--backup", "unknown", "--logo", logo, "R"});
    ASSERT_EQ(run.status, 0) << run.err;
    const json record = json::parse(ReadFile(ReportPath() + ".json")).back();
    EXPECT_EQ(record["operator"],
              json({{"person", "Jo Smith"}, {"media", "One stick"}, {"title", "Stored title"}}));
    EXPECT_EQ(record["organisation"], json({{"name", "Stored Org"}}));
    EXPECT_EQ(record["validator"], json({{"name", "Ann Checker"}, {"title", "Auditor"}}));
    EXPECT_EQ(record["media"], json({{"backup", "unknown"}, {"destination", "reuse"}}));
    {
        EXPECT_TRUE(std::find(run.lines.begin(), run.lines.end(),
                              "warning: The logo " + logo +
                                  " cannot be shown on the certificate: not a PNG picture. The "
                                  "certificate is drawn without it.") != run.lines.end())
            << ::testing::PrintToString(run.lines);
        EXPECT_NE(run.lines.back().find("certificate: " + ReportPath() + ".pdf"), std::string::npos)
            << run.lines.back();
    }
}

TEST_F(BatchRunTest, JsonLinesTellTheSameEventsToPrograms) {
    Boot(Machine());
    const Outcome run =
        Batch({"--batch", "--json", "--method", "ZERO FILL", "/R" + ReportPath(), "R", "D"});

    EXPECT_EQ(run.status, 0) << run.err;
    std::vector<json> events;
    for (const std::string& line : run.lines)
        events.push_back(json::parse(line));
    ASSERT_EQ(events.size(), 6u) << run.err;
    EXPECT_EQ(events[0], json::parse(R"({"event":"run_start","method":"Zero fill",
                                         "drives":["R","D"]})"));
    EXPECT_EQ(events[1], json({{"event", "drive_start"},
                               {"drive", "R"},
                               {"description", "STICK (R:)"},
                               {"bytes", 524288}}));
    EXPECT_EQ(events[2], json::parse(R"({"event":"drive_end","drive":"R",
                                         "outcome":"completed","seconds":0.0})"));
    EXPECT_EQ(events[3]["event"], "drive_start");
    EXPECT_EQ(events[3]["drive"], "D");
    EXPECT_EQ(events[4]["outcome"], "completed");
    EXPECT_EQ(events[5], json({{"event", "run_end"},
                               {"outcome", "completed"},
                               {"exit_status", 0},
                               {"files", {{{"kind", "report"}, {"path", ReportPath()}}}}}));
    EXPECT_TRUE(All("disk.img", kPartD, kPartLength, 0x00));
    EXPECT_TRUE(All("stick.img", 0, kStickSize, 0x00));
}

// A block that cannot be written is asked about; no one is there, so it is given up (Ignore)
// and the run goes on. The question and its answer are told and reported, and the drive,
// which still holds that block's old data, has not been wiped.
TEST_F(BatchRunTest, AWriteFaultIsAnsweredUnattendedAndTheDriveCountsAsFailed) {
    auto machine = Machine();
    machine["drives"][1]["faults"] = json::parse(R"({"writeBlocks": [{"block": 10,
                                                     "times": -1}]})");
    Boot(machine);
    const Outcome run = Batch({"--batch", "/M0", "/R" + ReportPath(), "D", "R"});

    EXPECT_EQ(run.status, 1) << run.err;
    const std::string question = GetLngText("Purgelet", "Error_Write", "Error_Write");
    const std::vector<std::string> expected = {
        "run started: method \"Zero fill\", drives D R",
        "drive D started: DATA (D:), 1048576 bytes",
        "drive D question: " + question + " (DATA (D:)): answered Ignore",
        "drive D error: 1 block was not written (the write failed and was given up): old data "
        "may remain",
        "drive D ended: failed in 0:00:00",
        "drive R started: STICK (R:), 524288 bytes",
        "drive R ended: completed in 0:00:00",
        "run ended: failed, exit status 1; report: " + ReportPath(),
    };
    EXPECT_EQ(run.lines, expected);
    // Every other block of D: is wiped, block 10 keeps its old data; R: is wiped whole.
    EXPECT_TRUE(All("disk.img", kPartD, 10 * 512, 0x00));
    EXPECT_TRUE(All("disk.img", kPartD + 10 * 512, 512, 0xAA));
    EXPECT_TRUE(All("disk.img", kPartD + 11 * 512, kPartLength - 11 * 512, 0x00));
    EXPECT_TRUE(All("stick.img", 0, kStickSize, 0x00));

    const std::string report = ReadFile(ReportPath());
    EXPECT_NE(report.find(question + "\r\nDecision: Ignore\r\n"), std::string::npos) << report;
    EXPECT_NE(report.find(R("SANITIZEFAILEDAT")), std::string::npos) << report;
    EXPECT_EQ(report.find(R("SANITIZECOMPLETEDAT")), std::string::npos) << report;
}

// SIGTERM while the first of two drives is wiped: the run's abort, as the wipe page's Abort
// makes it. The drive is closed, the second is never opened, the report ends aborted.
TEST_F(BatchRunTest, ASignalAbortsTheRunCleanly) {
    auto machine = Machine();
    machine["physicalDisks"][0]["bytesPerSecond"] = 1 << 20; // D: takes a second
    Boot(machine);
    bool raised = false;
    const Outcome run = Batch({"--batch", "/M0", "/B5", "/R" + ReportPath(), "D", "R"},
                              [&](const std::string& line) {
                                  if (!raised && line.rfind("drive D started", 0) == 0) {
                                      raised = true;
                                      RequestStop(CTRL_BREAK_EVENT);
                                  }
                              });

    ASSERT_TRUE(raised);
    EXPECT_EQ(run.status, 2) << run.err;
    const std::vector<std::string> expected = {
        "run started: method \"Zero fill\", drives D R",
        "drive D started: DATA (D:), 1048576 bytes",
        "stop requested (stop): the run is aborted",
        "drive D warning: " + CatalogueText("ErrorXAbort"),
        "drive D ended: aborted in 0:00:00",
        "run ended: aborted, exit status 2; report: " + ReportPath(),
    };
    EXPECT_EQ(run.lines, expected);
    EXPECT_EQ(pc_->kernel().OpenDeviceHandles(), 0u);
    EXPECT_FALSE(All("disk.img", kPartD, kPartLength, 0x00)); // stopped midway
    EXPECT_TRUE(All("stick.img", 0, kStickSize, 0xAA));
    EXPECT_EQ(pc_->machine().CountCalls("\\\\.\\R:", "WriteFile"), 0);
    const std::string report = ReadFile(ReportPath());
    EXPECT_NE(report.find(R("SANITIZEABORTEDAT")), std::string::npos) << report;
}

// A disc blanked by its drive is let finish after one request to stop; asked a second time
// the run does not wait for it: the disc's wait ends at once, the report and the exit status
// say aborted, and the next drive is never opened.
TEST_F(BatchRunTest, ASecondRequestToStopEndsTheRunWithoutWaitingForTheDisc) {
    auto machine = Machine();
    machine["opticalDrives"] = {{{"letter", "E"},
                                 {"vendor", "SIMDISC"},
                                 {"product", "RW-5240"},
                                 {"displayName", "CD-RW Drive (E:)"},
                                 {"disc", {{"type", "CD-RW"}, {"state", "complete"}}},
                                 {"blank", {{"polls", 50}}}}};
    Boot(machine);
    bool raised = false;
    const auto stop = [] { std::thread([] { TStopRequests::Routine(CTRL_C_EVENT); }).join(); };
    const Outcome run =
        Batch({"--batch", "/M0", "/R" + ReportPath(), "E", "R"}, [&](const std::string& line) {
            if (!raised && line.rfind("drive E started", 0) == 0) {
                raised = true;
                stop();
                stop();
            }
        });

    ASSERT_TRUE(raised);
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_EQ(std::count(run.lines.begin(), run.lines.end(),
                         "stop requested (interrupt): the run is aborted"),
              2);
    EXPECT_NE(std::find(run.lines.begin(), run.lines.end(), "drive E ended: aborted in 0:00:00"),
              run.lines.end());
    EXPECT_TRUE(All("stick.img", 0, kStickSize, 0xAA));
    EXPECT_EQ(pc_->kernel().OpenDeviceHandles(), 0u);
    const std::string report = ReadFile(ReportPath());
    EXPECT_NE(report.find(R("SANITIZEABORTEDAT")), std::string::npos) << report;
}

// With user abort switched off (/U) a request to stop is told and refused, as the wizard
// keeps its Abort button disabled; the run ends as it would have.
TEST_F(BatchRunTest, WithUserAbortOffASignalIsRefused) {
    auto machine = Machine();
    machine["drives"][2]["bytesPerSecond"] = 1 << 20; // R: takes half a second
    Boot(machine);
    bool raised = false;
    const Outcome run = Batch({"--batch", "/M0", "/B5", "/U", "R"}, [&](const std::string& line) {
        if (!raised && line.rfind("drive R started", 0) == 0) {
            raised = true;
            RequestStop(CTRL_C_EVENT);
        }
    });
    EXPECT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(run.lines.size(), 5u);
    EXPECT_EQ(run.lines[2], "stop requested (interrupt): refused, user abort is switched off (/U)");
    EXPECT_EQ(run.lines[3], "drive R ended: completed in 0:00:00");
    EXPECT_TRUE(All("stick.img", 0, kStickSize, 0x00));
}

TEST_F(BatchRunTest, AllLettersAreTheDriveListsButTheRunningSystems) {
    Boot(Machine());
    const Outcome run = Batch({"--batch", "--all-letters", "/M0"});
    EXPECT_EQ(run.status, 0) << run.err;
    ASSERT_FALSE(run.lines.empty());
    // C: holds the simulated Windows (C:\WINDOWS); the network drive is not in the list.
    EXPECT_EQ(run.lines[0], "run started: method \"Zero fill\", drives D A R");
    EXPECT_TRUE(All("disk.img", kPartC, kPartLength, 0xAA));
    EXPECT_TRUE(All("disk.img", kPartD, kPartLength, 0x00));
    EXPECT_TRUE(All("stick.img", 0, kStickSize, 0x00));
    EXPECT_EQ(pc_->machine().CountCalls("\\\\.\\C:", "WriteFile"), 0);
}

TEST_F(BatchRunTest, AllLettersLeaveOutWhereverWindowsIs) {
    auto machine = Machine();
    machine["windowsDirectory"] = "r:\\winnt";
    machine["drives"].erase(3); // no floppy drive
    Boot(machine);
    const Outcome run = Batch({"--batch", "--all-letters", "/M0"});
    EXPECT_EQ(run.status, 0) << run.err;
    ASSERT_FALSE(run.lines.empty());
    // C: is offered now, unless the program itself runs from it (the machine file's folder
    // lies on C: where the tests run under Wine).
    const std::string exe = platform::k32().GetModuleFileNameA();
    const bool onC = exe.size() > 1 && exe[1] == ':' && (exe[0] == 'C' || exe[0] == 'c');
    EXPECT_EQ(run.lines[0],
              std::string("run started: method \"Zero fill\", drives ") + (onC ? "D" : "C D"));
    EXPECT_TRUE(All("stick.img", 0, kStickSize, 0xAA));
}

TEST_F(BatchRunTest, ADodReportNamesTheOperatorAndTheMediaAndAskingAfterEachDriveContinues) {
    Boot(Machine());
    const Outcome run = Batch({"--batch", "/M0", "/D", "/K", "/R" + ReportPath(), "R", "--operator",
                               "Jo Smith", "--media", "USB stick, serial 42"});
    EXPECT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(run.lines.size(), 5u);
    // The ask dialog after the drive, answered for no one at the keyboard.
    const std::string& asked = run.lines[3];
    EXPECT_EQ(asked.rfind("drive R question: " + CatalogueText("ASKDLGCAPTION") + " (", 0), 0u)
        << asked;
    const std::string answer = "): answered " + CatalogueText("txtContinue");
    EXPECT_EQ(asked.substr(asked.size() - answer.size()), answer) << asked;
    const std::string report = ReadFile(ReportPath());
    EXPECT_NE(report.find(R("PERSONRESPONSIBLE") + "\r\nJo Smith\r\n" + R("DESCRIPTIONOFMEDIA") +
                          "\r\nUSB stick, serial 42\r\n"),
              std::string::npos)
        << report;
    EXPECT_TRUE(All("stick.img", 0, kStickSize, 0x00));
}

TEST_F(BatchRunTest, WhatTheMachineCannotDoIsAUsageErrorAndNothingIsWritten) {
    Boot(Machine());
    const std::string firstMethod = "\n  /M0  Zero fill\n";
    struct Case {
        std::vector<std::string> arguments;
        std::string error; // the start of what is said
    };
    const Case cases[] = {
        {{"--batch", "/M0", "Z"},
         "purgelet: no drive Z: in the drive list (it has C D A R disk0 (\\\\.\\PhysicalDrive0, "
         "SIM DISK 0))\n"},
        {{"--batch", "/M0", "N"}, "purgelet: no drive N: in the drive list"},
        {{"--batch", "D"}, "purgelet: no method: give /M<n> or --method NAME; the methods are:"},
        {{"--batch", "/M99", "D"}, "purgelet: no method number 99; the methods are:"},
        {{"--batch", "--method", "Nope", "D"},
         "purgelet: unknown method \"Nope\"; the methods are:"},
        {{"--batch", "/M0", "/D", "D", "--operator", "Jo"},
         "purgelet: a DoD-style report names the person responsible and the media: give "
         "--operator NAME and --media TEXT\n"},
    };
    for (const Case& c : cases) {
        const Outcome run = Batch(c.arguments);
        EXPECT_EQ(run.status, 3) << c.error;
        EXPECT_EQ(run.err.rfind(c.error, 0), 0u) << run.err;
        // Said once, and the run's end told (records are off here).
        EXPECT_EQ(run.err.find("purgelet: ", 1), std::string::npos) << run.err;
        EXPECT_EQ(run.lines, std::vector<std::string>{"run ended: refused, exit status 3; no files "
                                                      "written"});
        const bool aboutMethods = c.error.find("the methods are") != std::string::npos;
        if (aboutMethods) {
            EXPECT_NE(run.err.find(firstMethod), std::string::npos) << run.err;
        }
    }
    EXPECT_TRUE(Untouched());
}

// A computer with nothing to wipe says why as the drive page does, then refuses the run.
TEST_F(BatchRunTest, AnEmptyDriveListIsExplainedBeforeTheRunIsRefused) {
    nlohmann::json machine = Machine();
    machine["drives"] = nlohmann::json::array();
    machine["physicalDisks"] = nlohmann::json::array();
    Boot(machine);
    for (const auto& [arguments, refusal] :
         {std::pair<std::vector<std::string>, std::string>{
              {"--batch", "/M0", "--all"}, "no drives to wipe: the drive list is empty"},
          {{"--batch", "/M0", "D"}, "no drive D: in the drive list (it is empty)"}}) {
        const Outcome run = Batch(arguments);
        EXPECT_EQ(run.status, 3);
        EXPECT_EQ(run.err, "purgelet: " + CatalogueText("NOTHINGTOWIPE") + "\n\n" +
                               CatalogueText("NODEVICEFOUND") + "\npurgelet: " + refusal + "\n");
        EXPECT_EQ(run.lines, std::vector<std::string>{"run ended: refused, exit status 3; no files "
                                                      "written"});
    }
}

} // namespace
} // namespace purgelet::testing
