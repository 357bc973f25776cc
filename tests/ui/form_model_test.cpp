// The form model through its events, with no renderer: what the program's logic relies on.
#include "ui/control_texts.h"
#include "ui/controls.h"
#include "ui/form.h"
#include "ui/list_view.h"
#include "ui/scripted_host.h"
#include "ui/side_bar.h"
#include "ui/wizard.h"

#include <gtest/gtest.h>

namespace purgelet::ui {
namespace {

TEST(FormModel, AnchoredControlsFollowTheFormsSize) {
    ScriptedHost host;
    TForm form("F", host, TForm::OuterFor(40, 10));
    form.Show();
    auto& fixed = form.Add<TLabel>("fixed", TRect{1, 1, 10, 1});
    auto& wide = form.Add<TEdit>("wide", TRect{1, 2, 30, 1}, akLeft | akTop | akRight);
    auto& corner = form.Add<TButton>("corner", TRect{30, 8, 8, 1}, akRight | akBottom);
    auto& group = form.Add<TGroupBox>("group", TRect{0, 3, 40, 5}, akAll);
    auto& inner = group.Add<TMemo>("inner", TRect{0, 0, 38, 3}, akAll);
    form.SetBounds(TForm::OuterFor(60, 20));
    EXPECT_EQ(fixed.Bounds(), (TRect{1, 1, 10, 1}));
    EXPECT_EQ(wide.Bounds(), (TRect{1, 2, 50, 1}));
    EXPECT_EQ(corner.Bounds(), (TRect{50, 18, 8, 1}));
    EXPECT_EQ(inner.Bounds(), (TRect{0, 0, 58, 13}));
    // Inside the group's frame, inside the form's frame.
    EXPECT_EQ(inner.FormRect(), (TRect{1, 4, 58, 13}));
}

TEST(FormModel, CheckedFromCodeFiresTheClickOnlyOnAChange) {
    ScriptedHost host;
    TForm form("F", host, TForm::OuterFor(20, 5));
    form.Show();
    auto& box = form.Add<TCheckBox>("box", TRect{0, 0, 10, 1});
    int clicks = 0;
    box.OnClick = [&] { ++clicks; };
    box.SetChecked(true);
    box.SetChecked(true);
    EXPECT_EQ(clicks, 1);
    box.SetEnabled(false);
    EXPECT_FALSE(box.UserToggle());
    EXPECT_TRUE(box.Checked());
    EXPECT_EQ(clicks, 1);

    auto& a = form.Add<TRadioButton>("a", TRect{0, 1, 10, 1});
    auto& b = form.Add<TRadioButton>("b", TRect{0, 2, 10, 1});
    a.SetChecked(true);
    ASSERT_TRUE(b.UserSelect());
    EXPECT_FALSE(a.Checked());
    EXPECT_TRUE(b.Checked());
}

TEST(FormModel, TheListViewReportsChecksAndSelectionsWithTheirRow) {
    ScriptedHost host;
    TForm form("F", host, TForm::OuterFor(40, 10));
    form.Show();
    auto& list = form.Add<TListView>("list", TRect{0, 0, 40, 5});
    for (int i = 0; i < 10; ++i)
        list.AddItem({"row" + std::to_string(i), {}, i == 0 ? -3 : 0, false, nullptr});
    list.OnCustomDraw = [](const TListItem& item) {
        return TListItemDraw{
            item.ImageIndex == -3 ? TListItemStyle::GroupTitle : TListItemStyle::Normal, true};
    };
    std::vector<int> changes;
    list.OnChange = [&](int row) { changes.push_back(row); };
    EXPECT_FALSE(list.UserToggle(0)); // a title has no check box
    ASSERT_TRUE(list.UserToggle(2));
    ASSERT_TRUE(list.UserSelect(2));
    list.SetSelected(2); // no change, no event
    form.SetFocus(&list);
    form.HandleKey({TKey::End});
    EXPECT_EQ(changes, (std::vector<int>{2, 2, 9}));
    // The selection is kept in view: four rows below the column header.
    EXPECT_EQ(list.TopIndex, 6);
    form.HandleKey({TKey::Space});
    EXPECT_TRUE(list.Items(9).Checked);
    list.Clear();
    EXPECT_EQ(list.Selected(), -1);
}

// Columns keep their widths; those that size themselves share what the others leave, and a
// list narrower than its columns keeps them as they are (the renderer cuts them).
TEST(FormModel, TheListViewsAutoSizeColumnsShareTheWidthLeftOver) {
    TListView list("list", TRect{0, 0, 40, 5});
    EXPECT_TRUE(list.ColumnWidths(80).empty());
    list.Columns = {{"Name", 34}, {"Size", 16}};
    EXPECT_EQ(list.ColumnWidths(155), (std::vector<int>{34, 16}));
    list.Columns[0].AutoSize = true;
    EXPECT_EQ(list.ColumnWidths(155), (std::vector<int>{139, 16}));
    EXPECT_EQ(list.ColumnWidths(50), (std::vector<int>{34, 16}));
    EXPECT_EQ(list.ColumnWidths(30), (std::vector<int>{34, 16}));
    list.Columns = {{"A", 10, true}, {"B", 5}, {"C", 10, true}};
    EXPECT_EQ(list.ColumnWidths(30), (std::vector<int>{13, 5, 12}));
}

TEST(FormModel, VerticalKeysPageTheListViewAndScrollTheMemo) {
    ScriptedHost host;
    TForm form("F", host, TForm::OuterFor(40, 10));
    form.Show();
    auto& list = form.Add<TListView>("list", TRect{0, 0, 40, 5}); // four rows: pages of three
    for (int i = 0; i < 10; ++i)
        list.AddItem({"row" + std::to_string(i), {}, 0, false, nullptr});
    form.SetFocus(&list);
    std::vector<int> rows;
    for (TKey key : {TKey::End, TKey::PageUp, TKey::Up, TKey::Home, TKey::PageDown, TKey::Down}) {
        ASSERT_TRUE(form.HandleKey({key}));
        rows.push_back(list.Selected());
    }
    EXPECT_EQ(rows, (std::vector<int>{9, 6, 5, 0, 3, 4}));

    auto& memo = form.Add<TMemo>("memo", TRect{0, 5, 10, 3}); // three lines: pages of two
    for (int i = 0; i < 10; ++i)
        memo.Lines.push_back("line " + std::to_string(i) + " of the memo");
    ASSERT_TRUE(form.SetFocus(&memo));
    std::vector<int> tops;
    for (TKey key : {TKey::Down, TKey::PageDown, TKey::End, TKey::Up, TKey::PageUp, TKey::Home}) {
        ASSERT_TRUE(form.HandleKey({key}));
        tops.push_back(memo.TopLine);
    }
    EXPECT_EQ(tops, (std::vector<int>{1, 3, 7, 6, 4, 0}));
    ASSERT_TRUE(form.HandleKey({TKey::Right}));
    EXPECT_EQ(memo.LeftColumn, 1);
    ASSERT_TRUE(form.HandleKey({TKey::Left}));
    EXPECT_EQ(memo.LeftColumn, 0);
}

TEST(FormModel, TabOrderAcceleratorsAndTheDefaultAndCancelButtons) {
    ScriptedHost host;
    TForm form("F", host, TForm::OuterFor(40, 10));
    form.Show();
    auto& second = form.Add<TButton>("second", TRect{0, 0, 10, 1});
    second.TabOrder = 2;
    second.Caption = "&Second";
    auto& first = form.Add<TCheckBox>("first", TRect{0, 1, 10, 1});
    first.TabOrder = 1;
    first.Caption = "&First && last";
    auto& hidden = form.Add<TButton>("hidden", TRect{0, 2, 10, 1});
    hidden.SetVisible(false);
    hidden.Caption = "&Hidden";
    auto& edit = form.Add<TEdit>("edit", TRect{0, 3, 10, 1});
    edit.TabOrder = 3;
    int exits = 0;
    edit.OnExit = [&] { ++exits; };

    EXPECT_EQ(form.TabStops(), (std::vector<TControl*>{&first, &second, &edit}));
    EXPECT_EQ(first.PlainCaption(), "First & last");
    EXPECT_EQ(first.Accelerator(), 'F');
    EXPECT_EQ(form.FindAccelerator('h'), nullptr); // hidden controls have none

    int presses = 0, cancels = 0;
    second.OnClick = [&] { ++presses; };
    form.SetDefaultButton(&second);
    TButton& cancel = form.Add<TButton>("cancel", TRect{20, 0, 10, 1});
    cancel.OnClick = [&] { ++cancels; };
    form.CancelButton = &cancel;

    form.HandleKey({TKey::Char, 's', true}); // Alt+S presses and focuses
    EXPECT_EQ(presses, 1);
    EXPECT_EQ(form.ActiveControl(), &second);
    form.HandleKey({TKey::Char, 'f', true}); // Alt+F ticks the box
    EXPECT_TRUE(first.Checked());
    form.HandleKey({TKey::Tab});
    form.HandleKey({TKey::Tab});
    EXPECT_EQ(form.ActiveControl(), &edit);
    form.HandleKey({TKey::Char, 'a'});
    form.HandleKey({TKey::Char, 'b'});
    form.HandleKey({TKey::Backspace});
    EXPECT_EQ(edit.Text(), "a");
    form.HandleKey({TKey::Enter}); // the edit has no use for it: the default button
    EXPECT_EQ(presses, 2);
    form.HandleKey({TKey::Escape});
    EXPECT_EQ(cancels, 1);
    form.HandleKey({TKey::BackTab});
    EXPECT_EQ(exits, 1);
}

TEST(FormModel, TheWizardNavigatesWithPageEventsAndLaysOutItsVisibleButtons) {
    ScriptedHost host;
    TForm form("F", host, TForm::OuterFor(78, 23));
    form.Show();
    auto& wizard = form.Add<TWizard>("JvWizard", TRect{0, 0, 78, 23});
    auto& one = wizard.AddPage("one", "One", "first", 10);
    auto& two = wizard.AddPage("two", "Two", "second", 20);
    one.HeaderVisible = false;
    std::vector<std::string> events;
    one.OnEnterPage = [&] { events.push_back("enter one"); };
    one.OnExitPage = [&] { events.push_back("exit one"); };
    two.OnEnterPage = [&] { events.push_back("enter two"); };
    two.SetButtonVisible(TWizardButton::Next, false);
    two.SetButtonVisible(TWizardButton::Finish, true);
    two.SetButtonEnabled(TWizardButton::Back, false);
    int finished = 0;
    wizard.OnFinishButtonClick = [&] { ++finished; };

    wizard.SetActivePage(one);
    EXPECT_EQ(wizard.PageArea(one), (TRect{0, 0, 78, 21}));
    // Right-aligned: "[ < Back ]" "[ Next > ]" "[ Cancel ]", Help on the left.
    EXPECT_EQ(wizard.NavButton(TWizardButton::Cancel).Bounds(), (TRect{67, 22, 10, 1}));
    EXPECT_EQ(wizard.NavButton(TWizardButton::Next).Bounds(), (TRect{56, 22, 10, 1}));
    EXPECT_EQ(wizard.NavButton(TWizardButton::Back).Bounds(), (TRect{45, 22, 10, 1}));
    EXPECT_EQ(wizard.NavButton(TWizardButton::Help).Bounds(), (TRect{1, 22, 8, 1}));
    ASSERT_TRUE(wizard.NavButton(TWizardButton::Next).UserClick());
    EXPECT_EQ(wizard.ActivePage(), &two);
    EXPECT_EQ(wizard.PageArea(two), (TRect{0, 3, 78, 18}));
    EXPECT_FALSE(wizard.NavButton(TWizardButton::Next).Visible());
    EXPECT_FALSE(wizard.NavButton(TWizardButton::Back).UserClick());
    ASSERT_TRUE(wizard.NavButton(TWizardButton::Finish).UserClick());
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(events, (std::vector<std::string>{"enter one", "exit one", "enter two"}));
    EXPECT_EQ(host.pagesEntered(), (std::vector<std::string>{"one", "two"}));

    // Texts from a language file reach pages, buttons and lists by their property names.
    EXPECT_TRUE(ApplyControlText(form, "two", "Subtitle.Text", "Zwei"));
    EXPECT_TRUE(ApplyControlText(form, "JvWizard", "ButtonCancel.Caption", "Abbrechen"));
    EXPECT_FALSE(ApplyControlText(form, "JvWizard", "ButtonNone.Caption", "x"));
    EXPECT_FALSE(ApplyControlText(form, "nothing", "Caption", "x"));
    EXPECT_EQ(two.Subtitle, "Zwei");
    EXPECT_EQ(wizard.NavButton(TWizardButton::Cancel).Bounds(), (TRect{64, 22, 13, 1}));
}

TEST(FormModel, PostedMessagesRunInOrderAndAModalFormEndsWithItsResult) {
    ScriptedHost host;
    TForm main("main", host, TForm::OuterFor(40, 10));
    TForm dialog("dialog", host, TForm::OuterFor(20, 5));
    auto& ok = dialog.Add<TButton>("ok", TRect{0, 0, 6, 1});
    ok.ModalResult = mrOk;
    std::vector<int> handled;
    main.SetMessageHandler(1025, [&] {
        handled.push_back(1025);
        EXPECT_EQ(dialog.ShowModal(), mrOk);
    });
    main.SetMessageHandler(1026, [&] { handled.push_back(1026); });
    main.Post(1025);
    main.Post(1026);
    host.Click("ok");
    main.Show();
    host.Run(main);
    EXPECT_EQ(handled, (std::vector<int>{1025, 1026}));
    EXPECT_EQ(host.modalForms(), (std::vector<std::string>{"dialog"}));
    EXPECT_FALSE(dialog.Visible());

    // A script that ends while a modal form waits is a broken test, not a hang.
    main.Post(1025);
    EXPECT_THROW(host.Run(main), ScriptError);
}

TEST(FormModel, AnExceptionOutOfAHandlerGoesToTheApplicationsDisplay) {
    ScriptedHost host;
    TForm main("main", host, TForm::OuterFor(40, 10));
    auto& button = main.Add<TButton>("b", TRect{0, 0, 6, 1});
    button.OnClick = [] { throw std::runtime_error("boom"); };
    std::vector<std::string> shown;
    host.OnException = [&](const std::exception& e) { shown.push_back(e.what()); };
    host.Click("b").Click("b");
    main.Show();
    host.Run(main);
    EXPECT_EQ(shown, (std::vector<std::string>{"boom", "boom"}));
    // A control a user cannot reach is the script's fault.
    button.SetEnabled(false);
    host.Click("b");
    EXPECT_THROW(host.Run(main), ScriptError);
}

TEST(FormModel, TextsWrapAtSpacesAndLineBreaks) {
    EXPECT_EQ(WrapText("one two three", 7), (std::vector<std::string>{"one two", "three"}));
    EXPECT_EQ(WrapText("abcdefghij", 4), (std::vector<std::string>{"abcd", "efgh", "ij"}));
    EXPECT_EQ(WrapText("a\r\nb\nc", 10), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(WrapText("", 10), (std::vector<std::string>{""}));
}

TEST(FormModel, TheSideBarFitsItsVisibleItemsAndTellsItsResize) {
    ScriptedHost host;
    TForm form("F", host, TForm::OuterFor(40, 10));
    form.Show();
    auto& bar = form.Add<TSideBar>("bar", TRect{0, 0, 20, 1});
    int resizes = 0, clicks = 0;
    bar.OnResize = [&] { ++resizes; };
    bar.AddItem({"one", true, [&] { ++clicks; }});
    bar.AddItem({"two", true, {}});
    EXPECT_EQ(bar.Bounds().Height, 3);
    bar.SetItemVisible(0, false);
    EXPECT_EQ(bar.Bounds().Height, 2);
    EXPECT_EQ(resizes, 3);
    EXPECT_FALSE(bar.UserClickItem(0)); // hidden
    EXPECT_FALSE(bar.UserClickItem(1)); // no action
    bar.SetItemVisible(0, true);
    EXPECT_TRUE(bar.UserClickItem(0));
    EXPECT_EQ(clicks, 1);
}

TEST(FormModel, TheSideBarWrapsAnItemTooWideAndAClickOnAnyOfItsLinesClicksIt) {
    ScriptedHost host;
    TForm form("F", host, TForm::OuterFor(40, 10));
    form.Show();
    auto& bar = form.Add<TSideBar>("bar", TRect{0, 0, 16, 1});
    std::vector<std::string> clicked;
    bar.AddItem({"Owner: DEMO SYSTEM DISK", true, [&] { clicked.push_back("owner"); }});
    bar.AddItem({"Size: 1 MB", true, [&] { clicked.push_back("size"); }});
    bar.AddItem({"ABCDEFGHIJKLMNOPQRSTUVWXYZ", true, {}});
    auto shown = [&] {
        std::vector<std::string> lines;
        for (const TSideBarLine& line : bar.Lines())
            lines.push_back(std::to_string(line.Item) + "|" + std::to_string(line.Indent) + "|" +
                            line.Text);
        return lines;
    };
    // Fifteen columns for an item's first line, thirteen for the further ones: broken at a
    // space, and a word longer than a line is split, never dropped.
    EXPECT_EQ(shown(),
              (std::vector<std::string>{"0|1|Owner: DEMO", "0|3|SYSTEM DISK", "1|1|Size: 1 MB",
                                        "2|1|ABCDEFGHIJKLMNO", "2|3|PQRSTUVWXYZ"}));
    EXPECT_EQ(bar.Bounds().Height, 6); // the title and five lines

    // The second line of an item is that item's.
    ASSERT_TRUE(form.HandleClick(2, 2));
    ASSERT_TRUE(form.HandleClick(2, 3));
    EXPECT_FALSE(form.HandleClick(2, 5)); // only text
    EXPECT_FALSE(form.HandleClick(2, 0)); // the title
    EXPECT_EQ(clicked, (std::vector<std::string>{"owner", "size"}));
    EXPECT_EQ(bar.Focused, 2);

    // Wider, it needs one line an item.
    bar.SetBounds({0, 0, 30, bar.Bounds().Height});
    EXPECT_EQ(bar.Bounds().Height, 4);
    EXPECT_EQ(shown()[0], "0|1|Owner: DEMO SYSTEM DISK");
}

} // namespace
} // namespace purgelet::ui
