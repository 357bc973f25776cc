// The certificate's drawing, shared by its files: a canvas that lays text, fields and tables
// out on pages with cairo and Pango, continues them on further pages, and draws the same
// footer (signature lines, the record's digest, the page number) on every page.
#pragma once

#include "lang/catalogue.h"
#include "record/certificate.h"

#include <cairo.h>
#include <memory>
#include <optional>
#include <pango/pangocairo.h>
#include <string>
#include <utility>
#include <vector>

namespace purgelet::record::certificate {

struct TColour {
    double R = 0;
    double G = 0;
    double B = 0;
};

enum class TStyle { Title, Heading, Body, Label, Cell, CellHead, Small, Mono };

// A value as drawn: its text, for an outcome its colour (drawn as a mark and in bold), and
// how many lines it may wrap to in a field (0: the canvas's usual few).
struct TValue {
    std::string Text;
    std::optional<TColour> Colour;
    int Lines = 0;
};

using TField = std::pair<std::string, TValue>;

// A titled set of label / value rows.
struct TFieldGroup {
    std::string Heading;
    std::vector<TField> Fields;
};

struct TColumn {
    std::string Caption;
    double Share = 0; // of the table's width; the shares of a table add up to 1
};

// What the footer of every page shows.
struct TFooter {
    std::string Digest;        // "Record SHA-256: ..." or the reason there is none
    std::string Note;          // the tool and the run, at the left of the page number
    std::string OperatorName;  // printed on the operator's name line when known
    std::string ValidatorName; // printed on the validator's name line when known
};

// A caption of the certificate from the language table, with its English default.
std::string Caption(const std::string& key);

class TCanvas {
public:
    // Draws on cr's surface, pages of width x height points. totalPages is the count of a
    // previous pass (0: unknown, the page number then stands alone).
    TCanvas(cairo_t* cr, double width, double height, TFooter footer, int totalPages);
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;

    // Ends the page being drawn (if any) and starts another; heading is what the page is
    // about (drawn as the document's title when title is set), repeated with "(continued)"
    // when its content runs over.
    void NewPage(const std::string& heading, bool title = false);
    // Ends the last page.
    void Finish();
    int Pages() const { return page_; }
    // A picture drawn at the top right of every page from the next on; not owned, kept alive
    // by the caller while the canvas draws.
    void SetLogo(cairo_surface_t* logo) { logo_ = logo; }

    // A section heading, kept on the page with at least `keep` points of what follows.
    void Heading(const std::string& text, double keep = 40);
    void Paragraph(const std::string& text, TStyle style = TStyle::Body);
    // Two columns of titled label / value groups side by side, the values wrapped; kept
    // together on one page.
    void FieldColumns(const std::vector<TFieldGroup>& left, const std::vector<TFieldGroup>& right);
    // A table whose rows continue on further pages under its header again; a cell is wrapped
    // up to maxLines lines and ellipsized beyond.
    void Table(const std::vector<TColumn>& columns, const std::vector<std::vector<TValue>>& rows,
               int maxLines = 3);
    void Space(double points) { y_ += points; }

private:
    struct ObjectDeleter {
        void operator()(gpointer object) const { g_object_unref(object); }
    };
    using Layout = std::unique_ptr<PangoLayout, ObjectDeleter>;

    Layout Make(const std::string& text, TStyle style, double width, int maxLines,
                bool bold = false) const;
    static double Height(PangoLayout* layout);
    void Draw(PangoLayout* layout, double x, double y, const std::optional<TColour>& colour);
    // An outcome's coloured mark and bold word, or plain text: its height, drawn when draw.
    double Value(const TValue& value, TStyle style, double x, double y, double width, int maxLines,
                 bool draw);
    // A column of field groups: its height, drawn when draw.
    double Groups(const std::vector<TFieldGroup>& groups, double x, double y, double width,
                  bool draw);
    double TableHeader(const std::vector<TColumn>& columns, bool draw);
    // Continues on a new page when height does not fit below y (unless the page is fresh).
    void EnsureRoom(double height);
    void EndPage();
    void DrawFooter();
    void Rule(double x0, double x1, double y, double width, double grey);
    double Bottom() const;
    double Left() const { return margin_; }
    double Right() const { return width_ - margin_; }
    double ContentWidth() const { return width_ - 2 * margin_; }

    cairo_t* cr_;
    std::unique_ptr<PangoContext, ObjectDeleter> context_;
    double width_;
    double height_;
    double margin_ = 42;
    TFooter footer_;
    int totalPages_;
    int page_ = 0;
    bool open_ = false;
    double y_ = 0;
    double top_ = 0; // where the page's content starts, below its heading
    std::string heading_;
    cairo_surface_t* logo_ = nullptr;
};

// The whole certificate of record on the canvas: the summary page, then a page per drive.
void DrawRecord(TCanvas& canvas, const TRecord& record);
// The footer texts of record.
TFooter FooterOf(const TRecord& record);

} // namespace purgelet::record::certificate
