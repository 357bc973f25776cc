#include "ui/form.h"

#include "ui/controls.h"
#include "ui/host.h"
#include "ui/list_view.h"
#include "ui/side_bar.h"
#include "ui/wizard.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace purgelet::ui {

TForm::TForm(std::string name, Host& host, TRect bounds)
    : TControl(std::move(name), bounds, akTopLeft), host_(host) {
    SetVisible(false);
}

TForm::~TForm() {
    host_.ForgetForm(*this);
}

TRect TForm::ClientRect() const {
    return {1, 1, std::max(Bounds().Width - 2, 0), std::max(Bounds().Height - 2, 0)};
}

TRect TForm::OuterFor(int clientWidth, int clientHeight) {
    return {0, 0, clientWidth + 2, clientHeight + 2};
}

TComponent* TForm::FindComponent(const std::string& name) {
    if (TControl* control = Find(name))
        return control;
    for (auto& component : components_)
        if (component->Name == name)
            return component.get();
    return nullptr;
}

int TForm::ShowModal() {
    modal_ = true;
    closed_ = false;
    ModalResult = 0;
    SetVisible(true);
    if (OnShow)
        OnShow();
    if (active_ == nullptr || !active_->Usable())
        FocusNext();
    try {
        host_.ShowModal(*this);
    } catch (...) {
        modal_ = false;
        SetVisible(false);
        throw;
    }
    modal_ = false;
    SetVisible(false);
    return ModalResult;
}

void TForm::Show() {
    closed_ = false;
    SetVisible(true);
    if (OnShow)
        OnShow();
    if (active_ == nullptr || !active_->Usable()) {
        if (TButton* button = DefaultButton())
            SetFocus(button);
        else
            FocusNext();
    }
}

void TForm::Close() {
    if (OnCloseQuery && !OnCloseQuery())
        return;
    if (OnClose)
        OnClose();
    if (modal_) {
        if (ModalResult == 0)
            ModalResult = mrCancel;
        return;
    }
    closed_ = true;
    SetVisible(false);
}

void TForm::Post(unsigned message) {
    host_.Post(*this, message);
}

void TForm::SetMessageHandler(unsigned message, std::function<void()> handler) {
    handlers_[message] = std::move(handler);
}

void TForm::Dispatch(unsigned message) {
    if (auto found = handlers_.find(message); found != handlers_.end() && found->second)
        found->second();
}

// ---- Keyboard.

namespace {

void CollectTabStops(TControl& control, std::vector<TControl*>& out) {
    std::vector<TControl*> children;
    for (auto& child : control.Children())
        children.push_back(child.get());
    std::stable_sort(children.begin(), children.end(), [](const TControl* a, const TControl* b) {
        return a->TabOrder < b->TabOrder;
    });
    for (TControl* child : children) {
        if (!child->Visible() || !child->Enabled())
            continue;
        if (child->TabStop)
            out.push_back(child);
        CollectTabStops(*child, out);
    }
}

} // namespace

std::vector<TControl*> TForm::TabStops() {
    std::vector<TControl*> stops;
    CollectTabStops(*this, stops);
    return stops;
}

bool TForm::SetFocus(TControl* control) {
    if (control != nullptr && (!control->TabStop || !control->Usable()))
        return false;
    if (control == active_)
        return true;
    TControl* previous = active_;
    active_ = control;
    if (previous != nullptr && previous->Kind() == TControlKind::Edit) {
        auto& edit = static_cast<TEdit&>(*previous);
        if (edit.OnExit)
            edit.OnExit();
    }
    return true;
}

void TForm::FocusNext(bool backward) {
    std::vector<TControl*> stops = TabStops();
    if (stops.empty()) {
        SetFocus(nullptr);
        return;
    }
    auto at = std::find(stops.begin(), stops.end(), active_);
    std::size_t index;
    if (at == stops.end())
        index = backward ? stops.size() - 1 : 0;
    else if (backward)
        index = (static_cast<std::size_t>(at - stops.begin()) + stops.size() - 1) % stops.size();
    else
        index = (static_cast<std::size_t>(at - stops.begin()) + 1) % stops.size();
    SetFocus(stops[index]);
}

namespace {

TControl* FindAcceleratorIn(TControl& control, char letter) {
    for (auto& child : control.Children()) {
        if (!child->Visible() || !child->Enabled())
            continue;
        if (child->Kind() != TControlKind::GroupBox && child->Kind() != TControlKind::Panel &&
            child->Accelerator() == letter)
            return child.get();
        if (TControl* found = FindAcceleratorIn(*child, letter))
            return found;
    }
    return nullptr;
}

// How far the vertical keys move a view of count lines that shows page of them at a time;
// nullopt for other keys.
std::optional<int> VerticalStep(TKey key, int page, int count) {
    switch (key) {
    case TKey::Up:
        return -1;
    case TKey::Down:
        return 1;
    case TKey::PageUp:
        return -page;
    case TKey::PageDown:
        return page;
    case TKey::Home:
        return -count;
    case TKey::End:
        return count;
    default:
        return std::nullopt;
    }
}

// The first showing wizard of a subtree, null when none.
TWizard* ShowingWizard(TControl& control) {
    for (auto& child : control.Children()) {
        if (!child->Visible())
            continue;
        if (child->Kind() == TControlKind::Wizard)
            return static_cast<TWizard*>(child.get());
        if (TWizard* inner = ShowingWizard(*child))
            return inner;
    }
    return nullptr;
}

} // namespace

TButton* TForm::DefaultButton() {
    if (active_ != nullptr && active_->Kind() == TControlKind::Button && active_->Usable())
        return static_cast<TButton*>(active_);
    if (default_ != nullptr && default_->Usable())
        return default_;
    if (TWizard* wizard = ShowingWizard(*this))
        return wizard->DefaultButton();
    return nullptr;
}

TControl* TForm::FindAccelerator(char letter) {
    letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    return letter == 0 ? nullptr : FindAcceleratorIn(*this, letter);
}

void TForm::Activate(TControl& control) {
    switch (control.Kind()) {
    case TControlKind::Button:
        SetFocus(&control);
        static_cast<TButton&>(control).UserClick();
        break;
    case TControlKind::CheckBox:
        SetFocus(&control);
        static_cast<TCheckBox&>(control).UserToggle();
        break;
    case TControlKind::RadioButton:
        SetFocus(&control);
        static_cast<TRadioButton&>(control).UserSelect();
        break;
    case TControlKind::Label:
        if (auto* target = static_cast<TLabel&>(control).FocusControl)
            SetFocus(target);
        break;
    default:
        SetFocus(&control);
        break;
    }
}

bool TForm::ControlKey(TControl& control, const TKeyEvent& e) {
    switch (control.Kind()) {
    case TControlKind::Button:
        if (e.Key == TKey::Enter || e.Key == TKey::Space)
            return static_cast<TButton&>(control).UserClick();
        return false;
    case TControlKind::CheckBox:
        if (e.Key == TKey::Space)
            return static_cast<TCheckBox&>(control).UserToggle();
        return false;
    case TControlKind::RadioButton: {
        if (e.Key == TKey::Space)
            return static_cast<TRadioButton&>(control).UserSelect();
        if (e.Key != TKey::Up && e.Key != TKey::Down && e.Key != TKey::Left && e.Key != TKey::Right)
            return false;
        // The arrows choose the next radio button of the group, as in a dialog.
        std::vector<TRadioButton*> group = static_cast<TRadioButton&>(control).Group();
        std::erase_if(group, [&control](const TRadioButton* radio) {
            return radio != &control && !radio->Usable();
        });
        const auto at = std::find(group.begin(), group.end(), &control);
        if (at == group.end())
            return false;
        const bool back = e.Key == TKey::Up || e.Key == TKey::Left;
        const auto index = static_cast<std::size_t>(at - group.begin());
        TRadioButton* next = group[(index + (back ? group.size() - 1 : 1)) % group.size()];
        SetFocus(next);
        return next->UserSelect();
    }
    case TControlKind::Edit: {
        auto& edit = static_cast<TEdit&>(control);
        if (e.Key == TKey::Char && !e.Alt)
            return edit.UserType(edit.Text() + e.Char);
        if (e.Key == TKey::Space)
            return edit.UserType(edit.Text() + ' ');
        if (e.Key == TKey::Backspace && !edit.Text().empty())
            return edit.UserType(edit.Text().substr(0, edit.Text().size() - 1));
        return false;
    }
    case TControlKind::ComboBox: {
        auto& combo = static_cast<TComboBox&>(control);
        const int at = combo.ItemIndex();
        if (e.Key == TKey::Down || e.Key == TKey::Right)
            return combo.UserSelect(std::min(at + 1, combo.Count() - 1));
        if (e.Key == TKey::Up || e.Key == TKey::Left)
            return combo.UserSelect(std::max(at - 1, 0));
        if (e.Key == TKey::Home)
            return combo.UserSelect(0);
        if (e.Key == TKey::End)
            return combo.UserSelect(combo.Count() - 1);
        return false;
    }
    case TControlKind::ListView: {
        auto& list = static_cast<TListView&>(control);
        if (auto step = VerticalStep(e.Key, std::max(list.VisibleRows() - 1, 1), list.Count()))
            return list.UserMove(*step);
        if (e.Key == TKey::Space)
            return list.UserToggle(list.FocusedRow());
        return false;
    }
    case TControlKind::Memo: {
        auto& memo = static_cast<TMemo&>(control);
        const int lines = static_cast<int>(memo.Lines.size());
        if (auto step = VerticalStep(e.Key, std::max(memo.Bounds().Height - 1, 1), lines)) {
            memo.ScrollBy(*step);
            return true;
        }
        if (e.Key != TKey::Left && e.Key != TKey::Right)
            return false;
        memo.ScrollColumnsBy(e.Key == TKey::Left ? -1 : 1);
        return true;
    }
    case TControlKind::SideBar: {
        auto& bar = static_cast<TSideBar&>(control);
        if (e.Key == TKey::Up)
            return bar.UserMove(-1);
        if (e.Key == TKey::Down)
            return bar.UserMove(1);
        if (e.Key == TKey::Enter || e.Key == TKey::Space)
            return bar.UserClickFocused();
        return false;
    }
    default:
        return false;
    }
}

bool TForm::HandleKey(const TKeyEvent& e) {
    if (active_ != nullptr && !active_->Usable())
        active_ = nullptr;
    if (PreviewKey(e))
        return true;
    if (e.Alt) {
        if (TControl* target = FindAccelerator(e.Char)) {
            Activate(*target);
            return true;
        }
        return false;
    }
    if (e.Key == TKey::Tab || e.Key == TKey::BackTab) {
        FocusNext(e.Key == TKey::BackTab);
        return true;
    }
    if (active_ != nullptr && ControlKey(*active_, e))
        return true;
    // Arrows move between buttons, as in a row of dialog buttons or a menu.
    if (active_ != nullptr && active_->Kind() == TControlKind::Button &&
        (e.Key == TKey::Up || e.Key == TKey::Down || e.Key == TKey::Left || e.Key == TKey::Right)) {
        FocusNext(e.Key == TKey::Up || e.Key == TKey::Left);
        return true;
    }
    if (e.Key == TKey::Enter) {
        if (TButton* button = DefaultButton())
            return button->UserClick();
        return false;
    }
    if (e.Key == TKey::Escape && CancelButton != nullptr)
        return CancelButton->UserClick();
    if (e.Key == TKey::Escape && EscapeCloses) {
        Close();
        return true;
    }
    return false;
}

namespace {

// The innermost showing control at a point of the form's client area.
TControl* ControlAtIn(TControl& parent, int x, int y) {
    for (auto it = parent.Children().rbegin(); it != parent.Children().rend(); ++it) {
        TControl& child = **it;
        if (!child.Visible())
            continue;
        const TRect r = child.FormRect();
        if (x < r.Left || x >= r.Right() || y < r.Top || y >= r.Bottom())
            continue;
        if (TControl* inner = ControlAtIn(child, x, y))
            return inner;
        return &child;
    }
    return nullptr;
}

} // namespace

TControl* TForm::ControlAt(int x, int y) {
    return ControlAtIn(*this, x, y);
}

bool TForm::HandleClick(int x, int y) {
    TControl* control = ControlAt(x, y);
    if (control == nullptr || !control->Usable())
        return false;
    const TRect r = control->FormRect();
    switch (control->Kind()) {
    case TControlKind::ListView: {
        auto& list = static_cast<TListView&>(*control);
        SetFocus(&list);
        const int row = y - r.Top - 1 + list.TopIndex; // below the column header
        if (y == r.Top || row >= list.Count())
            return false;
        // A click on the check box ticks, anywhere else selects.
        if (list.CheckBoxes && x < r.Left + 4)
            return list.UserToggle(row);
        return list.UserSelect(row);
    }
    case TControlKind::SideBar: {
        auto& bar = static_cast<TSideBar&>(*control);
        const std::vector<TSideBarLine> lines = bar.Lines();
        const int line = y - r.Top - 1; // below the title
        if (line < 0 || line >= static_cast<int>(lines.size()))
            return false;
        const int item = lines[static_cast<std::size_t>(line)].Item;
        const std::vector<int> shown = bar.VisibleItems();
        bar.Focused = static_cast<int>(std::find(shown.begin(), shown.end(), item) - shown.begin());
        return bar.UserClickItem(item);
    }
    case TControlKind::ComboBox: {
        auto& combo = static_cast<TComboBox&>(*control);
        SetFocus(&combo);
        return combo.Count() > 0 && combo.UserSelect((combo.ItemIndex() + 1) % combo.Count());
    }
    case TControlKind::Button:
    case TControlKind::CheckBox:
    case TControlKind::RadioButton:
    case TControlKind::Label:
        Activate(*control);
        return true;
    default:
        return SetFocus(control);
    }
}

} // namespace purgelet::ui
