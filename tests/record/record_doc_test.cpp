// The example in the record's documentation is a record this program would write and accept:
// intact under verification, and made of exactly the fields the reader knows.
#include "record/record_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace purgelet::record {
namespace {

TEST(RecordDocumentation, TheExampleIsAnIntactRecordWithEveryFieldTheProgramWrites) {
    std::ifstream in(std::filesystem::path(PURGELET_SOURCE_DIR) / "docs" / "record.md");
    ASSERT_TRUE(in) << "docs/record.md is missing";
    const std::string doc(std::istreambuf_iterator<char>(in), {});
    const auto open = doc.find("```json\n");
    ASSERT_NE(open, std::string::npos);
    const auto start = open + 8;
    const auto close = doc.find("\n```", start);
    ASSERT_NE(close, std::string::npos);
    const std::string example = doc.substr(start, close - start);

    const auto file = nlohmann::json::parse(example);
    ASSERT_TRUE(file.is_array());
    ASSERT_EQ(file.size(), 1u);
    EXPECT_EQ(ToJson(FromJson(file[0])), file[0]);

    const auto path = std::filesystem::temp_directory_path() / "purgelet-record-doc.json";
    std::ofstream(path, std::ios::binary) << example;
    const TVerifyResult result = VerifyRecordFiles({path.string()});
    std::filesystem::remove(path);
    EXPECT_EQ(result.Records, 1);
    EXPECT_EQ(result.Broken, 0);
    EXPECT_EQ(result.Unreadable, 0);
}

} // namespace
} // namespace purgelet::record
