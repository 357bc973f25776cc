#include "ui/win32/win32_host.h"

#include "ui/controls.h"
#include "ui/standard_dialogs.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>

namespace purgelet::ui::win32 {

namespace {

constexpr UINT WM_POSTED = WM_APP + 1; // a message was posted to a form of the model
constexpr UINT_PTR AnimationTimer = 1;
constexpr UINT AnimationInterval = 125;
constexpr char MessageClassName[] = "PurgeletHost";
// Cells the message box's icon takes on the left.
constexpr int IconCells = 6;

LPCSTR IconOf(TMsgDlgType type) {
    switch (type) {
    case TMsgDlgType::mtWarning:
        return IDI_WARNING;
    case TMsgDlgType::mtError:
        return IDI_ERROR;
    case TMsgDlgType::mtInformation:
        return IDI_INFORMATION;
    case TMsgDlgType::mtConfirmation:
        return IDI_QUESTION;
    }
    return IDI_INFORMATION;
}

UINT SoundOf(TMsgDlgType type) {
    switch (type) {
    case TMsgDlgType::mtWarning:
        return MB_ICONWARNING;
    case TMsgDlgType::mtError:
        return MB_ICONERROR;
    case TMsgDlgType::mtInformation:
        return MB_ICONINFORMATION;
    case TMsgDlgType::mtConfirmation:
        return MB_ICONQUESTION;
    }
    return MB_OK;
}

// "Text Files|*.txt|All Files|*.*" as the common dialog wants it: NUL separated, two NULs
// at the end.
std::string CommonDialogFilter(const std::string& filter) {
    std::string out = filter;
    std::replace(out.begin(), out.end(), '|', '\0');
    out.append(2, '\0');
    return out;
}

// Advances the frames of the running animations; true when one moved.
bool Animate(TControl& control) {
    bool moved = false;
    if (control.Kind() == TControlKind::Animation) {
        auto& animation = static_cast<TAnimation&>(control);
        if (animation.Active && animation.Showing()) {
            animation.Frame = (animation.Frame + 1) % 8;
            moved = true;
        }
    }
    for (auto& child : control.Children())
        moved = Animate(*child) || moved;
    return moved;
}

} // namespace

Win32Host::Win32Host() {
    RegisterWindowClasses();
    theme_ = std::make_unique<TTheme>();
    WNDCLASSEXA messages{};
    messages.cbSize = sizeof(messages);
    messages.lpfnWndProc = MessageProc;
    messages.hInstance = GetModuleHandleA(nullptr);
    messages.lpszClassName = MessageClassName;
    RegisterClassExA(&messages);
    messageWindow_ = CreateWindowExA(0, MessageClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                     GetModuleHandleA(nullptr), nullptr);
    SetWindowLongPtrA(messageWindow_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetTimer(messageWindow_, AnimationTimer, AnimationInterval, nullptr);
}

Win32Host::~Win32Host() {
    stack_.clear();
    if (messageWindow_ != nullptr)
        DestroyWindow(messageWindow_);
}

// ---- Handlers

void Win32Host::Call(const std::function<void()>& action) {
    // A window procedure must not let an exception through the window system: one that
    // leaves the loop is kept and raised again when the message has been handled.
    try {
        RunHandler(action);
    } catch (...) {
        if (!pending_)
            pending_ = std::current_exception();
    }
    // Marked after the handler: a sync it ran itself (processing messages halfway) has not
    // seen what it changed after that.
    dirty_ = true;
}

void Win32Host::RethrowPending() {
    if (pending_) {
        auto error = pending_;
        pending_ = nullptr;
        std::rethrow_exception(error);
    }
}

bool Win32Host::IsTop(const TForm& form) const {
    return !stack_.empty() && &stack_.back()->Form() == &form;
}

void Win32Host::Posted() {
    PostMessageA(messageWindow_, WM_POSTED, 0, 0);
}

LRESULT CALLBACK Win32Host::MessageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<Win32Host*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (self == nullptr)
        return DefWindowProcA(hwnd, message, wParam, lParam);
    if (message == WM_POSTED) {
        self->Call([self] { self->DispatchPostedMessage(); });
        return 0;
    }
    if (message == WM_TIMER) {
        if (wParam == AnimationTimer) {
            self->Animate();
        } else if (auto found = self->timers_.find(wParam); found != self->timers_.end()) {
            TTimer* timer = found->second;
            if (timer->OnTimer)
                self->Call(timer->OnTimer);
        }
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

void Win32Host::Animate() {
    // An idle program is not synced eight times a second for nothing.
    for (auto& window : stack_)
        if (win32::Animate(window->Form()))
            dirty_ = true;
}

void Win32Host::TimerChanged(TTimer& timer) {
    for (auto it = timers_.begin(); it != timers_.end(); ++it)
        if (it->second == &timer) {
            KillTimer(messageWindow_, it->first);
            timers_.erase(it);
            break;
        }
    if (timer.Enabled()) {
        const UINT_PTR id = nextTimerId_++;
        timers_[id] = &timer;
        SetTimer(messageWindow_, id, std::max(timer.Interval, 1u), nullptr);
    }
}

// ---- The loop

TFormWindow* Win32Host::WindowOf(const TForm& form) const {
    for (auto& window : stack_)
        if (&window->Form() == &form)
            return window.get();
    return nullptr;
}

void Win32Host::SyncAll() {
    for (auto& window : stack_)
        window->Sync();
    dirty_ = false;
    lastSync_ = std::chrono::steady_clock::now();
}

bool Win32Host::PumpOne() {
    MSG msg;
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        return false;
    if (msg.message == WM_QUIT)
        return true; // the program ends through its main window only
    bool used = false;
    if ((msg.message == WM_KEYDOWN || msg.message == WM_SYSCHAR) && !stack_.empty()) {
        // Keys go to the form that has the keyboard; the others are disabled anyway.
        TFormWindow& top = *stack_.back();
        if (msg.hwnd == top.Handle() || IsChild(top.Handle(), msg.hwnd))
            used = top.PreTranslate(msg);
    }
    if (!used) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    RethrowPending();
    return true;
}

void Win32Host::LoopUntil(const std::function<bool()>& done) {
    while (!done()) {
        if (PumpOne())
            continue;
        if (dirty_)
            SyncAll();
        if (done())
            break;
        // Sync may have queued paints; wait only when nothing is left to do.
        MSG msg;
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE))
            WaitMessage();
    }
}

void Win32Host::ProcessMessages() {
    for (int i = 0; i < 200 && PumpOne(); ++i) {
    }
    if (std::chrono::steady_clock::now() - lastSync_ >= SyncInterval) {
        SyncAll();
        // What the sync changed is painted now, not at the end of the busy spell.
        for (auto& window : stack_)
            UpdateWindow(window->Handle());
    }
}

void Win32Host::Sleep(unsigned milliseconds) {
    ::Sleep(milliseconds);
}

int Win32Host::ShowForm(TForm& form, HICON icon) {
    HWND owner = stack_.empty() ? nullptr : stack_.back()->Handle();
    std::vector<HWND> disabled;
    for (auto& window : stack_)
        if (IsWindowEnabled(window->Handle())) {
            EnableWindow(window->Handle(), FALSE);
            disabled.push_back(window->Handle());
        }
    stack_.push_back(std::make_unique<TFormWindow>(*this, form, owner, icon));
    TFormWindow& window = *stack_.back();
    struct Restore {
        Win32Host& host;
        std::vector<HWND>& disabled;
        HWND owner;
        ~Restore() {
            // The owner is enabled before the dialog goes, so that it takes the activation.
            for (HWND hwnd : disabled)
                EnableWindow(hwnd, TRUE);
            host.stack_.pop_back();
            if (owner != nullptr)
                SetActiveWindow(owner);
            host.dirty_ = true;
        }
    } restore{*this, disabled, owner};
    ShowWindow(window.Handle(), SW_SHOW);
    SetForegroundWindow(window.Handle());
    window.FocusActive();
    LoopUntil([&form] { return form.ModalResult != 0; });
    return form.ModalResult;
}

void Win32Host::ShowModal(TForm& form) {
    HICON icon = nextIcon_;
    nextIcon_ = nullptr;
    ShowForm(form, icon);
}

void Win32Host::Run(TForm& mainForm) {
    stack_.push_back(std::make_unique<TFormWindow>(*this, mainForm, nullptr, nullptr));
    TFormWindow& window = *stack_.back();
    ShowWindow(window.Handle(), SW_SHOW);
    SetForegroundWindow(window.Handle());
    window.FocusActive();
    struct Pop {
        std::vector<std::unique_ptr<TFormWindow>>& stack;
        ~Pop() { stack.clear(); }
    } pop{stack_};
    LoopUntil([&mainForm] { return mainForm.IsClosed(); });
}

// ---- Dialogs

int Win32Host::MessageDialog(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons,
                             int) {
    auto form = MakeMessageForm(*this, text, type, buttons, 60);
    // Room on the left for the type's icon.
    TRect outer = form->Bounds();
    outer.Width += IconCells;
    form->SetBounds(outer);
    for (auto& child : form->Children()) {
        TRect r = child->Bounds();
        r.Left += IconCells;
        child->SetBounds(r);
    }
    nextIcon_ = LoadIconA(nullptr, IconOf(type));
    MessageBeep(SoundOf(type));
    const int result = form->ShowModal();
    return MessageAnswer(result, buttons);
}

bool Win32Host::InputQuery(const std::string& caption, const std::string& prompt,
                           std::string& value) {
    return RunInputForm(*this, caption, prompt, value);
}

bool Win32Host::SaveFileDialog(TSaveDialog& dialog) {
    char path[MAX_PATH] = "";
    lstrcpynA(path, dialog.FileName.c_str(), MAX_PATH);
    const std::string filter = CommonDialogFilter(dialog.Filter);
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = stack_.empty() ? nullptr : stack_.back()->Handle();
    ofn.lpstrFilter = dialog.Filter.empty() ? nullptr : filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = path;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrTitle = dialog.Title.empty() ? nullptr : dialog.Title.c_str();
    ofn.lpstrDefExt = dialog.DefaultExt.empty() ? nullptr : dialog.DefaultExt.c_str();
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!GetSaveFileNameA(&ofn))
        return false;
    dialog.FileName = path;
    return true;
}

void Win32Host::Popup(TPopupMenu& menu, TForm& form, int x, int y) {
    HMENU popup = CreatePopupMenu();
    UINT id = 1;
    std::map<UINT, std::size_t> items;
    for (std::size_t i = 0; i < menu.Items.size(); ++i) {
        const TMenuItem& item = menu.Items[i];
        if (!item.Visible)
            continue;
        AppendMenuA(popup, MF_STRING | (item.Enabled ? 0 : MF_GRAYED), id, item.Caption.c_str());
        items[id++] = i;
    }
    TFormWindow* window = WindowOf(form);
    HWND owner = window != nullptr ? window->Handle() : nullptr;
    // The point is in the form's cells; the menu opens there, kept on the window.
    POINT at{x * theme_->Units.X, y * theme_->Units.Y};
    if (owner != nullptr) {
        RECT client;
        GetClientRect(owner, &client);
        at.x = std::clamp<LONG>(at.x, 0, client.right);
        at.y = std::clamp<LONG>(at.y, 0, client.bottom);
        ClientToScreen(owner, &at);
        SetForegroundWindow(owner);
    }
    const UINT chosen = static_cast<UINT>(
        TrackPopupMenu(popup, TPM_RETURNCMD | TPM_LEFTALIGN | TPM_BOTTOMALIGN | TPM_RIGHTBUTTON,
                       at.x, at.y, 0, owner, nullptr));
    DestroyMenu(popup);
    if (auto found = items.find(chosen); found != items.end()) {
        TMenuItem& item = menu.Items[found->second];
        if (item.Enabled && item.OnClick)
            item.OnClick();
    }
    dirty_ = true;
}

} // namespace purgelet::ui::win32
