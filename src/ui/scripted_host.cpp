#include "ui/scripted_host.h"

namespace purgelet::ui {

ScriptedHost& ScriptedHost::Answer(int modalResult) {
    answers_.push_back(modalResult);
    return *this;
}

ScriptedHost& ScriptedHost::AnswerRest(int modalResult) {
    answerRest_ = true;
    restAnswer_ = modalResult;
    return *this;
}

ScriptedHost& ScriptedHost::OnProcessMessages(int nth, std::function<void()> action) {
    numbered_.emplace(nth, std::move(action));
    return *this;
}

ScriptedHost& ScriptedHost::OnEveryProcessMessages(std::function<void()> action) {
    every_.push_back(std::move(action));
    return *this;
}

ScriptedHost& ScriptedHost::OnDialog(std::function<void(const Dialog&)> action) {
    onDialog_.push_back(std::move(action));
    return *this;
}

int ScriptedHost::MessageDialog(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons,
                                int /*helpContext*/) {
    Dialog dialog{text, type, buttons, mrNone};
    for (auto& action : onDialog_)
        action(dialog);
    if (!answers_.empty()) {
        dialog.answer = answers_.front();
        answers_.pop_front();
    } else if (answerRest_) {
        dialog.answer = restAnswer_;
    } else {
        ++unexpected_;
    }
    dialogs_.push_back(dialog);
    return dialog.answer;
}

void ScriptedHost::ProcessMessages() {
    const int call = ++processCalls_;
    // Copied out first: an action may add further actions.
    std::vector<std::function<void()>> due;
    auto [first, last] = numbered_.equal_range(call);
    for (auto it = first; it != last; ++it)
        due.push_back(it->second);
    numbered_.erase(first, last);
    for (auto& action : due)
        action();
    auto every = every_;
    for (auto& action : every)
        action();
}

void ScriptedHost::Sleep(unsigned milliseconds) {
    ++sleepCalls_;
    slept_ += milliseconds;
}

} // namespace purgelet::ui
