// The question after each drive's wipe: go on with the next drive, look at this drive's
// blocks first, or abort the rest of the run. The caller words the caption, the question and
// the three buttons; an empty button text hides that button (an optical disc has no blocks to
// view). The answer stays from one call to the next, so closing the dialog without a button
// (Escape, Alt+F4) repeats the previous answer.
#pragma once

#include "ui/controls.h"
#include "ui/form.h"

#include <string>

namespace purgelet {

class TAskDlg : public ui::TForm {
public:
    // The answers, as the wipe run acts on them.
    static constexpr int AnswerContinue = 0;
    static constexpr int AnswerViewDisk = 1;
    static constexpr int AnswerAbort = 2;

    explicit TAskDlg(ui::Host& host);

    // Shows the dialog modally and returns the answer (0..2).
    int Ask(const std::string& Caption, const std::string& Question,
            const std::string& ContinueText, const std::string& ViewDiskText,
            const std::string& AbortText);

    int FAnswer = AnswerContinue;

    ui::TLabel& lblQuestion;
    ui::TButton& btnContinue;
    ui::TButton& btnViewDisk;
    ui::TButton& btnAbort;

    void btnContinueClick();
    void btnViewDiskClick();
    void btnAbortClick();

private:
    // Lays the visible buttons out left to right, centred on the button row.
    void PlaceButtons();
    void Answer(int value);
};

} // namespace purgelet
