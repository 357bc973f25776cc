#include "ui/tui/screen.h"

#include "platform/codepage.h"

#include <algorithm>

namespace purgelet::ui::tui {

namespace {

const TGlyphs kUnicode = {"\u2500", "\u2502", "\u250c", "\u2510", "\u2514",
                          "\u2518", "\u2500", "\u2588", "\u2022", {"|", "/", "-", "\\"}};
const TGlyphs kAscii = {"-", "|", "+", "+", "+", "+", "-", "#", "*", {"|", "/", "-", "\\"}};

} // namespace

const TGlyphs& GlyphsFor(bool unicode) {
    return unicode ? kUnicode : kAscii;
}

std::string GlyphOf(unsigned char c, bool unicode) {
    if (c < 0x20 || c == 0x7F)
        return ".";
    if (c < 0x80)
        return std::string(1, static_cast<char>(c));
    if (!unicode)
        return "?";
    const char32_t code = platform::Cp1252ToUnicode(c);
    if (code < 0xA0)
        return "."; // an unassigned byte: a C1 control would steer the terminal
    std::string glyph;
    platform::AppendUtf8(glyph, code);
    return glyph;
}

TScreen::TScreen(int width, int height, bool unicode)
    : width_(std::max(width, 0)), height_(std::max(height, 0)), unicode_(unicode),
      cells_(static_cast<std::size_t>(width_ * height_)), clip_{0, 0, width_, height_} {}

void TScreen::Clear() {
    std::fill(cells_.begin(), cells_.end(), TCell{});
    ResetClip();
}

const TCell& TScreen::At(int x, int y) const {
    return cells_.at(static_cast<std::size_t>(y * width_ + x));
}

void TScreen::SetClip(const TRect& clip) {
    const int left = std::max(clip.Left, 0), top = std::max(clip.Top, 0);
    const int right = std::min(clip.Right(), width_), bottom = std::min(clip.Bottom(), height_);
    clip_ = {left, top, std::max(right - left, 0), std::max(bottom - top, 0)};
}

void TScreen::ResetClip() {
    clip_ = {0, 0, width_, height_};
}

void TScreen::PutGlyph(int x, int y, const std::string& glyph, std::uint8_t attr) {
    if (x < clip_.Left || x >= clip_.Right() || y < clip_.Top || y >= clip_.Bottom())
        return;
    TCell& cell = cells_[static_cast<std::size_t>(y * width_ + x)];
    cell.Glyph = glyph;
    cell.Attr = attr;
}

int TScreen::PutText(int x, int y, const std::string& ansi, std::uint8_t attr, int maxWidth) {
    int written = 0;
    for (unsigned char c : ansi) {
        if (maxWidth >= 0 && written >= maxWidth)
            break;
        PutGlyph(x + written, y, GlyphOf(c, unicode_), attr);
        ++written;
    }
    return written;
}

void TScreen::Fill(const TRect& r, std::uint8_t attr) {
    for (int y = r.Top; y < r.Bottom(); ++y)
        for (int x = r.Left; x < r.Right(); ++x)
            PutGlyph(x, y, " ", attr);
}

void TScreen::HLine(int x, int y, int width, const char* glyph, std::uint8_t attr) {
    for (int i = 0; i < width; ++i)
        PutGlyph(x + i, y, glyph, attr);
}

void TScreen::Box(const TRect& r, std::uint8_t attr, const std::string& title) {
    if (r.Width < 2 || r.Height < 2)
        return;
    const TGlyphs& g = Glyphs();
    HLine(r.Left + 1, r.Top, r.Width - 2, g.Horizontal, attr);
    HLine(r.Left + 1, r.Bottom() - 1, r.Width - 2, g.Horizontal, attr);
    for (int y = r.Top + 1; y < r.Bottom() - 1; ++y) {
        PutGlyph(r.Left, y, g.Vertical, attr);
        PutGlyph(r.Right() - 1, y, g.Vertical, attr);
    }
    PutGlyph(r.Left, r.Top, g.TopLeft, attr);
    PutGlyph(r.Right() - 1, r.Top, g.TopRight, attr);
    PutGlyph(r.Left, r.Bottom() - 1, g.BottomLeft, attr);
    PutGlyph(r.Right() - 1, r.Bottom() - 1, g.BottomRight, attr);
    if (!title.empty() && r.Width > 4) {
        const std::string shown = " " + title + " ";
        const int width = std::min(static_cast<int>(shown.size()), r.Width - 2);
        PutText(r.Left + (r.Width - width) / 2, r.Top, shown, attr | atBold, width);
    }
}

std::vector<std::string> TScreen::Lines() const {
    std::vector<std::string> lines;
    for (int y = 0; y < height_; ++y) {
        std::string line;
        for (int x = 0; x < width_; ++x)
            line += At(x, y).Glyph;
        lines.push_back(line);
    }
    return lines;
}

std::string TScreen::Text() const {
    std::string text;
    for (const auto& line : Lines())
        text += line + "\n";
    return text;
}

} // namespace purgelet::ui::tui
