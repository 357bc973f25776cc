// The wizard's pages: the drive list and its details, the method description, the options
// page bound to the options, and the confirmation text.
#include "program_fixture.h"

#include "lang/catalogue.h"
#include "methods/method.h"

#include <algorithm>

namespace purgelet::testing {
namespace {

using ui::TListItemStyle;
using ui::TWizardButton;

TEST(FormatSize, WritesBytesAndTwoDecimalsInASixCharacterField) {
    EXPECT_EQ(FormatSize(0), "0");
    EXPECT_EQ(FormatSize(-5), "0");
    EXPECT_EQ(FormatSize(512), "512 byte(s)");
    EXPECT_EQ(FormatSize(1023), "1023 byte(s)");
    EXPECT_EQ(FormatSize(1536), "  1.50 KB");
    EXPECT_EQ(FormatSize(1048576), "  1.00 MB");
    EXPECT_EQ(FormatSize(1048575), "1024.00 KB");
    EXPECT_EQ(FormatSize(std::int64_t{3} << 40), "3072.00 GB");
}

class WizardPagesTest : public ProgramTest {
protected:
    std::vector<std::string> Captions() {
        std::vector<std::string> rows;
        auto& list = Main().lwDisksList;
        for (int i = 0; i < list.Count(); ++i) {
            const auto& item = list.Items(i);
            std::string row = std::to_string(item.ImageIndex) + "|" + item.Caption;
            if (!item.SubItems.empty() && list.DrawOf(i).ShowCells)
                row += "|" + item.SubItems[0];
            rows.push_back(row);
        }
        return rows;
    }
};

TEST_F(WizardPagesTest, TheDriveListGroupsFixedAndRemovableDrives) {
    Boot();
    ASSERT_EQ(Start(), 0);
    host_.Press(TWizardButton::Next);
    Run();
    EXPECT_EQ(Captions(),
              (std::vector<std::string>{
                  "-2|", "-3|Hard Disk Drives", "-4|-", "0|SYSTEM (C:)|  1.00 MB",
                  "0|DATA (D:)|  1.00 MB", "-2|", "-3|Devices with Removeable Storage", "-4|-",
                  "2|" + static_cast<TDisk*>(Main().lwDisksList.Items(8).Data)->Description,
                  "0|STICK (R:)|512.00 KB"}));
    auto& list = Main().lwDisksList;
    EXPECT_EQ(list.DrawOf(0).Style, TListItemStyle::Blank);
    EXPECT_EQ(list.DrawOf(1).Style, TListItemStyle::GroupTitle);
    EXPECT_EQ(list.DrawOf(2).Style, TListItemStyle::Rule);
    EXPECT_EQ(list.DrawOf(3).Style, TListItemStyle::Normal);
    EXPECT_TRUE(list.Items(8).SubItems.empty()); // the floppy shows no size
    // The header rows cannot be ticked.
    EXPECT_FALSE(list.UserToggle(1));
}

TEST_F(WizardPagesTest, AMachineWithoutAFixedDiskHasNoHardDiskGroup) {
    auto machine = ProgramMachine();
    machine["drives"].erase(0);
    machine["drives"].erase(0);
    Boot(machine);
    ASSERT_EQ(Start(), 0);
    host_.Press(TWizardButton::Next);
    Run();
    const auto rows = Captions();
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[1], "-3|Devices with Removeable Storage");
}

// A computer with nothing to wipe says so once, in an information box, and again only when
// the user asks for the list anew.
TEST_F(WizardPagesTest, AnEmptyListIsExplainedOnceInAnInformationBox) {
    auto machine = ProgramMachine();
    machine["drives"] = nlohmann::json::array();
    Boot(machine);
    ASSERT_EQ(Start(), 0);
    host_.AnswerRest(mrOk);
    host_.Press(TWizardButton::Next).Press(TWizardButton::Back).Press(TWizardButton::Next);
    host_.ClickItem("JvXPBarFunctions", 0); // Refresh List
    Run();
    ASSERT_EQ(host_.dialogs().size(), 2u);
    for (const auto& dialog : host_.dialogs()) {
        EXPECT_EQ(dialog.type, TMsgDlgType::mtInformation);
        EXPECT_EQ(dialog.text, "Nothing can be wiped on this computer.\r\n\r\n"
                               "No drive and no disc was found.");
        EXPECT_EQ(dialog.buttons, mbOKButton);
    }
    EXPECT_EQ(Main().lwDisksList.Count(), 0);
}

TEST_F(WizardPagesTest, TickingARowSelectsItAndTheCountDecidesNext) {
    Boot();
    ASSERT_EQ(Start(), 0);
    host_.Press(TWizardButton::Next);
    Run();
    TFrmMain& main = Main();
    auto& list = main.lwDisksList;
    auto& next = main.JvWizard.NavButton(TWizardButton::Next);
    const int c = RowOf("C"), d = RowOf("D");
    EXPECT_FALSE(next.Enabled());

    ASSERT_TRUE(list.UserToggle(c));
    EXPECT_EQ(list.Selected(), c);
    EXPECT_TRUE(next.Enabled());
    ASSERT_TRUE(main.JvXPBarDetails.Visible());
    std::vector<std::string> details;
    for (int i = 0; i < main.JvXPBarDetails.Count(); ++i)
        details.push_back(main.JvXPBarDetails.Items(i).Caption);
    EXPECT_EQ(details, (std::vector<std::string>{
                           "Name: SYSTEM (C:)", "Model: SIM DISK 0", "Size:   1.00 MB",
                           "Owner: SIM DISK 0", "File System: NTFS", "Free Space:   4.00 KB",
                           "Used Space: 1020.00 KB", "Total Space:   1.00 MB"}));
    EXPECT_TRUE(main.JvXPBarFunctions.Items(1).Visible); // View Disk

    // Unticking the only ticked row while another row is selected disables Next.
    ASSERT_TRUE(list.UserSelect(d));
    EXPECT_TRUE(next.Enabled());
    ASSERT_TRUE(list.UserToggle(c));
    EXPECT_EQ(list.Selected(), c);
    EXPECT_FALSE(next.Enabled());

    // Ticking the row that is already selected counts at once.
    ASSERT_TRUE(list.UserToggle(c));
    EXPECT_TRUE(next.Enabled());

    // A group title hides the details and View Disk.
    ASSERT_TRUE(list.UserSelect(1));
    EXPECT_FALSE(main.JvXPBarDetails.Visible());
    EXPECT_FALSE(main.JvXPBarFunctions.Items(1).Visible);
    // The details bar stands below the function bar, whatever its size.
    EXPECT_EQ(main.JvXPBarDetails.Bounds().Top, main.JvXPBarFunctions.Bounds().Bottom() + 1);
}

TEST_F(WizardPagesTest, RefreshForgetsTheRowsCheckStates) {
    Boot();
    ASSERT_EQ(Start(), 0);
    host_.Press(TWizardButton::Next);
    Run();
    auto& list = Main().lwDisksList;
    const int c = RowOf("C");
    ASSERT_TRUE(list.UserToggle(c));
    ASSERT_TRUE(Main().JvXPBarFunctions.UserClickItem(0)); // Refresh List
    EXPECT_FALSE(list.Items(c).Checked);
    EXPECT_FALSE(Main().JvWizard.NavButton(TWizardButton::Next).Enabled());
    // Selecting the row that was ticked before the refresh is not taken for a tick.
    ASSERT_TRUE(list.UserSelect(c));
    EXPECT_FALSE(Main().JvWizard.NavButton(TWizardButton::Next).Enabled());
    ASSERT_TRUE(list.UserToggle(c));
    EXPECT_TRUE(Main().JvWizard.NavButton(TWizardButton::Next).Enabled());
}

// The description follows the method; its file lines are one paragraph, which the label
// wraps to its own width, after the empty line it has always begun with.
TEST_F(WizardPagesTest, TheDescriptionFollowsTheMethodAsParagraphs) {
    Boot();
    ASSERT_EQ(Start(), 0);
    EXPECT_EQ(Main().cbxAlgorithm.Count(), static_cast<int>(Methods.size()) - 1);
    EXPECT_EQ(Main().cbxAlgorithm.Text(), "Zero fill");
    EXPECT_EQ(Main().lblMethodDescription.Caption,
              "\nA single pass that writes zero bytes over the whole medium. Fast; enough against "
              "software recovery on modern drives.");
    host_.Then([this] { Main().JvWizard.SetActivePage(Main().JvWIPAlgorithmSelection); });
    host_.Choose("cbxAlgorithm", 5);
    Run();
    EXPECT_EQ(Main().lblMethodDescription.Caption, "\n" + DescriptionParagraphs(*Methods[6]));
    EXPECT_EQ(Main().lblMethodDescription.Caption.find('\n', 1), std::string::npos);
}

TEST_F(WizardPagesTest, TheConfirmationListsDrivesOptionsAndTheReportWhenItIsOn) {
    Boot();
    ASSERT_EQ(Start(), 0);
    ScriptTick({"D", "R"});
    host_.Press(TWizardButton::Next).Press(TWizardButton::Next).Press(TWizardButton::Next);
    Run();
    const std::vector<std::string> withoutReport = {
        "Drives to Wipe:",
        "  - DATA (D:)",
        "      Size:   1.00 MB",
        "  - STICK (R:)",
        "      Size: 512.00 KB",
        "",
        "Wipe Options",
        "  Wipe Algorithm: Zero fill",
        "  Allow user abort: ENABLED",
        "  Wipe without requiring user intervention: DISABLED",
        "  Use ISAAC pseudo-random number generating algorithm: DISABLED",
        "  No buffering/caching: ENABLED",
        "  Overwrite Buffer:: 512 KB",
        "  " + Main().cbQuickErase.Caption + ": DISABLED",
        "  Format Partitions: ENABLED",
        "  Ask after every wipe: DISABLED"};
    EXPECT_EQ(Main().mmOperations.Lines, withoutReport);

    // The report on: its name is filled in from the desktop, and its lines follow.
    host_.Press(TWizardButton::Back).Toggle("cbGenerateReport").Toggle("cbAppendLog");
    host_.Press(TWizardButton::Next);
    Run();
    std::vector<std::string> withReport = withoutReport;
    withReport.insert(withReport.end(),
                      {"", "Report File", "  " + Main().cbUseDodReport.Caption + ": DISABLED",
                       "  Append log file: ENABLED", "  Log File: " + DefaultReportPath()});
    EXPECT_EQ(Main().mmOperations.Lines, withReport);
    EXPECT_EQ(Options->LogFileName, DefaultReportPath());
}

TEST_F(WizardPagesTest, TheOptionsPageEditsTheOptionsLive) {
    Boot();
    {
        TPLOptions stored; // a report name from an earlier run is kept
        stored.GenerateReportFile = true;
        stored.LogFileName = "old.log";
        stored.OverwriteBuffer = 4;
    }
    ASSERT_EQ(Start(), 0);
    EXPECT_EQ(Main().edtLogFileName.Text(), "old.log");
    EXPECT_EQ(Options->LogFileName, "old.log");
    EXPECT_EQ(Main().cbbBuffer.Text(), "8 KB");
    EXPECT_TRUE(Main().edtLogFileName.Enabled());
    Main().JvWizard.SetActivePage(Main().JvWIPOptions);
    host_.Toggle("cbGenerateReport").Toggle("cbUseIsaac").Choose("cbbBuffer", 3);
    Run();
    EXPECT_FALSE(Main().edtLogFileName.UserType("x")); // switched off with the report
    EXPECT_FALSE(Options->GenerateReportFile);
    EXPECT_FALSE(Main().edtLogFileName.Enabled());
    EXPECT_FALSE(Main().cbUseDodReport.Enabled());
    EXPECT_TRUE(Options->UseIsaac);
    EXPECT_EQ(Options->OverwriteBuffer, 3);
    // The browse dialog starts at the current name and its choice becomes the name.
    host_.Toggle("cbGenerateReport").AnswerSave("chosen.txt").Click("btnBrowseLog");
    Run();
    EXPECT_EQ(Main().SDlgLogFile.Filter, *FindControlText("SDlgLogFile", "Filter"));
    EXPECT_EQ(Options->LogFileName, "chosen.txt");
}

TEST_F(WizardPagesTest, TheParallelBoxShowsTheStoredOptionAndReachesTheRunsSettings) {
    Boot();
    {
        TPLOptions stored;
        stored.WipeInParallel = false;
    }
    ASSERT_EQ(Start(), 0);
    EXPECT_FALSE(Main().cbWipeInParallel.Checked());
    EXPECT_FALSE(Main().WipeSettingsFromControls().WipeInParallel);
    Main().JvWizard.SetActivePage(Main().JvWIPOptions);
    host_.Toggle("cbWipeInParallel");
    Run();
    EXPECT_TRUE(Options->WipeInParallel);
    EXPECT_TRUE(Main().WipeSettingsFromControls().WipeInParallel);
    EXPECT_EQ(Main().cbWipeInParallel.Caption, *FindControlText("cbWipeInParallel", "Caption"));
}

// The details name the device under the drive: its model and serial number from the disk
// it lies on, or the drive's own name where the device tells none (and then no serial).
TEST_F(WizardPagesTest, TheDetailsNameTheModelAndTheSerialNumberOfTheDevice) {
    auto machine = ProgramMachine();
    machine["physicalDisks"][0]["model"] = "ST3500418AS";
    machine["physicalDisks"][0]["serial"] = "9VM5ABCD";
    Boot(machine);
    ASSERT_EQ(Start(), 0);
    host_.Press(TWizardButton::Next);
    Run();
    auto details = [this](const std::string& drive) {
        EXPECT_TRUE(Main().lwDisksList.UserSelect(RowOf(drive)));
        std::vector<std::string> lines;
        for (int i = 0; i < Main().JvXPBarDetails.Count(); ++i)
            lines.push_back(Main().JvXPBarDetails.Items(i).Caption);
        return lines;
    };
    const auto d = details("D");
    ASSERT_GE(d.size(), 4u);
    EXPECT_EQ(d[0], "Name: DATA (D:)");
    EXPECT_EQ(d[1], "Model: ST3500418AS");
    EXPECT_EQ(d[2], "Serial Number: 9VM5ABCD");
    EXPECT_EQ(d[3].rfind("Size: ", 0), 0u);
    const auto r = details("R"); // an image of its own: no device to ask
    ASSERT_GE(r.size(), 3u);
    EXPECT_EQ(r[1], "Model: STICK (R:)");
    EXPECT_EQ(r[2].rfind("Size: ", 0), 0u);
    EXPECT_EQ(std::count_if(r.begin(), r.end(),
                            [](const std::string& line) { return line.rfind("Serial", 0) == 0; }),
              0);
}

} // namespace
} // namespace purgelet::testing

namespace purgelet::testing {
namespace {

TEST_F(ProgramTest, AChangeHandledWhileTheDetailsAreBuiltLeavesThemOnce) {
    Boot();
    ASSERT_EQ(Start(), 0);
    host_.Press(ui::TWizardButton::Next);
    Run();
    auto& list = Main().lwDisksList;
    const int c = RowOf("C");
    // The user's tick arrives while the selection's details are being built.
    host_.OnProcessMessages(host_.processMessagesCalls() + 1, [&] { list.UserToggle(c); });
    ASSERT_TRUE(list.UserSelect(c));
    std::vector<std::string> details;
    for (int i = 0; i < Main().JvXPBarDetails.Count(); ++i)
        details.push_back(Main().JvXPBarDetails.Items(i).Caption);
    ASSERT_FALSE(details.empty());
    EXPECT_EQ(details[0], "Name: SYSTEM (C:)");
    EXPECT_EQ(std::count(details.begin(), details.end(), details[0]), 1);
    EXPECT_TRUE(list.Items(c).Checked);
}

} // namespace
} // namespace purgelet::testing
