// The options against the registry: first start, the "1"/"0" rule, a load that stops at the
// first bad value, and a save/load round trip on the simulated, Linux and Windows registries.
#include "app/options.h"
#include "platform/sim/registry.h"
#include "platform/sim/sim.h"
#include "platform/system.h"
#include "report/errorlog.h"
#include "report/exceptions.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using purgelet::TPLOptions;

const char* const Key = "Software\\Quillon\\Purgelet 2005";

// A simulated PC whose registry starts as given; the registry stays reachable for checks.
struct SimPc {
    explicit SimPc(const nlohmann::json& contents) {
        auto made = platform::sim::CreateSimSystem("");
        auto reg = std::make_unique<platform::sim::SimRegistry>(contents);
        registry = reg.get();
        made->registry = std::move(reg);
        installed = std::make_unique<platform::ScopedSystem>(std::move(made));
    }
    std::string Stored(const std::string& name) {
        return registry->ToJson()["HKEY_CURRENT_USER"][Key].value(name, std::string("<none>"));
    }
    platform::sim::SimRegistry* registry;
    std::unique_ptr<platform::ScopedSystem> installed;
};

nlohmann::json Stored(const nlohmann::json& values) {
    return {{"HKEY_CURRENT_USER", {{Key, values}}}};
}

const nlohmann::json AllOn = {{"GenerateReportFile", "1"}, {"UseDoDLogStyle", "1"},
                              {"AppendLog", "1"},          {"LogFileName", "D:\\r.log"},
                              {"AllowUserAbort", "0"},     {"WipeWithoutIntervention", "1"},
                              {"UseIsaac", "1"},           {"NoBuffering", "0"},
                              {"OverwriteBuffer", "3"},    {"QuickEraseCDDVD", "1"},
                              {"FormatPartitions", "0"},   {"SHowAskDialog", "1"}};

// The error log switched on into a temporary file for one test.
struct ErrorLogCapture {
    // A file of the test's own: the tests run side by side, each in a process of its own.
    ErrorLogCapture()
        : path(fs::temp_directory_path() /
               ("purgelet_options_except-" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                ".log")) {
        purgelet::OpenErrorLog(path.string());
    }
    ~ErrorLogCapture() {
        purgelet::CloseErrorLog();
        fs::remove(path);
    }
    std::string Text() const {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    fs::path path;
};

void ExpectDefaults(const TPLOptions& o) {
    EXPECT_FALSE(o.GenerateReportFile);
    EXPECT_FALSE(o.UseDoDLogStyle);
    EXPECT_FALSE(o.AppendLog);
    EXPECT_EQ(o.LogFileName, "");
    EXPECT_TRUE(o.AllowUserAbort);
    EXPECT_FALSE(o.WipeWithoutIntervention);
    EXPECT_FALSE(o.UseIsaac);
    EXPECT_TRUE(o.NoBuffering);
    EXPECT_EQ(o.OverwriteBuffer, 10);
    EXPECT_EQ(o.BufferSizeText(), "512 KB");
    EXPECT_FALSE(o.QuickEraseCDDVD);
    EXPECT_TRUE(o.FormatPartitions);
    EXPECT_FALSE(o.ShowAskDialog);
    EXPECT_TRUE(o.RecordFile);
    EXPECT_TRUE(o.Certificate);
    EXPECT_TRUE(o.WipeInParallel);
    EXPECT_TRUE(o.ShowWholeDisks);
}

TEST(Options, FirstStartHasTheDefaultsAndTheFirstExitStoresAllSixteen) {
    SimPc pc(nullptr);
    ErrorLogCapture log;
    {
        TPLOptions options;
        ExpectDefaults(options);
        EXPECT_NE(log.Text().find("ReadString from GenerateReportFile"), std::string::npos);
        EXPECT_NE(log.Text().find("Error on loading options"), std::string::npos);
    }
    nlohmann::json expected = {
        {"GenerateReportFile", "0"}, {"UseDoDLogStyle", "0"},   {"AppendLog", "0"},
        {"LogFileName", ""},         {"AllowUserAbort", "1"},   {"WipeWithoutIntervention", "0"},
        {"UseIsaac", "0"},           {"NoBuffering", "1"},      {"OverwriteBuffer", "10"},
        {"QuickEraseCDDVD", "0"},    {"FormatPartitions", "1"}, {"SHowAskDialog", "0"},
        {"RecordFile", "1"},         {"Certificate", "1"},      {"WipeInParallel", "1"},
        {"ShowWholeDisks", "1"}};
    EXPECT_EQ(pc.registry->ToJson()["HKEY_CURRENT_USER"][Key], expected);
}

TEST(Options, ValuesAreWrittenUnderTheirNamesCapitalHIncluded) {
    SimPc pc(nullptr);
    { TPLOptions options; }
    auto values = pc.registry->ToJson()["HKEY_CURRENT_USER"][Key];
    std::vector<std::string> names;
    for (const auto& [name, value] : values.items())
        names.push_back(name);
    EXPECT_NE(std::find(names.begin(), names.end(), "SHowAskDialog"), names.end());
    EXPECT_EQ(std::find(names.begin(), names.end(), "ShowAskDialog"), names.end());
}

TEST(Options, OnlyExactlyOneIsTrue) {
    nlohmann::json values = AllOn;
    values["GenerateReportFile"] = "true";
    values["UseDoDLogStyle"] = "yes";
    values["AppendLog"] = "";
    values["UseIsaac"] = " 1";
    SimPc pc(Stored(values));
    TPLOptions options;
    EXPECT_FALSE(options.GenerateReportFile);
    EXPECT_FALSE(options.UseDoDLogStyle);
    EXPECT_FALSE(options.AppendLog);
    EXPECT_FALSE(options.UseIsaac);
    EXPECT_TRUE(options.WipeWithoutIntervention);
    EXPECT_TRUE(options.ShowAskDialog); // the last value was still read
}

TEST(Options, TheRecordOptionsAreOnWhereAnOlderRegistryLacksThemAndOffWhenStoredSo) {
    {
        SimPc pc(Stored(AllOn)); // the twelve values of before, without the record's two
        ErrorLogCapture log;
        TPLOptions options;
        EXPECT_TRUE(options.RecordFile);
        EXPECT_TRUE(options.Certificate);
        EXPECT_TRUE(options.ShowAskDialog); // the load went on to the end
        EXPECT_EQ(log.Text().find("Error on loading options"), std::string::npos);
    }
    nlohmann::json values = AllOn;
    values["RecordFile"] = "0";
    values["Certificate"] = "0";
    SimPc pc(Stored(values));
    TPLOptions options;
    EXPECT_FALSE(options.RecordFile);
    EXPECT_FALSE(options.Certificate);
}

// Whole disks are listed unless the user switched them off: an older registry without the
// value loads to the end with them on, and once off the value is stored and read back, and
// stored again when switched on once more.
TEST(Options, WholeDisksAreShownWhereAnOlderRegistryLacksTheValueAndTheChoiceIsKept) {
    SimPc pc(Stored(AllOn));
    {
        ErrorLogCapture log;
        TPLOptions options;
        EXPECT_TRUE(options.ShowWholeDisks);
        EXPECT_TRUE(options.ShowAskDialog); // the load went on to the end
        EXPECT_EQ(log.Text().find("Error on loading options"), std::string::npos);
        options.ShowWholeDisks = false;
    }
    EXPECT_EQ(pc.Stored("ShowWholeDisks"), "0");
    {
        TPLOptions options;
        EXPECT_FALSE(options.ShowWholeDisks);
        options.ShowWholeDisks = true;
    }
    EXPECT_EQ(pc.Stored("ShowWholeDisks"), "1");
    TPLOptions options;
    EXPECT_TRUE(options.ShowWholeDisks);
}

TEST(Options, WipingInParallelIsOnWhereAnOlderRegistryLacksItAndOffWhenStoredSo) {
    {
        SimPc pc(Stored(AllOn)); // the values of before, without this one
        ErrorLogCapture log;
        TPLOptions options;
        EXPECT_TRUE(options.WipeInParallel);
        EXPECT_TRUE(options.ShowAskDialog); // the load went on to the end
        EXPECT_EQ(log.Text().find("Error on loading options"), std::string::npos);
    }
    nlohmann::json values = AllOn;
    values["WipeInParallel"] = "0";
    SimPc pc(Stored(values));
    {
        TPLOptions options;
        EXPECT_FALSE(options.WipeInParallel);
        options.WipeInParallel = true;
    }
    // Written back on the way out, as the check box left it.
    EXPECT_EQ(pc.registry->ToJson()["HKEY_CURRENT_USER"][Key]["WipeInParallel"], "1");
}

TEST(Options, TransfersInFlightAreReadFromTheRegistryCheckedAndNeverWritten) {
    {
        SimPc pc(Stored(AllOn)); // a registry without the value: four
        TPLOptions options;
        EXPECT_EQ(options.TransfersInFlight, 4);
    }
    struct Case {
        const char* stored;
        std::int32_t depth;
    };
    for (Case c :
         {Case{"1", 1}, Case{"2", 2}, Case{"16", 16}, Case{"17", 16}, Case{"100000", 16},
          Case{"0", 4}, Case{"-3", 4}, Case{"four", 4}, Case{"", 4}, Case{"99999999999", 4}}) {
        SCOPED_TRACE(c.stored);
        nlohmann::json values = AllOn;
        values["TransfersInFlight"] = c.stored;
        SimPc pc(Stored(values));
        ErrorLogCapture log;
        {
            TPLOptions options;
            EXPECT_EQ(options.TransfersInFlight, c.depth);
            EXPECT_TRUE(options.ShowAskDialog); // a bad depth does not end the load
            EXPECT_EQ(log.Text().find("Error on loading options"), std::string::npos);
            options.TransfersInFlight = 9;
        }
        // An administrator's value: the program leaves it as it was found.
        EXPECT_EQ(pc.Stored("TransfersInFlight"), c.stored);
    }
    SimPc pc(Stored(AllOn));
    { TPLOptions options; }
    EXPECT_EQ(pc.Stored("TransfersInFlight"), "<none>");
}

TEST(Options, ValueNamesMatchWithoutRegardToCase) {
    nlohmann::json values = AllOn;
    values.erase("SHowAskDialog");
    values["showaskdialog"] = "1";
    SimPc pc(Stored(values));
    TPLOptions options;
    EXPECT_TRUE(options.ShowAskDialog);
}

TEST(Options, ANonNumericBufferStopsTheLoadThere) {
    nlohmann::json values = AllOn;
    values["OverwriteBuffer"] = "abc";
    SimPc pc(Stored(values));
    ErrorLogCapture log;
    TPLOptions options;
    // Read before the bad value: stored.
    EXPECT_TRUE(options.GenerateReportFile);
    EXPECT_TRUE(options.UseDoDLogStyle);
    EXPECT_TRUE(options.AppendLog);
    EXPECT_EQ(options.LogFileName, "D:\\r.log");
    EXPECT_FALSE(options.AllowUserAbort);
    EXPECT_TRUE(options.WipeWithoutIntervention);
    EXPECT_TRUE(options.UseIsaac);
    EXPECT_FALSE(options.NoBuffering);
    // The bad one and the rest: defaults, even though stored.
    EXPECT_EQ(options.OverwriteBuffer, 10);
    EXPECT_FALSE(options.QuickEraseCDDVD);
    EXPECT_TRUE(options.FormatPartitions);
    EXPECT_FALSE(options.ShowAskDialog);
    // The one line of the log: a registry exception would claim a missing value.
    const std::string text = log.Text();
    EXPECT_NE(text.find("> : Error on loading options\r\n"), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
}

TEST(Options, StrictIntegerRefusesWhatIsNotJustDigits) {
    for (const char* text : {" 3", "3 ", "0x3", "3.0", "", "-", "99999999999"}) {
        nlohmann::json values = AllOn;
        values["OverwriteBuffer"] = text;
        SimPc pc(Stored(values));
        ErrorLogCapture log;
        {
            TPLOptions options;
            EXPECT_EQ(options.OverwriteBuffer, 10) << text;
            EXPECT_FALSE(options.QuickEraseCDDVD) << text; // the load stopped there
        }
        EXPECT_EQ(log.Text().find("OverwriteBuffer"), std::string::npos) << text;
    }
}

TEST(Options, ABufferIndexOutsideTheListBecomesTheDefaultAndTheLoadGoesOn) {
    for (const char* text : {"11", "-1", "2147483647"}) {
        nlohmann::json values = AllOn;
        values["OverwriteBuffer"] = text;
        SimPc pc(Stored(values));
        TPLOptions options;
        EXPECT_EQ(options.OverwriteBuffer, 10) << text;
        EXPECT_TRUE(options.QuickEraseCDDVD) << text;
        EXPECT_TRUE(options.ShowAskDialog) << text;
    }
    EXPECT_EQ(purgelet::ValidOverwriteBuffer(0), 0);
    EXPECT_EQ(purgelet::ValidOverwriteBuffer(10), 10);
    EXPECT_EQ(purgelet::ValidOverwriteBuffer(11), 10);
    EXPECT_EQ(purgelet::ValidOverwriteBuffer(-5), 10);
}

TEST(Options, TheBufferListHasItsSixKilobyteEntry) {
    std::vector<std::string> texts(purgelet::BufferSizeTexts.begin(),
                                   purgelet::BufferSizeTexts.end());
    EXPECT_EQ(texts, (std::vector<std::string>{"1 KB", "2 KB", "4 KB", "6 KB", "8 KB", "16 KB",
                                               "32 KB", "64 KB", "128 KB", "256 KB", "512 KB"}));
    SimPc pc(Stored(AllOn));
    TPLOptions options;
    EXPECT_EQ(options.BufferSizeText(), "6 KB");
}

TEST(Options, SetDefaultsDiscardsWhatWasLoadedAndTheLastRunIsWhatIsStored) {
    SimPc pc(Stored(AllOn));
    {
        TPLOptions options;
        options.SetDefaults(); // a start with command-line arguments
        ExpectDefaults(options);
        options.GenerateReportFile = true;
        options.LogFileName = "E:\\other.log";
    }
    EXPECT_EQ(pc.Stored("GenerateReportFile"), "1");
    EXPECT_EQ(pc.Stored("LogFileName"), "E:\\other.log");
    EXPECT_EQ(pc.Stored("UseDoDLogStyle"), "0");
    EXPECT_EQ(pc.Stored("OverwriteBuffer"), "10");
}

TEST(Options, AMissingValueRaisesTheRegistryExceptionWithItsName) {
    SimPc pc(nullptr);
    purgelet::TSaveToReg reg;
    try {
        reg.ReadString("UseIsaac");
        FAIL() << "no exception";
    } catch (const purgelet::XRegistryException& error) {
        EXPECT_STREQ(error.what(),
                     "Registry Key \\Software\\Quillon\\Purgelet 2005 ReadString from UseIsaac");
    }
    reg.WriteString("UseIsaac", "");
    EXPECT_EQ(reg.ReadString("UseIsaac"), ""); // empty, not missing
}

void RoundTrip(const std::string& logFileName = "C:\\Reports\\wipe log.txt") {
    {
        TPLOptions options;
        options.GenerateReportFile = true;
        options.UseDoDLogStyle = true;
        options.AppendLog = true;
        options.LogFileName = logFileName;
        options.AllowUserAbort = false;
        options.WipeWithoutIntervention = true;
        options.UseIsaac = true;
        options.NoBuffering = false;
        options.OverwriteBuffer = 3;
        options.QuickEraseCDDVD = true;
        options.FormatPartitions = false;
        options.ShowAskDialog = true;
    }
    TPLOptions again;
    EXPECT_TRUE(again.GenerateReportFile);
    EXPECT_TRUE(again.UseDoDLogStyle);
    EXPECT_TRUE(again.AppendLog);
    EXPECT_EQ(again.LogFileName, logFileName);
    EXPECT_FALSE(again.AllowUserAbort);
    EXPECT_TRUE(again.WipeWithoutIntervention);
    EXPECT_TRUE(again.UseIsaac);
    EXPECT_FALSE(again.NoBuffering);
    EXPECT_EQ(again.OverwriteBuffer, 3);
    EXPECT_TRUE(again.QuickEraseCDDVD);
    EXPECT_FALSE(again.FormatPartitions);
    EXPECT_TRUE(again.ShowAskDialog);
    again.SetDefaults(); // leave the native registry as a first exit would
}

TEST(OptionsRoundTrip, SimulatedRegistry) {
    SimPc pc(nullptr);
    RoundTrip();
}

// A temporary XDG_CONFIG_HOME: the Linux registry file goes there; Windows ignores it.
class NativeRegistry : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("purgelet_registry_" +
                  std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(folder);
        fs::create_directories(folder);
        static std::string setting; // putenv keeps the string itself
        setting = "XDG_CONFIG_HOME=" + folder.string();
        putenv(setting.data());
    }
    void TearDown() override {
        installed.reset();
        static std::string cleared = "XDG_CONFIG_HOME=";
        putenv(cleared.data());
        fs::remove_all(folder);
    }
    void Install() {
        installed.reset(); // put the previous system back before the next goes in
        installed = std::make_unique<platform::ScopedSystem>(platform::CreateNativeSystem());
    }
    static bool LinuxBackend() { return fs::path::preferred_separator == '/'; }
    fs::path RegistryFile() const { return folder / "purgelet" / "registry.json"; }

    fs::path folder;
    std::unique_ptr<platform::ScopedSystem> installed;
};

TEST_F(NativeRegistry, OptionsRoundTrip) {
    Install();
    RoundTrip();
    if (LinuxBackend()) {
        std::ifstream in(RegistryFile());
        auto document = nlohmann::json::parse(in);
        EXPECT_EQ(document[Key]["OverwriteBuffer"], "10");
        EXPECT_EQ(document[Key]["SHowAskDialog"], "0");
    }
}

// The proof settings are kept once set (a registry without them saves without them); a
// category the program does not know is not recorded, and the error log says so.
TEST_F(NativeRegistry, TheProofSettingsAreKeptAndAnUnknownCategoryIsLoggedAndLeftOut) {
    Install();
    ErrorLogCapture log;
    {
        TPLOptions options;
        EXPECT_TRUE(options.Attestation.Organisation.Name.empty());
        options.Attestation.Organisation.Name = "Example Org";
        options.Attestation.Operator.Phone = "+1 555 0100";
        options.Attestation.Media.Destination = "destroy";
        options.CertificateLogo = "logo.png";
    }
    std::unique_ptr<platform::RegistryKey> key;
    ASSERT_EQ(
        platform::sys().registry->OpenKey(platform::RegistryRoot::CurrentUser, Key, true, key),
        ERROR_SUCCESS);
    std::string stored;
    EXPECT_EQ(key->QueryString("ValidatorName", stored), ERROR_FILE_NOT_FOUND); // never set
    ASSERT_EQ(key->SetString("Confidentiality", "Top secret"), ERROR_SUCCESS);
    ASSERT_EQ(key->SetString("BackupMade", "YES"), ERROR_SUCCESS);
    {
        TPLOptions options;
        EXPECT_EQ(options.Attestation.Organisation.Name, "Example Org");
        EXPECT_EQ(options.Attestation.Operator.Phone, "+1 555 0100");
        EXPECT_EQ(options.Attestation.Media.Destination, "destroy");
        EXPECT_EQ(options.Attestation.Media.Backup, "yes");
        EXPECT_TRUE(options.Attestation.Media.Confidentiality.empty());
        EXPECT_EQ(options.CertificateLogo, "logo.png");
    }
    EXPECT_NE(log.Text().find("Confidentiality : unknown value \"Top secret\""), std::string::npos)
        << log.Text();
}

// A localised standard report name reaches the options as Windows-1252 bytes; the Linux
// registry file keeps it, and every value after it, and stays readable text.
TEST_F(NativeRegistry, AnAnsiLogFileNameRoundTripsWithEveryOtherOption) {
    if (!LinuxBackend())
        GTEST_SKIP() << "the registry file exists on the Linux back-end only";
    Install();
    ErrorLogCapture log;
    const std::string name = "C:\\Berichte\\L\xF6schbericht.log";
    RoundTrip(name);
    {
        TPLOptions options;
        options.LogFileName = name;
    }
    EXPECT_EQ(log.Text().find("WriteString"), std::string::npos) << log.Text();
    std::ifstream in(RegistryFile(), std::ios::binary);
    auto document = nlohmann::json::parse(in);
    EXPECT_EQ(document[Key]["LogFileName"], "C:\\Berichte\\L\xC3\xB6schbericht.log");
    EXPECT_EQ(document[Key]["SHowAskDialog"], "0"); // stored after the ANSI value
}

TEST_F(NativeRegistry, EveryByteStringRoundTripsThroughTheLinuxFile) {
    if (!LinuxBackend())
        GTEST_SKIP() << "the registry file exists on the Linux back-end only";
    std::string everyByte;
    for (int b = 0; b < 256; ++b)
        everyByte += static_cast<char>(b);
    const std::string utf8 = "\xC3\xB6 \xE2\x82\xAC"; // stays the bytes it is, too
    Install();
    {
        std::unique_ptr<platform::RegistryKey> key;
        ASSERT_EQ(platform::sys().registry->OpenKey(platform::RegistryRoot::CurrentUser,
                                                    "Software\\Quillon\\K\xE9y \x81", true, key),
                  ERROR_SUCCESS);
        ASSERT_EQ(key->SetString("All", everyByte), ERROR_SUCCESS);
        ASSERT_EQ(key->SetString("N\x80me", utf8), ERROR_SUCCESS);
    }
    Install(); // a fresh start reads the file
    std::unique_ptr<platform::RegistryKey> key;
    ASSERT_EQ(platform::sys().registry->OpenKey(platform::RegistryRoot::CurrentUser,
                                                "Software\\Quillon\\K\xE9y \x81", false, key),
              ERROR_SUCCESS);
    std::string value;
    ASSERT_EQ(key->QueryString("All", value), ERROR_SUCCESS);
    EXPECT_EQ(value, everyByte);
    ASSERT_EQ(key->QueryString("N\x80me", value), ERROR_SUCCESS);
    EXPECT_EQ(value, utf8);
}

// A registry file whose path uses all of PATH_MAX (4095 characters and the terminating
// zero) can be read, but the temporary file it is written through, a few characters longer,
// cannot be created: a save that fails whoever runs the test, root included.
TEST_F(NativeRegistry, ASaveThatFailsIsLoggedAndLeavesThePreviousFileIntact) {
    if (!LinuxBackend())
        GTEST_SKIP() << "the registry file exists on the Linux back-end only";
    const std::string tail = "/purgelet/registry.json";
    std::string deep = folder.string();
    std::size_t remaining = 4095 - tail.size() - deep.size();
    while (remaining > 201) { // components of at most 200 characters, none empty
        const std::size_t length = remaining - 201 >= 2 ? 200 : 199;
        deep += "/" + std::string(length, 'd');
        remaining -= length + 1;
    }
    deep += "/" + std::string(remaining - 1, 'd');
    ASSERT_EQ(deep.size() + tail.size(), 4095u);
    fs::create_directories(deep + "/purgelet");
    const std::string previous = nlohmann::json{{Key, AllOn}}.dump(2) + "\n";
    std::ofstream(deep + tail, std::ios::binary) << previous;
    static std::string setting;
    setting = "XDG_CONFIG_HOME=" + deep;
    putenv(setting.data());
    Install();
    ErrorLogCapture log;
    {
        TPLOptions options;
        EXPECT_TRUE(options.UseIsaac); // the previous file was read
    }
    const std::string text = log.Text();
    EXPECT_NE(text.find("TLinuxRegistry.Save - " + deep + tail + " : not written, "),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("WriteString to GenerateReportFile"), std::string::npos) << text;
    std::ifstream in(deep + tail, std::ios::binary);
    std::stringstream kept;
    kept << in.rdbuf();
    EXPECT_EQ(kept.str(), previous);
}

TEST_F(NativeRegistry, KeysAreCreatedAlongThePathAndListed) {
    Install();
    auto& reg = *platform::sys().registry;
    std::unique_ptr<platform::RegistryKey> key;
    ASSERT_EQ(reg.OpenKey(platform::RegistryRoot::CurrentUser,
                          "\\Software\\Quillon\\Purgelet Test\\Sub\\Deeper", true, key),
              ERROR_SUCCESS);
    ASSERT_EQ(key->SetString("Name", "value"), ERROR_SUCCESS);
    ASSERT_EQ(key->SetString("Empty", ""), ERROR_SUCCESS);
    std::string read = "not yet";
    EXPECT_EQ(key->QueryString("empty", read), ERROR_SUCCESS); // found, and empty
    EXPECT_EQ(read, "");
    EXPECT_EQ(key->QueryString("Absent", read), ERROR_FILE_NOT_FOUND);
    key.reset();
    ASSERT_EQ(reg.OpenKey(platform::RegistryRoot::CurrentUser, "software\\QUILLON\\purgelet test",
                          false, key),
              ERROR_SUCCESS);
    std::vector<std::string> names;
    ASSERT_EQ(key->EnumKeys(names), ERROR_SUCCESS);
    EXPECT_EQ(names, std::vector<std::string>{"Sub"});
    std::string value;
    EXPECT_EQ(key->QueryString("Name", value), ERROR_FILE_NOT_FOUND);
    key.reset();
    EXPECT_EQ(
        reg.OpenKey(platform::RegistryRoot::CurrentUser, "Software\\Quillon\\Absent", false, key),
        ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
}

TEST_F(NativeRegistry, ADamagedFileIsLoggedReadAsEmptyAndKeptAside) {
    if (!LinuxBackend())
        GTEST_SKIP() << "the registry file exists on the Linux back-end only";
    fs::create_directories(RegistryFile().parent_path());
    std::ofstream(RegistryFile()) << "{\"Software\\\\Quillon\\\\Purgelet 2005\": {\"UseIsaac\": ";
    Install();
    ErrorLogCapture log;
    {
        TPLOptions options;
        ExpectDefaults(options);
    }
    EXPECT_NE(log.Text().find("damaged, read as empty"), std::string::npos);
    EXPECT_TRUE(fs::exists(RegistryFile().string() + ".damaged"));
    std::ifstream in(RegistryFile());
    EXPECT_EQ(nlohmann::json::parse(in)[Key]["UseIsaac"], "0");
}

TEST_F(NativeRegistry, WrongShapesAreDamageToo) {
    if (!LinuxBackend())
        GTEST_SKIP() << "the registry file exists on the Linux back-end only";
    for (const char* text : {"[]", "{\"K\": 3}", "{\"K\": {\"v\": 1}}", ""}) {
        fs::create_directories(RegistryFile().parent_path());
        std::ofstream(RegistryFile()) << text;
        Install();
        std::unique_ptr<platform::RegistryKey> key;
        EXPECT_EQ(
            platform::sys().registry->OpenKey(platform::RegistryRoot::CurrentUser, "K", false, key),
            ERROR_FILE_NOT_FOUND)
            << text;
    }
}

// The desktop the user directories name, where it is a folder; a fresh account without one
// has the report, the record and the certificate in its home folder.
TEST_F(NativeRegistry, TheDesktopComesFromTheUserDirectoriesAndIsTheHomeWhereItIsMissing) {
    if (!LinuxBackend())
        GTEST_SKIP() << "the XDG user directories are a Linux matter";
    const char* home = std::getenv("HOME");
    ASSERT_NE(home, nullptr);
    Install();
    purgelet::ReadDesktopFolder();
    const std::string desktop = std::string(home) + "/Desktop";
    const std::string expected = fs::is_directory(desktop) ? desktop : std::string(home);
    EXPECT_EQ(purgelet::DesktopFolder(), expected);
    EXPECT_EQ(purgelet::DefaultReportPath(), expected + "/Purgelet.log");

    const fs::path named = folder / "Schreibtisch";
    std::ofstream(folder / "user-dirs.dirs")
        << "# written by xdg-user-dirs-update\nXDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n"
           "XDG_DESKTOP_DIR=\""
        << named.string() << "\"\n";
    Install();
    purgelet::ReadDesktopFolder();
    EXPECT_EQ(purgelet::DesktopFolder(), home);
    fs::create_directories(named);
    purgelet::ReadDesktopFolder();
    EXPECT_EQ(purgelet::DesktopFolder(), named.string());
}

TEST(DesktopFolder, OneEnvironmentReferenceIsExpanded) {
    static std::string setting = "PURGELET_TEST_PROFILE=C:\\Users\\Ann";
    putenv(setting.data());
    auto made = platform::CreateNativeSystem(); // an environment of its own
    made->registry = platform::sim::CreateSimRegistry(
        {{"HKCU",
          {{"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
            {{"Desktop", "%PURGELET_TEST_PROFILE%\\Desktop"}}}}}});
    platform::ScopedSystem installed(std::move(made));
    purgelet::ReadDesktopFolder();
    EXPECT_EQ(purgelet::DesktopFolder(), "C:\\Users\\Ann\\Desktop");
    EXPECT_EQ(purgelet::DefaultReportPath(), "C:\\Users\\Ann\\Desktop\\Purgelet.log");
    EXPECT_EQ(
        purgelet::ExpandOneEnvironmentReference("%PURGELET_TEST_PROFILE%\\%PURGELET_TEST_PROFILE%"),
        "C:\\Users\\Ann\\%PURGELET_TEST_PROFILE%");
    EXPECT_EQ(purgelet::ExpandOneEnvironmentReference("%PURGELET_NOT_SET%\\x"),
              "%PURGELET_NOT_SET%\\x");
    EXPECT_EQ(purgelet::ExpandOneEnvironmentReference("100%"), "100%");
}

// A simulated PC whose machine names a desktop folder (the demo's, in the user's data
// folder) puts the default report there; the options it stores survive in its registry file.
TEST(DesktopFolder, TheMachinesDesktopFolderTakesTheDefaultReport) {
    const fs::path folder =
        fs::temp_directory_path() /
        ("purgelet-desktop-" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(folder);
    std::ofstream(folder / "pc.json")
        << R"({"desktopFolder": "data/Desktop", "registryFile": "data/registry.json"})";
    {
        platform::ScopedSystem installed(
            platform::sim::CreateSimSystem((folder / "pc.json").string()));
        purgelet::ReadDesktopFolder();
        EXPECT_EQ(fs::path(purgelet::DesktopFolder()), folder / "data" / "Desktop");
        EXPECT_EQ(fs::path(purgelet::DefaultReportPath()),
                  folder / "data" / "Desktop" / "Purgelet.log");
        TPLOptions options;
        options.UseIsaac = true;
        options.OverwriteBuffer = 4;
    }
    {
        platform::ScopedSystem installed(
            platform::sim::CreateSimSystem((folder / "pc.json").string()));
        TPLOptions reloaded;
        EXPECT_TRUE(reloaded.UseIsaac);
        EXPECT_EQ(reloaded.OverwriteBuffer, 4);
    }
    std::error_code ec;
    fs::remove_all(folder, ec);
}

TEST(DesktopFolder, NoDesktopKnownLeavesTheBareFileName) {
    SimPc pc(nullptr);
    purgelet::ReadDesktopFolder();
    EXPECT_EQ(purgelet::DesktopFolder(), "");
    EXPECT_EQ(purgelet::DefaultReportPath(), "Purgelet.log");
}

} // namespace
