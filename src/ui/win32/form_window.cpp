#include "ui/win32/form_window.h"

#include "ui/controls.h"
#include "ui/list_view.h"
#include "ui/side_bar.h"
#include "ui/win32/native.h"
#include "ui/wizard.h"

#include <commctrl.h>

#include <algorithm>

namespace purgelet::ui::win32 {

// ---- Theme

TTheme::TTheme() {
    HDC screen = GetDC(nullptr);
    Dpi = GetDeviceCaps(screen, LOGPIXELSY);
    NONCLIENTMETRICSA metrics{};
    metrics.cbSize = sizeof(metrics);
    LOGFONTA font{};
    if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
        font = metrics.lfMessageFont;
    } else {
        font.lfHeight = -MulDiv(8, Dpi, 72);
        lstrcpyA(font.lfFaceName, "MS Shell Dlg");
    }
    Normal = CreateFontIndirectA(&font);
    LOGFONTA bold = font;
    bold.lfWeight = FW_BOLD;
    Bold = CreateFontIndirectA(&bold);
    LOGFONTA title = bold;
    title.lfHeight = font.lfHeight * 5 / 4;
    Title = CreateFontIndirectA(&title);
    LOGFONTA fixed = font;
    fixed.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    lstrcpyA(fixed.lfFaceName, "Courier New");
    Fixed = CreateFontIndirectA(&fixed);
    White = CreateSolidBrush(RGB(255, 255, 255));

    HGDIOBJ old = SelectObject(screen, Normal);
    TEXTMETRICA tm{};
    GetTextMetricsA(screen, &tm);
    // The average width as dialog units take it: the 52 letters' extent.
    SIZE extent{};
    GetTextExtentPoint32A(screen, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52,
                          &extent);
    SelectObject(screen, old);
    ReleaseDC(nullptr, screen);
    const int average = extent.cx > 0 ? (extent.cx / 26 + 1) / 2 : tm.tmAveCharWidth;
    Units = TUnits::FromFont(std::max(average, 4), std::max<int>(tm.tmHeight, 8));
}

TTheme::~TTheme() {
    for (HGDIOBJ object :
         {static_cast<HGDIOBJ>(Normal), static_cast<HGDIOBJ>(Bold), static_cast<HGDIOBJ>(Fixed),
          static_cast<HGDIOBJ>(Title), static_cast<HGDIOBJ>(White)})
        if (object != nullptr)
            DeleteObject(object);
}

// ---- Creation

void RegisterWindowClasses() {
    static bool done = false;
    if (done)
        return;
    done = true;
    INITCOMMONCONTROLSEX controls{sizeof(controls),
                                  ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSEXA form{};
    form.cbSize = sizeof(form);
    form.lpfnWndProc = TFormWindow::FormProc;
    form.hInstance = instance;
    form.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    form.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
    if (form.hIcon == nullptr)
        form.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    form.lpszClassName = FormClassName;
    RegisterClassExA(&form);
    WNDCLASSEXA custom{};
    custom.cbSize = sizeof(custom);
    custom.hInstance = instance;
    custom.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    custom.lpfnWndProc = TFormWindow::SideBarProc;
    custom.lpszClassName = SideBarClassName;
    RegisterClassExA(&custom);
    custom.lpfnWndProc = TFormWindow::AnimationProc;
    custom.lpszClassName = AnimationClassName;
    RegisterClassExA(&custom);
}

TFormWindow::TFormWindow(TFormHost& host, TForm& form, HWND owner, HICON icon)
    : host_(host), form_(form) {
    RegisterWindowClasses();
    const TTheme& theme = host_.Theme();
    const TRect client = form.ClientRect();
    designClient_ = {0, 0, client.Width, client.Height};
    DWORD style = WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    DWORD exStyle = WS_EX_CONTROLPARENT;
    if (form.Resizable) {
        // The main window: minimise works, maximise does not exist.
        style |= WS_OVERLAPPED | WS_MINIMIZEBOX | WS_THICKFRAME;
        exStyle |= WS_EX_APPWINDOW;
    } else {
        style |= WS_POPUP;
        exStyle |= WS_EX_DLGMODALFRAME;
    }
    RECT outer{0, 0, client.Width * theme.Units.X,
               client.Height * theme.Units.Y +
                   (form.Resizable ? 0 : DialogBottomMargin(theme.Units))};
    AdjustWindowRectEx(&outer, style, FALSE, exStyle);
    const int width = outer.right - outer.left, height = outer.bottom - outer.top;
    RECT area{};
    if (owner != nullptr && IsWindowVisible(owner) && !IsIconic(owner))
        GetWindowRect(owner, &area);
    else
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    const int x = std::max<int>(area.left + (area.right - area.left - width) / 2, 0);
    const int y = std::max<int>(area.top + (area.bottom - area.top - height) / 2, 0);
    hwnd_ = CreateWindowExA(exStyle, FormClassName, form.Caption.c_str(), style, x, y, width,
                            height, owner, nullptr, GetModuleHandleA(nullptr), this);
    if (hwnd_ == nullptr)
        return;
    caption_ = form.Caption;
    captionSet_ = true;
    if (icon != nullptr) {
        icon_ = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_ICON, theme.Units.X,
                                theme.Units.Y, 0, 0, hwnd_,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(IconId)),
                                GetModuleHandleA(nullptr), nullptr);
        SendMessageA(icon_, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
    }
    CreateNatives(form);
    Sync();
}

TFormWindow::~TFormWindow() {
    if (hwnd_ != nullptr) {
        SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
}

int TFormWindow::NewId(const TControl& control) {
    if (form_.CancelButton == &control && byId_.count(IDCANCEL) == 0)
        return IDCANCEL;
    int id = ControlIdOf(control.Name);
    while (byId_.count(id) != 0)
        id = FirstNamedId + (id - FirstNamedId + 1) % NamedIdRange;
    return id;
}

void TFormWindow::CreateNatives(TControl& parent) {
    for (auto& child : parent.Children()) {
        if (byControl_.count(child.get()) == 0)
            CreateNative(*child);
        CreateNatives(*child);
    }
}

HWND TFormWindow::NativeOf(const TControl& control) const {
    auto found = byControl_.find(&control);
    return found != byControl_.end() ? found->second->Hwnd : nullptr;
}

void TFormWindow::CreateNative(TControl& control) {
    auto native = std::make_unique<Native>();
    native->Control = &control;
    native->Id = NewId(control);
    native->Hwnd = CreateNativeWindow(*native, hwnd_, host_.Theme());
    if (native->Hwnd != nullptr) {
        SetWindowLongPtrA(native->Hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(native.get()));
        native->Owner = this;
        byWindow_[native->Hwnd] = native.get();
        // A group box stays below the controls it frames.
        if (control.Kind() == TControlKind::GroupBox)
            SetWindowPos(native->Hwnd, HWND_BOTTOM, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    if (control.Kind() == TControlKind::Wizard)
        CreateWizardDecorations(*native, hwnd_, host_.Theme());
    byId_[native->Id] = native.get();
    byControl_[&control] = native.get();
    natives_.push_back(std::move(native));
}

// ---- Model to window

bool TFormWindow::Place(HWND hwnd, const TRect& pixels, TRect& cached) {
    if (hwnd == nullptr || pixels == cached)
        return false;
    cached = pixels;
    SetWindowPos(hwnd, nullptr, pixels.Left, pixels.Top, pixels.Width, pixels.Height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    return true;
}

void TFormWindow::Sync() {
    if (hwnd_ == nullptr)
        return;
    syncing_ = true;
    CreateNatives(form_); // controls added after the window was made
    if (!captionSet_ || caption_ != form_.Caption) {
        caption_ = form_.Caption;
        captionSet_ = true;
        SetWindowTextA(hwnd_, caption_.c_str());
    }
    for (auto& native : natives_)
        SyncNative(*native);
    // The default button's frame follows the button Enter presses.
    TButton* preferred = form_.DefaultButton();
    for (auto& native : natives_) {
        if (native->Control->Kind() != TControlKind::Button || native->Hwnd == nullptr)
            continue;
        const bool isDefault = native->Control == preferred;
        if (native->Default != static_cast<int>(isDefault)) {
            native->Default = isDefault;
            SendMessageA(native->Hwnd, BM_SETSTYLE, isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON,
                         TRUE);
        }
    }
    if (form_.ActiveControl() != syncedActive_ && host_.IsTop(form_))
        FocusActive();
    syncing_ = false;
}

void TFormWindow::FocusActive() {
    TControl* active = form_.ActiveControl();
    HWND target = active != nullptr ? NativeOf(*active) : nullptr;
    if (target == nullptr) {
        syncedActive_ = active;
        return;
    }
    // A window not yet shown cannot take the focus: the next sync tries again.
    if (IsWindowVisible(target) && IsWindowEnabled(target) && GetFocus() != target)
        SetFocus(target);
    syncedActive_ = GetFocus() == target ? active : nullptr;
}

void TFormWindow::SyncNative(Native& n) {
    TControl& c = *n.Control;
    const bool showing = c.Showing();
    const TTheme& theme = host_.Theme();
    if (c.Kind() == TControlKind::Wizard)
        SyncWizard(n, showing);
    if (n.Hwnd == nullptr)
        return;
    TRect place = NativeRect(c.Kind(), c.FormRect(), theme.Units);
    if (c.Kind() == TControlKind::ComboBox)
        place.Height += DroppedHeight(n.Hwnd, static_cast<TComboBox&>(c).Count());
    bool refit = Place(n.Hwnd, place, n.Rect); // a memo's scroll bars, as its text fits
    if (n.Visible != static_cast<int>(showing)) {
        n.Visible = showing;
        ShowWindow(n.Hwnd, showing ? SW_SHOWNA : SW_HIDE);
    }
    const bool usable = c.Usable();
    if (n.Enabled != static_cast<int>(usable)) {
        n.Enabled = usable;
        EnableWindow(n.Hwnd, usable);
    }
    HFONT font = c.Bold ? theme.Bold : theme.Normal;
    if (c.Kind() == TControlKind::Memo && static_cast<TMemo&>(c).FixedPitch)
        font = theme.Fixed;
    if (n.Font != font) {
        n.Font = font;
        SendMessageA(n.Hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
        refit = true;
    }
    refit = SetTextIfChanged(n, NativeText(c)) || refit;
    if (refit && c.Kind() == TControlKind::Memo)
        FitScrollBars(n);

    switch (c.Kind()) {
    case TControlKind::CheckBox:
    case TControlKind::RadioButton: {
        const bool checked = c.Kind() == TControlKind::CheckBox
                                 ? static_cast<TCheckBox&>(c).Checked()
                                 : static_cast<TRadioButton&>(c).Checked();
        if (n.Check != static_cast<int>(checked)) {
            n.Check = checked;
            SendMessageA(n.Hwnd, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
        }
        break;
    }
    case TControlKind::ComboBox:
        SyncCombo(n);
        break;
    case TControlKind::ListView:
        SyncList(n);
        break;
    case TControlKind::Gauge: {
        const int progress = static_cast<TGauge&>(c).Progress();
        if (n.Index != progress) {
            n.Index = progress;
            SendMessageA(n.Hwnd, PBM_SETPOS, static_cast<WPARAM>(progress), 0);
        }
        break;
    }
    case TControlKind::StatusBar: {
        const std::string& text = static_cast<TStatusBar&>(c).SimpleText;
        if (n.Signature != text || !n.SignatureSet) {
            n.Signature = text;
            n.SignatureSet = true;
            SendMessageA(n.Hwnd, SB_SETTEXTA, SB_SIMPLEID, reinterpret_cast<LPARAM>(text.c_str()));
            // The window's text too, for screen readers and test drivers (WM_GETTEXT).
            SendMessageA(n.Hwnd, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(text.c_str()));
        }
        break;
    }
    case TControlKind::SideBar:
    case TControlKind::Animation: {
        const std::string signature = CustomSignature(c, form_.ActiveControl() == &c);
        if (n.Signature != signature || !n.SignatureSet) {
            n.Signature = signature;
            n.SignatureSet = true;
            InvalidateRect(n.Hwnd, nullptr, TRUE);
        }
        break;
    }
    default:
        break;
    }
}

void TFormWindow::SyncWizard(Native& n, bool showing) {
    auto& wizard = static_cast<TWizard&>(*n.Control);
    const TTheme& theme = host_.Theme();
    const TRect r = theme.Units.ToPixels(wizard.FormRect());
    TWizardPage* page = wizard.ActivePage();
    const bool header = showing && page != nullptr && page->HeaderVisible;
    const int ux = theme.Units.X, uy = theme.Units.Y;
    // An etched line is two pixels at any resolution: a shadow and a highlight. A taller
    // control would leave its middle unpainted, showing what the page before drew there.
    const int ruleHeight = 2;
    const TRect title{r.Left + 2 * ux, r.Top + uy / 3, r.Width - 3 * ux, uy};
    const TRect subtitle{r.Left + 4 * ux, r.Top + uy + uy / 3, r.Width - 5 * ux, uy};
    const TRect topRule{r.Left, r.Top + TWizard::HeaderHeight * uy - ruleHeight, r.Width,
                        ruleHeight};
    const TRect bottomRule{r.Left, r.Bottom() - TWizard::ButtonBarHeight * uy + uy / 2, r.Width,
                           ruleHeight};
    Place(n.Decorations[0], title, n.DecorationRects[0]);
    Place(n.Decorations[1], subtitle, n.DecorationRects[1]);
    Place(n.Decorations[2], topRule, n.DecorationRects[2]);
    Place(n.Decorations[3], bottomRule, n.DecorationRects[3]);
    const std::string titleText = page != nullptr ? page->Title : "";
    const std::string subtitleText = page != nullptr ? page->Subtitle : "";
    if (n.Text != titleText || !n.TextSet) {
        n.Text = titleText;
        n.TextSet = true;
        SetWindowTextA(n.Decorations[0], titleText.c_str());
    }
    if (n.Signature != subtitleText || !n.SignatureSet) {
        n.Signature = subtitleText;
        n.SignatureSet = true;
        SetWindowTextA(n.Decorations[1], subtitleText.c_str());
    }
    const int state = (header ? 1 : 0) | (showing ? 2 : 0);
    if (n.Visible != state) {
        n.Visible = state;
        for (int i = 0; i < 3; ++i)
            ShowWindow(n.Decorations[i], header ? SW_SHOWNA : SW_HIDE);
        ShowWindow(n.Decorations[3], showing ? SW_SHOWNA : SW_HIDE);
        InvalidateRect(hwnd_, nullptr, TRUE); // the header's white band
    }
}

void TFormWindow::SyncCombo(Native& n) {
    auto& combo = static_cast<TComboBox&>(*n.Control);
    std::vector<std::string> items;
    for (int i = 0; i < combo.Count(); ++i)
        items.push_back(combo.Items(i).Text);
    if (items != n.Items) {
        n.Items = items;
        SendMessageA(n.Hwnd, CB_RESETCONTENT, 0, 0);
        for (const auto& item : items)
            SendMessageA(n.Hwnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
        n.Index = -2;
    }
    if (n.Index != combo.ItemIndex()) {
        n.Index = combo.ItemIndex();
        SendMessageA(n.Hwnd, CB_SETCURSEL, static_cast<WPARAM>(n.Index), 0);
    }
}

void TFormWindow::SyncList(Native& n) {
    auto& list = static_cast<TListView&>(*n.Control);
    const TTheme& theme = host_.Theme();
    // Columns: captions and widths, set again when either changed. The list's border and
    // its vertical scroll bar take about two units of its width.
    const std::vector<int> widths = list.ColumnWidths(list.Bounds().Width - 2);
    std::vector<std::string> columns;
    for (std::size_t i = 0; i < list.Columns.size(); ++i)
        columns.push_back(list.Columns[i].Caption + "\x1f" + std::to_string(widths[i]));
    if (columns != n.Columns) {
        while (SendMessageA(n.Hwnd, LVM_DELETECOLUMN, 0, 0)) {
        }
        for (std::size_t i = 0; i < list.Columns.size(); ++i) {
            LVCOLUMNA column{};
            column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
            column.pszText = const_cast<char*>(list.Columns[i].Caption.c_str());
            column.cx = widths[i] * theme.Units.X;
            column.iSubItem = static_cast<int>(i);
            SendMessageA(n.Hwnd, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&column));
        }
        n.Columns = columns;
        n.Items.clear();
    }
    // Rows: a row whose text, style or check changed is written again.
    std::vector<std::string> rows;
    for (int i = 0; i < list.Count(); ++i)
        rows.push_back(RowSignature(list, i));
    if (rows.size() != n.Items.size()) {
        SendMessageA(n.Hwnd, LVM_DELETEALLITEMS, 0, 0);
        n.Items.assign(rows.size(), std::string("\x01"));
        for (int i = 0; i < list.Count(); ++i) {
            LVITEMA item{};
            item.mask = LVIF_TEXT;
            item.iItem = i;
            item.pszText = const_cast<char*>("");
            SendMessageA(n.Hwnd, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
        }
        n.Index = -2;
    }
    for (int i = 0; i < list.Count(); ++i) {
        auto& cached = n.Items[static_cast<std::size_t>(i)];
        if (cached == rows[static_cast<std::size_t>(i)])
            continue;
        cached = rows[static_cast<std::size_t>(i)];
        WriteRow(n.Hwnd, list, i);
    }
    // The row the keyboard is on shows as the selected one while the list has the focus,
    // before any key, as the terminal's list shows it.
    const int shown = list.Selected() >= 0             ? list.Selected()
                      : form_.ActiveControl() == &list ? list.FocusedRow()
                                                       : -1;
    if (n.Index != shown) {
        LVITEMA clear{};
        clear.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageA(n.Hwnd, LVM_SETITEMSTATE, static_cast<WPARAM>(-1),
                     reinterpret_cast<LPARAM>(&clear));
        n.Index = shown;
        if (n.Index >= 0) {
            LVITEMA select{};
            select.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
            select.state = LVIS_SELECTED | LVIS_FOCUSED;
            SendMessageA(n.Hwnd, LVM_SETITEMSTATE, static_cast<WPARAM>(n.Index),
                         reinterpret_cast<LPARAM>(&select));
            SendMessageA(n.Hwnd, LVM_ENSUREVISIBLE, static_cast<WPARAM>(n.Index), FALSE);
        }
    }
}

} // namespace purgelet::ui::win32
