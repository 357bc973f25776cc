// Record files on the real file system: sealing, the chain between runs in one folder,
// appending without touching earlier records, and what record verification finds.
#include "record/record_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

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

    // Without appending the file holds the new run alone.
    WriteRun("log.json", "2026-12-09T12:00:00+01:00");
    EXPECT_EQ(nlohmann::json::parse(Read(Path("log.json"))).size(), 1u);
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
