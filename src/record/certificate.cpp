// The certificate written: drawn twice on the build's surface, once to count the pages (each
// page says "Page n of N", so a missing sheet shows), then into memory, and the whole document
// put in place in one step as a record is.
#include "record/certificate.h"

#include "record/certificate_canvas.h"
#include "record/record_file.h"

#include <filesystem>

namespace purgelet::record {

namespace {

using certificate::Caption;

constexpr const char* kPngSignature = "\x89PNG\r\n\x1a\n";

// The logo file's bytes, when they are a PNG file's; false and why otherwise.
bool ReadLogo(const std::string& path, std::string& bytes, std::string& why) {
    if (!ReadFileWhole(path, bytes, why))
        return false;
    // A drawing library's own words for a file of another kind are seldom plain.
    if (bytes.compare(0, 8, kPngSignature) != 0) {
        why = "not a PNG picture";
        return false;
    }
    return true;
}

// Draws the whole certificate: the document's bytes and its number of pages, or 0 and why.
int Render(const TRecord& record, TPaper paper, const std::string& logo, int totalPages,
           std::string& bytes, std::string& why) {
    const double width = paper == TPaper::Letter ? 612 : 595;
    const double height = paper == TPaper::Letter ? 792 : 842;
    std::unique_ptr<certificate::TSurface> surface = certificate::NewSurface(
        width, height, Caption("TITLE"), record.Tool.Name + " " + record.Tool.Version);
    if (!logo.empty() && !surface->SetPicture(logo, why)) {
        why = "cannot use the logo: " + why;
        return 0;
    }
    certificate::TCanvas canvas(*surface, width, height, certificate::FooterOf(record), totalPages);
    certificate::DrawRecord(canvas, record);
    if (!surface->Finish(bytes, why))
        return 0;
    return canvas.Pages();
}

bool Write(const TRecord& record, const std::string& path, TPaper paper, std::string& why,
           bool replace, const std::string& logoPath) {
    if (path.empty() || std::filesystem::path(path).filename().empty()) {
        why = "no file name was given for the certificate";
        return false;
    }
    std::string logo;
    if (!logoPath.empty() && !ReadLogo(logoPath, logo, why)) {
        why = "cannot use the logo " + logoPath + ": " + why;
        return false;
    }
    std::string bytes;
    const int pages = Render(record, paper, logo, 0, bytes, why);
    if (pages == 0 || Render(record, paper, logo, pages, bytes, why) == 0) {
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

bool LogoReadable(const std::string& path, std::string& why) {
    std::string bytes;
    if (!ReadLogo(path, bytes, why))
        return false;
    return certificate::NewSurface(100, 100, "", "")->SetPicture(bytes, why);
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
