// What a renderer gives the program: the message loop, modal forms, message dialogs, the
// input box, the save-file dialog, popup menus, timers and sleep. The program's logic runs on
// the one user-interface thread and reaches the user only through a Host, so the Windows GUI,
// the terminal and the scripted host of the tests are interchangeable. Posted private messages
// are queued here, the same for every renderer.
#pragma once

#include "ui/dialogs.h"

#include <deque>
#include <exception>
#include <functional>
#include <string>
#include <utility>

namespace purgelet::ui {

class TForm;
class TPopupMenu;
class TSaveDialog;
class TTimer;
class TWizardPage;

class Host {
public:
    virtual ~Host() = default;

    // Shows a modal message dialog (text may hold CR LF line breaks) and returns the modal
    // result of the button the user chose (mrNone when the dialog was closed otherwise).
    virtual int MessageDialog(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons,
                              int helpContext) = 0;
    // Lets the window system handle the messages waiting in the queue (posted messages
    // included); button handlers and timers run nested inside this call.
    virtual void ProcessMessages() = 0;
    virtual void Sleep(unsigned milliseconds) = 0;

    // Shows the form and handles the user's input until its ModalResult is set.
    virtual void ShowModal(TForm& form) = 0;
    // The message loop: runs until the main form is closed.
    virtual void Run(TForm& mainForm) = 0;
    // A one-line text input; false when cancelled (value is then unchanged).
    virtual bool InputQuery(const std::string& caption, const std::string& prompt,
                            std::string& value) = 0;
    // The save-file dialog; true with dialog.FileName set when the user chose a path.
    virtual bool SaveFileDialog(TSaveDialog& dialog) = 0;
    // Shows a popup menu at a point of the form; the chosen item's OnClick runs.
    virtual void Popup(TPopupMenu& menu, TForm& form, int x, int y) = 0;
    // A timer was started or stopped.
    virtual void TimerChanged(TTimer& /*timer*/) {}
    // A wizard page was entered (for renderers that track pages and for recording hosts).
    virtual void PageShown(TWizardPage& /*page*/) {}

    // ---- Event handlers. An exception that leaves a handler run by the message loop goes to
    // OnException (the application's error display), as a window system's loop does; with
    // none set it leaves the loop.
    std::function<void(const std::exception&)> OnException;
    // The user asked the program to stop from outside its windows (Ctrl+C in a terminal).
    std::function<void()> OnInterrupt;
    void RunHandler(const std::function<void()>& handler);

    // ---- Posted messages, handled in the order they were posted.
    void Post(TForm& form, unsigned message);
    // Dispatches the oldest posted message; false when there was none.
    bool DispatchPostedMessage();
    void DispatchPostedMessages();
    // Drops what was posted to a form that goes away.
    void ForgetForm(const TForm& form);

protected:
    // Whether an exception out of a handler leaves the loop instead of being shown.
    virtual bool PassesThrough(const std::exception&) const { return !OnException; }
    // A message was queued by Post: a window system wakes its loop with a message of its own.
    virtual void Posted() {}

private:
    std::deque<std::pair<TForm*, unsigned>> posted_;
};

} // namespace purgelet::ui
