// The certificate's surface on Linux: cairo's PDF surface, texts set by Pango at 72 dpi so that
// a point of font size is a point on paper, with the faces fontconfig gives "Sans" and
// "Monospace".
#include "record/certificate_canvas.h"

#include "platform/codepage.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <cstring>
#include <map>
#include <pango/pangocairo.h>
#include <tuple>

namespace purgelet::record::certificate {

namespace {

struct ObjectDeleter {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct SurfaceDeleter {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct ContextDeleter {
    void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};
using Layout = std::unique_ptr<PangoLayout, ObjectDeleter>;

cairo_status_t Append(void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

// A PNG file's bytes as cairo reads them.
struct TPngSource {
    const std::string* Bytes;
    std::size_t At = 0;
};

cairo_status_t ReadFrom(void* closure, unsigned char* data, unsigned int length) {
    auto* source = static_cast<TPngSource*>(closure);
    if (source->Bytes->size() - source->At < length)
        return CAIRO_STATUS_READ_ERROR;
    std::memcpy(data, source->Bytes->data() + source->At, length);
    source->At += length;
    return CAIRO_STATUS_SUCCESS;
}

class TCairoSurface final : public TSurface {
public:
    TCairoSurface(double width, double height, const std::string& title, const std::string& creator)
        : surface_(cairo_pdf_surface_create_for_stream(Append, &bytes_, width, height)),
          cr_(cairo_create(surface_.get())), context_(pango_cairo_create_context(cr_.get())) {
        pango_cairo_context_set_resolution(context_.get(), 72);
        // Metadata is UTF-8; the program's texts are Windows-1252.
        cairo_pdf_surface_set_metadata(surface_.get(), CAIRO_PDF_METADATA_TITLE,
                                       platform::Cp1252ToUtf8(title).c_str());
        cairo_pdf_surface_set_metadata(surface_.get(), CAIRO_PDF_METADATA_CREATOR,
                                       platform::Cp1252ToUtf8(creator).c_str());
    }

    void StartPage() override {}
    void EndPage() override { cairo_show_page(cr_.get()); }

    double TextWidth(const std::string& line, const TFont& font) override {
        const auto key = std::make_tuple(font.Size, font.Bold, font.Mono, line);
        const auto known = widths_.find(key);
        if (known != widths_.end())
            return known->second;
        int width = 0;
        int height = 0;
        pango_layout_get_size(Make(line, font).get(), &width, &height);
        return widths_[key] = static_cast<double>(width) / PANGO_SCALE;
    }

    double LineHeight(const TFont& font) override {
        const auto key = std::make_tuple(font.Size, font.Bold, font.Mono, std::string());
        const auto known = leading_.find(key);
        if (known != leading_.end())
            return known->second;
        int width = 0;
        int height = 0;
        pango_layout_get_size(Make("M", font).get(), &width, &height);
        return leading_[key] = static_cast<double>(height) / PANGO_SCALE;
    }

    void Text(const std::string& line, const TFont& font, double x, double top,
              const TColour& colour) override {
        SetColour(colour);
        cairo_move_to(cr_.get(), x, top);
        pango_cairo_show_layout(cr_.get(), Make(line, font).get());
    }

    void Rectangle(double x, double y, double width, double height,
                   const TColour& colour) override {
        SetColour(colour);
        cairo_rectangle(cr_.get(), x, y, width, height);
        cairo_fill(cr_.get());
    }

    void Line(double x0, double y0, double x1, double y1, double width,
              const TColour& colour) override {
        SetColour(colour);
        cairo_set_line_width(cr_.get(), width);
        cairo_move_to(cr_.get(), x0, y0);
        cairo_line_to(cr_.get(), x1, y1);
        cairo_stroke(cr_.get());
    }

    void Clip(double x, double y, double width, double height) override {
        cairo_save(cr_.get());
        cairo_rectangle(cr_.get(), x, y, width, height);
        cairo_clip(cr_.get());
    }
    void Unclip() override { cairo_restore(cr_.get()); }

    bool SetPicture(const std::string& png, std::string& why) override {
        TPngSource source{&png};
        picture_.reset(cairo_image_surface_create_from_png_stream(ReadFrom, &source));
        if (cairo_surface_status(picture_.get()) != CAIRO_STATUS_SUCCESS) {
            why = std::string("not a PNG picture (") +
                  cairo_status_to_string(cairo_surface_status(picture_.get())) + ")";
            picture_.reset();
            return false;
        }
        return true;
    }

    std::pair<double, double> PictureSize() const override {
        if (!picture_)
            return {0, 0};
        return {cairo_image_surface_get_width(picture_.get()),
                cairo_image_surface_get_height(picture_.get())};
    }

    void Picture(double x, double y, double width, double height) override {
        const auto [w, h] = PictureSize();
        if (w <= 0 || h <= 0)
            return;
        cairo_save(cr_.get());
        cairo_translate(cr_.get(), x, y);
        cairo_scale(cr_.get(), width / w, height / h);
        cairo_set_source_surface(cr_.get(), picture_.get(), 0, 0);
        cairo_paint(cr_.get());
        cairo_restore(cr_.get());
    }

    bool Finish(std::string& bytes, std::string& why) override {
        cairo_status_t status = cairo_status(cr_.get());
        cr_.reset();
        cairo_surface_finish(surface_.get());
        if (status == CAIRO_STATUS_SUCCESS)
            status = cairo_surface_status(surface_.get());
        if (status != CAIRO_STATUS_SUCCESS) {
            why = cairo_status_to_string(status);
            return false;
        }
        bytes = std::move(bytes_);
        return true;
    }

private:
    Layout Make(const std::string& line, const TFont& font) const {
        Layout layout(pango_layout_new(context_.get()));
        PangoFontDescription* description = pango_font_description_new();
        pango_font_description_set_family(description, font.Mono ? "Monospace" : "Sans");
        pango_font_description_set_weight(description,
                                          font.Bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
        pango_font_description_set_size(description,
                                        static_cast<int>(font.Size * PANGO_SCALE + 0.5));
        pango_layout_set_font_description(layout.get(), description);
        pango_font_description_free(description);
        const std::string text = platform::Cp1252ToUtf8(line);
        pango_layout_set_text(layout.get(), text.c_str(), static_cast<int>(text.size()));
        return layout;
    }

    void SetColour(const TColour& colour) {
        cairo_set_source_rgb(cr_.get(), colour.R, colour.G, colour.B);
    }

    std::string bytes_; // before the surface, which writes into it until it is finished
    std::unique_ptr<cairo_surface_t, SurfaceDeleter> surface_;
    std::unique_ptr<cairo_t, ContextDeleter> cr_;
    std::unique_ptr<PangoContext, ObjectDeleter> context_;
    std::unique_ptr<cairo_surface_t, SurfaceDeleter> picture_;
    // Measured once: the canvas measures a text again for each way it tries to set it.
    std::map<std::tuple<double, bool, bool, std::string>, double> widths_;
    std::map<std::tuple<double, bool, bool, std::string>, double> leading_;
};

} // namespace

std::unique_ptr<TSurface> NewSurface(double width, double height, const std::string& title,
                                     const std::string& creator) {
    return std::make_unique<TCairoSurface>(width, height, title, creator);
}

} // namespace purgelet::record::certificate
