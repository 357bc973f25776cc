// The certificate's drawing, shared by its files and by every build: a canvas that lays text,
// fields and tables out on pages, wraps and continues them on further pages, and draws the
// same footer (signature lines, the record's digest, the page number) on every page. What it
// draws with is a surface: one back-end per drawing library (cairo and Pango on Linux,
// libharu on Windows), so the layout is the same code everywhere.
#pragma once

#include "lang/catalogue.h"
#include "record/certificate.h"

#include <memory>
#include <optional>
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

// A face and size; the back-end picks its own sans-serif and monospaced faces.
struct TFont {
    double Size = 9;
    bool Bold = false;
    bool Mono = false;
};

// What the canvas draws with: the pages of one PDF document. Positions are points from the
// page's top left corner. Texts are one line of the program's Windows-1252 each, without
// control characters.
class TSurface {
public:
    virtual ~TSurface() = default;
    virtual void StartPage() = 0;
    virtual void EndPage() = 0;
    // The width of line in font.
    virtual double TextWidth(const std::string& line, const TFont& font) = 0;
    // How far apart lines of font are set.
    virtual double LineHeight(const TFont& font) = 0;
    // Draws line with the top of its line box at top.
    virtual void Text(const std::string& line, const TFont& font, double x, double top,
                      const TColour& colour) = 0;
    virtual void Rectangle(double x, double y, double width, double height,
                           const TColour& colour) = 0;
    virtual void Line(double x0, double y0, double x1, double y1, double width,
                      const TColour& colour) = 0;
    // What is drawn until Unclip is cut to the rectangle.
    virtual void Clip(double x, double y, double width, double height) = 0;
    virtual void Unclip() = 0;
    // Takes the PNG picture in bytes as the document's logo; false and why when it is none.
    virtual bool SetPicture(const std::string& png, std::string& why) = 0;
    // The logo's size in pixels (0 x 0 without one), and the logo drawn into a box.
    virtual std::pair<double, double> PictureSize() const = 0;
    virtual void Picture(double x, double y, double width, double height) = 0;
    // The document's bytes once its pages are drawn; false and why when it failed.
    virtual bool Finish(std::string& bytes, std::string& why) = 0;
};

// The back-end of this build: a document of pages width x height points, titled, with the
// program that made it.
std::unique_ptr<TSurface> NewSurface(double width, double height, const std::string& title,
                                     const std::string& creator);

class TCanvas {
public:
    // Draws on surface (not owned), pages of width x height points. totalPages is the count
    // of a previous pass (0: unknown, the page number then stands alone).
    TCanvas(TSurface& surface, double width, double height, TFooter footer, int totalPages);
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;

    // Ends the page being drawn (if any) and starts another; heading is what the page is
    // about (drawn as the document's title when title is set), repeated with "(continued)"
    // when its content runs over.
    void NewPage(const std::string& heading, bool title = false);
    // Ends the last page.
    void Finish();
    int Pages() const { return page_; }

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
    // A text set in a box: its lines and how far apart they are.
    struct TBlock {
        std::vector<std::string> Lines;
        TFont Font;
        double Leading = 0;
        double Height() const { return Leading * static_cast<double>(Lines.size()); }
    };

    TBlock Make(const std::string& text, TStyle style, double width, int maxLines,
                bool bold = false);
    void Draw(const TBlock& block, double x, double y, const std::optional<TColour>& colour);
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

    TSurface& surface_;
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
};

// Text broken into lines no wider than width as surface measures them: at spaces, inside a
// word only where the word alone is wider, at every line end of the text; with maxLines > 0,
// at most that many lines, the last ending in an ellipsis where text was cut. Control
// characters are blanks; a text with nothing in it is one empty line.
std::vector<std::string> WrapText(TSurface& surface, const std::string& text, const TFont& font,
                                  double width, int maxLines);

// The whole certificate of record on the canvas: the summary page, then a page per drive.
void DrawRecord(TCanvas& canvas, const TRecord& record);
// The footer texts of record.
TFooter FooterOf(const TRecord& record);

} // namespace purgelet::record::certificate
