// A report-style list with check boxes: columns, rows with a caption, further cells, an image
// index, a check box and attached data, one selected row. OnChange fires for a check-state
// change and for a selection change, with the row concerned, from code as from the user.
#pragma once

#include "ui/component.h"

#include <functional>
#include <string>
#include <vector>

namespace purgelet::ui {

struct TListColumn {
    std::string Caption;
    int Width = 10; // layout units
    // Takes what the other columns leave of the list's width (shared with the other such
    // columns), never less than Width: a name column that shows whole names in a wide window.
    bool AutoSize = false;
};

struct TListItem {
    std::string Caption;
    std::vector<std::string> SubItems; // the cells after the first column
    int ImageIndex = 0;
    bool Checked = false;
    void* Data = nullptr; // not owned
};

// How a row is drawn, as the program decides it (the renderers know no row kinds). Only
// Normal rows carry data: the others are headers the keyboard passes over.
enum class TListItemStyle : std::uint8_t {
    Normal,     // check box, caption, cells
    Blank,      // nothing at all
    GroupTitle, // the caption in bold, no check box
    Rule,       // a horizontal rule across the row
};
struct TListItemDraw {
    TListItemStyle Style = TListItemStyle::Normal;
    bool ShowCells = true; // the cells after the caption
};

class TListView : public TControl {
public:
    TListView(std::string name, TRect bounds, TAnchors anchors = akTopLeft)
        : TControl(std::move(name), bounds, anchors) {
        TabStop = true;
    }
    TControlKind Kind() const override { return TControlKind::ListView; }

    std::vector<TListColumn> Columns;
    bool CheckBoxes = true;
    std::function<void(int index)> OnChange;
    std::function<TListItemDraw(const TListItem&)> OnCustomDraw;

    // The width of each column when width units are there for all of them: each its Width,
    // the AutoSize columns sharing what is left over (the first ones one more where it does
    // not divide).
    std::vector<int> ColumnWidths(int width) const;

    int Count() const { return static_cast<int>(items_.size()); }
    TListItem& Items(int index) { return items_.at(static_cast<std::size_t>(index)); }
    const TListItem& Items(int index) const { return items_.at(static_cast<std::size_t>(index)); }
    // Appends a row (no event) and returns it.
    TListItem& AddItem(TListItem item);
    // Removes every row and the selection (no event).
    void Clear();

    // A different state fires OnChange(index).
    void SetChecked(int index, bool value);
    int Selected() const { return selected_; }
    // A different selection fires OnChange(new index); -1 selects nothing.
    void SetSelected(int index);
    TListItemDraw DrawOf(int index) const;
    // Whether the keyboard stops on the row: Normal rows, not the header rows.
    bool Selectable(int index) const;
    // The row the keyboard is on, drawn highlighted while the list has the focus: the selected
    // row, else the first selectable row, so a list shows where it is before any key; -1 when
    // there is none. Space ticks it, the arrows move from it.
    int FocusedRow() const;

    int TopIndex = 0; // first row shown
    // The user's input: a click on a row's check box, a click on a row, the keyboard.
    bool UserToggle(int index);
    bool UserSelect(int index);
    // Moves the selection by delta rows from the focused row (arrows, pages) to the nearest
    // selectable row that way (else back towards it), then keeps it in view.
    bool UserMove(int delta);
    // Rows that fit in the control: its height less the column header.
    int VisibleRows() const;

private:
    void KeepInView();
    // The first selectable row from index on, stepping by step; -1 when none.
    int NextSelectable(int index, int step) const;

    std::vector<TListItem> items_;
    int selected_ = -1;
};

} // namespace purgelet::ui
