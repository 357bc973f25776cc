#include "ui/tui/tui_host.h"

#include "ui/standard_dialogs.h"

#include <algorithm>
#include <filesystem>
#include <thread>

namespace purgelet::ui::tui {

using Clock = std::chrono::steady_clock;

TuiHost::TuiHost(Terminal& terminal) : terminal_(terminal) {}

void TuiHost::Redraw() {
    TScreen screen(terminal_.Width(), terminal_.Height(), terminal_.Unicode());
    renderer_.Draw(screen, stack_);
    terminal_.Present(screen);
    lastDraw_ = Clock::now();
    dirty_ = false;
}

void TuiHost::FitMainForm() {
    if (!stack_.empty() && stack_.front()->Resizable) {
        const int width = std::max(terminal_.Width(), MinWidth);
        const int height = std::max(terminal_.Height(), MinHeight);
        stack_.front()->SetBounds({0, 0, width, height});
    }
}

int TuiHost::NextTimerIn() const {
    int next = -1;
    const auto now = Clock::now();
    for (const auto& [timer, due] : timers_) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count();
        const int ms = static_cast<int>(std::max<long long>(left, 0));
        next = next < 0 ? ms : std::min(next, ms);
    }
    return next;
}

void TuiHost::FireDueTimers() {
    const auto now = Clock::now();
    std::vector<TTimer*> due;
    for (auto& [timer, when] : timers_)
        if (when <= now) {
            due.push_back(timer);
            when = now + std::chrono::milliseconds(std::max(timer->Interval, 1u));
        }
    for (TTimer* timer : due)
        if (timers_.count(timer) != 0 && timer->OnTimer) {
            RunHandler(timer->OnTimer);
            dirty_ = true;
        }
    if (!due.empty())
        TuiRenderer::Animate(stack_);
}

void TuiHost::TimerChanged(TTimer& timer) {
    if (timer.Enabled())
        timers_[&timer] = Clock::now() + std::chrono::milliseconds(std::max(timer.Interval, 1u));
    else
        timers_.erase(&timer);
}

void TuiHost::Handle(const TInputEvent& event) {
    dirty_ = true;
    switch (event.What) {
    case TInputEvent::Kind::Resize:
        FitMainForm();
        return;
    case TInputEvent::Kind::Interrupt:
        if (OnInterrupt)
            RunHandler(OnInterrupt);
        return;
    case TInputEvent::Kind::Stop:
        // Every dialog shown closes unanswered, and the program is asked to stop (a running
        // wipe aborts, then the program ends) until it has.
        stopping_ = true;
        for (std::size_t i = 1; i < stack_.size(); ++i)
            if (stack_[i]->ModalResult == 0)
                stack_[i]->ModalResult = mrCancel;
        if (OnInterrupt)
            RunHandler(OnInterrupt);
        return;
    case TInputEvent::Kind::Key:
        if (!stack_.empty()) {
            TForm* top = stack_.back();
            RunHandler([top, &event] { top->HandleKey(event.Key); });
        }
        return;
    case TInputEvent::Kind::Click:
        if (!stack_.empty()) {
            TForm* top = stack_.back();
            const TRect r = FormScreenRect(*top, terminal_.Width(), terminal_.Height());
            const TRect client = top->ClientRect();
            const int x = event.X - r.Left - client.Left, y = event.Y - r.Top - client.Top;
            RunHandler([top, x, y] { top->HandleClick(x, y); });
        }
        return;
    }
}

bool TuiHost::Pump(int timeoutMs) {
    auto event = terminal_.Read(timeoutMs);
    if (!event)
        return false;
    Handle(*event);
    return true;
}

void TuiHost::ProcessMessages() {
    DispatchPostedMessages();
    // Everything the user typed meanwhile, without waiting.
    for (int i = 0; i < 64 && Pump(0); ++i) {
    }
    FireDueTimers();
    if (Clock::now() - lastDraw_ >= RedrawInterval)
        Redraw();
}

void TuiHost::Sleep(unsigned milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void TuiHost::LoopUntil(const std::function<bool()>& done) {
    while (!done()) {
        if (DispatchPostedMessage()) {
            dirty_ = true;
            continue;
        }
        FireDueTimers();
        if (done())
            break;
        if (dirty_ || Clock::now() - lastDraw_ >= RedrawInterval)
            Redraw();
        const int timer = NextTimerIn();
        const int wait = timer < 0 ? static_cast<int>(RedrawInterval.count())
                                   : std::min(timer, static_cast<int>(RedrawInterval.count()));
        Pump(wait);
    }
}

void TuiHost::ShowModal(TForm& form) {
    if (stopping_) {
        form.ModalResult = mrCancel;
        return;
    }
    stack_.push_back(&form);
    dirty_ = true;
    struct Pop {
        std::vector<TForm*>& stack;
        bool& dirty;
        ~Pop() {
            stack.pop_back();
            dirty = true;
        }
    } pop{stack_, dirty_};
    LoopUntil([&form] { return form.ModalResult != 0; });
}

void TuiHost::Run(TForm& mainForm) {
    stack_.assign(1, &mainForm);
    FitMainForm();
    LoopUntil([&mainForm] { return mainForm.IsClosed(); });
    stack_.clear();
}

int TuiHost::MessageDialog(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons, int) {
    auto form = MakeMessageForm(*this, text, type, buttons,
                                std::max(std::min(terminal_.Width() - 10, 70), 30));
    const int result = form->ShowModal();
    return MessageAnswer(result, buttons);
}

bool TuiHost::InputQuery(const std::string& caption, const std::string& prompt,
                         std::string& value) {
    return RunInputForm(*this, caption, prompt, value);
}

bool TuiHost::SaveFileDialog(TSaveDialog& dialog) {
    auto form = MakeSaveForm(*this, dialog);
    if (form->ShowModal() != mrOk || InputValue(*form).empty())
        return false;
    dialog.FileName = InputValue(*form);
    if (!dialog.DefaultExt.empty() && !std::filesystem::path(dialog.FileName).has_extension())
        dialog.FileName += "." + dialog.DefaultExt;
    return true;
}

void TuiHost::Popup(TPopupMenu& menu, TForm&, int, int) {
    auto form = MakeMenuForm(*this, menu);
    const int result = form->ShowModal();
    int row = 100;
    for (auto& item : menu.Items) {
        if (!item.Visible)
            continue;
        if (row++ == result && item.Enabled && item.OnClick) {
            form.reset(); // the menu is gone before its action runs
            item.OnClick();
            return;
        }
    }
}

} // namespace purgelet::ui::tui
