// The certificate's surface on Windows: libharu, with the PDF's standard faces (Helvetica and
// Courier, never embedded: every reader has them) in WinAnsiEncoding, which is the program's
// own Windows-1252, so texts go in as they are.
#include "record/certificate_canvas.h"

#include <cstdint>
#include <cstdio>
#include <hpdf.h>
#include <map>
#include <png.h>
#include <tuple>
#include <vector>

namespace purgelet::record::certificate {

namespace {

// libharu's errors arrive through a handler: the first is kept, for the reason told.
struct TErrors {
    HPDF_STATUS First = HPDF_OK;
    HPDF_STATUS Detail = 0;
};

void OnError(HPDF_STATUS error, HPDF_STATUS detail, void* user) {
    auto* errors = static_cast<TErrors*>(user);
    if (errors->First == HPDF_OK) {
        errors->First = error;
        errors->Detail = detail;
    }
}

std::string Explain(const TErrors& errors) {
    char text[96];
    std::snprintf(text, sizeof text, "the PDF library failed (error 0x%04lX, detail %lu)",
                  static_cast<unsigned long>(errors.First),
                  static_cast<unsigned long>(errors.Detail));
    return text;
}

// The faces' vertical metrics, in thousandths of the size (their AFM files').
constexpr double kSansAscent = 718;
constexpr double kSansDescent = 207;
constexpr double kMonoAscent = 629;
constexpr double kMonoDescent = 157;
// A logo larger than this many pixels is refused rather than decoded (a page shows it in a box
// of 140 x 36 points).
constexpr std::uint64_t kMostLogoPixels = 16 * 1024 * 1024;
// Lines set as far apart as the Linux build's faces set them.
constexpr double kLeading = 1.16;

class THaruSurface final : public TSurface {
public:
    THaruSurface(double width, double height, const std::string& title, const std::string& creator)
        : width_(width), height_(height), pdf_(HPDF_New(OnError, &errors_)) {
        if (pdf_ == nullptr)
            return;
        HPDF_SetCompressionMode(pdf_, HPDF_COMP_ALL);
        for (int f = 0; f < 4; ++f) {
            static const char* const names[4] = {"Helvetica", "Helvetica-Bold", "Courier",
                                                 "Courier-Bold"};
            fonts_[f] = HPDF_GetFont(pdf_, names[f], "WinAnsiEncoding");
        }
        if (!title.empty())
            HPDF_SetInfoAttr(pdf_, HPDF_INFO_TITLE, title.c_str());
        if (!creator.empty())
            HPDF_SetInfoAttr(pdf_, HPDF_INFO_CREATOR, creator.c_str());
    }
    ~THaruSurface() override {
        if (pdf_ != nullptr)
            HPDF_Free(pdf_);
    }
    THaruSurface(const THaruSurface&) = delete;
    THaruSurface& operator=(const THaruSurface&) = delete;

    void StartPage() override {
        page_ = pdf_ != nullptr ? HPDF_AddPage(pdf_) : nullptr;
        if (page_ == nullptr)
            return;
        HPDF_Page_SetWidth(page_, static_cast<HPDF_REAL>(width_));
        HPDF_Page_SetHeight(page_, static_cast<HPDF_REAL>(height_));
    }
    void EndPage() override { page_ = nullptr; }

    double TextWidth(const std::string& line, const TFont& font) override {
        HPDF_Font face = Face(font);
        if (face == nullptr || line.empty())
            return 0;
        const auto key = std::make_tuple(font.Size, font.Bold, font.Mono, line);
        const auto known = widths_.find(key);
        if (known != widths_.end())
            return known->second;
        const HPDF_TextWidth measured =
            HPDF_Font_TextWidth(face, reinterpret_cast<const HPDF_BYTE*>(line.data()),
                                static_cast<HPDF_UINT>(line.size()));
        return widths_[key] = measured.width * font.Size / 1000.0;
    }

    double LineHeight(const TFont& font) override { return font.Size * kLeading; }

    void Text(const std::string& line, const TFont& font, double x, double top,
              const TColour& colour) override {
        HPDF_Font face = Face(font);
        if (page_ == nullptr || face == nullptr)
            return;
        const double ascent = (font.Mono ? kMonoAscent : kSansAscent) * font.Size / 1000;
        const double descent = (font.Mono ? kMonoDescent : kSansDescent) * font.Size / 1000;
        const double baseline = top + (LineHeight(font) - ascent - descent) / 2 + ascent;
        HPDF_Page_SetRGBFill(page_, Real(colour.R), Real(colour.G), Real(colour.B));
        HPDF_Page_BeginText(page_);
        HPDF_Page_SetFontAndSize(page_, face, Real(font.Size));
        HPDF_Page_TextOut(page_, Real(x), Y(baseline), line.c_str());
        HPDF_Page_EndText(page_);
    }

    void Rectangle(double x, double y, double width, double height,
                   const TColour& colour) override {
        if (page_ == nullptr)
            return;
        HPDF_Page_SetRGBFill(page_, Real(colour.R), Real(colour.G), Real(colour.B));
        HPDF_Page_Rectangle(page_, Real(x), Y(y + height), Real(width), Real(height));
        HPDF_Page_Fill(page_);
    }

    void Line(double x0, double y0, double x1, double y1, double width,
              const TColour& colour) override {
        if (page_ == nullptr)
            return;
        HPDF_Page_SetRGBStroke(page_, Real(colour.R), Real(colour.G), Real(colour.B));
        HPDF_Page_SetLineWidth(page_, Real(width));
        HPDF_Page_MoveTo(page_, Real(x0), Y(y0));
        HPDF_Page_LineTo(page_, Real(x1), Y(y1));
        HPDF_Page_Stroke(page_);
    }

    void Clip(double x, double y, double width, double height) override {
        if (page_ == nullptr)
            return;
        HPDF_Page_GSave(page_);
        HPDF_Page_Rectangle(page_, Real(x), Y(y + height), Real(width), Real(height));
        HPDF_Page_Clip(page_);
        HPDF_Page_EndPath(page_);
    }
    void Unclip() override {
        if (page_ != nullptr)
            HPDF_Page_GRestore(page_);
    }

    // The picture is decoded here with libpng's own guarded reader, composited on the page's
    // white, and given to libharu as plain pixels: libharu's PNG reader lets libpng abort the
    // process on a damaged file.
    bool SetPicture(const std::string& png, std::string& why) override {
        if (pdf_ == nullptr) {
            why = Explain(errors_);
            return false;
        }
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        if (png_image_begin_read_from_memory(&image, png.data(), png.size()) == 0) {
            why = std::string("not a PNG picture (") + image.message + ")";
            return false;
        }
        image.format = PNG_FORMAT_RGB;
        if (static_cast<std::uint64_t>(image.width) * image.height > kMostLogoPixels) {
            png_image_free(&image);
            why = "a picture of " + std::to_string(image.width) + " x " +
                  std::to_string(image.height) + " pixels is too large for a logo";
            return false;
        }
        std::vector<png_byte> pixels(PNG_IMAGE_SIZE(image));
        const png_color white{255, 255, 255};
        if (png_image_finish_read(&image, &white, pixels.data(), 0, nullptr) == 0) {
            why = std::string("not a PNG picture (") + image.message + ")";
            return false;
        }
        picture_ = HPDF_LoadRawImageFromMem(pdf_, pixels.data(), image.width, image.height,
                                            HPDF_CS_DEVICE_RGB, 8);
        if (picture_ == nullptr || errors_.First != HPDF_OK) {
            why = Explain(errors_);
            picture_ = nullptr;
            return false;
        }
        return true;
    }

    std::pair<double, double> PictureSize() const override {
        if (picture_ == nullptr)
            return {0, 0};
        return {HPDF_Image_GetWidth(picture_), HPDF_Image_GetHeight(picture_)};
    }

    void Picture(double x, double y, double width, double height) override {
        if (page_ != nullptr && picture_ != nullptr)
            HPDF_Page_DrawImage(page_, picture_, Real(x), Y(y + height), Real(width), Real(height));
    }

    bool Finish(std::string& bytes, std::string& why) override {
        if (pdf_ == nullptr || errors_.First != HPDF_OK || HPDF_SaveToStream(pdf_) != HPDF_OK) {
            why = Explain(errors_);
            return false;
        }
        bytes.clear();
        HPDF_ResetStream(pdf_);
        for (;;) {
            HPDF_BYTE buffer[16384];
            HPDF_UINT32 size = sizeof buffer;
            const HPDF_STATUS status = HPDF_ReadFromStream(pdf_, buffer, &size);
            bytes.append(reinterpret_cast<const char*>(buffer), size);
            if (status == HPDF_STREAM_EOF)
                return true;
            if (status != HPDF_OK) {
                why = Explain(errors_);
                return false;
            }
        }
    }

private:
    static HPDF_REAL Real(double value) { return static_cast<HPDF_REAL>(value); }
    // The PDF's y axis goes up from the page's bottom.
    HPDF_REAL Y(double fromTop) const { return Real(height_ - fromTop); }
    HPDF_Font Face(const TFont& font) const {
        return fonts_[(font.Mono ? 2 : 0) + (font.Bold ? 1 : 0)];
    }

    double width_;
    double height_;
    TErrors errors_; // before the document, whose handler writes into it
    HPDF_Doc pdf_;
    HPDF_Font fonts_[4] = {};
    HPDF_Page page_ = nullptr;
    HPDF_Image picture_ = nullptr;
    std::map<std::tuple<double, bool, bool, std::string>, double> widths_;
};

} // namespace

std::unique_ptr<TSurface> NewSurface(double width, double height, const std::string& title,
                                     const std::string& creator) {
    return std::make_unique<THaruSurface>(width, height, title, creator);
}

} // namespace purgelet::record::certificate
