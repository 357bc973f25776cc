#include "ui/win32/native.h"

#include "ui/controls.h"
#include "ui/side_bar.h"
#include "ui/wizard.h"

#include <commctrl.h>

#include <algorithm>

namespace purgelet::ui::win32 {

namespace {

HWND Make(const char* className, DWORD style, DWORD exStyle, int id, HWND parent,
          const TTheme& theme) {
    HWND hwnd = CreateWindowExA(exStyle, className, "", WS_CHILD | style, 0, 0, 0, 0, parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                GetModuleHandleA(nullptr), nullptr);
    if (hwnd != nullptr)
        SendMessageA(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(theme.Normal), FALSE);
    return hwnd;
}

} // namespace

HWND CreateNativeWindow(TNative& native, HWND parent, const TTheme& theme) {
    TControl& c = *native.Control;
    const DWORD tab = c.TabStop ? WS_TABSTOP : 0;
    const int id = native.Id;
    switch (c.Kind()) {
    case TControlKind::Label:
        // A wrapped label is drawn by the form (it wraps with room to spare at the right).
        return Make("STATIC", c.WordWrap ? SS_OWNERDRAW : SS_LEFTNOWORDWRAP, 0, id, parent, theme);
    case TControlKind::Button:
        return Make("BUTTON", BS_PUSHBUTTON | BS_NOTIFY | tab, 0, id, parent, theme);
    case TControlKind::CheckBox:
        return Make("BUTTON", BS_CHECKBOX | BS_NOTIFY | (c.WordWrap ? BS_MULTILINE : 0) | tab, 0,
                    id, parent, theme);
    case TControlKind::RadioButton:
        return Make("BUTTON", BS_RADIOBUTTON | BS_NOTIFY | tab, 0, id, parent, theme);
    case TControlKind::GroupBox:
        return Make("BUTTON", BS_GROUPBOX, 0, id, parent, theme);
    case TControlKind::Edit:
        return Make("EDIT", ES_AUTOHSCROLL | tab, WS_EX_CLIENTEDGE, id, parent, theme);
    case TControlKind::ComboBox: {
        HWND combo = Make("COMBOBOX", CBS_DROPDOWNLIST | WS_VSCROLL | tab, 0, id, parent, theme);
        // The drop-down list shows up to ten items below the field (the window's height for
        // the classic control, this for the themed one).
        SendMessageA(combo, CB_SETMINVISIBLE, 10, 0);
        return combo;
    }
    case TControlKind::Memo: {
        auto& memo = static_cast<TMemo&>(c);
        DWORD style = ES_MULTILINE | ES_AUTOVSCROLL | tab;
        if (memo.ReadOnly)
            style |= ES_READONLY;
        // A wrapped text the user cannot reach is a block of text, not a field to scroll.
        const bool textBlock = memo.ReadOnly && memo.WordWrap && !memo.TabStop;
        if (!textBlock)
            style |= WS_VSCROLL;
        if (!memo.WordWrap || memo.FixedPitch)
            style |= WS_HSCROLL | ES_AUTOHSCROLL;
        native.ScrollBars = style & (WS_VSCROLL | WS_HSCROLL);
        return Make("EDIT", style, textBlock ? 0 : WS_EX_CLIENTEDGE, id, parent, theme);
    }
    case TControlKind::ListView: {
        HWND list = Make(WC_LISTVIEWA,
                         LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER | tab,
                         WS_EX_CLIENTEDGE, id, parent, theme);
        DWORD extended = LVS_EX_FULLROWSELECT;
        if (static_cast<TListView&>(c).CheckBoxes)
            extended |= LVS_EX_CHECKBOXES;
        SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, extended, extended);
        return list;
    }
    case TControlKind::Gauge: {
        HWND gauge = Make(PROGRESS_CLASSA, PBS_SMOOTH, 0, id, parent, theme);
        SendMessageA(gauge, PBM_SETRANGE32, 0, 100);
        return gauge;
    }
    case TControlKind::Animation:
        return Make(AnimationClassName, 0, 0, id, parent, theme);
    case TControlKind::SideBar:
        return Make(SideBarClassName, tab, 0, id, parent, theme);
    case TControlKind::StatusBar: {
        HWND bar = Make(STATUSCLASSNAMEA, CCS_NOPARENTALIGN | CCS_NORESIZE | CCS_NODIVIDER, 0, id,
                        parent, theme);
        SendMessageA(bar, SB_SIMPLE, TRUE, 0);
        return bar;
    }
    case TControlKind::Form:
    case TControlKind::Panel:
    case TControlKind::ToolBar:
    case TControlKind::Wizard:
    case TControlKind::WizardPage:
        return nullptr;
    }
    return nullptr;
}

int DroppedHeight(HWND combo, int items) {
    // A drop-down list's window is as high as its field and its open list together: the
    // system keeps the field's height and opens the list in the rest. Up to ten items show,
    // and an empty list still opens one row.
    const auto row = static_cast<int>(SendMessageA(combo, CB_GETITEMHEIGHT, 0, 0));
    return std::max(row, 1) * std::clamp(items, 1, 10) + 2 * GetSystemMetrics(SM_CYBORDER) + 2;
}

void CreateWizardDecorations(TNative& native, HWND parent, const TTheme& theme) {
    native.Decorations[0] =
        Make("STATIC", SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0, HeaderTitleId, parent, theme);
    SendMessageA(native.Decorations[0], WM_SETFONT, reinterpret_cast<WPARAM>(theme.Bold), FALSE);
    native.Decorations[1] =
        Make("STATIC", SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0, HeaderSubtitleId, parent, theme);
    native.Decorations[2] = Make("STATIC", SS_ETCHEDHORZ, 0, -1, parent, theme);
    native.Decorations[3] = Make("STATIC", SS_ETCHEDHORZ, 0, -1, parent, theme);
}

std::string WithCrLf(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            out += '\r';
        out += text[i];
    }
    return out;
}

std::string NativeText(TControl& control) {
    switch (control.Kind()) {
    case TControlKind::Edit:
        return static_cast<TEdit&>(control).Text();
    case TControlKind::Memo: {
        std::string text;
        const auto& lines = static_cast<TMemo&>(control).Lines;
        for (std::size_t i = 0; i < lines.size(); ++i)
            text += (i > 0 ? "\r\n" : "") + lines[i];
        return WithCrLf(text);
    }
    case TControlKind::Label:
        return WithCrLf(control.Caption);
    case TControlKind::CheckBox:
    case TControlKind::RadioButton:
        // A space after a one-line caption: the button sizes its focus frame and its greyed
        // text to the measured caption, and glyphs that come out a pixel wider (Wine's) would
        // lose the last letter to it.
        return control.WordWrap || control.Caption.empty() ? control.Caption
                                                           : control.Caption + ' ';
    default:
        return control.Caption;
    }
}

bool SetTextIfChanged(TNative& native, const std::string& text) {
    if (native.TextSet && native.Text == text)
        return false;
    const TControlKind kind = native.Control->Kind();
    if (kind == TControlKind::ListView || kind == TControlKind::ComboBox ||
        kind == TControlKind::Gauge || kind == TControlKind::StatusBar ||
        kind == TControlKind::Animation)
        return false;
    native.Text = text;
    native.TextSet = true;
    SetWindowTextA(native.Hwnd, text.c_str());
    if (kind == TControlKind::Memo) {
        // A new text starts where the model's view starts.
        const int top = static_cast<TMemo&>(*native.Control).TopLine;
        if (top > 0)
            SendMessageA(native.Hwnd, EM_LINESCROLL, 0, top);
    }
    return true;
}

void FitScrollBars(TNative& native) {
    HWND edit = native.Hwnd;
    if (edit == nullptr || native.ScrollBars == 0)
        return;
    RECT window;
    GetWindowRect(edit, &window);
    const bool edged = (GetWindowLongA(edit, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) != 0;
    const int border = edged ? 2 * GetSystemMetrics(SM_CXEDGE) : 0;
    const auto margins = static_cast<DWORD>(SendMessageA(edit, EM_GETMARGINS, 0, 0));
    const int width = window.right - window.left - border - LOWORD(margins) - HIWORD(margins) - 2;
    const int height = window.bottom - window.top - border;

    HDC dc = GetDC(edit);
    HGDIOBJ old = SelectObject(dc, native.Font != nullptr ? static_cast<HGDIOBJ>(native.Font)
                                                          : GetStockObject(DEFAULT_GUI_FONT));
    TEXTMETRICA metrics{};
    GetTextMetricsA(dc, &metrics);
    int widest = 0;
    std::size_t start = 0;
    const std::string& text = native.Text;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::size_t length = end - start;
        if (length > 0 && text[start + length - 1] == '\r')
            --length;
        SIZE extent{};
        GetTextExtentPoint32A(dc, text.c_str() + start, static_cast<int>(length), &extent);
        widest = std::max<int>(widest, extent.cx);
        start = end + 1;
    }
    SelectObject(dc, old);
    ReleaseDC(edit, dc);

    // The edit's own count of lines, wrapped where it wraps.
    const auto lines = static_cast<int>(SendMessageA(edit, EM_GETLINECOUNT, 0, 0));
    const int lineHeight = std::max<int>(metrics.tmHeight, 1);
    const bool canV = (native.ScrollBars & WS_VSCROLL) != 0;
    const bool canH = (native.ScrollBars & WS_HSCROLL) != 0;
    bool needV = canV && lines * lineHeight > height;
    const bool needH = canH && widest > width - (needV ? GetSystemMetrics(SM_CXVSCROLL) : 0);
    if (canV && !needV && needH)
        needV = lines * lineHeight > height - GetSystemMetrics(SM_CYHSCROLL);
    if (canV)
        ShowScrollBar(edit, SB_VERT, needV);
    if (canH)
        ShowScrollBar(edit, SB_HORZ, needH);
}

std::string CustomSignature(TControl& control, bool focused) {
    std::string signature = control.Caption + (focused ? "\x01" : "\x02");
    if (control.Kind() == TControlKind::SideBar) {
        auto& bar = static_cast<TSideBar&>(control);
        signature += std::to_string(bar.Focused);
        for (int index : bar.VisibleItems())
            signature += "\x1f" + bar.Items(index).Caption + (bar.Items(index).OnClick ? "*" : "");
    } else if (control.Kind() == TControlKind::Animation) {
        auto& animation = static_cast<TAnimation&>(control);
        signature += std::to_string(animation.Active) + "/" + std::to_string(animation.Frame);
    }
    return signature;
}

std::string RowSignature(const TListView& list, int index) {
    const TListItem& item = list.Items(index);
    const TListItemDraw draw = list.DrawOf(index);
    std::string signature = item.Caption;
    signature += '\x1e';
    signature += static_cast<char>('0' + static_cast<int>(draw.Style));
    signature += draw.ShowCells ? '1' : '0';
    signature += item.Checked ? 'x' : '-';
    if (draw.ShowCells)
        for (const auto& cell : item.SubItems)
            signature += "\x1f" + cell;
    return signature;
}

void WriteRow(HWND list, const TListView& model, int index) {
    const TListItem& item = model.Items(index);
    const TListItemDraw draw = model.DrawOf(index);
    LVITEMA row{};
    row.iItem = index;
    row.mask = LVIF_TEXT;
    row.pszText = const_cast<char*>(item.Caption.c_str());
    SendMessageA(list, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&row));
    for (std::size_t k = 0; k + 1 < model.Columns.size(); ++k) {
        LVITEMA cell{};
        cell.iSubItem = static_cast<int>(k + 1);
        const std::string text = draw.ShowCells && k < item.SubItems.size() ? item.SubItems[k] : "";
        cell.pszText = const_cast<char*>(text.c_str());
        SendMessageA(list, LVM_SETITEMTEXTA, static_cast<WPARAM>(index),
                     reinterpret_cast<LPARAM>(&cell));
    }
    if (model.CheckBoxes) {
        // Only a drive row has a box: state image 0 is none, 1 unticked, 2 ticked.
        const int image = draw.Style == TListItemStyle::Normal ? (item.Checked ? 2 : 1) : 0;
        LVITEMA state{};
        state.stateMask = LVIS_STATEIMAGEMASK;
        state.state = INDEXTOSTATEIMAGEMASK(image);
        SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(index),
                     reinterpret_cast<LPARAM>(&state));
    }
}

} // namespace purgelet::ui::win32
