// The ".met" reader: keyword rules, value syntax and the exact error messages, from files
// written into a scratch folder.
#include "met_files.h"
#include "methods/generators.h"
#include "methods/method.h"
#include "methods/random.h"
#include "report/exceptions.h"

#include <gtest/gtest.h>

#include <string>

namespace purgelet {
namespace {

using testing::MetFolder;

// The message of the exception the reader raises for the file, or "" when it loads.
std::string ErrorOf(const std::string& path) {
    try {
        method::CreateFromFile(path);
    } catch (const XException& error) {
        return error.what();
    }
    return "";
}

std::unique_ptr<method> Load(MetFolder& folder, std::initializer_list<std::string> lines) {
    return method::CreateFromFile(folder.Write("m.met", lines));
}

std::vector<int> PatternOf(const steptype& step) {
    return std::vector<int>(step.Pattern.begin(), step.Pattern.begin() + step.PatternLength);
}

TEST(MethodReader, TheExampleFile) {
    MetFolder folder;
    auto m = Load(folder, {"# three passes", "METHODNR=3", "NAME=Three passes",
                           "DESCRIPTION=Zeros, ones and random data", "HEXA=$00", "INV",
                           "RAND=000255", "CHECK"});
    EXPECT_EQ(m->PassCount, 4);
    ASSERT_EQ(m->Steps.size(), 5u);
    EXPECT_DOUBLE_EQ(m->MethodNr, 3);
    EXPECT_EQ(m->Name, "Three passes");
    EXPECT_EQ(m->Description, std::vector<std::string>{"Zeros, ones and random data"});
    EXPECT_EQ(m->DescriptionCount, 1);
    EXPECT_EQ(PatternOf(*m->Steps[1]), std::vector<int>{0x00});
    EXPECT_EQ(PatternOf(*m->Steps[2]), std::vector<int>{0xFF});
    EXPECT_TRUE(m->Steps[2]->Inverted);
    EXPECT_TRUE(m->Steps[3]->IsRandom);
    EXPECT_EQ(m->Steps[3]->RandMin, 0);
    EXPECT_EQ(m->Steps[3]->RandMax, 255);
    EXPECT_TRUE(m->Steps[3]->Check);
    EXPECT_EQ(m->Steps[4], m->Steps[3]); // the verification slot refers to its pass
    EXPECT_FALSE(m->IsZeroMethod);
}

TEST(MethodReader, InternalZeroMethod) {
    auto m = method::CreateFromFile("");
    EXPECT_TRUE(m->IsZeroMethod);
    EXPECT_EQ(m->PassCount, 1);
    ASSERT_EQ(m->Steps.size(), 2u);
    EXPECT_NE(m->Steps[0], m->Steps[1]);
    EXPECT_TRUE(m->Name.empty());
    EXPECT_TRUE(m->Description.empty());
}

TEST(MethodReader, PassesOnlyGiveDefaults) {
    MetFolder folder;
    auto m = Load(folder, {"HEXA=$AA", "CHECK", "RAND=000255"});
    EXPECT_EQ(m->Name, "");
    EXPECT_EQ(m->Description, std::vector<std::string>{""});
    EXPECT_EQ(m->DescriptionCount, 1);
    EXPECT_DOUBLE_EQ(m->MethodNr, 3); // verification slots counted
}

// The description is kept line by line as the file has it; shown, a paragraph is one run of
// text whatever the file's line width, and an empty DESCRIPTION= line starts a new one.
TEST(MethodReader, TheDescriptionShowsAsParagraphsWhereTheFileHasEmptyLines) {
    MetFolder folder;
    auto m = Load(folder, {"DESCRIPTION=", "DESCRIPTION=The drive's own erase of every block,",
                           "DESCRIPTION=  spare flash included.  ", "DESCRIPTION=", "DESCRIPTION= ",
                           "DESCRIPTION=Whole disks only.", "DESCRIPTION=", "HEXA=$00"});
    EXPECT_EQ(m->DescriptionCount, 7);
    EXPECT_EQ(DescriptionParagraphs(*m),
              "The drive's own erase of every block, spare flash included.\n\nWhole disks only.");
    EXPECT_EQ(DescriptionParagraphs(*Load(folder, {"HEXA=$00"})), ""); // one empty line
    EXPECT_EQ(DescriptionParagraphs(*Load(folder, {"DESCRIPTION=One\tline", "HEXA=$00"})),
              "One\tline");
}

TEST(MethodReader, LinesAreTrimmedOfBlanksOnlyAndPrefixesMatchInOrder) {
    MetFolder folder;
    auto m = Load(folder, {"   # indented comment", "", "  NAME= spaced name  ", "DESCRIPTION=a=b",
                           "DESCRIPTION=", "NAME=Later", "HEXA=$55", "CHECKSUM", "INVERT",
                           "CHGDIRECTION", "METHODNR=  2.5 "});
    EXPECT_EQ(m->Name, "Later");
    EXPECT_EQ(m->Description, (std::vector<std::string>{"a=b", ""}));
    EXPECT_EQ(m->DescriptionCount, 2);
    EXPECT_EQ(m->PassCount, 3);
    EXPECT_TRUE(m->Steps[1]->Check);
    EXPECT_EQ(PatternOf(*m->Steps[3]), std::vector<int>{0xAA}); // complement of the checked pass
    EXPECT_TRUE(m->Steps[3]->ChangeDirection);
    EXPECT_FALSE(m->Steps[1]->ChangeDirection);
    EXPECT_DOUBLE_EQ(m->MethodNr, 2.5);

    auto named = Load(folder, {"NAME=  inner blanks kept", "HEXA=$00"});
    EXPECT_EQ(named->Name, "  inner blanks kept");
}

TEST(MethodReader, HexaValues) {
    MetFolder folder;
    EXPECT_EQ(PatternOf(*Load(folder, {"HEXA=$55$AA"})->Steps[1]), (std::vector<int>{0x55, 0xAA}));
    EXPECT_EQ(PatternOf(*Load(folder, {"HEXA=55"})->Steps[1]), std::vector<int>{0x05});
    EXPECT_EQ(PatternOf(*Load(folder, {"HEXA=$1FF"})->Steps[1]), std::vector<int>{0xFF});
    EXPECT_EQ(PatternOf(*Load(folder, {"HEXA=$92$49$24"})->Steps[1]),
              (std::vector<int>{0x92, 0x49, 0x24}));
    auto m = Load(folder, {"HEXA=$aa"});
    EXPECT_FALSE(m->Steps[1]->IsRandom);
    EXPECT_FALSE(m->Steps[1]->IsRandomChars);
}

TEST(MethodReader, FormatErrors) {
    MetFolder folder;
    const std::string path = (folder.path() / "m.met").string();
    const std::string format = "*Format error in file : " + path;
    for (std::string line :
         {"HEXA=$00$",       "HEXA=$$00",    "HEXA=",        "HEXA=$",       "HEXA=$0G",
          "HEXA=$100000000", "HEXA=$00\t",   "RAND=0,255",   "RAND=000",     "RAND=00",
          "RAND=abc255",     "RAND=000255x", "RNDCH=",       "RNDCH=065",    "RNDCH=06509x",
          "METHODNR=",       "METHODNR=1,5", "METHODNR=nan", "METHODNR=inf", "METHODNR=2x"}) {
        folder.Write("m.met", {"HEXA=$00", line});
        EXPECT_EQ(ErrorOf(path), format) << line;
    }
}

TEST(MethodReader, OverlongPatternListsAreRefused) {
    MetFolder folder;
    std::string hexa = "HEXA=";
    std::string rndch = "RNDCH=";
    for (int k = 0; k < 255; ++k) {
        hexa += "$11";
        rndch += "065090";
    }
    auto m = Load(folder, {hexa, rndch});
    EXPECT_EQ(m->Steps[1]->PatternLength, 255);
    EXPECT_EQ(m->Steps[2]->PatternLength, 255);
    const std::string path = (folder.path() / "m.met").string();
    folder.Write("m.met", {hexa + "$22"});
    EXPECT_EQ(ErrorOf(path), "*Format error in file : " + path);
    folder.Write("m.met", {rndch + "048057"});
    EXPECT_EQ(ErrorOf(path), "*Format error in file : " + path);
}

TEST(MethodReader, RandomRanges) {
    MetFolder folder;
    auto m =
        Load(folder, {"RAND=000255", "RAND=  0255", "RAND=065090", "RAND=001001", "RAND=$10$20"});
    for (int slot = 1; slot <= 5; ++slot) {
        EXPECT_TRUE(m->Steps[slot]->IsRandom);
        EXPECT_EQ(m->Steps[slot]->PatternLength, 0);
    }
    EXPECT_EQ(m->Steps[2]->RandMin, 0);
    EXPECT_EQ(m->Steps[2]->RandMax, 255);
    EXPECT_EQ(m->Steps[3]->RandMin, 65);
    EXPECT_EQ(m->Steps[3]->RandMax, 90);
    EXPECT_EQ(m->Steps[5]->RandMin, 0x10);
    EXPECT_EQ(m->Steps[5]->RandMax, 0x20);

    const std::string path = (folder.path() / "m.met").string();
    folder.Write("m.met", {"RAND=090065"});
    EXPECT_EQ(ErrorOf(path), "* Range Error : 090065 (" + path + ")");
    folder.Write("m.met", {"RNDCH=065090048057122097"});
    EXPECT_EQ(ErrorOf(path), "* Range Error : 065090048057122097 (" + path + ")");
}

TEST(MethodReader, RandomCharactersAreDrawnOncePerPairFromTheStandardGenerator) {
    MetFolder folder;
    TGenerators generators;
    generators.RandSeed = 77;
    auto m = method::CreateFromFile(folder.Write("m.met", {"RNDCH=065090048057", "RNDCH=120120"}),
                                    generators);
    std::uint32_t randSeed = 77;
    int first = 65 + static_cast<int>(Random(randSeed, 26));
    int second = 48 + static_cast<int>(Random(randSeed, 10));
    const steptype& step = *m->Steps[1];
    EXPECT_FALSE(step.IsRandom);
    EXPECT_TRUE(step.IsRandomChars);
    EXPECT_EQ(PatternOf(step), (std::vector<int>{first, second}));
    EXPECT_EQ(step.RandMin, 48); // of the last pair
    EXPECT_EQ(step.RandMax, 57);
    EXPECT_EQ(PatternOf(*m->Steps[2]), std::vector<int>{120});
}

TEST(MethodReader, Inversion) {
    MetFolder folder;
    auto m = Load(folder, {"HEXA=$AA$0F", "CHECK", "INV", "INV"});
    EXPECT_EQ(PatternOf(*m->Steps[3]), (std::vector<int>{0x55, 0xF0}));
    EXPECT_FALSE(m->Steps[3]->Check);
    EXPECT_TRUE(m->Steps[1]->Check);
    EXPECT_EQ(PatternOf(*m->Steps[4]), (std::vector<int>{0xAA, 0x0F}));

    auto chars = Load(folder, {"RNDCH=065065", "CHGDIR", "INV"});
    EXPECT_EQ(PatternOf(*chars->Steps[2]), std::vector<int>{0xBE});
    EXPECT_TRUE(chars->Steps[2]->IsRandomChars);
    EXPECT_FALSE(chars->Steps[2]->ChangeDirection);

    const std::string path = (folder.path() / "m.met").string();
    const std::string message = "*Cannot complement last pass .  (" + path + ")";
    folder.Write("m.met", {"INV", "HEXA=$00"});
    EXPECT_EQ(ErrorOf(path), message);
    folder.Write("m.met", {"RAND=000255", "INV"});
    EXPECT_EQ(ErrorOf(path), message);
}

TEST(MethodReader, CheckAndChangeDirectionRules) {
    MetFolder folder;
    const std::string path = (folder.path() / "m.met").string();
    folder.Write("m.met", {"CHECK", "HEXA=$00"});
    EXPECT_EQ(ErrorOf(path), "* Error using switch : CHECK . (" + path + ")");
    folder.Write("m.met", {"HEXA=$AA", "CHECK", "CHECK"});
    EXPECT_EQ(ErrorOf(path), "* Too many consecutive check.  (" + path + ")");
    folder.Write("m.met", {"CHGDIR", "HEXA=$00"});
    EXPECT_EQ(ErrorOf(path), "* Error using switch : CHGDIR . (" + path + ")");

    auto m = Load(folder, {"HEXA=$AA", "CHECK", "CHGDIR", "HEXA=$00", "CHECK"});
    EXPECT_EQ(m->PassCount, 4);
    EXPECT_TRUE(m->Steps[1]->ChangeDirection); // through the verification slot
    EXPECT_EQ(m->Steps[4], m->Steps[3]);
}

TEST(MethodReader, Shuffle) {
    MetFolder folder;
    auto m = Load(folder, {"HEXA=$00", "HEXA=$11", "HEXA=$22", "SHUFFLE   1    3"});
    EXPECT_TRUE(m->Shuffle);
    EXPECT_EQ(m->ShuffleFrom, 1);
    EXPECT_EQ(m->ShuffleTo, 3);

    const std::string path = (folder.path() / "m.met").string();
    struct Case {
        const char* line;
        const char* message;
    };
    for (Case c :
         {Case{"SHUFFLE 2", "* Syntax error :  2"}, Case{"SHUFFLE", "* Syntax error : "},
          Case{"SHUFFLE 1 x", "* Syntax error :  1 x"}, Case{"SHUFFLE x 2", "* Range Error :  x 2"},
          Case{"SHUFFLE 2 2", "* Range Error :  2 2"}, Case{"SHUFFLE 0 2", "* Range Error :  0 2"},
          Case{"SHUFFLE 2 4", "* Range Error :  2 4"},
          Case{"SHUFFLE 3 1", "* Range Error :  3 1"}}) {
        folder.Write("m.met", {"HEXA=$00", "HEXA=$11", "HEXA=$22", c.line});
        EXPECT_EQ(ErrorOf(path), std::string(c.message) + " (" + path + ")") << c.line;
    }
}

TEST(MethodReader, FileLevelErrors) {
    MetFolder folder;
    const std::string path = (folder.path() / "m.met").string();
    folder.Write("m.met", {"NAME=Nothing", "# no pass"});
    EXPECT_EQ(ErrorOf(path), "* Method must contain at least 1 pass!  (" + path + ")");
    folder.Write("m.met", {"HEXA=$00", "\tHEXA=$00"});
    EXPECT_EQ(ErrorOf(path),
              "*Format error in file : " + path + "     * Syntax error : \tHEXA=$00");
    folder.Write("m.met", {"HEXA=$00", "  hexa=$00  "});
    EXPECT_EQ(ErrorOf(path), "*Format error in file : " + path + "     * Syntax error : hexa=$00");
    const std::string missing = (folder.path() / "absent.met").string();
    EXPECT_EQ(ErrorOf(missing), "*Cannot open : \"" + missing + "\"");
}

// The drive's own erase: one per method, before the passes, not a pass of the engine.
TEST(MethodReader, FirmwareOperation) {
    MetFolder folder;
    auto alone = Load(folder, {"NAME=Crypto", "FIRMWARE=CRYPTO"});
    EXPECT_EQ(alone->Firmware, TFirmwareStep::CryptoErase);
    EXPECT_EQ(alone->PassCount, 0); // the engine has nothing to write
    EXPECT_EQ(alone->Steps.size(), 1u);
    EXPECT_DOUBLE_EQ(alone->MethodNr, 0);

    auto then = Load(folder, {"FIRMWARE=  BLOCK ", "HEXA=$00", "CHECK"});
    EXPECT_EQ(then->Firmware, TFirmwareStep::BlockErase);
    EXPECT_EQ(then->PassCount, 2);
    EXPECT_EQ(PatternOf(*then->Steps[1]), std::vector<int>{0x00});

    auto none = Load(folder, {"HEXA=$00"});
    EXPECT_EQ(none->Firmware, TFirmwareStep::None);

    const std::string path = (folder.path() / "m.met").string();
    folder.Write("m.met", {"FIRMWARE=CRYPTO", "FIRMWARE=BLOCK"});
    EXPECT_EQ(ErrorOf(path), "* Error using switch : FIRMWARE . (" + path + ")");
    folder.Write("m.met", {"FIRMWARE=CRYPTO", "FIRMWARE=CRYPTO", "HEXA=$00"});
    EXPECT_EQ(ErrorOf(path), "* Error using switch : FIRMWARE . (" + path + ")");
    folder.Write("m.met", {"HEXA=$00", "FIRMWARE=CRYPTO"});
    EXPECT_EQ(ErrorOf(path), "* FIRMWARE must come before the passes .  (" + path + ")");
    folder.Write("m.met", {"FIRMWARE=OVERWRITE"});
    EXPECT_EQ(ErrorOf(path),
              "*Format error in file : " + path + "     * Syntax error : FIRMWARE=OVERWRITE");
    folder.Write("m.met", {"FIRMWARE=crypto"});
    EXPECT_EQ(ErrorOf(path),
              "*Format error in file : " + path + "     * Syntax error : FIRMWARE=crypto");
    // A pass-less file keeps its message; a CHECK still needs a pass before it.
    folder.Write("m.met", {"FIRMWARE=CRYPTO", "CHECK"});
    EXPECT_EQ(ErrorOf(path), "* Error using switch : CHECK . (" + path + ")");
}

TEST(MethodReader, LineEnds) {
    MetFolder folder;
    auto lf = method::CreateFromFile(folder.WriteRaw("lf.met", "NAME=x\nHEXA=$01\nHEXA=$02"));
    EXPECT_EQ(lf->PassCount, 2);
    EXPECT_EQ(lf->Name, "x");
    auto cr = method::CreateFromFile(folder.WriteRaw("cr.met", "NAME=y\rHEXA=$01\r\n\r\n"));
    EXPECT_EQ(cr->PassCount, 1);
    EXPECT_EQ(cr->Name, "y");
}

} // namespace
} // namespace purgelet
