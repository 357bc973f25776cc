// The command line before the program starts: the wizard's keeps its meaning, --help and
// --version win over everything, an unattended run's switches and options are read strictly,
// and each thing that is wrong is said in one line.
#include "app/batch/batch_arguments.h"

#include "build_info.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace purgelet {
namespace {

using Args = std::vector<std::string>;

TCommandLine Parse(const Args& arguments, bool utf8 = false) {
    return ParseCommandLine(arguments, utf8);
}

TEST(BatchArguments, TheWizardsCommandLineStaysTheWizards) {
    for (const Args& arguments : {Args{}, Args{"/W", "c:"}, Args{"/X", "123", "-x"}, Args{"/?"}})
        EXPECT_EQ(Parse(arguments).Mode, TCommandMode::Wizard);
}

TEST(BatchArguments, HelpAndVersionWinOverEverythingElse) {
    EXPECT_EQ(Parse({"--help"}).Mode, TCommandMode::Help);
    EXPECT_EQ(Parse({"--batch", "--bogus", "--help"}).Mode, TCommandMode::Help);
    EXPECT_EQ(Parse({"--batch", "/?"}).Mode, TCommandMode::Help);
    EXPECT_EQ(Parse({"--version"}).Mode, TCommandMode::Version);
    EXPECT_EQ(Parse({"D", "--version"}).Mode, TCommandMode::Version);

    EXPECT_EQ(VersionLine(), std::string(build::ProductName) + " Version " + build::Version +
                                 " (build " + build::Id + ")");
    const std::string usage = UsageText();
    for (const char* word : {"--batch", "--all", "--method", "--operator", "--media", "--json",
                             "/R<path>", "/M<n>", "Exit status"})
        EXPECT_NE(usage.find(word), std::string::npos) << word;
}

TEST(BatchArguments, AnUnattendedRunTakesLettersSwitchesAndOptions) {
    const TCommandLine line =
        Parse({"--batch", "d:", "/r/tmp/x.log", "E", "/B3", "d", "/M2", "/W", "--json",
               "--operator", "Jo Smith", "--media=Two disks", "/d", "F:\\"});
    ASSERT_EQ(line.Mode, TCommandMode::Batch) << line.Error;
    const TBatchRequest& r = line.Batch;
    EXPECT_EQ(r.Letters, "DEF"); // upper case, each once, in order
    EXPECT_FALSE(r.AllDrives);
    EXPECT_EQ(r.Switches, (Args{"/r/tmp/x.log", "/B3", "/W", "/d"}));
    EXPECT_EQ(r.MethodIndex, 2);
    EXPECT_FALSE(r.MethodName);
    EXPECT_TRUE(r.DoDReport);
    EXPECT_TRUE(r.Json);
    EXPECT_EQ(r.Operator, "Jo Smith");
    EXPECT_EQ(r.Media, "Two disks");

    // The last method given counts, by number or by name.
    const TCommandLine byName = Parse({"--batch", "--all", "/M1", "--method", "zero"});
    ASSERT_EQ(byName.Mode, TCommandMode::Batch) << byName.Error;
    EXPECT_TRUE(byName.Batch.AllDrives);
    EXPECT_EQ(byName.Batch.MethodName, "zero");
    EXPECT_FALSE(byName.Batch.MethodIndex);
    const TCommandLine byNumber = Parse({"--batch", "--all", "--method=zero", "/m4"});
    EXPECT_EQ(byNumber.Batch.MethodIndex, 4);
    EXPECT_FALSE(byNumber.Batch.MethodName);
}

TEST(BatchArguments, TextsForTheReportAreTakenIntoTheProgramsCodePage) {
    // "Jürgen", "Bänder" in UTF-8, as Linux hands them over.
    const Args arguments = {"--batch",       "D",       "--operator",
                            "J\xC3\xBCrgen", "--media", "B\xC3\xA4nder"};
    const TCommandLine utf8 = Parse(arguments, true);
    EXPECT_EQ(utf8.Batch.Operator, "J\xFCrgen");
    EXPECT_EQ(utf8.Batch.Media, "B\xE4nder");
    const TCommandLine ansi = Parse(arguments, false);
    EXPECT_EQ(ansi.Batch.Operator, "J\xC3\xBCrgen");
}

TEST(BatchArguments, EachMistakeIsAUsageErrorThatSaysWhat) {
    struct Case {
        Args arguments;
        std::string error;
    };
    const Case cases[] = {
        {{"--bogus"}, "unknown option \"--bogus\""},
        {{"D", "--all"}, "--all belongs to an unattended run: add --batch"},
        {{"--json=yes"}, "--json belongs to an unattended run: add --batch"},
        {{"--batch", "D", "--frobnicate"}, "unknown option \"--frobnicate\""},
        {{"--batch", "D", "--"}, "unknown option \"--\""},
        {{"--batch", "D", "/X"}, "unknown switch \"/X\""},
        {{"--batch", "D", "/"}, "a switch needs a letter: \"/\""},
        {{"--batch", "D", "/Wx"}, "/W takes no value: \"/Wx\""},
        {{"--batch", "D", "/B11"}, "/B needs a buffer size number from 0 to 10: \"/B11\""},
        {{"--batch", "D", "/B-1"}, "/B needs a buffer size number from 0 to 10: \"/B-1\""},
        {{"--batch", "D", "/Mx"}, "/M needs a method number: \"/Mx\""},
        {{"--batch", "D", "/R"}, "/R needs the report file's path: /R<path>"},
        {{"--batch", "D", "--method"}, "--method needs a value"},
        {{"--batch", "D", "--operator="}, "--operator needs a value"},
        {{"--batch", "cdrom"}, "not a drive letter or a switch: \"cdrom\""},
        {{"--batch", "-x"}, "not a drive letter or a switch: \"-x\""},
        {{"--batch", "7"}, "not a drive letter or a switch: \"7\""},
        {{"--batch", "/W"}, "no drives: give the drive letters to wipe, or --all"},
        {{"--batch", "--all", "D"}, "give drive letters or --all, not both"},
    };
    for (const Case& c : cases) {
        const TCommandLine line = Parse(c.arguments);
        EXPECT_EQ(line.Mode, TCommandMode::UsageError) << c.error;
        EXPECT_EQ(line.Error, c.error);
    }
}

} // namespace
} // namespace purgelet
