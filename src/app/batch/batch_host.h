// The Host of a run with no one at the keyboard and no renderer. Nothing is shown and nobody
// answers: a message box (a start-up that fails, an empty drive list) is said on the error
// stream and answered as closed, an input box as cancelled; posted messages are dispatched
// and sleeping takes the system's time.
#pragma once

#include "ui/host.h"

#include <functional>
#include <string>

namespace purgelet {

class TBatchHost : public ui::Host {
public:
    // Takes a text to say (the program's code page, lines broken by "\n"), without a line
    // break at its end.
    using Writer = std::function<void(const std::string& text)>;
    explicit TBatchHost(Writer tell);

    int MessageDialog(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons,
                      int helpContext) override;
    void ProcessMessages() override;
    void Sleep(unsigned milliseconds) override;
    void ShowModal(ui::TForm& form) override;
    void Run(ui::TForm& mainForm) override;
    bool InputQuery(const std::string& caption, const std::string& prompt,
                    std::string& value) override;
    bool SaveFileDialog(ui::TSaveDialog& dialog) override;
    void Popup(ui::TPopupMenu& menu, ui::TForm& form, int x, int y) override;

private:
    Writer tell_;
};

} // namespace purgelet
