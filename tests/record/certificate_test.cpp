// The certificate of erasure as a reader gets it: each PDF is read back with poppler's tools
// (its text, page count and page size) and its pages are kept as pictures in the build
// folder's certificates/ for people to look at.
#include "lang/language.h"
#include "record/certificate.h"
#include "record/sample_records.h"

#include <cairo.h>

#include "platform/system.h"
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace purgelet::record {
namespace {

namespace fs = std::filesystem;

// The standard output of a command, and whether it succeeded.
bool Shell(const std::string& command, std::string& output) {
    output.clear();
    FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe)
        return false;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, n);
    return pclose(pipe) == 0;
}

// The text with every run of blanks and line ends made one space: wrapped lines read on.
std::string Flat(const std::string& text) {
    return std::regex_replace(text, std::regex("\\s+"), " ");
}

std::string Quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

// The text of each page, in order (pdftotext ends every page with a form feed).
std::vector<std::string> PageTexts(const fs::path& pdf) {
    std::string text;
    EXPECT_TRUE(Shell(std::string(PDFTOTEXT) + " " + Quoted(pdf) + " -", text)) << pdf;
    std::vector<std::string> pages;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\f', start)) != std::string::npos; start = end + 1)
        pages.push_back(text.substr(start, end - start));
    return pages;
}

std::string Info(const fs::path& pdf, const std::string& field) {
    std::string info;
    EXPECT_TRUE(Shell(std::string(PDFINFO) + " " + Quoted(pdf), info)) << pdf;
    std::smatch match;
    if (std::regex_search(info, match, std::regex(field + ":\\s*([^\\n]*)")))
        return match[1];
    return "";
}

// How many pixels of a page (rendered at 100 dpi) are near the colour r, g, b.
int PixelsOfColour(const fs::path& pdf, int page, int r, int g, int b) {
    const fs::path prefix = pdf.parent_path() / (pdf.stem().string() + "-colours");
    std::string ignored;
    EXPECT_TRUE(Shell(std::string(PDFTOPPM) + " -r 100 -singlefile -f " + std::to_string(page) +
                          " -l " + std::to_string(page) + " " + Quoted(pdf) + " " + Quoted(prefix),
                      ignored));
    std::ifstream in(prefix.string() + ".ppm", std::ios::binary);
    std::string magic;
    int width = 0;
    int height = 0;
    int maximum = 0;
    in >> magic >> width >> height >> maximum;
    in.get();
    EXPECT_EQ(magic, "P6");
    std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * height * 3);
    in.read(reinterpret_cast<char*>(pixels.data()), static_cast<std::streamsize>(pixels.size()));
    int count = 0;
    for (std::size_t i = 0; i + 2 < pixels.size(); i += 3)
        if (std::abs(pixels[i] - r) < 30 && std::abs(pixels[i + 1] - g) < 30 &&
            std::abs(pixels[i + 2] - b) < 30)
            ++count;
    return count;
}

std::string Joined(const std::vector<std::string>& pages, std::size_t from = 0,
                   std::size_t to = std::string::npos) {
    std::string all;
    for (std::size_t i = from; i < pages.size() && i < to; ++i)
        all += pages[i];
    return all;
}

class Certificate : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(folder_); }
    // Writes the certificate of record as certificates/<name>.pdf, which must succeed.
    fs::path Write(const TRecord& record, const std::string& name, TPaper paper = TPaper::A4) {
        const fs::path pdf = folder_ / (name + ".pdf");
        std::string why;
        EXPECT_TRUE(WriteCertificate(record, pdf.string(), paper, why)) << why;
        return pdf;
    }
    const fs::path folder_ = PURGELET_CERTIFICATES;
};

TEST_F(Certificate, ThreeDrivesWithOneFailedNameEveryDriveItsOutcomeAndTheDigest) {
    TRecord record = ThreeDrives();
    // The failed drive was read back by content: the blocks that differed are named.
    record.Drives[1].VerifiedByContent = true;
    record.Drives[1].DifferingBlocks = {1234601, 1234600, 99, 1234602};
    record.Drives[1].DifferingBlockCount = 5;
    const fs::path pdf = Write(record, "three-drives");
    const int pages = std::stoi(Info(pdf, "Pages"));
    EXPECT_GE(pages, 4);
    const std::vector<std::string> text = PageTexts(pdf);
    ASSERT_EQ(text.size(), static_cast<std::size_t>(pages));

    // The summary names the computer, the operator and every drive with its outcome.
    const std::string summary = Flat(text[0]);
    EXPECT_NE(summary.find("Certificate of Erasure"), std::string::npos) << summary;
    for (const char* expected :
         {"OptiPlex 7050", "5CG1234XYZ", "lab-pc-07", "Ada Example", "WD-WCC2EWN71234",
          "S3Z9NB0K612345X", "4C530001230915117534", "500.1 GB", "250.1 GB", "15.6 GB", "1:30:21",
          "completed", "failed", "last pass"})
        EXPECT_NE(summary.find(expected), std::string::npos) << expected << "\n" << summary;

    // The outcomes are in colour as well as in words: red for the failure, green otherwise.
    EXPECT_GT(PixelsOfColour(pdf, 1, 204, 20, 20), 20);
    EXPECT_GT(PixelsOfColour(pdf, 1, 23, 140, 46), 40);
    EXPECT_EQ(PixelsOfColour(pdf, 2, 204, 20, 20), 0); // the first drive completed

    // Every page carries the digest, the signature lines and its number among all pages.
    for (int page = 0; page < pages; ++page) {
        const std::string& t = text[static_cast<std::size_t>(page)];
        EXPECT_NE(t.find("Record SHA-256: " + kDigest), std::string::npos) << page;
        EXPECT_NE(t.find("Witness"), std::string::npos) << page;
        EXPECT_NE(t.find("Signature"), std::string::npos) << page;
        EXPECT_NE(t.find("Page " + std::to_string(page + 1) + " of " + std::to_string(pages)),
                  std::string::npos)
            << page;
    }

    // The failed drive's page: its identity, outcome, reason and each question answered.
    const std::string failed = Flat(text[2]);
    for (const char* expected :
         {"Drive 2 of 3", "S3Z9NB0K612345X", "failed",
          "Writing block 1234600 failed: Input/output error", "Block 1234600 could not be written.",
          "Retry", "Ignore", "Abort", "2026-03-02T10:52:44+01:00", "Errors (3)", "Clear",
          "5 block(s) differed from what was written: 99, 1234600-1234602, ..."})
        EXPECT_NE(failed.find(expected), std::string::npos) << expected << "\n" << failed;
    // The stick's page shows where its partition lies; the others have no partition.
    EXPECT_NE(text[3].find("1048576 bytes"), std::string::npos) << text[3];
    EXPECT_EQ(text[1].find("Partition offset"), std::string::npos) << text[1];
    EXPECT_NE(text[1].find("No error was met."), std::string::npos) << text[1];

    // The pages as pictures, kept for people to look at.
    const fs::path pictures = folder_ / "three-drives";
    std::string ignored;
    ASSERT_TRUE(Shell(
        std::string(PDFTOPPM) + " -png -r 100 " + Quoted(pdf) + " " + Quoted(pictures), ignored));
    for (int page = 1; page <= pages; ++page) {
        const fs::path png = folder_ / ("three-drives-" + std::to_string(page) + ".png");
        ASSERT_TRUE(fs::exists(png)) << png;
        std::ifstream in(png, std::ios::binary);
        char magic[4] = {};
        in.read(magic, 4);
        EXPECT_EQ(std::string(magic + 1, 3), "PNG") << png;
        EXPECT_GT(fs::file_size(png), 20000u) << png; // drawn on, not a blank page
    }
}

// What an auditor reads besides the passes: the drive's own erase and how it ended, a disc's
// blank under no category, the run's options, and names outside ASCII as their characters.
TEST_F(Certificate, TheDrivesOwnEraseADiscsBlankAndTheOptionsAreShown) {
    TRecord record = Record();
    record.Operator.Person = "Zo\xEB M\xFCller"; // the program's Windows-1252
    record.Run.Options = {{"method", "NVMe sanitize, block erase"}, {"quickEraseDiscs", "yes"}};
    TDrive nvme = Drive("Samsung SSD 970 EVO", "S466NX0K123456", 500107862016, "failed");
    nvme.Passes.clear();
    nvme.NistCategory = "none";
    nvme.Firmware =
        TFirmwareErase{"NVMe SANITIZE, block erase (84h)", "failed", "Sanitize failed (status 1h)",
                       TFirmwareErase::TCheck{66, 60, 5, 1}};
    record.Drives.push_back(nvme);
    TDrive disc = Drive("HL-DT-ST DVDRAM GH24NSD1", "K1234", 0, "completed");
    disc.Passes.clear();
    disc.BlockCount = disc.BlockSize = 0;
    disc.Method = "Quick blank by the drive: the disc's table of contents, not its data";
    disc.NistCategory = "none";
    disc.Blank = "quick";
    record.Drives.push_back(disc);
    const std::vector<std::string> text = PageTexts(Write(record, "firmware-and-disc"));
    ASSERT_GE(text.size(), 3u);
    const std::string summary = Flat(text[0]);
    for (const char* expected : {"Zo\xC3\xAB M\xC3\xBCller", "Options of the run",
                                 "quickEraseDiscs", "NVMe sanitize, block erase"})
        EXPECT_NE(summary.find(expected), std::string::npos) << expected << "\n" << summary;
    const std::string firmware = Flat(text[1]);
    for (const char* expected :
         {"NVMe SANITIZE, block erase (84h)", "Sanitize failed (status 1h)",
          "66 sampled blocks read: 60 changed, 5 held no data, 1 kept their data"})
        EXPECT_NE(firmware.find(expected), std::string::npos) << expected << "\n" << firmware;
    EXPECT_FALSE(std::regex_search(firmware, std::regex("\\bPurge\\b"))) << firmware;
    const std::string blanked = Flat(text[2]);
    EXPECT_NE(blanked.find("gives only Destroy for optical media"), std::string::npos) << blanked;
    EXPECT_EQ(blanked.find("Clear"), std::string::npos) << blanked;
}

// NIST SP 800-88 Appendix G side by side: the organisation, the operator's title, location and
// phone, the validator on the second signature line, the media facts, the attestation above
// the signatures, and the organisation's logo at the top of every page.
TEST_F(Certificate, TheAuditorsFieldsTheAttestationAndTheLogoAreOnThePages) {
    const TRecord record = AuditedThreeDrives();
    const fs::path logo = folder_ / "logo.png";
    {
        cairo_surface_t* picture = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 400, 100);
        cairo_t* cr = cairo_create(picture);
        cairo_set_source_rgb(cr, 0.0, 0.2, 0.9); // a blue no other drawing uses
        cairo_paint(cr);
        cairo_destroy(cr);
        ASSERT_EQ(cairo_surface_write_to_png(picture, logo.string().c_str()), CAIRO_STATUS_SUCCESS);
        cairo_surface_destroy(picture);
    }
    std::string why;
    ASSERT_TRUE(LogoReadable(logo.string(), why)) << why;
    const fs::path pdf = folder_ / "appendix-g.pdf";
    ASSERT_TRUE(WriteCertificate(record, pdf.string(), TPaper::A4, why, true, logo.string()))
        << why;
    const std::vector<std::string> text = PageTexts(pdf);
    ASSERT_GE(text.size(), 4u);
    const std::string summary = Flat(text[0]);
    for (const char* expected : {"Example Recycling Ltd", "1 Mill Lane, Leeds", "Technician",
                                 "Bench 3", "+44 113 496 0000", "Ann Checker", "moderate",
                                 "recycle", "Backup made", "Destination after sanitization"})
        EXPECT_NE(summary.find(expected), std::string::npos) << expected << "\n" << summary;
    for (std::size_t page = 0; page < text.size(); ++page) {
        const std::string flat = Flat(text[page]);
        EXPECT_NE(flat.find("We attest that the information provided on this certificate is "
                            "accurate"),
                  std::string::npos)
            << page;
        EXPECT_NE(flat.find("Ada Example, Technician"), std::string::npos) << page;
        EXPECT_NE(flat.find("Ann Checker, Auditor"), std::string::npos) << page;
        EXPECT_GT(PixelsOfColour(pdf, static_cast<int>(page) + 1, 0, 51, 230), 500) << page;
    }
    // A file that is no picture is refused with its reason, before anything is drawn.
    std::ofstream(folder_ / "not.png") << "text";
    EXPECT_FALSE(LogoReadable((folder_ / "not.png").string(), why));
    EXPECT_EQ(why, "not a PNG picture");
}

TEST_F(Certificate, LetterAndA4PagesHaveTheirSizes) {
    EXPECT_NE(Info(Write(ThreeDrives(), "letter", TPaper::Letter), "Page size").find("612 x 792"),
              std::string::npos);
    EXPECT_NE(Info(Write(ThreeDrives(), "a4", TPaper::A4), "Page size").find("595 x 842"),
              std::string::npos);
}

TEST_F(Certificate, ManyDrivesAndManyErrorsContinueOnFurtherPages) {
    TRecord record = Record();
    for (int i = 0; i < 40; ++i) {
        char serial[32];
        std::snprintf(serial, sizeof serial, "ZA%02dSERIAL%04d", i, 7000 + i);
        record.Drives.push_back(
            Drive("Seagate ST1000DM010-2EP102", serial, 1000204886016, "completed"));
    }
    TDrive& faulty = record.Drives[17];
    faulty.Outcome = "aborted";
    faulty.OutcomeText = "The user aborted the wipe.";
    for (int i = 0; i < 200; ++i)
        faulty.Errors.push_back({1000 + i * 8, "Write fault number " + std::to_string(i + 1),
                                 "Ignore", "2026-03-02T10:00:00+01:00"});
    const fs::path pdf = Write(record, "forty-drives", TPaper::Letter);
    const std::vector<std::string> text = PageTexts(pdf);
    const std::size_t pages = static_cast<std::size_t>(std::stoi(Info(pdf, "Pages")));
    ASSERT_EQ(text.size(), pages);

    // The drive table runs over the first page; the drive pages follow it.
    std::size_t firstDrivePage = 0;
    while (firstDrivePage < pages &&
           text[firstDrivePage].find("Drive 1 of 40") == std::string::npos)
        ++firstDrivePage;
    ASSERT_GE(firstDrivePage, 2u) << "the table of 40 drives fits on one page?";
    EXPECT_NE(text[1].find("Certificate of Erasure (continued)"), std::string::npos) << text[1];
    const std::string summary = Joined(text, 0, firstDrivePage);
    for (const TDrive& drive : record.Drives)
        EXPECT_NE(summary.find(drive.Identity.Serial), std::string::npos) << drive.Identity.Serial;
    EXPECT_NE(summary.find("aborted"), std::string::npos);

    // Every error of drive 18 is on its pages, which continue under its heading.
    std::size_t faultyPage = firstDrivePage;
    while (faultyPage < pages && text[faultyPage].find("Drive 18 of 40") == std::string::npos)
        ++faultyPage;
    ASSERT_LT(faultyPage + 1, pages);
    EXPECT_NE(text[faultyPage + 1].find("Drive 18 of 40: Seagate ST1000DM010-2EP102 (continued)"),
              std::string::npos)
        << text[faultyPage + 1];
    std::size_t nextDrivePage = faultyPage + 1;
    while (nextDrivePage < pages && text[nextDrivePage].find("Drive 19 of 40") == std::string::npos)
        ++nextDrivePage;
    const std::string errors = Joined(text, faultyPage, nextDrivePage);
    for (int i = 1; i <= 200; ++i)
        EXPECT_NE(errors.find("Write fault number " + std::to_string(i) + "\n"), std::string::npos)
            << i;
    EXPECT_EQ(pages, firstDrivePage + 40 + (nextDrivePage - faultyPage - 1));
    EXPECT_NE(text.back().find("Page " + std::to_string(pages) + " of " + std::to_string(pages)),
              std::string::npos);
}

TEST_F(Certificate, AnUnsealedRecordSaysWhyAndNoDriveIsStillACertificate) {
    TRecord record = Record();
    record.Sha256.clear();
    record.SealError = "the system offers no SHA-256";
    const std::vector<std::string> text = PageTexts(Write(record, "unsealed"));
    ASSERT_EQ(text.size(), 1u);
    EXPECT_NE(text[0].find("Record SHA-256: not sealed: the system offers no SHA-256"),
              std::string::npos)
        << text[0];
    EXPECT_NE(text[0].find("No drive was part of this run."), std::string::npos);
}

// Long and broken texts from firmware stay inside their cells: wrapped, then ellipsized.
TEST_F(Certificate, LongAndInvalidTextsStayInsideThePage) {
    TRecord record = ThreeDrives();
    record.Drives[0].Identity.Model = std::string(300, 'M');
    record.Drives[0].Identity.Serial = "\xff\xfe"
                                       "BROKEN\x01SERIAL";
    record.Drives[1].Method = "A method with a very long name " + std::string(40, 'x') + " end";
    record.Drives[1].OutcomeText = std::string(5000, 'w');
    record.Computer.Product = std::string(500, 'P');
    const fs::path pdf = Write(record, "long-texts");
    std::string boxes;
    ASSERT_TRUE(Shell(std::string(PDFTOTEXT) + " -bbox " + Quoted(pdf) + " -", boxes));
    const std::regex word(R"re(<word xMin="([0-9.]+)" yMin="([0-9.]+)" xMax="([0-9.]+)")re");
    int words = 0;
    for (auto it = std::sregex_iterator(boxes.begin(), boxes.end(), word);
         it != std::sregex_iterator(); ++it, ++words) {
        EXPECT_GE(std::stod((*it)[1]), 41.0) << it->str();
        EXPECT_LE(std::stod((*it)[3]), 595.0 - 41.0) << it->str();
    }
    EXPECT_GT(words, 200);
    std::string text;
    ASSERT_TRUE(Shell(std::string(PDFTOTEXT) + " " + Quoted(pdf) + " -", text));
    EXPECT_NE(text.find("BROKEN SERIAL"), std::string::npos);
}

TEST_F(Certificate, TheLanguageTableWordsTheCaptions) {
    LanguageTable.Clear();
    LanguageTable.Sorted = false;
    // A language file's texts are Windows-1252, as every text of the program.
    LanguageTable.Entries = {{"CERTIFICATE.TITLE", "L\xF6schzertifikat"},
                             {"CERTIFICATE.OUTCOME_FAILED", "fehlgeschlagen"},
                             {"CERTIFICATE.PAGE_OF", "Seite %d"}, // drops a placeholder
                             {"CERTIFICATE.DRIVE_HEADING", "Laufwerk %s %s %s %s"}}; // adds one
    const fs::path pdf = Write(ThreeDrives(), "translated");
    LanguageTable.Clear();
    LanguageTable.Sorted = true;
    const std::vector<std::string> text = PageTexts(pdf);
    ASSERT_GE(text.size(), 4u);
    EXPECT_NE(text[0].find("Löschzertifikat"), std::string::npos) << text[0];
    EXPECT_NE(text[0].find("fehlgeschlagen"), std::string::npos);
    EXPECT_NE(text[0].find("Seite 1"), std::string::npos);
    EXPECT_NE(text[2].find("Laufwerk 2 3 Samsung SSD 860 EVO 250GB (/dev/sdc)"), std::string::npos)
        << text[2];
}

TEST_F(Certificate, AFolderThatDoesNotExistGivesFalseWithAReasonAndNoFile) {
    const fs::path missing = folder_ / "no-such-folder";
    fs::remove_all(missing);
    std::string why;
    EXPECT_FALSE(WriteCertificate(ThreeDrives(), (missing / "c.pdf").string(), TPaper::A4, why));
    EXPECT_NE(why.find("no-such-folder"), std::string::npos) << why;
    // The system's own words for the missing folder follow the file's name.
    EXPECT_NE(why.find(platform::k32().SysErrorMessage(ERROR_FILE_NOT_FOUND)), std::string::npos)
        << why;
    EXPECT_FALSE(fs::exists(missing));

    why.clear();
    EXPECT_FALSE(WriteCertificate(ThreeDrives(), "", TPaper::A4, why));
    EXPECT_FALSE(why.empty());
}

// The certificate replaces its target only whole, and never touches a file it did not create.
TEST_F(Certificate, TheTargetIsReplacedWholeAndOnlyItsOwnTemporaryFileIsRemoved) {
    const fs::path folder = folder_ / "replace";
    fs::remove_all(folder);
    fs::create_directories(folder);
    const fs::path target = folder / "c.pdf";
    std::ofstream(target) << "an older certificate";
    std::ofstream(folder / "c.pdf.partial") << "the user's own file";
    std::string why;
    ASSERT_TRUE(WriteCertificate(ThreeDrives(), target.string(), TPaper::A4, why)) << why;
    std::ifstream in(target, std::ios::binary);
    std::string head(5, '\0');
    in.read(head.data(), 5);
    EXPECT_EQ(head, "%PDF-");
    std::stringstream own;
    own << std::ifstream(folder / "c.pdf.partial").rdbuf();
    EXPECT_EQ(own.str(), "the user's own file");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);

    // A target that cannot be replaced (a folder of that name): false, the folder untouched
    // and no temporary file left behind.
    const fs::path blocked = folder / "blocked.pdf";
    fs::create_directory(blocked);
    EXPECT_FALSE(WriteCertificate(ThreeDrives(), blocked.string(), TPaper::A4, why));
    EXPECT_NE(why.find("blocked.pdf"), std::string::npos) << why;
    EXPECT_TRUE(fs::is_directory(blocked));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 3);
}

} // namespace
} // namespace purgelet::record
