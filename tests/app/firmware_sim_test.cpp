// Firmware sanitize through the wizard on a simulated PC whose whole disks have emulated
// drives behind them (no drive of the test's own): an NVMe and an ATA disk, with the commands
// the pages and the report name, the media the drive leaves, the commands the drive got, the
// record, and every way a drive refuses, fails, lies or never ends; two drives at once; and
// an unattended run, which offers drive letters only.
#include "program_fixture.h"

#include "app/batch/batch_arguments.h"
#include "app/batch/batch_run.h"
#include "disk/nt/nt_disk.h"
#include "lang/catalogue.h"

#include <algorithm>
#include <set>
#include <sstream>

namespace purgelet::testing {
namespace {

using nlohmann::json;
using ui::TWizardButton;

constexpr std::int64_t kDisk = 16 * 16 * 64 * 512; // 8 MiB, 16384 blocks: 66 sampled
constexpr const char* kNvme = "SIM NVME 1";
constexpr const char* kAta = "SIM SATA 2";
constexpr const char* kCryptoMethod = "Firmware sanitize: crypto erase";
constexpr const char* kBlockMethod = "Firmware sanitize: block erase";
constexpr const char* kNvmeCrypto = "NVMe Sanitize, crypto erase (84h, SANACT 100b)";
constexpr const char* kNvmeBlock = "NVMe Sanitize, block erase (84h, SANACT 010b)";
constexpr const char* kAtaCrypto = "ATA SANITIZE CRYPTO SCRAMBLE EXT (B4h, feature 0011h)";
constexpr const char* kAtaBlock = "ATA SANITIZE BLOCK ERASE EXT (B4h, feature 0012h)";
constexpr const char* kAllChanged =
    "Verification: 66 blocks sampled, 66 changed, 0 held no data, 0 still held old data";

// The program's machine with the whole disks shown and two more disks: disk 1 an NVMe drive,
// disk 2 a SATA drive, each able to sanitize both ways.
json FirmwareMachine() {
    json machine = ProgramMachine();
    machine["registry"]["HKEY_CURRENT_USER"]["Software\\Quillon\\Purgelet 2005"]["RecordFile"] =
        "1";
    machine["registry"]["HKEY_CURRENT_USER"]["Software\\Quillon\\Purgelet 2005"]["ShowWholeDisks"] =
        "1";
    machine["physicalDisks"].push_back(json::parse(R"J(
        {"friendlyName": "SIM NVME 1", "deviceNumber": 1, "image": "nvme.img",
         "model": "SIM NVME 970", "serial": "NV-0001", "bus": "NVMe",
         "geometry": {"cylinders": 16, "tracksPerCylinder": 16, "sectorsPerTrack": 64,
                      "bytesPerSector": 512},
         "firmware": {"commandSet": "nvme", "sanitize": ["crypto", "block"], "polls": 3,
                      "estimatedSeconds": 120, "erasedByte": 255, "revision": "2B2QEXM7"}})J"));
    machine["physicalDisks"].push_back(json::parse(R"J(
        {"friendlyName": "SIM SATA 2", "deviceNumber": 2, "image": "ata.img",
         "model": "SIM SATA SSD 860", "serial": "SA-0002", "bus": "SATA",
         "geometry": {"cylinders": 16, "tracksPerCylinder": 16, "sectorsPerTrack": 64,
                      "bytesPerSector": 512},
         "firmware": {"commandSet": "ata", "sanitize": ["crypto", "block"], "polls": 3}})J"));
    return machine;
}

std::uint8_t Old(std::size_t i) {
    return static_cast<std::uint8_t>(i * 7 % 251);
}

// Every run on both drivers an NVMe drive may have on Windows: Windows' own on Windows 10
// 22H2 (Sanitize by the media reinitialization, polls by the property query) and a vendor's
// on Windows XP (every command by the protocol command).
struct TNvmeDriver {
    const char* Name;
    const char* Driver;
    int Build;
};

void PrintTo(const TNvmeDriver& driver, std::ostream* out) {
    *out << driver.Name;
}

class FirmwareOnSimTest : public ProgramTest, public ::testing::WithParamInterface<TNvmeDriver> {
protected:
    FirmwareOnSimTest() {
        machine_["build"] = GetParam().Build;
        Nvme()["driver"] = GetParam().Driver;
    }
    json& Nvme() { return machine_["physicalDisks"][1]["firmware"]; }
    json& Ata() { return machine_["physicalDisks"][2]["firmware"]; }
    // The machine as the test set it up, both drives' media full of old data.
    void BootMachine() {
        Boot(machine_);
        std::vector<std::uint8_t> data(static_cast<std::size_t>(kDisk));
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = Old(i);
        pc_->WriteImage("nvme.img", 0, data);
        pc_->WriteImage("ata.img", 0, data);
        report_ = (pc_->folder() / "run.log").string();
    }
    // Through the wizard: ticks the whole disks named, chooses the method, asks for a report,
    // and presses Next on the confirmation (the run starts, or the refusal is told).
    void ScriptRun(const std::string& methodName, const std::vector<std::string>& disks) {
        host_.Press(TWizardButton::Next);
        host_.Then([this, disks] {
            auto& list = Main().lwDisksList;
            for (const std::string& name : disks) {
                bool ticked = false;
                for (int i = 0; i < list.Count(); ++i)
                    if (auto* whole = TFrmMain::WholeDiskOf(list.Items(i));
                        whole && whole->Description == name)
                        ticked = list.UserToggle(i);
                ASSERT_TRUE(ticked) << name;
            }
        });
        host_.Press(TWizardButton::Next);
        ScriptChooseMethod(methodName, description_);
        host_.Press(TWizardButton::Next);
        host_.Toggle("cbGenerateReport").Type("edtLogFileName", report_);
        host_.Press(TWizardButton::Next);
        host_.Then([this] { confirmation_ = Main().mmOperations.Lines; });
        host_.Press(TWizardButton::Next);
    }
    // The whole run, every question answered Ok.
    void Wipe(const std::string& methodName, const std::vector<std::string>& disks) {
        ASSERT_EQ(Start(), 0);
        ScriptRun(methodName, disks);
        host_.AnswerRest(mrOk);
        Run();
    }
    bool Confirms(const std::string& line) const {
        return std::find(confirmation_.begin(), confirmation_.end(), line) != confirmation_.end();
    }
    bool Reported(const std::string& part) const {
        return ReadFile(report_).find(part) != std::string::npos;
    }
    json Record() const { return json::parse(ReadFile(report_ + ".json")).back(); }
    // Whether the image still holds the old data in every byte from..to.
    bool OldData(const std::string& image, std::int64_t from = 0, std::int64_t to = kDisk) const {
        const auto bytes = pc_->ReadImage(image, from, to - from);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            if (bytes[i] != Old(static_cast<std::size_t>(from) + i))
                return false;
        return !bytes.empty();
    }
    // Noise: no old data left, and nearly every byte value in use.
    bool Noise(const std::string& image) const {
        const auto bytes = pc_->ReadImage(image, 0, kDisk);
        const std::set<std::uint8_t> seen(bytes.begin(), bytes.end());
        for (std::int64_t block = 0; block < kDisk; block += 512 * 1024)
            if (OldData(image, block, block + 512))
                return false;
        return seen.size() > 200;
    }
    // The commands the emulated drive got: the NVMe opcodes, or the ATA command registers.
    std::vector<std::uint8_t> Commands(int disk) {
        std::vector<std::uint8_t> codes;
        for (const auto& received : pc_->machine().disks[disk].firmware->received)
            codes.push_back(received.command[disk == 1 ? 0 : 14]);
        return codes;
    }
    bool Got(int disk, std::uint8_t code) {
        const auto codes = Commands(disk);
        return std::find(codes.begin(), codes.end(), code) != codes.end();
    }

    json machine_ = FirmwareMachine();
    std::string report_;
    std::string description_;
    std::vector<std::string> confirmation_;
};

INSTANTIATE_TEST_SUITE_P(Drivers, FirmwareOnSimTest,
                         ::testing::Values(TNvmeDriver{"Inbox", "inbox", 19045},
                                           TNvmeDriver{"Vendor", "vendor", 2600}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_P(FirmwareOnSimTest, NvmeCryptoEraseLeavesNoiseAndIsNamedReportedAndRecorded) {
    BootMachine();
    Wipe(kCryptoMethod, {kNvme});
    EXPECT_NE(description_.find("Firmware sanitize on the selected drives:\nSIM NVME 1: " +
                                std::string(kNvmeCrypto)),
              std::string::npos)
        << description_;
    EXPECT_TRUE(Confirms("      Command: " + std::string(kNvmeCrypto)));
    EXPECT_TRUE(Noise("nvme.img"));
    EXPECT_TRUE(OldData("ata.img"));
    // The drive got the Sanitize with SANACT 100b, once.
    const auto& received = pc_->machine().disks[1].firmware->received;
    const auto codes = Commands(1);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 0x84), 1);
    const auto sanitize = std::find_if(received.begin(), received.end(),
                                       [](const auto& r) { return r.command[0] == 0x84; });
    ASSERT_NE(sanitize, received.end());
    EXPECT_EQ(sanitize->command[40] & 0x07, 0x04);
    EXPECT_TRUE(Reported("Firmware sanitize command: " + std::string(kNvmeCrypto)));
    EXPECT_TRUE(Reported("Drive's completion status: completed (SSTAT 0001h)"));
    EXPECT_TRUE(Reported(kAllChanged));

    const json drive = Record()["drives"][0];
    EXPECT_EQ(drive["outcome"], "completed");
    EXPECT_EQ(drive["nistCategory"], "Purge");
    EXPECT_EQ(drive["identity"]["serial"], "NV-0001");
    EXPECT_EQ(drive["firmware"], json::parse(R"J({
        "command": "NVMe Sanitize, crypto erase (84h, SANACT 100b)", "status": "completed",
        "driveStatus": "SSTAT 0001h", "password": "none",
        "verification": {"sampled": 66, "changed": 66, "heldNoData": 0, "unchanged": 0}})J"));
    EXPECT_EQ(pc_->kernel().OpenDeviceHandles(), 0u);
}

TEST_P(FirmwareOnSimTest, NvmeBlockEraseLeavesTheByteTheDriveReports) {
    BootMachine();
    Wipe(kBlockMethod, {kNvme});
    EXPECT_TRUE(Confirms("      Command: " + std::string(kNvmeBlock)));
    EXPECT_TRUE(All("nvme.img", 0, kDisk, 0xFF));
    EXPECT_TRUE(Reported("Firmware sanitize command: " + std::string(kNvmeBlock)));
    EXPECT_TRUE(Reported(kAllChanged));
    EXPECT_EQ(Record()["drives"][0]["outcome"], "completed");
}

TEST_P(FirmwareOnSimTest, AtaCryptoScrambleLeavesNoise) {
    BootMachine();
    Wipe(kCryptoMethod, {kAta});
    EXPECT_NE(description_.find("SIM SATA 2: " + std::string(kAtaCrypto)), std::string::npos)
        << description_;
    EXPECT_TRUE(Confirms("      Command: " + std::string(kAtaCrypto)));
    EXPECT_TRUE(Noise("ata.img"));
    EXPECT_TRUE(OldData("nvme.img"));
    EXPECT_TRUE(Reported("Firmware sanitize command: " + std::string(kAtaCrypto)));
    EXPECT_TRUE(Reported("Drive's completion status: completed (SANITIZE STATUS EXT"));
    EXPECT_TRUE(Reported(kAllChanged));
    EXPECT_EQ(Record()["drives"][0]["firmware"]["status"], "completed");
}

TEST_P(FirmwareOnSimTest, AtaBlockEraseLeavesZerosWithoutAReportedByte) {
    BootMachine();
    Wipe(kBlockMethod, {kAta});
    EXPECT_TRUE(Confirms("      Command: " + std::string(kAtaBlock)));
    EXPECT_TRUE(All("ata.img", 0, kDisk, 0x00));
    EXPECT_TRUE(Reported(kAllChanged));
    EXPECT_EQ(Record()["drives"][0]["outcome"], "completed");
}

TEST_P(FirmwareOnSimTest, AFrozenAtaDriveIsToldOnTheMethodPageAndRefusedBeforeTheRun) {
    Ata()["frozen"] = true;
    BootMachine();
    ASSERT_EQ(Start(), 0);
    ScriptRun(kCryptoMethod, {kAta});
    host_.Then([this] { EXPECT_EQ(Main().JvWizard.ActivePage(), &Main().JvWIPConfirmation); });
    host_.Press(TWizardButton::Back);
    host_.Then([this] { EXPECT_EQ(Main().JvWizard.ActivePage(), &Main().JvWIPOptions); });
    host_.AnswerRest(mrOk);
    Run();
    EXPECT_NE(description_.find("SIM SATA 2: cannot be sanitized: its security is frozen: "
                                "suspend and resume the computer, or re-plug the drive"),
              std::string::npos)
        << description_;
    EXPECT_TRUE(Told("These drives cannot take the method's firmware sanitize"));
    EXPECT_TRUE(OldData("ata.img"));
    // Only identify and the sanitize status reached the drive: nothing that erases.
    for (const auto& received : pc_->machine().disks[2].firmware->received)
        EXPECT_TRUE(received.command[14] == 0xEC ||
                    (received.command[14] == 0xB4 && received.command[8] == 0x00))
            << int(received.command[14]);
}

TEST_P(FirmwareOnSimTest, ADriveWithNoCommandForTheOperationIsRefusedBeforeTheRun) {
    Nvme() = {{"commandSet", "nvme"}};
    BootMachine();
    ASSERT_EQ(Start(), 0);
    ScriptRun(kCryptoMethod, {kNvme, kAta});
    host_.Then([this] { EXPECT_EQ(Main().JvWizard.ActivePage(), &Main().JvWIPConfirmation); });
    host_.AnswerRest(mrOk);
    Run();
    EXPECT_NE(description_.find("SIM NVME 1: cannot be sanitized: supports no command for this "
                                "operation"),
              std::string::npos)
        << description_;
    EXPECT_TRUE(Confirms("      SIM NVME 1: cannot be sanitized: supports no command for this "
                         "operation"));
    EXPECT_TRUE(Told("These drives cannot take the method's firmware sanitize"));
    // Not half-way: the drive that could have taken it was not sent anything either.
    EXPECT_TRUE(OldData("nvme.img"));
    EXPECT_TRUE(OldData("ata.img"));
    EXPECT_FALSE(Got(1, 0x84));
    EXPECT_FALSE(Got(1, 0x80));
    for (const auto& received : pc_->machine().disks[2].firmware->received)
        EXPECT_FALSE(received.command[14] == 0xB4 && received.command[8] != 0x00);
}

// A drive with the command this Windows cannot send to it (Windows' own driver before 21H1):
// told so on the method page and in the confirmation, and nothing sent to any drive.
TEST_P(FirmwareOnSimTest, ACommandThisWindowsCannotSendIsToldOnTheMethodPage) {
    machine_["build"] = 19042; // Windows 10 20H2
    Nvme()["driver"] = "inbox";
    BootMachine();
    ASSERT_EQ(Start(), 0);
    ScriptRun(kCryptoMethod, {kNvme, kAta});
    host_.AnswerRest(mrOk);
    Run();
    const std::string reason = "SIM NVME 1: cannot be sanitized: this Windows cannot send its "
                               "command to the drive";
    EXPECT_NE(description_.find(reason), std::string::npos) << description_;
    EXPECT_TRUE(std::any_of(confirmation_.begin(), confirmation_.end(), [&](const auto& line) {
        return line.find(reason) != std::string::npos;
    }));
    EXPECT_TRUE(Told("These drives cannot take the method's firmware sanitize"));
    EXPECT_TRUE(OldData("nvme.img"));
    EXPECT_TRUE(OldData("ata.img"));
    EXPECT_FALSE(Got(1, 0x84));
}

TEST_P(FirmwareOnSimTest, ADriveReportingFailureIsAFailedWipe) {
    Nvme()["fault"] = "failure";
    BootMachine();
    Wipe(kCryptoMethod, {kNvme});
    EXPECT_TRUE(Told(CatalogueText("ErrorXFirmware")));
    EXPECT_TRUE(Told("the drive reported the sanitize as failed (SSTAT 0003h)"));
    EXPECT_TRUE(OldData("nvme.img", kDisk / 2 + 512 * 1024, kDisk)); // half erased
    EXPECT_TRUE(Reported("Drive's completion status: failed (SSTAT 0003h)"));
    EXPECT_TRUE(Reported("Verification: not done"));
    const json drive = Record()["drives"][0];
    EXPECT_EQ(drive["outcome"], "failed");
    EXPECT_EQ(drive["firmware"]["status"], "failed");
    EXPECT_EQ(drive["nistCategory"], "none"); // a failed sanitize purged nothing
    EXPECT_TRUE(drive["firmware"]["verification"].is_null());
}

TEST_P(FirmwareOnSimTest, ALyingDriveIsCaughtByTheVerification) {
    Ata()["fault"] = "lies";
    BootMachine();
    Wipe(kBlockMethod, {kAta});
    EXPECT_TRUE(Got(2, 0xB4));
    EXPECT_TRUE(OldData("ata.img"));
    EXPECT_TRUE(Told("66 of 66 sampled blocks still hold their old data"));
    EXPECT_TRUE(Reported("Drive's completion status: completed"));
    EXPECT_TRUE(Reported("0 changed, 0 held no data, 66 still held old data"));
    const json drive = Record()["drives"][0];
    EXPECT_EQ(drive["outcome"], "failed");
    EXPECT_EQ(drive["firmware"]["verification"]["unchanged"], 66);
}

TEST_P(FirmwareOnSimTest, ARefusedCommandIsAFailedWipeWithTheMediaUntouched) {
    Nvme()["fault"] = "refused";
    BootMachine();
    Wipe(kCryptoMethod, {kNvme});
    EXPECT_TRUE(Told("the drive refused the command " + std::string(kNvmeCrypto)));
    EXPECT_TRUE(OldData("nvme.img"));
    EXPECT_TRUE(Reported("Drive's completion status: not accepted by the drive"));
    EXPECT_TRUE(Reported("Verification: not done"));
    EXPECT_EQ(Record()["drives"][0]["firmware"]["status"], "not accepted");
    EXPECT_EQ(Record()["drives"][0]["outcome"], "failed");
}

TEST_P(FirmwareOnSimTest, ADriveThatNeverFinishesFailsAtTheLimitChosenFromItsEstimate) {
    Nvme()["fault"] = "neverFinishes";
    BootMachine();
    const DWORD before = pc_->kernel().GetTickCount();
    Wipe(kCryptoMethod, {kNvme});
    // An estimate of 120 s gives max(600 s, 2 x 120 s + 300 s): on the fixed clock the polls
    // pass it at once.
    const DWORD elapsed = pc_->kernel().GetTickCount() - before;
    EXPECT_GE(elapsed, 600'000u);
    EXPECT_LT(elapsed, 700'000u);
    EXPECT_TRUE(Told("the drive had not finished within 600 seconds"));
    EXPECT_TRUE(Reported("Drive's completion status: not finished within the time limit"));
    EXPECT_EQ(Record()["drives"][0]["firmware"]["status"], "timed out");
    EXPECT_EQ(Record()["drives"][0]["outcome"], "failed");
    EXPECT_TRUE(OldData("nvme.img"));
}

TEST_P(FirmwareOnSimTest, WithoutSanitizeAnAtaDriveIsSecurityErasedAndItsPasswordIsGone) {
    Ata() = {{"commandSet", "ata"}, {"securityErase", true}, {"estimatedSeconds", 240}};
    BootMachine();
    Wipe(kBlockMethod, {kAta});
    EXPECT_TRUE(Confirms("      Command: ATA SECURITY ERASE UNIT, normal (F4h)"));
    EXPECT_TRUE(All("ata.img", 0, kDisk, 0x00));
    // SET PASSWORD, ERASE PREPARE, ERASE UNIT in that order; the drive has no password after.
    const auto codes = Commands(2);
    const auto set = std::find(codes.begin(), codes.end(), 0xF1);
    const auto prepare = std::find(codes.begin(), codes.end(), 0xF3);
    const auto erase = std::find(codes.begin(), codes.end(), 0xF4);
    EXPECT_TRUE(set < prepare && prepare + 1 == erase && erase != codes.end());
    EXPECT_FALSE(pc_->machine().disks[2].firmware->passwordSet);
    EXPECT_TRUE(Reported("Firmware sanitize command: ATA SECURITY ERASE UNIT, normal (F4h)"));
    EXPECT_FALSE(Reported("could not be removed"));
    const json drive = Record()["drives"][0];
    EXPECT_EQ(drive["outcome"], "completed");
    EXPECT_EQ(drive["firmware"]["password"], "removed");
}

// A drive that keeps the temporary password and refuses to disable it: its media is erased,
// and the user is given the password to unlock it in a box, the report and the record.
TEST_P(FirmwareOnSimTest, APasswordTheDriveKeptIsShownSoTheDriveCanBeUnlocked) {
    Ata() = {{"commandSet", "ata"},
             {"securityErase", true},
             {"keepsPassword", true},
             {"refusesDisable", true}};
    BootMachine();
    Wipe(kBlockMethod, {kAta});
    EXPECT_TRUE(All("ata.img", 0, kDisk, 0x00));
    EXPECT_TRUE(pc_->machine().disks[2].firmware->passwordSet);
    const std::string password = "Purgelet temporary erase pwd";
    EXPECT_TRUE(Told(std::string(kAta) + ": the temporary security password set for its erase "
                                         "could not be removed"));
    EXPECT_TRUE(Told("Unlock it with the user password \"" + password + "\""));
    EXPECT_TRUE(Reported("could not be removed: the drive may ask for it. Unlock it with the "
                         "user password \"" +
                         password + "\""));
    const json drive = Record()["drives"][0];
    EXPECT_EQ(drive["firmware"]["password"], "not removed");
    EXPECT_EQ(drive["firmware"]["passwordLeft"], password);
}

TEST_P(FirmwareOnSimTest, FirmwareThenAZeroPassLeavesZerosReadBack) {
    BootMachine();
    Wipe("Firmware sanitize, then one zero pass and verification", {kNvme});
    EXPECT_TRUE(Got(1, 0x84));
    EXPECT_TRUE(All("nvme.img", 0, kDisk, 0x00));
    EXPECT_TRUE(Reported(kAllChanged));
    const json drive = Record()["drives"][0];
    EXPECT_EQ(drive["outcome"], "completed");
    EXPECT_EQ(drive["verification"]["blocksRead"], kDisk / 512);
    EXPECT_EQ(drive["firmware"]["status"], "completed");
}

TEST_P(FirmwareOnSimTest, TwoDrivesSanitizedAtOnce) {
    machine_["registry"]["HKEY_CURRENT_USER"]["Software\\Quillon\\Purgelet 2005"]
            ["WipeInParallel"] = "1";
    BootMachine();
    Wipe(kCryptoMethod, {kNvme, kAta});
    EXPECT_TRUE(Noise("nvme.img"));
    EXPECT_TRUE(Noise("ata.img"));
    EXPECT_TRUE(Reported("Firmware sanitize command: " + std::string(kNvmeCrypto)));
    EXPECT_TRUE(Reported("Firmware sanitize command: " + std::string(kAtaCrypto)));
    const json record = Record();
    ASSERT_EQ(record["drives"].size(), 2u);
    for (const json& drive : record["drives"]) {
        EXPECT_EQ(drive["outcome"], "completed") << drive.dump();
        EXPECT_EQ(drive["firmware"]["verification"]["changed"], 66) << drive.dump();
    }
    EXPECT_EQ(record["run"]["outcome"], "completed");
    EXPECT_EQ(pc_->kernel().OpenDeviceHandles(), 0u);
}

// The unattended run names drive letters only, and a drive letter is no whole disk: the
// firmware method is refused before anything is written, and the run fails.
TEST_P(FirmwareOnSimTest, AnUnattendedRunRefusesTheFirmwareMethodOnADriveLetter) {
    BootMachine();
    Fill("disk.img", 0xAA);
    const TCommandLine line =
        ParseCommandLine({"--batch", "--method", kCryptoMethod, "/R" + report_, "D"}, true);
    ASSERT_EQ(line.Mode, TCommandMode::Batch) << line.Error;
    std::string out, err;
    const int status = RunBatch(line.Batch, {[&](const std::string& text) { out += text; },
                                             [&](const std::string& text) { err += text; }});
    EXPECT_NE(status, 0);
    EXPECT_NE(out.find("drive D error: DATA (D:): cannot be sanitized: not a whole disk"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("go back"), std::string::npos) << out;
    EXPECT_NE(out.find("run ended: refused, exit status 1"), std::string::npos) << out;
    // Nothing was written, so no report: no word of one that could not be written.
    EXPECT_EQ(out.find("report file"), std::string::npos) << out;
    EXPECT_TRUE(All("disk.img", kPartD, kPartLength, 0xAA));
    EXPECT_TRUE(OldData("nvme.img"));
    EXPECT_TRUE(OldData("ata.img"));
}

} // namespace
} // namespace purgelet::testing
