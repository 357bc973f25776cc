// The terminal host with a terminal written for the test: keys, clicks, resizes and Ctrl+C go
// into the forms and dialogs; the screen is drawn when input changed it, not per message pump.
#include "ui/controls.h"
#include "ui/form.h"
#include "ui/tui/tui_host.h"
#include "ui/wizard.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <stdexcept>

namespace purgelet::ui::tui {
namespace {

class FakeTerminal : public Terminal {
public:
    std::deque<TInputEvent> input;
    int width = 80, height = 25;
    int presents = 0;
    std::vector<std::string> last;
    std::function<void(const TScreen&)> onPresent;

    int Width() const override { return width; }
    int Height() const override { return height; }
    bool Unicode() const override { return false; }
    std::optional<TInputEvent> Read(int timeoutMs) override {
        if (input.empty()) {
            if (timeoutMs == 0)
                return std::nullopt;
            throw std::runtime_error("the test typed nothing more");
        }
        TInputEvent event = input.front();
        input.pop_front();
        return event;
    }
    void Present(const TScreen& screen) override {
        ++presents;
        last = screen.Lines();
        if (onPresent)
            onPresent(screen);
    }

    FakeTerminal& Key(TKey key, char c = 0, bool alt = false) {
        input.push_back({TInputEvent::Kind::Key, {key, c, alt}, 0, 0});
        return *this;
    }
    FakeTerminal& Type(const std::string& text) {
        for (char c : text)
            Key(TKey::Char, c);
        return *this;
    }
};

TEST(TuiHost, MessageBoxesAreAnsweredByKeys) {
    FakeTerminal terminal;
    TuiHost host(terminal);
    terminal.Key(TKey::Right).Key(TKey::Enter);
    EXPECT_EQ(host.MessageDialog("Sure?", TMsgDlgType::mtConfirmation, mbYesNo, 0), mrNo);
    terminal.Key(TKey::Char, 'y', true);
    EXPECT_EQ(host.MessageDialog("Sure?", TMsgDlgType::mtConfirmation, mbYesNo, 0), mrYes);
    terminal.Key(TKey::Char, 'r', true);
    EXPECT_EQ(host.MessageDialog("Write failed", TMsgDlgType::mtError, mbAbortRetryIgnore, 0),
              mrRetry);
    // Escape without a Cancel button closes the box with no answer.
    terminal.Key(TKey::Escape);
    EXPECT_EQ(host.MessageDialog("Sure?", TMsgDlgType::mtConfirmation, mbYesNo, 0), mrNone);
    // The box was drawn with its text and its type as the title.
    bool title = false, text = false;
    for (const auto& line : terminal.last) {
        title = title || line.find(" Confirmation ") != std::string::npos;
        text = text || line.find("Sure?") != std::string::npos;
    }
    EXPECT_TRUE(title && text);
}

TEST(TuiHost, TheInputBoxAndTheSaveDialogTakeTypedText) {
    FakeTerminal terminal;
    TuiHost host(terminal);
    std::string value = "old";
    terminal.Key(TKey::Backspace)
        .Key(TKey::Backspace)
        .Key(TKey::Backspace)
        .Type("Jane")
        .Key(TKey::Enter);
    ASSERT_TRUE(host.InputQuery("Responsible", "Responsible for wipe:", value));
    EXPECT_EQ(value, "Jane");
    terminal.Type("x").Key(TKey::Escape);
    EXPECT_FALSE(host.InputQuery("Responsible", "Responsible for wipe:", value));
    EXPECT_EQ(value, "Jane");

    TForm form("F", host, TForm::OuterFor(40, 10));
    auto& dialog = form.AddComponent<TSaveDialog>("SDlg");
    dialog.DefaultExt = "txt";
    dialog.FileName = "/tmp/";
    terminal.Type("report").Key(TKey::Enter);
    ASSERT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.FileName, "/tmp/report.txt");
}

TEST(TuiHost, APopupMenuRunsTheChosenItem) {
    FakeTerminal terminal;
    TuiHost host(terminal);
    TForm form("F", host, TForm::OuterFor(40, 10));
    auto& menu = form.AddComponent<TPopupMenu>("Menu");
    std::vector<std::string> chosen;
    menu.Items = {{"One", "&One", true, true, [&] { chosen.push_back("one"); }},
                  {"Hidden", "&Hidden", false, true, [&] { chosen.push_back("hidden"); }},
                  {"Two", "&Two", true, true, [&] { chosen.push_back("two"); }}};
    terminal.Key(TKey::Down).Key(TKey::Enter);
    menu.Popup(0, 0);
    terminal.Key(TKey::Escape);
    menu.Popup(0, 0);
    terminal.Key(TKey::Char, 'o', true);
    menu.Popup(0, 0);
    EXPECT_EQ(chosen, (std::vector<std::string>{"two", "one"}));
}

TEST(TuiHost, ClicksResizesAndCtrlCReachTheProgram) {
    FakeTerminal terminal;
    TuiHost host(terminal);
    TForm main("Main", host, TForm::OuterFor(78, 23));
    main.Resizable = true;
    auto& box = main.Add<TCheckBox>("box", TRect{2, 3, 20, 1});
    box.Caption = "Tick me";
    auto& quit = main.Add<TButton>("quit", TRect{2, 5, 10, 1});
    quit.Caption = "&Quit";
    quit.OnClick = [&] { main.Close(); };
    int interrupts = 0;
    host.OnInterrupt = [&] { ++interrupts; };
    main.Show();

    // The check box stands at client (2,3): the screen cell (3,4) inside the frame.
    terminal.input.push_back({TInputEvent::Kind::Click, {}, 3, 4});
    terminal.input.push_back({TInputEvent::Kind::Interrupt, {}, 0, 0});
    terminal.width = 100;
    terminal.height = 30;
    terminal.input.push_back({TInputEvent::Kind::Resize, {}, 0, 0});
    terminal.Key(TKey::Char, 'q', true);
    host.Run(main);
    EXPECT_TRUE(box.Checked());
    EXPECT_EQ(interrupts, 1);
    EXPECT_EQ(main.Bounds(), (TRect{0, 0, 100, 30}));
    EXPECT_TRUE(main.IsClosed());
}

TEST(TuiHost, EnterGoesOnAndOnTheLastPagePressesFinishFromARadioButton) {
    FakeTerminal terminal;
    TuiHost host(terminal);
    TForm main("Main", host, TForm::OuterFor(78, 23));
    main.Resizable = true;
    auto& wizard = main.Add<TWizard>("JvWizard", TRect{0, 0, 78, 23});
    auto& first = wizard.AddPage("first", "First", "", 0);
    auto& last = wizard.AddPage("last", "Last", "", 0);
    first.Add<TCheckBox>("box", TRect{1, 1, 20, 1}).Caption = "Box";
    auto& again = last.Add<TRadioButton>("again", TRect{1, 1, 20, 1});
    again.Caption = "Again";
    last.SetButtonVisible(TWizardButton::Next, false);
    last.SetButtonVisible(TWizardButton::Finish, true);
    int finished = 0;
    wizard.OnFinishButtonClick = [&] {
        ++finished;
        main.Close();
    };
    // The buttons each screen showed in bold (a screen drawn again the same adds nothing).
    std::vector<std::string> bold;
    terminal.onPresent = [&](const TScreen& screen) {
        const auto lines = screen.Lines();
        for (std::size_t y = 0; y < lines.size(); ++y)
            for (const char* caption : {"[ Next > ]", "[ Finish ]", "[ Cancel ]"})
                if (auto x = lines[y].find(caption);
                    x != std::string::npos &&
                    (screen.At(static_cast<int>(x) + 2, static_cast<int>(y)).Attr & atBold) &&
                    (bold.empty() || bold.back() != caption))
                    bold.push_back(caption);
    };
    main.Show();
    wizard.SetActivePage(first);
    terminal.Key(TKey::Enter).Key(TKey::Enter);
    host.Run(main);
    EXPECT_EQ(finished, 1);
    EXPECT_TRUE(main.IsClosed());
    EXPECT_EQ(wizard.ActivePage(), &last);
    EXPECT_FALSE(again.Checked()); // Enter is no Space
    EXPECT_EQ(bold, (std::vector<std::string>{"[ Next > ]", "[ Finish ]"}));
}

TEST(TuiHost, BusyPumpsRedrawAtTheTimersPaceNotEachTime) {
    FakeTerminal terminal;
    TuiHost host(terminal);
    host.RedrawInterval = std::chrono::milliseconds(10000);
    TForm main("Main", host, TForm::OuterFor(78, 23));
    auto& start = main.Add<TButton>("start", TRect{0, 0, 10, 1});
    start.Caption = "&Start";
    auto& quit = main.Add<TButton>("quit", TRect{0, 1, 10, 1});
    quit.Caption = "&Quit";
    quit.OnClick = [&] { main.Close(); };
    int drawnWhileBusy = -1;
    bool quitWhileBusy = false;
    // A long job pumps messages as the wipe does.
    start.OnClick = [&] {
        const int before = terminal.presents;
        for (int i = 0; i < 1000; ++i)
            host.ProcessMessages();
        drawnWhileBusy = terminal.presents - before;
        quitWhileBusy = main.IsClosed();
    };
    main.Show();
    terminal.Key(TKey::Char, 's', true).Key(TKey::Char, 'q', true);
    host.Run(main);
    EXPECT_EQ(drawnWhileBusy, 0);
    EXPECT_TRUE(quitWhileBusy); // a key typed during the job was handled in it
}

TEST(TuiHost, WhenTheTerminalGoesNoDialogWaitsAndTheProgramIsAskedToEnd) {
    FakeTerminal terminal;
    TuiHost host(terminal);
    TForm main("Main", host, TForm::OuterFor(78, 23));
    auto& start = main.Add<TButton>("start", TRect{0, 0, 10, 1});
    start.Caption = "&Start";
    std::vector<int> answers;
    start.OnClick = [&] {
        answers.push_back(
            host.MessageDialog("Write failed", TMsgDlgType::mtError, mbAbortRetryIgnore, 0));
        // Later questions are not shown at all.
        answers.push_back(host.MessageDialog("Sure?", TMsgDlgType::mtConfirmation, mbYesNo, 0));
    };
    host.OnInterrupt = [&] { main.Close(); };
    main.Show();
    terminal.Key(TKey::Char, 's', true);
    terminal.input.push_back({TInputEvent::Kind::Stop, {}, 0, 0});
    host.Run(main);
    EXPECT_EQ(answers, (std::vector<int>{mrNone, mrNone}));
    EXPECT_TRUE(host.Stopping());
    EXPECT_TRUE(main.IsClosed());
}

} // namespace
} // namespace purgelet::ui::tui
