// The certificate's page layout, in points: every text wrapped or ellipsized inside its own
// box by the canvas itself, measured by the surface, so that each back-end gets the same
// lines.
#include "record/certificate_canvas.h"
#include "lang/catalogue.h"

#include <algorithm>
#include <limits>

namespace purgelet::record::certificate {

namespace {

constexpr double kFooterHeight = 122;
constexpr double kLogoWidth = 140; // the box a logo is scaled down into
constexpr double kLogoHeight = 36;
constexpr double kGap = 8;           // between the content and the footer
constexpr double kCellPad = 3;       // around a table cell's text
constexpr double kColumnGap = 18;    // between two columns of fields
constexpr double kLabelShare = 0.36; // of a field column, for the labels
constexpr int kValueLines = 4;       // a field's value wraps up to this many lines

const TColour kBlack{0, 0, 0};
const TColour kGrey{0.35, 0.35, 0.35};

TFont FontOf(TStyle style) {
    switch (style) {
    case TStyle::Title:
        return {18, true};
    case TStyle::Heading:
        return {10.5, true};
    case TStyle::Body:
        return {9};
    case TStyle::Label:
        return {8, true};
    case TStyle::Cell:
        return {7.5};
    case TStyle::CellHead:
        return {7.5, true};
    case TStyle::Small:
        return {7};
    case TStyle::Mono:
        return {7, false, true};
    }
    return {9};
}

// The text's lines as the text breaks them (CR LF, CR or LF), control characters made blanks:
// serial numbers and texts come from firmware and from the system.
std::vector<std::string> Paragraphs(const std::string& text) {
    std::vector<std::string> paragraphs(1);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            paragraphs.emplace_back();
        } else {
            paragraphs.back() += c < 0x20 || c == 0x7f ? ' ' : static_cast<char>(c);
        }
    }
    return paragraphs;
}

// How many characters from the start of text fit in width: at least one when text has any.
// Found by doubling and then halving, so that a long text costs what a line of it costs.
std::size_t Fitting(TSurface& surface, const std::string& text, const TFont& font, double width) {
    if (text.empty())
        return 0;
    std::size_t fits = 0;
    std::size_t over = text.size() + 1;
    for (std::size_t probe = 1;; probe = std::min(probe * 2, text.size())) {
        if (surface.TextWidth(text.substr(0, probe), font) > width) {
            over = probe;
            break;
        }
        fits = probe;
        if (probe == text.size())
            break;
    }
    while (over - fits > 1) {
        const std::size_t middle = fits + (over - fits) / 2;
        if (surface.TextWidth(text.substr(0, middle), font) <= width)
            fits = middle;
        else
            over = middle;
    }
    return std::max<std::size_t>(fits, 1);
}

// A paragraph broken into lines: greedily at blanks, and a word wider than a line on its own
// broken where it reaches the edge (a serial number gains no hyphen it does not have). Stops
// once there are more than limit lines: an absurdly long text costs no more than a short one.
void WrapParagraph(TSurface& surface, const std::string& paragraph, const TFont& font, double width,
                   std::size_t limit, std::vector<std::string>& lines) {
    std::string line;
    std::size_t at = 0;
    bool any = false;
    while (at < paragraph.size() && lines.size() <= limit) {
        const std::size_t end = std::min(paragraph.find(' ', at), paragraph.size());
        std::string word = paragraph.substr(at, end - at);
        at = end + 1;
        if (word.empty() && !line.empty()) {
            line += ' '; // blanks inside a line are kept as they are
            continue;
        }
        const std::string joined = line.empty() ? word : line + ' ' + word;
        if (Fitting(surface, joined, font, width) == joined.size()) {
            line = joined;
            continue;
        }
        if (!line.empty()) {
            while (!line.empty() && line.back() == ' ')
                line.pop_back();
            lines.push_back(line);
            any = true;
            line.clear();
        }
        for (std::size_t cut;
             lines.size() <= limit && (cut = Fitting(surface, word, font, width)) < word.size();) {
            lines.push_back(word.substr(0, cut));
            any = true;
            word.erase(0, cut);
        }
        line = word;
    }
    if (!line.empty() || !any)
        lines.push_back(line);
}

} // namespace

std::string Caption(const std::string& key) {
    return CatalogueText(key, "Certificate");
}

std::vector<std::string> WrapText(TSurface& surface, const std::string& text, const TFont& font,
                                  double width, int maxLines) {
    width = std::max(width, 1.0);
    std::vector<std::string> lines;
    const std::vector<std::string> paragraphs = Paragraphs(text);
    const std::size_t limit =
        maxLines > 0 ? static_cast<std::size_t>(maxLines) : std::numeric_limits<std::size_t>::max();
    for (const std::string& paragraph : paragraphs) {
        if (lines.size() > limit)
            break;
        WrapParagraph(surface, paragraph, font, width, limit, lines);
    }
    if (maxLines <= 0 || lines.size() <= static_cast<std::size_t>(maxLines))
        return lines;
    // The last line kept is cut where an ellipsis after it still fits.
    const char* const ellipsis = "\x85";
    std::string last = lines[static_cast<std::size_t>(maxLines) - 1];
    lines.resize(static_cast<std::size_t>(maxLines));
    while (!last.empty() && surface.TextWidth(last + ellipsis, font) > width)
        last.pop_back();
    while (!last.empty() && last.back() == ' ')
        last.pop_back();
    lines.back() = last + ellipsis;
    return lines;
}

TCanvas::TCanvas(TSurface& surface, double width, double height, TFooter footer, int totalPages)
    : surface_(surface), width_(width), height_(height), footer_(std::move(footer)),
      totalPages_(totalPages) {}

TCanvas::TBlock TCanvas::Make(const std::string& text, TStyle style, double width, int maxLines,
                              bool bold) {
    TBlock block;
    block.Font = FontOf(style);
    block.Font.Bold = block.Font.Bold || bold;
    block.Leading = surface_.LineHeight(block.Font);
    block.Lines = WrapText(surface_, text, block.Font, width, maxLines);
    return block;
}

void TCanvas::Draw(const TBlock& block, double x, double y, const std::optional<TColour>& colour) {
    for (std::size_t i = 0; i < block.Lines.size(); ++i) {
        if (!block.Lines[i].empty())
            surface_.Text(block.Lines[i], block.Font, x, y + block.Leading * static_cast<double>(i),
                          colour.value_or(kBlack));
    }
}

void TCanvas::Rule(double x0, double x1, double y, double width, double grey) {
    surface_.Line(x0, y, x1, y, width, {grey, grey, grey});
}

double TCanvas::Value(const TValue& value, TStyle style, double x, double y, double width,
                      int maxLines, bool draw) {
    if (!value.Colour) {
        const TBlock block = Make(value.Text, style, width, maxLines);
        if (draw)
            Draw(block, x, y, std::nullopt);
        return block.Height();
    }
    // The outcome: a coloured square before the word, so it reads without colour too.
    const double lineHeight = surface_.LineHeight(FontOf(style));
    const double mark = lineHeight * 0.62;
    const TBlock block = Make(value.Text, style, width - mark - 3, maxLines, true);
    if (draw) {
        surface_.Rectangle(x, y + (lineHeight - mark) / 2, mark, mark, *value.Colour);
        Draw(block, x + mark + 3, y, value.Colour);
    }
    return block.Height();
}

void TCanvas::NewPage(const std::string& heading, bool title) {
    EndPage();
    ++page_;
    open_ = true;
    surface_.StartPage();
    heading_ = heading;
    y_ = margin_;
    // The logo at the right of the heading, scaled down into its box, never up.
    double logoWidth = 0, logoHeight = 0;
    const auto [w, h] = surface_.PictureSize();
    if (w > 0 && h > 0) {
        const double scale = std::min({1.0, kLogoWidth / w, kLogoHeight / h});
        logoWidth = w * scale;
        logoHeight = h * scale;
        surface_.Picture(Right() - logoWidth, y_, logoWidth, logoHeight);
    }
    const double headingWidth = ContentWidth() - (logoWidth > 0 ? logoWidth + kColumnGap : 0);
    const TBlock block = Make(heading, title ? TStyle::Title : TStyle::Heading, headingWidth, 2);
    Draw(block, Left(), y_, std::nullopt);
    y_ += std::max(block.Height(), logoHeight) + 3;
    Rule(Left(), Right(), y_, title ? 1.2 : 0.6, 0.2);
    y_ += 8;
    top_ = y_;
    // Content that would run past its area (a record of absurd texts) is cut, never drawn
    // over the footer.
    surface_.Clip(0, top_, width_, Bottom() - top_ + 1);
}

void TCanvas::Finish() {
    EndPage();
}

void TCanvas::EndPage() {
    if (!open_)
        return;
    surface_.Unclip();
    DrawFooter();
    surface_.EndPage();
    open_ = false;
}

double TCanvas::Bottom() const {
    return height_ - margin_ - kFooterHeight - kGap;
}

void TCanvas::EnsureRoom(double height) {
    if (y_ + height <= Bottom() || y_ <= top_)
        return;
    const std::string heading = heading_;
    NewPage(FillIn(Caption("CONTINUED"), {heading}));
    heading_ = heading; // a third page says "continued" once, not twice
}

void TCanvas::Heading(const std::string& text, double keep) {
    const TBlock layout = Make(text, TStyle::Heading, ContentWidth(), 2);
    const double height = layout.Height();
    EnsureRoom(height + 4 + keep);
    y_ += 4;
    Draw(layout, Left(), y_, std::nullopt);
    y_ += height + 3;
}

void TCanvas::Paragraph(const std::string& text, TStyle style) {
    const TBlock layout = Make(text, style, ContentWidth(), 2 * kValueLines);
    const double height = layout.Height();
    EnsureRoom(height);
    Draw(layout, Left(), y_, std::nullopt);
    y_ += height + 4;
}

double TCanvas::Groups(const std::vector<TFieldGroup>& groups, double x, double y, double width,
                       bool draw) {
    const double labelWidth = width * kLabelShare;
    const double valueX = x + labelWidth + 4;
    const double valueWidth = width - labelWidth - 4;
    double at = y;
    for (const TFieldGroup& group : groups) {
        const TBlock heading = Make(group.Heading, TStyle::Heading, width, 1);
        if (draw) {
            Draw(heading, x, at, std::nullopt);
            Rule(x, x + width, at + heading.Height() + 1, 0.4, 0.6);
        }
        at += heading.Height() + 4;
        for (const TField& field : group.Fields) {
            const TBlock label = Make(field.first, TStyle::Label, labelWidth, 2);
            if (draw)
                Draw(label, x, at + 0.5, kGrey);
            const int lines = field.second.Lines > 0 ? field.second.Lines : kValueLines;
            const double valueHeight =
                Value(field.second, TStyle::Body, valueX, at, valueWidth, lines, draw);
            at += std::max(label.Height(), valueHeight) + 2.5;
        }
        at += 6;
    }
    return at - y;
}

void TCanvas::FieldColumns(const std::vector<TFieldGroup>& left,
                           const std::vector<TFieldGroup>& right) {
    const double width = (ContentWidth() - kColumnGap) / 2;
    const double height = std::max(Groups(left, Left(), y_, width, false),
                                   Groups(right, Left() + width + kColumnGap, y_, width, false));
    EnsureRoom(height);
    Groups(left, Left(), y_, width, true);
    Groups(right, Left() + width + kColumnGap, y_, width, true);
    y_ += height;
}

double TCanvas::TableHeader(const std::vector<TColumn>& columns, bool draw) {
    double height = 0;
    std::vector<TBlock> captions;
    for (const TColumn& column : columns) {
        captions.push_back(Make(column.Caption, TStyle::CellHead,
                                column.Share * ContentWidth() - 2 * kCellPad, 2));
        height = std::max(height, captions.back().Height());
    }
    height += 2 * kCellPad;
    if (!draw)
        return height;
    surface_.Rectangle(Left(), y_, ContentWidth(), height, {0.86, 0.89, 0.93});
    double x = Left();
    for (std::size_t i = 0; i < columns.size(); ++i) {
        Draw(captions[i], x + kCellPad, y_ + kCellPad, std::nullopt);
        x += columns[i].Share * ContentWidth();
    }
    y_ += height;
    Rule(Left(), Right(), y_, 0.6, 0.3);
    return height;
}

void TCanvas::Table(const std::vector<TColumn>& columns,
                    const std::vector<std::vector<TValue>>& rows, int maxLines) {
    auto rowHeight = [&](const std::vector<TValue>& row, double y, bool draw) {
        double height = 0;
        double x = Left();
        for (std::size_t i = 0; i < columns.size() && i < row.size(); ++i) {
            const double width = columns[i].Share * ContentWidth();
            height = std::max(height, Value(row[i], TStyle::Cell, x + kCellPad, y + kCellPad,
                                            width - 2 * kCellPad, maxLines, draw));
            x += width;
        }
        return height + 2 * kCellPad;
    };
    const double header = TableHeader(columns, false);
    EnsureRoom(header + (rows.empty() ? 0 : rowHeight(rows.front(), y_, false)));
    TableHeader(columns, true);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const double height = rowHeight(rows[r], y_, false);
        if (y_ + height > Bottom()) {
            EnsureRoom(height);
            TableHeader(columns, true);
        }
        if (r % 2 == 1) {
            surface_.Rectangle(Left(), y_, ContentWidth(), height, {0.955, 0.955, 0.955});
        }
        rowHeight(rows[r], y_, true);
        y_ += height;
        Rule(Left(), Right(), y_, 0.3, 0.75);
    }
    y_ += 6;
}

void TCanvas::DrawFooter() {
    const double rule = height_ - margin_ - kFooterHeight;
    Rule(Left(), Right(), rule, 0.6, 0.3);
    // Above the signatures, what they attest.
    const TBlock attestation = Make(Caption("ATTESTATION"), TStyle::Small, ContentWidth(), 1);
    Draw(attestation, Left(), rule + 3, std::nullopt);
    const double top = rule + 14;
    // The signature lines: the operator's at the left, the validator's at the right.
    const double column = (ContentWidth() - kColumnGap) / 2;
    const double labelWidth = 62;
    const std::string who[2] = {Caption("OPERATOR_SIGNS"), Caption("WITNESS_SIGNS")};
    const std::string names[2] = {footer_.OperatorName, footer_.ValidatorName};
    const std::string lines[3] = {Caption("SIGN_NAME"), Caption("SIGN_SIGNATURE"),
                                  Caption("SIGN_DATE")};
    for (int side = 0; side < 2; ++side) {
        const double x = Left() + side * (column + kColumnGap);
        const TBlock caption = Make(who[side], TStyle::Label, column, 1);
        Draw(caption, x, top + 6, std::nullopt);
        for (int line = 0; line < 3; ++line) {
            const double y = top + 22 + line * 19;
            const TBlock label = Make(lines[line], TStyle::Small, labelWidth - 4, 1);
            Draw(label, x, y + 3, kGrey);
            Rule(x + labelWidth, x + column, y + 13, 0.5, 0.2);
            if (line == 0 && !names[side].empty()) {
                const TBlock name = Make(names[side], TStyle::Body, column - labelWidth - 4, 1);
                Draw(name, x + labelWidth + 2, y + 1, std::nullopt);
            }
        }
    }
    const TBlock digest = Make(footer_.Digest, TStyle::Mono, ContentWidth(), 1);
    Draw(digest, Left(), top + 84, std::nullopt);
    const std::string number =
        totalPages_ > 0
            ? FillIn(Caption("PAGE_OF"), {std::to_string(page_), std::to_string(totalPages_)})
            : FillIn(Caption("PAGE"), {std::to_string(page_)});
    const TBlock page = Make(number, TStyle::Small, ContentWidth() * 0.25, 1);
    const double pageWidth = surface_.TextWidth(page.Lines.front(), page.Font);
    Draw(page, Right() - pageWidth, top + 97, std::nullopt);
    const TBlock note = Make(footer_.Note, TStyle::Small, ContentWidth() * 0.72, 1);
    Draw(note, Left(), top + 97, kGrey);
}

} // namespace purgelet::record::certificate
