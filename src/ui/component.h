// The base of the form model: components with a name, and controls with a place, a caption,
// visibility, enabling, anchors and children.
//
// Layout units are character cells: one unit across is the width of one average character,
// one unit down is the height of one line of text. A terminal renderer draws a unit as one
// cell; a window renderer multiplies by its font's average character width and line height.
// Bounds are relative to the parent's client area. Anchors say which edges of the parent a
// control keeps its distance to when the parent is resized, so a form designed for 80x25 cells
// fills a larger screen without page-specific code.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace purgelet::ui {

class Host;
class TForm;
class TControl;

struct TRect {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;

    int Right() const { return Left + Width; }  // one past the last column
    int Bottom() const { return Top + Height; } // one past the last row
    bool operator==(const TRect&) const = default;
};

enum TAnchor : std::uint8_t {
    akLeft = 1,
    akTop = 2,
    akRight = 4,
    akBottom = 8,
};
using TAnchors = std::uint8_t;
inline constexpr TAnchors akTopLeft = akLeft | akTop;
inline constexpr TAnchors akAll = akLeft | akTop | akRight | akBottom;

enum class TControlKind : std::uint8_t {
    Form,
    Panel,
    GroupBox,
    Label,
    Button,
    CheckBox,
    RadioButton,
    Edit,
    ComboBox,
    Memo,
    ListView,
    Gauge,
    Animation,
    SideBar,
    StatusBar,
    ToolBar,
    Wizard,
    WizardPage,
};

// Anything a form holds by name: controls, and the non-visual timers, dialogs and menus.
class TComponent {
public:
    explicit TComponent(std::string name) : Name(std::move(name)) {}
    virtual ~TComponent() = default;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    std::string Name;
};

class TControl : public TComponent {
public:
    TControl(std::string name, TRect bounds, TAnchors anchors = akTopLeft)
        : TComponent(std::move(name)), bounds_(bounds), anchors_(anchors) {}

    virtual TControlKind Kind() const = 0;

    // ---- Tree. A control owns its children.
    TControl* Parent() const { return parent_; }
    template <class T, class... A> T& Add(A&&... args) {
        auto child = std::make_unique<T>(std::forward<A>(args)...);
        T& ref = *child;
        AddChild(std::move(child));
        return ref;
    }
    void AddChild(std::unique_ptr<TControl> child);
    const std::vector<std::unique_ptr<TControl>>& Children() const { return children_; }
    // The form this control belongs to (itself for a form), null while detached.
    TForm* Form();
    const TForm* Form() const;
    // Finds a control of this subtree by name (case-sensitive), null when none.
    TControl* Find(const std::string& name);

    // ---- Place.
    const TRect& Bounds() const { return bounds_; }
    // Moves and resizes; anchored children follow the change of size.
    virtual void SetBounds(const TRect& bounds);
    TAnchors Anchors() const { return anchors_; }
    void SetAnchors(TAnchors anchors) { anchors_ = anchors; }
    // The area children are placed in, relative to this control: all of it for a plain
    // container, inside the frame for a group box or a form.
    virtual TRect ClientRect() const { return {0, 0, bounds_.Width, bounds_.Height}; }
    // Bounds in the coordinates of the form's client area.
    TRect FormRect() const;

    // ---- State.
    std::string Caption; // "&" marks the accelerator letter; "&&" is a literal "&"
    bool WordWrap = false;
    bool Bold = false;
    bool TabStop = false; // can take the keyboard focus
    int TabOrder = 0;     // focus order among the siblings

    bool Visible() const { return visible_; }
    virtual void SetVisible(bool value) { visible_ = value; }
    bool Enabled() const { return enabled_; }
    virtual void SetEnabled(bool value) { enabled_ = value; }
    // Visible and enabled up to the form: what a user can reach.
    bool Showing() const;
    bool Usable() const;

    // The accelerator letter of the caption, upper-cased; 0 when none.
    char Accelerator() const;
    // The caption without its accelerator marks.
    std::string PlainCaption() const;

protected:
    // Called after SetBounds changed the size; the default moves anchored children.
    virtual void Resized(int deltaWidth, int deltaHeight);

private:
    TControl* parent_ = nullptr;
    std::vector<std::unique_ptr<TControl>> children_;
    TRect bounds_;
    TAnchors anchors_;
    bool visible_ = true;
    bool enabled_ = true;
};

// Caption text helpers shared by the model and the renderers.
char AcceleratorOf(const std::string& caption);
std::string StripAccelerator(const std::string& caption);
// Breaks text into lines of at most width characters, at spaces where it can; LF and CR LF
// end lines. Width <= 0 gives the text's own lines.
std::vector<std::string> WrapText(const std::string& text, int width);

} // namespace purgelet::ui
