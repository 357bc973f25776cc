// The simulated PC's identity keys: a machine file refuses what it cannot mean, and the
// computer object answers SystemInfo with defaults that still say which system it plays.
#include "platform/sim/machine.h"
#include "platform/sim/sim.h"
#include "support/sim_pc.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

namespace {

using nlohmann::json;
using purgelet::testing::SimPC;
namespace sim = platform::sim;

// The message of the refusal of a machine, empty when it is accepted.
std::string Refusal(const json& machine) {
    // Test cases may run as parallel processes: the clock tells their folders apart.
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const auto folder =
        std::filesystem::temp_directory_path() / ("purgelet-sim-identity-" + std::to_string(stamp));
    std::string refusal;
    try {
        sim::Machine::Parse(machine, folder);
    } catch (const std::runtime_error& error) {
        refusal = error.what();
    }
    std::filesystem::remove_all(folder);
    return refusal;
}

TEST(SimIdentity, TheDiskKeysAreCheckedWhereTheyAre) {
    const json ok = json::parse(R"J({"physicalDisks": [{"image": "d.img",
        "model": "M", "bus": "nvme", "rotational": false}]})J");
    EXPECT_EQ(Refusal(ok), "");
    json badBus = ok;
    badBus["physicalDisks"][0]["bus"] = "floppy bus";
    EXPECT_NE(Refusal(badBus).find("physicalDisks[0].bus: unknown bus \"floppy bus\""),
              std::string::npos)
        << Refusal(badBus);
    json badRotational = ok;
    badRotational["physicalDisks"][0]["rotational"] = "yes";
    EXPECT_NE(Refusal(badRotational).find("physicalDisks[0].rotational"), std::string::npos);
    json badPaper = json::parse(R"J({"computer": {"paper": "Legal"}})J");
    EXPECT_NE(Refusal(badPaper).find("computer.paper: must be \"A4\" or \"Letter\""),
              std::string::npos);
    EXPECT_NE(Refusal(json::parse(R"J({"computer": "PC"})J")).find("computer: must be an object"),
              std::string::npos);
}

TEST(SimIdentity, TheDiskKeysReachTheQueryAsTheProgramsTexts) {
    SimPC pc(json::parse(R"J({"physicalDisks": [
        {"image": "a.img", "friendlyName": "FRIENDLY", "bus": "Loop"},
        {"image": "b.img", "model": "DONNÉES 1TB", "serial": "SN-É", "mediaType": "removable"}]})J"));
    const auto& first = pc.machine().disks[0].identity;
    EXPECT_EQ(first.product, "FRIENDLY");
    EXPECT_TRUE(first.loop);
    EXPECT_EQ(first.busType, DWORD{BusTypeFileBackedVirtual});
    EXPECT_FALSE(first.rotational.has_value());
    const auto& second = pc.machine().disks[1].identity;
    EXPECT_EQ(second.product, "DONN\xC9"
                              "ES 1TB"); // Windows-1252
    EXPECT_EQ(second.serial, "SN-\xC9");
    EXPECT_EQ(second.busType, DWORD{BusTypeUnknown});
    EXPECT_FALSE(second.loop);
    EXPECT_TRUE(second.removable);
}

TEST(SimIdentity, TheComputerHasDefaultsThatNameItsSystem) {
    {
        SimPC pc(json::object());
        auto& info = *platform::sys().sysinfo;
        const auto computer = info.Computer();
        EXPECT_EQ(computer.HostName, "SIMULATED-PC");
        EXPECT_EQ(computer.Vendor, "Purgelet");
        EXPECT_EQ(computer.Product, "Simulated PC");
        EXPECT_EQ(computer.Serial, "");
        EXPECT_EQ(computer.OperatingSystem, "Windows XP (5.1.2600)");
        EXPECT_FALSE(info.LetterPaper());
        // The system it plays, as GetVersionExA tells it now.
        pc.kernel().buildNumber = 7601;
        EXPECT_EQ(info.Computer().OperatingSystem, "Windows 7 (6.1.7601)");
    }
    {
        SimPC pc(json::parse(R"J({"platform": "9x", "build": 2222})J"));
        EXPECT_EQ(platform::sys().sysinfo->Computer().OperatingSystem, "Windows 98 (4.10.2222)");
    }
    SimPC pc(json::parse(R"J({"computer": {"vendor": "Dell Inc.", "product": "OptiPlex 7010",
        "serial": "4XK2JW1", "hostName": "ACCOUNTS-01", "operatingSystem": "Windows 7 Pro",
        "paper": "Letter"}})J"));
    const auto computer = platform::sys().sysinfo->Computer();
    EXPECT_EQ(computer.Vendor, "Dell Inc.");
    EXPECT_EQ(computer.Product, "OptiPlex 7010");
    EXPECT_EQ(computer.Serial, "4XK2JW1");
    EXPECT_EQ(computer.HostName, "ACCOUNTS-01");
    EXPECT_EQ(computer.OperatingSystem, "Windows 7 Pro");
    EXPECT_TRUE(platform::sys().sysinfo->LetterPaper());
}

} // namespace
