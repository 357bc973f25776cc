// purgelet-tool lang: the source text format, pack, dump and get.
#include "purgelet-tool/lang_command.h"
#include "purgelet-tool/lang_source.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace purgelet::tool {
namespace {

namespace fs = std::filesystem;

TEST(LangSource, KeysUpperCasedAndSortedByUnsignedBytes) {
    const auto entries = ParseLanguageSource("# comment\n"
                                             "\n"
                                             "  report.b=2\r\n"
                                             "Purgelet.Z=z\n"
                                             "   # indented comment\n"
                                             "Purgelet.\xE9=e\n" // ANSI byte, not UTF-8
                                             "purgelet.a = spaced  \n"
                                             "diskView.X=a=b");
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[0].Key, "DISKVIEW.X");
    EXPECT_EQ(entries[0].Value, "a=b"); // the first "=" splits
    EXPECT_EQ(entries[1].Key, "PURGELET.A");
    EXPECT_EQ(entries[1].Value, " spaced  "); // values are kept to the blank
    EXPECT_EQ(entries[2].Key, "PURGELET.Z");
    EXPECT_EQ(entries[3].Key, "PURGELET.\xE9");
    EXPECT_EQ(entries[4].Key, "REPORT.B");
    EXPECT_EQ(entries[4].Value, "2"); // CR of a CR LF line end dropped
}

TEST(LangSource, Escapes) {
    const auto entries = ParseLanguageSource("S.A=one\\r\\ntwo\\nthree\\\\four\\r\n");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Value, "one\r\ntwo\nthree\\four\r");
    EXPECT_EQ(EscapeLanguageText(entries[0].Value), "one\\r\\ntwo\\nthree\\\\four\\r");
}

TEST(LangSource, Utf8IsConvertedToWindows1252) {
    // U+00E9, U+20AC and U+2013, with and without a byte order mark.
    for (const std::string bom : {"", "\xEF\xBB\xBF"}) {
        const auto entries =
            ParseLanguageSource(bom + "S.A=caf\xC3\xA9 \xE2\x82\xAC \xE2\x80\x93\n");
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].Value, "caf\xE9 \x80 \x96");
    }
}

TEST(LangSource, FaultsNameTheLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"S.A=1\nno equals sign\n", "line 2"},
        {"NOSECTION=1\n", "line 1"},
        {".KEY=1\n", "line 1"},
        {"S.=1\n", "line 1"},
        {"S.A=1\ns.a=2\n", "line 2"}, // given twice once upper-cased
        {"S.A=bad \\t escape\n", "line 1"},
        {"S.A=trailing \\\n", "line 1"},
        {"S.A=caf\xC3\xA9\n\nS.B=\xE4\xB8\xAD\n", "line 3"}, // U+4E2D has no ANSI byte
    };
    for (const auto& [source, where] : cases) {
        try {
            ParseLanguageSource(source);
            ADD_FAILURE() << "accepted: " << source;
        } catch (const SourceError& error) {
            EXPECT_NE(std::string(error.what()).find(where), std::string::npos) << error.what();
        }
    }
}

class LangCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("purgelet-langtool-" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    void Write(const std::string& name, const std::string& bytes) const {
        std::ofstream file(Path(name), std::ios::binary);
        file << bytes;
    }
    int Run(const Args& args) {
        out_.str("");
        err_.str("");
        return LangCommand(args, out_, err_);
    }

    fs::path dir_;
    std::ostringstream out_;
    std::ostringstream err_;
};

TEST_F(LangCommandTest, PackThenDumpAndGet) {
    Write("src.txt", "# texts\nPurgelet.WIPING=Wiping\\r\\ndrive\ndiskView.GOTOBLOCK=Go \\\\ to\n"
                     "report.EMPTY=\n");
    ASSERT_EQ(Run({"pack", Path("src.txt"), Path("out.lng")}), 0) << err_.str();
    ASSERT_EQ(Run({"dump", Path("out.lng")}), 0);
    EXPECT_EQ(out_.str(), "sorted=1\n"
                          "count=3\n"
                          "DISKVIEW.GOTOBLOCK=Go \\\\ to\n"
                          "PURGELET.WIPING=Wiping\\r\\ndrive\n"
                          "REPORT.EMPTY=\n");
    ASSERT_EQ(Run({"get", Path("out.lng"), "Purgelet", "wiping", "dflt"}), 0);
    EXPECT_EQ(out_.str(), "Wiping\r\ndrive");
    ASSERT_EQ(Run({"get", Path("out.lng"), "report", "EMPTY", "dflt"}), 0);
    EXPECT_EQ(out_.str(), "");
    ASSERT_EQ(Run({"get", Path("out.lng"), "report", "NONE", "dflt "}), 0);
    EXPECT_EQ(out_.str(), "dflt ");
}

TEST_F(LangCommandTest, ShippedSourcePacks) {
    ASSERT_EQ(Run({"pack", PURGELET_SOURCE_DIR "/data/lang/english.txt", Path("en.lng")}), 0)
        << err_.str();
    ASSERT_EQ(Run({"dump", Path("en.lng")}), 0);
    EXPECT_EQ(out_.str().rfind("sorted=1\ncount=", 0), 0u);
}

TEST_F(LangCommandTest, DamagedFileDumpsAsDamaged) {
    Write("src.txt", "S.A=alpha beta gamma\n");
    ASSERT_EQ(Run({"pack", Path("src.txt"), Path("out.lng")}), 0);
    std::ifstream in(Path("out.lng"), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Write("cut.lng", bytes.substr(0, bytes.size() - 2));
    Write("zero.lng", std::string(4, '\0'));
    EXPECT_EQ(Run({"dump", Path("cut.lng")}), 2);
    EXPECT_EQ(out_.str(), "damaged\n");
    EXPECT_EQ(Run({"dump", Path("zero.lng")}), 2);
    EXPECT_EQ(out_.str(), "damaged\n");
    ASSERT_EQ(Run({"get", Path("cut.lng"), "S", "A", "dflt"}), 0);
    EXPECT_EQ(out_.str(), "dflt");
}

TEST_F(LangCommandTest, FailuresAndUsage) {
    Write("bad.txt", "S.A=1\nnonsense\n");
    EXPECT_EQ(Run({"pack", Path("bad.txt"), Path("out.lng")}), 1);
    EXPECT_NE(err_.str().find("line 2"), std::string::npos) << err_.str();
    EXPECT_FALSE(fs::exists(Path("out.lng")));
    EXPECT_EQ(Run({"pack", Path("none.txt"), Path("out.lng")}), 1);
    EXPECT_EQ(Run({"dump", Path("none.lng")}), 1);
    EXPECT_EQ(Run({"get", Path("none.lng"), "S", "A", "d"}), 1);
    EXPECT_EQ(Run({"get", Path("none.lng"), "S"}), 2);
    EXPECT_EQ(Run({"unpack"}), 2);
    EXPECT_EQ(Run({}), 2);
}

} // namespace
} // namespace purgelet::tool
