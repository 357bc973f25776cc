// The certificate's layout on a surface that measures every character as one point and keeps
// what is drawn: how texts are broken into lines and cut, and that the pages of a long record
// keep their content inside the page, as every back-end gets them.
#include "record/certificate_canvas.h"
#include "record/sample_records.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace purgelet::record::certificate {
namespace {

struct TDrawn {
    int Page;
    std::string Text;
    double X;
    double Top;
};

class TRulerSurface final : public TSurface {
public:
    void StartPage() override { ++Pages; }
    void EndPage() override {}
    double TextWidth(const std::string& line, const TFont&) override {
        Measured += line.size();
        return static_cast<double>(line.size());
    }
    double LineHeight(const TFont& font) override { return font.Size; }
    void Text(const std::string& line, const TFont& font, double x, double top,
              const TColour&) override {
        Drawn.push_back({Pages, line, x, top});
        Right = std::max(Right, x + TextWidth(line, font));
        (void)font;
    }
    void Rectangle(double, double, double, double, const TColour&) override {}
    void Line(double, double, double, double, double, const TColour&) override {}
    void Clip(double, double, double, double) override { ++Clips; }
    void Unclip() override { --Clips; }
    bool SetPicture(const std::string&, std::string&) override { return false; }
    std::pair<double, double> PictureSize() const override { return {0, 0}; }
    void Picture(double, double, double, double) override {}
    bool Finish(std::string&, std::string&) override { return true; }

    std::size_t Measured = 0; // characters measured, as a drawing library would lay them out
    int Pages = 0;
    int Clips = 0;
    double Right = 0;
    std::vector<TDrawn> Drawn;
};

std::vector<std::string> Wrap(const std::string& text, double width, int maxLines = 0) {
    TRulerSurface surface;
    return WrapText(surface, text, TFont{}, width, maxLines);
}

using Lines = std::vector<std::string>;

TEST(CertificateWrap, WordsBreakAtBlanksAndAWordWiderThanALineWhereItReachesTheEdge) {
    EXPECT_EQ(Wrap("one two three", 7), (Lines{"one two", "three"}));
    EXPECT_EQ(Wrap("one two three", 100), (Lines{"one two three"}));
    // A serial number wider than the box: cut at the edge, no hyphen added, the rest goes on.
    EXPECT_EQ(Wrap("S/N WD-WCC2EWN71234 ok", 6), (Lines{"S/N", "WD-WCC", "2EWN71", "234 ok"}));
    // A box narrower than one character still takes a character per line, never none.
    EXPECT_EQ(Wrap("abc", 0.5), (Lines{"a", "b", "c"}));
}

TEST(CertificateWrap, LineEndsOfEveryKindBreakAndControlCharactersAreBlanks) {
    EXPECT_EQ(Wrap("a\r\nb\rc\nd", 100), (Lines{"a", "b", "c", "d"}));
    EXPECT_EQ(Wrap("tab\there\x01 end", 100), (Lines{"tab here  end"}));
    EXPECT_EQ(Wrap("", 100), (Lines{""}));
    EXPECT_EQ(Wrap("a\n\nb", 100), (Lines{"a", "", "b"}));
}

TEST(CertificateWrap, AtMostMaxLinesTheLastEndingInAnEllipsisThatFits) {
    // Cut: the last line kept ends in the ellipsis (one character here) inside the width.
    EXPECT_EQ(Wrap("one two three four", 7, 2), (Lines{"one two", "three\x85"}));
    EXPECT_EQ(Wrap("abcdefghij", 4, 1), (Lines{"abc\x85"}));
    // A text of a megabyte (a damaged record's) costs what its first lines cost.
    TRulerSurface surface;
    const std::string huge = std::string(500000, 'x') + " " + std::string(500000, 'y');
    EXPECT_EQ(WrapText(surface, huge, TFont{}, 40, 2),
              (Lines{std::string(40, 'x'), std::string(39, 'x') + "\x85"}));
    EXPECT_LT(surface.Measured, 100000u);
    // Not cut: no ellipsis.
    EXPECT_EQ(Wrap("one two", 7, 1), (Lines{"one two"}));
    EXPECT_EQ(Wrap("one two three", 7, 2), (Lines{"one two", "three"}));
}

// Forty drives with long texts: every page is numbered, no text is drawn outside the page's
// margins or below its footer's rule, and every clip set is taken off again.
TEST(CertificateLayout, ALongRecordKeepsEveryTextInsideItsPages) {
    TRecord record = ThreeDrives();
    for (int i = 0; i < 40; ++i) {
        TDrive drive =
            Drive(std::string(90, 'M'), "SERIAL-" + std::to_string(i), 1000000000, "completed");
        drive.OutcomeText = std::string(300, 'x');
        record.Drives.push_back(drive);
    }
    TRulerSurface surface;
    TCanvas canvas(surface, 595, 842, FooterOf(record), 0);
    DrawRecord(canvas, record);
    EXPECT_EQ(surface.Clips, 0);
    ASSERT_GE(surface.Pages, 44); // the summary, its continuation, a page per drive
    EXPECT_EQ(canvas.Pages(), surface.Pages);
    EXPECT_LE(surface.Right, 595 - 42 + 0.001);
    std::vector<int> numbered(static_cast<std::size_t>(surface.Pages) + 1, 0);
    for (const TDrawn& drawn : surface.Drawn) {
        EXPECT_GE(drawn.X, 42) << drawn.Text;
        EXPECT_LE(drawn.Top, 842 - 42) << drawn.Text;
        if (drawn.Text == "Page " + std::to_string(drawn.Page))
            ++numbered[static_cast<std::size_t>(drawn.Page)];
    }
    for (int page = 1; page <= surface.Pages; ++page)
        EXPECT_EQ(numbered[static_cast<std::size_t>(page)], 1) << page;
}

} // namespace
} // namespace purgelet::record::certificate
