// purgelet-tool record push, find and certificate against a real PostgreSQL server of the
// test's own: records stored once and only from files whose chain verifies, found by what
// people search by, a certificate drawn from the stored record, and failures told in a line.
#include "record/record_file.h"
#include "support/scratch_folder.h"
#include "tools/purgelet-tool/fleet_server.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <regex>
#include <set>
#include <sstream>

namespace purgelet::tool {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using purgelet::testing::TProgramOutcome;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            lines.push_back(line);
    return lines;
}

// A run of one drive (two where second is given), chained after previous.
record::TRecord Run(const std::string& serial, const std::string& previous, int minute,
                    const std::string& second = "") {
    record::TRecord run;
    char start[64], end[64];
    std::snprintf(start, sizeof start, "2026-12-%02dT%02d:%02d:00+01:00", 1 + minute / 1440,
                  minute / 60 % 24, minute % 60);
    std::snprintf(end, sizeof end, "2026-12-%02dT%02d:%02d:30+01:00", 1 + minute / 1440,
                  minute / 60 % 24, minute % 60);
    run.Run.Start = start;
    run.Run.End = end;
    run.Run.Outcome = "completed";
    run.Computer.Serial = "PC-" + serial;
    run.Computer.HostName = "bench-" + std::to_string(minute % 3);
    run.Operator.Person = "Ann Operator";
    for (const std::string& drive : {serial, second}) {
        if (drive.empty())
            continue;
        record::TDrive wiped;
        wiped.Name = "/dev/sda";
        wiped.Identity.Model = "ST380011A";
        wiped.Identity.Serial = drive;
        wiped.Identity.Bus = "SATA";
        wiped.Size = 80026361856;
        wiped.Method = "One pass of zeros";
        wiped.NistCategory = "Clear";
        wiped.Start = start;
        wiped.End = end;
        wiped.Outcome = "completed";
        run.Drives.push_back(wiped);
    }
    run.PreviousSha256 = previous;
    record::Seal(run);
    return run;
}

// Records chained one after the other, written as one record file by the program's own code.
std::vector<record::TRecord> WriteChain(const fs::path& file,
                                        const std::vector<std::string>& serials,
                                        std::string previous, int firstMinute = 0) {
    std::vector<record::TRecord> runs;
    json array = json::array();
    for (std::size_t i = 0; i < serials.size(); ++i) {
        runs.push_back(Run(serials[i], previous, firstMinute + static_cast<int>(i)));
        previous = runs.back().Sha256;
        array.push_back(record::ToJson(runs.back()));
    }
    std::string why;
    EXPECT_TRUE(record::ReplaceFile(file.string(), array.dump(2), why)) << why;
    return runs;
}

class Fleet : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_.Started()) << server_.Failure();
        const TProgramOutcome made = Tool({"record", "push", "--init", "--to", Conninfo()});
        ASSERT_EQ(made.Status, 0) << made.Err;
    }

    std::string Conninfo() const { return server_.Conninfo(); }
    TProgramOutcome Tool(std::vector<std::string> args) {
        args.insert(args.begin(), PURGELET_TOOL);
        return purgelet::testing::RunProgram(args, scratch_.path());
    }
    std::vector<json> Find(std::vector<std::string> filters) {
        filters.insert(filters.begin(), {"record", "find", "--to", Conninfo(), "--json"});
        const TProgramOutcome found = Tool(filters);
        EXPECT_EQ(found.Status, 0) << found.Err;
        std::vector<json> drives;
        for (const std::string& line : Lines(found.Out))
            drives.push_back(json::parse(line));
        return drives;
    }
    std::string Path(const std::string& name) const { return (scratch_ / name).string(); }

    purgelet::testing::TPostgresServer server_;
    purgelet::testing::ScratchFolder scratch_{"purgelet-fleet-"};
};

TEST_F(Fleet, PushedRecordsAreFoundAsPushedStoredOnceAndOnlyFromFilesWhoseChainVerifies) {
    const auto runs = WriteChain(scratch_ / "a.json", {"S3Z9NB0K1", "S3Z9NB0K2", "S3Z9NB0K3"}, "");
    const TProgramOutcome pushed = Tool({"record", "push", "--to", Conninfo(), Path("a.json")});
    EXPECT_EQ(pushed.Status, 0) << pushed.Err;
    EXPECT_EQ(pushed.Out, Path("a.json") + ": 3 record(s), 3 new\n");

    const auto found = Find({"--serial", "S3Z9NB0K2"});
    ASSERT_EQ(found.size(), 1u);
    const json& drive = found[0];
    EXPECT_EQ(drive["serial"], "S3Z9NB0K2");
    EXPECT_EQ(drive["model"], "ST380011A");
    EXPECT_EQ(drive["bus"], "SATA");
    EXPECT_EQ(drive["size"], 80026361856LL);
    EXPECT_EQ(drive["outcome"], "completed");
    EXPECT_EQ(drive["nistCategory"], "Clear");
    EXPECT_EQ(drive["method"], "One pass of zeros");
    EXPECT_EQ(drive["start"], runs[1].Drives[0].Start);
    EXPECT_EQ(drive["end"], runs[1].Drives[0].End);
    EXPECT_EQ(drive["computerSerial"], "PC-S3Z9NB0K2");
    EXPECT_EQ(drive["hostName"], "bench-1");
    EXPECT_EQ(drive["operator"], "Ann Operator");
    EXPECT_EQ(drive["digest"], runs[1].Sha256);
    EXPECT_EQ(drive["previousDigest"], runs[0].Sha256);
    EXPECT_TRUE(Find({"--serial", "S3Z9NB0K1"})[0]["previousDigest"].is_null()); // a first record

    // The table for people: one line per drive under a heading.
    const TProgramOutcome table =
        Tool({"record", "find", "--to", Conninfo(), "--serial", "S3Z9NB0K3"});
    const auto lines = Lines(table.Out);
    ASSERT_EQ(lines.size(), 2u) << table.Out;
    for (const std::string& field :
         {std::string("S3Z9NB0K3"), std::string("ST380011A"), std::string("80.0 GB"),
          std::string("One pass of zeros"), runs[2].Drives[0].End,
          std::string("bench-2 (PC-S3Z9NB0K3)"), runs[2].Sha256})
        EXPECT_NE(lines[1].find(field), std::string::npos) << field << " in " << lines[1];

    // The filters, each on its own and together.
    EXPECT_EQ(Find({"--computer", "bench-0"}).size(), 1u);
    EXPECT_EQ(Find({"--computer", "PC-S3Z9NB0K3"}).size(), 1u);
    EXPECT_EQ(Find({"--since", "2026-12-01T00:01:00+01:00"}).size(), 2u);
    EXPECT_EQ(Find({"--since", "2026-12-02"}).size(), 0u);
    EXPECT_EQ(Find({"--outcome", "failed"}).size(), 0u);
    EXPECT_EQ(Find({"--outcome", "completed", "--computer", "bench-2"}).size(), 1u);
    EXPECT_EQ(Find({"--serial", "' OR ''='"}).size(), 0u); // a value, never SQL

    // Pushed again: stored once.
    const TProgramOutcome again = Tool({"record", "push", "--to", Conninfo(), Path("a.json")});
    EXPECT_EQ(again.Status, 0);
    EXPECT_EQ(again.Out, Path("a.json") + ": 3 record(s), 0 new\n");
    EXPECT_EQ(Find({}).size(), 3u);

    // One byte of a record changed, and a record removed from the middle of a chain: both
    // files refused with the reason and nothing of them stored, not even their intact records;
    // the good file named with them is stored.
    WriteChain(scratch_ / "b.json", {"B1", "B2", "B3"}, runs[2].Sha256, 10);
    std::string bytes = purgelet::testing::TStartedProgram::Read(scratch_ / "b.json");
    bytes[bytes.find("\"B2\"") + 2] = '9';
    std::ofstream(scratch_ / "b.json", std::ios::binary | std::ios::trunc) << bytes;
    const auto gapped = WriteChain(scratch_ / "c.json", {"C1", "C2", "C3"}, "", 20);
    json chain = json::parse(purgelet::testing::TStartedProgram::Read(scratch_ / "c.json"));
    chain.erase(1);
    std::ofstream(scratch_ / "c.json", std::ios::binary | std::ios::trunc) << chain.dump(2);
    WriteChain(scratch_ / "d.json", {"D1", "D2"}, "", 30);
    const TProgramOutcome mixed = Tool(
        {"record", "push", "--to", Conninfo(), Path("b.json"), Path("d.json"), Path("c.json")});
    EXPECT_TRUE(mixed.Exited);
    EXPECT_EQ(mixed.Status, 1);
    EXPECT_EQ(mixed.Out, Path("d.json") + ": 2 record(s), 2 new\n");
    EXPECT_NE(mixed.Err.find(Path("b.json") + ": refused"), std::string::npos) << mixed.Err;
    EXPECT_NE(mixed.Err.find("content was changed after it was sealed"), std::string::npos);
    EXPECT_NE(mixed.Err.find(Path("c.json") + ": refused"), std::string::npos) << mixed.Err;
    EXPECT_NE(mixed.Err.find("(" + gapped[1].Sha256 + ") is missing"), std::string::npos);
    for (const char* serial : {"B1", "B2", "B3", "B9", "C1", "C3"})
        EXPECT_TRUE(Find({"--serial", serial}).empty()) << serial;
    EXPECT_EQ(Find({"--serial", "D2"}).size(), 1u);

    // Files it cannot use: one line each, and the status says so.
    std::ofstream(scratch_ / "other.json") << "{}";
    for (const std::string& file : {Path("missing.json"), Path("other.json")}) {
        const TProgramOutcome bad = Tool({"record", "push", "--to", Conninfo(), file});
        EXPECT_TRUE(bad.Exited);
        EXPECT_EQ(bad.Status, 2);
        EXPECT_EQ(Lines(bad.Err).size(), 1u) << bad.Err;
        EXPECT_NE(bad.Err.find(file + ": not a record file"), std::string::npos) << bad.Err;
    }
}

TEST_F(Fleet, OneOfTenThousandRecordsIsFoundBySerialInUnderASecond) {
    std::vector<std::string> serials;
    for (int i = 0; i < 10000; ++i)
        serials.push_back("WD-" + std::to_string(100000 + i));
    const auto runs = WriteChain(scratch_ / "many.json", serials, "");
    const TProgramOutcome pushed = Tool({"record", "push", "--to", Conninfo(), Path("many.json")});
    ASSERT_EQ(pushed.Status, 0) << pushed.Err;
    EXPECT_EQ(pushed.Out, Path("many.json") + ": 10000 record(s), 10000 new\n");

    // The whole command, start to end; the best of three, so that a busy machine's pause
    // is not taken for a slow search.
    auto took = std::chrono::steady_clock::duration::max();
    for (int attempt = 0; attempt < 3; ++attempt) {
        const auto before = std::chrono::steady_clock::now();
        const auto found = Find({"--serial", "WD-104321"});
        took = std::min(took, std::chrono::steady_clock::now() - before);
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0]["digest"], runs[4321].Sha256);
    }
    EXPECT_LT(took, std::chrono::seconds(1));
    // Found through the serial's index, not by reading every drive.
    server_.Sql("ANALYZE");
    const TProgramOutcome plan =
        server_.Sql("EXPLAIN (COSTS OFF) SELECT * FROM purgelet_drives WHERE serial = 'WD-104321'");
    EXPECT_NE(plan.Out.find("purgelet_drives_serial"), std::string::npos) << plan.Out;
}

TEST_F(Fleet, TwoPushesAtOnceStoreEveryRecordExactlyOnce) {
    std::vector<std::string> serials;
    for (int i = 0; i < 600; ++i)
        serials.push_back("SN" + std::to_string(i));
    // Two files of one chain that share its middle: the second starts inside the first.
    const std::vector<std::string> first(serials.begin(), serials.begin() + 400);
    const auto runs = WriteChain(scratch_ / "first.json", first, "");
    json both = json::parse(purgelet::testing::TStartedProgram::Read(scratch_ / "first.json"));
    WriteChain(scratch_ / "rest.json",
               std::vector<std::string>(serials.begin() + 400, serials.end()), runs.back().Sha256,
               400);
    json tail = json::parse(purgelet::testing::TStartedProgram::Read(scratch_ / "rest.json"));
    json overlap(both.begin() + 200, both.end());
    overlap.insert(overlap.end(), tail.begin(), tail.end());
    std::ofstream(scratch_ / "second.json") << overlap.dump(2);

    purgelet::testing::TStartedProgram one({PURGELET_TOOL, "record", "push", "--to", Conninfo(),
                                            Path("first.json"), Path("second.json")},
                                           scratch_.path(), "one");
    purgelet::testing::TStartedProgram two({PURGELET_TOOL, "record", "push", "--to", Conninfo(),
                                            Path("second.json"), Path("first.json")},
                                           scratch_.path(), "two");
    const TProgramOutcome a = one.Wait(), b = two.Wait();
    EXPECT_EQ(a.Status, 0) << a.Err;
    EXPECT_EQ(b.Status, 0) << b.Err;
    // Every record is new to exactly one of the four pushes.
    int added = 0;
    for (const std::string& line : Lines(a.Out + b.Out)) {
        std::smatch match;
        ASSERT_TRUE(std::regex_search(line, match, std::regex(", (\\d+) new$"))) << line;
        added += std::stoi(match[1]);
    }
    EXPECT_EQ(added, 600);
    const auto drives = Find({});
    EXPECT_EQ(drives.size(), 600u);
    std::set<std::string> seen;
    for (const json& drive : drives)
        seen.insert(drive["serial"].get<std::string>());
    EXPECT_EQ(seen.size(), 600u);
}

TEST_F(Fleet, TheCertificateIsDrawnFromTheStoredRecordOnlyWhileItIsIntact) {
    const auto runs = WriteChain(scratch_ / "runs.json", {"S3Z9NB0K123456"}, "");
    ASSERT_EQ(Tool({"record", "push", "--to", Conninfo(), Path("runs.json")}).Status, 0);
    const std::string digest = runs[0].Sha256;
    const TProgramOutcome drawn = Tool({"record", "certificate", "--to", Conninfo(), "--digest",
                                        digest, "-o", Path("proof.pdf"), "--letter"});
    ASSERT_EQ(drawn.Status, 0) << drawn.Err;
    EXPECT_NE(drawn.Out.find(digest), std::string::npos) << drawn.Out;
    EXPECT_EQ(purgelet::testing::TStartedProgram::Read(scratch_ / "proof.pdf").rfind("%PDF-", 0),
              0u);
    const TProgramOutcome text =
        purgelet::testing::RunProgram({PDFTOTEXT, Path("proof.pdf"), "-"}, scratch_.path());
    const std::string flat = std::regex_replace(text.Out, std::regex("\\s+"), " ");
    EXPECT_NE(flat.find("Record SHA-256: " + digest), std::string::npos) << flat;
    EXPECT_NE(flat.find("S3Z9NB0K123456"), std::string::npos);
    const TProgramOutcome info =
        purgelet::testing::RunProgram({PDFINFO, Path("proof.pdf")}, scratch_.path());
    EXPECT_NE(info.Out.find("612 x 792"), std::string::npos) << info.Out; // --letter

    // No such record, not a digest: told, nothing drawn.
    const std::string other(64, 'a');
    EXPECT_EQ(Tool({"record", "certificate", "--to", Conninfo(), "--digest", other, "-o",
                    Path("none.pdf")})
                  .Status,
              2);
    EXPECT_EQ(Tool({"record", "certificate", "--to", Conninfo(), "--digest", "abc", "-o",
                    Path("none.pdf")})
                  .Status,
              2);
    EXPECT_FALSE(fs::exists(scratch_ / "none.pdf"));

    // The stored record changed in the database: no certificate for it.
    ASSERT_EQ(server_
                  .Sql("UPDATE purgelet_records SET record = jsonb_set(record, "
                       "'{computer,hostName}', '\"forged\"') WHERE digest = '" +
                       digest + "'")
                  .Status,
              0);
    const TProgramOutcome refused = Tool({"record", "certificate", "--to", Conninfo(), "--digest",
                                          digest, "-o", Path("forged.pdf")});
    EXPECT_EQ(refused.Status, 1);
    EXPECT_NE(refused.Err.find("BROKEN"), std::string::npos) << refused.Err;
    EXPECT_FALSE(fs::exists(scratch_ / "forged.pdf"));

    // A schema of a later version than the tool knows is refused, by every command.
    ASSERT_EQ(server_.Sql("UPDATE purgelet_schema SET version = 2").Status, 0);
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"record", "find", "--to", Conninfo()},
          std::vector<std::string>{"record", "push", "--init", "--to", Conninfo()},
          std::vector<std::string>{"record", "push", "--to", Conninfo(), Path("runs.json")}}) {
        const TProgramOutcome newer = Tool(command);
        EXPECT_EQ(newer.Status, 2);
        EXPECT_NE(newer.Err.find("version 2"), std::string::npos) << newer.Err;
    }
}

// Without a server: what cannot be reached or read is told in a line, never the password.
TEST(FleetInput, AnUnreachableDatabaseOrABadDateIsToldInOneLineWithoutThePassword) {
    purgelet::testing::ScratchFolder scratch("purgelet-fleet-");
    const std::string nowhere = (scratch / "no-server").string();
    for (const std::string& conninfo :
         {"host=" + nowhere + " user=fleet password=Hunter2Secret dbname=x connect_timeout=2",
          "postgresql://fleet:Hunter2Secret@/x?host=" + nowhere,
          "host=" + nowhere + " password = 'Hunter2Secret' stray",
          "host=" + nowhere + " password=Hunter2Secret Hunter2Tail"}) {
        const TProgramOutcome failed = purgelet::testing::RunProgram(
            {PURGELET_TOOL, "record", "find", "--to", conninfo, "--serial", "X"}, scratch.path());
        EXPECT_TRUE(failed.Exited);
        EXPECT_EQ(failed.Status, 2);
        EXPECT_EQ(Lines(failed.Err).size(), 1u) << failed.Err;
        EXPECT_NE(failed.Err.find("cannot reach the fleet database"), std::string::npos)
            << failed.Err;
        EXPECT_EQ((failed.Out + failed.Err).find("Hunter2"), std::string::npos) << failed.Err;
    }
    for (const char* since : {"yesterday", "2026-02-30", "2026-12-09T25:00:00+00:00"}) {
        const TProgramOutcome bad = purgelet::testing::RunProgram(
            {PURGELET_TOOL, "record", "find", "--to", "host=" + nowhere, "--since", since},
            scratch.path());
        EXPECT_EQ(bad.Status, 2);
        EXPECT_NE(bad.Err.find("--since"), std::string::npos) << bad.Err;
    }
}

} // namespace
} // namespace purgelet::tool
