// The terminal renderer draws the program's pages from the form model alone: every wizard
// page, a message box, the ask dialog and the block viewer, at 80x25 and 132x43, compared as
// text with the golden screens in tests/data/tui (PURGELET_UPDATE_GOLDEN=1 rewrites them).
#include "app/ask_dialog.h"
#include "app/disk_view.h"
#include "app/program_fixture.h"
#include "lang/catalogue.h"
#include "ui/standard_dialogs.h"
#include "ui/tui/renderer.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace purgelet::testing {
namespace {

using ui::TWizardButton;
using ui::tui::TScreen;
using ui::tui::TuiRenderer;

const std::pair<int, int> kSizes[] = {{80, 25}, {132, 43}};

class ScreensTest : public ProgramTest {
protected:
    // Draws the stack at every size and compares each with its golden screen.
    void Check(const std::string& name, std::vector<ui::TForm*> stack) {
        for (auto [width, height] : kSizes) {
            Main().SetBounds({0, 0, width, height});
            TScreen screen(width, height, false);
            TuiRenderer().Draw(screen, stack);
            const std::string file = std::string(PURGELET_TEST_DATA) + "/tui/" + name + "-" +
                                     std::to_string(width) + "x" + std::to_string(height) + ".txt";
            if (std::getenv("PURGELET_UPDATE_GOLDEN") != nullptr)
                std::ofstream(file, std::ios::binary) << screen.Text();
            std::ifstream in(file, std::ios::binary);
            const std::string golden{std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>()};
            EXPECT_EQ(screen.Text(), golden) << file;
        }
        Main().SetBounds(ui::TForm::OuterFor(78, 23));
    }
    void CheckMain(const std::string& name) { Check(name, {&Main()}); }
};

TEST_F(ScreensTest, EveryWizardPage) {
    Boot();
    ASSERT_EQ(Start(), 0);
    host_.Then([this] { CheckMain("welcome"); });
    ScriptTick({"C"});
    host_.Then([this] { CheckMain("drives"); });
    host_.Press(TWizardButton::Next).Then([this] { CheckMain("method"); });
    host_.Press(TWizardButton::Next).Toggle("cbGenerateReport").Then([this] {
        CheckMain("options");
    });
    host_.Toggle("cbGenerateReport"); // no report file from this run
    host_.Press(TWizardButton::Next).Then([this] { CheckMain("confirmation"); });
    host_.Press(TWizardButton::Next);
    bool drawn = false;
    host_.When([&] { return Main().DiskManager().Progress >= 0.5; },
               [&] {
                   Main().RefreshProgress();
                   CheckMain("wipe");
                   drawn = true;
               });
    host_.Answer(mrOk);
    host_.Then([this] { CheckMain("finished"); });
    Run();
    EXPECT_TRUE(drawn);
    EXPECT_EQ(host_.unexpectedDialogs(), 0);
}

// The shipped language file says the welcome sentence once, at every size.
TEST_F(ScreensTest, TheWelcomePageSaysItsSentenceOnce) {
    Boot();
    ASSERT_EQ(Start(), 0);
    for (auto [width, height] : kSizes) {
        Main().SetBounds({0, 0, width, height});
        TScreen screen(width, height, false);
        TuiRenderer().Draw(screen, {&Main()});
        std::string words; // the screen's text, its frames and runs of blanks taken out
        for (char c : screen.Text())
            if (c != '|' && c != '\n' && !(c == ' ' && (words.empty() || words.back() == ' ')))
                words.push_back(c);
        const std::string sentence =
            "This wizard will guide you throught secure data destruction on your disk(s).";
        const std::size_t first = words.find(sentence);
        EXPECT_NE(first, std::string::npos) << screen.Text();
        EXPECT_EQ(words.find("This wizard", first + 1), std::string::npos) << screen.Text();
    }
    Main().SetBounds(ui::TForm::OuterFor(78, 23));
}

// With the whole disks shown, their group follows the drive letters' groups; the disk of
// the running system is marked in its caption.
TEST_F(ScreensTest, TheDrivePageWithTheWholeDisks) {
    auto machine = ProgramMachine();
    machine["registry"]["HKEY_CURRENT_USER"]["Software\\Quillon\\Purgelet 2005"]["ShowWholeDisks"] =
        "1";
    Boot(machine);
    ASSERT_EQ(Start(), 0);
    host_.Press(TWizardButton::Next).Then([this] { CheckMain("drives-whole"); });
    Run();
    EXPECT_EQ(host_.unexpectedDialogs(), 0);
}

TEST_F(ScreensTest, AMessageBoxTheAskDialogAndTheBlockViewer) {
    Boot();
    ASSERT_EQ(Start(), 0);
    auto box = ui::MakeMessageForm(host_, CatalogueText("ABORT_CONFIRM"),
                                   TMsgDlgType::mtConfirmation, mbYesNo);
    box->Show();
    Check("message", {&Main(), box.get()});

    Main().JvWizard.SetActivePage(Main().JvWIPDataSelection);
    // The ask dialog as the run shows it after a drive, then the viewer on that drive.
    host_.Then([this] {
        const int answer = app_->AskDlg->Ask(
            CatalogueText("ASKDLGCAPTION"), CatalogueText("ASKDLGTEXT"),
            CatalogueText("txtContinue"), CatalogueText("txtViewDisk"), CatalogueText("txtAbort"));
        ASSERT_EQ(answer, 1);
        app_->FrmDiskview->ShowDisk(
            *static_cast<TDisk*>(Main().lwDisksList.Items(RowOf("D")).Data));
    });
    host_.Then([this] { Check("ask", {&Main(), app_->AskDlg.get()}); });
    host_.Click("btnViewDisk");
    host_.Then([this] { Check("viewer", {&Main(), app_->FrmDiskview.get()}); });
    host_.Then([this] { app_->FrmDiskview->Close(); });
    Run();
    EXPECT_EQ(host_.modalForms(), (std::vector<std::string>{"AskDlg", "FrmDiskview"}));
}

// The screen as drawn now, at 80x25.
TScreen Draw(ui::TForm& form) {
    TScreen screen(80, 25, false);
    TuiRenderer().Draw(screen, {&form});
    return screen;
}

// The first line of the screen that shows text at or right of a column, -1 when none.
int LineOf(const TScreen& screen, const std::string& text, std::size_t from = 0) {
    const auto lines = screen.Lines();
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].find(text, from) != std::string::npos)
            return static_cast<int>(i);
    return -1;
}

bool Reversed(const TScreen& screen, int line, int column) {
    return line >= 0 && (screen.At(column, line).Attr & ui::tui::atReverse) != 0;
}

TEST_F(ScreensTest, TheDriveListShowsItsFocusOnTheFirstDriveAtOnceAndTheArrowsSkipHeaders) {
    Boot();
    ASSERT_EQ(Start(), 0);
    std::vector<std::string> highlighted; // the drive in reverse after each step
    auto record = [&] {
        const TScreen screen = Draw(Main());
        std::string shown;
        for (const char* name : {"Hard Disk Drives", "SYSTEM (C:)", "DATA (D:)", "STICK (R:)"}) {
            // The list starts at column 25 (the details bar on its left names drives too);
            // column 30 is inside every row of it, header or drive.
            const int line = LineOf(screen, name, 25);
            if (Reversed(screen, line, 30))
                shown += (shown.empty() ? "" : ",") + std::string(name);
        }
        highlighted.push_back(shown);
    };
    host_.Press(TWizardButton::Next).Then(record);
    for (ui::TKey key : {ui::TKey::Up, ui::TKey::Down, ui::TKey::Down, ui::TKey::Down,
                         ui::TKey::Down, ui::TKey::Home})
        host_.Key({key}).Then(record);
    host_.Key({ui::TKey::Space});
    Run();
    EXPECT_EQ(highlighted, (std::vector<std::string>{"SYSTEM (C:)", "SYSTEM (C:)", "DATA (D:)", "",
                                                     "STICK (R:)", "STICK (R:)", "SYSTEM (C:)"}));
    // The third Down stopped on the floppy (its name is the simulated PC's own).
    EXPECT_TRUE(Main().lwDisksList.Items(RowOf("C")).Checked);
    EXPECT_EQ(Main().lwDisksList.Selected(), RowOf("C"));
}

TEST_F(ScreensTest, EnterOnTheFinishedPagePressesFinishWhichIsDrawnAsTheDefault) {
    Boot();
    ASSERT_EQ(Start(), 0);
    ScriptTick({"D"});
    ScriptRunWithoutFormat();
    host_.Answer(mrOk); // the run's end
    host_.Then([this] {
        ASSERT_EQ(Main().JvWizard.ActivePage(), &Main().JvWIPFinished);
        // The keyboard is on the chosen radio button, as in a dialog.
        ASSERT_EQ(Main().ActiveControl(), &Main().rbExitProgram);
        const TScreen screen = Draw(Main());
        const int line = LineOf(screen, "[ Finish ]");
        ASSERT_GE(line, 0);
        const int column =
            static_cast<int>(screen.Lines()[static_cast<std::size_t>(line)].find("[ Finish ]")) + 2;
        EXPECT_NE(screen.At(column, line).Attr & ui::tui::atBold, 0);
        EXPECT_EQ(screen.At(column, line).Attr & ui::tui::atReverse, 0);
    });
    // Up chooses Restart Wizard and takes the focus there; Enter goes back to the drive list.
    host_.Key({ui::TKey::Up});
    host_.Then([this] {
        EXPECT_TRUE(Main().rbRestartWizard.Checked());
        EXPECT_FALSE(Main().rbExitProgram.Checked());
        EXPECT_EQ(Main().ActiveControl(), &Main().rbRestartWizard);
    });
    host_.Enter();
    host_.Then([this] { EXPECT_EQ(Main().JvWizard.ActivePage(), &Main().JvWIPDataSelection); });
    Run();
    EXPECT_FALSE(Main().IsClosed());
    EXPECT_EQ(host_.unexpectedDialogs(), 0);
}

TEST_F(ScreensTest, EnterOnTheFinishedPageEndsTheProgramWhenExitIsChosen) {
    Boot();
    ASSERT_EQ(Start(), 0);
    ScriptTick({"D"});
    ScriptRunWithoutFormat();
    host_.Answer(mrOk);
    host_.Enter();
    Run();
    EXPECT_EQ(host_.pagesEntered().back(), "JvWIPFinished");
    EXPECT_TRUE(Main().IsClosed());
    EXPECT_EQ(host_.unexpectedDialogs(), 0);
}

TEST_F(ScreensTest, TheDetailsBarWrapsAValueTooLongForIt) {
    auto machine = ProgramMachine();
    machine["physicalDisks"][0]["friendlyName"] = "DEMO SYSTEM DISK";
    Boot(machine);
    ASSERT_EQ(Start(), 0);
    ScriptTick({"C"});
    for (auto [width, height] : kSizes)
        host_.Then([this, width = width, height = height] {
            Main().SetBounds({0, 0, width, height});
            TScreen screen(width, height, false);
            TuiRenderer().Draw(screen, {&Main()});
            const int line = LineOf(screen, "| Owner: DEMO SYSTEM ");
            ASSERT_GE(line, 0) << screen.Text();
            EXPECT_EQ(screen.Lines()[static_cast<std::size_t>(line) + 1].substr(0, 9), "|   DISK ")
                << screen.Text();
            // Everything below moved down a line: the last detail is whole.
            EXPECT_GE(LineOf(screen, "| Total Space:   1.00 MB"), line + 1);
        });
    Run();
    Main().SetBounds(ui::TForm::OuterFor(78, 23));
}

// Two partitions of one model differ only at the end of their names: a wide terminal shows
// the names whole, sizes beside them; a narrow one cuts them, and the details bar of the row
// selected says the whole name.
TEST_F(ScreensTest, AWideTerminalShowsWholeDriveNamesAndTheDetailsBarAlwaysDoes) {
    const std::string model = "Samsung SSD 870 EVO 1TB S5Y1NJ0R81234";
    auto machine = ProgramMachine();
    machine["drives"][0]["displayName"] = model + "5 Partition 1 (C:)";
    machine["drives"][1]["displayName"] = model + "6 Partition 2 (D:)";
    Boot(machine);
    ASSERT_EQ(Start(), 0);
    host_.Press(TWizardButton::Next).Then([&] {
        Main().SetBounds({0, 0, 160, 43});
        TScreen wide(160, 43, false);
        TuiRenderer().Draw(wide, {&Main()});
        for (const char* end : {"5 Partition 1 (C:)", "6 Partition 2 (D:)"}) {
            const int line = LineOf(wide, model + end, 25);
            ASSERT_GE(line, 0) << wide.Text();
            EXPECT_NE(wide.Lines()[static_cast<std::size_t>(line)].find("1.00 MB"),
                      std::string::npos)
                << wide.Text();
        }

        Main().SetBounds(ui::TForm::OuterFor(78, 23));
        const TScreen narrow = Draw(Main());
        EXPECT_EQ(LineOf(narrow, "5 Partition 1 (C:)"), -1) << narrow.Text();
        ASSERT_TRUE(Main().lwDisksList.UserSelect(RowOf("D")));
        std::vector<std::string> details;
        for (int i = 0; i < Main().JvXPBarDetails.Count(); ++i)
            details.push_back(Main().JvXPBarDetails.Items(i).Caption);
        EXPECT_NE(std::find(details.begin(), details.end(),
                            CatalogueText("PROPERTY_NAME") + model + "6 Partition 2 (D:)"),
                  details.end());
    });
    Run();
    Main().SetBounds(ui::TForm::OuterFor(78, 23));
}

TEST_F(ScreensTest, AnExplanationTitleTooLongForItsPanelWrapsAndItsTextMovesDown) {
    Boot();
    ASSERT_EQ(Start(), 0);
    Main().JvWizard.SetActivePage(Main().JvWIPAlgorithmSelection);
    const TScreen before = Draw(Main());
    EXPECT_EQ(before.Lines()[4].substr(0, 21), "| Algorithm Selection");
    EXPECT_EQ(before.Lines()[6].substr(0, 21), "| A wipe method      ");

    auto* title = dynamic_cast<ui::TLabel*>(Main().FindComponent("lblExplTitleAlgorithmSelection"));
    ASSERT_NE(title, nullptr);
    title->Caption = "Choosing the algorithm that fits";
    Main().LayOutExplanations();
    const auto lines = Draw(Main()).Lines();
    EXPECT_EQ(lines[4].substr(0, 21), "| Choosing the       ");
    EXPECT_EQ(lines[5].substr(0, 21), "| algorithm that fits");
    EXPECT_EQ(lines[7].substr(0, 21), "| A wipe method      ");
}

TEST(Screens, ATerminalSmallerThanTheWindowSaysSo) {
    ui::ScriptedHost host;
    ui::TForm form("F", host, ui::TForm::OuterFor(78, 23));
    form.Resizable = true;
    form.Show();
    TScreen screen(60, 20, false);
    TuiRenderer().Draw(screen, {&form});
    const auto lines = screen.Lines();
    EXPECT_EQ(lines[9].find("The terminal is too small."), 17u);
    EXPECT_NE(lines[10].find("Purgelet needs 80 x 25 characters, this one has 60 x 20."),
              std::string::npos);
    EXPECT_EQ(lines[0], std::string(60, ' '));
}

TEST(Screens, UnicodeTerminalsGetLinesAndTheTextsCodePage) {
    TScreen screen(10, 3, true);
    screen.Box({0, 0, 10, 3}, 0);
    screen.PutText(1, 1, "L\xF6\x80\x01", 0);
    const auto lines = screen.Lines();
    EXPECT_EQ(lines[0], "\u250c\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2510");
    EXPECT_EQ(lines[1], "\u2502L\u00f6\u20ac.    \u2502");
    TScreen plain(6, 1, false);
    plain.PutText(0, 0, "L\xF6\x80\x1B", 0);
    EXPECT_EQ(plain.Lines()[0], "L??.  "); // no escape sequence reaches the terminal
}

} // namespace
} // namespace purgelet::testing
