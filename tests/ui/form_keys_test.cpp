// What Enter presses (the form's default button, a dialog's or a wizard's) and how the keys
// move in a list whose header rows carry no data.
#include "ui/controls.h"
#include "ui/form.h"
#include "ui/list_view.h"
#include "ui/scripted_host.h"
#include "ui/side_bar.h"
#include "ui/wizard.h"

#include <gtest/gtest.h>

namespace purgelet::ui {
namespace {

// A form with a wizard of three pages: a list, a page with Next disabled, and a last page
// with two radio buttons and Finish, as the program's finished page has.
struct WizardForm {
    ScriptedHost host;
    TForm form{"F", host, TForm::OuterFor(78, 23)};
    TWizard& wizard = form.Add<TWizard>("JvWizard", TRect{0, 0, 78, 23});
    TWizardPage& first = wizard.AddPage("first", "First", "", 0);
    TWizardPage& blocked = wizard.AddPage("blocked", "Blocked", "", 0);
    TWizardPage& last = wizard.AddPage("last", "Last", "", 0);
    TEdit& edit = first.Add<TEdit>("edit", TRect{1, 1, 20, 1});
    TCheckBox& tick = blocked.Add<TCheckBox>("tick", TRect{1, 1, 20, 1});
    TRadioButton& again = last.Add<TRadioButton>("again", TRect{1, 1, 20, 1});
    TRadioButton& leave = last.Add<TRadioButton>("leave", TRect{1, 2, 20, 1});
    int finished = 0;

    WizardForm() {
        blocked.SetButtonEnabled(TWizardButton::Next, false);
        last.SetButtonVisible(TWizardButton::Next, false);
        last.SetButtonVisible(TWizardButton::Finish, true);
        wizard.OnFinishButtonClick = [this] { ++finished; };
        form.Show();
        wizard.SetActivePage(first);
    }
    TButton& Nav(TWizardButton button) { return wizard.NavButton(button); }
};

TEST(DefaultButton, EnterGoesOnWithNextAndEndsWithFinishFromAnyControlThatHasNoUseForIt) {
    WizardForm w;
    ASSERT_EQ(w.form.ActiveControl(), &w.edit);
    EXPECT_EQ(w.form.DefaultButton(), &w.Nav(TWizardButton::Next));
    ASSERT_TRUE(w.form.HandleKey({TKey::Enter}));
    EXPECT_EQ(w.wizard.ActivePage(), &w.blocked);

    // Next is disabled: Enter does nothing, and no other button is pressed in its place.
    ASSERT_EQ(w.form.ActiveControl(), &w.tick);
    EXPECT_EQ(w.form.DefaultButton(), nullptr);
    EXPECT_FALSE(w.form.HandleKey({TKey::Enter}));
    EXPECT_EQ(w.wizard.ActivePage(), &w.blocked);
    w.blocked.SetButtonEnabled(TWizardButton::Next, true);
    ASSERT_TRUE(w.form.HandleKey({TKey::Enter}));

    // The last page: the focus is on a radio button, and Enter presses Finish.
    ASSERT_EQ(w.wizard.ActivePage(), &w.last);
    ASSERT_EQ(w.form.ActiveControl(), &w.again);
    EXPECT_EQ(w.form.DefaultButton(), &w.Nav(TWizardButton::Finish));
    ASSERT_TRUE(w.form.HandleKey({TKey::Enter}));
    EXPECT_EQ(w.finished, 1);
    EXPECT_FALSE(w.again.Checked()); // Enter is no Space
    // Finish disabled: nothing.
    w.last.SetButtonEnabled(TWizardButton::Finish, false);
    EXPECT_FALSE(w.form.HandleKey({TKey::Enter}));
    EXPECT_EQ(w.finished, 1);
}

TEST(DefaultButton, AFocusedButtonPressesItselfAndAFormsOwnDefaultComesBeforeTheWizards) {
    WizardForm w;
    TButton& back = w.Nav(TWizardButton::Back);
    int cancels = 0;
    w.wizard.OnCancelButtonClick = [&] { ++cancels; };
    ASSERT_TRUE(w.form.SetFocus(&w.Nav(TWizardButton::Cancel)));
    EXPECT_EQ(w.form.DefaultButton(), &w.Nav(TWizardButton::Cancel));
    ASSERT_TRUE(w.form.HandleKey({TKey::Enter}));
    EXPECT_EQ(cancels, 1);
    EXPECT_EQ(w.wizard.ActivePage(), &w.first);

    // The form's own default button, while it can be pressed.
    w.wizard.SelectNextPage();
    w.form.SetDefaultButton(&back);
    w.form.SetFocus(nullptr);
    EXPECT_EQ(w.form.DefaultButton(), &back);
    ASSERT_TRUE(w.form.HandleKey({TKey::Enter}));
    EXPECT_EQ(w.wizard.ActivePage(), &w.first);
    w.first.SetButtonEnabled(TWizardButton::Back, false);
    EXPECT_EQ(w.form.DefaultButton(), &w.Nav(TWizardButton::Next));

    // A side bar uses Enter for its focused item; an item without an action leaves it to the
    // default button.
    auto& bar = w.first.Add<TSideBar>("bar", TRect{30, 1, 20, 1});
    int clicks = 0;
    bar.AddItem({"act", true, [&] { ++clicks; }});
    bar.AddItem({"text", true, {}});
    ASSERT_TRUE(w.form.SetFocus(&bar));
    ASSERT_TRUE(w.form.HandleKey({TKey::Enter}));
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(w.wizard.ActivePage(), &w.first);
    ASSERT_TRUE(w.form.HandleKey({TKey::Down}));
    ASSERT_TRUE(w.form.HandleKey({TKey::Enter}));
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(w.wizard.ActivePage(), &w.blocked);
}

TEST(DefaultButton, TheScriptedHostPressesWhatTheModelSaysAndFailsWhereNothingTakesEnter) {
    WizardForm w;
    w.host.Enter().Then([&] { w.blocked.SetButtonEnabled(TWizardButton::Next, true); }).Enter();
    w.host.Enter();
    w.host.Run(w.form);
    EXPECT_EQ(w.finished, 1);
    EXPECT_EQ(w.host.pagesEntered(), (std::vector<std::string>{"first", "blocked", "last"}));

    w.wizard.SetActivePage(w.blocked);
    w.blocked.SetButtonEnabled(TWizardButton::Next, false);
    w.host.Enter();
    EXPECT_THROW(w.host.Run(w.form), ScriptError);
}

// Rows: a blank, a title, a rule, two drives, then the same header and one drive.
void FillGroups(TListView& list) {
    for (const int kind : {-2, -3, -4, 0, 0, -2, -3, -4, 0})
        list.AddItem({"row", {}, kind, false, nullptr});
    list.OnCustomDraw = [](const TListItem& item) {
        switch (item.ImageIndex) {
        case -2:
            return TListItemDraw{TListItemStyle::Blank, false};
        case -3:
            return TListItemDraw{TListItemStyle::GroupTitle, false};
        case -4:
            return TListItemDraw{TListItemStyle::Rule, false};
        default:
            return TListItemDraw{};
        }
    };
}

TEST(ListKeys, TheFocusStartsOnTheFirstDriveAndTheKeysStopOnlyOnDrives) {
    ScriptedHost host;
    TForm form("F", host, TForm::OuterFor(40, 10));
    form.Show();
    auto& list = form.Add<TListView>("list", TRect{0, 0, 40, 6}); // five rows: pages of four
    FillGroups(list);
    std::vector<int> changes;
    list.OnChange = [&](int row) { changes.push_back(row); };
    EXPECT_FALSE(list.Selectable(0));
    EXPECT_FALSE(list.Selectable(1));
    EXPECT_FALSE(list.Selectable(2));
    EXPECT_TRUE(list.Selectable(3));
    EXPECT_FALSE(list.Selectable(9));
    // Before any key: nothing selected, and the keyboard is on the first drive.
    EXPECT_EQ(list.Selected(), -1);
    EXPECT_EQ(list.FocusedRow(), 3);
    ASSERT_TRUE(form.SetFocus(&list));
    EXPECT_TRUE(changes.empty());

    std::vector<int> rows;
    for (TKey key : {TKey::Down, TKey::Down, TKey::Down, TKey::Up, TKey::Up, TKey::Up, TKey::End,
                     TKey::Home, TKey::PageDown, TKey::PageDown, TKey::PageUp}) {
        ASSERT_TRUE(form.HandleKey({key}));
        rows.push_back(list.Selected());
    }
    EXPECT_EQ(rows, (std::vector<int>{4, 8, 8, 4, 3, 3, 8, 3, 8, 8, 4}));
    EXPECT_EQ(list.TopIndex, 4);
    // Up to the group's first drive brings its header rows back into view.
    ASSERT_TRUE(form.HandleKey({TKey::Up}));
    EXPECT_EQ(list.Selected(), 3);
    EXPECT_EQ(list.TopIndex, 0);

    // Space ticks the row the keyboard is on, also before anything was selected.
    list.Clear();
    FillGroups(list);
    ASSERT_TRUE(form.HandleKey({TKey::Space}));
    EXPECT_TRUE(list.Items(3).Checked);
    // A clicked header row is a place to move from.
    ASSERT_TRUE(list.UserSelect(6));
    ASSERT_TRUE(form.HandleKey({TKey::Up}));
    EXPECT_EQ(list.Selected(), 4);

    // A list of headers alone has no row for the keyboard.
    list.Clear();
    list.AddItem({"title", {}, -3, false, nullptr});
    EXPECT_EQ(list.FocusedRow(), -1);
    EXPECT_FALSE(form.HandleKey({TKey::Down}));
    EXPECT_FALSE(form.HandleKey({TKey::Space}));
    EXPECT_EQ(list.Selected(), -1);
}

} // namespace
} // namespace purgelet::ui
