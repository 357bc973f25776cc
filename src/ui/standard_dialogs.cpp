#include "ui/standard_dialogs.h"

#include <algorithm>

namespace purgelet::ui {

namespace {

constexpr TMsgDlgBtn kOrder[] = {TMsgDlgBtn::mbYes,     TMsgDlgBtn::mbNo,    TMsgDlgBtn::mbOK,
                                 TMsgDlgBtn::mbCancel,  TMsgDlgBtn::mbAbort, TMsgDlgBtn::mbRetry,
                                 TMsgDlgBtn::mbIgnore,  TMsgDlgBtn::mbAll,   TMsgDlgBtn::mbNoToAll,
                                 TMsgDlgBtn::mbYesToAll};

int ButtonWidth(const std::string& caption) {
    return std::max(static_cast<int>(StripAccelerator(caption).size()) + 4, 10);
}

// A row of buttons centred in width.
void AddButtonRow(TForm& form, const std::vector<std::pair<std::string, int>>& buttons, int row,
                  int width) {
    int total = -1;
    for (const auto& b : buttons)
        total += ButtonWidth(b.first) + 1;
    int x = std::max((width - total) / 2, 0);
    int order = 10;
    for (const auto& [caption, result] : buttons) {
        auto& button = form.Add<TButton>("Button" + StripAccelerator(caption),
                                         TRect{x, row, ButtonWidth(caption), 1});
        button.Caption = caption;
        button.ModalResult = result;
        button.TabOrder = order++;
        x += ButtonWidth(caption) + 1;
    }
}

TButton* FindButton(TForm& form, int result) {
    for (auto& child : form.Children())
        if (auto* button = dynamic_cast<TButton*>(child.get());
            button && button->ModalResult == result)
            return button;
    return nullptr;
}

std::unique_ptr<TForm> MakeEditForm(Host& host, const std::string& name, const std::string& caption,
                                    const std::string& prompt, const std::string& value) {
    constexpr int width = 60;
    const auto promptLines = WrapText(prompt, width - 2);
    const int lines = static_cast<int>(promptLines.size());
    auto form = std::make_unique<TForm>(name, host, TForm::OuterFor(width, lines + 5));
    form->Caption = caption;
    auto& label = form->Add<TLabel>("Prompt", TRect{1, 0, width - 2, lines});
    label.Caption = prompt;
    label.WordWrap = true;
    auto& edit = form->Add<TEdit>("Value", TRect{1, lines + 1, width - 2, 1});
    edit.SetText(value);
    edit.TabOrder = 1;
    AddButtonRow(*form, {{"OK", mrOk}, {"Cancel", mrCancel}}, lines + 3, width);
    form->SetDefaultButton(FindButton(*form, mrOk));
    form->CancelButton = FindButton(*form, mrCancel);
    form->SetFocus(&edit);
    return form;
}

} // namespace

std::string DialogTypeCaption(TMsgDlgType type) {
    switch (type) {
    case TMsgDlgType::mtWarning:
        return "Warning";
    case TMsgDlgType::mtError:
        return "Error";
    case TMsgDlgType::mtInformation:
        return "Information";
    case TMsgDlgType::mtConfirmation:
        return "Confirmation";
    }
    return "";
}

std::string DialogButtonCaption(TMsgDlgBtn button) {
    switch (button) {
    case TMsgDlgBtn::mbYes:
        return "&Yes";
    case TMsgDlgBtn::mbNo:
        return "&No";
    case TMsgDlgBtn::mbOK:
        return "OK";
    case TMsgDlgBtn::mbCancel:
        return "Cancel";
    case TMsgDlgBtn::mbAbort:
        return "&Abort";
    case TMsgDlgBtn::mbRetry:
        return "&Retry";
    case TMsgDlgBtn::mbIgnore:
        return "&Ignore";
    case TMsgDlgBtn::mbAll:
        return "A&ll";
    case TMsgDlgBtn::mbNoToAll:
        return "N&o to All";
    case TMsgDlgBtn::mbYesToAll:
        return "Yes to &All";
    }
    return "";
}

int DialogButtonResult(TMsgDlgBtn button) {
    switch (button) {
    case TMsgDlgBtn::mbYes:
        return mrYes;
    case TMsgDlgBtn::mbNo:
        return mrNo;
    case TMsgDlgBtn::mbOK:
        return mrOk;
    case TMsgDlgBtn::mbCancel:
        return mrCancel;
    case TMsgDlgBtn::mbAbort:
        return mrAbort;
    case TMsgDlgBtn::mbRetry:
        return mrRetry;
    case TMsgDlgBtn::mbIgnore:
        return mrIgnore;
    case TMsgDlgBtn::mbAll:
        return mrAll;
    case TMsgDlgBtn::mbNoToAll:
        return mrNoToAll;
    case TMsgDlgBtn::mbYesToAll:
        return mrYesToAll;
    }
    return mrNone;
}

std::unique_ptr<TForm> MakeMessageForm(Host& host, const std::string& text, TMsgDlgType type,
                                       TMsgDlgButtons buttons, int maxTextWidth) {
    std::vector<std::pair<std::string, int>> row;
    int buttonsWidth = -1;
    for (TMsgDlgBtn b : kOrder)
        if (buttons.Contains(b)) {
            row.emplace_back(DialogButtonCaption(b), DialogButtonResult(b));
            buttonsWidth += ButtonWidth(row.back().first) + 1;
        }
    if (row.empty()) { // a dialog must be answerable
        row.emplace_back("OK", mrOk);
        buttonsWidth = ButtonWidth("OK");
    }
    const auto lines = WrapText(text, std::max(maxTextWidth, 20));
    int textWidth = 0;
    for (const auto& line : lines)
        textWidth = std::max(textWidth, static_cast<int>(line.size()));
    const int width = std::max({textWidth + 4, buttonsWidth + 4, 30});
    const int height = static_cast<int>(lines.size()) + 3;
    auto form = std::make_unique<TForm>("MessageDlg", host, TForm::OuterFor(width, height));
    form->Caption = DialogTypeCaption(type);
    auto& label =
        form->Add<TLabel>("Message", TRect{2, 1, width - 4, static_cast<int>(lines.size())});
    label.Caption = text;
    label.WordWrap = true;
    AddButtonRow(*form, row, height - 1, width);
    form->CancelButton = FindButton(*form, mrCancel);
    form->EscapeCloses = form->CancelButton == nullptr;
    form->FocusNext();
    return form;
}

std::unique_ptr<TForm> MakeInputForm(Host& host, const std::string& caption,
                                     const std::string& prompt, const std::string& value) {
    return MakeEditForm(host, "InputDlg", caption, prompt, value);
}

std::unique_ptr<TForm> MakeSaveForm(Host& host, const TSaveDialog& dialog) {
    std::string prompt = "File name";
    // "Text Files|*.txt|All Files|*.*": the names, for the user's orientation.
    std::string kinds;
    std::size_t start = 0;
    for (int i = 0; start <= dialog.Filter.size() && !dialog.Filter.empty(); ++i) {
        const std::size_t bar = dialog.Filter.find('|', start);
        const std::string part =
            dialog.Filter.substr(start, bar == std::string::npos ? bar : bar - start);
        if (i % 2 == 1)
            kinds += (kinds.empty() ? "" : ", ") + part;
        if (bar == std::string::npos)
            break;
        start = bar + 1;
    }
    if (!kinds.empty())
        prompt += " (" + kinds + ")";
    return MakeEditForm(host, "SaveDlg", dialog.Title.empty() ? "Save As" : dialog.Title,
                        prompt + ":", dialog.FileName);
}

std::unique_ptr<TForm> MakeMenuForm(Host& host, const TPopupMenu& menu) {
    int width = 10;
    int count = 0;
    for (const auto& item : menu.Items)
        if (item.Visible) {
            width = std::max(width, static_cast<int>(StripAccelerator(item.Caption).size()) + 4);
            ++count;
        }
    auto form = std::make_unique<TForm>("PopupMenu", host, TForm::OuterFor(width, count));
    int row = 0;
    for (const auto& item : menu.Items) {
        if (!item.Visible)
            continue;
        auto& button = form->Add<TButton>(item.Name, TRect{0, row, width, 1});
        button.Caption = item.Caption;
        button.SetEnabled(item.Enabled);
        button.TabOrder = row;
        button.ModalResult = 100 + row; // which item; the host maps it back
        ++row;
    }
    form->EscapeCloses = true;
    form->FocusNext();
    return form;
}

std::string InputValue(TForm& form) {
    auto* edit = dynamic_cast<TEdit*>(form.Find("Value"));
    return edit != nullptr ? edit->Text() : std::string();
}

bool RunInputForm(Host& host, const std::string& caption, const std::string& prompt,
                  std::string& value) {
    auto form = MakeInputForm(host, caption, prompt, value);
    if (form->ShowModal() != mrOk)
        return false;
    value = InputValue(*form);
    return true;
}

int MessageAnswer(int modalResult, TMsgDlgButtons buttons) {
    return modalResult == mrCancel && !buttons.Contains(TMsgDlgBtn::mbCancel) ? mrNone
                                                                              : modalResult;
}

} // namespace purgelet::ui
