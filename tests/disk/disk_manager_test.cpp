// The disk manager against simulated machines: detection in its order with the questions of
// failed creations, owners by device number, the lists' ownership, and the GUI manager's
// unattended answers, pause and abort. Disk objects are made by test classes here, so that
// each failure can be placed exactly; the end-to-end test uses the NT classes.
#include "disk/disk_manager.h"
#include "disk/nt/floppy.h"
#include "disk/nt/nt_disk.h"
#include "disk/win9x/win9x_disk.h"
#include "platform/sim/setupapi.h"
#include "platform/sim/sim.h"
#include "platform/system.h"
#include "report/errorlog.h"
#include "report/exceptions.h"
#include "report/report.h"
#include "support/memory_disk.h"
#include "ui/scripted_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

namespace purgelet {
namespace {

using nlohmann::json;

// What the test classes made and freed.
struct ManagerDiskLog {
    std::vector<std::string> attempts; // every creation attempt, by name
    std::vector<std::string> freed;    // destructor calls, by name
};

class ManagerTestDisk : public TDisk {
public:
    ManagerTestDisk(std::string name, TMessageObject* owner, ManagerDiskLog& log)
        : TDisk(std::move(name), owner), log_(log) {}
    ~ManagerTestDisk() override { log_.freed.push_back(Name); }
    void Wipe(TWipeContext&) override {}
    void init() override {}
    void Open(bool readOnly) override { ReadOnly = readOnly; }
    void Close() override {}

private:
    ManagerDiskLog& log_;
};

class ManagerTestDevice : public TOpticalDevice {
public:
    explicit ManagerTestDevice(bool canWrite) : canWrite_(canWrite) {}
    bool CanWrite() override { return canWrite_; }
    std::uint8_t Eject() override { return 0; }
    std::uint8_t Blank(bool, const TBusyEvent&) override { return 0; }
    std::uint8_t ReadCapabilities() override { return 0; }
    bool PrepareToWrite(TDiscStatus&) override { return false; }
    bool WriteImage(TWriteReport&, std::istream&, TBurningIO*) override { return false; }

protected:
    TScsiResult Send(const TCdb&, std::uint8_t*) override { return {}; }
    std::uint8_t ExecuteImmediate(const TCdb&, const std::function<bool()>&) override { return 0; }

private:
    bool canWrite_;
};

class ManagerTestDevices : public TOpticalDevices {
public:
    explicit ManagerTestDevices(std::vector<bool> writers) {
        for (bool writer : writers)
            devices_.push_back(std::make_unique<ManagerTestDevice>(writer));
    }
    std::size_t Count() const override { return devices_.size(); }
    TOpticalDevice& Items(std::size_t index) override { return *devices_.at(index); }

private:
    std::vector<std::unique_ptr<ManagerTestDevice>> devices_;
};

// Test classes: every creation is logged; a name may fail a number of times first (-1:
// always); device numbers and drive types by name.
struct ManagerTestClasses {
    ManagerDiskLog log;
    std::map<std::string, int> failures;
    std::map<std::string, std::int32_t> deviceNumbers;
    std::vector<bool> opticalWriters;

    std::unique_ptr<TDisk> Make(const std::string& name, TMessageObject* owner,
                                std::uint8_t driveType) {
        log.attempts.push_back(name);
        auto failure = failures.find(name);
        if (failure != failures.end() && failure->second != 0) {
            if (failure->second > 0)
                --failure->second;
            throw XSystemCall("ManagerTestDisk.init - cannot open " + name);
        }
        auto disk = std::make_unique<ManagerTestDisk>(name, owner, log);
        disk->DriveType = driveType;
        auto number = deviceNumbers.find(name);
        disk->DeviceNumber = number == deviceNumbers.end() ? 0 : number->second;
        return disk;
    }

    TDiskClasses Classes() {
        TDiskClasses classes;
        classes.FloppyClass = [this](const std::string& name, TMessageObject* owner) {
            return Make(name, owner, 2);
        };
        classes.LogicalDiskClass = [this](const std::string& name, TMessageObject* owner) {
            return Make(name, owner, 1);
        };
        classes.PhysicalDiskClass = [this](const std::string& name, TMessageObject* owner,
                                           const std::string& description) {
            auto disk = Make(name, owner, 1);
            disk->Description = description;
            return disk;
        };
        classes.OpticalDiskClass = [this](TMessageObject* owner, TOpticalDevice&) {
            return Make("optical", owner, 5);
        };
        return classes;
    }

    TDiskManager::OpticalDevicesFactory Optical() {
        return [this] { return std::make_unique<ManagerTestDevices>(opticalWriters); };
    }
};

// A simulated machine of the test, installed for the fixture's lifetime.
class DiskManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> counter{0};
        folder_ = std::filesystem::temp_directory_path() /
                  ("purgelet-manager-" +
                   std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
                   "-" + std::to_string(counter++));
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override {
        CurrentReport.reset(); // a failed test must not leave its report to the next
        SetReportInputQuery(nullptr);
        scope_.reset();
        machine_.reset();
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    // Two physical disks (device numbers 0 and 1, each with one partition C and D), a
    // floppy A, a network drive N and an optical drive R.
    static json StandardMachine() {
        return json::parse(R"({
          "platform": "NT",
          "physicalDisks": [
            {"friendlyName": "SIM DISK ZERO", "image": "disk0.img", "deviceNumber": 0},
            {"friendlyName": "SIM DISK ONE", "image": "disk1.img", "deviceNumber": 1}
          ],
          "drives": [
            {"letter": "A", "kind": "floppy"},
            {"letter": "C", "kind": "fixed", "disk": 0},
            {"letter": "D", "kind": "fixed", "disk": 1},
            {"letter": "N", "kind": "network", "image": "net.img", "size": 65536},
            {"letter": "R", "kind": "cdrom", "image": "cd.img", "size": 65536}
          ]})");
    }

    void InstallMachine(const json& file) {
        scope_.reset(); // the machine before goes first, or it would put back its own previous
        machine_ = platform::sim::Machine::Parse(file, folder_);
        scope_ = std::make_unique<platform::ScopedSystem>(platform::sim::CreateSimSystem(machine_));
    }

    platform::sim::SimSetupApi& SetupApi() {
        return dynamic_cast<platform::sim::SimSetupApi&>(*platform::sys().setupapi);
    }

    static std::vector<std::string> Names(const TDiskList& list) {
        std::vector<std::string> names;
        for (int i = 0; i < list.Count(); ++i)
            names.push_back(list.Items(i)->Name);
        return names;
    }

    std::filesystem::path folder_;
    std::shared_ptr<platform::sim::Machine> machine_;
    std::unique_ptr<platform::ScopedSystem> scope_;
    ManagerTestClasses classes_;
    ui::ScriptedHost host_;
};

const std::string kPath0 =
    "\\\\?\\ide#disksim_harddisk#5&sim&0&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
const std::string kPath1 =
    "\\\\?\\ide#disksim_harddisk#5&sim&0&1#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

TEST_F(DiskManagerTest, DetectsLettersOpticalAndPhysicalDisksInOrder) {
    InstallMachine(StandardMachine());
    classes_.opticalWriters = {false, true};
    classes_.deviceNumbers = {{"C", 0}, {"D", 1}, {kPath0, 0}, {kPath1, 1}};
    TDiskManager manager(classes_.Classes(), classes_.Optical());
    manager.Detect();

    // Network and optical drive letters are not disk objects of their own.
    EXPECT_EQ(Names(manager.LogicalDisks), (std::vector<std::string>{"A", "C", "D"}));
    EXPECT_EQ(classes_.log.attempts,
              (std::vector<std::string>{"A", "C", "D", "optical", kPath0, kPath1}));
    EXPECT_EQ(manager.OpticalDisks.Count(), 1);
    ASSERT_NE(manager.OpticalDevices, nullptr);
    EXPECT_EQ(manager.OpticalDevices->Count(), 2u);
    ASSERT_EQ(manager.PhysicalDisks.Count(), 2);
    EXPECT_EQ(manager.PhysicalDisks.Items(0)->Description, "SIM DISK ZERO");
    EXPECT_EQ(manager.PhysicalDisks.Items(1)->Description, "SIM DISK ONE");
    EXPECT_EQ(manager.LocalDiskCount(), 2);
    EXPECT_EQ(manager.FloppyCount(), 1);
    EXPECT_EQ(manager.RemovableDiskCount(), 0);
    EXPECT_EQ(manager.OpticalDiskCount(), 1);
    EXPECT_EQ(TDiskManager::CountByDriveType(nullptr, 1), 0);
    EXPECT_EQ(SetupApi().OpenSets(), 0);
}

TEST_F(DiskManagerTest, OwnersByDeviceNumberFirstPhysicalDiskWins) {
    InstallMachine(StandardMachine());
    // Both physical disks claim device number 1; C tells no device number.
    classes_.deviceNumbers = {{"A", -1}, {"C", -1}, {"D", 1}, {kPath0, 1}, {kPath1, 1}};
    TDiskManager manager(classes_.Classes(), classes_.Optical());
    manager.Detect();
    ASSERT_EQ(manager.LogicalDisks.Count(), 3);
    EXPECT_EQ(manager.LogicalDisks.Items(0)->OwnerDisk, nullptr);
    EXPECT_EQ(manager.LogicalDisks.Items(1)->OwnerDisk, nullptr);
    EXPECT_EQ(manager.LogicalDisks.Items(2)->OwnerDisk, manager.PhysicalDisks.Items(0));
}

TEST_F(DiskManagerTest, ALetterWithoutMatchingPhysicalDiskHasNoOwner) {
    InstallMachine(StandardMachine());
    classes_.deviceNumbers = {{"A", -1}, {"C", 7}, {"D", 1}, {kPath0, 0}, {kPath1, 1}};
    TDiskManager manager(classes_.Classes(), classes_.Optical());
    manager.Detect();
    EXPECT_EQ(manager.LogicalDisks.Items(1)->OwnerDisk, nullptr);
    EXPECT_EQ(manager.LogicalDisks.Items(2)->OwnerDisk, manager.PhysicalDisks.Items(1));
}

TEST_F(DiskManagerTest, FailedLetterIsAskedOncePerAttemptRetryMakesItAgain) {
    InstallMachine(StandardMachine());
    classes_.failures = {{"C", 2}};
    host_.Answer(mrRetry).Answer(mrRetry);
    TGUIDiskManager manager(host_, classes_.Classes(), classes_.Optical());
    manager.Detect();
    EXPECT_EQ(Names(manager.LogicalDisks), (std::vector<std::string>{"A", "C", "D"}));
    ASSERT_EQ(host_.dialogs().size(), 2u);
    for (const auto& dialog : host_.dialogs()) {
        EXPECT_EQ(dialog.text, "Error_Detecting\r\nC:\\");
        EXPECT_EQ(dialog.type, TMsgDlgType::mtError);
        EXPECT_EQ(dialog.buttons, mbAbortRetryIgnore);
    }
    EXPECT_EQ(host_.unexpectedDialogs(), 0);
}

TEST_F(DiskManagerTest, IgnoreSkipsTheLetterAndDetectionGoesOn) {
    InstallMachine(StandardMachine());
    classes_.failures = {{"C", -1}};
    host_.Answer(mrIgnore);
    TGUIDiskManager manager(host_, classes_.Classes(), classes_.Optical());
    manager.Detect();
    EXPECT_EQ(Names(manager.LogicalDisks), (std::vector<std::string>{"A", "D"}));
    EXPECT_EQ(manager.PhysicalDisks.Count(), 2);
    EXPECT_EQ(host_.dialogs().size(), 1u);
}

TEST_F(DiskManagerTest, AbortEndsDetectWithTheListsAsFarAsTheyGot) {
    InstallMachine(StandardMachine());
    classes_.failures = {{"D", -1}};
    host_.Answer(mrAbort);
    TGUIDiskManager manager(host_, classes_.Classes(), classes_.Optical());
    EXPECT_THROW(manager.Detect(), XSystemCall);
    EXPECT_EQ(Names(manager.LogicalDisks), (std::vector<std::string>{"A", "C"}));
    EXPECT_EQ(manager.PhysicalDisks.Count(), 0);
    EXPECT_EQ(manager.OpticalDevices, nullptr);
}

TEST_F(DiskManagerTest, FailedPhysicalDiskIsAskedWithItsFriendlyName) {
    InstallMachine(StandardMachine());
    classes_.failures = {{kPath0, 1}, {kPath1, -1}};
    host_.Answer(mrRetry).Answer(mrIgnore);
    TGUIDiskManager manager(host_, classes_.Classes(), classes_.Optical());
    manager.Detect();
    ASSERT_EQ(host_.dialogs().size(), 2u);
    EXPECT_EQ(host_.dialogs()[0].text, "Error_Detecting\r\nSIM DISK ZERO");
    EXPECT_EQ(host_.dialogs()[1].text, "Error_Detecting\r\nSIM DISK ONE");
    EXPECT_EQ(Names(manager.PhysicalDisks), (std::vector<std::string>{kPath0}));
}

TEST_F(DiskManagerTest, PlainManagerAnswersNothingSoAFailureLeavesDetect) {
    InstallMachine(StandardMachine());
    classes_.failures = {{"C", 1}};
    TDiskManager manager(classes_.Classes(), classes_.Optical());
    EXPECT_THROW(manager.Detect(), XSystemCall);
    EXPECT_EQ(Names(manager.LogicalDisks), (std::vector<std::string>{"A"}));
}

TEST_F(DiskManagerTest, FloppyFailureIsNotAsked) {
    InstallMachine(StandardMachine());
    classes_.failures = {{"A", 1}};
    host_.AnswerRest(mrIgnore);
    TGUIDiskManager manager(host_, classes_.Classes(), classes_.Optical());
    EXPECT_THROW(manager.Detect(), XSystemCall);
    EXPECT_TRUE(host_.dialogs().empty());
}

TEST_F(DiskManagerTest, SetupdiFailureLeavesDetect) {
    InstallMachine(StandardMachine());
    SetupApi().devices.fault = {platform::sim::SetupFault::Call::EnumDeviceInfo, 1, 0,
                                ERROR_GEN_FAILURE};
    host_.AnswerRest(mrIgnore);
    TGUIDiskManager manager(host_, classes_.Classes(), classes_.Optical());
    EXPECT_THROW(manager.Detect(), XSetupdi);
    EXPECT_EQ(manager.LogicalDisks.Count(), 3);
    EXPECT_EQ(manager.PhysicalDisks.Count(), 0); // the pairs are made only after enumeration
    EXPECT_TRUE(host_.dialogs().empty());
    EXPECT_EQ(SetupApi().OpenSets(), 0);
}

TEST_F(DiskManagerTest, ClearFreesEveryDiskInListOrder) {
    InstallMachine(StandardMachine());
    classes_.opticalWriters = {true};
    TGUIDiskManager manager(host_, classes_.Classes(), classes_.Optical());
    manager.Detect();
    manager.ReportDisk = manager.LogicalDisks.Items(1);
    manager.Disk = manager.LogicalDisks.Items(1);
    manager.Clear();
    EXPECT_EQ(classes_.log.freed,
              (std::vector<std::string>{"A", "C", "D", "optical", kPath0, kPath1}));
    EXPECT_EQ(manager.LogicalDisks.Count() + manager.OpticalDisks.Count() +
                  manager.PhysicalDisks.Count(),
              0);
    EXPECT_EQ(manager.OpticalDevices, nullptr);
    EXPECT_EQ(manager.ReportDisk, nullptr);
    EXPECT_EQ(manager.Disk, nullptr);
    manager.Clear(); // on empty lists: nothing
    EXPECT_EQ(classes_.log.freed.size(), 6u);
}

TEST_F(DiskManagerTest, DetectAgainReplacesTheDisksInsteadOfAddingTo) {
    InstallMachine(StandardMachine());
    TDiskManager manager(classes_.Classes(), classes_.Optical());
    manager.Detect();
    manager.Detect();
    EXPECT_EQ(manager.LogicalDisks.Count(), 3);
    EXPECT_EQ(manager.PhysicalDisks.Count(), 2);
    EXPECT_EQ(classes_.log.freed.size(), 5u);
}

TEST_F(DiskManagerTest, PlatformChoosesTheClasses) {
    json file = StandardMachine();
    file["platform"] = "9x";
    InstallMachine(file);
    // Windows 9x: the drive letters through the virtual device, and no physical disks even
    // where the system's device list shows some.
    TGUIDiskManager manager(host_);
    manager.Detect();
    EXPECT_TRUE(host_.dialogs().empty());
    ASSERT_EQ(Names(manager.LogicalDisks), (std::vector<std::string>{"A", "C", "D"}));
    EXPECT_NE(dynamic_cast<T9XFloppy*>(manager.LogicalDisks.Items(0)), nullptr);
    EXPECT_NE(dynamic_cast<T9xLogicalDisk*>(manager.LogicalDisks.Items(1)), nullptr);
    EXPECT_EQ(manager.FloppyCount(), 1);
    EXPECT_EQ(manager.PhysicalDisks.Count(), 0);
    EXPECT_EQ(manager.LogicalDisks.Items(1)->OwnerDisk, nullptr);
    EXPECT_FALSE(DiskClassesForPlatform(VER_PLATFORM_WIN32_WINDOWS).PhysicalDiskClass);

    InstallMachine(StandardMachine());
    TGUIDiskManager nt(host_);
    nt.Detect();
    ASSERT_EQ(nt.LogicalDisks.Count(), 3);
    EXPECT_NE(dynamic_cast<TNTFloppy*>(nt.LogicalDisks.Items(0)), nullptr);
    EXPECT_NE(dynamic_cast<TNTLogicalDisk*>(nt.LogicalDisks.Items(1)), nullptr);
    EXPECT_EQ(nt.PhysicalDisks.Count(), 2);
}

// ---- TGUIDiskManager: unattended answers, pause and abort.

TEST_F(DiskManagerTest, UnattendedAnswersWithoutDialog) {
    InstallMachine(StandardMachine());
    TGUIDiskManager manager(host_, classes_.Classes(), classes_.Optical());
    manager.SetUnattended(true);
    for (int kind = 0; kind <= 13; ++kind) {
        const int expected = kind == mkNoFloppy || kind > mkDetecting ? mrNone : mrIgnore;
        EXPECT_EQ(manager.Message(static_cast<MessageKind>(kind), "E", TMsgDlgType::mtError,
                                  mbAbortRetryIgnore),
                  expected)
            << "kind " << kind;
    }
    classes_.failures = {{"C", -1}};
    manager.Detect(); // the unattended Ignore skips the failing letter
    EXPECT_EQ(Names(manager.LogicalDisks), (std::vector<std::string>{"A", "D"}));
    EXPECT_TRUE(host_.dialogs().empty());
}

TEST_F(DiskManagerTest, MessageShowsKindTextAndDetail) {
    InstallMachine(StandardMachine());
    host_.Answer(mrYes).Answer(mrRetry);
    TGUIDiskManager manager(host_, classes_.Classes(), classes_.Optical());
    EXPECT_EQ(manager.Message(mkVerify, "Disk C", TMsgDlgType::mtWarning, mbYesNo), mrYes);
    EXPECT_EQ(manager.Message(mkNoFloppy, "Floppy A", TMsgDlgType::mtError, mbAbortRetry), mrRetry);
    ASSERT_EQ(host_.dialogs().size(), 2u);
    EXPECT_EQ(host_.dialogs()[0].text, "Error_Verify\r\nDisk C");
    EXPECT_EQ(host_.dialogs()[0].buttons, mbYesNo);
    EXPECT_EQ(host_.dialogs()[0].type, TMsgDlgType::mtWarning);
    EXPECT_EQ(host_.dialogs()[1].text, "Unknown error\r\nFloppy A");
}

TEST_F(DiskManagerTest, PendingAbortIsRaisedOnceByUpdateOrMessage) {
    InstallMachine(StandardMachine());
    TGUIDiskManager manager(host_, classes_.Classes(), classes_.Optical());
    int refreshed = 0;
    manager.OnUpdate = [&] { ++refreshed; };
    manager.Update();
    EXPECT_EQ(refreshed, 1);

    manager.RequestAbort("User abort");
    try {
        manager.Update();
        FAIL() << "no XAbort";
    } catch (const XAbort& abort) {
        EXPECT_STREQ(abort.what(), "User abort");
    }
    EXPECT_FALSE(manager.PendingAbort.has_value());
    EXPECT_NO_THROW(manager.Update());
    EXPECT_EQ(refreshed, 2);

    manager.RequestAbort("again");
    manager.SetUnattended(true); // the abort comes before the unattended answer
    EXPECT_THROW(manager.Message(mkWrite, "", TMsgDlgType::mtError, mbAbortRetryIgnore), XAbort);
    EXPECT_TRUE(host_.dialogs().empty());
}

TEST_F(DiskManagerTest, AnAbortIsLoggedWhenRaisedNotWhenOnlyRequested) {
    InstallMachine(StandardMachine());
    TGUIDiskManager manager(host_, classes_.Classes(), classes_.Optical());
    const std::string path =
        (std::filesystem::temp_directory_path() / "purgelet_abort_log_test.log").string();
    ASSERT_TRUE(OpenErrorLog(path));
    const auto lines = [&] {
        std::ifstream in(path, std::ios::binary);
        std::string line;
        int count = 0;
        while (std::getline(in, line))
            ++count;
        return count;
    };
    manager.RequestAbort("asked, then taken back");
    manager.PendingAbort.reset(); // a new run drops an abort asked for after the last one
    manager.RequestAbort("User abort");
    EXPECT_EQ(lines(), 0);
    EXPECT_THROW(manager.Update(), XAbort);
    EXPECT_EQ(lines(), 1);
    CloseErrorLog();
    std::filesystem::remove(path);
}

TEST_F(DiskManagerTest, PauseWaitsPumpingMessagesUntilResumed) {
    InstallMachine(StandardMachine());
    TGUIDiskManager manager(host_, classes_.Classes(), classes_.Optical());
    int refreshed = 0;
    manager.OnUpdate = [&] { ++refreshed; };
    host_.OnProcessMessages(3, [&] { manager.SetPaused(false); });
    manager.SetPaused(true);
    manager.Update();
    EXPECT_EQ(host_.processMessagesCalls(), 3);
    EXPECT_EQ(host_.sleepCalls(), 3);
    EXPECT_EQ(host_.sleptMilliseconds(), 300u);
    EXPECT_EQ(refreshed, 1);
}

TEST_F(DiskManagerTest, AbortRequestedWhilePausedIsRaisedByTheNextCall) {
    InstallMachine(StandardMachine());
    TGUIDiskManager manager(host_, classes_.Classes(), classes_.Optical());
    // The user presses Abort during the pause, then Pause again to resume.
    host_.OnProcessMessages(2, [&] { manager.RequestAbort("Abort while paused"); });
    host_.OnProcessMessages(4, [&] { manager.SetPaused(false); });
    manager.SetPaused(true);
    EXPECT_NO_THROW(manager.Update()); // the waiting call checked before it waited
    EXPECT_TRUE(manager.PendingAbort.has_value());
    EXPECT_THROW(manager.Update(), XAbort);
}

// ---- Questions and answers in the wipe report.

std::string FileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST_F(DiskManagerTest, QuestionsAndDecisionsGoToTheReportWithDoDBlockWarnings) {
    InstallMachine(StandardMachine());
    SetReportInputQuery([](const std::string& caption, const std::string&, std::string& value) {
        value = caption == "Responsible" ? "J. Smith" : "Two test disks";
        return true;
    });
    const auto reportFile = folder_ / "dod.log";
    CurrentReport = std::make_unique<TPLReport>(true, true, false, reportFile.string(),
                                                TReportSettings{"Zero fill"});
    host_.Answer(mrIgnore).Answer(mrYes).Answer(mrAbort);
    {
        TGUIDiskManager manager(host_, classes_.Classes(), classes_.Optical());
        auto disk = MakeDisk<testing::MemoryPhysicalDisk>("X", &manager, 10);
        disk->Open(false); // the warning reads the block, as during a wipe
        TWipeContext wipe;
        wipe.CurrentBlock = 3;
        manager.ReportDisk = disk.get();
        manager.Wipe = &wipe;
        manager.Message(mkWrite, "Disk X", TMsgDlgType::mtError, mbAbortRetryIgnore);
        manager.Message(mkVerify, "Disk X", TMsgDlgType::mtWarning, mbYesNo);
        wipe.CurrentBlock = 7;
        manager.Message(mkRead, "Disk X", TMsgDlgType::mtError, mbAbortRetryIgnore);
        manager.SetUnattended(true); // answered without a dialog, but recorded all the same
        manager.Message(mkWrite, "Disk X", TMsgDlgType::mtError, mbAbortRetryIgnore);
    }
    CurrentReport.reset();
    SetReportInputQuery(nullptr);

    const std::string text = FileText(reportFile);
    const std::string equals(79, '=');
    const std::string warning =
        "\r\n" + equals + "\r\n" +
        "WARNING: The following sector has not been wiped beyond recovery and may\r\n"
        "still contain the original data:\r\n";
    const auto write =
        text.find("Error_Write\r\nDecision: Ignore\r\n" + warning + "Block 3 of 10\r\n00000000: ");
    ASSERT_NE(write, std::string::npos) << text;
    const auto verify = text.find(equals +
                                      "\r\n\r\nError_Verify\r\nDecision: Yes\r\n"
                                      "Error_Read\r\nDecision: Abort\r\n" +
                                      warning + "Block 7 of 10\r\n",
                                  write);
    ASSERT_NE(verify, std::string::npos) << text;
    // The dump of a 512-byte block has 32 rows; the warning ends the question lines.
    const auto rowsFrom = text.find("Block 7 of 10\r\n", verify);
    const auto rowsTo = text.find(equals, rowsFrom);
    std::string rows = text.substr(rowsFrom, rowsTo - rowsFrom);
    EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 33);
    const auto unattended = text.find("Error_Write", write + 1);
    ASSERT_NE(unattended, std::string::npos);
    EXPECT_EQ(text.substr(unattended)
                  .rfind("Error_Write\r\nDecision: Ignore\r\n" + warning + "Block 7 of 10\r\n", 0),
              0u);
    EXPECT_EQ(host_.dialogs().size(), 3u);
}

TEST_F(DiskManagerTest, WithoutReportQuestionsAreStillAsked) {
    InstallMachine(StandardMachine());
    ASSERT_EQ(CurrentReport, nullptr);
    host_.Answer(mrRetry);
    TGUIDiskManager manager(host_, classes_.Classes(), classes_.Optical());
    EXPECT_EQ(manager.Message(mkRead, "Disk X", TMsgDlgType::mtError, mbAbortRetryIgnore), mrRetry);
    EXPECT_EQ(host_.dialogs().size(), 1u);
}

TEST(DiskManagerTexts, ModalResultsByName) {
    const std::vector<std::string> names = {"None",  "Ok",        "Cancel",    "Abort",
                                            "Retry", "Ignore",    "Yes",       "No",
                                            "All",   "No to All", "Yes to All"};
    for (int result = mrNone; result <= mrYesToAll; ++result)
        EXPECT_EQ(TGUIDiskManager::ModalResultText(result),
                  names[static_cast<std::size_t>(result)]);
}

} // namespace
} // namespace purgelet
