// The certificate drawn with cairo's PDF surface and Pango. It is drawn twice: once to count
// the pages (each page says "Page n of N", so a missing sheet shows), then into memory, and the
// whole document replaces the target in one step as a record does.
#include "record/certificate_cairo.h"
#include "record/certificate.h"

#include "platform/codepage.h"
#include "record/record_file.h"

#include <cairo-pdf.h>
#include <cstring>
#include <filesystem>

namespace purgelet::record {

namespace {

using certificate::Caption;

struct SurfaceDeleter {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct ContextDeleter {
    void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};

// Where cairo's output goes: the document's bytes, or nowhere for the pass that counts the
// pages.
struct TSink {
    std::string* Bytes = nullptr;
};

cairo_status_t WriteTo(void* closure, const unsigned char* data, unsigned int length) {
    auto* sink = static_cast<TSink*>(closure);
    if (sink->Bytes != nullptr)
        sink->Bytes->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

// A PNG file's picture, read through the system layer; null and why when it is none.
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

std::unique_ptr<cairo_surface_t, SurfaceDeleter> LoadLogo(const std::string& path,
                                                          std::string& why) {
    std::string bytes;
    if (!ReadFileWhole(path, bytes, why))
        return nullptr;
    // cairo names any unreadable stream a lack of memory: the signature says it plainly.
    if (bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) {
        why = "not a PNG picture";
        return nullptr;
    }
    TPngSource source{&bytes};
    std::unique_ptr<cairo_surface_t, SurfaceDeleter> logo(
        cairo_image_surface_create_from_png_stream(ReadFrom, &source));
    if (cairo_surface_status(logo.get()) != CAIRO_STATUS_SUCCESS) {
        why = std::string("not a PNG picture (") +
              cairo_status_to_string(cairo_surface_status(logo.get())) + ")";
        return nullptr;
    }
    return logo;
}

// Draws the whole certificate into sink: the number of pages, or 0 and why.
int Render(const TRecord& record, TPaper paper, cairo_surface_t* logo, TSink& sink, int totalPages,
           std::string& why) {
    const double width = paper == TPaper::Letter ? 612 : 595;
    const double height = paper == TPaper::Letter ? 792 : 842;
    std::unique_ptr<cairo_surface_t, SurfaceDeleter> surface(
        cairo_pdf_surface_create_for_stream(WriteTo, &sink, width, height));
    // Metadata is UTF-8; the program's texts are Windows-1252.
    cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_TITLE,
                                   platform::Cp1252ToUtf8(Caption("TITLE")).c_str());
    cairo_pdf_surface_set_metadata(
        surface.get(), CAIRO_PDF_METADATA_CREATOR,
        platform::Cp1252ToUtf8(record.Tool.Name + " " + record.Tool.Version).c_str());
    std::unique_ptr<cairo_t, ContextDeleter> cr(cairo_create(surface.get()));
    int pages = 0;
    if (cairo_status(cr.get()) == CAIRO_STATUS_SUCCESS) {
        certificate::TCanvas canvas(cr.get(), width, height, certificate::FooterOf(record),
                                    totalPages);
        canvas.SetLogo(logo);
        certificate::DrawRecord(canvas, record);
        pages = canvas.Pages();
    }
    cairo_status_t status = cairo_status(cr.get());
    cr.reset();
    cairo_surface_finish(surface.get());
    if (status == CAIRO_STATUS_SUCCESS)
        status = cairo_surface_status(surface.get());
    if (status != CAIRO_STATUS_SUCCESS) {
        why = cairo_status_to_string(status);
        return 0;
    }
    return pages;
}

bool Write(const TRecord& record, const std::string& path, TPaper paper, std::string& why,
           bool replace, const std::string& logo) {
    if (path.empty() || std::filesystem::path(path).filename().empty()) {
        why = "no file name was given for the certificate";
        return false;
    }
    std::unique_ptr<cairo_surface_t, SurfaceDeleter> picture;
    if (!logo.empty()) {
        picture = LoadLogo(logo, why);
        if (!picture) {
            why = "cannot use the logo " + logo + ": " + why;
            return false;
        }
    }
    TSink counter;
    const int pages = Render(record, paper, picture.get(), counter, 0, why);
    if (pages == 0)
        return false;
    std::string bytes;
    TSink sink{&bytes};
    if (Render(record, paper, picture.get(), sink, pages, why) == 0) {
        why = "cannot write the certificate " + path + ": " + why;
        return false;
    }
    if (!ReplaceFile(path, bytes, why, replace)) {
        why = "cannot write the certificate " + path + ": " + why;
        return false;
    }
    return true;
}

} // namespace

bool CertificatesAvailable() {
    return true;
}

bool LogoReadable(const std::string& path, std::string& why) {
    return LoadLogo(path, why) != nullptr;
}

bool WriteCertificate(const TRecord& record, const std::string& path, TPaper paper,
                      std::string& why, bool replace, const std::string& logo) {
    try {
        return Write(record, path, paper, why, replace, logo);
    } catch (const std::exception& error) {
        why = std::string("the certificate could not be drawn: ") + error.what();
    } catch (...) {
        why = "the certificate could not be drawn";
    }
    return false;
}

} // namespace purgelet::record
