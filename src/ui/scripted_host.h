// A Host for tests: dialogs are answered from a script and recorded; scripted user actions
// (press Pause, request an abort, ...) run when the program lets messages be processed;
// sleeping takes no real time.
#pragma once

#include "ui/host.h"

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace purgelet::ui {

class ScriptedHost : public Host {
public:
    struct Dialog {
        std::string text;
        TMsgDlgType type = TMsgDlgType::mtWarning;
        TMsgDlgButtons buttons;
        int answer = mrNone; // what the script answered
    };

    // Queues the answer of the next dialog not yet answered.
    ScriptedHost& Answer(int modalResult);
    // Answers every dialog after the queued ones (instead of counting them as unexpected).
    ScriptedHost& AnswerRest(int modalResult);
    // Runs action on the nth call of ProcessMessages (1 is the first call); several actions
    // may share one call and run in the order they were added.
    ScriptedHost& OnProcessMessages(int nth, std::function<void()> action);
    // Runs action on every call of ProcessMessages, after the numbered ones.
    ScriptedHost& OnEveryProcessMessages(std::function<void()> action);
    // Runs action when a dialog is shown, before it is answered.
    ScriptedHost& OnDialog(std::function<void(const Dialog&)> action);

    int MessageDialog(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons,
                      int helpContext) override;
    void ProcessMessages() override;
    void Sleep(unsigned milliseconds) override;

    const std::vector<Dialog>& dialogs() const { return dialogs_; }
    // Dialogs shown after the script ran out of answers (answered mrNone).
    int unexpectedDialogs() const { return unexpected_; }
    int processMessagesCalls() const { return processCalls_; }
    int sleepCalls() const { return sleepCalls_; }
    unsigned long long sleptMilliseconds() const { return slept_; }

private:
    std::deque<int> answers_;
    bool answerRest_ = false;
    int restAnswer_ = mrNone;
    std::multimap<int, std::function<void()>> numbered_;
    std::vector<std::function<void()>> every_;
    std::vector<std::function<void(const Dialog&)>> onDialog_;
    std::vector<Dialog> dialogs_;
    int unexpected_ = 0;
    int processCalls_ = 0;
    int sleepCalls_ = 0;
    unsigned long long slept_ = 0;
};

} // namespace purgelet::ui
