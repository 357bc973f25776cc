// Drives wiped at the same time: one thread per device, the questions put to the user one at
// a time on the thread that runs the job, the report whole drive by drive in list order, each
// drive's bytes fixed by the state drawn for it whatever the timing, and Abort and Pause
// acting on every drive.
#include "app/run_record.h"
#include "app/wipe_job.h"

#include "disk/disk_manager.h"
#include "lang/catalogue.h"
#include "lang/language.h"
#include "methods/met_files.h"
#include "methods/method.h"
#include "platform/sim/sim.h"
#include "platform/system.h"
#include "support/memory_disk.h"
#include "support/scratch_folder.h"
#include "support/sim_pc.h"
#include "ui/scripted_host.h"

#include <gtest/gtest.h>

#if defined(__unix__)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace purgelet {
namespace {

namespace fs = std::filesystem;
using testing::MemoryDisk;
using testing::MemoryMedium;

// What the drives of one device share: how many of them are open, and in which order they
// were opened and closed.
struct TDevice {
    std::mutex lock;
    int open = 0;
    bool overlapped = false;
    std::vector<std::string> log;
};

// A memory drive that takes time for each write, may lie on a shared device, and may wait at
// its first write until a number of drives have reached theirs.
struct TMeeting {
    std::mutex lock;
    std::condition_variable arrived;
    int count = 0;
    int expected = 0;
    bool missed = false; // a drive waited in vain: the drives did not run at the same time
};

class SlowDisk : public MemoryDisk {
public:
    SlowDisk(std::string name, TMessageObject* owner, std::int64_t blocks)
        : MemoryDisk(std::move(name), owner, blocks) {}

    std::chrono::microseconds perWrite{0};
    TDevice* device = nullptr;
    TMeeting* meeting = nullptr;

    void Open(bool readOnly) override {
        if (device != nullptr) {
            const std::lock_guard<std::mutex> hold(device->lock);
            device->overlapped = device->overlapped || device->open > 0;
            ++device->open;
            device->log.push_back("open " + Name);
        }
        MemoryDisk::Open(readOnly);
    }
    void Close() override {
        MemoryDisk::Close();
        if (device != nullptr) {
            const std::lock_guard<std::mutex> hold(device->lock);
            --device->open;
            device->log.push_back("close " + Name);
        }
    }
    void WriteBlocks(const void* buffer, std::int32_t count, std::int64_t block) override {
        if (meeting != nullptr && !met_) {
            met_ = true;
            std::unique_lock<std::mutex> hold(meeting->lock);
            ++meeting->count;
            meeting->arrived.notify_all();
            if (!meeting->arrived.wait_for(hold, std::chrono::seconds(10),
                                           [this] { return meeting->count >= meeting->expected; }))
                meeting->missed = true;
        }
        if (perWrite.count() > 0)
            std::this_thread::sleep_for(perWrite);
        MemoryDisk::WriteBlocks(buffer, count, block);
    }

private:
    bool met_ = false;
};

class RecordingView : public TWipeJobView {
public:
    std::vector<std::string> events;
    std::vector<std::string> told;
    std::thread::id thread = std::this_thread::get_id();
    bool otherThread = false; // a call came from a thread other than the job's

    void RunStarting(const TWipeSettings&) override { Note("run"); }
    void DriveStarting(TDisk& disk, const TWipeSettings&) override { Note("start " + disk.Name); }
    void DriveEnded(TDisk& disk) override { Note("end " + disk.Name); }
    void Tell(const std::string& text, TMsgDlgType type) override {
        told.push_back(text);
        Note(type == TMsgDlgType::mtWarning ? "warning" : "error");
    }
    void TellAbout(TDisk& disk, const std::string& text, TMsgDlgType type) override {
        Tell(text, type);
        events.back() += " " + disk.Name;
    }

private:
    void Note(const std::string& event) {
        otherThread = otherThread || std::this_thread::get_id() != thread;
        events.push_back(event);
    }
};

// A host whose user answers by the drive named in the question, takes a little time over it,
// and notices a question shown while another one is.
class WatchingHost : public ui::ScriptedHost {
public:
    struct Shown {
        std::string text;
        std::thread::id thread;
    };
    std::vector<Shown> shown;
    std::atomic<bool> showing{false};
    bool overlapped = false;
    std::function<int(const std::string&)> answer;

    int MessageDialog(const std::string& text, TMsgDlgType, TMsgDlgButtons, int) override {
        overlapped = overlapped || showing.exchange(true);
        shown.push_back({text, std::this_thread::get_id()});
        std::this_thread::sleep_for(std::chrono::milliseconds(20)); // the other drive asks now
        showing = false;
        return answer ? answer(text) : mrNone;
    }
};

class WipeInParallelTest : public ::testing::Test {
protected:
    platform::ScopedSystem system_{platform::sim::CreateSimSystem("")};
    WatchingHost host_;
    TGUIDiskManager manager_{host_};
    std::unique_ptr<method> zero_ = method::CreateFromFile("");
    RecordingView view_;
    testing::ScratchFolder folder_{"purgelet-parallel-"};

    void TearDown() override { CurrentReport.reset(); }

    TWipeSettings Settings() {
        TWipeSettings settings;
        settings.Method = zero_.get();
        settings.Unattended = true;
        settings.WipeInParallel = true;
        settings.BufferBytes = 4096; // 8 blocks a transfer
        return settings;
    }
    std::unique_ptr<SlowDisk> Disk(const std::string& name, std::int64_t blocks = 64) {
        auto disk = MakeDisk<SlowDisk>(name, &manager_, blocks);
        disk->Description = "Disk " + name;
        return disk;
    }
    static bool AllZero(const MemoryDisk& disk) {
        const auto& bytes = disk.medium.bytes;
        return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
    }
    static std::string R(const char* key) { return CatalogueText(key, "report"); }
    static std::string DiskHead(const TDisk& disk) {
        return R("STARS") + "\r\n" + disk.Description + "\r\n" + R("TOTALNUMBEROFSECTORS") +
               std::to_string(disk.BlockCount) + "\r\n" + R("SANITIZINGSTARTEDAT") +
               "2026-01-01 11:00:00 UTC\r\n" + R("LINES") + "\r\n\r\n";
    }
    std::string ReportText() const {
        std::ifstream in(folder_ / "run.log", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

TEST_F(WipeInParallelTest, DrivesOnDifferentDevicesAreWipedAtTheSameTime) {
    TMeeting meeting;
    meeting.expected = 3;
    std::vector<std::unique_ptr<SlowDisk>> disks;
    for (const char* name : {"E", "F", "G"}) {
        disks.push_back(Disk(name));
        disks.back()->meeting = &meeting;
    }
    TWipeJob job(manager_, {disks[0].get(), disks[1].get(), disks[2].get()}, Settings());
    EXPECT_EQ(job.Run(view_), TWipeOutcome::woCompleted);

    EXPECT_FALSE(meeting.missed) << "every drive reached its first write while the others did";
    EXPECT_EQ(meeting.count, 3);
    for (const auto& disk : disks) {
        EXPECT_TRUE(AllZero(*disk)) << disk->Name;
        EXPECT_EQ(disk->Owner, &manager_) << "the disk's owner is not the run's";
    }
    EXPECT_FALSE(view_.otherThread);
    ASSERT_EQ(job.Results().size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(job.Results()[i].Disk, disks[i].get());
        EXPECT_EQ(job.Results()[i].Outcome, TWipeOutcome::woCompleted);
        EXPECT_EQ(job.Status().Get(i).State, TDriveState::dsDone);
        EXPECT_EQ(job.Status().Get(i).Progress, 1.0);
    }
}

TEST_F(WipeInParallelTest, AWriteFaultFailsItsDriveTheOthersCompleteTheReportKeepsListOrder) {
    // E is the slowest: F and G end first and their sections wait for E's.
    auto e = Disk("E", 128);
    e->perWrite = std::chrono::milliseconds(3);
    auto f = Disk("F");
    f->medium.FailWrites(20, MemoryMedium::kAlways);
    auto g = Disk("G", 32);
    TWipeSettings settings = Settings();
    settings.Unattended = false;
    settings.GenerateReportFile = true;
    settings.LogFileName = (folder_ / "run.log").string();
    host_.answer = [](const std::string&) { return mrAbort; }; // the write question: give up
    TWipeJob job(manager_, {e.get(), f.get(), g.get()}, settings);
    const TWipeOutcome outcome = job.Run(view_);
    EXPECT_EQ(outcome, TWipeOutcome::woFailed);
    CurrentReport->SetOutcome(ReportOutcome(outcome));
    CurrentReport.reset();

    EXPECT_TRUE(AllZero(*e));
    EXPECT_TRUE(AllZero(*g));
    EXPECT_FALSE(AllZero(*f));
    ASSERT_EQ(host_.shown.size(), 1u);
    EXPECT_EQ(host_.shown[0].thread, std::this_thread::get_id());
    EXPECT_EQ(view_.told, (std::vector<std::string>{CatalogueText("ErrorXDiskIO")}));
    EXPECT_NE(std::find(view_.events.begin(), view_.events.end(), "error F"), view_.events.end());
    ASSERT_EQ(job.Results().size(), 3u);
    EXPECT_EQ(job.Results()[0].Outcome, TWipeOutcome::woCompleted);
    EXPECT_EQ(job.Results()[1].Outcome, TWipeOutcome::woFailed);
    EXPECT_EQ(job.Results()[1].Error, CatalogueText("ErrorXDiskIO"));
    EXPECT_EQ(job.Results()[2].Outcome, TWipeOutcome::woCompleted);
    EXPECT_EQ(job.Status().Get(1).State, TDriveState::dsFailed);
    EXPECT_EQ(f->medium.calls.back(), "close");

    const std::string report = ReportText();
    const std::size_t first = report.find(R("STARS"));
    ASSERT_NE(first, std::string::npos) << report;
    const std::string question = GetLngText("Purgelet", "Error_Write", "Error_Write");
    EXPECT_EQ(report.substr(first), DiskHead(*e) + DiskHead(*f) + question +
                                        "\r\nDecision: Abort\r\n" + CatalogueText("ErrorXDiskIO") +
                                        "\r\n" + DiskHead(*g) + R("SANITIZEFAILEDAT") +
                                        "2026-01-01 11:00:00 UTC\r\n" + R("STARS") + "\r\n");
}

TEST_F(WipeInParallelTest, TwoDrivesOfOneDeviceFollowEachOtherInListOrder) {
    auto physical = MakeDisk<testing::MemoryPhysicalDisk>("PhysicalDrive0", &manager_, 512);
    TDevice device;
    auto e = Disk("E");
    auto f = Disk("F");
    auto g = Disk("G");
    for (SlowDisk* partition : {e.get(), f.get()}) {
        partition->OwnerDisk = physical.get();
        partition->device = &device;
        partition->perWrite = std::chrono::milliseconds(1);
    }
    g->perWrite = std::chrono::milliseconds(1);
    EXPECT_EQ(DeviceGroups({e.get(), g.get(), f.get()}),
              (std::vector<std::vector<std::size_t>>{{0, 2}, {1}}));
    EXPECT_EQ(DeviceGroups({physical.get(), e.get()}),
              (std::vector<std::vector<std::size_t>>{{0, 1}}));
    TWipeJob job(manager_, {e.get(), g.get(), f.get()}, Settings());
    EXPECT_EQ(job.Run(view_), TWipeOutcome::woCompleted);

    EXPECT_FALSE(device.overlapped);
    EXPECT_EQ(device.log, (std::vector<std::string>{"open E", "close E", "open F", "close F"}));
    const auto at = [this](const std::string& event) {
        return std::find(view_.events.begin(), view_.events.end(), event) - view_.events.begin();
    };
    EXPECT_LT(at("end E"), at("start F"));
    for (const auto* disk : {e.get(), f.get(), g.get()})
        EXPECT_TRUE(AllZero(*disk)) << disk->Name;
    EXPECT_EQ(physical->medium.openCount, 0);
}

// The view fails one drive's start with what is no program exception: it leaves the run once
// every thread is joined, and that drive, never wiped, is failed in its result, its row and
// the run's record, never taken for a completed one.
TEST_F(WipeInParallelTest, ADriveWhoseStartFailedIsFailedAndTheRecordIsWritten) {
    struct FailingView : RecordingView {
        void DriveStarting(TDisk& disk, const TWipeSettings& settings) override {
            if (disk.Name == "F")
                throw std::runtime_error("the window is gone");
            RecordingView::DriveStarting(disk, settings);
        }
    } view;
    auto e = Disk("E");
    auto f = Disk("F");
    TWipeJob job(manager_, {e.get(), f.get()}, Settings());
    EXPECT_THROW(job.Run(view), std::runtime_error);

    EXPECT_FALSE(AllZero(*f));
    const auto found = std::find_if(job.Results().begin(), job.Results().end(),
                                    [&](const TDriveResult& r) { return r.Disk == f.get(); });
    ASSERT_NE(found, job.Results().end());
    EXPECT_EQ(found->Outcome, TWipeOutcome::woFailed);
    EXPECT_EQ(job.Status().Get(1).State, TDriveState::dsFailed);
    EXPECT_EQ(job.Record().Run.Outcome, "failed");
    const auto& drives = job.Record().Drives;
    const auto recorded = std::find_if(drives.begin(), drives.end(),
                                       [](const record::TDrive& d) { return d.Name == "F"; });
    ASSERT_NE(recorded, drives.end());
    EXPECT_EQ(recorded->Outcome, "failed");
}

TEST_F(WipeInParallelTest, QuestionsFromTwoDrivesReachTheUserOneAtATimeEachForItsDrive) {
    auto e = Disk("E");
    auto f = Disk("F");
    // The transfer fails, then block 0 alone: a question each.
    e->medium.FailWrites(0, 2);
    f->medium.FailWrites(0, 2);
    TWipeSettings settings = Settings();
    settings.Unattended = false;
    // E's block is given up, F's written at the second try.
    host_.answer = [](const std::string& text) {
        return text.find("Disk E") != std::string::npos ? mrIgnore : mrRetry;
    };
    TWipeJob job(manager_, {e.get(), f.get()}, settings);
    EXPECT_EQ(job.Run(view_), TWipeOutcome::woCompleted);

    ASSERT_EQ(host_.shown.size(), 2u);
    EXPECT_FALSE(host_.overlapped);
    for (const auto& shown : host_.shown)
        EXPECT_EQ(shown.thread, std::this_thread::get_id());
    std::vector<std::string> about;
    for (const auto& shown : host_.shown)
        about.push_back(shown.text.substr(shown.text.rfind("\n") + 1));
    std::sort(about.begin(), about.end());
    EXPECT_EQ(about, (std::vector<std::string>{"Disk E", "Disk F"}));
    ASSERT_EQ(job.Results().size(), 2u);
    EXPECT_EQ(job.Results()[0].BlocksPassedOver, 1);
    EXPECT_EQ(job.Results()[1].BlocksPassedOver, 0);
    EXPECT_EQ(ErasureOutcome(job.Results()[0]), TWipeOutcome::woFailed);
    EXPECT_TRUE(AllZero(*f));
    // The record has each question under the drive that asked it, with the block it was about.
    const record::TRecord& record = job.Record();
    ASSERT_EQ(record.Drives.size(), 2u);
    EXPECT_EQ(record.Drives[0].Name, "E");
    ASSERT_EQ(record.Drives[0].Errors.size(), 1u);
    EXPECT_EQ(record.Drives[0].Errors[0].Answer, TGUIDiskManager::ModalResultText(mrIgnore));
    EXPECT_EQ(record.Drives[0].Errors[0].Block, std::optional<std::int64_t>(0));
    EXPECT_EQ(record.Drives[1].Name, "F");
    ASSERT_EQ(record.Drives[1].Errors.size(), 1u);
    EXPECT_EQ(record.Drives[1].Errors[0].Answer, TGUIDiskManager::ModalResultText(mrRetry));
    EXPECT_EQ(manager_.ReportDisk, nullptr);
}

TEST_F(WipeInParallelTest, EachDrivesBytesAreTheSameWhateverTheTiming) {
    testing::MetFolder folder;
    const auto random = method::CreateFromFile(folder.Write(
        "checked.met", {"METHODNR=2", "NAME=Checked", "HEXA=$AA", "CHECK", "RAND=000255"}));
    for (const bool isaac : {false, true}) {
        SCOPED_TRACE(isaac ? "ISAAC" : "standard generator");
        std::vector<std::vector<std::uint8_t>> first;
        const int pacing[3][3] = {{0, 300, 900}, {900, 300, 0}, {200, 0, 600}};
        for (const auto& micros : pacing) {
            std::vector<std::unique_ptr<SlowDisk>> disks;
            for (int i = 0; i < 3; ++i) {
                disks.push_back(Disk(std::string(1, static_cast<char>('E' + i)), 48));
                disks.back()->perWrite = std::chrono::microseconds(micros[i]);
            }
            TWipeSettings settings = Settings();
            settings.Method = random.get();
            settings.UseIsaac = isaac;
            TWipeJob job(manager_, {disks[0].get(), disks[1].get(), disks[2].get()}, settings);
            job.Generators().RandSeed = 0x5EED1234;
            ASSERT_EQ(job.Run(view_), TWipeOutcome::woCompleted);
            ASSERT_EQ(job.DriveGenerators().size(), 3u);
            for (int i = 0; i < 3; ++i) {
                // Alone, from the state drawn for it, the drive receives the same bytes.
                auto alone = MakeDisk<MemoryDisk>("X", nullptr, 48);
                TWipeContext wipe(random.get());
                wipe.Options = WipeOptionsOf(settings);
                TGenerators drawn = job.DriveGenerators()[static_cast<std::size_t>(i)];
                wipe.Generators = &drawn;
                alone->WipeDisk(wipe);
                EXPECT_EQ(alone->medium.bytes, disks[static_cast<std::size_t>(i)]->medium.bytes)
                    << "drive " << i;
            }
            if (first.empty()) {
                for (const auto& disk : disks)
                    first.push_back(disk->medium.bytes);
                // Each drive draws bytes of its own, not the same bytes shifted.
                EXPECT_NE(first[0], first[1]);
                EXPECT_NE(first[1], first[2]);
                continue;
            }
            for (std::size_t i = 0; i < 3; ++i)
                EXPECT_EQ(disks[i]->medium.bytes, first[i]) << "drive " << i;
        }
    }
}

TEST_F(WipeInParallelTest, TheOptionOffWipesOneDriveAfterTheOtherFromTheRunsGenerators) {
    auto e = Disk("E");
    auto f = Disk("F");
    TWipeSettings settings = Settings();
    settings.WipeInParallel = false;
    TWipeJob job(manager_, {e.get(), f.get()}, settings);
    EXPECT_EQ(job.Run(view_), TWipeOutcome::woCompleted);
    EXPECT_EQ(view_.events,
              (std::vector<std::string>{"run", "start E", "end E", "start F", "end F"}));
    EXPECT_TRUE(job.DriveGenerators().empty());
}

// With no thread to be had (the user's process limit reached), a run asked to wipe at once
// wipes its drives one after another on the job's thread, the pass engine generating there
// too: the same events and the same bytes as the run one after another from the same seed.
TEST_F(WipeInParallelTest, WithNoThreadToBeHadTheDrivesGoOneAfterAnotherOnTheJobsThread) {
#if !defined(__unix__) || defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "needs fork and a process limit, and no sanitizer runtime's own threads";
#else
    testing::MetFolder folder;
    const auto random = method::CreateFromFile(
        folder.Write("random.met", {"METHODNR=2", "NAME=Random", "RAND=000255", "CHECK"}));
    auto run = [&](TWipeSettings settings, std::vector<std::uint8_t>& bytes) {
        auto e = Disk("E");
        auto f = Disk("F");
        settings.Method = random.get();
        TWipeJob job(manager_, {e.get(), f.get()}, settings);
        job.Generators().RandSeed = 0x5EED4321;
        const TWipeOutcome outcome = job.Run(view_);
        bytes = e->medium.bytes;
        bytes.insert(bytes.end(), f->medium.bytes.begin(), f->medium.bytes.end());
        return outcome == TWipeOutcome::woCompleted && job.DriveGenerators().empty();
    };
    TWipeSettings oneAfterAnother = Settings();
    oneAfterAnother.WipeInParallel = false;
    std::vector<std::uint8_t> expected;
    ASSERT_TRUE(run(oneAfterAnother, expected));
    view_.events.clear();

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Root is not held to the limit: the run goes on as nobody.
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(77);
        const rlimit none{0, 0};
        if (setrlimit(RLIMIT_NPROC, &none) != 0)
            _exit(77);
        try {
            std::thread([] {}).join();
            _exit(77); // the limit does not hold here
        } catch (const std::system_error&) {
        }
        std::vector<std::uint8_t> bytes;
        if (!run(Settings(), bytes))
            _exit(1);
        if (view_.events != std::vector<std::string>{"run", "start E", "end E", "start F", "end F"})
            _exit(2);
        _exit(bytes == expected ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "the process limit does not hold for this user";
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "1: the run failed or drew per drive, 2: other events, 3: other bytes";
#endif
}

// ---- On a simulated PC: real drive classes, locks and paced devices.

class WipeInParallelOnAPCTest : public ::testing::Test {
protected:
    WipeInParallelOnAPCTest() {
        nlohmann::json machine = {{"drives", nlohmann::json::array()}};
        int pace = 4;
        for (const char* letter : {"R", "S", "T"}) {
            machine["drives"].push_back({{"letter", letter},
                                         {"kind", "removable"},
                                         {"image", std::string(letter) + ".img"},
                                         {"size", 1 << 20},
                                         {"bytesPerSecond", pace++ << 20},
                                         {"volume", {{"label", letter}, {"fileSystem", "FAT16"}}}});
        }
        pc_ = std::make_unique<testing::SimPC>(machine);
        for (const char* image : {"R.img", "S.img", "T.img"})
            pc_->WriteImage(image, 0, std::vector<std::uint8_t>(1 << 20, 0xAA));
        manager_ = std::make_unique<TGUIDiskManager>(host_);
        manager_->Detect();
    }
    ~WipeInParallelOnAPCTest() override { CurrentReport.reset(); }

    std::vector<TDisk*> Drives() {
        std::vector<TDisk*> disks;
        for (int i = 0; i < manager_->LogicalDisks.Count(); ++i)
            disks.push_back(manager_->LogicalDisks.Items(i));
        return disks;
    }
    TWipeSettings Settings() {
        TWipeSettings settings;
        settings.Method = zero_.get();
        settings.Unattended = true;
        settings.WipeInParallel = true;
        settings.BufferBytes = 16384;
        return settings;
    }
    bool AllZero(const std::string& image) const {
        const auto bytes = pc_->ReadImage(image, 0, 1 << 20);
        return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
    }
    int Writes() {
        const std::lock_guard<std::recursive_mutex> hold(pc_->machine().mutex);
        int count = 0;
        for (const char* device : {"\\\\.\\R:", "\\\\.\\S:", "\\\\.\\T:"})
            count += pc_->machine().CountCalls(device, "WriteFile");
        return count;
    }
    static bool AllPast(const TWipeJob& job, double least) {
        const auto snapshot = job.Status().Snapshot();
        return std::all_of(snapshot.begin(), snapshot.end(), [least](const TDriveStatus& s) {
            return s.State == TDriveState::dsWiping && s.Progress > least;
        });
    }

    std::unique_ptr<testing::SimPC> pc_;
    ui::ScriptedHost host_;
    std::unique_ptr<TGUIDiskManager> manager_;
    std::unique_ptr<method> zero_ = method::CreateFromFile("");
    RecordingView view_;
};

TEST_F(WipeInParallelOnAPCTest, AnAbortStopsEveryDriveAndLeavesEveryDeviceClosed) {
    const std::vector<TDisk*> disks = Drives();
    ASSERT_EQ(disks.size(), 3u);
    TWipeJob job(*manager_, disks, Settings());
    host_.When([&] { return AllPast(job, 0.1); },
               [&] { manager_->RequestAbort(CatalogueText("USERABORTMESSAGE")); });
    EXPECT_EQ(job.Run(view_), TWipeOutcome::woAborted);

    EXPECT_EQ(pc_->kernel().OpenDeviceHandles(), 0u) << "closed, and so unlocked";
    for (const char* image : {"R.img", "S.img", "T.img"})
        EXPECT_FALSE(AllZero(image)) << image;
    ASSERT_EQ(job.Results().size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(job.Results()[i].Outcome, TWipeOutcome::woAborted);
        EXPECT_EQ(job.Results()[i].Error, CatalogueText("ErrorXAbort"));
        EXPECT_EQ(job.Status().Get(i).State, TDriveState::dsAborted);
        EXPECT_EQ(disks[i]->Owner, manager_.get());
    }
    // Told once; no drive ended as if it had not been aborted.
    EXPECT_EQ(view_.told, (std::vector<std::string>{CatalogueText("ErrorXAbort")}));
    EXPECT_EQ(std::count_if(view_.events.begin(), view_.events.end(),
                            [](const std::string& e) { return e.rfind("end", 0) == 0; }),
              0);
    EXPECT_FALSE(manager_->PendingAbort.has_value());
}

TEST_F(WipeInParallelOnAPCTest, PausedNoDriveTransfersResumedEveryDriveFinishes) {
    TWipeJob job(*manager_, Drives(), Settings());
    int pausedLooks = 0;
    int atPause = -1, later = -1;
    host_.When([&] { return AllPast(job, 0.1); }, [&] { manager_->SetPaused(true); });
    host_.OnEveryProcessMessages([&] {
        if (!manager_->Paused)
            return;
        ++pausedLooks;
        if (pausedLooks == 3) // the transfers under way when Pause was pressed have ended
            atPause = Writes();
        if (pausedLooks == 13) { // some 200 ms later
            later = Writes();
            manager_->SetPaused(false);
        }
    });
    EXPECT_EQ(job.Run(view_), TWipeOutcome::woCompleted);

    EXPECT_GT(atPause, 0);
    EXPECT_EQ(later, atPause);
    for (const char* image : {"R.img", "S.img", "T.img"})
        EXPECT_TRUE(AllZero(image)) << image;
    EXPECT_EQ(pc_->kernel().OpenDeviceHandles(), 0u);
}

// ---- Questions of a drive that are not the engine's: a whole disk's volumes and the format.

// A whole disk (SIM DISK 0, holding E:) and a stick R: on a simulated PC, with the faults
// the test asks for.
class WipeInParallelQuestionsTest : public ::testing::Test {
protected:
    void Boot(bool lockRefused, bool formatFails) {
        auto machine = nlohmann::json::parse(R"J({
          "physicalDisks": [{"friendlyName": "SIM DISK 0", "deviceNumber": 0, "image": "data.img",
                             "geometry": {"cylinders": 16, "tracksPerCylinder": 16,
                                          "sectorsPerTrack": 64, "bytesPerSector": 512}}],
          "drives": [
            {"letter": "E", "disk": 0, "offset": 32768, "length": 1048576, "partitionNumber": 1,
             "displayName": "PHOTOS (E:)", "volume": {"label": "PHOTOS", "fileSystem": "NTFS"}},
            {"letter": "R", "kind": "removable", "image": "R.img", "size": 1048576,
             "displayName": "STICK (R:)", "volume": {"label": "STICK", "fileSystem": "FAT16"}}
          ]})J");
        if (lockRefused)
            machine["drives"][0]["faults"] = {{"lock", true}};
        if (formatFails)
            machine["drives"][1]["format"] = {{"fails", true}};
        pc_ = std::make_unique<testing::SimPC>(machine);
        manager_ = std::make_unique<TGUIDiskManager>(host_);
        manager_->Detect();
    }
    ~WipeInParallelQuestionsTest() override { CurrentReport.reset(); }

    TDisk* WholeDisk() { return manager_->PhysicalDisks.Items(0); }
    TDisk* Letter(const std::string& name) {
        for (int i = 0; i < manager_->LogicalDisks.Count(); ++i)
            if (manager_->LogicalDisks.Items(i)->Name == name)
                return manager_->LogicalDisks.Items(i);
        return nullptr;
    }
    TWipeSettings Settings() {
        TWipeSettings settings;
        settings.Method = zero_.get();
        settings.WipeInParallel = true;
        settings.BufferBytes = 65536;
        return settings;
    }
    // The questions of a drive in the record, as "question: answer".
    static std::vector<std::string> Questions(const record::TDrive& drive) {
        std::vector<std::string> questions;
        for (const auto& error : drive.Errors)
            questions.push_back(error.Text + ": " + error.Answer);
        return questions;
    }

    std::unique_ptr<testing::SimPC> pc_;
    WatchingHost host_;
    std::unique_ptr<TGUIDiskManager> manager_;
    std::unique_ptr<method> zero_ = method::CreateFromFile("");
    RecordingView view_;
};

// E:'s lock is refused while the whole disk is wiped beside R:: the question whether to force
// a dismount is put to the user on the job's thread, filed under the whole disk, and its
// answer (No) fails that disk alone.
TEST_F(WipeInParallelQuestionsTest, AWholeDisksVolumeIsAskedAboutOnTheJobsThreadUnderItsDrive) {
    Boot(/*lockRefused=*/true, /*formatFails=*/false);
    TDisk* whole = WholeDisk();
    TDisk* stick = Letter("R");
    ASSERT_NE(stick, nullptr);
    host_.answer = [](const std::string&) { return mrNo; };
    TWipeJob job(*manager_, {whole, stick}, Settings());
    EXPECT_EQ(job.Run(view_), TWipeOutcome::woFailed);

    ASSERT_EQ(host_.shown.size(), 1u);
    EXPECT_EQ(host_.shown[0].thread, std::this_thread::get_id());
    EXPECT_NE(host_.shown[0].text.find("PHOTOS (E:)"), std::string::npos) << host_.shown[0].text;
    EXPECT_FALSE(view_.otherThread);
    ASSERT_EQ(job.Results().size(), 2u);
    EXPECT_EQ(job.Results()[0].Outcome, TWipeOutcome::woFailed);
    EXPECT_EQ(job.Results()[0].Error, CatalogueText("ErrorXlock"));
    EXPECT_EQ(job.Results()[1].Outcome, TWipeOutcome::woCompleted);
    const std::string question =
        GetLngText("Purgelet", "Error_QueryForceDisMount", "Error_QueryForceDisMount");
    const record::TRecord& record = job.Record();
    ASSERT_EQ(record.Drives.size(), 2u);
    EXPECT_EQ(Questions(record.Drives[0]),
              (std::vector<std::string>{
                  question + ": PHOTOS (E:): " + TGUIDiskManager::ModalResultText(mrNo)}));
    EXPECT_TRUE(record.Drives[1].Errors.empty());
    // The volume is the manager's again, and nothing stays open.
    EXPECT_EQ(Letter("E")->Owner, manager_.get());
    EXPECT_EQ(pc_->kernel().OpenDeviceHandles(), 0u);
}

// R:'s format fails after its wipe while the whole disk is wiped beside it: the question is
// R:'s, and the shell's format dialog it leads to is drawn on the job's thread.
TEST_F(WipeInParallelQuestionsTest, TheFormatDialogAfterAFailedFormatIsDrawnOnTheJobsThread) {
    Boot(/*lockRefused=*/false, /*formatFails=*/true);
    TDisk* stick = Letter("R");
    ASSERT_NE(stick, nullptr);
    host_.answer = [](const std::string&) { return mrYes; };
    TWipeSettings settings = Settings();
    settings.FormatPartitions = true;
    TWipeJob job(*manager_, {WholeDisk(), stick}, settings);
    EXPECT_EQ(job.Run(view_), TWipeOutcome::woCompleted);

    ASSERT_EQ(host_.shown.size(), 1u);
    EXPECT_EQ(host_.shown[0].thread, std::this_thread::get_id());
    const auto& shell = pc_->machine().shellFormats;
    ASSERT_EQ(shell.size(), 1u);
    EXPECT_EQ(shell[0].drive, static_cast<UINT>('R' - 'A'));
    EXPECT_EQ(shell[0].thread, std::this_thread::get_id());
    const record::TRecord& record = job.Record();
    ASSERT_EQ(record.Drives.size(), 2u);
    EXPECT_TRUE(record.Drives[0].Errors.empty());
    ASSERT_EQ(record.Drives[1].Errors.size(), 1u);
    EXPECT_EQ(record.Drives[1].Errors[0].Answer, TGUIDiskManager::ModalResultText(mrYes));
}

// The manager's own check: a question or an update from a thread other than the one that
// runs the job is told as such (a debug build stops there).
TEST_F(WipeInParallelQuestionsTest, TheManagerKnowsTheThreadItsQuestionsBelongTo) {
    Boot(false, false);
    EXPECT_TRUE(manager_->OnOwnThread());
    bool other = true;
    std::thread([&] { other = manager_->OnOwnThread(); }).join();
    EXPECT_FALSE(other);
    std::thread([&] { manager_->BindToThisThread(); }).join();
    EXPECT_FALSE(manager_->OnOwnThread());
    manager_->BindToThisThread();
    EXPECT_TRUE(manager_->OnOwnThread());
}

} // namespace
} // namespace purgelet
