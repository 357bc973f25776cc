// End to end: the GUI disk manager detects a simulated PC with the NT disk classes, then
// wipes one partition as the wipe run does, with a block that cannot be written and the
// question about it answered Ignore; in the DoD style, the report dumps what that block
// still holds.
#include "disk/disk_manager.h"
#include "disk/disk_test_support.h"
#include "platform/sim/sim.h"
#include "platform/system.h"
#include "report/errorlog.h"
#include "report/report.h"
#include "ui/scripted_host.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace purgelet {
namespace {

constexpr std::int64_t kTrack = 63 * 512; // the first partition starts one track in
constexpr std::int64_t kFaultyBlock = 100;

class ManagerWipeTest : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> counter{0};
        folder_ = std::filesystem::temp_directory_path() /
                  ("purgelet-manager-wipe-" +
                   std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
                   "-" + std::to_string(counter++));
        std::filesystem::create_directories(folder_);
        // Two physical disks, three partitions (C and D on the first, E on the second), a
        // floppy drive without medium and a network drive.
        auto file = nlohmann::json::parse(R"({
          "platform": "NT",
          "physicalDisks": [
            {"friendlyName": "SIM DISK ZERO", "image": "disk0.img"},
            {"friendlyName": "SIM DISK ONE", "image": "disk1.img", "geometry": {"cylinders": 4}}
          ],
          "drives": [
            {"letter": "A", "kind": "floppy"},
            {"letter": "C", "kind": "fixed", "disk": 0, "offset": 32256, "length": 2097152,
             "boot": true, "volume": {"label": "SYSTEM", "fileSystem": "NTFS"}},
            {"letter": "D", "kind": "fixed", "disk": 0, "offset": 2129408, "length": 2097152,
             "partitionNumber": 2, "volume": {"label": "DATA", "fileSystem": "FAT32"}},
            {"letter": "E", "kind": "fixed", "disk": 1, "volume": {"fileSystem": "NTFS"},
             "faults": {"writeBlocks": [{"block": 100, "times": -1}]}},
            {"letter": "N", "kind": "network", "image": "net.img", "size": 65536}
          ]})");
        machine_ = platform::sim::Machine::Parse(file, folder_);
        scope_ = std::make_unique<platform::ScopedSystem>(platform::sim::CreateSimSystem(machine_));
    }
    void TearDown() override {
        CurrentReport.reset();
        SetReportInputQuery(nullptr);
        CloseErrorLog();
        scope_.reset();
        machine_.reset();
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    std::vector<std::uint8_t> DiskBytes(int disk) {
        auto& image = *machine_->disks.at(static_cast<std::size_t>(disk)).image;
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(image.size()));
        EXPECT_TRUE(image.Read(0, bytes.data(), bytes.size()));
        return bytes;
    }

    static TDisk* Find(const TDiskList& list, const std::string& name) {
        for (int i = 0; i < list.Count(); ++i)
            if (list.Items(i)->Name == name)
                return list.Items(i);
        return nullptr;
    }

    std::filesystem::path folder_;
    std::shared_ptr<platform::sim::Machine> machine_;
    std::unique_ptr<platform::ScopedSystem> scope_;
    ui::ScriptedHost host_;
};

TEST_F(ManagerWipeTest, DetectsTheMachineAndWipesOnePartitionIgnoringABadBlock) {
    TGUIDiskManager manager(host_);
    manager.Detect();
    EXPECT_TRUE(host_.dialogs().empty());

    // A is the floppy, C to E the partitions; the network drive is left out.
    ASSERT_EQ(manager.LogicalDisks.Count(), 4);
    EXPECT_EQ(manager.LogicalDisks.Items(0)->Name, "A");
    EXPECT_EQ(manager.FloppyCount(), 1);
    EXPECT_EQ(manager.LocalDiskCount(), 3);
    EXPECT_EQ(Find(manager.LogicalDisks, "N"), nullptr);
    ASSERT_EQ(manager.PhysicalDisks.Count(), 2);
    EXPECT_EQ(manager.PhysicalDisks.Items(0)->Description, "SIM DISK ZERO");
    EXPECT_EQ(manager.PhysicalDisks.Items(1)->Description, "SIM DISK ONE");
    TDisk* c = Find(manager.LogicalDisks, "C");
    TDisk* d = Find(manager.LogicalDisks, "D");
    TDisk* e = Find(manager.LogicalDisks, "E");
    ASSERT_TRUE(c && d && e);
    EXPECT_EQ(c->OwnerDisk, manager.PhysicalDisks.Items(0));
    EXPECT_EQ(d->OwnerDisk, manager.PhysicalDisks.Items(0));
    EXPECT_EQ(e->OwnerDisk, manager.PhysicalDisks.Items(1));
    EXPECT_EQ(manager.LogicalDisks.Items(0)->OwnerDisk, nullptr); // a floppy tells no number

    const std::vector<std::uint8_t> disk0Before = DiskBytes(0);
    const std::vector<std::uint8_t> disk1Before = DiskBytes(1);

    host_.Answer(mrIgnore);
    int updates = 0;
    manager.OnUpdate = [&] { ++updates; };
    auto method = testing::MethodFromLines({"HEXA=$5A"});
    // As the wipe run does: the report, the disk's header, the wipe, the report closed.
    const auto reportFile = folder_ / "wipe.log";
    CurrentReport = std::make_unique<TPLReport>(true, false, false, reportFile.string(),
                                                TReportSettings{"Pattern 5A"});
    manager.ReportDisk = e;
    ReportWriteDiskHeader(*e);
    e->WipeDisk(method.get(), false, 0, 0, "");
    CurrentReport->SetOutcome(TRunOutcome::Completed);
    CurrentReport.reset();

    // One question, about the block that cannot be written.
    ASSERT_EQ(host_.dialogs().size(), 1u);
    EXPECT_EQ(host_.dialogs()[0].text, "Error_Write\r\n" + e->Description);
    EXPECT_EQ(host_.dialogs()[0].buttons, mbAbortRetryIgnore);
    EXPECT_GT(updates, 0);

    // The disk's block of the report holds the question and its answer, nothing else.
    std::ifstream in(reportFile, std::ios::binary);
    std::stringstream report;
    report << in.rdbuf();
    const std::string time = ReportTimeText();
    const std::string expected =
        std::string(79, '*') + " \r\n" + e->Description + "\r\n" +
        "Total number of sectors:" + std::to_string(e->BlockCount) + "\r\nSanitizing started at" +
        time + "\r\n" + std::string(79, '-') + "\r\n\r\n" + "Error_Write\r\nDecision: Ignore\r\n" +
        "WIPE COMPLETED at" + time + "\r\n" + std::string(79, '*') + " \r\n";
    const std::string text = report.str();
    ASSERT_GE(text.size(), expected.size());
    EXPECT_EQ(text.substr(text.size() - expected.size()), expected);
    EXPECT_EQ(e->BlockCount, (2064384 - kTrack) / 512);

    // E holds the pattern everywhere but in the ignored block; nothing else changed.
    const std::vector<std::uint8_t> disk1 = DiskBytes(1);
    ASSERT_EQ(disk1.size(), disk1Before.size());
    const auto start = static_cast<std::size_t>(kTrack);
    const auto end = disk1.size();
    const auto badFrom = start + static_cast<std::size_t>(kFaultyBlock * 512);
    for (std::size_t i = 0; i < disk1.size(); ++i) {
        const bool inPartition = i >= start && i < end;
        const bool inBadBlock = i >= badFrom && i < badFrom + 512;
        const std::uint8_t expected = inPartition && !inBadBlock ? 0x5A : disk1Before[i];
        ASSERT_EQ(disk1[i], expected) << "byte " << i;
    }
    EXPECT_EQ(DiskBytes(0), disk0Before);
}

// The wipe opens E without system buffering (the default), which refuses an unaligned buffer:
// the warning block must still show the bytes the ignored block really holds, and the error
// log must not gain a read error for it.
TEST_F(ManagerWipeTest, AnUnbufferedDoDWipeDumpsWhatTheIgnoredBlockStillHolds) {
    const auto errorLog = folder_ / "except.log";
    OpenErrorLog(errorLog.string());
    TGUIDiskManager manager(host_);
    manager.Detect();
    TDisk* e = Find(manager.LogicalDisks, "E");
    ASSERT_NE(e, nullptr);

    const std::string row = "OLD DATA 0123456"; // 16 bytes: one dump row each
    std::string old;
    while (old.size() < 512)
        old += row;
    auto& image = *machine_->disks.at(1).image;
    ASSERT_TRUE(image.Write(kTrack + kFaultyBlock * 512, old.data(), old.size()));

    SetReportInputQuery([](const std::string& caption, const std::string&, std::string& value) {
        value = caption == "Responsible" ? "J. Smith" : "Second test disk";
        return true;
    });
    host_.Answer(mrIgnore);
    auto method = testing::MethodFromLines({"HEXA=$5A"});
    const auto reportFile = folder_ / "dod.log";
    CurrentReport = std::make_unique<TPLReport>(true, true, false, reportFile.string(),
                                                TReportSettings{"Pattern 5A"});
    TWipeContext wipe(method.get(), e->Owner);
    wipe.Options.Unbuffered = true;
    manager.ReportDisk = e; // the wipe's block comes with the wipe: the manager is its sink
    ReportWriteDiskHeader(*e);
    e->WipeDisk(wipe);
    CurrentReport->SetOutcome(TRunOutcome::Completed);
    CurrentReport.reset();
    CloseErrorLog();
    ASSERT_EQ(host_.dialogs().size(), 1u);

    std::ifstream in(reportFile, std::ios::binary);
    std::stringstream report;
    report << in.rdbuf();
    const std::string text = report.str();
    const std::string heading = "Block 100 of " + std::to_string(e->BlockCount) + "\r\n";
    auto at = text.find(heading);
    ASSERT_NE(at, std::string::npos) << text;
    at += heading.size();
    for (int i = 0; i < 32; ++i) {
        char offset[16];
        std::snprintf(offset, sizeof offset, "%08X: ", i * 16);
        const std::string expected = std::string(offset) +
                                     "4F 4C 44 20 44 41 54 41 - 20 30 31 32 33 34 35 36 " + row +
                                     "\r\n";
        ASSERT_EQ(text.compare(at, expected.size(), expected), 0)
            << "row " << i << ": " << text.substr(at, expected.size());
        at += expected.size();
    }
    EXPECT_EQ(text.compare(at, 79, std::string(79, '=')), 0);

    std::ifstream logIn(errorLog, std::ios::binary);
    std::stringstream log;
    log << logIn.rdbuf();
    EXPECT_NE(log.str().find("WriteBlocks"), std::string::npos) << log.str();
    EXPECT_EQ(log.str().find("ReadBlocks"), std::string::npos) << log.str();
}

} // namespace
} // namespace purgelet
