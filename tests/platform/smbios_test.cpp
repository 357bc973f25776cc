// The computer's names from its SMBIOS tables, as Windows hands the tables out. Firmware
// tables are written by many hands: every fixture is an exact-size buffer (the sanitizer
// build catches a read past it), and every cut of a valid table is tried.
#include "platform/smbios.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using platform::ParseSmbiosSystem;

// One structure: its formatted part (type, length, handle, then body) and its strings.
Bytes Structure(std::uint8_t type, const Bytes& body, const std::vector<std::string>& strings) {
    Bytes bytes = {type, static_cast<std::uint8_t>(4 + body.size()), 0x00, 0x01};
    bytes.insert(bytes.end(), body.begin(), body.end());
    for (const auto& text : strings) {
        bytes.insert(bytes.end(), text.begin(), text.end());
        bytes.push_back(0);
    }
    if (strings.empty())
        bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

// System Information as SMBIOS 2.4 lays it out: manufacturer, product, version and serial
// number are strings 1 to 4, then the UUID, wake-up type, SKU and family.
Bytes SystemInformation(const std::vector<std::string>& strings,
                        std::vector<std::uint8_t> numbers = {1, 2, 3, 4}) {
    Bytes body = numbers;
    body.resize(23, 0); // to the family string: 27 bytes with the header
    return Structure(1, body, strings);
}

// Windows' RawSMBIOSData: calling method, version 2.7, DMI revision, the table's length.
Bytes Raw(const std::vector<Bytes>& structures, std::int64_t declaredLength = -1) {
    Bytes table;
    for (const auto& s : structures)
        table.insert(table.end(), s.begin(), s.end());
    const auto length =
        static_cast<std::uint32_t>(declaredLength < 0 ? table.size() : declaredLength);
    Bytes raw(8 + table.size(), 0);
    raw[1] = 2;
    raw[2] = 7;
    std::memcpy(raw.data() + 4, &length, sizeof length);
    for (std::size_t i = 0; i < table.size(); ++i)
        raw[8 + i] = table[i];
    return raw;
}

Bytes Bios() {
    return Structure(0, Bytes(14, 0x01), {"American Megatrends Inc.", "2.15.1236", "03/14/2019"});
}

Bytes End() {
    return Structure(127, {}, {});
}

Bytes Desktop() {
    return Raw({Bios(), SystemInformation({"Dell Inc.", "OptiPlex 7010", "01", "4XK2JW1"}), End()});
}

TEST(Smbios, TheSystemInformationIsFoundAfterTheStructuresBeforeIt) {
    const Bytes raw = Desktop();
    const auto system = ParseSmbiosSystem(raw.data(), raw.size());
    ASSERT_TRUE(system.has_value());
    EXPECT_EQ(system->Manufacturer, "Dell Inc.");
    EXPECT_EQ(system->ProductName, "OptiPlex 7010");
    EXPECT_EQ(system->SerialNumber, "4XK2JW1");
}

TEST(Smbios, StringNumbersThatNameNothingAreEmptyTexts) {
    // The serial number names string 0 (none); the product a string that is not there.
    const Bytes raw = Raw({SystemInformation({"  LENOVO  ", "\x01Think\tCentre"}, {1, 9, 0, 0})});
    const auto system = ParseSmbiosSystem(raw.data(), raw.size());
    ASSERT_TRUE(system.has_value());
    EXPECT_EQ(system->Manufacturer, "LENOVO");
    EXPECT_EQ(system->ProductName, "");
    EXPECT_EQ(system->SerialNumber, "");
    // A structure without strings ends with two NULs and still counts.
    const Bytes bare = Raw({Structure(1, Bytes(23, 0), {})});
    const auto none = ParseSmbiosSystem(bare.data(), bare.size());
    ASSERT_TRUE(none.has_value());
    EXPECT_EQ(none->Manufacturer, "");
    // SMBIOS 2.0's short structure: the serial number is past its formatted part.
    const Bytes old = Raw({Structure(1, {1, 2, 3}, {"Compaq", "Deskpro", "1.0"})});
    const auto early = ParseSmbiosSystem(old.data(), old.size());
    ASSERT_TRUE(early.has_value());
    EXPECT_EQ(early->ProductName, "Deskpro");
    EXPECT_EQ(early->SerialNumber, ""); // byte 7 lies in the strings, it is not read as one
}

// Every cut of a valid block gives the whole answer or none, never a part read past the end.
TEST(Smbios, EveryCutOfTheTableGivesTheWholeAnswerOrNone) {
    const Bytes raw = Desktop();
    const auto whole = ParseSmbiosSystem(raw.data(), raw.size());
    ASSERT_TRUE(whole.has_value());
    int answered = 0;
    for (std::size_t size = 0; size < raw.size(); ++size) {
        const Bytes cut(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(size));
        const auto system = ParseSmbiosSystem(cut.empty() ? nullptr : cut.data(), cut.size());
        if (!system)
            continue;
        ++answered;
        EXPECT_EQ(system->SerialNumber, whole->SerialNumber) << size;
        EXPECT_EQ(system->Manufacturer, whole->Manufacturer) << size;
    }
    // The cuts that keep the System Information whole: those within the end-of-table marker.
    EXPECT_EQ(answered, static_cast<int>(End().size()));
}

TEST(Smbios, TheHeadersLengthBoundsTheTableAndNeverStretchesIt) {
    const Bytes bios = Bios();
    // The table said to end after the BIOS structure: the system information is not read.
    Bytes shortened = Desktop();
    const auto biosLength = static_cast<std::uint32_t>(bios.size());
    std::memcpy(shortened.data() + 4, &biosLength, sizeof biosLength);
    EXPECT_FALSE(ParseSmbiosSystem(shortened.data(), shortened.size()).has_value());
    // A length far past the bytes handed over: the bytes are the end.
    const Bytes stretched =
        Raw({Bios(), SystemInformation({"HP", "Compaq 8200", "1.0", "CZC1"})}, 0x7FFFFFFF);
    const auto system = ParseSmbiosSystem(stretched.data(), stretched.size());
    ASSERT_TRUE(system.has_value());
    EXPECT_EQ(system->SerialNumber, "CZC1");
}

TEST(Smbios, ABrokenStructureEndsTheWalk) {
    const Bytes system = SystemInformation({"Acme", "Box", "1", "SN"});
    // A formatted length below the header's own four bytes.
    Bytes tiny = Bios();
    tiny[1] = 3;
    const Bytes tinyRaw = Raw({tiny, system});
    EXPECT_FALSE(ParseSmbiosSystem(tinyRaw.data(), tinyRaw.size()).has_value());
    // A formatted length past the table.
    Bytes long_ = system;
    long_[1] = 0xFF;
    const Bytes longRaw = Raw({long_});
    EXPECT_FALSE(ParseSmbiosSystem(longRaw.data(), longRaw.size()).has_value());
    // Strings without their closing double NUL.
    Bytes open = system;
    open.pop_back();
    open.back() = 'x';
    const Bytes openRaw = Raw({open});
    EXPECT_FALSE(ParseSmbiosSystem(openRaw.data(), openRaw.size()).has_value());
    // The end-of-table marker before any system information.
    const Bytes ended = Raw({Bios(), End(), system});
    EXPECT_FALSE(ParseSmbiosSystem(ended.data(), ended.size()).has_value());
    // No table at all.
    const Bytes empty = Raw({});
    EXPECT_FALSE(ParseSmbiosSystem(empty.data(), empty.size()).has_value());
    EXPECT_FALSE(ParseSmbiosSystem(nullptr, 0).has_value());
}

} // namespace
