// The executables started with PURGELET_MACHINE naming a machine file they cannot use: each
// says why on standard error and exits with a status, never an abort, and the terminal
// program does so before it takes the terminal (its output stays empty).
#include "record/record_file.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#ifdef PURGELET_PROGRAM
#include <sys/wait.h>
#endif

namespace {

namespace fs = std::filesystem;

class ProgramEntry : public ::testing::Test {
protected:
    ProgramEntry() {
        static std::atomic<int> counter{0};
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        folder_ = fs::temp_directory_path() /
                  ("purgelet-entry-" + std::to_string(stamp) + "-" + std::to_string(counter++));
        fs::create_directories(folder_);
    }
    ~ProgramEntry() override {
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }

    struct Outcome {
        bool exited = false;  // ended by itself, not by a signal
        int status = -1;      // its exit status
        std::string out, err; // what it wrote
    };

    // Runs program with the machine file, standard input and output on plain files.
    Outcome Run(const std::string& program, const std::string& arguments,
                const std::string& machine) {
        Outcome outcome;
#ifdef PURGELET_PROGRAM
        const fs::path out = folder_ / "out.txt", err = folder_ / "err.txt";
        const std::string command = "PURGELET_MACHINE='" + machine + "' TERM=xterm '" + program +
                                    "' " + arguments + " </dev/null >'" + out.string() + "' 2>'" +
                                    err.string() + "'";
        const int raw = std::system(command.c_str());
        outcome.exited = raw != -1 && WIFEXITED(raw);
        outcome.status = outcome.exited ? WEXITSTATUS(raw) : -1;
        auto read = [](const fs::path& file) {
            std::ifstream in(file, std::ios::binary);
            return std::string(std::istreambuf_iterator<char>(in), {});
        };
        outcome.out = read(out);
        outcome.err = read(err);
#else
        (void)program, (void)arguments, (void)machine;
#endif
        return outcome;
    }

    fs::path folder_;
};

#ifdef PURGELET_PROGRAM

TEST_F(ProgramEntry, TheTerminalProgramSaysWhatIsWrongWithTheMachineFile) {
    const std::string absent = (folder_ / "absent.json").string();
    Outcome missing = Run(PURGELET_PROGRAM, "", absent);
    ASSERT_TRUE(missing.exited) << "killed by a signal";
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err, "purgelet: machine file \"" + absent + "\" does not exist\n");
    EXPECT_EQ(missing.out, ""); // the terminal was never taken

    const fs::path damaged = folder_ / "damaged.json";
    std::ofstream(damaged) << "{\n  \"drives\": [\n    {\"letter\": \"C\",}\n  ]\n}\n";
    Outcome broken = Run(PURGELET_PROGRAM, "/W c:", damaged.string());
    ASSERT_TRUE(broken.exited) << "killed by a signal";
    EXPECT_EQ(broken.status, 2);
    EXPECT_EQ(broken.err.rfind("purgelet: machine file \"" + damaged.string() + "\": ", 0), 0u)
        << broken.err;
    EXPECT_NE(broken.err.find("line 3, column"), std::string::npos) << broken.err;
    EXPECT_EQ(broken.out, "");

    const fs::path bad = folder_ / "bad.json";
    std::ofstream(bad) << R"({"platform": "OS/2"})";
    Outcome value = Run(PURGELET_PROGRAM, "", bad.string());
    ASSERT_TRUE(value.exited);
    EXPECT_EQ(value.status, 2);
    EXPECT_NE(value.err.find("platform: must be"), std::string::npos) << value.err;
}

TEST_F(ProgramEntry, TheToolSaysWhatIsWrongWithTheMachineFile) {
    const fs::path damaged = folder_ / "damaged.json";
    std::ofstream(damaged) << "[";
    Outcome broken = Run(PURGELET_TOOL, "lang dump x.lng", damaged.string());
    ASSERT_TRUE(broken.exited) << "killed by a signal";
    EXPECT_EQ(broken.status, 2);
    EXPECT_EQ(broken.err.rfind("purgelet-tool: machine file \"" + damaged.string() + "\": ", 0), 0u)
        << broken.err;
}

TEST_F(ProgramEntry, TheToolVerifiesRecordsAndItsExitStatusSaysWhatItFound) {
    using namespace purgelet::record;
    std::vector<std::string> files;
    for (const char* name : {"a.log.json", "b.log.json"}) {
        TRecord run;
        run.Run.Start = run.Run.End =
            files.empty() ? "2026-12-09T10:00:00+00:00" : "2026-12-09T11:00:00+00:00";
        run.PreviousSha256 = ChainHead(folder_.string());
        Seal(run);
        std::string writtenTo, why;
        ASSERT_TRUE(WriteRecordFile((folder_ / name).string(), run, false, writtenTo, why));
        files.push_back(writtenTo);
    }
    const std::string both = "record verify '" + files[0] + "' '" + files[1] + "'";
    Outcome intact = Run(PURGELET_TOOL, both, "");
    ASSERT_TRUE(intact.exited);
    EXPECT_EQ(intact.status, 0) << intact.out;
    EXPECT_NE(intact.out.find("2 record(s) checked: all intact"), std::string::npos);

    // The second alone: its previous record is missing, which the earliest given may be.
    EXPECT_EQ(Run(PURGELET_TOOL, "record verify '" + files[1] + "'", "").status, 0);

    // One byte of the first record changed.
    std::string bytes;
    {
        std::ifstream in(files[0], std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    const auto at = bytes.find("10:00:00");
    ASSERT_NE(at, std::string::npos);
    bytes[at + 1] = '1';
    std::ofstream(files[0], std::ios::binary | std::ios::trunc) << bytes;
    Outcome broken = Run(PURGELET_TOOL, both, "");
    EXPECT_EQ(broken.status, 1);
    EXPECT_NE(broken.out.find("a.log.json, record 1"), std::string::npos) << broken.out;
    EXPECT_NE(broken.out.find("BROKEN"), std::string::npos);

    std::ofstream(folder_ / "other.json") << "{}";
    EXPECT_EQ(
        Run(PURGELET_TOOL, "record verify '" + (folder_ / "other.json").string() + "'", "").status,
        2);
    EXPECT_EQ(Run(PURGELET_TOOL, "record", "").status, 2);
}

// Any run's certificate is drawn again from its record; an edited record gets none.
TEST_F(ProgramEntry, TheToolDrawsAnyRunsCertificateFromAnIntactRecordOnly) {
    using namespace purgelet::record;
    const std::string file = (folder_ / "runs.json").string();
    for (const char* host : {"first-pc", "second-pc"}) {
        TRecord run;
        run.Run.Start = run.Run.End = "2026-12-09T10:00:00+00:00";
        run.Computer.HostName = host;
        run.PreviousSha256 = ChainHead(folder_.string());
        Seal(run);
        std::string writtenTo, why;
        ASSERT_TRUE(WriteRecordFile(file, run, true, writtenTo, why)) << why;
    }
    const std::string pdf = (folder_ / "again.pdf").string();
    const Outcome drawn =
        Run(PURGELET_TOOL, "certificate '" + file + "' --run 1 -o '" + pdf + "'", "");
    ASSERT_TRUE(drawn.exited);
    EXPECT_EQ(drawn.status, 0) << drawn.err;
    EXPECT_NE(drawn.out.find("record 1"), std::string::npos) << drawn.out;
    std::ifstream in(pdf, std::ios::binary);
    std::string bytes(std::istreambuf_iterator<char>(in), {});
    EXPECT_EQ(bytes.rfind("%PDF-", 0), 0u);

    EXPECT_EQ(Run(PURGELET_TOOL, "certificate '" + file + "' --run 3 -o '" + pdf + "'", "").status,
              2);
    EXPECT_EQ(Run(PURGELET_TOOL, "certificate '" + file + "'", "").status, 2); // no -o

    // The second record's host name changed: no certificate for it, the first still drawn.
    std::string text;
    {
        std::ifstream records(file, std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(records), {});
    }
    text.replace(text.find("second-pc"), 9, "forged-pc");
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    const std::string forged = (folder_ / "forged.pdf").string();
    const Outcome refused =
        Run(PURGELET_TOOL, "certificate '" + file + "' -o '" + forged + "'", "");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("BROKEN"), std::string::npos) << refused.err;
    EXPECT_FALSE(fs::exists(forged));
    EXPECT_EQ(
        Run(PURGELET_TOOL, "certificate '" + file + "' --run 1 -o '" + forged + "'", "").status, 0);
}

#endif // the terminal program is built where ncurses is

} // namespace
