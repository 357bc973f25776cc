// Draws the forms of the model into a character screen: the main form filling the screen, the
// modal forms centred above it, each control by its kind from its own bounds and state. Nothing
// here knows a page or a control by name: what a form shows is the model's.
#pragma once

#include "ui/form.h"
#include "ui/tui/screen.h"

#include <vector>

namespace purgelet::ui::tui {

// The smallest screen the main window is drawn on.
inline constexpr int MinWidth = 80;
inline constexpr int MinHeight = 25;

// Where a form stands on a screen of that size: a resizable form fills it, others are centred.
TRect FormScreenRect(const TForm& form, int width, int height);

class TuiRenderer {
public:
    // The stack: the main form first, then each modal form shown above it.
    void Draw(TScreen& screen, const std::vector<TForm*>& stack);
    // Advances the animations' frames (the host calls it at its timer's pace).
    static void Animate(const std::vector<TForm*>& stack);

private:
    void DrawForm(TScreen& screen, TForm& form, bool top, bool dialog);
    void DrawControl(TScreen& screen, TControl& control, int originX, int originY,
                     const TRect& clip);
    void DrawChildren(TScreen& screen, TControl& control, int originX, int originY,
                      const TRect& clip);

    TForm* form_ = nullptr; // the form being drawn
    bool top_ = false;      // it has the keyboard
    std::uint8_t base_ = atNormal;
};

} // namespace purgelet::ui::tui
