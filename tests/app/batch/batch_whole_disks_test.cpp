// Unattended runs that wipe whole disks on a simulated PC: each way a disk is named, a disk
// named with one of its letters, what --all and --all-letters take, a disk of the running
// system refused, the drive's own erase (NVMe and ATA, crypto and block) with the device it
// names, a frozen drive refused with nothing written, and the record a refused run leaves.
#include "app/batch/batch_fixture.h"

#include "record/record_file.h"

#include <algorithm>
#include <set>

namespace purgelet::testing {
namespace {

using nlohmann::json;

constexpr std::int64_t kDisk = 16 * 16 * 64 * 512; // 8 MiB
constexpr std::int64_t kPartE = 32768;
constexpr const char* kCrypto = "Firmware sanitize: crypto erase";
constexpr const char* kBlock = "Firmware sanitize: block erase";

// The program's machine (disk 0 holds C:, where Windows lives, and D:) with two more disks:
// disk 1 an NVMe drive holding E:, disk 2 a SATA drive with no partition at all. Windows 10
// 22H2, whose own NVMe driver sends the Sanitize.
json WholeDiskMachine() {
    json machine = Machine();
    machine["build"] = 19045;
    machine["physicalDisks"].push_back(json::parse(R"J(
        {"friendlyName": "SIM NVME 1", "deviceNumber": 1, "image": "nvme.img",
         "model": "SIM NVME 970", "serial": "NV-0001", "bus": "NVMe",
         "geometry": {"cylinders": 16, "tracksPerCylinder": 16, "sectorsPerTrack": 64,
                      "bytesPerSector": 512},
         "firmware": {"commandSet": "nvme", "sanitize": ["crypto", "block"], "polls": 4,
                      "estimatedSeconds": 60, "erasedByte": 255}})J"));
    machine["physicalDisks"].push_back(json::parse(R"J(
        {"friendlyName": "SIM SATA 2", "deviceNumber": 2, "image": "ata.img",
         "model": "SIM SATA SSD 860", "serial": "SA-0002   ", "bus": "SATA",
         "geometry": {"cylinders": 16, "tracksPerCylinder": 16, "sectorsPerTrack": 64,
                      "bytesPerSector": 512},
         "firmware": {"commandSet": "ata", "sanitize": ["crypto", "block"], "polls": 3}})J"));
    machine["drives"].push_back(json::parse(R"J(
        {"letter": "E", "disk": 1, "offset": 32768, "length": 1048576, "partitionNumber": 1,
         "displayName": "PHOTOS (E:)", "volume": {"label": "PHOTOS", "fileSystem": "NTFS"}})J"));
    return machine;
}

class BatchWholeDisksTest : public BatchRunTest {
protected:
    void BootDisks(const json& machine = WholeDiskMachine()) {
        Boot(machine);
        for (const char* image : {"disk.img", "nvme.img", "ata.img"})
            Fill(image, 0xAA);
    }
    // Records and the report switched on, into the test's folder.
    std::vector<std::string> WithRecord(std::vector<std::string> arguments) {
        arguments.push_back("/R" + ReportPath());
        return arguments;
    }
    json Record() const { return json::parse(ReadFile(ReportPath() + ".json")).back(); }
    bool Old(const std::string& image) const { return All(image, 0, kDisk, 0xAA); }
    // Noise: nearly every byte value in use, and no block of old data at the sampled places.
    bool Noise(const std::string& image) const {
        const auto bytes = pc_->ReadImage(image, 0, kDisk);
        const std::set<std::uint8_t> seen(bytes.begin(), bytes.end());
        for (std::int64_t block = 0; block < kDisk; block += 512 * 1024)
            if (All(image, block, 512, 0xAA))
                return false;
        return seen.size() > 200;
    }
};

json RecordOn() {
    json machine = WholeDiskMachine();
    auto& options = machine["registry"]["HKEY_CURRENT_USER"][kOptionsKey];
    options["RecordFile"] = "1";
    options["GenerateReportFile"] = "1";
    return machine;
}

TEST_F(BatchWholeDisksTest, EachWayOfNamingADiskWipesItFromItsFirstByteOnce) {
    const std::vector<std::vector<std::string>> namings = {
        {"disk1", "E", "serial: sa-0002"},                  // a disk with one of its letters
        {"\\\\.\\PhysicalDrive1", "\\\\.\\physicaldrive2"}, // the Windows names
        {"serial:NV-0001", "disk2", "disk1", "e:"},         // the same disk twice
    };
    for (const auto& naming : namings) {
        BootDisks();
        std::vector<std::string> arguments = {"--batch", "/M0"};
        arguments.insert(arguments.end(), naming.begin(), naming.end());
        const Outcome run = Batch(arguments);
        EXPECT_EQ(run.status, 0) << run.err;
        ASSERT_EQ(run.lines.size(), 6u) << run.err;
        const std::string nvme = "\\\\.\\PhysicalDrive1", ata = "\\\\.\\PhysicalDrive2";
        EXPECT_EQ(run.lines[0], "run started: method \"Zero fill\", drives " + nvme + " " + ata);
        EXPECT_EQ(run.lines[1], "drive " + nvme +
                                    " started: SIM NVME 1 (model SIM NVME 970, serial NV-0001), " +
                                    std::to_string(kDisk) + " bytes");
        EXPECT_EQ(run.lines[3], "drive " + ata +
                                    " started: SIM SATA 2 (model SIM SATA SSD 860, serial "
                                    "SA-0002), " +
                                    std::to_string(kDisk) + " bytes");
        EXPECT_TRUE(All("nvme.img", 0, kDisk, 0x00));
        EXPECT_TRUE(All("ata.img", 0, kDisk, 0x00));
        EXPECT_TRUE(Old("disk.img"));
        TearDown();
    }
}

TEST_F(BatchWholeDisksTest, AllTakesTheWholeDisksFirstThenTheDrivesOnNoListedDisk) {
    BootDisks();
    const Outcome all = Batch({"--batch", "--all", "/M0"});
    EXPECT_EQ(all.status, 0) << all.err;
    ASSERT_FALSE(all.lines.empty());
    // Disk 0 holds Windows: neither it nor its D: is taken; E: goes with its disk.
    EXPECT_EQ(all.lines[0], "run started: method \"Zero fill\", drives \\\\.\\PhysicalDrive1 "
                            "\\\\.\\PhysicalDrive2 A R");
    EXPECT_TRUE(Old("disk.img"));
    EXPECT_TRUE(All("nvme.img", 0, kDisk, 0x00));
    EXPECT_TRUE(All("ata.img", 0, kDisk, 0x00));
    EXPECT_TRUE(All("stick.img", 0, kStickSize, 0x00));
    EXPECT_EQ(pc_->machine().CountCalls("\\\\.\\C:", "WriteFile"), 0);
    TearDown();

    // The letters alone, as unattended runs always took them.
    BootDisks();
    const Outcome letters = Batch({"--batch", "--all-letters", "/M0"});
    EXPECT_EQ(letters.status, 0) << letters.err;
    ASSERT_FALSE(letters.lines.empty());
    EXPECT_EQ(letters.lines[0], "run started: method \"Zero fill\", drives D E A R");
    EXPECT_TRUE(All("ata.img", 0, kDisk, 0xAA));
    EXPECT_TRUE(All("nvme.img", 0, kPartE, 0xAA));
}

// A CD/DVD drive that writes no disc answers INQUIRY and is listed nowhere: --all tells it
// as left out, with the reason, and goes on with what it takes.
TEST_F(BatchWholeDisksTest, AllTellsADriveThatWritesNoDiscAsLeftOut) {
    json machine = WholeDiskMachine();
    machine["opticalDrives"] = {{{"letter", "S"},
                                 {"vendor", "SIMDISC"},
                                 {"product", "DVD-ROM 16X"},
                                 {"writes", json::array()},
                                 {"displayName", "DVD Drive (S:)"}}};
    BootDisks(machine);
    const Outcome all = Batch({"--batch", "--all", "/M0"});
    EXPECT_EQ(all.status, 0) << all.err;
    ASSERT_GE(all.lines.size(), 2u);
    EXPECT_EQ(all.lines[0].rfind("left out: S: ", 0), 0u) << all.lines[0];
    EXPECT_NE(all.lines[0].find("DVD-ROM 16X"), std::string::npos) << all.lines[0];
    EXPECT_NE(all.lines[0].find(": a CD/DVD drive that writes no disc"), std::string::npos)
        << all.lines[0];
    EXPECT_EQ(all.lines[1], "run started: method \"Zero fill\", drives \\\\.\\PhysicalDrive1 "
                            "\\\\.\\PhysicalDrive2 A R");
    // Named drives are what they are: nothing is told of the rest.
    TearDown();
    BootDisks(machine);
    const Outcome named = Batch({"--batch", "/M0", "A"});
    ASSERT_FALSE(named.lines.empty());
    EXPECT_EQ(named.lines[0].rfind("run started", 0), 0u) << named.lines[0];
}

TEST_F(BatchWholeDisksTest, ASerialNumberTakesEveryNamespaceOfItsDriveAndNothingElse) {
    // Disk 3: the NVMe drive's second namespace, which reports the drive's serial number.
    json machine = WholeDiskMachine();
    json second = machine["physicalDisks"][1];
    second["friendlyName"] = "SIM NVME 1 NS2";
    second["deviceNumber"] = 3;
    second["image"] = "ns2.img";
    second.erase("firmware");
    second["namespaceOf"] = 1;
    machine["physicalDisks"].push_back(second);
    BootDisks(machine);
    Fill("ns2.img", 0xAA);
    const Outcome run = Batch({"--batch", "/M0", "serial:nv-0001"});
    EXPECT_EQ(run.status, 0) << run.err;
    ASSERT_FALSE(run.lines.empty()) << run.err;
    EXPECT_EQ(run.lines[0], "run started: method \"Zero fill\", drives \\\\.\\PhysicalDrive1 "
                            "\\\\.\\PhysicalDrive3");
    EXPECT_TRUE(All("nvme.img", 0, kDisk, 0x00));
    EXPECT_TRUE(All("ns2.img", 0, kDisk, 0x00));
    EXPECT_TRUE(Old("ata.img"));
    EXPECT_TRUE(Old("disk.img"));
}

TEST_F(BatchWholeDisksTest, AllFindsADiskWithoutPartitionsWhereItIsTheOnlyOneToWipe) {
    json machine = WholeDiskMachine();
    machine["physicalDisks"].erase(1); // no NVMe drive, so no E:
    auto& drives = machine["drives"];
    drives.erase(drives.end() - 1);
    for (int i = static_cast<int>(drives.size()) - 1; i >= 0; --i)
        if (drives[i]["letter"] != "C" && drives[i]["letter"] != "D")
            drives.erase(static_cast<std::size_t>(i));
    BootDisks(machine);
    const Outcome run = Batch({"--batch", "--all", "/M0"});
    EXPECT_EQ(run.status, 0) << run.err;
    ASSERT_FALSE(run.lines.empty());
    EXPECT_EQ(run.lines[0], "run started: method \"Zero fill\", drives \\\\.\\PhysicalDrive2");
    EXPECT_TRUE(All("ata.img", 0, kDisk, 0x00));
    EXPECT_TRUE(Old("disk.img"));
}

TEST_F(BatchWholeDisksTest, ARefusedRunSaysWhyOnceAndLeavesARefusedRecord) {
    struct Case {
        std::vector<std::string> drives;
        std::string reason;
    };
    const Case cases[] = {
        {{"disk0"},
         "disk0 (\\\\.\\PhysicalDrive0, SIM DISK 0) cannot be wiped: holds the running "
         "system (C:\\WINDOWS)"},
        {{"disk1", "disk7"}, "no disk 7 in the drive list (it has C D E A R disk0 "},
        {{"serial:XYZ"},
         "no disk with serial number XYZ in the drive list (the serial numbers "
         "are NV-0001 SA-0002)"},
    };
    for (const Case& c : cases) {
        BootDisks(RecordOn());
        std::vector<std::string> arguments = {"--batch", "/M0"};
        arguments.insert(arguments.end(), c.drives.begin(), c.drives.end());
        const Outcome run = Batch(WithRecord(arguments));
        EXPECT_EQ(run.status, 3);
        EXPECT_EQ(run.err.rfind("purgelet: " + c.reason, 0), 0u) << run.err;
        EXPECT_EQ(run.err.find("purgelet: ", 1), std::string::npos) << run.err;
        EXPECT_EQ(run.lines,
                  std::vector<std::string>{
                      "run ended: refused, exit status 3; record: " + ReportPath() + ".json"});
        // No report: the run never started.
        EXPECT_FALSE(std::filesystem::exists(ReportPath()));
        const json record = Record();
        EXPECT_EQ(record["run"]["outcome"], "refused");
        EXPECT_EQ(record["run"]["outcomeText"].get<std::string>().rfind(c.reason, 0), 0u);
        EXPECT_TRUE(record["run"]["unattended"]);
        EXPECT_EQ(record::VerifyRecordFiles({ReportPath() + ".json"}).Broken, 0);
        EXPECT_TRUE(Old("disk.img"));
        EXPECT_TRUE(Old("nvme.img"));
        TearDown();
    }
}

TEST_F(BatchWholeDisksTest, TheDrivesOwnEraseSanitizesEachDiskAndNamesItsDevice) {
    for (const char* method : {kCrypto, kBlock}) {
        BootDisks(RecordOn());
        const Outcome run =
            Batch(WithRecord({"--batch", "--json", "--method", method, "disk1", "disk2"}));
        EXPECT_EQ(run.status, 0) << run.err;
        std::vector<json> events;
        for (const std::string& line : run.lines)
            events.push_back(json::parse(line));
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events.back()["outcome"], "completed");
        const auto started = std::find_if(events.begin(), events.end(), [](const json& e) {
            return e["event"] == "drive_start";
        });
        ASSERT_NE(started, events.end());
        EXPECT_EQ(*started, json({{"event", "drive_start"},
                                  {"drive", "\\\\.\\PhysicalDrive1"},
                                  {"description", "SIM NVME 1"},
                                  {"bytes", kDisk},
                                  {"model", "SIM NVME 970"},
                                  {"serial", "NV-0001"}}));
        // The drive's own progress, as the drive reports it: never backwards.
        double last = 0;
        int told = 0;
        for (const json& e : events)
            if (e["event"] == "progress" && e["drive"] == "\\\\.\\PhysicalDrive1" &&
                e.value("firmware", false)) {
                EXPECT_GE(e["percent"].get<double>(), last) << e;
                last = e["percent"].get<double>();
                ++told;
            }
        EXPECT_GT(told, 0);
        if (method == kCrypto) {
            EXPECT_TRUE(Noise("nvme.img"));
            EXPECT_TRUE(Noise("ata.img"));
        } else {
            EXPECT_TRUE(All("nvme.img", 0, kDisk, 0xFF)); // the byte the drive reports
            EXPECT_TRUE(All("ata.img", 0, kDisk, 0x00));
        }
        EXPECT_TRUE(Old("disk.img"));
        // The record and the report name the disk by its device, model and serial number,
        // never by the path the program opened it by.
        const json record = Record();
        ASSERT_EQ(record["drives"].size(), 2u);
        EXPECT_EQ(record["drives"][0]["name"], "\\\\.\\PhysicalDrive1");
        EXPECT_EQ(record["drives"][0]["nistCategory"], "Purge");
        EXPECT_EQ(record["drives"][1]["identity"]["serial"], "SA-0002");
        const std::string report = ReadFile(ReportPath());
        EXPECT_NE(report.find("SIM NVME 1\r\nModel: SIM NVME 970, serial number: NV-0001, device: "
                              "\\\\.\\PhysicalDrive1\r\n"),
                  std::string::npos)
            << report;
        EXPECT_EQ(report.find("\\\\?\\"), std::string::npos) << report;
        EXPECT_EQ(ReadFile(ReportPath() + ".json").find("\\\\\\\\?\\\\"), std::string::npos);
        TearDown();
    }
}

TEST_F(BatchWholeDisksTest, AFrozenDriveIsRefusedAsALineAndNothingIsSentToAnyDrive) {
    json machine = RecordOn();
    machine["physicalDisks"][2]["firmware"]["frozen"] = true;
    BootDisks(machine);
    const Outcome run = Batch(WithRecord({"--batch", "--method", kCrypto, "disk1", "disk2"}));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.lines,
              (std::vector<std::string>{
                  "drive \\\\.\\PhysicalDrive2 error: SIM SATA 2: cannot be sanitized: "
                  "its security is frozen: suspend and resume the computer, or "
                  "re-plug the drive, then try again",
                  "run ended: refused, exit status 1; record: " + ReportPath() + ".json"}));
    EXPECT_TRUE(Old("nvme.img"));
    EXPECT_TRUE(Old("ata.img"));
    for (const auto& received : pc_->machine().disks[1].firmware->received)
        EXPECT_NE(received.command[0], 0x84) << "a sanitize reached the NVMe drive";
    const json record = Record();
    EXPECT_EQ(record["run"]["outcome"], "refused");
    ASSERT_EQ(record["drives"].size(), 2u);
    EXPECT_EQ(record["drives"][0]["outcome"], "not started");
    EXPECT_EQ(record["drives"][0]["outcomeText"], "");
    EXPECT_EQ(record["drives"][1]["outcome"], "not started");
    EXPECT_NE(record["drives"][1]["outcomeText"].get<std::string>().find("frozen"),
              std::string::npos);
}

} // namespace
} // namespace purgelet::testing
