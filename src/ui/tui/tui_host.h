// The Host of the terminal: the message loop reads the terminal's keys and clicks into the
// forms, modal forms and the standard dialogs stack above the main window, timers tick on the
// real clock, and the screen is redrawn when input changed it or at the timer's pace, never
// once per transfer of a running wipe. Ctrl+C, and a signal to stop, go to OnInterrupt.
#pragma once

#include "ui/host.h"
#include "ui/tui/renderer.h"
#include "ui/tui/terminal.h"

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace purgelet::ui::tui {

class TuiHost : public Host {
public:
    explicit TuiHost(Terminal& terminal);

    // The shortest time between two redraws while the program is busy.
    std::chrono::milliseconds RedrawInterval{250};

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

    // Draws the forms as they stand now.
    void Redraw();
    const std::vector<TForm*>& Stack() const { return stack_; }
    // The terminal is gone or the process must end: no dialog waits for an answer any more.
    bool Stopping() const { return stopping_; }

private:
    // Waits for input at most timeoutMs and handles it; true when something was handled.
    bool Pump(int timeoutMs);
    void Handle(const TInputEvent& event);
    void FitMainForm();
    // Milliseconds to the next timer, -1 when none runs.
    int NextTimerIn() const;
    void FireDueTimers();
    void LoopUntil(const std::function<bool()>& done);

    Terminal& terminal_;
    TuiRenderer renderer_;
    std::vector<TForm*> stack_;
    std::map<TTimer*, std::chrono::steady_clock::time_point> timers_;
    std::chrono::steady_clock::time_point lastDraw_{};
    bool dirty_ = true;
    bool stopping_ = false;
};

} // namespace purgelet::ui::tui
