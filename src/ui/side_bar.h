// A side bar: a titled panel with clickable items (the drive page's functions and details).
// An item wider than the bar goes on over further lines rather than being cut; the bar's
// height follows the lines of its visible items, and OnResize tells the page when it changed.
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

// A line of a side bar below its title: a part of a visible item's caption, drawn Indent
// columns from the bar's left edge.
struct TSideBarLine {
    int Item = 0; // the index of the item
    int Indent = 1;
    std::string Text;
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
    // Visible items in order.
    std::vector<int> VisibleItems() const;
    // What is drawn below the title line: each visible item, wrapped to the bar's width, its
    // further lines indented.
    std::vector<TSideBarLine> Lines() const;

    int Focused = 0; // the item the keyboard is on, an index of VisibleItems
    bool UserClickItem(int index);
    bool UserMove(int delta);
    bool UserClickFocused();

protected:
    void Resized(int deltaWidth, int deltaHeight) override;

private:
    // The height is the title line and the lines of the visible items.
    void Refit();

    std::vector<TSideBarItem> items_;
};

} // namespace purgelet::ui
