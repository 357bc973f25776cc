// A side bar: a titled panel with clickable items (the drive page's functions and details).
// Its height follows its visible items, and OnResize tells the page when it changed.
#pragma once

#include "ui/component.h"

#include <functional>
#include <string>
#include <vector>

namespace purgelet::ui {

struct TSideBarItem {
    std::string Caption;
    bool Visible = true;
    std::function<void()> OnClick; // empty: an item that only shows text
};

class TSideBar : public TControl {
public:
    TSideBar(std::string name, TRect bounds, TAnchors anchors = akTopLeft)
        : TControl(std::move(name), bounds, anchors) {
        TabStop = true;
    }
    TControlKind Kind() const override { return TControlKind::SideBar; }

    std::function<void()> OnResize;

    int Count() const { return static_cast<int>(items_.size()); }
    TSideBarItem& Items(int index) { return items_.at(static_cast<std::size_t>(index)); }
    const TSideBarItem& Items(int index) const {
        return items_.at(static_cast<std::size_t>(index));
    }
    void AddItem(TSideBarItem item);
    void ClearItems();
    void SetItemVisible(int index, bool value);
    // Visible items in order (what is drawn, one line each, below the title line).
    std::vector<int> VisibleItems() const;

    int Focused = 0; // the item the keyboard is on, an index of VisibleItems
    bool UserClickItem(int index);
    bool UserMove(int delta);
    bool UserClickFocused();

private:
    // The height is the title line and one line per visible item.
    void Refit();

    std::vector<TSideBarItem> items_;
};

} // namespace purgelet::ui
