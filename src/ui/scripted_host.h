// A Host for tests. A script of user actions (click a button, tick a row, type, choose an
// item, press a wizard button) runs whenever the program waits for the user: in the message
// loop and inside modal forms. Message dialogs, input boxes, save dialogs and popup menus are
// answered from queues and recorded, as is every page entered; actions tied to the program's
// calls to ProcessMessages (press Pause during a wipe) run there. Sleeping takes no real time.
// An action on a control the user cannot reach (hidden, disabled) or a modal form left waiting
// when the script has ended raises ScriptError: the test asked for something a user could not
// do.
#pragma once

#include "ui/form.h"
#include "ui/host.h"
#include "ui/wizard.h"

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace purgelet::ui {

class TForm;
class TControl;

class ScriptError : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

class ScriptedHost : public Host {
public:
    struct Dialog {
        std::string text;
        TMsgDlgType type = TMsgDlgType::mtWarning;
        TMsgDlgButtons buttons;
        int answer = mrNone; // what the script answered
    };
    struct Input {
        std::string caption;
        std::string prompt;
        std::string preset;
    };

    // ---- Dialog answers.
    // Queues the answer of the next dialog not yet answered.
    ScriptedHost& Answer(int modalResult);
    // Answers every dialog after the queued ones (instead of counting them as unexpected).
    ScriptedHost& AnswerRest(int modalResult);
    // The next input box: the typed text, or cancelled (nullopt).
    ScriptedHost& AnswerInput(std::optional<std::string> text);
    // The next save-file dialog: the chosen path, or cancelled.
    ScriptedHost& AnswerSave(std::optional<std::string> path);
    // The next popup menu: the item chosen by name (empty: dismissed).
    ScriptedHost& ChooseMenuItem(std::string name);

    // ---- The user's script, run step by step while the program waits for input.
    ScriptedHost& Then(std::function<void()> step);
    ScriptedHost& Click(std::string control);
    ScriptedHost& Toggle(std::string checkBoxOrRadio);
    ScriptedHost& Type(std::string edit, std::string text);
    ScriptedHost& Choose(std::string comboBox, int index);
    ScriptedHost& TickRow(std::string listView, int row);
    ScriptedHost& SelectRow(std::string listView, int row);
    ScriptedHost& ClickItem(std::string sideBar, int item);
    ScriptedHost& Press(TWizardButton button);
    ScriptedHost& Key(TKeyEvent event);
    // Enter on the innermost form, which presses the button the form model says Enter presses
    // (a focused button, else the default button); raises ScriptError when nothing took it.
    ScriptedHost& Enter();
    // Ctrl+C: the host's OnInterrupt.
    ScriptedHost& Interrupt();

    // ---- Actions tied to ProcessMessages.
    // Runs action on the nth call of ProcessMessages (1 is the first call); several actions
    // may share one call and run in the order they were added.
    ScriptedHost& OnProcessMessages(int nth, std::function<void()> action);
    // Runs action on every call of ProcessMessages, after the numbered ones.
    ScriptedHost& OnEveryProcessMessages(std::function<void()> action);
    // Runs action once, at the first call of ProcessMessages where condition holds.
    ScriptedHost& When(std::function<bool()> condition, std::function<void()> action);

    // ---- Host.
    int MessageDialog(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons,
                      int helpContext) override;
    void ProcessMessages() override;
    void Sleep(unsigned milliseconds) override;
    void ShowModal(TForm& form) override;
    void Run(TForm& mainForm) override;
    bool InputQuery(const std::string& caption, const std::string& prompt,
                    std::string& value) override;
    bool SaveFileDialog(TSaveDialog& dialog) override;
    void Popup(TPopupMenu& menu, TForm& form, int x, int y) override;
    void PageShown(TWizardPage& page) override;

    // ---- What was shown.
    const std::vector<Dialog>& dialogs() const { return dialogs_; }
    const std::vector<Input>& inputs() const { return inputs_; }
    const std::vector<std::string>& pagesEntered() const { return pages_; }
    const std::vector<std::string>& modalForms() const { return modal_; } // by form name
    // Dialogs shown after the script ran out of answers (answered mrNone).
    int unexpectedDialogs() const { return unexpected_; }
    int processMessagesCalls() const { return processCalls_; }
    int sleepCalls() const { return sleepCalls_; }
    unsigned long long sleptMilliseconds() const { return slept_; }

    // The control of that name in the innermost modal form, else in the main form; raises
    // ScriptError when there is none.
    TControl& Control(const std::string& name);
    template <class T> T& ControlAs(const std::string& name) {
        T* control = dynamic_cast<T*>(&Control(name));
        if (control == nullptr)
            throw ScriptError(name + " is not of the expected kind");
        return *control;
    }

protected:
    // A script that asks for the impossible fails the test, whatever the program shows.
    bool PassesThrough(const std::exception& error) const override;

private:
    bool RunStep();

    std::deque<int> answers_;
    bool answerRest_ = false;
    int restAnswer_ = mrNone;
    std::deque<std::optional<std::string>> inputAnswers_;
    std::deque<std::optional<std::string>> saveAnswers_;
    std::deque<std::string> menuChoices_;
    std::deque<std::function<void()>> steps_;
    std::multimap<int, std::function<void()>> numbered_;
    std::vector<std::function<void()>> every_;
    std::vector<std::pair<std::function<bool()>, std::function<void()>>> when_;
    std::vector<Dialog> dialogs_;
    std::vector<Input> inputs_;
    std::vector<std::string> pages_;
    std::vector<std::string> modal_;
    std::vector<TForm*> formStack_; // the main form, then the modal forms shown on top
    int unexpected_ = 0;
    int processCalls_ = 0;
    int sleepCalls_ = 0;
    unsigned long long slept_ = 0;
};

} // namespace purgelet::ui
