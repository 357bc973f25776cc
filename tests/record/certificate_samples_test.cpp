// The same certificates drawn by every build, for reading back on the host with poppler's
// tools (read_certificates.py): the Windows build's are drawn under Wine, where those tools
// cannot be started. What can be seen without them is checked here.
#include "record/certificate.h"
#include "record/sample_records.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <regex>
#include <string>

namespace purgelet::record {
namespace {

namespace fs = std::filesystem;

std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The page objects of a PDF ("/Type /Page", not "/Pages"), uncompressed in both back-ends'
// files.
int PageObjects(const std::string& pdf) {
    const std::regex page("/Type\\s*/Page[^s]");
    return static_cast<int>(
        std::distance(std::sregex_iterator(pdf.begin(), pdf.end(), page), std::sregex_iterator()));
}

class CertificateSamples : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(folder_); }
    std::string Write(const TRecord& record, const std::string& name, TPaper paper,
                      const std::string& logo = "") {
        const fs::path pdf = folder_ / (name + ".pdf");
        std::string why;
        EXPECT_TRUE(WriteCertificate(record, pdf.string(), paper, why, true, logo)) << why;
        const std::string bytes = Contents(pdf);
        EXPECT_EQ(bytes.compare(0, 5, "%PDF-"), 0) << name;
        EXPECT_NE(bytes.find("%%EOF", bytes.size() > 8 ? bytes.size() - 8 : 0), std::string::npos)
            << name;
        return bytes;
    }
    // The host's read-back gives a folder of its own.
    const fs::path folder_ = std::getenv("PURGELET_CERTIFICATE_SAMPLES") != nullptr
                                 ? std::getenv("PURGELET_CERTIFICATE_SAMPLES")
                                 : PURGELET_CERTIFICATE_SAMPLES;
};

// Read back by read_certificates.py: what it expects on each page is named there.
TEST_F(CertificateSamples, AreDrawnWithTheAuditorsFieldsTheLogoAndTextsOutsideAscii) {
    TRecord record = AuditedThreeDrives();
    record.Operator.Person = "Zo\xeb \xdcnal";
    record.Drives[2].Identity.Model = "DONN\xc9"
                                      "ES Cruzer \x80 Blade";
    const std::string logo = std::string(PURGELET_TEST_DATA) + "/record/logo.png";
    EXPECT_EQ(PageObjects(Write(record, "three-drives", TPaper::A4, logo)), 4);
    EXPECT_EQ(PageObjects(Write(ThreeDrives(), "letter", TPaper::Letter)), 4);

    TRecord many = Record();
    for (int i = 0; i < 60; ++i)
        many.Drives.push_back(Drive("Disk " + std::to_string(i), "SN" + std::to_string(i),
                                    1000204886016, "completed"));
    EXPECT_GE(PageObjects(Write(many, "sixty-drives", TPaper::A4)), 62);
}

// Any PNG picture is a logo (here 16 bits a channel with half-transparent pixels); anything
// else is refused with its reason, nothing written, and the process goes on: a damaged
// picture, or one whose header claims ten billion pixels.
TEST_F(CertificateSamples, ALogoIsAnyPngPictureAndAnythingElseIsRefusedWithNothingWritten) {
    std::string why;
    const std::string data = PURGELET_TEST_DATA;
    EXPECT_TRUE(LogoReadable(data + "/record/logo-rgba16.png", why)) << why;
    EXPECT_TRUE(WriteCertificate(ThreeDrives(), (folder_ / "rgba16.pdf").string(), TPaper::A4, why,
                                 true, data + "/record/logo-rgba16.png"))
        << why;
    EXPECT_FALSE(LogoReadable(data + "/record/logo-huge.png", why));

    const fs::path text = folder_ / "not-a-picture.png";
    std::ofstream(text) << "text";
    EXPECT_FALSE(LogoReadable(text.string(), why));
    EXPECT_EQ(why, "not a PNG picture");
    // A PNG signature over a damaged picture: the drawing library's refusal, said as such.
    std::string damaged = Contents(std::string(PURGELET_TEST_DATA) + "/record/logo.png");
    damaged.resize(40);
    std::ofstream(folder_ / "damaged.png", std::ios::binary) << damaged;
    EXPECT_FALSE(LogoReadable((folder_ / "damaged.png").string(), why));
    EXPECT_NE(why.find("PNG"), std::string::npos) << why;
    const fs::path pdf = folder_ / "refused.pdf";
    fs::remove(pdf);
    EXPECT_FALSE(WriteCertificate(ThreeDrives(), pdf.string(), TPaper::A4, why, true,
                                  (folder_ / "damaged.png").string()));
    EXPECT_FALSE(fs::exists(pdf));
}

} // namespace
} // namespace purgelet::record
