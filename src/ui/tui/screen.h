// An in-memory character screen: what the terminal renderer draws into, what the terminal
// shows, and what tests compare as text. Each cell holds one glyph (UTF-8, or a plain ASCII
// character on terminals without UTF-8) and its attributes.
#pragma once

#include "ui/component.h"

#include <cstdint>
#include <string>
#include <vector>

namespace purgelet::ui::tui {

enum TAttr : std::uint8_t {
    atNormal = 0,
    atBold = 1,
    atReverse = 2,
    atDim = 4,
    atUnderline = 8,
    atDialog = 16, // inside a modal box: drawn in the dialog colours where there are colours
};

struct TCell {
    std::string Glyph = " ";
    std::uint8_t Attr = atNormal;
};

// The line-drawing and other glyphs, as UTF-8 or ASCII.
struct TGlyphs {
    const char* Horizontal;
    const char* Vertical;
    const char* TopLeft;
    const char* TopRight;
    const char* BottomLeft;
    const char* BottomRight;
    const char* Rule;  // a thin horizontal rule inside a page
    const char* Full;  // a gauge's filled part
    const char* Radio; // a checked radio button's mark
    const char* Spin[4];
};
const TGlyphs& GlyphsFor(bool unicode);

class TScreen {
public:
    TScreen(int width, int height, bool unicode);

    int Width() const { return width_; }
    int Height() const { return height_; }
    bool Unicode() const { return unicode_; }
    const TGlyphs& Glyphs() const { return GlyphsFor(unicode_); }

    void Clear();
    const TCell& At(int x, int y) const;
    // Limits drawing to a rectangle (inside the screen) until the next SetClip.
    void SetClip(const TRect& clip);
    void ResetClip();

    // One glyph at a cell, ignored outside the clip.
    void PutGlyph(int x, int y, const std::string& glyph, std::uint8_t attr);
    // Text in the program's Windows-1252, converted for this screen, one cell a character;
    // returns the cells written. At most maxWidth cells (negative: no limit).
    int PutText(int x, int y, const std::string& ansi, std::uint8_t attr, int maxWidth = -1);
    void Fill(const TRect& r, std::uint8_t attr);
    void HLine(int x, int y, int width, const char* glyph, std::uint8_t attr);
    // A frame around r with an optional title on its top edge.
    void Box(const TRect& r, std::uint8_t attr, const std::string& title = "");

    // The screen as lines of text (UTF-8), trailing blanks kept.
    std::vector<std::string> Lines() const;
    std::string Text() const;

private:
    int width_, height_;
    bool unicode_;
    std::vector<TCell> cells_;
    TRect clip_;
};

// One Windows-1252 character as a glyph: UTF-8 on a Unicode screen, else ASCII with "?" for
// what ASCII lacks. Control characters are shown as "." (they would steer the terminal).
std::string GlyphOf(unsigned char c, bool unicode);

} // namespace purgelet::ui::tui
