// The certificate drawn with cairo's PDF surface and Pango. It is drawn twice: once to count
// the pages (each page says "Page n of N", so a missing sheet shows), then into a new file
// beside the target that replaces it only when the whole document was written.
#include "record/certificate_cairo.h"
#include "record/certificate.h"

#include "platform/handle.h"
#include "platform/system.h"

#include <cairo-pdf.h>
#include <filesystem>

namespace purgelet::record {

namespace {

using certificate::Caption;

std::string SystemErrorText() {
    return platform::k32().SysErrorMessage(platform::k32().GetLastError());
}

struct SurfaceDeleter {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct ContextDeleter {
    void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};

// Where cairo's output goes: a file, through the system layer like every file of the program,
// or nowhere for the pass that counts the pages.
struct TSink {
    HANDLE File = INVALID_HANDLE_VALUE;
    std::string Error; // the system's words for the first write that failed
};

cairo_status_t WriteTo(void* closure, const unsigned char* data, unsigned int length) {
    auto* sink = static_cast<TSink*>(closure);
    if (sink->File == INVALID_HANDLE_VALUE || length == 0)
        return CAIRO_STATUS_SUCCESS;
    DWORD written = 0;
    if (!platform::k32().WriteFile(sink->File, data, length, &written, nullptr) ||
        written != length) {
        sink->Error = SystemErrorText();
        return CAIRO_STATUS_WRITE_ERROR;
    }
    return CAIRO_STATUS_SUCCESS;
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
        why = !sink.Error.empty() ? sink.Error : cairo_status_to_string(status);
        return 0;
    }
    return pages;
}

// The new file being written beside the target: removed unless it was renamed over it.
class TTemporary {
public:
    ~TTemporary() {
        file_.Reset();
        if (!name_.empty())
            platform::k32().DeleteFileA(name_.c_str());
    }
    // Creates a file that did not exist (never one of the user's) next to target.
    bool Create(const std::string& target, std::string& why) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name =
                target + (attempt == 0 ? "" : "." + std::to_string(attempt)) + ".tmp";
            file_ = platform::UniqueHandle(platform::k32().CreateFileA(
                name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
            if (file_) {
                name_ = std::move(name);
                return true;
            }
            const DWORD error = platform::k32().GetLastError();
            if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
                why = "cannot create " + name + ": " + SystemErrorText();
                return false;
            }
        }
        why = "cannot create a temporary file beside " + target;
        return false;
    }
    HANDLE File() const { return file_.Get(); }
    // The bytes reach the medium before the file takes the target's name.
    bool Close(std::string& why) {
        if (!platform::k32().FlushFileBuffers(file_.Get()) || !file_.Close()) {
            why = "cannot write " + name_ + ": " + SystemErrorText();
            return false;
        }
        return true;
    }
    bool RenameTo(const std::string& target, std::string& why) {
        if (!platform::k32().MoveFileExA(name_.c_str(), target.c_str(),
                                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            why = "cannot replace " + target + ": " + SystemErrorText();
            return false;
        }
        name_.clear();
        return true;
    }

private:
    platform::UniqueHandle file_;
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
