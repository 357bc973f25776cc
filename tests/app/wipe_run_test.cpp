// Wipe runs through the whole program: the wizard driven by a scripted user on a simulated
// PC, the images checked byte for byte and the report compared whole.
#include "program_fixture.h"

#include "app/disk_view.h"
#include "lang/catalogue.h"
#include "lang/language.h"
#include "report/report.h"

#include <regex>
#include <set>

namespace purgelet::testing {
namespace {

using ui::TWizardButton;

const std::string kTime = "2026-01-01 11:00:00 UTC";

std::string R(const char* key) {
    return CatalogueText(key, "report");
}
std::string P(const char* key) {
    return CatalogueText(key);
}

class WipeRunTest : public ProgramTest {
protected:
    std::string ReportPath() const { return (pc_->folder() / "wipe.log").string(); }
    // Turns the report on with its path (on the options page).
    void ScriptReport(bool dod = false) {
        host_.Toggle("cbGenerateReport").Type("edtLogFileName", ReportPath());
        if (dod)
            host_.Toggle("cbUseDodReport");
    }
    // Method and options pages, the format switched off, then the run.
    // A buffer index of 5 (16 KB) gives a 1 MiB partition 64 transfers to act between.
    // The program machine whose C: refuses every write of its block 10.
    void BootWithCFailingToWrite() {
        auto machine = ProgramMachine();
        machine["drives"][0]["faults"] =
            nlohmann::json::parse(R"({"writeBlocks": [{"block": 10, "times": -1}]})");
        Boot(machine);
    }
    void ScriptOptionsAndRun(bool report, bool dod = false, int buffer = 10) {
        ScriptRunWithoutFormat([&] {
            if (buffer != 10)
                host_.Choose("cbbBuffer", buffer);
            if (report)
                ScriptReport(dod);
        });
    }
    TDisk& Disk(const std::string& name) {
        return *static_cast<TDisk*>(Main().lwDisksList.Items(RowOf(name)).Data);
    }
    std::string Head() {
        std::string text = R("REPORT00") + "\r\n" + R("PERFORMEDON") + "  " + kTime +
                           "\r\n\r\n\r\n" + "WIPE ALGORITHM: \r\nZero fill\r\n\r\nWIPE OPTIONS\r\n";
        auto line = [&](const ui::TCheckBox& box) {
            text += box.Caption + ": " + (box.Checked() ? "ENABLED" : "DISABLED") + "\r\n";
        };
        line(Main().cbAllowUserAbort);
        line(Main().cbWipeWithoutIntervention);
        line(Main().cbUseIsaac);
        line(Main().cbNoBuffering);
        text += Main().lblOverwriteBuffer.Caption + ": " + Main().cbbBuffer.Text() + "\r\n";
        line(Main().cbQuickErase);
        line(Main().cbFormarPartitions);
        line(Main().cbAskDlg);
        return text + "\r\n";
    }
    std::string DiskHead(const std::string& name) {
        TDisk& disk = Disk(name);
        return R("STARS") + "\r\n" + disk.Description + "\r\n" + R("TOTALNUMBEROFSECTORS") +
               std::to_string(disk.BlockCount) + "\r\n" + R("SANITIZINGSTARTEDAT") + kTime +
               "\r\n" + R("LINES") + "\r\n\r\n";
    }
    std::string End(const char* key) { return R(key) + kTime + "\r\n" + R("STARS") + "\r\n"; }
};

TEST_F(WipeRunTest, AFailingFirstDriveIsToldOnceAndTheOthersAreWipedWholly) {
    BootWithCFailingToWrite();
    ASSERT_EQ(Start(), 0);
    ScriptTick({"C", "D", "R"});
    ScriptOptionsAndRun(true);
    host_.Answer(mrAbort); // the write question: give up on C:
    host_.Answer(mrOk);    // the error box
    Run();

    EXPECT_EQ(Main().JvWizard.ActivePage(), &Main().JvWIPFinished);
    EXPECT_EQ(DialogTexts(),
              (std::vector<std::string>{GetLngText("Purgelet", "Error_Write", "Error_Write") +
                                            "\r\n" + Disk("C").Description,
                                        P("ErrorXDiskIO")}))
        << "no \"Wipe Completed.\" box";
    EXPECT_EQ(host_.dialogs()[1].type, TMsgDlgType::mtError);
    EXPECT_EQ(Main().lblTheSelected.Caption, CatalogueText("lblTheSelected.Caption-Error"));
    EXPECT_TRUE(All("disk.img", kPartD, kPartLength, 0x00));
    EXPECT_TRUE(All("stick.img", 0, kStickSize, 0x00));
    EXPECT_TRUE(All("disk.img", 0, kPartC, 0xAA)); // the partition table stays
    EXPECT_TRUE(All("disk.img", kPartC + kPartLength, kPartD - kPartC - kPartLength, 0xAA));
    EXPECT_TRUE(All("floppy.img", 0, 1474560, 0xAA));

    const std::string expected = Head() + DiskHead("C") +
                                 GetLngText("Purgelet", "Error_Write", "Error_Write") + "\r\n" +
                                 "Decision: Abort\r\n" + P("ErrorXDiskIO") + "\r\n" +
                                 DiskHead("D") + DiskHead("R") + End("SANITIZEFAILEDAT");
    EXPECT_EQ(ReadFile(ReportPath()), expected);
}

// A drive whose dismount fails is a failed wipe whose report and box say why (the system's
// reason, as the back-end words it), and the run goes on with the next drive.
TEST_F(WipeRunTest, AFailedDismountIsToldWithItsReason) {
    auto machine = ProgramMachine();
    machine["drives"][0]["inUse"] = true;
    machine["drives"][0]["faults"] =
        nlohmann::json::parse(R"({"dismount": {"times": -1, "error": 170}})"); // ERROR_BUSY
    Boot(machine);
    ASSERT_EQ(Start(), 0);
    ScriptTick({"C", "D"});
    ScriptOptionsAndRun(true);
    host_.Answer(mrYes); // force the dismount
    host_.Answer(mrOk);  // the error box
    Run();

    const std::string reason = pc_->kernel().SysErrorMessage(ERROR_BUSY);
    ASSERT_FALSE(reason.empty());
    ASSERT_EQ(host_.dialogs().size(), 2u);
    EXPECT_EQ(host_.dialogs()[1].text, P("ErrorXDisMount") + "\r\n\r\n" + reason);
    EXPECT_TRUE(All("disk.img", kPartC, kPartLength, 0xAA)); // C: untouched
    EXPECT_TRUE(All("disk.img", kPartD, kPartLength, 0x00));
    const std::string report = ReadFile(ReportPath());
    EXPECT_NE(report.find(P("ErrorXDisMount") + "\r\n" + reason + "\r\n"), std::string::npos)
        << report;
    EXPECT_NE(report.find(End("SANITIZEFAILEDAT")), std::string::npos) << report;
}

// A drive that cannot be opened is a failure like any other: said with its message, written
// under that drive, and the other drives are wiped.
TEST_F(WipeRunTest, ADriveThatCannotBeOpenedIsToldAndTheOthersAreWiped) {
    Boot();
    ASSERT_EQ(Start(), 0);
    ScriptTick({"C", "D", "R"});
    host_.Then([this] { // detected and ticked; now it will not open
        pc_->drive('C').faults.open = platform::sim::Fault::Always(ERROR_ACCESS_DENIED);
    });
    ScriptOptionsAndRun(true);
    host_.Answer(mrOk); // the error box
    Run();

    ASSERT_EQ(host_.dialogs().size(), 1u);
    const std::string told = host_.dialogs()[0].text;
    EXPECT_EQ(told.rfind(P("ErrorUnexpected") + "\r\n", 0), 0u) << told;
    EXPECT_NE(told.find("CreateFile"), std::string::npos) << told;
    EXPECT_EQ(Main().JvWizard.ActivePage(), &Main().JvWIPFinished);
    EXPECT_TRUE(All("disk.img", kPartC, kPartLength, 0xAA));
    EXPECT_TRUE(All("disk.img", kPartD, kPartLength, 0x00));
    EXPECT_TRUE(All("stick.img", 0, kStickSize, 0x00));
    EXPECT_EQ(ReadFile(ReportPath()), Head() + DiskHead("C") + told + "\r\n" + DiskHead("D") +
                                          DiskHead("R") + End("SANITIZEFAILEDAT"));
}

// The run lends its generators to each drive's wipe; the drives stay in the list after the
// run, and none may keep pointing at generators that are gone, whether its wipe failed or not.
TEST_F(WipeRunTest, NoDriveKeepsTheRunsGeneratorsAfterTheRun) {
    Boot();
    ASSERT_EQ(Start(), 0);
    ScriptTick({"C", "D", "R"});
    host_.Then([this] {
        pc_->drive('C').faults.open = platform::sim::Fault::Always(ERROR_ACCESS_DENIED);
    });
    ScriptOptionsAndRun(false);
    host_.Answer(mrOk); // the error box
    Run();

    EXPECT_TRUE(All("disk.img", kPartD, kPartLength, 0x00));
}

TEST_F(WipeRunTest, AnAbortDuringTheSecondDriveLeavesTheThirdUntouched) {
    Boot();
    ASSERT_EQ(Start(), 0);
    ScriptTick({"C", "D", "R"});
    ScriptRunWithoutFormat([this] {
        host_.Choose("cbbBuffer", 5);
        ScriptReport();
        host_.Toggle("cbWipeInParallel"); // one drive after the other: R: is still to come
    });
    // While D: is being wiped the user presses Abort and confirms.
    bool pressed = false;
    host_.When(
        [&] {
            return !pressed && Main().DiskManager().ReportDisk != nullptr &&
                   Main().DiskManager().ReportDisk->Name == "D" &&
                   Main().DiskManager().Progress > 0.2;
        },
        [&] {
            pressed = true;
            ASSERT_TRUE(Main().btnAbort.UserClick());
        });
    host_.Answer(mrYes).Answer(mrOk);
    Run();

    EXPECT_TRUE(pressed);
    EXPECT_EQ(DialogTexts(), (std::vector<std::string>{P("ABORT_CONFIRM"), P("ErrorXAbort")}));
    EXPECT_EQ(host_.dialogs()[1].type, TMsgDlgType::mtWarning);
    EXPECT_TRUE(All("disk.img", kPartC, kPartLength, 0x00));
    EXPECT_FALSE(All("disk.img", kPartD, kPartLength, 0x00));
    EXPECT_TRUE(All("stick.img", 0, kStickSize, 0xAA));
    EXPECT_EQ(Main().lblTheSelected.Caption, CatalogueText("lblTheSelected.Caption-Error"));
    EXPECT_EQ(pc_->kernel().OpenDeviceHandles(), 0u);
    EXPECT_EQ(ReadFile(ReportPath()), Head() + DiskHead("C") + DiskHead("D") + P("ErrorXAbort") +
                                          "\r\n" + End("SANITIZEABORTEDAT"));
}

TEST_F(WipeRunTest, CancellingTheResponsiblePersonTouchesNoDrive) {
    Boot();
    ASSERT_EQ(Start(), 0);
    ScriptTick({"C"});
    ScriptOptionsAndRun(true, true);
    host_.AnswerInput(std::nullopt);
    host_.Answer(mrOk);
    Run();

    EXPECT_EQ(DialogTexts(), (std::vector<std::string>{P("ErrorXAbort")}));
    EXPECT_TRUE(All("disk.img", 0, 8 << 20, 0xAA));
    EXPECT_EQ(Main().JvWizard.ActivePage(), &Main().JvWIPFinished);
    EXPECT_EQ(Main().lblTheSelected.Caption, CatalogueText("lblTheSelected.Caption-Error"));
    const std::string report = ReadFile(ReportPath());
    EXPECT_EQ(report, R("REPORT00") + "\r\n" + R("PERFORMEDON") + "  " + kTime + "\r\n\r\n" +
                          End("SANITIZEABORTEDAT"));
}

TEST_F(WipeRunTest, PauseWaitsInsideTheDriveAndResumeFinishesIt) {
    Boot();
    ASSERT_EQ(Start(), 0);
    ScriptTick({"D"});
    ScriptOptionsAndRun(false, false, 5);
    int pausedChecks = 0;
    host_.When([&] { return Main().DiskManager().Progress > 0.3; },
               [&] {
                   ASSERT_TRUE(Main().btnPause.UserClick());
                   EXPECT_EQ(Main().btnPause.Caption, P("RESUME"));
                   EXPECT_FALSE(Main().btnAbort.Enabled());
               });
    host_.When([&] { return Main().DiskManager().Paused && ++pausedChecks == 5; },
               [&] {
                   EXPECT_FALSE(All("disk.img", kPartD, kPartLength, 0x00)); // still waiting
                   ASSERT_TRUE(Main().btnPause.UserClick());
                   EXPECT_EQ(Main().btnPause.Caption, P("PAUSE"));
                   EXPECT_TRUE(Main().btnAbort.Enabled());
               });
    host_.Answer(mrOk);
    Run();
    EXPECT_EQ(pausedChecks, 5);
    EXPECT_GE(host_.sleptMilliseconds(), 400u);
    EXPECT_EQ(DialogTexts(), (std::vector<std::string>{P("WIPECOMPLETED")}));
    EXPECT_TRUE(All("disk.img", kPartD, kPartLength, 0x00));
    EXPECT_EQ(Main().lblTheSelected.Caption, CatalogueText("lblTheSelected.Caption"));
    EXPECT_EQ(Main().gGlobal.Progress(), 100);
}

TEST_F(WipeRunTest, TheChosenBufferSizeIsWhatReachesTheDisk) {
    // 6 KiB does not divide the stick: the last transfer is the 2 KiB that remain.
    for (auto [index, sizes] :
         {std::pair{10, std::set<DWORD>{524288u}}, std::pair{3, std::set<DWORD>{2048u, 6144u}}}) {
        SCOPED_TRACE(index);
        Boot();
        ASSERT_EQ(Start(), 0);
        ScriptTick({"R"});
        ScriptRunWithoutFormat([this, i = index] { host_.Choose("cbbBuffer", i); });
        host_.Answer(mrOk);
        Run();
        std::set<DWORD> written;
        for (const auto& call : pc_->machine().calls)
            if (call.name == "WriteFile")
                written.insert(call.a);
        EXPECT_EQ(written, sizes);
        EXPECT_TRUE(All("stick.img", 0, kStickSize, 0x00));
        app_.reset();
        pc_.reset();
        host_ = ui::ScriptedHost();
    }
}

TEST_F(WipeRunTest, NoCheckedDriveGoesStraightToTheFinishedPageWithoutABox) {
    Boot();
    ASSERT_EQ(Start(), 0);
    // Ticked, then unticked: Next is off, so the run is reached through the command line.
    Run();
    Main().JvWizard.SetActivePage(Main().JvWIPWipe);
    Run();
    EXPECT_TRUE(host_.dialogs().empty());
    EXPECT_EQ(Main().JvWizard.ActivePage(), &Main().JvWIPFinished);
    EXPECT_EQ(Main().lblTheSelected.Caption, CatalogueText("lblTheSelected.Caption-Error"));
}

TEST_F(WipeRunTest, NegativeProgressHidesTheDriveGaugeAndCountsItHalfDone) {
    Boot();
    ASSERT_EQ(Start(), 0);
    TFrmMain& main = Main();
    // Two drives of one size, the first done; the second's progress as the engine says it.
    const auto refresh = [&main](double progress) {
        main.DiskManager().Progress = progress;
        main.ShowRunFigures({{TDriveState::dsDone, 1.0, 0, 0, kPartLength, kPartLength},
                             {TDriveState::dsWiping, progress, 0, 0, kPartLength, kPartLength}},
                            0);
    };
    refresh(-1);
    EXPECT_FALSE(main.gPartial.Visible());
    EXPECT_EQ(main.gPartial.Progress(), 50);
    EXPECT_EQ(main.gGlobal.Progress(), 75);
    refresh(0.125); // 12.5 rounds to 12, halves to even
    EXPECT_TRUE(main.gPartial.Visible());
    EXPECT_EQ(main.gPartial.Progress(), 12);
    EXPECT_EQ(main.gGlobal.Progress(), 56);
    refresh(0.995);
    EXPECT_EQ(main.gGlobal.Progress(), 100);
    EXPECT_EQ(main.gPartial.Progress(), 100);
}

TEST_F(WipeRunTest, TheAskDialogShowsTheDiskThenGoesOn) {
    Boot();
    ASSERT_EQ(Start(), 0);
    ScriptTick({"R", "D"});
    ScriptRunWithoutFormat([this] { host_.Toggle("cbAskDlg").Toggle("cbWipeInParallel"); });
    // After D: (the first in list order): View Disk, close the viewer, Continue; after R:
    // Abort, which ends nothing more: it was the last drive.
    host_.Click("btnViewDisk").Then([this] { Main().App().FrmDiskview->Close(); });
    host_.Click("btnContinue");
    host_.Click("btnAbort");
    host_.Answer(mrOk);
    Run();
    EXPECT_EQ(host_.modalForms(),
              (std::vector<std::string>{"AskDlg", "FrmDiskview", "AskDlg", "AskDlg"}));
    EXPECT_TRUE(All("disk.img", kPartD, kPartLength, 0x00));
    EXPECT_TRUE(All("stick.img", 0, kStickSize, 0x00));
    EXPECT_EQ(pc_->kernel().OpenDeviceHandles(), 0u);
    EXPECT_EQ(DialogTexts(), (std::vector<std::string>{P("WIPECOMPLETED")}));
    // The abort answered after the last drive does not end the next run.
    EXPECT_TRUE(Main().DiskManager().PendingAbort.has_value());
}

TEST_F(WipeRunTest, AnAbortAnsweredInTheAskDialogStopsBeforeTheNextDriveIsOpened) {
    Boot();
    ASSERT_EQ(Start(), 0);
    ScriptTick({"D", "R"});
    ScriptRunWithoutFormat([this] { host_.Toggle("cbAskDlg").Toggle("cbWipeInParallel"); });
    host_.Click("btnAbort");
    host_.Answer(mrOk);
    Run();
    EXPECT_TRUE(All("disk.img", kPartD, kPartLength, 0x00));
    EXPECT_TRUE(All("stick.img", 0, kStickSize, 0xAA));
    EXPECT_EQ(pc_->machine().CountCalls("\\\\.\\R:", "WriteFile"), 0);
    EXPECT_EQ(DialogTexts(), (std::vector<std::string>{P("ErrorXAbort")}));
}

} // namespace
} // namespace purgelet::testing

namespace purgelet::testing {
namespace {

TEST_F(WipeRunTest, CancelPressedWhileAnAbortedRunEndsClosesOnlyAfterTheRun) {
    Boot();
    ASSERT_EQ(Start(), 0);
    ScriptTick({"D"});
    ScriptOptionsAndRun(false, false, 5);
    bool pressed = false;
    host_.When([&] { return !pressed && Main().DiskManager().Progress > 0.2; },
               [&] {
                   pressed = true;
                   ASSERT_TRUE(Main().btnAbort.UserClick());
                   // The disk is still open under the engine: neither button may free it.
                   ASSERT_TRUE(Main().JvWizard.NavButton(TWizardButton::Next).UserClick());
                   EXPECT_EQ(Main().JvWizard.ActivePage(), &Main().JvWIPWipe);
                   ASSERT_TRUE(Main().JvWizard.NavButton(TWizardButton::Cancel).UserClick());
                   EXPECT_FALSE(Main().IsClosed());
               });
    host_.Answer(mrYes).Answer(mrOk);
    Run();
    EXPECT_TRUE(pressed);
    EXPECT_TRUE(Main().IsClosed());
    EXPECT_EQ(Options, nullptr); // saved and released after the run
    EXPECT_EQ(pc_->kernel().OpenDeviceHandles(), 0u);
}

} // namespace
} // namespace purgelet::testing

namespace purgelet::testing {
namespace {

// The state cells of a list's row as they changed, each value once in a row.
void Follow(std::vector<std::string>& seen, const std::string& now) {
    if (seen.empty() || seen.back() != now)
        seen.push_back(now);
}

// Two paced drives on a real clock with a method that reads back what it wrote: each drive
// is a row that goes from waiting through its pass and read-back to done, with a speed, the
// time taken and the time left; the run's bytes are both drives' transfers, so the first drive
// done is two thirds of the run; the finished page lists both with their time and speed.
TEST_F(WipeRunTest, EveryDriveIsARowWithItsPassStateAndFiguresAndTheFinishedPageListsThem) {
    auto machine = ProgramMachine();
    machine["clock"] = "real";
    machine["physicalDisks"][0]["bytesPerSecond"] = 4 << 20; // D: a quarter second each way
    machine["drives"][2]["bytesPerSecond"] = 4 << 20;
    Boot(machine);
    ASSERT_EQ(Start(), 0);
    ScriptTick({"D", "R"});
    host_.Press(TWizardButton::Next).Then([this] {
        auto& methods = Main().cbxAlgorithm;
        for (int i = 0; i < methods.Count(); ++i)
            if (methods.Items(i).Text == "NIST SP 800-88 Clear") {
                ASSERT_TRUE(methods.UserSelect(i));
            }
        ASSERT_EQ(methods.Text(), "NIST SP 800-88 Clear");
    });
    // One drive after the other: the first done is two thirds of the run as the second starts.
    host_.Press(TWizardButton::Next)
        .Toggle("cbFormarPartitions")
        .Toggle("cbWipeInParallel")
        .Choose("cbbBuffer", 5);
    host_.Press(TWizardButton::Next).Press(TWizardButton::Next);

    std::vector<std::string> statesD;
    std::vector<std::string> statesR;
    std::vector<std::string> speeds;
    bool timeLeftShown = false;
    bool runLeftShown = false;
    int globalAsRStarts = -1;
    host_.OnEveryProcessMessages([&] {
        TFrmMain& main = Main();
        if (main.JvWizard.ActivePage() != &main.JvWIPWipe || main.lvRunDrives.Count() != 2)
            return;
        const ui::TListItem& d = main.lvRunDrives.Items(0);
        const ui::TListItem& r = main.lvRunDrives.Items(1);
        ASSERT_EQ(d.Caption, Disk("D").Description);
        ASSERT_EQ(r.Caption, Disk("R").Description);
        ASSERT_FALSE(d.SubItems.empty());
        ASSERT_FALSE(r.SubItems.empty());
        Follow(statesD, d.SubItems[0]);
        Follow(statesR, r.SubItems[0]);
        if (d.SubItems.size() == 4 && d.SubItems[0] == "Pass 1 of 1") {
            if (!d.SubItems[1].empty())
                speeds.push_back(d.SubItems[1]);
            EXPECT_TRUE(std::regex_match(d.SubItems[2], std::regex(R"(0:00:0\d)")))
                << d.SubItems[2];
            timeLeftShown = timeLeftShown || !d.SubItems[3].empty();
        }
        if (!main.lblRunFigures.Caption.empty()) {
            EXPECT_NE(main.lblRunFigures.Caption.find(" of 3.00 MB"), std::string::npos)
                << main.lblRunFigures.Caption;
        }
        runLeftShown =
            runLeftShown || main.lblRunFigures.Caption.find(" left") != std::string::npos;
        if (globalAsRStarts < 0 && main.DiskManager().ReportDisk == &Disk("R") &&
            r.SubItems[0] == "Pass 1 of 1" && main.DiskManager().Progress < 0.05)
            globalAsRStarts = main.gGlobal.Progress();
    });
    host_.Answer(mrOk);
    Run();

    ASSERT_EQ(DialogTexts(), (std::vector<std::string>{P("WIPECOMPLETED")}));
    const auto withoutBareWiping = [](std::vector<std::string> states) {
        std::erase(states, "wiping"); // the moment before the engine names its pass
        return states;
    };
    EXPECT_EQ(withoutBareWiping(statesD),
              (std::vector<std::string>{"waiting", "Pass 1 of 1", "verifying", "done"}));
    // The last drive's end shows after the run (below).
    std::vector<std::string> seenR = withoutBareWiping(statesR);
    if (!seenR.empty() && seenR.back() == "done")
        seenR.pop_back();
    EXPECT_EQ(seenR, (std::vector<std::string>{"waiting", "Pass 1 of 1", "verifying"}));
    ASSERT_FALSE(speeds.empty());
    double last = 0;
    for (const std::string& speed : speeds) {
        std::smatch number;
        ASSERT_TRUE(std::regex_match(speed, number, std::regex(R"((\d+\.\d) MB/s)"))) << speed;
        last = std::stod(number[1]);
        EXPECT_GT(last, 0.0) << speed;
    }
    // Over the drive's last few hundred milliseconds: about its pace of 4.19 MB/s (millions
    // of bytes). A coarse tick count (Wine's) makes the window's ends a little off; a transfer
    // counted twice would show twice the pace.
    EXPECT_LE(last, 4.19 * 1.4);
    EXPECT_TRUE(timeLeftShown);
    EXPECT_TRUE(runLeftShown);
    // D: moved 2 MiB of the run's 3 MiB: by the count of drives it would be a half.
    EXPECT_GE(globalAsRStarts, 67);
    EXPECT_LE(globalAsRStarts, 69);

    TFrmMain& main = Main();
    EXPECT_EQ(main.lvRunDrives.Items(1).SubItems[0], "done");
    EXPECT_EQ(main.gGlobal.Progress(), 100);
    ASSERT_EQ(main.lvFinishedDrives.Count(), 2);
    for (int i = 0; i < 2; ++i) {
        const ui::TListItem& row = main.lvFinishedDrives.Items(i);
        EXPECT_EQ(row.Caption, Disk(i == 0 ? "D" : "R").Description);
        ASSERT_EQ(row.SubItems.size(), 3u);
        EXPECT_EQ(row.SubItems[0], "done");
        EXPECT_TRUE(std::regex_match(row.SubItems[1], std::regex(R"(0:00:0\d)")))
            << row.SubItems[1];
        EXPECT_TRUE(std::regex_match(row.SubItems[2], std::regex(R"(\d+\.\d MB/s)")))
            << row.SubItems[2];
    }
}

// A drive whose blocks were passed over is no erasure on the finished page, though its
// passes ran to their end; a drive aborted says so, and a drive the abort kept from starting
// has no time and no speed. The simulated clock stands still: no time passes, no speed shows.
TEST_F(WipeRunTest, TheFinishedPageSaysEachDrivesOutcomeAsTheRecordDoes) {
    BootWithCFailingToWrite();
    ASSERT_EQ(Start(), 0);
    ScriptTick({"C", "D", "R"});
    // One drive after the other, so that the abort keeps R: from starting.
    ScriptRunWithoutFormat([this] { host_.Choose("cbbBuffer", 5).Toggle("cbWipeInParallel"); });
    host_.Answer(mrIgnore); // C: pass the block over
    std::vector<std::string> statesC;
    host_.OnEveryProcessMessages([&] {
        if (Main().lvRunDrives.Count() == 3 && !Main().lvRunDrives.Items(0).SubItems.empty())
            Follow(statesC, Main().lvRunDrives.Items(0).SubItems[0]);
    });
    bool pressed = false;
    host_.When(
        [&] {
            return !pressed && Main().DiskManager().ReportDisk == &Disk("D") &&
                   Main().DiskManager().Progress > 0.2;
        },
        [&] {
            pressed = true;
            EXPECT_EQ(Main().lvRunDrives.Items(1).SubItems,
                      (std::vector<std::string>{"Pass 1 of 1", "", "0:00:00", ""}))
                << "no time passed: no speed and no time left";
            EXPECT_EQ(Main().lvRunDrives.Items(2).SubItems,
                      (std::vector<std::string>{"waiting", "", "", ""}));
            ASSERT_TRUE(Main().btnAbort.UserClick());
        });
    host_.Answer(mrYes).Answer(mrOk);
    Run();

    ASSERT_TRUE(pressed);
    EXPECT_EQ(statesC.back(), "failed"); // its passes ended, but a block kept its data
    const auto& list = Main().lvFinishedDrives;
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Items(0).SubItems, (std::vector<std::string>{"failed", "0:00:00", ""}));
    EXPECT_EQ(list.Items(1).SubItems, (std::vector<std::string>{"aborted", "0:00:00", ""}));
    EXPECT_EQ(list.Items(2).SubItems, (std::vector<std::string>{"aborted"}));
    EXPECT_EQ(Main().lvRunDrives.Items(2).SubItems[0], "aborted");
}

} // namespace
} // namespace purgelet::testing
