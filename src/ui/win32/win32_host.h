// The Host of the Windows program: the message loop, modal forms over a disabled owner,
// ProcessMessages as a PeekMessage loop, timers as window timers, posted private messages as
// real posted window messages, message dialogs with the type's icon, the input box, the
// save-file dialog, popup menus. The windows follow the model after every handled message and,
// while the program is busy (a wipe), at most every SyncInterval.
#pragma once

#include "ui/host.h"
#include "ui/win32/form_window.h"

#include <windows.h>

#include <chrono>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace purgelet::ui::win32 {

class Win32Host : public Host, public TFormHost {
public:
    Win32Host();
    ~Win32Host() override;
    Win32Host(const Win32Host&) = delete;
    Win32Host& operator=(const Win32Host&) = delete;

    std::chrono::milliseconds SyncInterval{100};

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
    void TimerChanged(TTimer& timer) override;

    // The window of a shown form, null when it is not shown.
    TFormWindow* WindowOf(const TForm& form) const;
    // Copies the model to every shown window now.
    void SyncAll();

private:
    const TTheme& Theme() const override { return *theme_; }
    void Call(const std::function<void()>& action) override;
    bool IsTop(const TForm& form) const override;
    void Posted() override;

    static LRESULT CALLBACK MessageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    // Handles one waiting message; false when none was waiting.
    bool PumpOne();
    void LoopUntil(const std::function<bool()>& done);
    void RethrowPending();
    void Animate();
    int ShowForm(TForm& form, HICON icon);

    std::unique_ptr<TTheme> theme_;
    HWND messageWindow_ = nullptr;
    std::vector<std::unique_ptr<TFormWindow>> stack_;
    std::map<UINT_PTR, TTimer*> timers_;
    UINT_PTR nextTimerId_ = 100;
    HICON nextIcon_ = nullptr; // the icon of the message form about to be shown
    std::exception_ptr pending_;
    bool dirty_ = true;
    std::chrono::steady_clock::time_point lastSync_{};
};

} // namespace purgelet::ui::win32
