#include "ui/list_view.h"

#include <algorithm>

namespace purgelet::ui {

std::vector<int> TListView::ColumnWidths(int width) const {
    std::vector<int> widths;
    int spare = width;
    int stretching = 0;
    for (const TListColumn& column : Columns) {
        widths.push_back(column.Width);
        spare -= column.Width;
        stretching += column.AutoSize ? 1 : 0;
    }
    if (spare <= 0 || stretching == 0)
        return widths;
    int extra = spare % stretching; // one more for each of the first ones
    for (std::size_t i = 0; i < Columns.size(); ++i)
        if (Columns[i].AutoSize) {
            widths[i] += spare / stretching + (extra > 0 ? 1 : 0);
            --extra;
        }
    return widths;
}

TListItem& TListView::AddItem(TListItem item) {
    items_.push_back(std::move(item));
    return items_.back();
}

void TListView::Clear() {
    items_.clear();
    selected_ = -1;
    TopIndex = 0;
}

void TListView::SetChecked(int index, bool value) {
    TListItem& item = Items(index);
    if (item.Checked == value)
        return;
    item.Checked = value;
    if (OnChange)
        OnChange(index);
}

void TListView::SetSelected(int index) {
    if (index < -1 || index >= Count())
        index = -1;
    if (index == selected_)
        return;
    selected_ = index;
    KeepInView();
    if (OnChange)
        OnChange(index);
}

TListItemDraw TListView::DrawOf(int index) const {
    return OnCustomDraw ? OnCustomDraw(Items(index)) : TListItemDraw{};
}

bool TListView::Selectable(int index) const {
    return index >= 0 && index < Count() && DrawOf(index).Style == TListItemStyle::Normal;
}

int TListView::NextSelectable(int index, int step) const {
    for (; index >= 0 && index < Count(); index += step)
        if (Selectable(index))
            return index;
    return -1;
}

int TListView::FocusedRow() const {
    return selected_ >= 0 ? selected_ : NextSelectable(0, 1);
}

bool TListView::UserToggle(int index) {
    if (!Usable() || !CheckBoxes || index < 0 || index >= Count() ||
        DrawOf(index).Style != TListItemStyle::Normal)
        return false;
    SetChecked(index, !Items(index).Checked);
    return true;
}

bool TListView::UserSelect(int index) {
    if (!Usable() || index < 0 || index >= Count())
        return false;
    SetSelected(index);
    return true;
}

bool TListView::UserMove(int delta) {
    const int from = FocusedRow();
    if (!Usable() || from < 0)
        return false;
    const int target = std::clamp(from + delta, 0, Count() - 1);
    const int step = delta < 0 ? -1 : 1;
    int row = NextSelectable(target, step);
    if (row < 0)
        row = NextSelectable(target, -step);
    if (row < 0)
        return false;
    SetSelected(row);
    KeepInView();
    // The headers right above the row come into view with it, where they fit.
    int top = row;
    while (top > 0 && !Selectable(top - 1) && row - top + 1 < VisibleRows())
        --top;
    TopIndex = std::min(TopIndex, top);
    return true;
}

int TListView::VisibleRows() const {
    return std::max(Bounds().Height - 1, 1);
}

void TListView::KeepInView() {
    if (selected_ < 0)
        return;
    if (selected_ < TopIndex)
        TopIndex = selected_;
    else if (selected_ >= TopIndex + VisibleRows())
        TopIndex = selected_ - VisibleRows() + 1;
}

} // namespace purgelet::ui
