// The certificate's page layout: text through Pango at 72 dpi so that a point of font size is
// a point on paper, every text wrapped or ellipsized inside its own box.
#include "lang/catalogue.h"
#include "platform/codepage.h"
#include "record/certificate_cairo.h"

#include <algorithm>

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

const char* FontOf(TStyle style) {
    switch (style) {
    case TStyle::Title:
        return "Sans Bold 18";
    case TStyle::Heading:
        return "Sans Bold 10.5";
    case TStyle::Body:
        return "Sans 9";
    case TStyle::Label:
        return "Sans Bold 8";
    case TStyle::Cell:
        return "Sans 7.5";
    case TStyle::CellHead:
        return "Sans Bold 7.5";
    case TStyle::Small:
        return "Sans 7";
    case TStyle::Mono:
        return "Monospace 7";
    }
    return "Sans 9";
}

// The program's Windows-1252 text as UTF-8 without control characters: serial numbers and
// texts come from firmware and from the system, and Pango draws control characters as boxes.
std::string Clean(const std::string& program) {
    const std::string text = platform::Cp1252ToUtf8(program);
    gchar* valid = g_utf8_make_valid(text.c_str(), static_cast<gssize>(text.size()));
    std::string result;
    for (const char* c = valid; *c; ++c) {
        if (*c == '\r') {
            result += '\n';
            if (c[1] == '\n')
                ++c;
        } else if (*c == '\n') {
            result += '\n';
        } else if ((static_cast<unsigned char>(*c) < 0x20) || *c == 0x7f) {
            result += ' ';
        } else {
            result += *c;
        }
    }
    g_free(valid);
    return result;
}

} // namespace

std::string Caption(const std::string& key) {
    return CatalogueText(key, "Certificate");
}

TCanvas::TCanvas(cairo_t* cr, double width, double height, TFooter footer, int totalPages)
    : cr_(cr), context_(pango_cairo_create_context(cr)), width_(width), height_(height),
      footer_(std::move(footer)), totalPages_(totalPages) {
    pango_cairo_context_set_resolution(context_.get(), 72);
}

TCanvas::Layout TCanvas::Make(const std::string& text, TStyle style, double width, int maxLines,
                              bool bold) const {
    Layout layout(pango_layout_new(context_.get()));
    PangoFontDescription* font = pango_font_description_from_string(FontOf(style));
    if (bold)
        pango_font_description_set_weight(font, PANGO_WEIGHT_BOLD);
    pango_layout_set_font_description(layout.get(), font);
    pango_font_description_free(font);
    pango_layout_set_width(layout.get(), static_cast<int>(std::max(width, 1.0) * PANGO_SCALE));
    pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
    // A serial number broken over two lines must not gain a hyphen it does not have.
    PangoAttrList* attributes = pango_attr_list_new();
    pango_attr_list_insert(attributes, pango_attr_insert_hyphens_new(FALSE));
    pango_layout_set_attributes(layout.get(), attributes);
    pango_attr_list_unref(attributes);
    if (maxLines > 0) {
        pango_layout_set_ellipsize(layout.get(), PANGO_ELLIPSIZE_END);
        pango_layout_set_height(layout.get(), -maxLines);
    }
    const std::string clean = Clean(text);
    pango_layout_set_text(layout.get(), clean.c_str(), static_cast<int>(clean.size()));
    return layout;
}

double TCanvas::Height(PangoLayout* layout) {
    int width = 0;
    int height = 0;
    pango_layout_get_size(layout, &width, &height);
    return static_cast<double>(height) / PANGO_SCALE;
}

void TCanvas::Draw(PangoLayout* layout, double x, double y, const std::optional<TColour>& colour) {
    const TColour c = colour.value_or(kBlack);
    cairo_set_source_rgb(cr_, c.R, c.G, c.B);
    cairo_move_to(cr_, x, y);
    pango_cairo_show_layout(cr_, layout);
}

void TCanvas::Rule(double x0, double x1, double y, double width, double grey) {
    cairo_set_source_rgb(cr_, grey, grey, grey);
    cairo_set_line_width(cr_, width);
    cairo_move_to(cr_, x0, y);
    cairo_line_to(cr_, x1, y);
    cairo_stroke(cr_);
}

double TCanvas::Value(const TValue& value, TStyle style, double x, double y, double width,
                      int maxLines, bool draw) {
    if (!value.Colour) {
        Layout layout = Make(value.Text, style, width, maxLines);
        if (draw)
            Draw(layout.get(), x, y, std::nullopt);
        return Height(layout.get());
    }
    // The outcome: a coloured square before the word, so it reads without colour too.
    Layout probe = Make("M", style, width, 1);
    const double mark = Height(probe.get()) * 0.62;
    Layout layout = Make(value.Text, style, width - mark - 3, maxLines, true);
    if (draw) {
        const double lineHeight = Height(probe.get());
        cairo_set_source_rgb(cr_, value.Colour->R, value.Colour->G, value.Colour->B);
        cairo_rectangle(cr_, x, y + (lineHeight - mark) / 2, mark, mark);
        cairo_fill(cr_);
        Draw(layout.get(), x + mark + 3, y, value.Colour);
    }
    return Height(layout.get());
}

void TCanvas::NewPage(const std::string& heading, bool title) {
    EndPage();
    ++page_;
    open_ = true;
    heading_ = heading;
    y_ = margin_;
    // The logo at the right of the heading, scaled down into its box, never up.
    double logoWidth = 0, logoHeight = 0;
    if (logo_ != nullptr) {
        const double w = cairo_image_surface_get_width(logo_);
        const double h = cairo_image_surface_get_height(logo_);
        const double scale = w > 0 && h > 0 ? std::min({1.0, kLogoWidth / w, kLogoHeight / h}) : 0;
        logoWidth = w * scale;
        logoHeight = h * scale;
        if (scale > 0) {
            cairo_save(cr_);
            cairo_translate(cr_, Right() - logoWidth, y_);
            cairo_scale(cr_, scale, scale);
            cairo_set_source_surface(cr_, logo_, 0, 0);
            cairo_paint(cr_);
            cairo_restore(cr_);
        }
    }
    const double headingWidth = ContentWidth() - (logoWidth > 0 ? logoWidth + kColumnGap : 0);
    Layout layout = Make(heading, title ? TStyle::Title : TStyle::Heading, headingWidth, 2);
    Draw(layout.get(), Left(), y_, std::nullopt);
    y_ += std::max(Height(layout.get()), logoHeight) + 3;
    Rule(Left(), Right(), y_, title ? 1.2 : 0.6, 0.2);
    y_ += 8;
    top_ = y_;
    // Content that would run past its area (a record of absurd texts) is cut, never drawn
    // over the footer.
    cairo_save(cr_);
    cairo_rectangle(cr_, 0, top_, width_, Bottom() - top_ + 1);
    cairo_clip(cr_);
}

void TCanvas::Finish() {
    EndPage();
}

void TCanvas::EndPage() {
    if (!open_)
        return;
    cairo_restore(cr_);
    DrawFooter();
    cairo_show_page(cr_);
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
    Layout layout = Make(text, TStyle::Heading, ContentWidth(), 2);
    const double height = Height(layout.get());
    EnsureRoom(height + 4 + keep);
    y_ += 4;
    Draw(layout.get(), Left(), y_, std::nullopt);
    y_ += height + 3;
}

void TCanvas::Paragraph(const std::string& text, TStyle style) {
    Layout layout = Make(text, style, ContentWidth(), 2 * kValueLines);
    const double height = Height(layout.get());
    EnsureRoom(height);
    Draw(layout.get(), Left(), y_, std::nullopt);
    y_ += height + 4;
}

double TCanvas::Groups(const std::vector<TFieldGroup>& groups, double x, double y, double width,
                       bool draw) {
    const double labelWidth = width * kLabelShare;
    const double valueX = x + labelWidth + 4;
    const double valueWidth = width - labelWidth - 4;
    double at = y;
    for (const TFieldGroup& group : groups) {
        Layout heading = Make(group.Heading, TStyle::Heading, width, 1);
        if (draw) {
            Draw(heading.get(), x, at, std::nullopt);
            Rule(x, x + width, at + Height(heading.get()) + 1, 0.4, 0.6);
        }
        at += Height(heading.get()) + 4;
        for (const TField& field : group.Fields) {
            Layout label = Make(field.first, TStyle::Label, labelWidth, 2);
            if (draw)
                Draw(label.get(), x, at + 0.5, kGrey);
            const int lines = field.second.Lines > 0 ? field.second.Lines : kValueLines;
            const double valueHeight =
                Value(field.second, TStyle::Body, valueX, at, valueWidth, lines, draw);
            at += std::max(Height(label.get()), valueHeight) + 2.5;
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
    std::vector<Layout> captions;
    for (const TColumn& column : columns) {
        captions.push_back(Make(column.Caption, TStyle::CellHead,
                                column.Share * ContentWidth() - 2 * kCellPad, 2));
        height = std::max(height, Height(captions.back().get()));
    }
    height += 2 * kCellPad;
    if (!draw)
        return height;
    cairo_set_source_rgb(cr_, 0.86, 0.89, 0.93);
    cairo_rectangle(cr_, Left(), y_, ContentWidth(), height);
    cairo_fill(cr_);
    double x = Left();
    for (std::size_t i = 0; i < columns.size(); ++i) {
        Draw(captions[i].get(), x + kCellPad, y_ + kCellPad, std::nullopt);
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
            cairo_set_source_rgb(cr_, 0.955, 0.955, 0.955);
            cairo_rectangle(cr_, Left(), y_, ContentWidth(), height);
            cairo_fill(cr_);
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
    Layout attestation = Make(Caption("ATTESTATION"), TStyle::Small, ContentWidth(), 1);
    Draw(attestation.get(), Left(), rule + 3, std::nullopt);
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
        Layout caption = Make(who[side], TStyle::Label, column, 1);
        Draw(caption.get(), x, top + 6, std::nullopt);
        for (int line = 0; line < 3; ++line) {
            const double y = top + 22 + line * 19;
            Layout label = Make(lines[line], TStyle::Small, labelWidth - 4, 1);
            Draw(label.get(), x, y + 3, kGrey);
            Rule(x + labelWidth, x + column, y + 13, 0.5, 0.2);
            if (line == 0 && !names[side].empty()) {
                Layout name = Make(names[side], TStyle::Body, column - labelWidth - 4, 1);
                Draw(name.get(), x + labelWidth + 2, y + 1, std::nullopt);
            }
        }
    }
    Layout digest = Make(footer_.Digest, TStyle::Mono, ContentWidth(), 1);
    Draw(digest.get(), Left(), top + 84, std::nullopt);
    const std::string number =
        totalPages_ > 0
            ? FillIn(Caption("PAGE_OF"), {std::to_string(page_), std::to_string(totalPages_)})
            : FillIn(Caption("PAGE"), {std::to_string(page_)});
    Layout page = Make(number, TStyle::Small, ContentWidth() * 0.25, 1);
    pango_layout_set_alignment(page.get(), PANGO_ALIGN_RIGHT);
    Draw(page.get(), Right() - ContentWidth() * 0.25, top + 97, std::nullopt);
    Layout note = Make(footer_.Note, TStyle::Small, ContentWidth() * 0.72, 1);
    Draw(note.get(), Left(), top + 97, kGrey);
}

} // namespace purgelet::record::certificate
