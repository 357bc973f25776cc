#include "ui/controls.h"

#include "ui/form.h"
#include "ui/host.h"

#include <algorithm>

namespace purgelet::ui {

TRect TGroupBox::ClientRect() const {
    return {1, 1, std::max(Bounds().Width - 2, 0), std::max(Bounds().Height - 2, 0)};
}

void TButton::Click() {
    if (OnClick)
        OnClick();
    if (ModalResult != 0)
        if (TForm* form = Form(); form != nullptr && form->IsModal())
            form->ModalResult = ModalResult;
}

bool TButton::UserClick() {
    if (!Usable())
        return false;
    Click();
    return true;
}

void TCheckBox::SetChecked(bool value) {
    if (checked_ == value)
        return;
    checked_ = value;
    if (OnClick)
        OnClick();
}

bool TCheckBox::UserToggle() {
    if (!Usable())
        return false;
    SetChecked(!checked_);
    return true;
}

void TRadioButton::SetChecked(bool value) {
    if (checked_ == value)
        return;
    checked_ = value;
    if (value)
        for (TRadioButton* other : Group())
            if (other != this)
                other->SetChecked(false);
    if (OnClick)
        OnClick();
}

std::vector<TRadioButton*> TRadioButton::Group() const {
    if (Parent() == nullptr)
        return {const_cast<TRadioButton*>(this)};
    std::vector<TRadioButton*> group;
    for (auto& sibling : Parent()->Children())
        if (sibling->Kind() == TControlKind::RadioButton)
            group.push_back(static_cast<TRadioButton*>(sibling.get()));
    return group;
}

bool TRadioButton::UserSelect() {
    if (!Usable())
        return false;
    SetChecked(true);
    return true;
}

void TEdit::SetText(const std::string& value) {
    if (text_ == value)
        return;
    text_ = value;
    if (OnChange)
        OnChange();
}

bool TEdit::UserType(const std::string& value) {
    if (!Usable())
        return false;
    SetText(value);
    return true;
}

void TComboBox::Clear() {
    items_.clear();
    index_ = -1;
}

void TComboBox::AddItem(std::string text, void* object) {
    items_.push_back({std::move(text), object});
}

void TComboBox::SetItemIndex(int index) {
    index_ = index >= 0 && index < Count() ? index : -1;
}

std::string TComboBox::Text() const {
    return index_ >= 0 ? items_[static_cast<std::size_t>(index_)].Text : std::string();
}

void* TComboBox::SelectedObject() const {
    return index_ >= 0 ? items_[static_cast<std::size_t>(index_)].Object : nullptr;
}

bool TComboBox::UserSelect(int index) {
    if (!Usable() || index < 0 || index >= Count())
        return false;
    if (index != index_) {
        index_ = index;
        if (OnChange)
            OnChange();
    }
    return true;
}

void TMemo::ScrollBy(int delta) {
    const int last = std::max(static_cast<int>(Lines.size()) - Bounds().Height, 0);
    TopLine = std::clamp(TopLine + delta, 0, last);
}

void TMemo::ScrollColumnsBy(int delta) {
    std::size_t widest = 0;
    for (const auto& line : Lines)
        widest = std::max(widest, line.size());
    const int last = std::max(static_cast<int>(widest) - Bounds().Width, 0);
    LeftColumn = std::clamp(LeftColumn + delta, 0, last);
}

void TGauge::SetProgress(int value) {
    progress_ = std::clamp(value, 0, 100);
}

void TTimer::SetEnabled(bool value) {
    if (enabled_ == value)
        return;
    enabled_ = value;
    form_.GetHost().TimerChanged(*this);
}

bool TSaveDialog::Execute() {
    return form_.GetHost().SaveFileDialog(*this);
}

TMenuItem* TPopupMenu::FindItem(const std::string& name) {
    for (auto& item : Items)
        if (item.Name == name)
            return &item;
    return nullptr;
}

void TPopupMenu::Popup(int x, int y) {
    form_.GetHost().Popup(*this, form_, x, y);
}

} // namespace purgelet::ui
