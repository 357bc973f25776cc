// The text of purgelet-tool's "methods" and "preview" commands.
#include "met_files.h"
#include "methods/isaac.h"
#include "methods/listing.h"
#include "methods/random.h"
#include "report/exceptions.h"

#include <gtest/gtest.h>

namespace purgelet {
namespace {

using testing::MetFolder;

TEST(Listing, EverySlotKind) {
    MetFolder folder;
    auto m = method::CreateFromFile(folder.Write(
        "all.met", {"METHODNR=2.5", "NAME=All kinds", "DESCRIPTION=first", "DESCRIPTION=second",
                    "HEXA=$0A$ff", "CHGDIR", "INV", "CHECK", "RAND=065090", "RNDCH=048057120120",
                    "INV", "RAND=000255", "CHECK", "CHGDIR", "SHUFFLE 1 3"}));
    m->FileName = "all.met";
    // Pass 6 complements the drawn character and 'x'.
    std::string inverted = HexLines(m->Steps[6]->Pattern.data(), 2);
    inverted.pop_back();
    EXPECT_EQ(DescribeMethod(*m), "file: all.met\n"
                                  "name: All kinds\n"
                                  "methodnr: 2.5\n"
                                  "description: first\n"
                                  "description: second\n"
                                  "shuffle: 1 3\n"
                                  "pass 1: hexa 0A FF chgdir\n"
                                  "pass 2: inv F5 00\n"
                                  "pass 3: check 2\n"
                                  "pass 4: random 65-90\n"
                                  "pass 5: rndch 120-120\n"
                                  "pass 6: inv " +
                                      inverted +
                                      "\n"
                                      "pass 7: random 0-255 chgdir\n"
                                      "pass 8: check 7\n");
    EXPECT_EQ(m->Steps[6]->Pattern[1], 0x87); // ~'x'
}

TEST(Listing, DefaultsAndShortestNumbers) {
    MetFolder folder;
    auto m = method::CreateFromFile(folder.Write("p.met", {"HEXA=$00", "CHECK"}));
    EXPECT_EQ(DescribeMethod(*m), "file: \nname: \nmethodnr: 2\ndescription: \n"
                                  "pass 1: hexa 00\npass 2: check 1\n");
    auto tenth = method::CreateFromFile(folder.Write("t.met", {"METHODNR=0.1", "HEXA=$00"}));
    EXPECT_NE(DescribeMethod(*tenth).find("methodnr: 0.1\n"), std::string::npos);
}

TEST(Listing, HexLines) {
    std::vector<std::uint8_t> bytes(18);
    for (std::size_t k = 0; k < bytes.size(); ++k)
        bytes[k] = static_cast<std::uint8_t>(k * 15);
    EXPECT_EQ(HexLines(bytes.data(), bytes.size()),
              "00 0F 1E 2D 3C 4B 5A 69 78 87 96 A5 B4 C3 D2 E1\nF0 FF\n");
    EXPECT_EQ(HexLines(bytes.data(), 16), "00 0F 1E 2D 3C 4B 5A 69 78 87 96 A5 B4 C3 D2 E1\n");
    EXPECT_EQ(HexLines(bytes.data(), 0), "");
}

TEST(Listing, PreviewSeedsBeforeReadingAndDoesNotDrawWhileMoving) {
    MetFolder folder;
    std::string path = folder.Write("p.met", {"RNDCH=065090", "HEXA=$12", "RAND=000255"});
    auto chars = PreviewPass(path, 1, 3, false, 7);
    std::uint32_t randSeed = 7;
    auto letter = static_cast<std::uint8_t>(65 + Random(randSeed, 26));
    EXPECT_EQ(chars, (std::vector<std::uint8_t>{letter, letter, letter}));

    EXPECT_EQ(PreviewPass(path, 2, 2, true, 0), (std::vector<std::uint8_t>{0x12, 0x12}));

    auto words = PreviewPass(path, 3, 8, true, 7);
    randSeed = 7;
    Random(randSeed, 26); // the RNDCH character drawn while reading
    IsaacState isaac;
    IsaacSeed(isaac, randSeed);
    std::uint32_t first = IsaacNext(isaac);
    EXPECT_EQ(words[0], first & 0xFF);
    EXPECT_EQ(words[3], first >> 24);

    auto standard = PreviewPass(path, 3, 4, false, 7);
    randSeed = 7;
    Random(randSeed, 26);
    for (int k = 0; k < 256; ++k)
        Random(randSeed, 0xFFFFFFFFu); // the ISAAC reseed of ResetPasses
    EXPECT_EQ(standard[0], Random(randSeed, 256));

    EXPECT_THROW(PreviewPass(path, 4, 4, false, 0), XException);
    EXPECT_THROW(PreviewPass(path, 0, 4, false, 0), XException);
}

} // namespace
} // namespace purgelet
