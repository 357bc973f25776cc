// Window to model: the form window's messages, the native controls' notifications, the keys the
// form handles itself, and the custom-drawn controls (the list's rows, the side bar, the
// animation).
#include "ui/controls.h"
#include "ui/side_bar.h"
#include "ui/win32/form_window.h"
#include "ui/win32/native.h"
#include "ui/wizard.h"

#include <commctrl.h>

#include <algorithm>
#include <cctype>

namespace purgelet::ui::win32 {

namespace {

// The rule row's gradient, from the left end to the right end.
constexpr COLORREF RuleLeft = RGB(63, 105, 255);
constexpr COLORREF RuleRight = RGB(214, 223, 247);
constexpr int RuleWidthAt96 = 400;

TFormWindow* FromWindow(HWND hwnd) {
    return reinterpret_cast<TFormWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
}

using GradientFillFn = BOOL(WINAPI*)(HDC, PTRIVERTEX, ULONG, PVOID, ULONG, ULONG);

// GradientFill from msimg32, loaded when first needed: Windows 95 has no such library, and
// there the gradient is drawn as bands of its own.
GradientFillFn GradientFillEntry() {
    static const GradientFillFn entry = [] {
        HMODULE library = LoadLibraryA("msimg32.dll");
        return library != nullptr ? reinterpret_cast<GradientFillFn>(reinterpret_cast<void*>(
                                        GetProcAddress(library, "GradientFill")))
                                  : nullptr;
    }();
    return entry;
}

// A gradient from one colour to the other, across (horizontal) or downwards.
void Gradient(HDC dc, const RECT& r, COLORREF from, COLORREF to, bool horizontal) {
    if (r.right <= r.left || r.bottom <= r.top)
        return;
    if (GradientFillFn fill = GradientFillEntry()) {
        TRIVERTEX vertices[2] = {};
        vertices[0].x = r.left;
        vertices[0].y = r.top;
        vertices[0].Red = static_cast<COLOR16>(GetRValue(from) << 8);
        vertices[0].Green = static_cast<COLOR16>(GetGValue(from) << 8);
        vertices[0].Blue = static_cast<COLOR16>(GetBValue(from) << 8);
        vertices[1].x = r.right;
        vertices[1].y = r.bottom;
        vertices[1].Red = static_cast<COLOR16>(GetRValue(to) << 8);
        vertices[1].Green = static_cast<COLOR16>(GetGValue(to) << 8);
        vertices[1].Blue = static_cast<COLOR16>(GetBValue(to) << 8);
        GRADIENT_RECT rect{0, 1};
        fill(dc, vertices, 2, &rect, 1, horizontal ? GRADIENT_FILL_RECT_H : GRADIENT_FILL_RECT_V);
        return;
    }
    const int length = horizontal ? r.right - r.left : r.bottom - r.top;
    const int steps = std::min(length, 64);
    for (int i = 0; i < steps; ++i) {
        auto mix = [&](int a, int b) { return a + (b - a) * i / std::max(steps - 1, 1); };
        HBRUSH brush = CreateSolidBrush(RGB(mix(GetRValue(from), GetRValue(to)),
                                            mix(GetGValue(from), GetGValue(to)),
                                            mix(GetBValue(from), GetBValue(to))));
        RECT band = r;
        if (horizontal) {
            band.left = r.left + length * i / steps;
            band.right = r.left + length * (i + 1) / steps;
        } else {
            band.top = r.top + length * i / steps;
            band.bottom = r.top + length * (i + 1) / steps;
        }
        FillRect(dc, &band, brush);
        DeleteObject(brush);
    }
}

void GradientLine(HDC dc, int left, int top, int right, int bottom, COLORREF from, COLORREF to) {
    Gradient(dc, RECT{left, top, right, bottom}, from, to, true);
}

} // namespace

// ---- The form window

LRESULT CALLBACK TFormWindow::FormProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        auto* self = static_cast<TFormWindow*>(create->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    if (TFormWindow* self = FromWindow(hwnd))
        return self->Proc(message, wParam, lParam);
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

LRESULT TFormWindow::Proc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CLOSE:
        // The close query decides; the window itself goes only when its form is closed.
        host_.Call([this] { form_.Close(); });
        return 0;
    case WM_COMMAND:
        if (!syncing_)
            OnCommand(wParam, lParam);
        return 0;
    case WM_NOTIFY:
        return OnNotify(*reinterpret_cast<const NMHDR*>(lParam));
    case WM_ERASEBKGND:
        PaintBackground(reinterpret_cast<HDC>(wParam));
        return 1;
    case WM_DRAWITEM:
        DrawLabel(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_CTLCOLORSTATIC: {
        const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
        if (id == HeaderTitleId || id == HeaderSubtitleId) {
            SetBkColor(reinterpret_cast<HDC>(wParam), RGB(255, 255, 255));
            return reinterpret_cast<LRESULT>(host_.Theme().White);
        }
        break;
    }
    case WM_SIZE:
        if (wParam != SIZE_MINIMIZED && !natives_.empty()) {
            // The size the window has now: a late notice of an earlier size (the X display
            // answers asynchronously under Wine) must not shrink the form again.
            RECT client;
            GetClientRect(hwnd_, &client);
            Resized(client.right, client.bottom);
        }
        return 0;
    case WM_GETMINMAXINFO: {
        // The design size is the smallest: the pages keep their layout.
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        const TUnits& u = host_.Theme().Units;
        RECT outer{0, 0, designClient_.Width * u.X, designClient_.Height * u.Y};
        AdjustWindowRectEx(&outer, static_cast<DWORD>(GetWindowLongA(hwnd_, GWL_STYLE)), FALSE,
                           static_cast<DWORD>(GetWindowLongA(hwnd_, GWL_EXSTYLE)));
        info->ptMinTrackSize.x = outer.right - outer.left;
        info->ptMinTrackSize.y = outer.bottom - outer.top;
        return 0;
    }
    case WM_SETFOCUS:
        // The form passes the focus on to its active control, as a dialog does.
        syncedActive_ = nullptr;
        FocusActive();
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE) {
            syncedActive_ = nullptr; // give the focus back to the model's control
            FocusActive();
        }
        return 0;
    default:
        break;
    }
    return DefWindowProcA(hwnd_, message, wParam, lParam);
}

void TFormWindow::PaintBackground(HDC dc) {
    RECT client;
    GetClientRect(hwnd_, &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
    PaintBanner(dc);
    // A wizard's header is a white band down to its rule.
    for (auto& native : natives_) {
        if (native->Control->Kind() != TControlKind::Wizard || (native->Visible & 1) == 0)
            continue;
        const TRect r = native->DecorationRects[2];
        RECT band{r.Left, 0, r.Left + r.Width, r.Top};
        const TRect wizard = host_.Theme().Units.ToPixels(native->Control->FormRect());
        band.top = wizard.Top;
        FillRect(dc, &band, host_.Theme().White);
    }
}

void TFormWindow::DrawLabel(const DRAWITEMSTRUCT& item) {
    auto found = byWindow_.find(item.hwndItem);
    if (found == byWindow_.end())
        return;
    Native& n = *found->second;
    FillRect(item.hDC, &item.rcItem, GetSysColorBrush(COLOR_BTNFACE));
    const std::string text = NativeText(*n.Control);
    HGDIOBJ old = SelectObject(item.hDC, n.Font != nullptr ? n.Font : host_.Theme().Normal);
    SetBkMode(item.hDC, TRANSPARENT);
    SetTextColor(item.hDC, GetSysColor(n.Control->Usable() ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
    // Wrapped a character short of the edge: a renderer whose glyphs come out wider than it
    // measured them (Wine's) still shows every letter.
    RECT area = item.rcItem;
    area.right -= std::min<LONG>(host_.Theme().Units.X, (area.right - area.left) / 8);
    DrawTextA(item.hDC, text.c_str(), static_cast<int>(text.size()), &area,
              DT_LEFT | DT_TOP | DT_WORDBREAK | DT_EXPANDTABS);
    SelectObject(item.hDC, old);
}

void TFormWindow::PaintBanner(HDC dc) {
    // A wizard page without a header (a welcome page) shows the wizard's banner in the margin
    // left of its controls: a band from deep to pale blue with the program's icon.
    const TTheme& theme = host_.Theme();
    for (auto& native : natives_) {
        if (native->Control->Kind() != TControlKind::Wizard || !native->Control->Showing())
            continue;
        TWizardPage* page = static_cast<TWizard&>(*native->Control).ActivePage();
        if (page == nullptr || page->HeaderVisible)
            continue;
        int margin = page->Bounds().Width;
        for (auto& child : page->Children())
            if (child->Visible())
                margin = std::min(margin, child->Bounds().Left);
        if (margin < 4)
            continue;
        const TRect area = theme.Units.ToPixels(page->FormRect());
        const int right = area.Left + (margin - 1) * theme.Units.X;
        Gradient(dc, RECT{area.Left, area.Top, right, area.Bottom()}, RGB(16, 60, 180),
                 RGB(176, 200, 240), false);
        HICON icon = reinterpret_cast<HICON>(GetClassLongPtrA(hwnd_, GCLP_HICON));
        const int size = theme.Scale(48);
        if (icon != nullptr && right - area.Left > size)
            DrawIconEx(dc, area.Left + (right - area.Left - size) / 2, area.Top + theme.Scale(24),
                       icon, size, size, 0, nullptr, DI_NORMAL);
    }
}

void TFormWindow::Resized(int clientWidth, int clientHeight) {
    if (!form_.Resizable)
        return;
    const TUnits& u = host_.Theme().Units;
    const int columns = std::max(u.ColumnsIn(clientWidth), designClient_.Width);
    const int rows = std::max(u.RowsIn(clientHeight), designClient_.Height);
    const TRect client = form_.ClientRect();
    if (client.Width == columns && client.Height == rows)
        return;
    host_.Call([this, columns, rows] {
        TRect outer = TForm::OuterFor(columns, rows);
        outer.Left = form_.Bounds().Left;
        outer.Top = form_.Bounds().Top;
        form_.SetBounds(outer);
    });
    Sync();
    InvalidateRect(hwnd_, nullptr, TRUE);
}

void TFormWindow::OnCommand(WPARAM wParam, LPARAM lParam) {
    if (lParam == 0)
        return; // menus and accelerators: none of ours
    auto found = byWindow_.find(reinterpret_cast<HWND>(lParam));
    if (found == byWindow_.end())
        return;
    Native& n = *found->second;
    TControl& c = *n.Control;
    const unsigned code = HIWORD(wParam);
    switch (code) {
    case BN_SETFOCUS:
    case EN_SETFOCUS:
    case CBN_SETFOCUS:
        if (form_.ActiveControl() != &c)
            host_.Call([this, &c] { form_.SetFocus(&c); });
        syncedActive_ = form_.ActiveControl();
        return;
    default:
        break;
    }
    switch (c.Kind()) {
    case TControlKind::Button:
        if (code == BN_CLICKED)
            host_.Call([&c] { static_cast<TButton&>(c).UserClick(); });
        break;
    case TControlKind::CheckBox:
        if (code == BN_CLICKED)
            host_.Call([&c] { static_cast<TCheckBox&>(c).UserToggle(); });
        break;
    case TControlKind::RadioButton:
        if (code == BN_CLICKED)
            host_.Call([&c] { static_cast<TRadioButton&>(c).UserSelect(); });
        break;
    case TControlKind::Edit:
        if (code == EN_CHANGE) {
            const int length = GetWindowTextLengthA(n.Hwnd);
            std::string text(static_cast<std::size_t>(length) + 1, '\0');
            GetWindowTextA(n.Hwnd, text.data(), length + 1);
            text.resize(static_cast<std::size_t>(length));
            n.Text = text;
            n.TextSet = true;
            if (text != static_cast<TEdit&>(c).Text())
                host_.Call([&c, text] { static_cast<TEdit&>(c).UserType(text); });
        }
        break;
    case TControlKind::ComboBox:
        if (code == CBN_SELCHANGE) {
            const int index = static_cast<int>(SendMessageA(n.Hwnd, CB_GETCURSEL, 0, 0));
            n.Index = index;
            host_.Call([&c, index] { static_cast<TComboBox&>(c).UserSelect(index); });
        }
        break;
    default:
        break;
    }
}

LRESULT TFormWindow::OnNotify(const NMHDR& header) {
    auto found = byWindow_.find(header.hwndFrom);
    if (found == byWindow_.end() || found->second->Control->Kind() != TControlKind::ListView)
        return 0;
    Native& n = *found->second;
    auto& list = static_cast<TListView&>(*n.Control);
    switch (header.code) {
    case NM_CUSTOMDRAW:
        return ListCustomDraw(n, reinterpret_cast<LPARAM>(&header));
    case NM_SETFOCUS:
        if (!syncing_ && form_.ActiveControl() != &list)
            host_.Call([this, &list] { form_.SetFocus(&list); });
        syncedActive_ = form_.ActiveControl();
        return 0;
    case LVN_ITEMCHANGED: {
        if (syncing_)
            return 0;
        const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
        if ((change.uChanged & LVIF_STATE) == 0 || change.iItem < 0 || change.iItem >= list.Count())
            return 0;
        const int row = change.iItem;
        const UINT oldImage = (change.uOldState & LVIS_STATEIMAGEMASK) >> 12;
        const UINT newImage = (change.uNewState & LVIS_STATEIMAGEMASK) >> 12;
        if (oldImage != newImage) {
            // The model decides: a row it gives no box, or a refused tick, is written again.
            if (static_cast<std::size_t>(row) < n.Items.size())
                n.Items[static_cast<std::size_t>(row)].clear(); // never a row signature
            if (oldImage != 0 && newImage != 0 && (newImage == 2) != list.Items(row).Checked)
                host_.Call([&list, row] { list.UserToggle(row); });
            else
                host_.Call([] {});
        }
        if ((change.uNewState & LVIS_SELECTED) != 0 && (change.uOldState & LVIS_SELECTED) == 0 &&
            list.Selected() != row) {
            host_.Call([&list, row] { list.UserSelect(row); });
            n.Index = -2; // the window shows the model's choice again, a refused one undone
        }
        return 0;
    }
    default:
        return 0;
    }
}

LRESULT TFormWindow::ListCustomDraw(Native& n, LPARAM lParam) {
    auto& draw = *reinterpret_cast<NMLVCUSTOMDRAW*>(lParam);
    if (draw.nmcd.dwDrawStage == CDDS_PREPAINT)
        return CDRF_NOTIFYITEMDRAW;
    if (draw.nmcd.dwDrawStage != CDDS_ITEMPREPAINT)
        return CDRF_DODEFAULT;
    auto& list = static_cast<TListView&>(*n.Control);
    const int row = static_cast<int>(draw.nmcd.dwItemSpec);
    if (row < 0 || row >= list.Count())
        return CDRF_DODEFAULT;
    const TListItemDraw style = list.DrawOf(row);
    if (style.Style == TListItemStyle::Normal)
        return CDRF_DODEFAULT;
    RECT bounds{};
    bounds.left = LVIR_BOUNDS;
    SendMessageA(n.Hwnd, LVM_GETITEMRECT, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&bounds));
    HDC dc = draw.nmcd.hdc;
    FillRect(dc, &bounds, GetSysColorBrush(COLOR_WINDOW));
    const TTheme& theme = host_.Theme();
    switch (style.Style) {
    case TListItemStyle::GroupTitle: {
        HGDIOBJ old = SelectObject(dc, theme.Bold);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        RECT text = bounds;
        text.left += theme.Scale(5);
        const std::string& caption = list.Items(row).Caption;
        DrawTextA(dc, caption.c_str(), static_cast<int>(caption.size()), &text,
                  DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
        SelectObject(dc, old); // the font style is restored for the rows after it
        break;
    }
    case TListItemStyle::Rule: {
        const int width = std::min<int>(theme.Scale(RuleWidthAt96), bounds.right - bounds.left);
        GradientLine(dc, bounds.left, bounds.top, bounds.left + width,
                     bounds.top + std::max(theme.Scale(1), 1), RuleLeft, RuleRight);
        break;
    }
    default:
        break;
    }
    return CDRF_SKIPDEFAULT;
}

// ---- Keys the form handles itself

namespace {

// The keys that move within a control, as the model names them; None for any other.
TKey NavigationKey(WPARAM key) {
    static constexpr std::pair<WPARAM, TKey> keys[] = {
        {VK_UP, TKey::Up},       {VK_DOWN, TKey::Down},    {VK_LEFT, TKey::Left},
        {VK_RIGHT, TKey::Right}, {VK_PRIOR, TKey::PageUp}, {VK_NEXT, TKey::PageDown},
        {VK_HOME, TKey::Home},   {VK_END, TKey::End},      {VK_SPACE, TKey::Space}};
    for (const auto& [virtualKey, model] : keys)
        if (virtualKey == key)
            return model;
    return TKey::None;
}

} // namespace

bool TFormWindow::PreTranslate(const MSG& msg) {
    TKeyEvent key;
    if (msg.message == WM_KEYDOWN) {
        const HWND focus = msg.hwnd;
        char className[32] = "";
        GetClassNameA(focus, className, sizeof(className));
        const bool dropped = lstrcmpiA(className, "ComboBox") == 0 &&
                             SendMessageA(focus, CB_GETDROPPEDSTATE, 0, 0) != 0;
        // A list's rows are the model's: it moves over the header rows and ticks the row the
        // keyboard is on, as the terminal's list does. The arrows in a group of radio buttons
        // choose the next one, as in a dialog.
        const auto found = byWindow_.find(focus);
        const TControlKind kind =
            found != byWindow_.end() ? found->second->Control->Kind() : TControlKind::Form;
        const TKey moving = NavigationKey(msg.wParam);
        const bool sideways = moving == TKey::Left || moving == TKey::Right;
        const bool arrow = sideways || moving == TKey::Up || moving == TKey::Down;
        if ((kind == TControlKind::ListView && moving != TKey::None && !sideways) ||
            (kind == TControlKind::RadioButton && arrow)) {
            key.Key = moving;
        } else {
            switch (msg.wParam) {
            case VK_TAB:
                key.Key = (GetKeyState(VK_SHIFT) & 0x8000) != 0 ? TKey::BackTab : TKey::Tab;
                break;
            case VK_RETURN:
                if (dropped)
                    return false;
                // A multi-line field the user types into keeps its Enter.
                if (lstrcmpiA(className, "Edit") == 0 &&
                    (GetWindowLongA(focus, GWL_STYLE) & (ES_MULTILINE | ES_READONLY)) ==
                        ES_MULTILINE)
                    return false;
                key.Key = TKey::Enter;
                break;
            case VK_ESCAPE:
                if (dropped)
                    return false;
                key.Key = TKey::Escape;
                break;
            default:
                return false;
            }
        }
    } else if (msg.message == WM_SYSCHAR) {
        const auto letter = static_cast<unsigned char>(msg.wParam);
        if (!std::isalnum(letter))
            return false;
        key.Key = TKey::Char;
        key.Char = static_cast<char>(std::toupper(letter));
        key.Alt = true;
    } else {
        return false;
    }
    bool used = false;
    host_.Call([this, key, &used] {
        used = form_.HandleKey(key);
        if (!used && key.Key == TKey::Enter)
            if (TButton* button = form_.DefaultButton())
                used = button->UserClick();
    });
    // The model moved the focus (Tab, an accelerator): the windows follow.
    Sync();
    FocusActive();
    return used || key.Key == TKey::Tab || key.Key == TKey::BackTab;
}

// ---- Custom-drawn controls

LRESULT CustomControlProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, bool sideBar) {
    auto* native = reinterpret_cast<TNative*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (native == nullptr || native->Owner == nullptr)
        return DefWindowProcA(hwnd, message, wParam, lParam);
    TFormWindow& owner = *native->Owner;
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(hwnd, &paint);
        if (sideBar)
            owner.PaintSideBar(*native, dc);
        else
            owner.PaintAnimation(*native, dc);
        EndPaint(hwnd, &paint);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1;
    case WM_GETDLGCODE:
        return DLGC_WANTARROWS;
    case WM_LBUTTONDOWN:
        if (sideBar) {
            SetFocus(hwnd);
            owner.ClickSideBar(*native, static_cast<short>(HIWORD(lParam)));
        }
        return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        if (message == WM_SETFOCUS && owner.form_.ActiveControl() != native->Control)
            owner.host_.Call([&owner, native] { owner.form_.SetFocus(native->Control); });
        InvalidateRect(hwnd, nullptr, FALSE);
        return 0;
    case WM_KEYDOWN: {
        TKeyEvent key;
        key.Key = NavigationKey(wParam);
        if (key.Key != TKey::None)
            owner.host_.Call([&owner, key] { owner.form_.HandleKey(key); });
        return 0;
    }
    default:
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}

LRESULT CALLBACK TFormWindow::SideBarProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return CustomControlProc(hwnd, message, wParam, lParam, true);
}

LRESULT CALLBACK TFormWindow::AnimationProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return CustomControlProc(hwnd, message, wParam, lParam, false);
}

void TFormWindow::ClickSideBar(Native& native, int y) {
    auto& bar = static_cast<TSideBar&>(*native.Control);
    const int line = y / host_.Theme().Units.Y - 1; // below the title
    const std::vector<TSideBarLine> lines = bar.Lines();
    if (line < 0 || line >= static_cast<int>(lines.size()))
        return;
    const int item = lines[static_cast<std::size_t>(line)].Item;
    const std::vector<int> shown = bar.VisibleItems();
    host_.Call(
        [&bar, item,
         focused = static_cast<int>(std::find(shown.begin(), shown.end(), item) - shown.begin())] {
            bar.Focused = focused;
            bar.UserClickItem(item);
        });
}

void TFormWindow::PaintSideBar(Native& native, HDC dc) {
    auto& bar = static_cast<TSideBar&>(*native.Control);
    const TTheme& theme = host_.Theme();
    const int uy = theme.Units.Y;
    RECT client;
    GetClientRect(native.Hwnd, &client);
    // A task pane: a blue title band over a pale body with the items as links.
    HBRUSH body = CreateSolidBrush(RGB(214, 223, 247));
    FillRect(dc, &client, body);
    DeleteObject(body);
    GradientLine(dc, 0, 0, client.right, uy, RGB(0, 84, 227), RGB(61, 149, 255));
    SetBkMode(dc, TRANSPARENT);
    HGDIOBJ old = SelectObject(dc, theme.Bold);
    SetTextColor(dc, RGB(255, 255, 255));
    RECT title{theme.Units.X, 0, client.right - 2, uy};
    const std::string caption = StripAccelerator(bar.Caption);
    DrawTextA(dc, caption.c_str(), static_cast<int>(caption.size()), &title,
              DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    SelectObject(dc, theme.Normal);
    // The model's lines: an item too wide for the bar goes on over further lines.
    const std::vector<int> shown = bar.VisibleItems();
    const int focusedItem = GetFocus() == native.Hwnd && bar.Focused >= 0 &&
                                    bar.Focused < static_cast<int>(shown.size())
                                ? shown[static_cast<std::size_t>(bar.Focused)]
                                : -1;
    const std::vector<TSideBarLine> lines = bar.Lines();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const TSideBarLine& text = lines[i];
        RECT line{text.Indent * theme.Units.X, uy * static_cast<int>(i + 1), client.right - 2,
                  uy * static_cast<int>(i + 2)};
        SetTextColor(dc, bar.Items(text.Item).OnClick ? RGB(33, 93, 198) : RGB(0, 0, 0));
        DrawTextA(dc, text.Text.c_str(), static_cast<int>(text.Text.size()), &line,
                  DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
        if (text.Item == focusedItem) {
            RECT mark = line;
            mark.left -= 2;
            DrawFocusRect(dc, &mark);
        }
    }
    SelectObject(dc, old);
}

void TFormWindow::PaintAnimation(Native& native, HDC dc) {
    auto& animation = static_cast<TAnimation&>(*native.Control);
    RECT client;
    GetClientRect(native.Hwnd, &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
    if (!animation.Active)
        return;
    // Eight dots on a circle; the current one dark, the two before it fading.
    const int cx = (client.right - client.left) / 2, cy = (client.bottom - client.top) / 2;
    const int radius = std::max(std::min(cx, cy) - 3, 4);
    const int dot = std::max(radius / 4, 2);
    static constexpr int dx[8] = {0, 7, 10, 7, 0, -7, -10, -7};
    static constexpr int dy[8] = {-10, -7, 0, 7, 10, 7, 0, -7};
    HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
    for (int i = 0; i < 8; ++i) {
        const int age = (animation.Frame - i + 8) % 8;
        const int shade = age == 0 ? 40 : age == 1 ? 110 : age == 2 ? 170 : 215;
        HBRUSH brush = CreateSolidBrush(RGB(shade / 2, shade * 3 / 4, shade));
        HGDIOBJ oldBrush = SelectObject(dc, brush);
        const int x = cx + dx[i] * radius / 10, y = cy + dy[i] * radius / 10;
        Ellipse(dc, x - dot, y - dot, x + dot + 1, y + dot + 1);
        SelectObject(dc, oldBrush);
        DeleteObject(brush);
    }
    SelectObject(dc, oldPen);
}

} // namespace purgelet::ui::win32
