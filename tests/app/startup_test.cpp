// Start-up, the command line and the end of the program, on a simulated PC.
#include "program_fixture.h"

#include "app/options.h"
#include "lang/catalogue.h"
#include "methods/method.h"

#include <fstream>

namespace purgelet::testing {
namespace {

using ui::TWizardButton;

std::string ActivePage(TFrmMain& main) {
    return main.JvWizard.ActivePage()->Name;
}

TEST_F(ProgramTest, AReportSwitchAndALetterOpenTheConfirmationWithDefaultsThatAreStoredAtExit) {
    Boot();
    // What an earlier run stored is discarded for a start with arguments.
    {
        TPLOptions stored;
        stored.UseIsaac = true;
        stored.OverwriteBuffer = 3;
        stored.FormatPartitions = false;
    }
    const std::string report = (pc_->folder() / "run.log").string();
    ASSERT_EQ(Start({"/R" + report, "c:"}), 0);
    EXPECT_EQ(ActivePage(Main()), "JvWIPConfirmation");
    const int c = RowOf("C");
    ASSERT_GE(c, 0);
    for (int i = 0; i < Main().lwDisksList.Count(); ++i)
        EXPECT_EQ(Main().lwDisksList.Items(i).Checked, i == c) << i;
    // The options page shows what this start uses.
    EXPECT_TRUE(Main().cbGenerateReport.Checked());
    EXPECT_EQ(Main().edtLogFileName.Text(), report);
    EXPECT_FALSE(Main().cbUseIsaac.Checked());
    EXPECT_EQ(Main().cbbBuffer.Text(), "512 KB");
    EXPECT_TRUE(Main().cbFormarPartitions.Checked());
    // The confirmation lists the drive and the report.
    const auto& lines = Main().mmOperations.Lines;
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[1],
              "  - " + static_cast<TDisk*>(Main().lwDisksList.Items(c).Data)->Description);
    EXPECT_EQ(lines.back(), "  Log File: " + report);

    host_.Press(TWizardButton::Cancel);
    Run();
    EXPECT_TRUE(Main().IsClosed());
    TPLOptions reloaded;
    EXPECT_TRUE(reloaded.GenerateReportFile);
    EXPECT_EQ(reloaded.LogFileName, report);
    EXPECT_FALSE(reloaded.UseIsaac);
    EXPECT_EQ(reloaded.OverwriteBuffer, 10);
    EXPECT_TRUE(reloaded.FormatPartitions);
    EXPECT_EQ(host_.unexpectedDialogs(), 0);
}

TEST_F(ProgramTest, ALetterWithoutADriveOpensTheDriveListWithNothingChecked) {
    Boot();
    ASSERT_EQ(Start({"Z"}), 0);
    EXPECT_EQ(ActivePage(Main()), "JvWIPDataSelection");
    ASSERT_GT(Main().lwDisksList.Count(), 0);
    for (int i = 0; i < Main().lwDisksList.Count(); ++i)
        EXPECT_FALSE(Main().lwDisksList.Items(i).Checked);
    EXPECT_FALSE(Main().JvWizard.NavButton(TWizardButton::Next).Enabled());
}

TEST_F(ProgramTest, AnUnknownSwitchIsToldWithAYesButtonAndTheStartGoesOn) {
    Boot();
    {
        TPLOptions stored;
        stored.UseIsaac = true;
    }
    ASSERT_EQ(Start({"/X"}), 0);
    ASSERT_EQ(host_.dialogs().size(), 1u);
    EXPECT_EQ(host_.dialogs()[0].text, "Invalid Parameter");
    EXPECT_EQ(host_.dialogs()[0].type, TMsgDlgType::mtInformation);
    EXPECT_EQ(host_.dialogs()[0].buttons, mbYesButton);
    EXPECT_EQ(ActivePage(Main()), "JvWIPWelcome");
    EXPECT_FALSE(Options->UseIsaac); // any argument resets the options
}

TEST_F(ProgramTest, SwitchValuesThatAreNotNumbersAreRefusedLikeMissingOnes) {
    Boot();
    ASSERT_EQ(Start({"/B3x", "/B", "/B11", "/M", "/M1.5", "/R", "/B3", "/M2"}), 0);
    int refused = 0;
    for (const auto& dialog : host_.dialogs()) {
        EXPECT_EQ(dialog.text, "Invalid Parameter");
        EXPECT_EQ(dialog.type, TMsgDlgType::mtError);
        EXPECT_EQ(dialog.buttons, mbOKButton);
        ++refused;
    }
    EXPECT_EQ(refused, 6);
    EXPECT_EQ(Options->OverwriteBuffer, 3);
    EXPECT_EQ(Main().cbbBuffer.Text(), "6 KB");
    EXPECT_FALSE(Options->GenerateReportFile);
    EXPECT_EQ(Main().cbxAlgorithm.ItemIndex(), 2);
    // The description follows the method chosen on the command line.
    EXPECT_NE(Main().lblMethodDescription.Caption.find(Methods[3]->Description[0]),
              std::string::npos);
}

TEST_F(ProgramTest, AMethodOutsideTheListLeavesNoWayPastTheConfirmation) {
    Boot();
    ASSERT_EQ(Start({"/M99", "C"}), 0);
    EXPECT_EQ(ActivePage(Main()), "JvWIPConfirmation");
    EXPECT_EQ(Main().cbxAlgorithm.ItemIndex(), -1);
    EXPECT_FALSE(Main().JvWizard.NavButton(TWizardButton::Next).Enabled());
    host_.Press(TWizardButton::Next);
    EXPECT_THROW(Run(), ui::ScriptError); // a user cannot press it
}

TEST_F(ProgramTest, ADamagedMethodFileEndsStartUpWithItsBox) {
    Boot();
    std::ofstream(AppFolder() / "Methods" / "broken.met", std::ios::binary)
        << "NAME=Broken\r\nMETHODNR=1\r\nHEXA=$ZZ\r\n";
    EXPECT_NE(Start(), 0);
    ASSERT_EQ(host_.dialogs().size(), 1u);
    EXPECT_EQ(host_.dialogs()[0].type, TMsgDlgType::mtError);
    EXPECT_NE(host_.dialogs()[0].text.find("broken.met"), std::string::npos);
    EXPECT_EQ(app_->FrmMain, nullptr);
}

TEST_F(ProgramTest, AMissingLanguageFileHaltsBeforeAnyWindowAndStoresNothing) {
    Boot();
    std::filesystem::remove(AppFolder() / "purgelet.exe.lng");
    EXPECT_NE(Start({"/I"}), 0);
    ASSERT_EQ(host_.dialogs().size(), 1u);
    EXPECT_EQ(host_.dialogs()[0].text, "Language File Missing. Program halted.");
    EXPECT_EQ(app_->FrmMain, nullptr);
    TSaveToReg registry;
    EXPECT_THROW(registry.ReadString("UseIsaac"), XRegistryException);
}

TEST_F(ProgramTest, StartUpStartsTheUpdaterAndLoadsTheTexts) {
    Boot();
    ASSERT_EQ(Start(), 0);
    const std::string folder =
        AppFolder().string() + static_cast<char>(std::filesystem::path::preferred_separator);
    bool started = false;
    for (const auto& call : pc_->machine().calls)
        if (call.name == "WinExec") {
            EXPECT_EQ(call.device, "\"" + folder + "Update.exe\" \"" + folder + "Update.ini\"");
            EXPECT_EQ(call.a, static_cast<DWORD>(SW_SHOW));
            started = true;
        }
    EXPECT_TRUE(started);
    EXPECT_EQ(app_->HelpFile, folder + "purgelet.hlp");
    EXPECT_EQ(Main().Caption, CatalogueText("MAINFORMCAPTION"));
    // Control texts reach their controls, also where the key names another component.
    EXPECT_EQ(Main().cbAllowUserAbort.Caption, *FindControlText("cbAllowUserAbort", "Caption"));
    EXPECT_EQ(Main().JvWIPOptions.Subtitle, *FindControlText("JvWIPOptions", "Subtitle.Text"));
    EXPECT_EQ(Main().lwDisksList.Columns[1].Caption,
              *FindControlText("lwDisksList", "Columns_1.Caption"));
    EXPECT_EQ(Main().JvWizard.NavButton(TWizardButton::Next).Caption,
              *FindControlText("JvWizard", "ButtonNext.Caption"));
    EXPECT_EQ(Main().mmTopText.Lines.size(), 1u);
}

TEST_F(ProgramTest, TheWindowRefusesToCloseOnItsOwnAndCancelEndsTheProgram) {
    Boot();
    ASSERT_EQ(Start(), 0);
    Main().Close(); // Alt+F4, the system menu, the task bar
    EXPECT_FALSE(Main().IsClosed());
    host_.Press(TWizardButton::Next).Then([this] { Main().cbUseIsaac.SetChecked(true); });
    host_.Press(TWizardButton::Cancel);
    Run();
    EXPECT_TRUE(Main().IsClosed());
    TPLOptions reloaded;
    EXPECT_TRUE(reloaded.UseIsaac);
}

TEST_F(ProgramTest, TheWelcomePagesBackEndsTheProgram) {
    Boot();
    ASSERT_EQ(Start(), 0);
    host_.Press(TWizardButton::Back);
    Run();
    EXPECT_TRUE(Main().IsClosed());
}

TEST_F(ProgramTest, HelpOpensThePagesTopicOrSaysThatNoViewerIsThere) {
    auto machine = ProgramMachine();
    Boot(machine);
    ASSERT_EQ(Start(), 0);
    host_.Press(TWizardButton::Next).Press(TWizardButton::Help).ChooseMenuItem("Help1");
    Run();
    // This machine has no help viewer: the user is told, nothing fails.
    ASSERT_EQ(host_.dialogs().size(), 1u);
    EXPECT_NE(host_.dialogs()[0].text.find(app_->HelpFile), std::string::npos);
    bool asked = false;
    for (const auto& call : pc_->machine().calls)
        if (call.name == "WinHelpA") {
            EXPECT_EQ(call.device, app_->HelpFile);
            EXPECT_EQ(call.b, 2400u); // the drive page's context
            asked = true;
        }
    EXPECT_TRUE(asked);
    // "Check for Updates" is hidden.
    EXPECT_FALSE(Main().PopupHelp.FindItem("CheckforUpdates1")->Visible);
}

TEST_F(ProgramTest, HelpContentsAndTheWebShortcutGoThroughTheShell) {
    auto machine = ProgramMachine();
    machine["helpViewer"] = true;
    Boot(machine);
    ASSERT_EQ(Start(), 0);
    host_.Press(TWizardButton::Help).ChooseMenuItem("HelpContents1");
    host_.Press(TWizardButton::Help).ChooseMenuItem("PurgeletontheWeb1");
    Run();
    EXPECT_TRUE(host_.dialogs().empty());
    std::vector<std::string> opened;
    for (const auto& call : pc_->machine().calls)
        if (call.name == "ShellExecuteA")
            opened.push_back(call.device + " " + std::to_string(call.a));
    const std::string folder =
        AppFolder().string() + static_cast<char>(std::filesystem::path::preferred_separator);
    EXPECT_EQ(opened, (std::vector<std::string>{"open " + folder + "purgelet.hlp 0",
                                                "open " + folder + "OnTheWeb.url 1"}));
}

} // namespace
} // namespace purgelet::testing
