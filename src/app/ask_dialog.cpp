#include "app/ask_dialog.h"

#include <algorithm>
#include <array>

namespace purgelet {

namespace {

constexpr int kClientWidth = 58;
constexpr int kClientHeight = 8;
constexpr int kButtonRow = 6;
constexpr int kButtonGap = 2;
constexpr int kMinButtonWidth = 12;

} // namespace

TAskDlg::TAskDlg(ui::Host& host)
    : ui::TForm("AskDlg", host, ui::TForm::OuterFor(kClientWidth, kClientHeight)),
      lblQuestion(Add<ui::TLabel>("lblQuestion", ui::TRect{1, 1, kClientWidth - 2, 4},
                                  ui::akLeft | ui::akTop | ui::akRight)),
      btnContinue(Add<ui::TButton>("btnContinue", ui::TRect{})),
      btnViewDisk(Add<ui::TButton>("btnViewDisk", ui::TRect{})),
      btnAbort(Add<ui::TButton>("btnAbort", ui::TRect{})) {
    lblQuestion.WordWrap = true;
    btnContinue.TabOrder = 0;
    btnViewDisk.TabOrder = 1;
    btnAbort.TabOrder = 2;
    btnContinue.OnClick = [this] { btnContinueClick(); };
    btnViewDisk.OnClick = [this] { btnViewDiskClick(); };
    btnAbort.OnClick = [this] { btnAbortClick(); };
    // Every button is an answer, so Escape closes without pressing one and keeps FAnswer.
    EscapeCloses = true;
    // Each question starts on its first button, not on the one that answered the last.
    OnShow = [this] {
        for (ui::TButton* button : {&btnContinue, &btnViewDisk, &btnAbort})
            if (button->Visible()) {
                SetFocus(button);
                break;
            }
    };
}

int TAskDlg::Ask(const std::string& Caption, const std::string& Question,
                 const std::string& ContinueText, const std::string& ViewDiskText,
                 const std::string& AbortText) {
    this->Caption = Caption;
    lblQuestion.Caption = Question;
    const std::array<std::pair<ui::TButton*, const std::string*>, 3> buttons = {
        {{&btnContinue, &ContinueText}, {&btnViewDisk, &ViewDiskText}, {&btnAbort, &AbortText}}};
    for (auto [button, text] : buttons) {
        button->Caption = *text;
        button->SetVisible(!text->empty());
    }
    PlaceButtons();
    ShowModal();
    return FAnswer;
}

void TAskDlg::btnContinueClick() {
    Answer(AnswerContinue);
}

void TAskDlg::btnViewDiskClick() {
    Answer(AnswerViewDisk);
}

void TAskDlg::btnAbortClick() {
    Answer(AnswerAbort);
}

void TAskDlg::Answer(int value) {
    FAnswer = value;
    Close();
}

void TAskDlg::PlaceButtons() {
    const int client = ClientRect().Width;
    auto widthOf = [](const ui::TButton& button) {
        return std::max(static_cast<int>(button.PlainCaption().size()) + 4, kMinButtonWidth);
    };
    int total = 0;
    int shown = 0;
    for (ui::TButton* button : {&btnContinue, &btnViewDisk, &btnAbort})
        if (button->Visible()) {
            total += widthOf(*button);
            ++shown;
        }
    total += std::max(shown - 1, 0) * kButtonGap;
    int left = std::max((client - total) / 2, 0);
    for (ui::TButton* button : {&btnContinue, &btnViewDisk, &btnAbort}) {
        if (!button->Visible())
            continue;
        const int width = widthOf(*button);
        button->SetBounds({left, kButtonRow, width, 1});
        left += width + kButtonGap;
    }
}

} // namespace purgelet
