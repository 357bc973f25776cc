// The simulated PC's registry kept in a file between starts, and its desktop folder.
#include "platform/registry.h"
#include "platform/sim/sim.h"
#include "platform/system.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
namespace sim = platform::sim;
using nlohmann::json;
using platform::RegistryRoot;

const char* const kKey = "Software\\Quillon\\Purgelet 2005";

class RegistryFile : public ::testing::Test {
protected:
    RegistryFile() {
        static std::atomic<int> counter{0};
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        folder_ = fs::temp_directory_path() / ("purgelet-registry-file-" + std::to_string(stamp) +
                                               "-" + std::to_string(counter++));
        fs::create_directories(folder_);
        platform::SetRegistryTroubleReporter(
            [this](const std::string& message) { trouble_.push_back(message); });
    }
    ~RegistryFile() override {
        platform::SetRegistryTroubleReporter(nullptr);
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }

    // A machine file with a registry file in its image folder and a seeded option.
    std::string MachineFile() {
        const json machine = {
            {"imageDir", "images"},
            {"registryFile", "registry.json"},
            {"desktopFolder", "data/Desktop"},
            {"registry",
             {{"HKEY_CURRENT_USER", {{kKey, {{"Seeded", "yes"}, {"NoBuffering", "0"}}}}},
              {"HKEY_LOCAL_MACHINE", {{"Software\\Shared", {{"Kept", "machine"}}}}}}}};
        const fs::path file = folder_ / "pc.json";
        std::ofstream(file) << machine.dump(2);
        return file.string();
    }
    fs::path StoredFile() const { return folder_ / "images" / "registry.json"; }

    // A fresh start of the machine: its own system, installed for the call.
    static std::string Query(RegistryRoot root, const std::string& path, const std::string& name) {
        std::unique_ptr<platform::RegistryKey> key;
        if (platform::sys().registry->OpenKey(root, path, false, key) != ERROR_SUCCESS)
            return "<no key>";
        std::string value;
        if (key->QueryString(name, value) != ERROR_SUCCESS)
            return "<no value>";
        return value;
    }
    static LONG Set(const std::string& path, const std::string& name, const std::string& value) {
        std::unique_ptr<platform::RegistryKey> key;
        if (LONG status =
                platform::sys().registry->OpenKey(RegistryRoot::CurrentUser, path, true, key);
            status != ERROR_SUCCESS)
            return status;
        return key->SetString(name, value);
    }

    fs::path folder_;
    std::vector<std::string> trouble_;
};

TEST_F(RegistryFile, OptionsWrittenAreReadBackByTheNextStart) {
    const std::string machine = MachineFile();
    {
        platform::ScopedSystem first(sim::CreateSimSystem(machine));
        EXPECT_EQ(Query(RegistryRoot::CurrentUser, kKey, "Seeded"), "yes");
        EXPECT_FALSE(fs::exists(StoredFile())); // nothing changed yet
        ASSERT_EQ(Set(kKey, "NoBuffering", "1"), ERROR_SUCCESS);
        ASSERT_EQ(Set(std::string(kKey) + "\\Sub", "L\xF6sch \x81", "\x80 \xFF"), ERROR_SUCCESS);
    }
    ASSERT_TRUE(fs::exists(StoredFile()));
    std::ifstream in(StoredFile(), std::ios::binary);
    const json stored = json::parse(in); // valid JSON, so valid UTF-8
    EXPECT_EQ(stored["HKEY_CURRENT_USER"][kKey]["NoBuffering"], "1");
    EXPECT_EQ(stored["HKEY_CURRENT_USER"][std::string(kKey) + "\\Sub"]["L\xC3\xB6sch \xC2\x81"],
              "\xE2\x82\xAC \xC3\xBF");
    EXPECT_FALSE(stored.contains("HKEY_LOCAL_MACHINE")); // never written by the program

    platform::ScopedSystem second(sim::CreateSimSystem(machine));
    EXPECT_EQ(Query(RegistryRoot::CurrentUser, kKey, "NoBuffering"), "1");
    EXPECT_EQ(Query(RegistryRoot::CurrentUser, kKey, "Seeded"), "yes");
    EXPECT_EQ(Query(RegistryRoot::CurrentUser, std::string(kKey) + "\\Sub", "L\xF6sch \x81"),
              "\x80 \xFF");
    EXPECT_EQ(Query(RegistryRoot::LocalMachine, "Software\\Shared", "Kept"), "machine");
    EXPECT_TRUE(trouble_.empty());
}

TEST_F(RegistryFile, WithoutTheKeyNothingIsKept) {
    const fs::path file = folder_ / "plain.json";
    std::ofstream(file) << R"({"registry": {"HKCU": {"Software\\A": {"V": "seed"}}}})";
    {
        platform::ScopedSystem first(sim::CreateSimSystem(file.string()));
        ASSERT_EQ(Set("Software\\A", "V", "changed"), ERROR_SUCCESS);
        EXPECT_EQ(Query(RegistryRoot::CurrentUser, "Software\\A", "V"), "changed");
    }
    platform::ScopedSystem second(sim::CreateSimSystem(file.string()));
    EXPECT_EQ(Query(RegistryRoot::CurrentUser, "Software\\A", "V"), "seed");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1);
}

TEST_F(RegistryFile, ADamagedFileIsLoggedTheSeedsAreUsedAndTheFileIsKeptAside) {
    const std::string machine = MachineFile();
    fs::create_directories(StoredFile().parent_path());
    for (const char* damage :
         {"{\"HKEY_CURRENT_USER\": {", "[1, 2]", R"({"HKEY_CURRENT_USER": {"K": {"V": 3}}})",
          R"({"HKEY_LOCAL_MACHINE": {}})"}) {
        SCOPED_TRACE(damage);
        trouble_.clear();
        fs::remove(fs::path(StoredFile()) += ".damaged");
        std::ofstream(StoredFile(), std::ios::binary) << damage;
        platform::ScopedSystem system(sim::CreateSimSystem(machine));
        EXPECT_EQ(Query(RegistryRoot::CurrentUser, kKey, "Seeded"), "yes");
        EXPECT_EQ(Query(RegistryRoot::CurrentUser, kKey, "NoBuffering"), "0");
        ASSERT_EQ(trouble_.size(), 1u);
        EXPECT_NE(trouble_[0].find(StoredFile().string()), std::string::npos) << trouble_[0];
        EXPECT_NE(trouble_[0].find("damaged"), std::string::npos) << trouble_[0];

        // The first change keeps the damaged file aside and writes a good one.
        ASSERT_EQ(Set(kKey, "NoBuffering", "1"), ERROR_SUCCESS);
        std::ifstream aside(fs::path(StoredFile()) += ".damaged", std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(aside), {}), damage);
        std::ifstream in(StoredFile(), std::ios::binary);
        EXPECT_EQ(json::parse(in)["HKEY_CURRENT_USER"][kKey]["NoBuffering"], "1");
    }
}

TEST_F(RegistryFile, AFileThatCannotBeWrittenFailsTheChangeAndSaysWhy) {
    const fs::path file = folder_ / "blocked.json";
    // The registry file's place is taken by a folder: it can be neither read nor replaced.
    fs::create_directories(folder_ / "taken" / "inside");
    std::ofstream(file) << R"({"registryFile": "taken"})";
    platform::ScopedSystem system(sim::CreateSimSystem(file.string()));
    EXPECT_NE(Set("Software\\A", "V", "x"), ERROR_SUCCESS);
    ASSERT_FALSE(trouble_.empty());
    EXPECT_NE(trouble_.back().find("not written"), std::string::npos) << trouble_.back();
    EXPECT_TRUE(fs::is_directory(folder_ / "taken" / "inside"));
}

TEST_F(RegistryFile, TheDesktopFolderIsMadeAndAnsweredUnderShellFolders) {
    const std::string machine = MachineFile();
    platform::ScopedSystem system(sim::CreateSimSystem(machine));
    const std::string shellFolders =
        "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    const std::string desktop = Query(RegistryRoot::CurrentUser, shellFolders, "DeskTop");
    EXPECT_EQ(fs::path(desktop), folder_ / "data" / "Desktop");
    EXPECT_TRUE(fs::is_directory(folder_ / "data" / "Desktop"));
    // A value the registry holds wins over the machine's folder.
    ASSERT_EQ(Set(shellFolders, "Desktop", "C:\\Elsewhere"), ERROR_SUCCESS);
    EXPECT_EQ(Query(RegistryRoot::CurrentUser, shellFolders, "DeskTop"), "C:\\Elsewhere");
}

} // namespace
