// The certificate drawn with cairo's PDF surface and Pango. It is drawn twice: once to count
// the pages (each page says "Page n of N", so a missing sheet shows), then into a new file
// beside the target that replaces it only when the whole document was written.
#include "record/certificate_cairo.h"
#include "record/certificate.h"

#include <cairo-pdf.h>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace purgelet::record {

namespace {

using certificate::Caption;

struct SurfaceDeleter {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct ContextDeleter {
    void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};

// Where cairo's output goes: a file, or nowhere for the pass that counts the pages.
struct TSink {
    std::FILE* File = nullptr;
    int Error = 0; // the errno of the first write that failed
};

cairo_status_t WriteTo(void* closure, const unsigned char* data, unsigned int length) {
    auto* sink = static_cast<TSink*>(closure);
    if (!sink->File || length == 0)
        return CAIRO_STATUS_SUCCESS;
    errno = 0;
    if (std::fwrite(data, 1, length, sink->File) != length) {
        sink->Error = errno != 0 ? errno : EIO;
        return CAIRO_STATUS_WRITE_ERROR;
    }
    return CAIRO_STATUS_SUCCESS;
}

std::string ErrnoText(int error) {
    return std::generic_category().message(error);
}

// Draws the whole certificate into sink: the number of pages, or 0 and why.
int Render(const TRecord& record, TPaper paper, TSink& sink, int totalPages, std::string& why) {
    const double width = paper == TPaper::Letter ? 612 : 595;
    const double height = paper == TPaper::Letter ? 792 : 842;
    std::unique_ptr<cairo_surface_t, SurfaceDeleter> surface(
        cairo_pdf_surface_create_for_stream(WriteTo, &sink, width, height));
    cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_TITLE,
                                   Caption("TITLE").c_str());
    cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_CREATOR,
                                   (record.Tool.Name + " " + record.Tool.Version).c_str());
    std::unique_ptr<cairo_t, ContextDeleter> cr(cairo_create(surface.get()));
    int pages = 0;
    if (cairo_status(cr.get()) == CAIRO_STATUS_SUCCESS) {
        certificate::TCanvas canvas(cr.get(), width, height, certificate::FooterOf(record),
                                    totalPages);
        certificate::DrawRecord(canvas, record);
        pages = canvas.Pages();
    }
    cairo_status_t status = cairo_status(cr.get());
    cr.reset();
    cairo_surface_finish(surface.get());
    if (status == CAIRO_STATUS_SUCCESS)
        status = cairo_surface_status(surface.get());
    if (status != CAIRO_STATUS_SUCCESS) {
        why = sink.Error != 0 ? ErrnoText(sink.Error) : cairo_status_to_string(status);
        return 0;
    }
    return pages;
}

// The new file being written beside the target: removed unless it was renamed over it.
class TTemporary {
public:
    ~TTemporary() {
        if (file_)
            std::fclose(file_);
        if (!name_.empty()) {
            std::error_code ignored;
            std::filesystem::remove(name_, ignored);
        }
    }
    // Creates a file that did not exist (never one of the user's) next to target.
    bool Create(const std::string& target, std::string& why) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name =
                target + (attempt == 0 ? "" : "." + std::to_string(attempt)) + ".tmp";
            errno = 0;
            file_ = std::fopen(name.c_str(), "wbx");
            if (file_) {
                name_ = std::move(name);
                return true;
            }
            if (errno != EEXIST) {
                why = "cannot create " + name + ": " + ErrnoText(errno);
                return false;
            }
        }
        why = "cannot create a temporary file beside " + target;
        return false;
    }
    std::FILE* File() const { return file_; }
    bool Close(std::string& why) {
        errno = 0;
        const int result = std::fclose(file_);
        file_ = nullptr;
        if (result != 0) {
            why = "cannot write " + name_ + ": " + ErrnoText(errno != 0 ? errno : EIO);
            return false;
        }
        return true;
    }
    bool RenameTo(const std::string& target, std::string& why) {
        std::error_code error;
        std::filesystem::rename(name_, target, error);
        if (error) {
            why = "cannot replace " + target + ": " + error.message();
            return false;
        }
        name_.clear();
        return true;
    }

private:
    std::FILE* file_ = nullptr;
    std::string name_;
};

bool Write(const TRecord& record, const std::string& path, TPaper paper, std::string& why) {
    if (path.empty() || std::filesystem::path(path).filename().empty()) {
        why = "no file name was given for the certificate";
        return false;
    }
    TSink counter;
    const int pages = Render(record, paper, counter, 0, why);
    if (pages == 0)
        return false;
    TTemporary temporary;
    if (!temporary.Create(path, why))
        return false;
    TSink sink{temporary.File()};
    if (Render(record, paper, sink, pages, why) == 0) {
        why = "cannot write the certificate " + path + ": " + why;
        return false;
    }
    return temporary.Close(why) && temporary.RenameTo(path, why);
}

} // namespace

bool CertificatesAvailable() {
    return true;
}

bool WriteCertificate(const TRecord& record, const std::string& path, TPaper paper,
                      std::string& why) {
    try {
        return Write(record, path, paper, why);
    } catch (const std::exception& error) {
        why = std::string("the certificate could not be drawn: ") + error.what();
    } catch (...) {
        why = "the certificate could not be drawn";
    }
    return false;
}

} // namespace purgelet::record
