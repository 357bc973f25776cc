#include "parallel_measure.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace purgelet::bench {
namespace {

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// Resident pages from an open /proc/self/statm (its second field), in bytes.
std::int64_t ResidentOf(int statm) {
    char text[128] = {};
    const ssize_t got = pread(statm, text, sizeof text - 1, 0);
    long size = 0, resident = 0;
    if (got <= 0 || std::sscanf(text, "%ld %ld", &size, &resident) != 2)
        return 0;
    return static_cast<std::int64_t>(resident) * sysconf(_SC_PAGESIZE);
}

} // namespace

std::int64_t ResidentBytes() {
    const int statm = open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (statm < 0)
        return 0;
    const std::int64_t bytes = ResidentOf(statm);
    close(statm);
    return bytes;
}

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

ResidentSampler::ResidentSampler() : thread_([this] { Sample(); }) {}

ResidentSampler::~ResidentSampler() {
    if (thread_.joinable())
        Stop();
}

std::int64_t ResidentSampler::Stop() {
    stop_ = true;
    thread_.join();
    return peak_;
}

void ResidentSampler::Sample() {
    const int statm = open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (statm >= 0) {
        // Once more after the stop, so that a run shorter than a period is seen too.
        for (bool last = false; !last;) {
            last = stop_;
            peak_ = std::max(peak_, ResidentOf(statm));
            if (!last)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        close(statm);
    }
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    ownCpu_ = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

std::string CaseFigures::Line() const {
    char line[160];
    std::snprintf(line, sizeof line, "figures %.6f %.6f %.6f %.6f %.0f", slowestAlone, sumAlone,
                  atOnce, cpu, peakGrowth);
    return line;
}

bool CaseFigures::Parse(const std::string& line, CaseFigures* figures) {
    return std::sscanf(line.c_str(), "figures %lf %lf %lf %lf %lf", &figures->slowestAlone,
                       &figures->sumAlone, &figures->atOnce, &figures->cpu,
                       &figures->peakGrowth) == 5;
}

bool RunApart(const std::vector<std::string>& arguments, CaseFigures* figures) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        std::perror("pipe");
        return false;
    }
    std::vector<char*> argv;
    std::string self = "/proc/self/exe";
    argv.push_back(self.data());
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        std::perror("fork");
        close(out[0]);
        close(out[1]);
        return false;
    }
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    std::string output;
    char buffer[512];
    for (ssize_t got; (got = read(out[0], buffer, sizeof buffer)) != 0;) {
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            break;
        output.append(buffer, static_cast<std::size_t>(got));
    }
    close(out[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    const std::size_t last = output.rfind("figures ");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || last == std::string::npos ||
        !CaseFigures::Parse(output.substr(last), figures)) {
        std::fprintf(stderr, "a case run apart failed (status %d): %s\n", status, output.c_str());
        return false;
    }
    return true;
}

} // namespace purgelet::bench
