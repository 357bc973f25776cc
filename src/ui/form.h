// A form: a top-level window of the model. It holds its controls (as children) and its
// non-visual components, shows modally through its host, closes with a close query, takes
// posted private messages, and owns the keyboard: focus, tab order, accelerators, a default
// and a cancel button. Key handling lives here so that every renderer gets the same behaviour
// by forwarding keys.
#pragma once

#include "ui/component.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace purgelet::ui {

class TButton;

enum class TKey : std::uint8_t {
    None,
    Tab,
    BackTab, // Shift+Tab
    Enter,
    Escape,
    Space,
    Up,
    Down,
    Left,
    Right,
    PageUp,
    PageDown,
    Home,
    End,
    Backspace,
    Delete,
    Char, // a printable character (Windows-1252)
};

struct TKeyEvent {
    TKey Key = TKey::None;
    char Char = 0;    // for TKey::Char, and the letter of an Alt combination
    bool Alt = false; // Alt+letter (or Esc then letter): an accelerator
};

class TForm : public TControl {
public:
    TForm(std::string name, Host& host, TRect bounds);
    ~TForm() override;
    TControlKind Kind() const override { return TControlKind::Form; }
    // Inside the frame: one line of caption above, one column of border on each side and one
    // line below.
    TRect ClientRect() const override;
    // The outer size for a client area of the given size.
    static TRect OuterFor(int clientWidth, int clientHeight);

    Host& GetHost() const { return host_; }

    // ---- Non-visual components, owned.
    template <class T, class... A> T& AddComponent(A&&... args) {
        auto component = std::make_unique<T>(std::forward<A>(args)..., *this);
        T& ref = *component;
        components_.push_back(std::move(component));
        return ref;
    }
    // A control or component by name, null when the form has none.
    TComponent* FindComponent(const std::string& name);
    const std::vector<std::unique_ptr<TComponent>>& Components() const { return components_; }

    // ---- Showing and closing.
    bool Centred = true;    // placed in the middle of the screen (or of the main form)
    bool Resizable = false; // follows the screen's size (the main window)
    int ModalResult = 0;    // set while modal: a non-zero value ends ShowModal
    bool IsModal() const { return modal_; }
    bool IsClosed() const { return closed_; }
    // Shows the form modally through the host; returns the modal result.
    int ShowModal();
    // Shows the main form (not modal); the host's Run loop lasts until it closes.
    void Show();
    // Asks OnCloseQuery; when allowed runs OnClose and closes (a modal form with mrCancel
    // unless a result is set).
    void Close();
    std::function<bool()> OnCloseQuery; // false refuses; empty allows
    std::function<void()> OnClose;
    std::function<void()> OnShow;

    // ---- Private messages, posted through the host and dispatched in order.
    void Post(unsigned message);
    void SetMessageHandler(unsigned message, std::function<void()> handler);
    void Dispatch(unsigned message);

    // ---- Keyboard.
    TControl* ActiveControl() const { return active_; }
    // Focuses a control that can take the focus; the previous control gets its exit event.
    bool SetFocus(TControl* control);
    // Moves the focus along the tab order (visible, enabled tab stops, depth first in
    // TabOrder), wrapping around.
    void FocusNext(bool backward = false);
    // The reachable tab stops in focus order.
    std::vector<TControl*> TabStops();
    // The reachable control whose caption has the accelerator letter, null when none.
    TControl* FindAccelerator(char letter);
    // The button Enter presses where the focused control has no use for Enter: a focused
    // button itself, else the form's own default button while it can be pressed, else the
    // showing wizard's (Finish on its last page, Next elsewhere); null when none can be
    // pressed. Renderers mark it as the default push button from here.
    TButton* DefaultButton();
    void SetDefaultButton(TButton* button) { default_ = button; }
    TButton* CancelButton = nullptr; // Escape
    // Escape closes the form as the system menu's Close does, when it has no cancel button:
    // for dialogs whose every button means something, so Escape must not press one.
    bool EscapeCloses = false;
    // A key as the user typed it; true when something used it.
    bool HandleKey(const TKeyEvent& event);
    // The innermost showing control at a point of the client area, null when none.
    TControl* ControlAt(int x, int y);
    // A mouse click at a point of the client area: presses, ticks, selects or focuses what is
    // there; true when something used it.
    bool HandleClick(int x, int y);

protected:
    // The form's own key handling before the focused control's (the wizard's buttons).
    virtual bool PreviewKey(const TKeyEvent&) { return false; }

private:
    bool ControlKey(TControl& control, const TKeyEvent& event);
    void Activate(TControl& control); // an accelerator or Enter on a control

    Host& host_;
    std::vector<std::unique_ptr<TComponent>> components_;
    std::map<unsigned, std::function<void()>> handlers_;
    TControl* active_ = nullptr;
    TButton* default_ = nullptr;
    bool modal_ = false;
    bool closed_ = false;
};

} // namespace purgelet::ui
