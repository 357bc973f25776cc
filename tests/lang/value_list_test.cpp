// The string table: parsing decoded content and looking texts up as the program does.
#include "lang/language.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace purgelet {
namespace {

// Decoded content written field by field, independent of the tool's writer.
class Content {
public:
    explicit Content(std::uint8_t sortedFlag = 1) {
        bytes_.push_back(static_cast<char>(sortedFlag));
    }
    Content& Int(std::int32_t value) {
        const auto raw = static_cast<std::uint32_t>(value);
        for (int i = 0; i < 4; ++i)
            bytes_.push_back(static_cast<char>((raw >> (8 * i)) & 0xFFu));
        return *this;
    }
    Content& Text(const std::string& text) {
        Int(static_cast<std::int32_t>(text.size()));
        bytes_ += text;
        return *this;
    }
    Content& Entries(const std::vector<std::pair<std::string, std::string>>& entries) {
        Int(static_cast<std::int32_t>(entries.size()));
        for (const auto& [key, value] : entries)
            Text(key).Text(value);
        return *this;
    }
    const std::string& Bytes() const { return bytes_; }

private:
    std::string bytes_;
};

bool Load(TValueList& table, const std::string& bytes) {
    std::istringstream stream(bytes);
    return table.LoadFromStream(stream);
}

std::string Lookup(const TValueList& table, const std::string& key) {
    std::string value;
    return table.Find(key, value) ? value : "<missing>";
}

TEST(ValueList, SortedFlagAndEmptyCountIsValidAndFindsNothing) {
    TValueList table;
    ASSERT_TRUE(Load(table, Content(1).Int(0).Bytes()));
    EXPECT_TRUE(table.Sorted);
    EXPECT_TRUE(table.Entries.empty());
    EXPECT_EQ(Lookup(table, "PURGELET.WIPING"), "<missing>");
}

TEST(ValueList, KeyThatIsAPrefixOfAnotherIsFoundAndRequestsAreUpperCased) {
    TValueList table;
    ASSERT_TRUE(
        Load(table, Content(1).Entries({{"PURGELET.A", "one"}, {"PURGELET.AB", "two"}}).Bytes()));
    EXPECT_EQ(Lookup(table, "PURGELET.A"), "one");
    EXPECT_EQ(Lookup(table, "PURGELET.AB"), "two");
    EXPECT_EQ(Lookup(table, "purgelet.ab"), "two");
    EXPECT_EQ(Lookup(table, "PURGELET.ABC"), "<missing>");
    EXPECT_EQ(Lookup(table, "PURGELET."), "<missing>");
}

TEST(ValueList, BinarySearchComparesUnsignedBytes) {
    // 0xE9 sorts after 'Z' only when bytes compare unsigned.
    std::vector<std::pair<std::string, std::string>> entries;
    for (const char* key :
         {"PURGELET.A", "PURGELET.M", "PURGELET.Z", "PURGELET.\xE9", "PURGELET.\xFF"})
        entries.emplace_back(key, std::string("v") + key);
    TValueList table;
    ASSERT_TRUE(Load(table, Content(1).Entries(entries).Bytes()));
    for (const auto& [key, value] : entries)
        EXPECT_EQ(Lookup(table, key), value) << key;
}

TEST(ValueList, SortedFileOutOfOrderMissesPresentKeys) {
    TValueList table;
    ASSERT_TRUE(
        Load(table, Content(1).Entries({{"S.Z", "z"}, {"S.A", "a"}, {"S.B", "b"}}).Bytes()));
    EXPECT_EQ(Lookup(table, "S.Z"), "<missing>"); // the search goes right of S.A and never back
    EXPECT_EQ(Lookup(table, "S.A"), "a");
}

TEST(ValueList, UnsortedScanLetsTheLastEqualEntryWin) {
    TValueList table;
    ASSERT_TRUE(
        Load(table,
             Content(0).Entries({{"S.K", "first"}, {"S.OTHER", "x"}, {"S.K", "second"}}).Bytes()));
    EXPECT_FALSE(table.Sorted);
    EXPECT_EQ(Lookup(table, "s.k"), "second");
    EXPECT_EQ(table.Entries.size(), 3u); // kept in file order
    EXPECT_EQ(table.Entries[0].Value, "first");
}

TEST(ValueList, AnyNonZeroFlagMeansSorted) {
    TValueList table;
    ASSERT_TRUE(Load(table, Content(0x80).Entries({{"S.A", "a"}}).Bytes()));
    EXPECT_TRUE(table.Sorted);
}

TEST(ValueList, LowerCaseStoredKeyIsNeverFound) {
    for (std::uint8_t flag : {0, 1}) {
        TValueList table;
        ASSERT_TRUE(Load(table, Content(flag).Entries({{"purgelet.low", "x"}}).Bytes()));
        EXPECT_EQ(Lookup(table, "purgelet.low"), "<missing>");
        EXPECT_EQ(Lookup(table, "PURGELET.LOW"), "<missing>");
    }
}

TEST(ValueList, UpperCasingTouchesAsciiLettersOnly) {
    TValueList table;
    ASSERT_TRUE(Load(table, Content(1).Entries({{"S.\xE9", "e-acute"}}).Bytes()));
    EXPECT_EQ(Lookup(table, "s.\xE9"), "e-acute");
    EXPECT_EQ(Lookup(table, "s.\xC9"), "<missing>"); // no code page folding
}

TEST(ValueList, EmptyValueAndLineBreaksAreStoredAsTheyAre) {
    TValueList table;
    ASSERT_TRUE(Load(table, Content(1).Entries({{"S.EMPTY", ""}, {"S.TWO", "a\r\nb"}}).Bytes()));
    EXPECT_EQ(Lookup(table, "S.EMPTY"), "");
    EXPECT_EQ(Lookup(table, "S.TWO"), "a\r\nb");
}

TEST(ValueList, CountLimitIsInclusive) {
    Content accepted(0);
    accepted.Int(TValueList::MaxEntries);
    for (int i = 0; i < TValueList::MaxEntries; ++i)
        accepted.Text("").Text("");
    TValueList table;
    EXPECT_TRUE(Load(table, accepted.Bytes()));
    EXPECT_EQ(table.Entries.size(), 100000u);

    // One more: refused on the count alone, before any entry is read.
    EXPECT_FALSE(Load(table, Content(0).Int(TValueList::MaxEntries + 1).Bytes()));
    EXPECT_TRUE(table.Entries.empty());
}

TEST(ValueList, NegativeCountsAndLengthsAreDamaged) {
    TValueList table;
    EXPECT_FALSE(Load(table, Content(1).Int(-1).Bytes()));
    EXPECT_FALSE(Load(table, Content(1).Int(1).Int(-1).Bytes()));
    EXPECT_FALSE(Load(table, Content(1).Int(1).Text("S.A").Int(-5).Bytes()));
    EXPECT_TRUE(table.Entries.empty());
}

TEST(ValueList, LengthLimitsAreCheckedBeforeReading) {
    TValueList table;
    // Lengths over the limit with nothing behind them: refused on the field.
    EXPECT_FALSE(Load(table, Content(1).Int(1).Int(TValueList::MaxLength + 1).Bytes()));
    EXPECT_FALSE(Load(table, Content(1).Int(1).Text("S.A").Int(TValueList::MaxLength + 1).Bytes()));
    // At the limit but short of bytes: damaged, not a crash or a hang.
    EXPECT_FALSE(Load(table, Content(1).Int(1).Int(TValueList::MaxLength).Bytes() + "abc"));

    const std::string longest(TValueList::MaxLength, 'v');
    ASSERT_TRUE(Load(table, Content(1).Entries({{"S.LONG", longest}}).Bytes()));
    EXPECT_EQ(Lookup(table, "S.LONG").size(), longest.size());
}

TEST(ValueList, EveryTruncationEmptiesTheTable) {
    const std::string whole =
        Content(1).Entries({{"S.A", "alpha"}, {"S.B", ""}, {"S.C", "gamma"}}).Bytes();
    for (std::size_t cut = 0; cut < whole.size(); ++cut) {
        TValueList table;
        ASSERT_TRUE(Load(table, whole)); // full, so the failure must empty it
        EXPECT_FALSE(Load(table, whole.substr(0, cut))) << cut;
        EXPECT_TRUE(table.Entries.empty()) << cut;
    }
}

TEST(ValueList, ClearKeepsTheSortedFlag) {
    TValueList table;
    ASSERT_TRUE(Load(table, Content(0).Entries({{"S.A", "a"}}).Bytes()));
    table.Clear();
    EXPECT_TRUE(table.Entries.empty());
    EXPECT_FALSE(table.Sorted);
}

TEST(ValueList, StreamThatThrowsIsDamaged) {
    std::istringstream stream(Content(1).Entries({{"S.A", "a"}}).Bytes().substr(0, 7));
    stream.exceptions(std::ios::failbit | std::ios::badbit | std::ios::eofbit);
    TValueList table;
    EXPECT_FALSE(table.LoadFromStream(stream));
    EXPECT_TRUE(table.Entries.empty());
}

} // namespace
} // namespace purgelet
