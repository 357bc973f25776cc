#include "app/batch/batch_host.h"

#include "platform/system.h"
#include "ui/form.h"

#include <utility>

namespace purgelet {

TBatchHost::TBatchHost(Writer tell) : tell_(std::move(tell)) {}

int TBatchHost::MessageDialog(const std::string& text, TMsgDlgType, TMsgDlgButtons, int) {
    if (tell_) {
        std::string line;
        for (char c : text)
            if (c != '\r')
                line += c;
        tell_(line);
    }
    return mrNone;
}

void TBatchHost::ProcessMessages() {
    DispatchPostedMessages();
}

void TBatchHost::Sleep(unsigned milliseconds) {
    platform::k32().Sleep(milliseconds);
}

void TBatchHost::ShowModal(ui::TForm& form) {
    form.ModalResult = mrCancel; // nobody to choose: closed
}

void TBatchHost::Run(ui::TForm&) {}

bool TBatchHost::InputQuery(const std::string&, const std::string&, std::string&) {
    return false;
}

bool TBatchHost::SaveFileDialog(ui::TSaveDialog&) {
    return false;
}

void TBatchHost::Popup(ui::TPopupMenu&, ui::TForm&, int, int) {}

} // namespace purgelet
