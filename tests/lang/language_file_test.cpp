// LoadLanguageFile and GetLngText over real files, as the program uses them at start-up.
#include "lang/language.h"
#include "platform/winapi.h"
#include "purgelet-tool/lang_source.h"
#include "purgelet-tool/lzh_encoder.h"
#include "report/exceptions.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace purgelet {
namespace {

namespace fs = std::filesystem;

class LanguageFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("purgelet-lang-" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::create_directories(dir_);
        LanguageTable.Clear();
        LanguageTable.Sorted = true;
    }
    void TearDown() override {
        LanguageTable.Clear();
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    std::string Write(const std::string& name, const std::string& bytes) {
        const fs::path path = dir_ / name;
        std::ofstream file(path, std::ios::binary);
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }
    std::string Packed(const std::string& source) {
        return tool::LzhPack(tool::BuildLanguageContent(tool::ParseLanguageSource(source), true));
    }

    fs::path dir_;
};

TEST_F(LanguageFile, LoadedTextsReplaceDefaultsAndMissingKeysKeepThem) {
    LoadLanguageFile(Write("a.lng", Packed("Purgelet.WIPING=Wiping...\n"
                                           "diskView.GOTOBLOCK=Go to block\n"
                                           "report.EMPTY=\n")));
    EXPECT_EQ(LanguageTable.Entries.size(), 3u);
    EXPECT_EQ(GetLngText("Purgelet", "WIPING", "default"), "Wiping...");
    EXPECT_EQ(GetLngText("diskView", "GOTOBLOCK", "default"), "Go to block");
    EXPECT_EQ(GetLngText("DISKVIEW", "gotoblock", "default"), "Go to block");
    EXPECT_EQ(GetLngText("report", "EMPTY", "default"), ""); // empty, not the default
    EXPECT_EQ(GetLngText("Purgelet", "ABSENT", "the default "), "the default ");
    EXPECT_EQ(GetLngText("report", "WIPING", "d"), "d"); // another section
}

TEST_F(LanguageFile, SortedFlagWithNoEntriesLeavesEveryDefault) {
    LoadLanguageFile(Write("empty.lng", Packed("# nothing yet\n")));
    EXPECT_TRUE(LanguageTable.Entries.empty());
    EXPECT_EQ(GetLngText("Purgelet", "WIPING", "Wiping"), "Wiping");
}

TEST_F(LanguageFile, DamagedFilesLeaveAnEmptyTable) {
    const std::string good = Packed("Purgelet.A=a\nPurgelet.B=b\n");
    const std::string cases[] = {
        std::string(4, '\0'), // length 0: empty content is damaged
        std::string(),        // not even a header
        good.substr(0, good.size() - 1),
        "\xFF\xFF\xFF\x7F" + good.substr(4), // claims far more than the stream holds
        tool::LzhPack(std::string("\1\xA1\x86\x01\x00", 5)), // count 100001
    };
    for (const std::string& bytes : cases) {
        LoadLanguageFile(Write("good.lng", good));
        ASSERT_EQ(LanguageTable.Entries.size(), 2u);
        LoadLanguageFile(Write("bad.lng", bytes));
        EXPECT_TRUE(LanguageTable.Entries.empty()) << bytes.size();
        EXPECT_EQ(GetLngText("Purgelet", "A", "default"), "default");
    }
}

TEST_F(LanguageFile, FileThatCannotBeOpenedReachesTheCaller) {
    LoadLanguageFile(Write("good.lng", Packed("Purgelet.A=a\n")));
    const std::string missing = (dir_ / "missing.lng").string();
    try {
        LoadLanguageFile(missing);
        FAIL() << "no exception";
    } catch (const XSystemCall& error) {
        EXPECT_NE(std::string(error.what()).find("LoadLanguageFile - CreateFileA(" + missing + ")"),
                  std::string::npos)
            << error.what();
        EXPECT_EQ(error.ErrorCode, static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
    }
    EXPECT_TRUE(LanguageTable.Entries.empty()); // emptied before the open
}

TEST_F(LanguageFile, LargeFileSpanningManyReadBlocks) {
    // Values that hardly compress, so that the file spans several of the decoder's blocks.
    std::string source;
    std::uint32_t noise = 12345;
    for (int i = 0; i < 3000; ++i) {
        source += "Purgelet.KEY" + std::to_string(i) + "=text number " + std::to_string(i) + " ";
        for (int k = 0; k < 12; ++k) {
            noise = noise * 1103515245u + 12345u;
            source += static_cast<char>('a' + (noise >> 16) % 26);
        }
        source += "\n";
    }
    const std::string packed = Packed(source);
    ASSERT_GT(packed.size(), 3u * 10240);
    LoadLanguageFile(Write("big.lng", packed));
    EXPECT_EQ(LanguageTable.Entries.size(), 3000u);
    EXPECT_EQ(GetLngText("Purgelet", "KEY2999", "d").rfind("text number 2999 ", 0), 0u);
    EXPECT_EQ(GetLngText("Purgelet", "KEY0", "d").rfind("text number 0 ", 0), 0u);
}

} // namespace
} // namespace purgelet
