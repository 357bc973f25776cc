// Firmware sanitize through the wizard on a simulated PC with an NVMe drive of two namespaces,
// each a whole disk of its own: with one of them ticked only a command that stays inside it is
// sent (Format NVM of its own namespace), and one that reaches the other (Sanitize, a Format
// the drive applies to all) is refused before anything is sent; with both ticked the command
// for the whole drive is offered and the pages say so.
#include "program_fixture.h"

#include "disk/nt/nt_disk.h"

#include <algorithm>

namespace purgelet::testing {
namespace {

using nlohmann::json;
using ui::TWizardButton;

constexpr std::int64_t kDisk = 16 * 16 * 64 * 512; // 8 MiB each
constexpr const char* kFirst = "SIM NVME NS1";
constexpr const char* kSecond = "SIM NVME NS2";
constexpr const char* kBlockMethod = "Firmware sanitize: block erase";
constexpr const char* kFormat = "NVMe Format NVM, user data erase (80h, SES 001b)";
constexpr const char* kSanitize = "NVMe Sanitize, block erase (84h, SANACT 010b)";

// Disk 1 the drive's namespace 1 (its controller's firmware), disk 2 its namespace 2.
json NamespacesMachine(json firmware) {
    json machine = ProgramMachine();
    machine["registry"]["HKEY_CURRENT_USER"]["Software\\Quillon\\Purgelet 2005"]["ShowWholeDisks"] =
        "1";
    const json geometry = {{"cylinders", 16},
                           {"tracksPerCylinder", 16},
                           {"sectorsPerTrack", 64},
                           {"bytesPerSector", 512}};
    machine["physicalDisks"].push_back({{"friendlyName", kFirst},
                                        {"deviceNumber", 1},
                                        {"image", "ns1.img"},
                                        {"serial", "NV-0001"},
                                        {"bus", "NVMe"},
                                        {"geometry", geometry},
                                        {"firmware", std::move(firmware)}});
    machine["physicalDisks"].push_back({{"friendlyName", kSecond},
                                        {"deviceNumber", 2},
                                        {"image", "ns2.img"},
                                        {"serial", "NV-0001"},
                                        {"bus", "NVMe"},
                                        {"geometry", geometry},
                                        {"namespaceOf", 1}});
    return machine;
}

class FirmwareNamespacesTest : public ProgramTest {
protected:
    void BootWith(json firmware) {
        firmware["commandSet"] = "nvme";
        firmware["driver"] = "vendor"; // it passes Format NVM
        firmware["polls"] = 1;
        firmware["erasedByte"] = 255;
        Boot(NamespacesMachine(std::move(firmware)));
        for (const char* image : {"ns1.img", "ns2.img"})
            pc_->WriteImage(image, 0, Old());
        report_ = (pc_->folder() / "run.log").string();
    }
    static std::vector<std::uint8_t> Old() {
        std::vector<std::uint8_t> data(static_cast<std::size_t>(kDisk));
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<std::uint8_t>(i * 7 % 251);
        return data;
    }
    bool OldData(const char* image) const { return pc_->ReadImage(image, 0, kDisk) == Old(); }
    // Ticks the whole disks named, chooses the block erase, asks for a report, passes the
    // confirmation and answers every question Ok.
    void Wipe(const std::vector<std::string>& disks) {
        ASSERT_EQ(Start(), 0);
        host_.Press(TWizardButton::Next);
        host_.Then([this, disks] {
            auto& list = Main().lwDisksList;
            for (const std::string& name : disks)
                for (int i = 0; i < list.Count(); ++i)
                    if (auto* whole = TFrmMain::WholeDiskOf(list.Items(i));
                        whole && whole->Description == name)
                        list.UserToggle(i);
        });
        host_.Press(TWizardButton::Next);
        ScriptChooseMethod(kBlockMethod, description_);
        host_.Press(TWizardButton::Next);
        host_.Toggle("cbGenerateReport").Type("edtLogFileName", report_);
        host_.Press(TWizardButton::Next);
        host_.Then([this] { confirmation_ = Main().mmOperations.Lines; });
        host_.Press(TWizardButton::Next);
        host_.AnswerRest(mrOk);
        Run();
    }
    bool Confirms(const std::string& line) const {
        return std::find(confirmation_.begin(), confirmation_.end(), line) != confirmation_.end();
    }
    // The erasing commands the drive got: (opcode, namespace id).
    std::vector<std::pair<int, std::uint32_t>> Erases() {
        std::vector<std::pair<int, std::uint32_t>> erases;
        for (const auto& r : pc_->machine().disks[1].firmware->received)
            if (r.command[0] == 0x84 || r.command[0] == 0x80)
                erases.emplace_back(r.command[0],
                                    r.command[4] | r.command[5] << 8 | r.command[6] << 16 |
                                        static_cast<std::uint32_t>(r.command[7]) << 24);
        return erases;
    }

    std::string report_;
    std::string description_;
    std::vector<std::string> confirmation_;
};

TEST_F(FirmwareNamespacesTest, OneNamespaceTickedIsFormattedAloneTheOtherUntouched) {
    BootWith({{"sanitize", {"block"}}, {"formatNvm", true}});
    Wipe({kSecond});
    EXPECT_NE(description_.find(std::string(kSecond) + ": " + kFormat), std::string::npos)
        << description_;
    EXPECT_TRUE(Confirms("      Command: " + std::string(kFormat)));
    EXPECT_EQ(Erases(), (std::vector<std::pair<int, std::uint32_t>>{{0x80, 2}}));
    EXPECT_TRUE(OldData("ns1.img"));
    EXPECT_TRUE(All("ns2.img", 0, kDisk, 0xFF));
}

TEST_F(FirmwareNamespacesTest, SanitizeForOneNamespaceIsRefusedBeforeAnythingIsSent) {
    BootWith({{"sanitize", {"block"}}});
    Wipe({kSecond});
    const std::string reason = std::string(kSecond) +
                               ": cannot be sanitized: its only command for this erases the "
                               "whole drive, 2 namespaces";
    EXPECT_NE(description_.find(reason), std::string::npos) << description_;
    EXPECT_TRUE(Told(reason));
    EXPECT_TRUE(Erases().empty());
    EXPECT_TRUE(OldData("ns1.img"));
    EXPECT_TRUE(OldData("ns2.img"));
}

TEST_F(FirmwareNamespacesTest, AFormatTheDriveAppliesToAllIsRefusedForOneNamespace) {
    BootWith({{"formatNvm", true}, {"formatAllNamespaces", true}});
    Wipe({kFirst});
    EXPECT_NE(description_.find(std::string(kFirst) +
                                ": cannot be sanitized: its only command for this erases the "
                                "whole drive, 2 namespaces"),
              std::string::npos)
        << description_;
    EXPECT_TRUE(Erases().empty());
    EXPECT_TRUE(OldData("ns1.img"));
    EXPECT_TRUE(OldData("ns2.img"));
}

TEST_F(FirmwareNamespacesTest, BothNamespacesTickedTakeTheWholeDrivesSanitize) {
    BootWith({{"sanitize", {"block"}}});
    Wipe({kFirst, kSecond});
    const std::string command = std::string(kSanitize) + ": the whole drive, 2 namespaces";
    EXPECT_NE(description_.find(std::string(kFirst) + ": " + command), std::string::npos)
        << description_;
    EXPECT_NE(description_.find(std::string(kSecond) + ": " + command), std::string::npos);
    EXPECT_TRUE(Confirms("      Command: " + command));
    ASSERT_FALSE(Erases().empty());
    EXPECT_EQ(Erases().front().first, 0x84);
    EXPECT_TRUE(All("ns1.img", 0, kDisk, 0xFF));
    EXPECT_TRUE(All("ns2.img", 0, kDisk, 0xFF));
    EXPECT_FALSE(Told("cannot be sanitized"));
}

} // namespace
} // namespace purgelet::testing
