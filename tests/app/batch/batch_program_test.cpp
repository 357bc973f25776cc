// The terminal program started from a shell with "--" options, as a script or a service
// starts it: --help and --version, usage errors with their status and message, the progress
// of a real-clock run, a SIGTERM sent to the process mid-run, and --batch --all on real loop
// devices (only the ones the map file names are wiped; skipped without root or loop devices).
#include "app/batch/batch_arguments.h"

#include <gtest/gtest.h>

#ifdef PURGELET_PROGRAM
#include "platform/linux/loop_device.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>
#endif

namespace purgelet {
namespace {

#ifdef PURGELET_PROGRAM

namespace fs = std::filesystem;
using nlohmann::json;
using testing::LoopDevice;
using testing::Shell;

const char* const kOptionsKey = "Software\\Quillon\\Purgelet 2005";

// The stored options without the format after the wipe.
json StoredOptions() {
    return {
        {"GenerateReportFile", "0"}, {"UseDoDLogStyle", "0"},   {"AppendLog", "0"},
        {"LogFileName", ""},         {"AllowUserAbort", "1"},   {"WipeWithoutIntervention", "0"},
        {"UseIsaac", "0"},           {"NoBuffering", "1"},      {"OverwriteBuffer", "10"},
        {"QuickEraseCDDVD", "0"},    {"FormatPartitions", "0"}, {"SHowAskDialog", "0"},
        {"WipeInParallel", "0"}};
}

std::string ReadAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> LinesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

// The lines without those that tell the devices --all did not take.
std::vector<std::string> WithoutLeftOut(std::vector<std::string> lines) {
    std::erase_if(lines, [](const std::string& line) { return line.rfind("left out: ", 0) == 0; });
    return lines;
}

class BatchProgram : public ::testing::Test {
protected:
    struct Outcome {
        bool exited = false; // ended by itself, not by a signal
        int status = -1;
        std::string out, err;
    };

    // Starts the program through the shell with its output in files; environment is a list
    // of NAME='value' settings.
    pid_t Start(const std::string& environment, const std::string& arguments) {
        const std::string command = "exec env " + environment + " '" + PURGELET_PROGRAM + "' " +
                                    arguments + " </dev/null >'" + Out().string() + "' 2>'" +
                                    Err().string() + "'";
        const pid_t pid = fork();
        if (pid == 0) {
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        return pid;
    }
    Outcome Wait(pid_t pid) {
        Outcome outcome;
        int raw = 0;
        if (waitpid(pid, &raw, 0) == pid && WIFEXITED(raw)) {
            outcome.exited = true;
            outcome.status = WEXITSTATUS(raw);
        }
        outcome.out = ReadAll(Out());
        outcome.err = ReadAll(Err());
        return outcome;
    }
    Outcome Run(const std::string& environment, const std::string& arguments) {
        return Wait(Start(environment, arguments));
    }
    // Waits until a line of the output starts with prefix; false after timeout.
    bool AwaitLine(const std::string& prefix, std::chrono::seconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < end) {
            for (const std::string& line : LinesOf(ReadAll(Out())))
                if (line.rfind(prefix, 0) == 0)
                    return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    fs::path Out() const { return folder_ / "out.txt"; }
    fs::path Err() const { return folder_ / "err.txt"; }
    // A machine file in the scratch folder: a paced 512 KiB stick R: and a 1 MiB drive D:.
    std::string WriteMachine(std::int64_t stickBytesPerSecond) {
        // A desktop of its own: a run's default record goes there, not to the working folder.
        json machine = {{"clock", "real"},
                        {"desktopFolder", (folder_ / "Desktop").string()},
                        {"registry", {{"HKEY_CURRENT_USER", {{kOptionsKey, StoredOptions()}}}}},
                        {"drives",
                         {{{"letter", "D"},
                           {"image", "d.img"},
                           {"size", 1 << 20},
                           {"displayName", "DATA (D:)"},
                           {"volume", {{"label", "DATA"}, {"fileSystem", "FAT16"}}}},
                          {{"letter", "R"},
                           {"kind", "removable"},
                           {"image", "stick.img"},
                           {"size", 512 << 10},
                           {"displayName", "STICK (R:)"},
                           {"volume", {{"label", "STICK"}, {"fileSystem", "FAT16"}}}}}}};
        if (stickBytesPerSecond > 0)
            machine["drives"][1]["bytesPerSecond"] = stickBytesPerSecond;
        const fs::path file = folder_ / "machine.json";
        std::ofstream(file) << machine.dump(2);
        for (const char* image : {"d.img", "stick.img"})
            std::ofstream(folder_ / image, std::ios::binary)
                << std::string(image[0] == 'd' ? 1 << 20 : 512 << 10, '\xAA');
        return "PURGELET_MACHINE='" + file.string() + "'";
    }
    bool AllBytes(const fs::path& file, char value) const {
        const std::string bytes = ReadAll(file);
        return !bytes.empty() && bytes.find_first_not_of(value) == std::string::npos;
    }

    fs::path folder_ = testing::ScratchFolder("batch");
};

TEST_F(BatchProgram, HelpAndVersionArePrintedWithStatusZero) {
    const Outcome help = Run("TERM=dumb", "--help");
    ASSERT_TRUE(help.exited);
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, UsageText());
    EXPECT_EQ(help.err, "");

    const Outcome version = Run("TERM=dumb", "--version");
    ASSERT_TRUE(version.exited);
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, VersionLine() + "\n");

    // No machine file is needed for either, even a broken one.
    const Outcome broken = Run("PURGELET_MACHINE=/nonexistent.json", "--batch --help");
    EXPECT_EQ(broken.status, 0);
    EXPECT_EQ(broken.out, UsageText());
}

TEST_F(BatchProgram, UsageErrorsEndWithStatusThreeAndSayWhatIsWrong) {
    const std::string machine = WriteMachine(0);
    struct Case {
        std::string arguments;
        std::string err;
        std::string out; // the start of the output
    };
    const Case cases[] = {
        {"--bogus", "purgelet: unknown option \"--bogus\"\nTry \"purgelet --help\".\n", ""},
        {"--batch /M0 /X D", "purgelet: unknown switch \"/X\"\nTry \"purgelet --help\".\n", ""},
        {"--batch /M0",
         "purgelet: no drives: give the drives to wipe (letters, disks), or --all\n"
         "Try \"purgelet --help\".\n",
         ""},
        // Refused by the run, which tells its end.
        {"--batch /M0 Q", "purgelet: no drive Q: in the drive list (it has D R)\n",
         "run ended: refused, exit status 3"},
    };
    for (const Case& c : cases) {
        const Outcome run = Run(machine, c.arguments);
        ASSERT_TRUE(run.exited) << c.arguments;
        EXPECT_EQ(run.status, 3) << c.arguments;
        EXPECT_EQ(run.err, c.err) << c.arguments;
        EXPECT_EQ(run.out.rfind(c.out, 0), 0u) << c.arguments << ": " << run.out;
        EXPECT_EQ(c.out.empty(), run.out.empty()) << c.arguments;
    }
    EXPECT_TRUE(AllBytes(folder_ / "d.img", '\xAA'));

    // A machine file that cannot be used: the program cannot start, which is a failure.
    const Outcome missing = Run("PURGELET_MACHINE=/nonexistent.json", "--batch /M0 D");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "purgelet: machine file \"/nonexistent.json\" does not exist\n");
}

// A slow stick on the real clock: its progress is told about once a second with a speed
// near the pace, then SIGTERM ends the run as an abort; the report says so.
TEST_F(BatchProgram, ProgressIsToldAndSigtermAbortsTheRun) {
    const std::string machine = WriteMachine(128 << 10); // 4 seconds for the stick
    const fs::path report = folder_ / "run.log";
    const pid_t pid = Start(machine, "--batch /M0 /B5 /R'" + report.string() + "' R D");
    ASSERT_GT(pid, 0);
    const bool progressed = AwaitLine("drive R progress: ", std::chrono::seconds(20));
    kill(pid, SIGTERM);
    const Outcome run = Wait(pid);
    ASSERT_TRUE(progressed) << run.out << run.err;
    ASSERT_TRUE(run.exited) << "killed by the signal, not aborted: " << run.out;
    EXPECT_EQ(run.status, 2) << run.out << run.err;

    const std::vector<std::string> lines = LinesOf(run.out);
    ASSERT_GE(lines.size(), 6u) << run.out;
    EXPECT_EQ(lines[0], "run started: method \"Zero fill\", drives R D");
    EXPECT_EQ(lines[1], "drive R started: STICK (R:), 524288 bytes");
    // "drive R progress: 25.0%, 0.1 MB/s, 0:00:03 left, pass 1 of 1"
    const std::string& progress = lines[2];
    EXPECT_EQ(progress.rfind("drive R progress: ", 0), 0u) << progress;
    EXPECT_NE(progress.find(" MB/s, "), std::string::npos) << progress;
    EXPECT_NE(progress.find(" left, pass 1 of 1"), std::string::npos) << progress;
    EXPECT_NE(std::find(lines.begin(), lines.end(), "stop requested (stop): the run is aborted"),
              lines.end())
        << run.out;
    // The record (on by default) and its certificate end "aborted" beside the report.
    EXPECT_EQ(lines.back(), "run ended: aborted, exit status 2; report: " + report.string() +
                                "; record: " + report.string() +
                                ".json; certificate: " + report.string() + ".pdf");
    EXPECT_NE(ReadAll(report.string() + ".json").find("\"outcome\": \"aborted\""),
              std::string::npos);
    const std::string text = ReadAll(report);
    EXPECT_NE(text.find("WIPE ABORTED at"), std::string::npos) << text;
    EXPECT_TRUE(AllBytes(folder_ / "d.img", '\xAA')); // never reached
    EXPECT_FALSE(AllBytes(folder_ / "stick.img", '\0'));
}

// SIGHUP (the terminal that started the run has gone) stops the run as SIGTERM does: the
// program ends by itself, and its report, record and certificate say aborted.
TEST_F(BatchProgram, SighupAbortsTheRunAsSigtermDoes) {
    const std::string machine = WriteMachine(128 << 10);
    const fs::path report = folder_ / "run.log";
    const pid_t pid = Start(machine, "--batch /M0 /B5 /R'" + report.string() + "' R D");
    ASSERT_GT(pid, 0);
    const bool progressed = AwaitLine("drive R progress: ", std::chrono::seconds(20));
    kill(pid, SIGHUP);
    const Outcome run = Wait(pid);
    ASSERT_TRUE(progressed) << run.out << run.err;
    ASSERT_TRUE(run.exited) << "killed by the signal, not aborted: " << run.out;
    EXPECT_EQ(run.status, 2) << run.out << run.err;
    const std::vector<std::string> lines = LinesOf(run.out);
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "stop requested (console closed): the run is aborted"),
              lines.end())
        << run.out;
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "run ended: aborted, exit status 2; report: " + report.string() +
                                "; record: " + report.string() +
                                ".json; certificate: " + report.string() + ".pdf");
    EXPECT_NE(ReadAll(report.string() + ".json").find("\"outcome\": \"aborted\""),
              std::string::npos);
    EXPECT_NE(ReadAll(report).find("WIPE ABORTED at"), std::string::npos);
    EXPECT_TRUE(AllBytes(folder_ / "d.img", '\xAA'));
}

TEST_F(BatchProgram, JsonLinesOfARunOnTheDemoPcShapedMachine) {
    const std::string machine = WriteMachine(0);
    const Outcome run = Run(machine, "--batch --json --method 'zero FILL' D");
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> lines = LinesOf(run.out);
    ASSERT_EQ(lines.size(), 4u) << run.out;
    std::vector<std::string> kinds;
    for (const std::string& line : lines)
        kinds.push_back(json::parse(line).at("event"));
    EXPECT_EQ(kinds,
              (std::vector<std::string>{"run_start", "drive_start", "drive_end", "run_end"}));
    EXPECT_EQ(json::parse(lines[3])["exit_status"], 0);
    EXPECT_TRUE(AllBytes(folder_ / "d.img", '\0'));
    EXPECT_TRUE(AllBytes(folder_ / "stick.img", '\xAA'));
}

// Unattended runs on this machine's real devices: a loop device with two partitions that the
// map file names, and a second one it does not name, which stays as it was throughout. With
// a partition mounted, the disk named by its device is refused with nothing written; then
// --all-letters wipes the partitions, the table kept; then --all wipes the disk from byte 0.
TEST_F(BatchProgram, WholeDisksOnLoopDevicesAreOnlyTheOnesTheMapFileNames) {
    const std::string reason = testing::LoopDevicesUnavailable();
    if (!reason.empty())
        GTEST_SKIP() << reason;
    using testing::kMiB;
    LoopDevice disk(folder_ / "a.img", 64, testing::kTwoPartitionTable);
    LoopDevice other(folder_ / "b.img", 16, "");
    ASSERT_TRUE(disk.attached() && other.attached()) << "losetup could not attach the images";
    ASSERT_TRUE(fs::exists(disk.Partition(2))) << "the partition table was not read";
    Shell("mkfs.vfat -F 16 -n PURGETEST " + disk.Partition(1));
    Shell("mkfs.ext4 -q -L OTHERPART " + disk.Partition(2));
    {
        std::ofstream node(other.node(), std::ios::binary);
        node << std::string(16 * kMiB, '\x5A');
    }
    const std::string table = ReadAll(disk.image()).substr(0, kMiB);

    const fs::path config = folder_ / "config";
    fs::create_directories(config / "purgelet");
    std::ofstream(config / "purgelet" / "registry.json")
        << json{{kOptionsKey, StoredOptions()}}.dump(2);
    std::ofstream(folder_ / "drives.map") << "only\n" << disk.node() << "\n";
    const std::string environment = "PURGELET_DRIVE_MAP='" + (folder_ / "drives.map").string() +
                                    "' XDG_CONFIG_HOME='" + config.string() + "' HOME='" +
                                    folder_.string() + "'";

    // A partition mounted: the disk named by its device is not written under it.
    const std::string before = ReadAll(disk.image());
    const fs::path mountPoint = folder_ / "mnt";
    fs::create_directories(mountPoint);
    int mounted = -1;
    Shell("mount " + disk.Partition(2) + " '" + mountPoint.string() + "'", &mounted);
    if (mounted == 0) {
        const Outcome refused = Run(environment, "--batch /M0 " + disk.node());
        Shell("umount '" + mountPoint.string() + "'");
        ASSERT_TRUE(refused.exited);
        EXPECT_EQ(refused.status, 1) << refused.out << refused.err;
        EXPECT_NE(refused.out.find("drive " + disk.node() + " ended: failed"), std::string::npos)
            << refused.out;
        // The table and the partition not mounted are as they were (the mount itself writes
        // to its own partition).
        EXPECT_TRUE(ReadAll(disk.image()).substr(0, 25 * kMiB) == before.substr(0, 25 * kMiB))
            << "written while a partition was mounted";
    }

    // The letters alone: the partitions, the table kept.
    const Outcome run = Run(environment, "--batch --all-letters /M0");
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    // The machine's own devices that the map file leaves out come first, each told.
    const std::vector<std::string> lines = WithoutLeftOut(LinesOf(run.out));
    ASSERT_FALSE(lines.empty()) << run.err;
    EXPECT_EQ(lines[0], "run started: method \"Zero fill\", drives C D");
    // The account has no desktop folder: the record goes to its home folder, beside the
    // first run's.
    EXPECT_EQ(lines.back().rfind("run ended: completed, exit status 0; record: " +
                                     (folder_ / "Purgelet.log").string(),
                                 0),
              0u)
        << lines.back();
    const std::string image = ReadAll(disk.image());
    EXPECT_EQ(image.substr(0, kMiB), table);
    for (std::int64_t start : {1 * kMiB, 25 * kMiB}) {
        const std::string partition = image.substr(start, 24 * kMiB);
        EXPECT_EQ(partition.find_first_not_of('\0'), std::string::npos) << start;
    }

    // Whole disks first: the disk from its first byte to its last.
    const Outcome all = Run(environment, "--batch --all /M0");
    ASSERT_TRUE(all.exited);
    EXPECT_EQ(all.status, 0) << all.out << all.err;
    const std::vector<std::string> allLines = WithoutLeftOut(LinesOf(all.out));
    ASSERT_FALSE(allLines.empty()) << all.err;
    EXPECT_EQ(allLines[0], "run started: method \"Zero fill\", drives " + disk.node());
    EXPECT_EQ(ReadAll(disk.image()).find_first_not_of('\0'), std::string::npos);
    EXPECT_EQ(ReadAll(other.image()), std::string(16 * kMiB, '\x5A'));
}

#endif // the terminal program is built where ncurses is

} // namespace
} // namespace purgelet
