// The terminal renderer draws the program's pages from the form model alone: every wizard
// page, a message box, the ask dialog and the block viewer, at 80x25 and 132x43, compared as
// text with the golden screens in tests/data/tui (PURGELET_UPDATE_GOLDEN=1 rewrites them).
#include "app/ask_dialog.h"
#include "app/disk_view.h"
#include "app/program_fixture.h"
#include "lang/catalogue.h"
#include "ui/standard_dialogs.h"
#include "ui/tui/renderer.h"

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
