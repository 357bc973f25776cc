// Record files on the real file system: sealing, the chain between runs in one folder,
// appending without touching earlier records, and what record verification finds.
#include "record/record_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

namespace purgelet::record {
namespace {

namespace fs = std::filesystem;

class RecordFileTest : public testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("purgelet-record-" +
                   std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                   testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    static TRecord Sample(const std::string& end, const std::string& serial) {
        TRecord record;
        record.Tool.Version = "1.0";
        record.Tool.BuildId = "abc1234";
        record.Computer = {"Vendor", "Product", "PC-1", "host", "Linux"};
        record.Operator = {"Ann Operator", "Two disks"};
        record.Run.Start = "2026-12-09T10:00:00+01:00";
        record.Run.End = end;
        record.Run.Options = {{"method", "Zeros"}, {"isaac", "no"}};
        record.Run.Outcome = "completed";
        TDrive drive;
        drive.Name = "D";
        drive.Description = "Data (D:)";
        drive.Identity = {"Disk Model", serial, "FW1", "SATA", false};
        drive.PartitionNumber = 2;
        drive.PartitionOffset = 1048576;
        drive.Size = 4096;
        drive.BlockSize = 512;
        drive.BlockCount = 8;
        drive.Method = "Zeros";
        drive.Passes = {{1, "pattern", "00"}, {2, "verify", ""}};
        drive.Verification = "every pass";
        drive.BlocksVerified = 8;
        drive.Start = record.Run.Start;
        drive.End = end;
        drive.DurationSeconds = 1.5;
        drive.Errors = {{3, "Write error: D", "Ignore", record.Run.Start},
                        {std::nullopt, "x", "Ok", ""}};
        drive.Outcome = "completed";
        record.Drives.push_back(drive);
        return record;
    }

    std::string Path(const std::string& name) const { return (folder_ / name).string(); }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // Writes a sealed record chained to the folder's head, as a run does.
    TRecord WriteRun(const std::string& name, const std::string& end, bool append = false,
                     const std::string& serial = "S1") {
        TRecord record = Sample(end, serial);
        record.PreviousSha256 = ChainHead(folder_.string());
        Seal(record);
        std::string writtenTo, why;
        EXPECT_TRUE(WriteRecordFile(Path(name), record, append, writtenTo, why)) << why;
        return record;
    }

    fs::path folder_;
};

TEST_F(RecordFileTest, ARecordReadsBackAsItWasWrittenAndItsSealCoversEveryField) {
    TRecord record = WriteRun("a.log.json", "2026-12-09T10:05:00+01:00");
    ASSERT_EQ(record.Sha256.size(), 64u);
    EXPECT_TRUE(record.SealError.empty());
    const auto file = nlohmann::json::parse(Read(Path("a.log.json")));
    ASSERT_TRUE(file.is_array());
    ASSERT_EQ(file.size(), 1u);
    const TRecord back = FromJson(file[0]);
    EXPECT_EQ(ToJson(back), ToJson(record));
    EXPECT_EQ(back.Drives[0].Identity.Serial, "S1");
    EXPECT_EQ(back.Drives[0].Errors[0].Block, std::optional<std::int64_t>(3));
    EXPECT_FALSE(back.Drives[0].Errors[1].Block.has_value());
    EXPECT_EQ(back.Drives[0].Identity.Rotational, std::optional<bool>(false));

    // Any change of a field changes the digest; the digest itself is outside the body.
    TRecord changed = record;
    changed.Drives[0].Identity.Serial = "S2";
    Seal(changed);
    EXPECT_NE(changed.Sha256, record.Sha256);
    TRecord resealed = record;
    Seal(resealed);
    EXPECT_EQ(resealed.Sha256, record.Sha256);

    const TVerifyResult result = VerifyRecordFiles({Path("a.log.json")});
    EXPECT_EQ(result.Records, 1);
    EXPECT_EQ(result.Broken, 0);
    EXPECT_EQ(result.Unreadable, 0);
}

// A drive's own erase is recorded only for a drive that had one: a drive without keeps the
// fields it always had, so its record's bytes (and digest) are those of before.
TEST_F(RecordFileTest, TheDrivesOwnEraseIsRecordedOnlyWhereThereWasOne) {
    TRecord plain = Sample("2026-12-09T10:05:00+01:00", "S1");
    const nlohmann::json plainJson = ToJson(plain);
    EXPECT_FALSE(plainJson["drives"][0].contains("firmware"));
    EXPECT_FALSE(FromJson(plainJson).Drives[0].Firmware.has_value());
    // So is a read-back by content's finding: only where there was one.
    EXPECT_EQ(plainJson["drives"][0]["verification"].size(), 2u);
    TRecord differing = plain;
    differing.Drives[0].VerifiedByContent = true;
    differing.Drives[0].DifferingBlocks = {7, 3};
    differing.Drives[0].DifferingBlockCount = 2;
    const nlohmann::json differingJson = ToJson(differing);
    EXPECT_EQ(differingJson["drives"][0]["verification"]["differingBlocks"],
              nlohmann::json::parse("[7, 3]"));
    EXPECT_EQ(ToJson(FromJson(differingJson)), differingJson);

    TRecord sanitized = plain;
    TFirmwareErase erase;
    erase.Command = "ATA SECURITY ERASE UNIT, normal (F4h)";
    erase.Status = "completed";
    erase.DriveStatus = "SECURITY ERASE UNIT done";
    erase.Verification = TFirmwareErase::TCheck{66, 60, 5, 1};
    erase.Password = "removed";
    sanitized.Drives[0].Firmware = erase;
    const nlohmann::json json = ToJson(sanitized);
    EXPECT_EQ(json["drives"][0]["firmware"],
              nlohmann::json::parse(R"J({"command": "ATA SECURITY ERASE UNIT, normal (F4h)",
                  "status": "completed", "driveStatus": "SECURITY ERASE UNIT done",
                  "verification": {"sampled": 66, "changed": 60, "heldNoData": 5, "unchanged": 1},
                  "password": "removed"})J"));
    EXPECT_EQ(ToJson(FromJson(json)), json);
    Seal(plain);
    Seal(sanitized);
    EXPECT_NE(sanitized.Sha256, plain.Sha256); // the seal covers it

    // A read-back that never ran is null, and reads back as none.
    sanitized.Drives[0].Firmware->Verification.reset();
    sanitized.Drives[0].Firmware->Password = "not removed";
    const nlohmann::json unverified = ToJson(sanitized);
    EXPECT_TRUE(unverified["drives"][0]["firmware"]["verification"].is_null());
    const TRecord back = FromJson(unverified);
    ASSERT_TRUE(back.Drives[0].Firmware.has_value());
    EXPECT_FALSE(back.Drives[0].Firmware->Verification.has_value());
    EXPECT_EQ(back.Drives[0].Firmware->Password, "not removed");
}

TEST_F(RecordFileTest, RunsInOneFolderFormAChainAndAGapOrAnEditBreaksIt) {
    const TRecord first = WriteRun("one.json", "2026-12-09T10:00:00+01:00");
    const TRecord second = WriteRun("two.json", "2026-12-09T11:00:00+01:00");
    const TRecord third = WriteRun("three.json", "2026-12-09T12:00:00+01:00");
    EXPECT_TRUE(first.PreviousSha256.empty());
    EXPECT_EQ(second.PreviousSha256, first.Sha256);
    EXPECT_EQ(third.PreviousSha256, second.Sha256);
    EXPECT_EQ(ChainHead(folder_.string()), third.Sha256);

    const std::vector<std::string> all = {Path("three.json"), Path("one.json"), Path("two.json")};
    EXPECT_EQ(VerifyRecordFiles(all).Broken, 0);

    // The middle record left out: the third names a record that is not there.
    TVerifyResult gap = VerifyRecordFiles({Path("one.json"), Path("three.json")});
    EXPECT_EQ(gap.Broken, 1);
    bool named = false;
    for (const std::string& line : gap.Lines)
        named = named || (line.find("three.json") != std::string::npos &&
                          line.find("BROKEN chain") != std::string::npos);
    EXPECT_TRUE(named);

    // One byte of the first record's serial number changed.
    std::string bytes = Read(Path("one.json"));
    const auto at = bytes.find("\"S1\"");
    ASSERT_NE(at, std::string::npos);
    bytes[at + 2] = '7';
    std::ofstream(Path("one.json"), std::ios::binary | std::ios::trunc) << bytes;
    TVerifyResult edited = VerifyRecordFiles(all);
    EXPECT_EQ(edited.Broken, 1);
    bool found = false;
    for (const std::string& line : edited.Lines)
        found = found || (line.find("one.json, record 1") != std::string::npos &&
                          line.find("content was changed") != std::string::npos);
    EXPECT_TRUE(found);
}

TEST_F(RecordFileTest, AppendingAddsARecordAndKeepsTheBytesOfTheEarlierOnes) {
    WriteRun("log.json", "2026-12-09T10:00:00+01:00");
    const std::string before = Read(Path("log.json"));
    const TRecord second = WriteRun("log.json", "2026-12-09T11:00:00+01:00", true, "S2");
    const std::string after = Read(Path("log.json"));
    const auto close = before.find_last_of(']');
    std::string kept = before.substr(0, close);
    while (!kept.empty() && (kept.back() == '\n' || kept.back() == ' '))
        kept.pop_back();
    EXPECT_EQ(after.compare(0, kept.size(), kept), 0);
    const auto file = nlohmann::json::parse(after);
    ASSERT_EQ(file.size(), 2u);
    EXPECT_EQ(file[1]["sha256"], second.Sha256);
    EXPECT_EQ(file[1]["previousSha256"], file[0]["sha256"]);
    EXPECT_EQ(VerifyRecordFiles({Path("log.json")}).Broken, 0);

    // Without appending the run gets a file of its own beside it: no record is replaced.
    WriteRun("log.json", "2026-12-09T12:00:00+01:00");
    EXPECT_EQ(Read(Path("log.json")), after);
    EXPECT_EQ(nlohmann::json::parse(Read(Path("log.2.json"))).size(), 1u);
    WriteRun("log.json", "2026-12-09T13:00:00+01:00");
    EXPECT_EQ(nlohmann::json::parse(Read(Path("log.3.json"))).size(), 1u);
    EXPECT_EQ(VerifyRecordFiles({Path("log.json"), Path("log.2.json"), Path("log.3.json")}).Broken,
              0);
}

TEST_F(RecordFileTest, AFileThatIsNotARecordFileIsNeverOverwrittenByAnAppend) {
    std::ofstream(Path("notes.json")) << "{\"mine\": true}";
    const TRecord record = Sample("2026-12-09T10:00:00+01:00", "S1");
    std::string writtenTo, why;
    ASSERT_TRUE(WriteRecordFile(Path("notes.json"), record, true, writtenTo, why)) << why;
    EXPECT_EQ(Read(Path("notes.json")), "{\"mine\": true}");
    EXPECT_EQ(writtenTo, Path("notes.2.json"));
    EXPECT_EQ(nlohmann::json::parse(Read(writtenTo)).size(), 1u);
    // And it is no record file to verify or to chain to.
    EXPECT_EQ(VerifyRecordFiles({Path("notes.json")}).Unreadable, 1);
}

TEST_F(RecordFileTest, AFolderThatCannotBeWrittenGetsNothingAndSaysWhy) {
    const std::string path = Path("missing/sub/run.log.json");
    std::string writtenTo, why;
    EXPECT_FALSE(
        WriteRecordFile(path, Sample("2026-12-09T10:00:00+01:00", "S1"), false, writtenTo, why));
    EXPECT_FALSE(why.empty());
    EXPECT_FALSE(fs::exists(path));
    EXPECT_FALSE(fs::exists(path + ".partial"));
    EXPECT_EQ(ChainHead(Path("missing")), "");
}

// The program's texts are Windows-1252; the file holds them as UTF-8 and gives them back.
TEST_F(RecordFileTest, TextsOutsideAsciiAreWrittenAsUtf8AndReadBackAsTheProgramsOwn) {
    TRecord record = Sample("2026-12-09T10:05:00+01:00", "S\xC9RIE-1");
    record.Operator.Person = "Zo\xEB M\xFCller";
    record.Drives[0].Description = "DONN\xC9"
                                   "ES (D:) \x80";
    record.PreviousSha256 = ChainHead(folder_.string());
    Seal(record);
    ASSERT_TRUE(record.SealError.empty()) << record.SealError;
    std::string writtenTo, why;
    ASSERT_TRUE(WriteRecordFile(Path("u.json"), record, false, writtenTo, why)) << why;
    const std::string bytes = Read(writtenTo);
    EXPECT_NE(bytes.find("Zo\xC3\xAB M\xC3\xBCller"), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("DONN\xC3\x89"
                         "ES (D:) \xE2\x82\xAC"),
              std::string::npos);
    const TRecord back = FromJson(nlohmann::json::parse(bytes)[0]);
    EXPECT_EQ(back.Operator.Person, record.Operator.Person);
    EXPECT_EQ(back.Drives[0].Identity.Serial, record.Drives[0].Identity.Serial);
    EXPECT_EQ(back.Drives[0].Description, record.Drives[0].Description);
    const TVerifyResult result = VerifyRecordFiles({writtenTo});
    EXPECT_EQ(result.Broken, 0);
    EXPECT_EQ(result.Records, 1);
}

// Runs that end together into one folder, in one process or in several, wait for each other
// from reading the chain's head to their record's rename: one chain, nothing lost.
TEST_F(RecordFileTest, RunsEndingTogetherFormOneChainAndLoseNoRecord) {
    constexpr int kRuns = 6, kThreads = 4;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([this, t] {
            for (int run = 0; run < kRuns; ++run) {
                std::string why;
                TRecordFolderLock lock(folder_.string(), why);
                ASSERT_TRUE(lock.Held()) << why;
                TRecord record = Sample("2026-12-09T10:00:00+01:00", "S" + std::to_string(t));
                record.PreviousSha256 = ChainHead(folder_.string());
                Seal(record);
                std::string writtenTo;
                // Half append to one file, half write files of their own.
                ASSERT_TRUE(WriteRecordFile(Path(t % 2 == 0 ? "shared.json" : "own.json"), record,
                                            t % 2 == 0, writtenTo, why))
                    << why;
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(folder_))
        if (entry.path().extension() == ".json")
            files.push_back(entry.path().string());
    EXPECT_EQ(files.size(), 1u + kRuns * kThreads / 2);
    const TVerifyResult result = VerifyRecordFiles(files);
    EXPECT_EQ(result.Records, kRuns * kThreads);
    EXPECT_EQ(result.Broken, 0) << testing::PrintToString(result.Lines);
}

TEST_F(RecordFileTest, AHeldLockKeepsAnotherRunWaitingAndTellsWhyWhenItGivesUp) {
    std::string why;
    TRecordFolderLock held(folder_.string(), why);
    ASSERT_TRUE(held.Held()) << why;
    TRecordFolderLock other(folder_.string(), why, 100);
    EXPECT_FALSE(other.Held());
    EXPECT_NE(why.find(kRecordLockFile), std::string::npos) << why;
    TRecordFolderLock missing(Path("no/such/folder"), why, 100);
    EXPECT_FALSE(missing.Held());
    EXPECT_FALSE(why.empty());
}

// Lines of a check that name a file's record and say a fault.
std::vector<std::string> Faults(const TVerifyResult& result) {
    std::vector<std::string> faults;
    for (const std::string& line : result.Lines)
        if (line.find("BROKEN") != std::string::npos)
            faults.push_back(line);
    return faults;
}

// The one fault a check finds: it names where and says what.
void ExpectOneFault(const TVerifyResult& result, const std::string& where,
                    const std::string& what) {
    const auto faults = Faults(result);
    ASSERT_EQ(faults.size(), 1u) << testing::PrintToString(result.Lines);
    EXPECT_NE(faults[0].find(where), std::string::npos) << faults[0];
    EXPECT_NE(faults[0].find(what), std::string::npos) << faults[0];
}

// Records are ordered by their chain, never by their clocks: runs that ended in the same
// second, given in any order, are listed as they were chained.
TEST_F(RecordFileTest, RecordsAreOrderedByTheirChainNotByTheirEndTimes) {
    const std::string same = "2026-12-09T10:00:00+01:00";
    const TRecord a = WriteRun("a.json", same);
    const TRecord b = WriteRun("b.json", same);
    const TRecord c = WriteRun("c.json", same);
    EXPECT_EQ(b.PreviousSha256, a.Sha256);
    EXPECT_EQ(c.PreviousSha256, b.Sha256);
    EXPECT_EQ(ChainHead(folder_.string()), c.Sha256);
    const TVerifyResult result =
        VerifyRecordFiles({Path("c.json"), Path("a.json"), Path("b.json")});
    EXPECT_EQ(result.Broken, 0);
    ASSERT_EQ(result.Lines.size(), 3u);
    EXPECT_NE(result.Lines[0].find(a.Sha256), std::string::npos);
    EXPECT_NE(result.Lines[1].find(b.Sha256), std::string::npos);
    EXPECT_NE(result.Lines[2].find(c.Sha256), std::string::npos);
}

// Whatever does not fit one chain from one first record is named by file and record number.
TEST_F(RecordFileTest, ASecondFirstRecordAForkAReorderedRecordOrASwappedFileIsBroken) {
    WriteRun("run.json", "2026-12-09T10:00:00+01:00", true);
    const TRecord second = WriteRun("run.json", "2026-12-09T11:00:00+01:00", true, "S2");
    WriteRun("run.json", "2026-12-09T12:00:00+01:00", true, "S3");
    const std::vector<std::string> one = {Path("run.json")};
    ASSERT_TRUE(Faults(VerifyRecordFiles(one)).empty());

    // A record sealed on its own and written to a file of its own, as another run's.
    auto slipIn = [this](TRecord record, const std::string& name) {
        Seal(record);
        std::string writtenTo, why;
        EXPECT_TRUE(WriteRecordFile(Path(name), record, false, writtenTo, why)) << why;
    };
    // A forged record starting a chain of its own.
    slipIn(Sample("2026-12-09T11:30:00+01:00", "FORGED"), "x.json");
    ExpectOneFault(VerifyRecordFiles({Path("run.json"), Path("x.json")}), "x.json, record 1",
                   "second first record");
    fs::remove(Path("x.json"));
    // Two runs that both went on from the same record.
    TRecord fork = Sample("2026-12-09T11:30:00+01:00", "FORK");
    fork.PreviousSha256 = second.PreviousSha256;
    slipIn(fork, "y.json");
    ExpectOneFault(VerifyRecordFiles({Path("y.json"), Path("run.json")}), "y.json, record 1",
                   "follows the same record as");
    fs::remove(Path("y.json"));
    { // The file's second and third records swapped: each still intact by itself.
        auto records = nlohmann::json::parse(Read(Path("run.json")));
        std::swap(records[1], records[2]);
        std::ofstream(Path("run.json"), std::ios::trunc) << records.dump(2);
        ExpectOneFault(VerifyRecordFiles(one), "run.json, record 2", "out of order");
    }
}

TEST_F(RecordFileTest, FilesWhoseNumberedNamesWereSwappedAreBroken) {
    for (int run = 0; run < 3; ++run)
        WriteRun("day.log.json", "2026-12-09T1" + std::to_string(run) + ":00:00+01:00");
    const std::vector<std::string> files = {Path("day.log.json"), Path("day.log.2.json"),
                                            Path("day.log.3.json")};
    ASSERT_TRUE(Faults(VerifyRecordFiles(files)).empty());
    fs::rename(Path("day.log.2.json"), Path("swap"));
    fs::rename(Path("day.log.3.json"), Path("day.log.2.json"));
    fs::rename(Path("swap"), Path("day.log.3.json"));
    ExpectOneFault(VerifyRecordFiles(files), "day.log.3.json, record 1", "numbered after");
}

TEST(IsoTime, TextsWithAnOffsetAreReadAsUtcAndOthersAreRefused) {
    long long a = 0, b = 0;
    ASSERT_TRUE(IsoTimeSeconds("2026-12-09T10:00:00+01:00", a));
    ASSERT_TRUE(IsoTimeSeconds("2026-12-09T09:00:00+00:00", b));
    EXPECT_EQ(a, b);
    ASSERT_TRUE(IsoTimeSeconds("1970-01-01T00:00:00-00:30", a));
    EXPECT_EQ(a, 1800);
    for (const char* bad :
         {"", "2026-12-09 10:00:00", "2026-12-09T10:00:00", "2026-13-01T00:00:00+00:00",
          "2026-12-09T10:00:00+01:00x", "2026-12-09T10:00:00*01:00"})
        EXPECT_FALSE(IsoTimeSeconds(bad, a)) << bad;
    long long now = 0;
    EXPECT_TRUE(IsoTimeSeconds(IsoTimeNow(), now));
}

} // namespace
} // namespace purgelet::record
