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
    // Upper case, each once, in order.
    ASSERT_EQ(r.Drives.size(), 3u);
    EXPECT_EQ(std::string({r.Drives[0].Letter, r.Drives[1].Letter, r.Drives[2].Letter}), "DEF");
    EXPECT_EQ(r.All, TAllDrives::None);
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
    EXPECT_EQ(byName.Batch.All, TAllDrives::WholeDisksFirst);
    EXPECT_EQ(byName.Batch.MethodName, "zero");
    EXPECT_FALSE(byName.Batch.MethodIndex);
    const TCommandLine byNumber = Parse({"--batch", "--all", "--method=zero", "/m4"});
    EXPECT_EQ(byNumber.Batch.MethodIndex, 4);
    EXPECT_FALSE(byNumber.Batch.MethodName);
}

TEST(BatchArguments, WholeDisksAreNamedByNumberDeviceOrSerialAndNeverReadAsSwitches) {
    using TKind = TDriveSelector::TKind;
    const TCommandLine line =
        Parse({"--batch", "/M0", "disk2", "\\\\.\\physicaldrive2", "/dev/sdb", "DISK10",
               "serial:S3Z9NB0K123456", "/dev/disk/by-id/nvme-X_1", "e:", "/dev/sdb"});
    ASSERT_EQ(line.Mode, TCommandMode::Batch) << line.Error;
    const auto& d = line.Batch.Drives;
    // The same disk by number twice is one; the order is the first mention's.
    ASSERT_EQ(d.size(), 6u);
    EXPECT_EQ(d[0].Kind, TKind::DiskNumber);
    EXPECT_EQ(d[0].Number, 2u);
    // /dev/sdb is a device, never the switch /D with a value.
    EXPECT_EQ(d[1].Kind, TKind::DevicePath);
    EXPECT_EQ(d[1].Value, "/dev/sdb");
    EXPECT_FALSE(line.Batch.DoDReport);
    EXPECT_EQ(d[2].Kind, TKind::DiskNumber);
    EXPECT_EQ(d[2].Number, 10u);
    EXPECT_EQ(d[3].Kind, TKind::Serial);
    EXPECT_EQ(d[3].Value, "S3Z9NB0K123456");
    EXPECT_EQ(d[4].Value, "/dev/disk/by-id/nvme-X_1");
    EXPECT_EQ(d[5].Kind, TKind::Letter);
    EXPECT_EQ(d[5].Letter, 'E');

    EXPECT_EQ(Parse({"--batch", "/M0", "--all-letters"}).Batch.All, TAllDrives::LettersOnly);
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
    const std::string kNotADrive =
        "not a drive (a letter, diskN, a device, serial:S) or a switch: ";
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
        {{"--batch", "D", "--confidentiality", "secret"},
         "--confidentiality takes low, moderate or high, not \"secret\""},
        {{"--batch", "D", "--destination=sell"},
         "--destination takes reuse, recycle, destroy or return, not \"sell\""},
        {{"--batch", "D", "--validator"}, "--validator needs a value"},
        {{"D", "--organisation", "X"}, "--organisation belongs to an unattended run: add --batch"},
        {{"--batch", "cdrom"}, kNotADrive + "\"cdrom\""},
        {{"--batch", "-x"}, kNotADrive + "\"-x\""},
        {{"--batch", "7"}, kNotADrive + "\"7\""},
        {{"--batch", "disk"}, kNotADrive + "\"disk\""},
        {{"--batch", "disk-1"}, kNotADrive + "\"disk-1\""},
        {{"--batch", "\\\\.\\PhysicalDriveX"}, kNotADrive + "\"\\\\.\\PhysicalDriveX\""},
        {{"--batch", "serial:"}, "serial: needs the disk's serial number: \"serial:\""},
        {{"--batch", "/W"}, "no drives: give the drives to wipe (letters, disks), or --all"},
        {{"--batch", "--all", "D"}, "give drives or --all, not both"},
        {{"--batch", "disk0", "--all-letters"}, "give drives or --all-letters, not both"},
        {{"--batch", "--all", "--all-letters"}, "give --all or --all-letters, not both"},
    };
    for (const Case& c : cases) {
        const TCommandLine line = Parse(c.arguments);
        EXPECT_EQ(line.Mode, TCommandMode::UsageError) << c.error;
        EXPECT_EQ(line.Error, c.error);
    }
}

} // namespace
} // namespace purgelet
