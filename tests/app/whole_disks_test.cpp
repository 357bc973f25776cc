// Whole disks on the drive page: their group, the system disk listed but not to be ticked,
// a whole disk ticked with one of its partitions (the disk wins: the confirmation lists the
// partition under it and the run wipes the disk once), and the list of a computer whose
// only disk is the system's.
#include "program_fixture.h"

#include "lang/catalogue.h"

#include <algorithm>

namespace purgelet::testing {
namespace {

using ui::TListItemStyle;
using ui::TWizardButton;

constexpr std::int64_t kDataDisk = 16 * 16 * 64 * 512; // 8 MiB

// The program's machine with the whole disks shown and a second disk, "SIM DISK 1", holding
// E: and F:. Disk 0 holds C:, where the simulated Windows lives.
nlohmann::json WholeDiskMachine() {
    auto machine = ProgramMachine();
    machine["registry"]["HKEY_CURRENT_USER"]["Software\\Quillon\\Purgelet 2005"]["RecordFile"] =
        "1";
    machine["registry"]["HKEY_CURRENT_USER"]["Software\\Quillon\\Purgelet 2005"]["ShowWholeDisks"] =
        "1";
    machine["physicalDisks"].push_back(nlohmann::json::parse(R"J(
        {"friendlyName": "SIM DISK 1", "deviceNumber": 1, "image": "data.img",
         "geometry": {"cylinders": 16, "tracksPerCylinder": 16, "sectorsPerTrack": 64,
                      "bytesPerSector": 512}})J"));
    machine["drives"].push_back(nlohmann::json::parse(R"J(
        {"letter": "E", "disk": 1, "offset": 32768, "length": 1048576, "partitionNumber": 1,
         "displayName": "PHOTOS (E:)", "volume": {"label": "PHOTOS", "fileSystem": "NTFS"}})J"));
    machine["drives"].push_back(nlohmann::json::parse(R"J(
        {"letter": "F", "disk": 1, "offset": 2097152, "length": 1048576, "partitionNumber": 2,
         "displayName": "MUSIC (F:)", "volume": {"label": "MUSIC", "fileSystem": "FAT32"}})J"));
    return machine;
}

class WholeDisksTest : public ProgramTest {
protected:
    void BootWholeDisks(const nlohmann::json& machine = WholeDiskMachine()) {
        Boot(machine);
        Fill("data.img", 0xAA);
    }
    // The list as the user reads it: one line a row, the caption and the size.
    std::string ListText() {
        std::string text;
        auto& list = Main().lwDisksList;
        for (int i = 0; i < list.Count(); ++i) {
            const auto& item = list.Items(i);
            text += item.Caption;
            if (!item.SubItems.empty() && list.DrawOf(i).ShowCells)
                text += " | " + item.SubItems[0];
            text += "\n";
        }
        return text;
    }
    // The row of a whole disk by its friendly name; -1 when none.
    int WholeRow(const std::string& description) {
        auto& list = Main().lwDisksList;
        for (int i = 0; i < list.Count(); ++i)
            if (auto* whole = TFrmMain::WholeDiskOf(list.Items(i));
                whole && whole->Description == description)
                return i;
        return -1;
    }
    std::vector<std::string> Details() {
        std::vector<std::string> lines;
        for (int i = 0; i < Main().JvXPBarDetails.Count(); ++i)
            lines.push_back(Main().JvXPBarDetails.Items(i).Caption);
        return lines;
    }
};

TEST_F(WholeDisksTest, TheWholeDisksFollowTheDriveLettersWithTheSystemDiskMarked) {
    BootWholeDisks();
    ASSERT_EQ(Start(), 0);
    host_.Press(TWizardButton::Next);
    Run();
    const std::string floppy =
        static_cast<TDisk*>(Main().lwDisksList.Items(RowOf("A")).Data)->Description;
    EXPECT_EQ(ListText(), "\n"
                          "Hard Disk Drives\n"
                          "-\n"
                          "SYSTEM (C:) |   1.00 MB\n"
                          "DATA (D:) |   1.00 MB\n"
                          "PHOTOS (E:) |   1.00 MB\n"
                          "MUSIC (F:) |   1.00 MB\n"
                          "\n"
                          "Devices with Removeable Storage\n"
                          "-\n" +
                              floppy +
                              "\n"
                              "STICK (R:) | 512.00 KB\n"
                              "\n"
                              "Whole Disks\n"
                              "-\n"
                              "SIM DISK 0 (cannot be wiped) |   8.00 MB\n"
                              "SIM DISK 1 |   8.00 MB\n");
    const int system = WholeRow("SIM DISK 0");
    ASSERT_GE(system, 0);
    EXPECT_EQ(Main().lwDisksList.Items(system).ImageIndex, 0);
    EXPECT_EQ(Main().lwDisksList.DrawOf(system).Style, TListItemStyle::Normal);
    EXPECT_EQ(host_.unexpectedDialogs(), 0);
}

// The system disk's tick is taken back: nothing is checked, Next stays off, and the details
// bar says why.
TEST_F(WholeDisksTest, TheSystemDiskCannotBeTickedAndTheDetailsSayWhy) {
    BootWholeDisks();
    ASSERT_EQ(Start(), 0);
    host_.Press(TWizardButton::Next);
    host_.Then([this] { Main().lwDisksList.UserToggle(WholeRow("SIM DISK 0")); });
    Run();
    const int system = WholeRow("SIM DISK 0");
    EXPECT_FALSE(Main().lwDisksList.Items(system).Checked);
    EXPECT_EQ(Main().FCheckedRows, 0);
    EXPECT_FALSE(Main().JvWIPDataSelection.ButtonEnabled(TWizardButton::Next));
    EXPECT_EQ(Main().lwDisksList.Selected(), system);
    const auto details = Details();
    ASSERT_FALSE(details.empty());
    EXPECT_EQ(details[0], "Cannot be wiped: holds the running system (C:\\WINDOWS)");
    EXPECT_TRUE(Main().CheckedDisks().empty());

    // The other disk is ticked as any drive.
    host_.Then([this] { Main().lwDisksList.UserToggle(WholeRow("SIM DISK 1")); });
    Run();
    EXPECT_TRUE(Main().lwDisksList.Items(WholeRow("SIM DISK 1")).Checked);
    EXPECT_TRUE(Main().JvWIPDataSelection.ButtonEnabled(TWizardButton::Next));
}

// E: and its disk both ticked: the confirmation lists the disk, what goes with it and E:
// under it; the run wipes the disk from block 0 once and never E: by its letter, and the
// report and the record name the disk alone.
TEST_F(WholeDisksTest, AWholeDiskTickedWithItsPartitionWinsAndIsWipedOnce) {
    BootWholeDisks();
    ASSERT_EQ(Start(), 0);
    const std::string report = (pc_->folder() / "run.log").string();
    ScriptTick({"E", "R"});
    host_.Then([this] { Main().lwDisksList.UserToggle(WholeRow("SIM DISK 1")); });
    host_.Press(TWizardButton::Next).Press(TWizardButton::Next);
    host_.Toggle("cbFormarPartitions").Toggle("cbGenerateReport").Type("edtLogFileName", report);
    host_.Press(TWizardButton::Next);
    Run();
    const auto& lines = Main().mmOperations.Lines;
    const std::vector<std::string> drives(lines.begin(), lines.begin() + 9);
    EXPECT_EQ(drives, (std::vector<std::string>{
                          "Drives to Wipe:", "  - STICK (R:)", "      Size: 512.00 KB",
                          "  - SIM DISK 1", "      Size:   8.00 MB",
                          "      The partition table and every partition on this disk will "
                          "be destroyed.",
                          "      Included: PHOTOS (E:)", "      Included: MUSIC (F:)", ""}));
    const auto disks = Main().CheckedDisks();
    ASSERT_EQ(disks.size(), 2u);
    EXPECT_EQ(disks[0]->Name, "R");
    EXPECT_EQ(disks[1]->Description, "SIM DISK 1");

    host_.Press(TWizardButton::Next);
    host_.AnswerRest(mrOk);
    Run();
    EXPECT_TRUE(All("data.img", 0, kDataDisk, 0x00));
    auto& machine = pc_->machine();
    EXPECT_EQ(machine.CountCalls("\\\\.\\E:", "WriteFile"), 0);
    EXPECT_EQ(machine.CountCalls("\\\\.\\E:", "DeviceIoControl", FSCTL_LOCK_VOLUME), 1);
    EXPECT_EQ(machine.CountCalls("\\\\.\\F:", "DeviceIoControl", FSCTL_LOCK_VOLUME), 1);
    EXPECT_TRUE(machine.formats.empty()); // a whole disk is never formatted
    EXPECT_EQ(pc_->kernel().OpenDeviceHandles(), 0u);

    const std::string text = ReadFile(report);
    EXPECT_NE(text.find("SIM DISK 1"), std::string::npos) << text;
    EXPECT_EQ(text.find("PHOTOS (E:)"), std::string::npos) << text;
    const auto runs = nlohmann::json::parse(ReadFile(report + ".json"));
    ASSERT_EQ(runs.size(), 1u);
    const auto& recorded = runs[0]["drives"];
    ASSERT_EQ(recorded.size(), 2u) << runs.dump(2);
    EXPECT_EQ(recorded[0]["name"], "R");
    EXPECT_EQ(recorded[1]["description"], "SIM DISK 1");
    EXPECT_EQ(recorded[1]["outcome"], "completed");
}

// A computer whose only disk holds the running system says so in the list, in words, with
// no message box.
TEST_F(WholeDisksTest, AComputerWithOnlyTheSystemDiskSaysSoInTheList) {
    auto machine = ProgramMachine();
    machine["registry"]["HKEY_CURRENT_USER"]["Software\\Quillon\\Purgelet 2005"]["ShowWholeDisks"] =
        "1";
    machine["physicalDisks"][0]["runningSystem"] = true;
    machine["drives"] = nlohmann::json::array();
    Boot(machine);
    ASSERT_EQ(Start(), 0);
    host_.Press(TWizardButton::Next);
    Run();
    EXPECT_TRUE(host_.dialogs().empty());
    EXPECT_EQ(ListText(), "\n"
                          "Whole Disks\n"
                          "-\n"
                          "SIM DISK 0 (cannot be wiped) |   8.00 MB\n"
                          "\n"
                          "Nothing can be wiped on this computer: SIM DISK 0 holds the running "
                          "system\n");
    auto& list = Main().lwDisksList;
    EXPECT_EQ(list.DrawOf(list.Count() - 1).Style, TListItemStyle::GroupTitle);
    EXPECT_FALSE(list.UserToggle(list.Count() - 1));
}

// Off, the list is the drive letters' alone.
TEST_F(WholeDisksTest, TheOptionOffListsNoWholeDisk) {
    auto machine = WholeDiskMachine();
    machine["registry"]["HKEY_CURRENT_USER"]["Software\\Quillon\\Purgelet 2005"]["ShowWholeDisks"] =
        "0";
    BootWholeDisks(machine);
    ASSERT_EQ(Start(), 0);
    EXPECT_FALSE(Main().cbShowWholeDisks.Checked());
    host_.Press(TWizardButton::Next);
    Run();
    EXPECT_EQ(ListText().find("Whole Disks"), std::string::npos);
    EXPECT_EQ(WholeRow("SIM DISK 1"), -1);
}

} // namespace
} // namespace purgelet::testing
