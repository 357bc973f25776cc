// The ask dialog through the scripted host: each button's answer, hidden buttons, and the
// answer that stays when the dialog is closed without a button.
#include "app/ask_dialog.h"
#include "ui/scripted_host.h"

#include <gtest/gtest.h>

namespace purgelet {
namespace {

class AskDialog : public ::testing::Test {
protected:
    AskDialog() : dialog(host) {}

    int AskAll() { return dialog.Ask("Next?", "Done with E:.", "Continue", "View Disk", "Abort"); }
    int AskOptical() { return dialog.Ask("Next?", "Done with G:.", "Continue", "", "Abort"); }

    ui::ScriptedHost host;
    TAskDlg dialog;
};

TEST_F(AskDialog, EachButtonAnswersItsValue) {
    host.Then([&] {
        EXPECT_EQ(dialog.Name, "AskDlg");
        EXPECT_EQ(dialog.Caption, "Next?");
        EXPECT_EQ(dialog.lblQuestion.Caption, "Done with E:.");
        EXPECT_EQ(dialog.btnContinue.Caption, "Continue");
        EXPECT_EQ(dialog.btnViewDisk.Caption, "View Disk");
        EXPECT_EQ(dialog.btnAbort.Caption, "Abort");
    });
    host.Click("btnViewDisk");
    EXPECT_EQ(AskAll(), 1);
    host.Click("btnAbort");
    EXPECT_EQ(AskAll(), 2);
    host.Click("btnContinue");
    EXPECT_EQ(AskAll(), 0);
    EXPECT_EQ(host.modalForms(), (std::vector<std::string>{"AskDlg", "AskDlg", "AskDlg"}));
    EXPECT_FALSE(dialog.Visible());
}

TEST_F(AskDialog, ClosingWithoutAButtonRepeatsThePreviousAnswer) {
    // A fresh dialog answers 0.
    host.Key({ui::TKey::Escape});
    EXPECT_EQ(AskAll(), 0);

    host.Click("btnAbort");
    EXPECT_EQ(AskAll(), 2);
    host.Key({ui::TKey::Escape});
    EXPECT_EQ(AskAll(), 2);
    host.Then([&] { dialog.Close(); }); // Alt+F4
    EXPECT_EQ(AskAll(), 2);
    EXPECT_EQ(dialog.FAnswer, 2);

    // View Disk, then asked again: Continue.
    host.Click("btnViewDisk");
    EXPECT_EQ(AskAll(), 1);
    host.Click("btnContinue");
    EXPECT_EQ(AskAll(), 0);
    EXPECT_EQ(host.unexpectedDialogs(), 0);
}

TEST_F(AskDialog, AnEmptyTextHidesItsButton) {
    host.Then([&] {
        EXPECT_TRUE(dialog.btnContinue.Visible());
        EXPECT_FALSE(dialog.btnViewDisk.Visible());
        EXPECT_TRUE(dialog.btnAbort.Visible());
        // Left to right, apart, inside the dialog.
        const ui::TRect c = dialog.btnContinue.Bounds(), a = dialog.btnAbort.Bounds();
        EXPECT_LT(c.Right(), a.Left);
        EXPECT_GE(c.Left, 0);
        EXPECT_LE(a.Right(), dialog.ClientRect().Width);
    });
    host.Click("btnViewDisk"); // a user cannot
    EXPECT_THROW(AskOptical(), ui::ScriptError);

    // The next drive has blocks again: all three are back.
    host.Then([&] { EXPECT_TRUE(dialog.btnViewDisk.Visible()); }).Click("btnViewDisk");
    EXPECT_EQ(AskAll(), 1);

    host.Click("btnAbort");
    EXPECT_EQ(dialog.Ask("Next?", "Done.", "", "", "Abort"), 2);
}

TEST_F(AskDialog, TheKeyboardStartsOnTheFirstButtonOfEachQuestion) {
    host.Key({ui::TKey::Tab}).Key({ui::TKey::Enter});
    EXPECT_EQ(AskAll(), 1);
    // After View Disk the focus is back on Continue; Tab skips the hidden button.
    host.Then([&] { EXPECT_EQ(dialog.ActiveControl(), &dialog.btnContinue); });
    host.Key({ui::TKey::Tab}).Key({ui::TKey::Enter});
    EXPECT_EQ(AskOptical(), 2);
    host.Key({ui::TKey::Enter});
    EXPECT_EQ(AskAll(), 0);
}

} // namespace
} // namespace purgelet
