// A machine file as the user hands it over: the file that cannot be used is refused with where
// the fault lies, its texts arrive in the program's code page, and its clock keys.
#include "platform/sim/sim.h"
#include "platform/system.h"
#include "support/sim_pc.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;
namespace sim = platform::sim;
using nlohmann::json;
using purgelet::testing::SimPC;

// A folder of its own for each test, with machine files written into it.
class MachineFolder {
public:
    MachineFolder() {
        static std::atomic<int> counter{0};
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        path_ = fs::temp_directory_path() / ("purgelet-machine-file-" + std::to_string(stamp) +
                                             "-" + std::to_string(counter++));
        fs::create_directories(path_);
    }
    ~MachineFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string Write(const std::string& name, const std::string& text) const {
        std::ofstream(path_ / name, std::ios::binary) << text;
        return (path_ / name).string();
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// What CreateSimSystem says about a machine file, empty when it is taken.
std::string Refusal(const std::string& file) {
    try {
        sim::CreateSimSystem(file);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "";
}

TEST(MachineFileErrors, AMissingFileOrAFolderIsNamed) {
    MachineFolder folder;
    const std::string absent = (folder.path() / "absent.json").string();
    EXPECT_EQ(Refusal(absent), "machine file \"" + absent + "\" does not exist");
    EXPECT_EQ(Refusal(folder.path().string()),
              "machine file \"" + folder.path().string() + "\" is a folder, not a file");
}

TEST(MachineFileErrors, ASyntaxErrorNamesItsLineAndColumn) {
    MachineFolder folder;
    const std::string file = folder.Write("broken.json", "{\n  \"platform\": \"NT\",\n"
                                                         "  \"drives\": [ }\n}\n");
    const std::string why = Refusal(file);
    EXPECT_EQ(why.rfind("machine file \"" + file + "\": ", 0), 0u) << why;
    EXPECT_NE(why.find("line 3, column 15"), std::string::npos) << why;
    EXPECT_EQ(why.find("[json.exception"), std::string::npos) << why; // the library's tag
    // Invalid UTF-8 in a text is a syntax error too, with its place.
    const std::string latin = folder.Write("latin.json", "{\"drives\": [{\"letter\": \"D\", "
                                                         "\"displayName\": \"DONN\xC9"
                                                         "ES\"}]}");
    EXPECT_NE(Refusal(latin).find("line 1, column"), std::string::npos) << Refusal(latin);
}

TEST(MachineFileErrors, ABadValueNamesItsKey) {
    MachineFolder folder;
    const std::string letter = folder.Write(
        "letter.json", R"({"drives": [{"letter": 4, "image": "d.img", "size": 512}]})");
    EXPECT_EQ(Refusal(letter), "machine file \"" + letter +
                                   "\": drives[0].letter: type must be string, but is number");
    const std::string clock = folder.Write("clock.json", R"({"clock": "fast"})");
    EXPECT_EQ(Refusal(clock),
              "machine file \"" + clock + "\": clock: must be \"fixed\" or \"real\"");
    // The registry is checked as the system is made, and still names the file.
    const std::string registry = folder.Write(
        "registry.json", R"({"registry": {"HKEY_CURRENT_USER": {"Software\\X": {"N": 1}}}})");
    const std::string why = Refusal(registry);
    EXPECT_EQ(why.rfind("machine file \"" + registry + "\": registry: ", 0), 0u) << why;
    EXPECT_NE(why.find("\"N\""), std::string::npos) << why;
    // Nothing was made for a refused machine.
    EXPECT_FALSE(fs::exists(folder.path() / "d.img"));
}

TEST(MachineFileErrors, InstallingTheDefaultSystemReportsInsteadOfThrowing) {
    MachineFolder folder;
    const std::string file = folder.Write("broken.json", "{");
    const char* old = std::getenv("PURGELET_MACHINE");
    const std::string saved = old != nullptr ? old : "";
    static std::string setting; // putenv keeps the string itself
    setting = "PURGELET_MACHINE=" + file;
    putenv(setting.data());
    auto previous = platform::Install(nullptr);
    std::string why;
    EXPECT_FALSE(platform::InstallDefaultSystem(why));
    EXPECT_NE(why.find(file), std::string::npos) << why;
    EXPECT_NE(why.find("line 1, column 2"), std::string::npos) << why;
    static std::string restore;
    restore = "PURGELET_MACHINE=" + saved;
    putenv(restore.data());
    platform::Install(std::move(previous));
}

// ---- Texts: UTF-8 in the file, Windows-1252 in the program.

json TextMachine() {
    return json::parse(R"J({
      "physicalDisks": [{"friendlyName": "Festplatte f\u00fcr Daten", "image": "disk.img"}],
      "drives": [
        {"letter": "T", "disk": 0, "displayName": "DONN\u00c9ES (T:)",
         "volume": {"label": "DONN\u00c9ES", "fileSystem": "FAT32"}},
        {"letter": "U", "image": "u.img", "size": 65536, "displayName": "\u6570\u636e (U:)",
         "volume": {"label": "\u6570\u636e\u20ac"}}],
      "opticalDrives": [{"letter": "F", "vendor": "M\u00dcLLER", "product": "Brenner \u00bd"}],
      "registry": {"HKEY_CURRENT_USER": {"Software\\K\u00e9y": {"N\u00e4me": "Gr\u00fc\u00dfe \u2122"}}}
    })J");
}

TEST(MachineFileTexts, ArriveAsWindows1252WithQuestionMarksForWhatItLacks) {
    SimPC pc(TextMachine());
    auto& k = platform::k32();
    SHFILEINFOA info{};
    ASSERT_NE(
        platform::sys().shell32->SHGetFileInfoA("T:\\", 0, &info, sizeof(info), SHGFI_DISPLAYNAME),
        0u);
    EXPECT_STREQ(info.szDisplayName, "DONN\xC9"
                                     "ES (T:)");
    ASSERT_NE(
        platform::sys().shell32->SHGetFileInfoA("U:\\", 0, &info, sizeof(info), SHGFI_DISPLAYNAME),
        0u);
    EXPECT_STREQ(info.szDisplayName, "?? (U:)");
    char label[32] = {};
    ASSERT_TRUE(k.GetVolumeInformationA("T:\\", label, sizeof(label), nullptr, nullptr, nullptr,
                                        nullptr, 0));
    EXPECT_STREQ(label, "DONN\xC9"
                        "ES");
    ASSERT_TRUE(k.GetVolumeInformationA("U:\\", label, sizeof(label), nullptr, nullptr, nullptr,
                                        nullptr, 0));
    EXPECT_STREQ(label, "??\x80");
    EXPECT_EQ(pc.machine().disks[0].friendlyName, "Festplatte f\xFCr Daten");
    ASSERT_EQ(pc.machine().opticalDrives.size(), 1u);
    EXPECT_EQ(pc.machine().opticalDrives[0].vendor, "M\xDCLLER");
    EXPECT_EQ(pc.machine().opticalDrives[0].product, "Brenner \xBD");

    // Registry key paths, value names and values alike.
    std::unique_ptr<platform::RegistryKey> key;
    ASSERT_EQ(platform::sys().registry->OpenKey(platform::RegistryRoot::CurrentUser,
                                                "Software\\K\xE9y", false, key),
              ERROR_SUCCESS);
    std::string value;
    ASSERT_EQ(key->QueryString("N\xE4me", value), ERROR_SUCCESS);
    EXPECT_EQ(value, "Gr\xFC\xDF"
                     "e \x99");
}

// ---- The clock.

TEST(MachineFileClock, StandsStillByDefault) {
    SimPC pc(json::object());
    auto& k = platform::k32();
    SYSTEMTIME before{}, after{};
    k.GetLocalTime(&before);
    const DWORD ticks = k.GetTickCount();
    k.Sleep(1500); // simulated: returns at once and moves the tick count only
    k.GetLocalTime(&after);
    EXPECT_EQ(k.GetTickCount() - ticks, 1500u);
    EXPECT_EQ(std::memcmp(&before, &after, sizeof(before)), 0);
    EXPECT_EQ(before.wYear, 2026);
    EXPECT_FALSE(pc.kernel().realClock);
}

TEST(MachineFileClock, TheRealClockFollowsTheHost) {
    SimPC pc(json::parse(R"({"clock": "real"})"));
    auto native = platform::CreateNativeSystem();
    auto& k = platform::k32();
    ASSERT_TRUE(pc.kernel().realClock);
    SYSTEMTIME sim{}, host{};
    k.GetLocalTime(&sim);
    native->kernel32->GetLocalTime(&host);
    EXPECT_EQ(sim.wYear, host.wYear);
    EXPECT_EQ(sim.wDayOfWeek, host.wDayOfWeek);
    k.GetSystemTime(&sim);
    native->kernel32->GetSystemTime(&host);
    EXPECT_EQ(sim.wYear, host.wYear);
    EXPECT_EQ(sim.wMonth, host.wMonth);

    // Sleep takes real time and the tick count moves with it; what a test adds stays added.
    const DWORD ticks = k.GetTickCount();
    k.Sleep(30);
    const DWORD slept = k.GetTickCount() - ticks;
    // Windows' tick count moves in steps of up to 16 ms: 30 ms may read as one step less.
    EXPECT_GE(slept + 16u, 30u);
    pc.kernel().ticks += 100000;
    EXPECT_GE(k.GetTickCount() - ticks, 100000u + slept);
    LARGE_INTEGER first{}, second{};
    k.QueryPerformanceCounter(&first);
    k.Sleep(5);
    k.QueryPerformanceCounter(&second);
    EXPECT_GT(second.QuadPart, first.QuadPart);
}

} // namespace
