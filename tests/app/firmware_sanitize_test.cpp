// A whole disk wiped by its own firmware sanitize through the wizard, against a drive of the
// test's own behind the disk's probe: the method page and the confirmation name the command,
// a drive that cannot take it stops the run before anything is written, the run follows the
// drive, refuses Abort while it works, verifies the sampled blocks and reports the outcome.
#include "program_fixture.h"

#include "disk/nt/nt_disk.h"
#include "lang/catalogue.h"
#include "sanitize/firmware_drive.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace purgelet::testing {
namespace {

using ui::TWizardButton;

constexpr std::int64_t kDataDisk = 16 * 16 * 64 * 512; // 8 MiB
constexpr const char* kCrypto = "NVMe Sanitize, crypto erase (84h, SANACT 100b)";

nlohmann::json FirmwareMachine() {
    auto machine = ProgramMachine();
    machine["registry"]["HKEY_CURRENT_USER"]["Software\\Quillon\\Purgelet 2005"]["RecordFile"] =
        "1";
    machine["registry"]["HKEY_CURRENT_USER"]["Software\\Quillon\\Purgelet 2005"]["ShowWholeDisks"] =
        "1";
    machine["physicalDisks"].push_back(nlohmann::json::parse(R"J(
        {"friendlyName": "SIM NVME 1", "deviceNumber": 1, "image": "data.img",
         "geometry": {"cylinders": 16, "tracksPerCylinder": 16, "sectorsPerTrack": 64,
                      "bytesPerSector": 512}})J"));
    return machine;
}

// What the test's drive does when asked.
struct TScript {
    TFirmwareRefusal refusal = TFirmwareRefusal::None;
    TFirmwareStatus status = TFirmwareStatus::Completed;
    std::function<void()> effect; // what the drive does to the media
    std::function<void()> during; // run while the drive works (after it took the command)
    int runs = 0;
    int probes = 0;
};

class ScriptedDrive : public TFirmwareDrive {
public:
    explicit ScriptedDrive(TScript& script) : script_(script) {}
    TCommandSet CommandSet() const override { return TCommandSet::Nvme; }
    std::string Model() const override { return "SIM NVME 1"; }
    TFirmwareChoice Choose(TFirmwareOperation, TFirmwareScope) const override {
        TFirmwareChoice choice;
        choice.Refusal = script_.refusal;
        if (choice.Possible())
            choice.Command = kCrypto;
        choice.EstimatedSeconds = 10;
        choice.LimitSeconds = 60;
        return choice;
    }
    TFirmwareResult Run(TFirmwareOperation, TFirmwareScope,
                        const TFirmwareObserver& observer) override {
        ++script_.runs;
        TFirmwareResult result;
        result.Command = kCrypto;
        result.Status = script_.status;
        if (script_.status == TFirmwareStatus::NotAccepted)
            return result;
        result.Accepted = true;
        observer.Accepted();
        for (std::uint32_t poll = 0; poll < 3; ++poll) {
            if (poll == 1 && script_.during)
                script_.during();
            observer.Progress(std::nullopt, poll * 4);
        }
        if (script_.status == TFirmwareStatus::Completed && script_.effect)
            script_.effect();
        result.DriveStatus =
            script_.status == TFirmwareStatus::Completed ? "SSTAT 0101h" : "SSTAT 0103h";
        return result;
    }

private:
    TScript& script_;
};

class FirmwareSanitizeTest : public ProgramTest {
protected:
    void SetUp() override {
        Boot(FirmwareMachine());
        std::vector<std::uint8_t> data(static_cast<std::size_t>(kDataDisk));
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<std::uint8_t>(i * 7 % 251);
        pc_->WriteImage("data.img", 0, data);
        report_ = (pc_->folder() / "run.log").string();
    }
    TNTPhysicalDisk* Disk() {
        auto& list = Main().lwDisksList;
        for (int i = 0; i < list.Count(); ++i)
            if (auto* whole = TFrmMain::WholeDiskOf(list.Items(i));
                whole && whole->Description == "SIM NVME 1")
                return dynamic_cast<TNTPhysicalDisk*>(whole);
        return nullptr;
    }
    // Ticks the disk behind the test's drive and chooses the method by name, then goes to the
    // confirmation with a report.
    // The whole run with the method: started from the confirmation, every question answered Ok.
    void RunWith(const std::string& methodName) {
        ScriptToConfirmation(methodName);
        host_.Press(TWizardButton::Next);
        host_.AnswerRest(mrOk);
        Run();
    }
    void ScriptToConfirmation(const std::string& methodName) {
        host_.Press(TWizardButton::Next); // the drive page
        host_.Then([this] {
            TNTPhysicalDisk* disk = Disk();
            ASSERT_NE(disk, nullptr);
            disk->FirmwareProbe = [this](HANDLE) {
                ++script_.probes;
                return std::make_unique<ScriptedDrive>(script_);
            };
            auto& list = Main().lwDisksList;
            for (int i = 0; i < list.Count(); ++i)
                if (TFrmMain::WholeDiskOf(list.Items(i)) == disk)
                    list.UserToggle(i);
        });
        host_.Press(TWizardButton::Next);
        ScriptChooseMethod(methodName, description_);
        host_.Press(TWizardButton::Next);
        host_.Toggle("cbGenerateReport").Type("edtLogFileName", report_);
        host_.Press(TWizardButton::Next);
    }
    bool Unchanged() const { return !All("data.img", 0, kDataDisk, 0x00) && Same(); }
    bool Same() const {
        const auto bytes = pc_->ReadImage("data.img", 0, kDataDisk);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            if (bytes[i] != static_cast<std::uint8_t>(i * 7 % 251))
                return false;
        return true;
    }

    TScript script_;
    std::string report_;
    std::string description_;
};

TEST_F(FirmwareSanitizeTest, CryptoEraseIsNamedSentFollowedVerifiedAndReported) {
    script_.effect = [this] {
        std::vector<std::uint8_t> noise(static_cast<std::size_t>(kDataDisk));
        std::uint32_t x = 12345;
        for (auto& b : noise)
            b = static_cast<std::uint8_t>((x = x * 1103515245u + 12345u) >> 24);
        pc_->WriteImage("data.img", 0, noise);
    };
    ASSERT_EQ(Start(), 0);
    RunWith("Firmware sanitize: crypto erase");
    EXPECT_NE(description_.find("Firmware sanitize on the selected drives:\nSIM NVME 1: " +
                                std::string(kCrypto)),
              std::string::npos)
        << description_;
    const auto& lines = Main().mmOperations.Lines;
    EXPECT_NE(std::find(lines.begin(), lines.end(), "      Command: " + std::string(kCrypto)),
              lines.end());
    EXPECT_EQ(script_.runs, 1);
    EXPECT_EQ(script_.probes, 2); // once for the pages, once on the device opened for writing
    EXPECT_FALSE(Same());
    const std::string text = ReadFile(report_);
    EXPECT_NE(text.find("Firmware sanitize command: " + std::string(kCrypto)), std::string::npos)
        << text;
    EXPECT_NE(text.find("Drive's completion status: completed (SSTAT 0101h)"), std::string::npos)
        << text;
    EXPECT_NE(text.find("Verification: 66 blocks sampled, 66 changed, 0 held no data, 0 still "
                        "held old data"),
              std::string::npos)
        << text;
    EXPECT_EQ(pc_->kernel().OpenDeviceHandles(), 0u);
}

TEST_F(FirmwareSanitizeTest, AFrozenDriveIsToldBeforeTheRunAndTheUserMayGoBack) {
    script_.refusal = TFirmwareRefusal::Frozen;
    ASSERT_EQ(Start(), 0);
    ScriptToConfirmation("Firmware sanitize: crypto erase");
    host_.Press(TWizardButton::Next); // refused: stays on the confirmation
    host_.Then([this] { EXPECT_EQ(Main().JvWizard.ActivePage(), &Main().JvWIPConfirmation); });
    host_.Press(TWizardButton::Back);
    host_.AnswerRest(mrOk);
    Run();
    EXPECT_NE(description_.find("suspend and resume the computer, or re-plug the drive"),
              std::string::npos)
        << description_;
    EXPECT_TRUE(Told("These drives cannot take the method's firmware sanitize"));
    EXPECT_EQ(script_.runs, 0);
    EXPECT_TRUE(Same());
}

TEST_F(FirmwareSanitizeTest, ALyingDriveFailsTheVerificationAndAbortIsRefusedWhileItWorks) {
    script_.during = [this] {
        Main().btnAbortClick();
        EXPECT_FALSE(Main().btnPause.Enabled());
    };
    ASSERT_EQ(Start(), 0);
    RunWith("Firmware sanitize: crypto erase");
    EXPECT_EQ(script_.runs, 1);
    EXPECT_TRUE(Same());
    EXPECT_TRUE(Told(CatalogueText("FIRMWARE_NOABORT")));
    EXPECT_TRUE(Told("66 of 66 sampled blocks still hold their old data"));
    const std::string text = ReadFile(report_);
    EXPECT_NE(text.find("0 changed, 0 held no data, 66 still held old data"), std::string::npos)
        << text;
    EXPECT_EQ(text.find("Wipe Completed"), std::string::npos);
}

// An abort that reaches the run while the drive erases itself (a stop request from outside,
// which does not ask the wipe page) waits for the drive: once its erase completed and passed
// the verification the drive is erased, and so recorded; the run is aborted.
TEST_F(FirmwareSanitizeTest, AnAbortMetAfterAVerifiedEraseLeavesTheDriveCompleted) {
    script_.during = [this] {
        Main().DiskManager().RequestAbort(CatalogueText("USERABORTMESSAGE"));
    };
    script_.effect = [this] {
        pc_->WriteImage("data.img", 0, std::vector<std::uint8_t>(kDataDisk, 0x5A));
    };
    ASSERT_EQ(Start(), 0);
    RunWith("Firmware sanitize: crypto erase");
    EXPECT_EQ(script_.runs, 1);
    EXPECT_TRUE(All("data.img", 0, kDataDisk, 0x5A));
    const auto runs = nlohmann::json::parse(ReadFile(report_ + ".json"));
    EXPECT_EQ(runs[0]["drives"][0]["outcome"], "completed") << runs.dump(2);
    EXPECT_EQ(runs[0]["run"]["outcome"], "aborted");
    const std::string text = ReadFile(report_);
    EXPECT_NE(text.find("66 changed, 0 held no data, 0 still held old data"), std::string::npos)
        << text;
    EXPECT_NE(text.find(CatalogueText("SANITIZEABORTEDAT", "report")), std::string::npos) << text;
}

TEST_F(FirmwareSanitizeTest, ADriveReportingFailureIsAFailedWipe) {
    script_.status = TFirmwareStatus::Failed;
    ASSERT_EQ(Start(), 0);
    RunWith("Firmware sanitize: crypto erase");
    EXPECT_EQ(script_.runs, 1);
    EXPECT_TRUE(Told(CatalogueText("ErrorXFirmware")));
    EXPECT_TRUE(Told("the drive reported the sanitize as failed (SSTAT 0103h)"));
    const std::string text = ReadFile(report_);
    EXPECT_NE(text.find("Drive's completion status: failed (SSTAT 0103h)"), std::string::npos)
        << text;
    EXPECT_NE(text.find("Verification: not done"), std::string::npos) << text;
    const auto runs = nlohmann::json::parse(ReadFile(report_ + ".json"));
    EXPECT_EQ(runs[0]["drives"][0]["outcome"], "failed");
}

TEST_F(FirmwareSanitizeTest, FirmwareThenAZeroPassWithVerification) {
    script_.effect = [this] {
        pc_->WriteImage("data.img", 0, std::vector<std::uint8_t>(kDataDisk, 0x5A));
    };
    ASSERT_EQ(Start(), 0);
    RunWith("Firmware sanitize, then one zero pass and verification");
    EXPECT_EQ(script_.runs, 1);
    EXPECT_TRUE(All("data.img", 0, kDataDisk, 0x00));
    const std::string text = ReadFile(report_);
    EXPECT_NE(text.find("66 changed"), std::string::npos) << text;
}

// ---- Two drives sanitized at once: one working on its own erase holds only itself.

class FirmwareTwoDrivesTest : public ProgramTest {
protected:
    void SetUp() override {
        auto machine = FirmwareMachine();
        machine["registry"]["HKEY_CURRENT_USER"]["Software\\Quillon\\Purgelet 2005"]
               ["WipeInParallel"] = "1";
        machine["physicalDisks"].push_back(nlohmann::json::parse(R"J(
            {"friendlyName": "SIM NVME 2", "deviceNumber": 2, "image": "data2.img",
             "geometry": {"cylinders": 16, "tracksPerCylinder": 16, "sectorsPerTrack": 64,
                          "bytesPerSector": 512}})J"));
        Boot(machine);
        Fill("data.img", 0xAA);
        Fill("data2.img", 0xAA);
        report_ = (pc_->folder() / "run.log").string();
    }
    // Releases both drives' threads.
    void Release() {
        {
            const std::lock_guard<std::mutex> hold(lock_);
            released_ = true;
        }
        changed_.notify_all();
    }
    void WaitForRelease() {
        std::unique_lock<std::mutex> hold(lock_);
        changed_.wait(hold, [this] { return released_; });
    }

    TScript first_, second_;
    std::atomic<bool> firstBusy_{false}, secondProbing_{false};
    std::mutex lock_;
    std::condition_variable changed_;
    bool released_ = false;
    std::string report_, description_;
};

// SIM NVME 1 has taken its command and works on it while SIM NVME 2 has not sent its own yet:
// Pause and Abort stay for SIM NVME 2, Abort is asked for as usual (not refused), and stops
// SIM NVME 2 before its command while SIM NVME 1 finishes its erase.
TEST_F(FirmwareTwoDrivesTest, ADriveBusyWithItsEraseHoldsOnlyItselfFromPauseAndAbort) {
    first_.effect = [this] {
        pc_->WriteImage("data.img", 0, std::vector<std::uint8_t>(kDataDisk, 0x00));
    };
    first_.during = [this] {
        firstBusy_ = true;
        WaitForRelease();
    };
    ASSERT_EQ(Start(), 0);
    host_.Press(TWizardButton::Next); // the drive page
    host_.Then([this] {
        auto& list = Main().lwDisksList;
        for (int i = 0; i < list.Count(); ++i) {
            auto* whole = dynamic_cast<TNTPhysicalDisk*>(TFrmMain::WholeDiskOf(list.Items(i)));
            if (whole == nullptr || whole->Description.rfind("SIM NVME", 0) != 0)
                continue;
            const bool first = whole->Description == "SIM NVME 1";
            TScript& script = first ? first_ : second_;
            whole->FirmwareProbe = [this, &script, first](HANDLE) {
                // The second drive's probe on its device opened for writing waits for the
                // test: its command is not sent while the first drive works.
                if (++script.probes == 2 && !first) {
                    secondProbing_ = true;
                    WaitForRelease();
                }
                return std::make_unique<ScriptedDrive>(script);
            };
            list.UserToggle(i);
        }
    });
    host_.Press(TWizardButton::Next);
    ScriptChooseMethod("Firmware sanitize: crypto erase", description_);
    host_.Press(TWizardButton::Next);
    host_.Toggle("cbGenerateReport").Type("edtLogFileName", report_);
    host_.Press(TWizardButton::Next);
    host_.Press(TWizardButton::Next);
    bool pauseEnabled = false, abortEnabled = false, clicked = false;
    int looks = 0;
    // A few looks at the window after both drives are where the test holds them, so that the
    // progress refresh has seen the first drive busy.
    host_.When([&] { return firstBusy_ && secondProbing_ && ++looks > 3; },
               [&] {
                   pauseEnabled = Main().btnPause.Enabled();
                   abortEnabled = Main().btnAbort.Enabled();
                   host_.Answer(mrYes);
                   Main().btnAbortClick();
                   clicked = true;
               });
    // Once the run has taken the abort over, the drives go on.
    host_.When([&] { return clicked && !Main().DiskManager().PendingAbort.has_value(); },
               [&] { Release(); });
    host_.AnswerRest(mrOk);
    Run();

    EXPECT_TRUE(pauseEnabled);
    EXPECT_TRUE(abortEnabled);
    EXPECT_TRUE(Told(CatalogueText("ABORT_CONFIRM")));
    EXPECT_FALSE(Told(CatalogueText("FIRMWARE_NOABORT")));
    // The busy drive finished its erase; the other never got its command.
    EXPECT_EQ(first_.runs, 1);
    EXPECT_TRUE(All("data.img", 0, kDataDisk, 0x00));
    EXPECT_EQ(second_.runs, 0);
    EXPECT_TRUE(All("data2.img", 0, kDataDisk, 0xAA));
    const auto runs = nlohmann::json::parse(ReadFile(report_ + ".json"));
    ASSERT_EQ(runs[0]["drives"].size(), 2u) << runs.dump(2);
    EXPECT_EQ(runs[0]["drives"][1]["outcome"], "aborted");
    EXPECT_EQ(pc_->kernel().OpenDeviceHandles(), 0u);
}

} // namespace
} // namespace purgelet::testing
