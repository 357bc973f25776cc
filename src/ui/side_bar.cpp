#include "ui/side_bar.h"

#include <algorithm>

namespace purgelet::ui {

void TSideBar::AddItem(TSideBarItem item) {
    items_.push_back(std::move(item));
    Refit();
}

void TSideBar::ClearItems() {
    items_.clear();
    Focused = 0;
    Refit();
}

void TSideBar::SetItemVisible(int index, bool value) {
    TSideBarItem& item = Items(index);
    if (item.Visible == value)
        return;
    item.Visible = value;
    Refit();
}

std::vector<int> TSideBar::VisibleItems() const {
    std::vector<int> shown;
    for (int i = 0; i < Count(); ++i)
        if (items_[static_cast<std::size_t>(i)].Visible)
            shown.push_back(i);
    return shown;
}

bool TSideBar::UserClickItem(int index) {
    if (!Usable() || index < 0 || index >= Count())
        return false;
    const TSideBarItem& item = Items(index);
    if (!item.Visible || !item.OnClick)
        return false;
    auto action = item.OnClick; // the handler may rebuild the items
    action();
    return true;
}

bool TSideBar::UserMove(int delta) {
    const int shown = static_cast<int>(VisibleItems().size());
    if (!Usable() || shown == 0)
        return false;
    Focused = std::clamp(Focused + delta, 0, shown - 1);
    return true;
}

bool TSideBar::UserClickFocused() {
    const std::vector<int> shown = VisibleItems();
    if (Focused < 0 || Focused >= static_cast<int>(shown.size()))
        return false;
    return UserClickItem(shown[static_cast<std::size_t>(Focused)]);
}

void TSideBar::Refit() {
    const int height = 1 + static_cast<int>(VisibleItems().size());
    Focused = std::clamp(Focused, 0, std::max(height - 2, 0));
    if (height == Bounds().Height)
        return;
    TRect r = Bounds();
    r.Height = height;
    SetBounds(r);
    if (OnResize)
        OnResize();
}

} // namespace purgelet::ui
