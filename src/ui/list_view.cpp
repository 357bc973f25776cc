#include "ui/list_view.h"

#include <algorithm>

namespace purgelet::ui {

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
    if (!Usable() || Count() == 0)
        return false;
    const int from = selected_ < 0 ? (delta > 0 ? -1 : Count()) : selected_;
    SetSelected(std::clamp(from + delta, 0, Count() - 1));
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
