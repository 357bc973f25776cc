// What a renderer gives the program: modal message dialogs, a turn for the window system,
// and sleep. The program's logic runs on the one user-interface thread and reaches the user
// only through a Host, so the Windows GUI, the terminal front end and the scripted host of
// the tests are interchangeable.
#pragma once

#include "disk/message_object.h"

#include <string>

namespace purgelet::ui {

class Host {
public:
    virtual ~Host() = default;

    // Shows a modal message dialog (text may hold CR LF line breaks) and returns the modal
    // result of the button the user chose (mrNone when the dialog was closed otherwise).
    virtual int MessageDialog(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons,
                              int helpContext) = 0;
    // Lets the window system handle the messages waiting in the queue; button handlers run
    // nested inside this call.
    virtual void ProcessMessages() = 0;
    virtual void Sleep(unsigned milliseconds) = 0;
};

} // namespace purgelet::ui
