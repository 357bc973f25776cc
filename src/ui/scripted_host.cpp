#include "ui/scripted_host.h"

#include "ui/form.h"
#include "ui/list_view.h"
#include "ui/side_bar.h"

#include <algorithm>

namespace purgelet::ui {

// ---- Answers.

ScriptedHost& ScriptedHost::Answer(int modalResult) {
    answers_.push_back(modalResult);
    return *this;
}

ScriptedHost& ScriptedHost::AnswerRest(int modalResult) {
    answerRest_ = true;
    restAnswer_ = modalResult;
    return *this;
}

ScriptedHost& ScriptedHost::AnswerInput(std::optional<std::string> text) {
    inputAnswers_.push_back(std::move(text));
    return *this;
}

ScriptedHost& ScriptedHost::AnswerSave(std::optional<std::string> path) {
    saveAnswers_.push_back(std::move(path));
    return *this;
}

ScriptedHost& ScriptedHost::ChooseMenuItem(std::string name) {
    menuChoices_.push_back(std::move(name));
    return *this;
}

// ---- The user's script.

ScriptedHost& ScriptedHost::Then(std::function<void()> step) {
    steps_.push_back(std::move(step));
    return *this;
}

TControl& ScriptedHost::Control(const std::string& name) {
    for (auto form = formStack_.rbegin(); form != formStack_.rend(); ++form)
        if (TControl* control = (*form)->Find(name))
            return *control;
    throw ScriptError("no control " + name + " on the forms shown");
}

namespace {

void Require(bool done, const std::string& what) {
    if (!done)
        throw ScriptError("a user could not " + what);
}

} // namespace

ScriptedHost& ScriptedHost::Click(std::string control) {
    return Then(
        [this, control] { Require(ControlAs<TButton>(control).UserClick(), "click " + control); });
}

ScriptedHost& ScriptedHost::Toggle(std::string control) {
    return Then([this, control] {
        TControl& target = Control(control);
        if (auto* box = dynamic_cast<TCheckBox*>(&target))
            Require(box->UserToggle(), "tick " + control);
        else
            Require(ControlAs<TRadioButton>(control).UserSelect(), "select " + control);
    });
}

ScriptedHost& ScriptedHost::Type(std::string edit, std::string text) {
    return Then([this, edit, text] {
        auto& field = ControlAs<TEdit>(edit);
        Require(field.Usable(), "type into " + edit);
        field.Form()->SetFocus(&field);
        field.UserType(text);
    });
}

ScriptedHost& ScriptedHost::Choose(std::string comboBox, int index) {
    return Then([this, comboBox, index] {
        Require(ControlAs<TComboBox>(comboBox).UserSelect(index),
                "choose item " + std::to_string(index) + " of " + comboBox);
    });
}

ScriptedHost& ScriptedHost::TickRow(std::string listView, int row) {
    return Then([this, listView, row] {
        Require(ControlAs<TListView>(listView).UserToggle(row),
                "tick row " + std::to_string(row) + " of " + listView);
    });
}

ScriptedHost& ScriptedHost::SelectRow(std::string listView, int row) {
    return Then([this, listView, row] {
        Require(ControlAs<TListView>(listView).UserSelect(row),
                "select row " + std::to_string(row) + " of " + listView);
    });
}

ScriptedHost& ScriptedHost::ClickItem(std::string sideBar, int item) {
    return Then([this, sideBar, item] {
        Require(ControlAs<TSideBar>(sideBar).UserClickItem(item),
                "click item " + std::to_string(item) + " of " + sideBar);
    });
}

ScriptedHost& ScriptedHost::Press(TWizardButton button) {
    return Then([this, button] {
        for (auto form = formStack_.rbegin(); form != formStack_.rend(); ++form) {
            auto* wizard = dynamic_cast<TWizard*>((*form)->Find("JvWizard"));
            if (wizard == nullptr) {
                for (auto& child : (*form)->Children())
                    if ((wizard = dynamic_cast<TWizard*>(child.get())) != nullptr)
                        break;
            }
            if (wizard != nullptr) {
                TButton& nav = wizard->NavButton(button);
                Require(nav.UserClick(), "press the wizard's " + nav.Name);
                return;
            }
        }
        throw ScriptError("no wizard on the forms shown");
    });
}

ScriptedHost& ScriptedHost::Key(TKeyEvent event) {
    return Then([this, event] {
        if (formStack_.empty())
            throw ScriptError("no form to type into");
        formStack_.back()->HandleKey(event);
    });
}

ScriptedHost& ScriptedHost::Enter() {
    return Then([this] {
        if (formStack_.empty())
            throw ScriptError("no form to press Enter on");
        TForm& form = *formStack_.back();
        const std::string what = "press Enter on " + form.Name +
                                 (form.DefaultButton() == nullptr ? " (no default button)" : "");
        Require(form.HandleKey({TKey::Enter}), what);
    });
}

ScriptedHost& ScriptedHost::Interrupt() {
    return Then([this] {
        if (OnInterrupt)
            OnInterrupt();
    });
}

bool ScriptedHost::RunStep() {
    if (steps_.empty())
        return false;
    auto step = std::move(steps_.front());
    steps_.pop_front();
    RunHandler(step);
    return true;
}

bool ScriptedHost::PassesThrough(const std::exception& error) const {
    return dynamic_cast<const ScriptError*>(&error) != nullptr || Host::PassesThrough(error);
}

// ---- Actions tied to ProcessMessages.

ScriptedHost& ScriptedHost::OnProcessMessages(int nth, std::function<void()> action) {
    numbered_.emplace(nth, std::move(action));
    return *this;
}

ScriptedHost& ScriptedHost::OnEveryProcessMessages(std::function<void()> action) {
    every_.push_back(std::move(action));
    return *this;
}

ScriptedHost& ScriptedHost::When(std::function<bool()> condition, std::function<void()> action) {
    when_.emplace_back(std::move(condition), std::move(action));
    return *this;
}

// ---- Host.

int ScriptedHost::MessageDialog(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons,
                                int /*helpContext*/) {
    Dialog dialog{text, type, buttons, mrNone};
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
    DispatchPostedMessages();
    // Copied out first: an action may add further actions.
    std::vector<std::function<void()>> due;
    auto [first, last] = numbered_.equal_range(call);
    for (auto it = first; it != last; ++it)
        due.push_back(it->second);
    numbered_.erase(first, last);
    for (std::size_t i = 0; i < when_.size();) {
        if (when_[i].first()) {
            due.push_back(std::move(when_[i].second));
            when_.erase(when_.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
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

void ScriptedHost::ShowModal(TForm& form) {
    modal_.push_back(form.Name);
    formStack_.push_back(&form);
    struct Pop {
        std::vector<TForm*>& stack;
        ~Pop() { stack.pop_back(); }
    } pop{formStack_};
    while (form.ModalResult == 0) {
        if (DispatchPostedMessage())
            continue;
        if (!RunStep())
            throw ScriptError("the script ended while " + form.Name + " waits for the user");
    }
}

void ScriptedHost::Run(TForm& mainForm) {
    if (formStack_.empty() || formStack_.front() != &mainForm)
        formStack_.insert(formStack_.begin(), &mainForm);
    while (!mainForm.IsClosed()) {
        if (DispatchPostedMessage())
            continue;
        if (!RunStep())
            return; // the script is over; the test looks at what it left
    }
}

bool ScriptedHost::InputQuery(const std::string& caption, const std::string& prompt,
                              std::string& value) {
    inputs_.push_back({caption, prompt, value});
    if (inputAnswers_.empty()) {
        ++unexpected_;
        return false;
    }
    auto answer = std::move(inputAnswers_.front());
    inputAnswers_.pop_front();
    if (!answer)
        return false;
    value = *answer;
    return true;
}

bool ScriptedHost::SaveFileDialog(TSaveDialog& dialog) {
    if (saveAnswers_.empty()) {
        ++unexpected_;
        return false;
    }
    auto answer = std::move(saveAnswers_.front());
    saveAnswers_.pop_front();
    if (!answer)
        return false;
    dialog.FileName = *answer;
    return true;
}

void ScriptedHost::Popup(TPopupMenu& menu, TForm&, int, int) {
    if (menuChoices_.empty()) {
        ++unexpected_;
        return;
    }
    const std::string name = menuChoices_.front();
    menuChoices_.pop_front();
    if (name.empty())
        return;
    TMenuItem* item = menu.FindItem(name);
    Require(item != nullptr && item->Visible && item->Enabled, "choose menu item " + name);
    if (item->OnClick)
        item->OnClick();
}

void ScriptedHost::PageShown(TWizardPage& page) {
    pages_.push_back(page.Name);
}

} // namespace purgelet::ui
