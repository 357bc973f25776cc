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

std::vector<TSideBarLine> TSideBar::Lines() const {
    // Further lines stand two columns in from the first.
    constexpr int kFirst = 1, kFurther = 3;
    const int width = Bounds().Width;
    std::vector<TSideBarLine> lines;
    for (int index : VisibleItems()) {
        std::string rest = Items(index).Caption;
        int indent = kFirst;
        for (;;) {
            const std::vector<std::string> parts = WrapText(rest, std::max(width - indent, 1));
            lines.push_back({index, indent, parts.front()});
            if (parts.size() == 1)
                break;
            // What the first line left, without the space or line break it was broken at.
            std::size_t used = parts.front().size();
            if (used < rest.size() && rest[used] == '\r')
                ++used;
            if (used < rest.size() && (rest[used] == ' ' || rest[used] == '\n'))
                ++used;
            rest.erase(0, used);
            indent = kFurther;
        }
    }
    return lines;
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

void TSideBar::Resized(int deltaWidth, int deltaHeight) {
    TControl::Resized(deltaWidth, deltaHeight);
    if (deltaWidth != 0)
        Refit();
}

void TSideBar::Refit() {
    Focused = std::clamp(Focused, 0, std::max(static_cast<int>(VisibleItems().size()) - 1, 0));
    const int height = 1 + static_cast<int>(Lines().size());
    if (height == Bounds().Height)
        return;
    TRect r = Bounds();
    r.Height = height;
    SetBounds(r);
    if (OnResize)
        OnResize();
}

} // namespace purgelet::ui
