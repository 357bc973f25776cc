// The computer's identity on Linux from a DMI tree and an os-release file written for the
// test, and the paper of a locale made for the test.
#include "loop_device.h"
#include "platform/linux/sysinfo.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/utsname.h>

namespace {

namespace fs = std::filesystem;
using namespace platform::linux_backend;

TEST(LinuxComputer, NamesTheMakerTheProductTheHostAndTheSystem) {
    const fs::path root = purgelet::testing::ScratchFolder("dmi");
    fs::create_directories(root / "class/dmi/id");
    std::ofstream(root / "class/dmi/id/sys_vendor") << "LENOVO\n";
    std::ofstream(root / "class/dmi/id/product_name") << "20HRCTO1WW\n";
    std::ofstream(root / "os-release") << "NAME=\"Debian GNU/Linux\"\n"
                                          "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n";
    SystemInfoSources sources;
    sources.sysfs = root.string();
    sources.osRelease = {(root / "missing").string(), (root / "os-release").string()};
    const auto computer = ReadComputer(sources);
    utsname system{};
    ASSERT_EQ(uname(&system), 0);
    EXPECT_EQ(computer.Vendor, "LENOVO");
    EXPECT_EQ(computer.Product, "20HRCTO1WW");
    EXPECT_EQ(computer.Serial, ""); // product_serial is root's only: here it is missing
    EXPECT_EQ(computer.HostName, system.nodename);
    EXPECT_EQ(computer.OperatingSystem,
              std::string("Debian GNU/Linux 12 (bookworm), Linux ") + system.release);

    // Nothing to read: the kernel alone.
    sources.osRelease.clear();
    sources.sysfs = (root / "nothing").string();
    const auto bare = ReadComputer(sources);
    EXPECT_EQ(bare.Vendor, "");
    EXPECT_EQ(bare.OperatingSystem, std::string("Linux ") + system.release);
    fs::remove_all(root);
}

TEST(LinuxComputer, OsReleaseValuesAreUnquotedAsTheShellWould) {
    EXPECT_EQ(OsReleaseName("NAME=Fedora\nPRETTY_NAME='Fedora Linux 39 (Workstation Edition)'\n"),
              "Fedora Linux 39 (Workstation Edition)");
    EXPECT_EQ(OsReleaseName("# comment\nPRETTY_NAME=\"Say \\\"hi\\\" \\\\ bye\"\r\n"),
              "Say \"hi\" \\ bye");
    EXPECT_EQ(OsReleaseName("NAME=\"Alpine Linux\"\nID=alpine\n"), "Alpine Linux");
    EXPECT_EQ(OsReleaseName("ID=x\n=broken\nPRETTY_NAME=\"\n"), "\""); // no closing quote
    EXPECT_EQ(OsReleaseName(""), "");
}

// US Letter is 216 mm wide; the C locale's paper is A4, and so is a locale the system lacks.
// The American locale is compiled for the test from the system's locale sources.
TEST(LinuxComputer, TheLocalesPaperDecidesLetter) {
    EXPECT_FALSE(LocaleUsesLetter("C"));
    EXPECT_FALSE(LocaleUsesLetter("xx_NOWHERE.UTF-8"));
    const fs::path locales = purgelet::testing::ScratchFolder("locales");
    int status = 0;
    purgelet::testing::Shell("localedef -i en_US -f UTF-8 " + (locales / "en_US.UTF-8").string(),
                             &status);
    if (status != 0 || !fs::exists(locales / "en_US.UTF-8")) {
        fs::remove_all(locales);
        GTEST_SKIP() << "localedef cannot make en_US.UTF-8 here";
    }
    purgelet::testing::Shell("localedef -i de_DE -f UTF-8 " + (locales / "de_DE.UTF-8").string());
    // The environment is the test's for a while: LC_ALL would decide over LC_PAPER.
    const char* before = std::getenv("LOCPATH");
    const std::string saved = before != nullptr ? before : "";
    const char* all = std::getenv("LC_ALL");
    const std::string savedAll = all != nullptr ? all : "";
    const bool hadAll = all != nullptr;
    unsetenv("LC_ALL");
    setenv("LOCPATH", locales.c_str(), 1);
    EXPECT_TRUE(LocaleUsesLetter("en_US.UTF-8"));
    if (fs::exists(locales / "de_DE.UTF-8")) {
        EXPECT_FALSE(LocaleUsesLetter("de_DE.UTF-8"));
    }
    setenv("LC_PAPER", "en_US.UTF-8", 1);
    EXPECT_TRUE(LocaleUsesLetter("")); // the user's, from the environment
    unsetenv("LC_PAPER");
    if (before != nullptr)
        setenv("LOCPATH", saved.c_str(), 1);
    else
        unsetenv("LOCPATH");
    if (hadAll)
        setenv("LC_ALL", savedAll.c_str(), 1);
    fs::remove_all(locales);
}

} // namespace
