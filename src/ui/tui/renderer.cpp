#include "ui/tui/renderer.h"

#include "ui/list_view.h"
#include "ui/side_bar.h"
#include "ui/wizard.h"

#include <algorithm>

namespace purgelet::ui::tui {

namespace {

TRect Intersect(const TRect& a, const TRect& b) {
    const int left = std::max(a.Left, b.Left), top = std::max(a.Top, b.Top);
    const int right = std::min(a.Right(), b.Right()), bottom = std::min(a.Bottom(), b.Bottom());
    return {left, top, std::max(right - left, 0), std::max(bottom - top, 0)};
}

// A caption with its accelerator letter underlined; returns the cells written.
int PutCaption(TScreen& s, int x, int y, const std::string& caption, std::uint8_t attr,
               int maxWidth) {
    int written = 0;
    bool marked = false;
    for (std::size_t i = 0; i < caption.size() && written < maxWidth; ++i) {
        std::uint8_t a = attr;
        if (caption[i] == '&' && i + 1 < caption.size()) {
            ++i;
            if (caption[i] != '&' && !marked) {
                a |= atUnderline;
                marked = true;
            }
        }
        s.PutGlyph(x + written, y, GlyphOf(static_cast<unsigned char>(caption[i]), s.Unicode()), a);
        ++written;
    }
    return written;
}

void PutPadded(TScreen& s, int x, int y, const std::string& text, std::uint8_t attr, int width) {
    const int written = s.PutText(x, y, text, attr, width);
    for (int i = written; i < width; ++i)
        s.PutGlyph(x + i, y, " ", attr);
}

void DrawLabel(TScreen& s, const TControl& c, const TRect& r, std::uint8_t attr) {
    if (c.Bold)
        attr |= atBold;
    const std::string text = StripAccelerator(c.Caption);
    const auto lines = c.WordWrap ? WrapText(text, r.Width) : WrapText(text, 0);
    for (int i = 0; i < static_cast<int>(lines.size()) && i < r.Height; ++i)
        s.PutText(r.Left, r.Top + i, lines[static_cast<std::size_t>(i)], attr, r.Width);
}

// The button Enter presses is bold when the focus is elsewhere.
void DrawButton(TScreen& s, const TControl& c, const TRect& r, std::uint8_t attr, bool focused,
                bool pressedByEnter) {
    if (focused)
        attr |= atReverse;
    else if (pressedByEnter)
        attr |= atBold;
    s.PutText(r.Left, r.Top, "[ ", attr);
    int x = r.Left + 2;
    x += PutCaption(s, x, r.Top, c.Caption, attr, r.Width - 4);
    s.PutText(x, r.Top, " ]", attr);
}

// A check box or a radio button: the mark, then the caption beside it.
void DrawCheckMark(TScreen& s, TControl& c, const TRect& r, std::uint8_t attr, bool focused) {
    const bool radio = c.Kind() == TControlKind::RadioButton;
    const bool checked =
        radio ? static_cast<TRadioButton&>(c).Checked() : static_cast<TCheckBox&>(c).Checked();
    const std::uint8_t mark = focused ? attr | atReverse : attr;
    s.PutText(r.Left, r.Top, radio ? "(" : "[", mark);
    s.PutGlyph(r.Left + 1, r.Top, checked ? (radio ? s.Glyphs().Radio : "x") : " ", mark);
    s.PutText(r.Left + 2, r.Top, radio ? ")" : "]", mark);
    const int width = r.Width - 4;
    const auto lines = c.WordWrap ? WrapText(c.Caption, width) : std::vector{c.Caption};
    for (int i = 0; i < static_cast<int>(lines.size()) && i < r.Height; ++i)
        PutCaption(s, r.Left + 4, r.Top + i, lines[static_cast<std::size_t>(i)], attr, width);
}

void DrawEdit(TScreen& s, TEdit& edit, const TRect& r, std::uint8_t attr, bool focused) {
    const auto& text = edit.Text();
    const std::uint8_t field = attr | (focused ? atReverse : atUnderline);
    // The end of a long text stays in view, with room for the cursor.
    const int shown = std::max(r.Width - 1, 1);
    const std::string tail = static_cast<int>(text.size()) > shown
                                 ? text.substr(text.size() - static_cast<std::size_t>(shown))
                                 : text;
    PutPadded(s, r.Left, r.Top, tail, field, r.Width);
}

void DrawComboBox(TScreen& s, TComboBox& combo, const TRect& r, std::uint8_t attr, bool focused) {
    const std::uint8_t field = attr | (focused ? atReverse : atUnderline);
    PutPadded(s, r.Left, r.Top, combo.Text(), field, r.Width - 2);
    s.PutText(r.Right() - 2, r.Top, " v", field);
}

void DrawMemo(TScreen& s, TMemo& memo, const TRect& r, std::uint8_t attr, bool focused) {
    std::vector<std::string> lines;
    if (memo.WordWrap && !memo.FixedPitch) {
        for (const auto& line : memo.Lines)
            for (auto& part : WrapText(line, r.Width))
                lines.push_back(std::move(part));
    } else {
        lines = memo.Lines;
    }
    for (int i = 0; i < r.Height; ++i) {
        const int index = memo.TopLine + i;
        if (index >= static_cast<int>(lines.size()))
            break;
        const std::string& line = lines[static_cast<std::size_t>(index)];
        const std::string part = memo.LeftColumn < static_cast<int>(line.size())
                                     ? line.substr(static_cast<std::size_t>(memo.LeftColumn))
                                     : std::string();
        s.PutText(r.Left, r.Top + i, part, attr, r.Width);
    }
    // A mark on the right edge shows that there is more above or below.
    if (memo.TopLine > 0)
        s.PutText(r.Right() - 1, r.Top, "^", attr | atBold);
    if (memo.TopLine + r.Height < static_cast<int>(lines.size()))
        s.PutText(r.Right() - 1, r.Bottom() - 1, "v", attr | atBold);
    if (focused)
        s.PutGlyph(r.Left, r.Top, s.At(r.Left, r.Top).Glyph, attr | atReverse);
}

// One row of a list view at line y, in the style the list gives it; widths are its columns'.
void DrawListRow(TScreen& s, TListView& list, int row, const std::vector<int>& widths,
                 const TRect& r, int y, std::uint8_t rowAttr, bool marked) {
    const TListItem& item = list.Items(row);
    const TListItemDraw draw = list.DrawOf(row);
    switch (draw.Style) {
    case TListItemStyle::Blank:
        if (marked)
            s.Fill({r.Left, y, r.Width, 1}, rowAttr);
        break;
    case TListItemStyle::GroupTitle:
        s.PutText(r.Left + 1, y, item.Caption, rowAttr | atBold, r.Width - 1);
        break;
    case TListItemStyle::Rule:
        s.HLine(r.Left, y, std::min(r.Width, 40), s.Glyphs().Rule, rowAttr);
        break;
    case TListItemStyle::Normal: {
        s.Fill({r.Left, y, r.Width, 1}, rowAttr);
        int cx = r.Left;
        if (list.CheckBoxes) {
            s.PutText(cx, y, item.Checked ? "[x]" : "[ ]", rowAttr);
            cx += 4;
        }
        const int first = widths.empty() ? r.Width : widths[0];
        s.PutText(cx, y, item.Caption, rowAttr, first - 1);
        cx += first;
        if (draw.ShowCells)
            for (std::size_t k = 0; k < item.SubItems.size() && k + 1 < widths.size(); ++k) {
                s.PutText(cx, y, item.SubItems[k], rowAttr, widths[k + 1] - 1);
                cx += widths[k + 1];
            }
        break;
    }
    }
}

void DrawListView(TScreen& s, TListView& list, const TRect& r, std::uint8_t attr, bool focused) {
    // The column header, then the rows from TopIndex. The columns have the list's width
    // but for the check boxes and the last cell, kept for the scroll marks.
    const int boxes = list.CheckBoxes ? 4 : 0;
    const std::vector<int> widths = list.ColumnWidths(r.Width - boxes - 1);
    int x = r.Left + boxes;
    for (std::size_t k = 0; k < list.Columns.size(); ++k) {
        s.PutText(x, r.Top, list.Columns[k].Caption, attr | atBold, widths[k] - 1);
        x += widths[k];
    }
    // The keyboard's row in reverse while the list has the focus, the selection in bold
    // when it has not.
    const int keyboardRow = focused ? list.FocusedRow() : -1;
    for (int i = 0; i + 1 < r.Height; ++i) {
        const int row = list.TopIndex + i;
        if (row >= list.Count())
            break;
        const bool marked = row == keyboardRow || row == list.Selected();
        std::uint8_t rowAttr = attr;
        if (row == keyboardRow)
            rowAttr |= atReverse;
        else if (marked)
            rowAttr |= atBold;
        DrawListRow(s, list, row, widths, r, r.Top + 1 + i, rowAttr, marked);
    }
    if (list.TopIndex > 0)
        s.PutText(r.Right() - 1, r.Top + 1, "^", attr | atBold);
    if (list.TopIndex + r.Height - 1 < list.Count())
        s.PutText(r.Right() - 1, r.Bottom() - 1, "v", attr | atBold);
}

void DrawGauge(TScreen& s, TGauge& gauge, const TRect& r, std::uint8_t attr) {
    const int progress = gauge.Progress();
    const int filled = r.Width * progress / 100;
    for (int i = 0; i < r.Width; ++i)
        s.PutGlyph(r.Left + i, r.Top, i < filled ? s.Glyphs().Full : (s.Unicode() ? "\u2591" : "."),
                   attr);
    const std::string percent = " " + std::to_string(progress) + "% ";
    s.PutText(r.Left + (r.Width - static_cast<int>(percent.size())) / 2, r.Top, percent,
              attr | atBold);
}

// The bar's caption as its title, then its lines; the items that act when clicked are
// underlined.
void DrawSideBar(TScreen& s, TSideBar& bar, const TRect& r, std::uint8_t attr, bool focused) {
    PutPadded(s, r.Left, r.Top, " " + StripAccelerator(bar.Caption), attr | atReverse, r.Width);
    const std::vector<int> shown = bar.VisibleItems();
    const int focusedItem =
        focused && bar.Focused >= 0 && bar.Focused < static_cast<int>(shown.size())
            ? shown[static_cast<std::size_t>(bar.Focused)]
            : -1;
    const std::vector<TSideBarLine> lines = bar.Lines();
    for (int i = 0; i < static_cast<int>(lines.size()) && i + 1 < r.Height; ++i) {
        const TSideBarLine& line = lines[static_cast<std::size_t>(i)];
        std::uint8_t itemAttr = attr;
        if (line.Item == focusedItem)
            itemAttr |= atReverse;
        if (bar.Items(line.Item).OnClick)
            itemAttr |= atUnderline;
        s.PutText(r.Left + line.Indent, r.Top + 1 + i, line.Text, itemAttr, r.Width - line.Indent);
    }
}

// The active page's header, and the rule above the button bar.
void DrawWizard(TScreen& s, TWizard& wizard, const TRect& r, std::uint8_t attr) {
    const TGlyphs& g = s.Glyphs();
    TWizardPage* page = wizard.ActivePage();
    if (page != nullptr && page->HeaderVisible) {
        s.PutText(r.Left + 1, r.Top, page->Title, attr | atBold, r.Width - 2);
        s.PutText(r.Left + 3, r.Top + 1, page->Subtitle, attr, r.Width - 4);
        s.HLine(r.Left, r.Top + TWizard::HeaderHeight - 1, r.Width, g.Horizontal, attr);
    }
    s.HLine(r.Left, r.Bottom() - TWizard::ButtonBarHeight, r.Width, g.Horizontal, attr);
}

} // namespace

TRect FormScreenRect(const TForm& form, int width, int height) {
    const TRect& b = form.Bounds();
    if (form.Resizable)
        return {0, 0, width, height};
    return {std::max((width - b.Width) / 2, 0), std::max((height - b.Height) / 2, 0), b.Width,
            b.Height};
}

void TuiRenderer::Animate(const std::vector<TForm*>& stack) {
    std::vector<TControl*> pending(stack.begin(), stack.end());
    while (!pending.empty()) {
        TControl* c = pending.back();
        pending.pop_back();
        if (c->Kind() == TControlKind::Animation) {
            auto& animation = static_cast<TAnimation&>(*c);
            if (animation.Active)
                animation.Frame = (animation.Frame + 1) % 4;
        }
        for (auto& child : c->Children())
            pending.push_back(child.get());
    }
}

void TuiRenderer::Draw(TScreen& screen, const std::vector<TForm*>& stack) {
    screen.Clear();
    if (screen.Width() < MinWidth || screen.Height() < MinHeight) {
        const std::string lines[] = {"The terminal is too small.",
                                     "Purgelet needs " + std::to_string(MinWidth) + " x " +
                                         std::to_string(MinHeight) + " characters, this one has " +
                                         std::to_string(screen.Width()) + " x " +
                                         std::to_string(screen.Height()) + "."};
        for (int i = 0; i < 2; ++i) {
            const int width = static_cast<int>(lines[i].size());
            screen.PutText(std::max((screen.Width() - width) / 2, 0), screen.Height() / 2 - 1 + i,
                           lines[i], atBold);
        }
        return;
    }
    for (std::size_t i = 0; i < stack.size(); ++i)
        DrawForm(screen, *stack[i], i + 1 == stack.size(), i > 0);
}

void TuiRenderer::DrawForm(TScreen& screen, TForm& form, bool top, bool dialog) {
    form_ = &form;
    top_ = top;
    base_ = dialog ? atDialog : atNormal;
    const TRect r = FormScreenRect(form, screen.Width(), screen.Height());
    screen.ResetClip();
    screen.Fill(r, base_);
    screen.Box(r, base_, form.Caption);
    const TRect client = form.ClientRect();
    const TRect clientOnScreen{r.Left + client.Left, r.Top + client.Top, client.Width,
                               client.Height};
    DrawChildren(screen, form, clientOnScreen.Left, clientOnScreen.Top, clientOnScreen);
    screen.ResetClip();
}

void TuiRenderer::DrawChildren(TScreen& screen, TControl& control, int originX, int originY,
                               const TRect& clip) {
    for (auto& child : control.Children())
        if (child->Visible())
            DrawControl(screen, *child, originX, originY, clip);
}

void TuiRenderer::DrawControl(TScreen& s, TControl& c, int ox, int oy, const TRect& parentClip) {
    const TRect& b = c.Bounds();
    const TRect r{ox + b.Left, oy + b.Top, b.Width, b.Height};
    const TRect clip = Intersect(parentClip, r);
    if (clip.Width == 0 || clip.Height == 0)
        return;
    s.SetClip(clip);
    const bool focused = top_ && form_->ActiveControl() == &c;
    std::uint8_t attr = base_;
    if (!c.Usable())
        attr |= atDim;

    switch (c.Kind()) {
    case TControlKind::Label:
        DrawLabel(s, c, r, attr);
        break;
    case TControlKind::Button:
        DrawButton(s, c, r, attr, focused, !focused && top_ && form_->DefaultButton() == &c);
        break;
    case TControlKind::CheckBox:
    case TControlKind::RadioButton:
        DrawCheckMark(s, c, r, attr, focused);
        break;
    case TControlKind::Edit:
        DrawEdit(s, static_cast<TEdit&>(c), r, attr, focused);
        break;
    case TControlKind::ComboBox:
        DrawComboBox(s, static_cast<TComboBox&>(c), r, attr, focused);
        break;
    case TControlKind::Memo:
        DrawMemo(s, static_cast<TMemo&>(c), r, attr, focused);
        break;
    case TControlKind::ListView:
        DrawListView(s, static_cast<TListView&>(c), r, attr, focused);
        break;
    case TControlKind::Gauge:
        DrawGauge(s, static_cast<TGauge&>(c), r, attr);
        break;
    case TControlKind::Animation: {
        auto& animation = static_cast<TAnimation&>(c);
        if (animation.Active)
            s.PutGlyph(r.Left + r.Width / 2, r.Top, s.Glyphs().Spin[animation.Frame % 4],
                       attr | atBold);
        break;
    }
    case TControlKind::SideBar:
        DrawSideBar(s, static_cast<TSideBar&>(c), r, attr, focused);
        break;
    case TControlKind::StatusBar:
        PutPadded(s, r.Left, r.Top, static_cast<TStatusBar&>(c).SimpleText, attr | atReverse,
                  r.Width);
        break;
    case TControlKind::GroupBox:
        s.Box(r, attr, StripAccelerator(c.Caption));
        break;
    case TControlKind::Wizard:
        DrawWizard(s, static_cast<TWizard&>(c), r, attr);
        break;
    case TControlKind::Form:
    case TControlKind::Panel:
    case TControlKind::ToolBar:
    case TControlKind::WizardPage:
        break;
    }

    const TRect client = c.ClientRect();
    DrawChildren(
        s, c, r.Left + client.Left, r.Top + client.Top,
        Intersect(clip, {r.Left + client.Left, r.Top + client.Top, client.Width, client.Height}));
}

} // namespace purgelet::ui::tui
