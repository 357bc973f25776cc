// The standard controls of the form model. Setting a state from code fires the same event a
// user's action fires (a check box's click, an edit's change), as the program's logic relies
// on; the User* operations are what renderers and scripted tests call for a user's input, and
// they do nothing on a control the user cannot reach.
#pragma once

#include "ui/component.h"

#include <functional>
#include <string>
#include <vector>

namespace purgelet::ui {

class TPanel : public TControl {
public:
    using TControl::TControl;
    TControlKind Kind() const override { return TControlKind::Panel; }
};

// A framed group with its caption on the frame; children stand inside the frame.
class TGroupBox : public TControl {
public:
    using TControl::TControl;
    TControlKind Kind() const override { return TControlKind::GroupBox; }
    TRect ClientRect() const override;
};

class TLabel : public TControl {
public:
    using TControl::TControl;
    TControlKind Kind() const override { return TControlKind::Label; }
    TControl* FocusControl = nullptr; // takes the focus for the label's accelerator
};

class TButton : public TControl {
public:
    TButton(std::string name, TRect bounds, TAnchors anchors = akTopLeft)
        : TControl(std::move(name), bounds, anchors) {
        TabStop = true;
    }
    TControlKind Kind() const override { return TControlKind::Button; }

    std::function<void()> OnClick;
    int ModalResult = 0; // a button of a modal form closes it with this result when non-zero
    int ImageIndex = -1; // tool buttons: the picture, drawn where the renderer has pictures

    // Runs the click behaviour (as Delphi's Click: also when called from code).
    void Click();
    // A user's press: only when the button can be reached.
    bool UserClick();
};

class TCheckBox : public TControl {
public:
    TCheckBox(std::string name, TRect bounds, TAnchors anchors = akTopLeft)
        : TControl(std::move(name), bounds, anchors) {
        TabStop = true;
    }
    TControlKind Kind() const override { return TControlKind::CheckBox; }

    std::function<void()> OnClick;

    bool Checked() const { return checked_; }
    // A change fires OnClick, from code as from the user.
    void SetChecked(bool value);
    bool UserToggle();

private:
    bool checked_ = false;
};

// Radio buttons with the same parent form one group: checking one unchecks the others.
class TRadioButton : public TControl {
public:
    TRadioButton(std::string name, TRect bounds, TAnchors anchors = akTopLeft)
        : TControl(std::move(name), bounds, anchors) {
        TabStop = true;
    }
    TControlKind Kind() const override { return TControlKind::RadioButton; }

    std::function<void()> OnClick;

    bool Checked() const { return checked_; }
    void SetChecked(bool value);
    bool UserSelect();
    // The radio buttons of its group (those of its parent, itself among them), in order.
    std::vector<TRadioButton*> Group() const;

private:
    bool checked_ = false;
};

class TEdit : public TControl {
public:
    TEdit(std::string name, TRect bounds, TAnchors anchors = akTopLeft)
        : TControl(std::move(name), bounds, anchors) {
        TabStop = true;
    }
    TControlKind Kind() const override { return TControlKind::Edit; }

    std::function<void()> OnChange;
    std::function<void()> OnExit; // the focus left the field

    const std::string& Text() const { return text_; }
    // A different text fires OnChange.
    void SetText(const std::string& value);
    // A user's typing that replaces the whole text.
    bool UserType(const std::string& value);

private:
    std::string text_;
};

// A drop-down list: one of its items or none is selected; the text is the selected item's.
class TComboBox : public TControl {
public:
    TComboBox(std::string name, TRect bounds, TAnchors anchors = akTopLeft)
        : TControl(std::move(name), bounds, anchors) {
        TabStop = true;
    }
    TControlKind Kind() const override { return TControlKind::ComboBox; }

    struct Item {
        std::string Text;
        void* Object = nullptr; // attached data, not owned
    };

    std::function<void()> OnChange; // fired by a user's choice only, as a VCL combo box

    void Clear();
    void AddItem(std::string text, void* object = nullptr);
    int Count() const { return static_cast<int>(items_.size()); }
    const Item& Items(int index) const { return items_.at(static_cast<std::size_t>(index)); }
    int ItemIndex() const { return index_; }
    // Selects an item from code (-1 or out of range: none), without OnChange.
    void SetItemIndex(int index);
    std::string Text() const;
    void* SelectedObject() const;
    bool UserSelect(int index);

private:
    std::vector<Item> items_;
    int index_ = -1;
};

class TMemo : public TControl {
public:
    TMemo(std::string name, TRect bounds, TAnchors anchors = akTopLeft)
        : TControl(std::move(name), bounds, anchors) {
        TabStop = true;
    }
    TControlKind Kind() const override { return TControlKind::Memo; }

    std::vector<std::string> Lines;
    bool ReadOnly = true;
    bool FixedPitch = false; // a dump: drawn in a fixed-pitch font, never wrapped
    int TopLine = 0;         // first line shown
    int LeftColumn = 0;      // first column shown (horizontal scrolling)

    // Scrolls by delta lines, kept within the text.
    void ScrollBy(int delta);
    void ScrollColumnsBy(int delta);
};

class TGauge : public TControl {
public:
    using TControl::TControl;
    TControlKind Kind() const override { return TControlKind::Gauge; }

    int Progress() const { return progress_; }
    void SetProgress(int value); // kept within 0..100

private:
    int progress_ = 0;
};

// A picture that moves while active; the terminal draws a spinner.
class TAnimation : public TControl {
public:
    using TControl::TControl;
    TControlKind Kind() const override { return TControlKind::Animation; }
    bool Active = false;
    int Frame = 0; // advanced by the renderer while active
};

class TStatusBar : public TControl {
public:
    using TControl::TControl;
    TControlKind Kind() const override { return TControlKind::StatusBar; }
    std::string SimpleText;
};

// A row of tool buttons (TButton children with their own bounds).
class TToolBar : public TControl {
public:
    using TControl::TControl;
    TControlKind Kind() const override { return TControlKind::ToolBar; }
};

// ---- Non-visual components.

class TTimer : public TComponent {
public:
    TTimer(std::string name, TForm& form) : TComponent(std::move(name)), form_(form) {}

    unsigned Interval = 1000; // milliseconds
    std::function<void()> OnTimer;

    bool Enabled() const { return enabled_; }
    // Starts or stops the timer through the form's host.
    void SetEnabled(bool value);

private:
    TForm& form_;
    bool enabled_ = false;
};

// The save-file dialog: Filter "Text Files|*.txt|All Files|*.*" pairs of name and pattern.
class TSaveDialog : public TComponent {
public:
    TSaveDialog(std::string name, TForm& form) : TComponent(std::move(name)), form_(form) {}

    std::string Title;
    std::string Filter;
    std::string DefaultExt; // without the dot
    std::string FileName;   // preset, and the chosen path after Execute

    // Shows the dialog through the host; true when the user chose a file.
    bool Execute();

private:
    TForm& form_;
};

struct TMenuItem {
    std::string Name;
    std::string Caption;
    bool Visible = true;
    bool Enabled = true;
    std::function<void()> OnClick;
};

class TPopupMenu : public TComponent {
public:
    TPopupMenu(std::string name, TForm& form) : TComponent(std::move(name)), form_(form) {}

    std::vector<TMenuItem> Items;
    TMenuItem* FindItem(const std::string& name);
    // Shows the menu at a position of the form's client area; the host runs the chosen item.
    void Popup(int x, int y);

private:
    TForm& form_;
};

} // namespace purgelet::ui
