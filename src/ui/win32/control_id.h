// Native control ids and pixel layout for the window renderer, free of any OS header so that
// tests and the test driver compute the same values the renderer uses.
#pragma once

#include "ui/component.h"

#include <cstdint>
#include <string_view>

namespace purgelet::ui::win32 {

// Ids are a stable function of the model control's name, so a driver finds a control with
// GetDlgItem(form, ControlIdOf("ButtonNext")) without knowing the creation order. The range
// stays clear of IDOK..IDHELP and of the ids the renderer gives its own decorations.
inline constexpr int FirstNamedId = 0x1000;
inline constexpr int NamedIdRange = 0x6000;
constexpr int ControlIdOf(std::string_view name) {
    std::uint32_t hash = 2166136261u; // FNV-1a
    for (char c : name) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 16777619u;
    }
    return FirstNamedId + static_cast<int>(hash % NamedIdRange);
}
// The renderer's own controls: the wizard header's title and subtitle and its two rules.
inline constexpr int HeaderTitleId = 0x0F01;
inline constexpr int HeaderSubtitleId = 0x0F02;
inline constexpr int IconId = 0x0F03;

// One layout unit in pixels: the dialog font's average character width, and its line height
// with room for a control's frame, so the cell grid of the model keeps its proportions at
// any DPI.
struct TUnits {
    int X = 7;
    int Y = 21;

    static TUnits FromFont(int averageCharWidth, int lineHeight) {
        return {averageCharWidth + (averageCharWidth + 2) / 4,
                lineHeight + (lineHeight * 3 + 4) / 5};
    }
    TRect ToPixels(const TRect& r) const {
        return {r.Left * X, r.Top * Y, r.Width * X, r.Height * Y};
    }
    // Whole units that fit in a pixel size (the main window's client after a resize).
    int ColumnsIn(int pixels) const { return X > 0 ? pixels / X : 0; }
    int RowsIn(int pixels) const { return Y > 0 ? pixels / Y : 0; }
};

// A dialog's client area is half a row higher than its cells: the buttons on its last row
// stand clear of its bottom edge, as a dialog's do.
inline int DialogBottomMargin(const TUnits& units) {
    return units.Y / 2;
}

// Where a model control stands in pixels of its form's client area: its cells, with single-row
// fields and buttons kept off their neighbours' rows by a small gap.
inline TRect NativeRect(TControlKind kind, const TRect& cells, const TUnits& units) {
    TRect r = units.ToPixels(cells);
    switch (kind) {
    case TControlKind::Button:
    case TControlKind::Edit:
    case TControlKind::ComboBox:
    case TControlKind::Gauge: {
        const int gap = r.Height >= 8 ? (cells.Height == 1 ? 2 : 3) : 0;
        r.Top += gap / 2;
        r.Height -= gap;
        break;
    }
    default:
        break;
    }
    return r;
}

} // namespace purgelet::ui::win32
