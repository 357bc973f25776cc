// A PostgreSQL server of the test's own, for the fleet database's tests: made in a temporary
// folder, listening only on a Unix socket there, stopped and removed when the test ends,
// whether it passed or not. The server refuses to run as root; run as root (as CI does), it
// runs as "nobody", in folders that user owns. Programs are started without a shell.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace purgelet::testing {

// What a program said and how it ended.
struct TProgramOutcome {
    bool Exited = false; // by itself, not by a signal
    int Status = -1;
    std::string Out, Err;
};

// A program started with its output going to two files, to be waited for.
class TStartedProgram {
public:
    TStartedProgram(const std::vector<std::string>& argv, const std::filesystem::path& folder,
                    const std::string& name)
        : out_(folder / (name + ".out")), err_(folder / (name + ".err")) {
        pid_ = fork();
        if (pid_ == 0) {
            const int out = open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int in = open("/dev/null", O_RDONLY);
            if (out < 0 || err < 0 || in < 0)
                _exit(127);
            dup2(in, 0), dup2(out, 1), dup2(err, 2);
            std::vector<char*> args;
            for (const std::string& arg : argv)
                args.push_back(const_cast<char*>(arg.c_str()));
            args.push_back(nullptr);
            execvp(args[0], args.data());
            _exit(127);
        }
    }
    TProgramOutcome Wait() {
        TProgramOutcome outcome;
        int raw = 0;
        if (pid_ > 0 && waitpid(pid_, &raw, 0) == pid_ && WIFEXITED(raw)) {
            outcome.Exited = true;
            outcome.Status = WEXITSTATUS(raw);
        }
        pid_ = -1;
        outcome.Out = Read(out_);
        outcome.Err = Read(err_);
        return outcome;
    }
    ~TStartedProgram() {
        if (pid_ > 0)
            Wait();
    }
    static std::string Read(const std::filesystem::path& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    std::filesystem::path out_, err_;
    pid_t pid_ = -1;
};

inline TProgramOutcome RunProgram(const std::vector<std::string>& argv,
                                  const std::filesystem::path& folder) {
    return TStartedProgram(argv, folder, "run").Wait();
}

class TPostgresServer {
public:
    // Starts the server; Started() tells whether it did, Failure() why not.
    TPostgresServer() {
        bin_ = ServerPrograms();
        if (bin_.empty()) {
            failure_ = "PostgreSQL's server programs (initdb, pg_ctl, psql) were not found under "
                       "/usr/lib/postgresql/*/bin (or PURGELET_PG_BIN): install the postgresql "
                       "package";
            return;
        }
        char pattern[] = "/tmp/purgelet-pg-XXXXXX"; // short: a socket's path has a limit
        if (mkdtemp(pattern) == nullptr) {
            failure_ = "no temporary folder";
            return;
        }
        folder_ = pattern;
        std::filesystem::create_directories(folder_ / "sock");
        if (geteuid() == 0) {
            const passwd* nobody = getpwnam("nobody");
            if (nobody == nullptr) {
                failure_ = "running as root, and there is no user \"nobody\" to run the server";
                return;
            }
            for (const auto& path : {folder_, folder_ / "sock"})
                if (chown(path.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) {
                    failure_ = "cannot give " + path.string() + " to nobody";
                    return;
                }
            asUser_ = {"runuser", "-u", "nobody", "--"};
        }
        const TProgramOutcome made =
            AsServerUser({(bin_ / "initdb").string(), "-D", (folder_ / "data").string(), "-U",
                          "fleet", "--auth=trust", "-E", "UTF8", "--no-locale", "--no-sync"});
        if (made.Status != 0) {
            failure_ = "initdb failed: " + made.Err;
            return;
        }
        const TProgramOutcome started = AsServerUser(
            {(bin_ / "pg_ctl").string(), "-D", (folder_ / "data").string(), "-l",
             (folder_ / "server.log").string(), "-w", "-t", "30", "-o",
             "-c listen_addresses='' -c unix_socket_directories='" + (folder_ / "sock").string() +
                 "' -c fsync=off -c synchronous_commit=off -c full_page_writes=off",
             "start"});
        if (started.Status != 0) {
            failure_ = "the server did not start: " + started.Err +
                       TStartedProgram::Read(folder_ / "server.log");
            return;
        }
        started_ = true;
    }
    ~TPostgresServer() {
        if (started_)
            AsServerUser({(bin_ / "pg_ctl").string(), "-D", (folder_ / "data").string(), "-m",
                          "immediate", "-w", "stop"});
        if (!folder_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(folder_, ignored);
        }
    }
    TPostgresServer(const TPostgresServer&) = delete;
    TPostgresServer& operator=(const TPostgresServer&) = delete;

    bool Started() const { return started_; }
    const std::string& Failure() const { return failure_; }
    // The connection string of the server's own database, over its socket.
    std::string Conninfo() const {
        return "host=" + (folder_ / "sock").string() + " user=fleet dbname=postgres";
    }
    // One SQL statement through psql; its output, unaligned, without headers.
    TProgramOutcome Sql(const std::string& sql) const {
        return AsServerUser({(bin_ / "psql").string(), "-X", "-q", "-A", "-t", "-v",
                             "ON_ERROR_STOP=1", "-d", Conninfo(), "-c", sql});
    }

private:
    static std::filesystem::path ServerPrograms() {
        std::vector<std::filesystem::path> candidates;
        if (const char* given = std::getenv("PURGELET_PG_BIN"))
            candidates.emplace_back(given);
        std::error_code ec;
        for (const auto& version : std::filesystem::directory_iterator("/usr/lib/postgresql", ec))
            candidates.push_back(version.path() / "bin");
        std::sort(candidates.begin() + (std::getenv("PURGELET_PG_BIN") ? 1 : 0), candidates.end(),
                  std::greater<>());
        for (const auto& bin : candidates)
            if (std::filesystem::exists(bin / "initdb") &&
                std::filesystem::exists(bin / "pg_ctl") && std::filesystem::exists(bin / "psql"))
                return bin;
        return {};
    }
    TProgramOutcome AsServerUser(const std::vector<std::string>& argv) const {
        std::vector<std::string> all = asUser_;
        all.insert(all.end(), argv.begin(), argv.end());
        return TStartedProgram(all, folder_, "server-program").Wait();
    }

    std::filesystem::path bin_, folder_;
    std::vector<std::string> asUser_;
    bool started_ = false;
    std::string failure_;
};

} // namespace purgelet::testing
