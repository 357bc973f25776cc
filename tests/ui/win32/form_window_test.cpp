// The window renderer on real windows (under Wine on the test display): each model control
// becomes the native control of its kind at its cells in pixels, the model's changes reach the
// windows at the next sync, and the user's actions on the windows reach the model.
#include "e2e/win32/gui_driver.h"
#include "ui/controls.h"
#include "ui/list_view.h"
#include "ui/scripted_host.h"
#include "ui/win32/form_window.h"
#include "ui/win32/native.h"
#include "ui/win32/win32_host.h"
#include "ui/wizard.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <windows.h>

#include <memory>
#include <string>

namespace purgelet::ui::win32 {
namespace {

// The form window's host: handlers run at once, and the form always has the keyboard.
class TestFormHost : public TFormHost {
public:
    const TTheme& Theme() const override { return theme_; }
    void Call(const std::function<void()>& action) override {
        ++calls;
        action();
    }
    bool IsTop(const TForm&) const override { return true; }
    int calls = 0;

private:
    TTheme theme_;
};

std::string ClassOf(HWND hwnd) {
    char name[64] = "";
    GetClassNameA(hwnd, name, sizeof(name));
    return name;
}

std::string TextOf(HWND hwnd) {
    char text[512] = "";
    GetWindowTextA(hwnd, text, sizeof(text));
    return text;
}

// A client-area rectangle of a child window.
TRect PlaceOf(HWND child) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

class FormWindowTest : public ::testing::Test {
protected:
    FormWindowTest() : form(std::make_unique<TForm>("Form", model, TForm::OuterFor(60, 20))) {
        form->Caption = "Test form";
    }
    void Show() {
        form->SetVisible(true); // as the host's ShowModal and Show do
        window = std::make_unique<TFormWindow>(host, *form, nullptr, nullptr);
        ASSERT_NE(window->Handle(), nullptr);
        ShowWindow(window->Handle(), SW_SHOW);
        SetForegroundWindow(window->Handle());
        // What the display answers to the new window (its size, its activation) first.
        for (int i = 0; i < 5; ++i) {
            Pump();
            Sleep(20);
        }
        window->FocusActive();
    }
    HWND Native(const std::string& name) { return GetDlgItem(window->Handle(), ControlIdOf(name)); }
    // Lets the window system deliver what the windows sent themselves.
    static void Pump() {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }

    ScriptedHost model;
    TestFormHost host;
    std::unique_ptr<TForm> form;
    std::unique_ptr<TFormWindow> window;
};

TEST_F(FormWindowTest, EachKindBecomesItsNativeControlAtItsCells) {
    auto& label = form->Add<TLabel>("Label", TRect{1, 1, 20, 1});
    auto& button = form->Add<TButton>("Go", TRect{1, 3, 10, 1});
    form->Add<TCheckBox>("Check", TRect{1, 5, 20, 1});
    form->Add<TComboBox>("Combo", TRect{1, 7, 20, 1});
    form->Add<TListView>("List", TRect{25, 1, 30, 10});
    form->Add<TGauge>("Gauge", TRect{1, 12, 40, 1});
    form->Add<TMemo>("Memo", TRect{1, 14, 40, 4});
    form->Add<TGroupBox>("Group", TRect{42, 12, 15, 6});
    auto& cancel = form->Add<TButton>("Cancel", TRect{48, 18, 10, 1});
    form->CancelButton = &cancel;
    label.Caption = "&Name:";
    auto& wrapped = form->Add<TLabel>("Wrapped", TRect{1, 9, 20, 2});
    wrapped.WordWrap = true;
    wrapped.Caption = "first line\nsecond line";
    button.Caption = "&Go";
    Show();

    EXPECT_EQ(TextOf(window->Handle()), "Test form");
    EXPECT_EQ(ClassOf(Native("Label")), "Static");
    EXPECT_EQ(TextOf(Native("Label")), "&Name:");
    EXPECT_EQ(GetWindowLongA(Native("Label"), GWL_STYLE) & SS_TYPEMASK, SS_LEFTNOWORDWRAP);
    // A wrapped label is drawn by the form; its text stays the window's text.
    EXPECT_EQ(GetWindowLongA(Native("Wrapped"), GWL_STYLE) & SS_TYPEMASK, SS_OWNERDRAW);
    EXPECT_EQ(TextOf(Native("Wrapped")), "first line\r\nsecond line");
    EXPECT_EQ(ClassOf(Native("Go")), "Button");
    EXPECT_EQ(ClassOf(Native("Check")), "Button");
    EXPECT_EQ(GetWindowLongA(Native("Check"), GWL_STYLE) & BS_TYPEMASK, BS_CHECKBOX);
    EXPECT_EQ(ClassOf(Native("Combo")), "ComboBox");
    EXPECT_EQ(ClassOf(Native("List")), "SysListView32");
    EXPECT_EQ(ClassOf(Native("Gauge")), "msctls_progress32");
    EXPECT_EQ(ClassOf(Native("Memo")), "Edit");
    EXPECT_NE(GetWindowLongA(Native("Memo"), GWL_STYLE) & ES_MULTILINE, 0);
    EXPECT_EQ(GetWindowLongA(Native("Group"), GWL_STYLE) & BS_TYPEMASK, BS_GROUPBOX);
    // The cancel button answers to IDCANCEL, as a dialog's does.
    EXPECT_EQ(GetDlgItem(window->Handle(), IDCANCEL), window->NativeOf(cancel));

    // Cells times the font's units, in the form's client area (the model's frame is the
    // window's frame).
    const TUnits& u = host.Theme().Units;
    EXPECT_EQ(PlaceOf(Native("Label")), (TRect{u.X, u.Y, 20 * u.X, u.Y}));
    EXPECT_EQ(PlaceOf(Native("List")), (TRect{25 * u.X, u.Y, 30 * u.X, 10 * u.Y}));
    RECT client;
    GetClientRect(window->Handle(), &client);
    EXPECT_EQ(client.right, 60 * u.X);
    // A dialog keeps half a row below its last row of cells.
    EXPECT_EQ(client.bottom, 20 * u.Y + DialogBottomMargin(u));
}

TEST_F(FormWindowTest, ModelChangesReachTheWindowsAtTheNextSync) {
    auto& label = form->Add<TLabel>("Label", TRect{1, 1, 20, 1});
    auto& check = form->Add<TCheckBox>("Check", TRect{1, 3, 20, 1});
    auto& gauge = form->Add<TGauge>("Gauge", TRect{1, 5, 40, 1});
    auto& combo = form->Add<TComboBox>("Combo", TRect{1, 7, 20, 1});
    auto& memo = form->Add<TMemo>("Memo", TRect{1, 9, 40, 4});
    auto& panel = form->Add<TPanel>("Panel", TRect{30, 1, 20, 5});
    panel.Add<TButton>("Inner", TRect{1, 1, 10, 1});
    Show();
    EXPECT_TRUE(IsWindowVisible(Native("Inner")));

    label.Caption = "Changed";
    check.SetChecked(true);
    gauge.SetProgress(42);
    combo.AddItem("one");
    combo.AddItem("two");
    combo.SetItemIndex(1);
    memo.Lines = {"first", "second"};
    panel.SetVisible(false); // hides what it holds
    check.SetEnabled(false);
    window->Sync();

    EXPECT_EQ(TextOf(Native("Label")), "Changed");
    EXPECT_EQ(SendMessageA(Native("Check"), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_FALSE(IsWindowEnabled(Native("Check")));
    EXPECT_EQ(SendMessageA(Native("Gauge"), PBM_GETPOS, 0, 0), 42);
    EXPECT_EQ(SendMessageA(Native("Combo"), CB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(SendMessageA(Native("Combo"), CB_GETCURSEL, 0, 0), 1);
    EXPECT_EQ(TextOf(Native("Memo")), "first\r\nsecond");
    EXPECT_FALSE(IsWindowVisible(Native("Inner")));
}

TEST_F(FormWindowTest, UserActionsOnTheWindowsReachTheModel) {
    auto& check = form->Add<TCheckBox>("Check", TRect{1, 1, 20, 1});
    auto& edit = form->Add<TEdit>("Edit", TRect{1, 3, 20, 1});
    auto& combo = form->Add<TComboBox>("Combo", TRect{1, 5, 20, 1});
    auto& button = form->Add<TButton>("Button", TRect{1, 7, 10, 1});
    combo.AddItem("one");
    combo.AddItem("two");
    int clicks = 0, checks = 0, changes = 0, choices = 0;
    button.OnClick = [&] { ++clicks; };
    check.OnClick = [&] { ++checks; };
    edit.OnChange = [&] { ++changes; };
    combo.OnChange = [&] { ++choices; };
    Show();

    SendMessageA(Native("Check"), BM_CLICK, 0, 0);
    EXPECT_TRUE(check.Checked());
    EXPECT_EQ(checks, 1);
    SendMessageA(Native("Button"), BM_CLICK, 0, 0);
    EXPECT_EQ(clicks, 1);
    SendMessageA(Native("Edit"), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("typed"));
    EXPECT_EQ(edit.Text(), "typed");
    EXPECT_EQ(changes, 1);
    SendMessageA(Native("Combo"), CB_SETCURSEL, 1, 0);
    SendMessageA(window->Handle(), WM_COMMAND, MAKEWPARAM(ControlIdOf("Combo"), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(Native("Combo")));
    EXPECT_EQ(combo.ItemIndex(), 1);
    EXPECT_EQ(choices, 1);

    // A control the model disabled does not act, whatever reaches its window.
    button.SetEnabled(false);
    SendMessageA(window->Handle(), WM_COMMAND, MAKEWPARAM(ControlIdOf("Button"), BN_CLICKED),
                 reinterpret_cast<LPARAM>(Native("Button")));
    EXPECT_EQ(clicks, 1);
}

TEST_F(FormWindowTest, ADropDownListOpensWithRoomForItsItems) {
    auto& combo = form->Add<TComboBox>("Combo", TRect{1, 1, 20, 1});
    form->Add<TButton>("Below", TRect{1, 3, 10, 1});
    for (const char* item : {"Zero fill", "Random", "Three passes", "Seven passes"})
        combo.AddItem(item);
    combo.SetItemIndex(0);
    Show();
    HWND native = Native("Combo");
    // The field keeps its row: it does not cover the button below it.
    RECT field, below;
    GetWindowRect(native, &field);
    GetWindowRect(Native("Below"), &below);
    EXPECT_LE(field.bottom, below.top);

    SendMessageA(native, CB_SHOWDROPDOWN, TRUE, 0);
    Pump();
    COMBOBOXINFO info{};
    info.cbSize = sizeof(info);
    ASSERT_TRUE(GetComboBoxInfo(native, &info));
    ASSERT_NE(info.hwndList, nullptr);
    EXPECT_TRUE(IsWindowVisible(info.hwndList));
    RECT list;
    GetWindowRect(info.hwndList, &list);
    const auto row = static_cast<int>(SendMessageA(native, CB_GETITEMHEIGHT, 0, 0));
    EXPECT_GE(list.bottom - list.top, 4 * row) << "the open list has no room for its items";
    EXPECT_GE(list.right - list.left, field.right - field.left - 2);
    SendMessageA(native, CB_SHOWDROPDOWN, FALSE, 0);
}

TEST_F(FormWindowTest, AMemoShowsAScrollBarOnlyWhereItsTextDoesNotFit) {
    auto& memo = form->Add<TMemo>("Memo", TRect{1, 1, 40, 8});
    memo.Lines = {"Drives to Wipe:", "  - DATA (D:)"};
    Show();
    HWND native = Native("Memo");
    auto bars = [&] { return GetWindowLongA(native, GWL_STYLE) & (WS_VSCROLL | WS_HSCROLL); };
    EXPECT_EQ(bars(), 0) << "a short text shows scroll bars";

    memo.Lines.assign(40, "a line");
    window->Sync();
    EXPECT_EQ(bars(), WS_VSCROLL);

    memo.Lines = {std::string(300, 'w')};
    window->Sync();
    EXPECT_EQ(bars(), WS_HSCROLL);

    memo.Lines.assign(40, std::string(300, 'w'));
    window->Sync();
    EXPECT_EQ(bars(), WS_VSCROLL | WS_HSCROLL);
}

// The rightmost column left of before where a window's pixels are neither its background nor
// white (a greyed caption's embossing).
int RightmostInk(HWND hwnd, int before = 1 << 20) {
    const testing::gui::TPicture picture = testing::gui::Capture(hwnd);
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    for (int x = std::min(before, picture.Width) - 1; x >= 0; --x)
        for (int y = 0; y < picture.Height; ++y) {
            const COLORREF pixel = picture.At(x, y);
            if (!testing::gui::Near(pixel, face, 24) &&
                !testing::gui::Near(pixel, RGB(255, 255, 255), 24))
                return x;
        }
    return -1;
}

TEST_F(FormWindowTest, ACheckBoxShowsItsWholeCaptionFocusedOrGreyed) {
    auto& plain = form->Add<TCheckBox>("Plain", TRect{1, 1, 40, 1});
    auto& focused = form->Add<TCheckBox>("Focused", TRect{1, 3, 40, 1});
    auto& greyed = form->Add<TCheckBox>("Greyed", TRect{1, 5, 40, 1});
    for (TCheckBox* box : {&plain, &focused, &greyed})
        box->Caption = "Allow user abort";
    greyed.SetEnabled(false);
    Show();
    form->SetFocus(&focused);
    window->Sync();
    for (int i = 0; i < 5; ++i) {
        Pump();
        Sleep(20);
    }
    ASSERT_EQ(GetFocus(), Native("Focused"));
    const int letters = RightmostInk(Native("Plain"));
    ASSERT_GT(letters, 20);
    // The focus frame is the rightmost ink; the whole caption stands inside it.
    const int frame = RightmostInk(Native("Focused"));
    EXPECT_GE(RightmostInk(Native("Focused"), frame), letters) << "the last letter is cut";
    EXPECT_GE(RightmostInk(Native("Greyed")), letters - 1) << "the last letter is cut";
}

TEST_F(FormWindowTest, ListTicksGoThroughTheModelWhichRefusesRowsWithoutABox) {
    auto& list = form->Add<TListView>("List", TRect{1, 1, 50, 12});
    list.Columns = {{"Name", 30}, {"Size", 15}};
    list.AddItem({"Group", {}, -3});
    list.AddItem({"Drive", {"1.00 MB"}, 0});
    list.OnCustomDraw = [](const TListItem& item) {
        return TListItemDraw{item.ImageIndex == -3 ? TListItemStyle::GroupTitle
                                                   : TListItemStyle::Normal,
                             item.ImageIndex >= 0};
    };
    int changes = 0;
    list.OnChange = [&](int) { ++changes; };
    Show();
    HWND native = Native("List");
    ASSERT_EQ(SendMessageA(native, LVM_GETITEMCOUNT, 0, 0), 2);
    // Only the drive row has a box.
    EXPECT_EQ(SendMessageA(native, LVM_GETITEMSTATE, 0, LVIS_STATEIMAGEMASK), 0);
    EXPECT_EQ(SendMessageA(native, LVM_GETITEMSTATE, 1, LVIS_STATEIMAGEMASK),
              INDEXTOSTATEIMAGEMASK(1));

    auto tick = [&](int row) {
        LVITEMA item{};
        item.stateMask = LVIS_STATEIMAGEMASK;
        item.state = INDEXTOSTATEIMAGEMASK(2);
        SendMessageA(native, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                     reinterpret_cast<LPARAM>(&item));
        window->Sync();
    };
    tick(1);
    EXPECT_TRUE(list.Items(1).Checked);
    EXPECT_GE(changes, 1);
    tick(0);
    EXPECT_FALSE(list.Items(0).Checked);
    EXPECT_EQ(SendMessageA(native, LVM_GETITEMSTATE, 0, LVIS_STATEIMAGEMASK), 0);

    // The model's selection and cells show in the window.
    list.SetSelected(1);
    window->Sync();
    EXPECT_EQ(SendMessageA(native, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED), 1);
}

TEST_F(FormWindowTest, KeysGoThroughTheFormTabEnterAndAccelerators) {
    auto& first = form->Add<TEdit>("First", TRect{1, 1, 20, 1});
    auto& second = form->Add<TEdit>("Second", TRect{1, 3, 20, 1});
    auto& ok = form->Add<TButton>("Ok", TRect{1, 5, 10, 1});
    auto& other = form->Add<TButton>("Other", TRect{12, 5, 10, 1});
    first.TabOrder = 0;
    second.TabOrder = 1;
    ok.TabOrder = 2;
    other.TabOrder = 3;
    ok.Caption = "OK";
    other.Caption = "&Other";
    form->SetDefaultButton(&ok);
    int okClicks = 0, otherClicks = 0;
    ok.OnClick = [&] { ++okClicks; };
    other.OnClick = [&] { ++otherClicks; };
    Show();
    form->SetFocus(&first);
    window->Sync();
    EXPECT_EQ(GetFocus(), Native("First"));
    // The default button carries the default frame.
    EXPECT_NE(GetWindowLongA(Native("Ok"), GWL_STYLE) & BS_DEFPUSHBUTTON, 0);

    MSG tab{Native("First"), WM_KEYDOWN, VK_TAB, 0, 0, {}};
    EXPECT_TRUE(window->PreTranslate(tab));
    EXPECT_EQ(form->ActiveControl(), &second);
    EXPECT_EQ(GetFocus(), Native("Second"));

    MSG enter{Native("Second"), WM_KEYDOWN, VK_RETURN, 0, 0, {}};
    EXPECT_TRUE(window->PreTranslate(enter));
    EXPECT_EQ(okClicks, 1);

    MSG alt{Native("Second"), WM_SYSCHAR, 'o', 0, 0, {}};
    EXPECT_TRUE(window->PreTranslate(alt));
    EXPECT_EQ(otherClicks, 1);
    EXPECT_EQ(okClicks, 1);

    // Keys the form has no use for stay with the control.
    MSG letter{Native("Second"), WM_KEYDOWN, 'A', 0, 0, {}};
    EXPECT_FALSE(window->PreTranslate(letter));
}

TEST_F(FormWindowTest, CloseAsksTheModelAndTheWindowStays) {
    bool asked = false;
    form->OnCloseQuery = [&] {
        asked = true;
        return false;
    };
    Show();
    SendMessageA(window->Handle(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(asked);
    EXPECT_TRUE(IsWindow(window->Handle()));
    EXPECT_FALSE(form->IsClosed());
}

TEST_F(FormWindowTest, TheMainWindowMinimisesButNeverShrinksBelowItsDesign) {
    form->Resizable = true;
    Show();
    const LONG style = GetWindowLongA(window->Handle(), GWL_STYLE);
    EXPECT_NE(style & WS_MINIMIZEBOX, 0);
    EXPECT_EQ(style & WS_MAXIMIZEBOX, 0);
    EXPECT_NE(style & WS_THICKFRAME, 0);
    // The smallest frame holds the designed client area.
    const TUnits& u = host.Theme().Units;
    RECT outer{0, 0, 60 * u.X, 20 * u.Y};
    AdjustWindowRectEx(&outer, static_cast<DWORD>(style), FALSE,
                       static_cast<DWORD>(GetWindowLongA(window->Handle(), GWL_EXSTYLE)));
    MINMAXINFO info{};
    SendMessageA(window->Handle(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.ptMinTrackSize.x, outer.right - outer.left);
    EXPECT_EQ(info.ptMinTrackSize.y, outer.bottom - outer.top);
    // A dialog has a fixed frame.
    TForm dialog("Dialog", model, TForm::OuterFor(20, 5));
    dialog.SetVisible(true);
    TFormWindow dialogWindow(host, dialog, window->Handle(), nullptr);
    EXPECT_EQ(GetWindowLongA(dialogWindow.Handle(), GWL_STYLE) & (WS_THICKFRAME | WS_MINIMIZEBOX),
              0);
}

TEST(Units, CellsFollowTheFontAndFieldsKeepAGap) {
    const TUnits at96 = TUnits::FromFont(6, 13);
    const TUnits at144 = TUnits::FromFont(9, 19);
    EXPECT_EQ(at96.X, 8);
    EXPECT_EQ(at96.Y, 21);
    // Half as large again, within a pixel of rounding.
    EXPECT_NEAR(at144.X * 2, at96.X * 3, 2);
    EXPECT_NEAR(at144.Y * 2, at96.Y * 3, 2);
    EXPECT_EQ(at96.ColumnsIn(8 * 78 + 7), 78);
    // A button keeps off its neighbours' rows; a label takes its whole cells.
    const TRect button = NativeRect(TControlKind::Button, {2, 3, 10, 1}, at96);
    EXPECT_GT(button.Top, 3 * at96.Y);
    EXPECT_LT(button.Bottom(), 4 * at96.Y);
    EXPECT_EQ(NativeRect(TControlKind::Label, {2, 3, 10, 1}, at96), (TRect{16, 63, 80, 21}));
}

TEST(ControlIds, StableForANameAndClearOfTheDialogIds) {
    static_assert(ControlIdOf("ButtonNext") == ControlIdOf("ButtonNext"));
    for (const char* name : {"", "ButtonNext", "ButtonCancel", "lwDisksList", "Message"}) {
        EXPECT_GE(ControlIdOf(name), FirstNamedId) << name;
        EXPECT_LT(ControlIdOf(name), FirstNamedId + NamedIdRange) << name;
    }
    EXPECT_NE(ControlIdOf("ButtonNext"), ControlIdOf("ButtonBack"));
}

TEST(NativeText, LineFeedsBecomeCrLfOnce) {
    EXPECT_EQ(WithCrLf("\nfirst\nsecond\r\nthird"), "\r\nfirst\r\nsecond\r\nthird");
}

} // namespace
} // namespace purgelet::ui::win32
