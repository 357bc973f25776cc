// What bench_parallel measures around a run of drives at once: the process's resident size,
// sampled while the run goes, and its CPU time; and a case run in a fresh process of its own,
// so that each case starts from the same memory.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace purgelet::bench {

// Samples the process's resident size every few milliseconds from its start until Stop.
class ResidentSampler {
public:
    ResidentSampler();
    ~ResidentSampler();
    ResidentSampler(const ResidentSampler&) = delete;
    ResidentSampler& operator=(const ResidentSampler&) = delete;

    // The highest resident size seen, in bytes; the sampler's own CPU seconds.
    std::int64_t Stop();
    double OwnCpuSeconds() const { return ownCpu_; }

private:
    void Sample();
    std::atomic<bool> stop_{false};
    std::int64_t peak_ = 0;
    double ownCpu_ = 0;
    std::thread thread_;
};

// The resident size of the process now, in bytes.
std::int64_t ResidentBytes();
// User and system CPU seconds of the whole process so far.
double ProcessCpuSeconds();

// What one case of drives at once measured, in the process that ran it.
struct CaseFigures {
    double slowestAlone = 0; // seconds; 0 when no drive ran alone
    double sumAlone = 0;     // seconds of the drives that ran alone, together
    double atOnce = 0;       // seconds of the run at once
    double cpu = 0;          // user + system seconds of the process during the run at once
    double peakGrowth = 0;   // bytes of resident size over the baseline, at the peak

    std::string Line() const;
    static bool Parse(const std::string& line, CaseFigures* figures);
};

// Runs this program again with the arguments and reads the figures it prints on its last line
// of standard output; false (the reason told) when it failed.
bool RunApart(const std::vector<std::string>& arguments, CaseFigures* figures);

} // namespace purgelet::bench
