// Drives wiped at once against the same drives one after another, in one run: three paced
// drives of a simulated PC (4, 6 and 8 MB/s, a few MB each) wiped by the wipe job with the
// parallel run, one after another, and each alone. Prints parallel / slowest alone and
// serial / sum of alone; fails (exit 1) when the parallel run takes more than 1.15 times the
// slowest drive alone.
//
//   bench_parallel [--mib 4]
#include "app/wipe_job.h"
#include "disk/disk_manager.h"
#include "methods/method.h"
#include "platform/sim/sim.h"
#include "platform/system.h"
#include "report/report.h"
#include "ui/scripted_host.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

namespace {

using namespace purgelet;
using Clock = std::chrono::steady_clock;

constexpr double kMostOverSlowest = 1.15;

class QuietView : public TWipeJobView {
public:
    void RunStarting(const TWipeSettings&) override {}
    void DriveStarting(TDisk&, const TWipeSettings&) override {}
    void DriveEnded(TDisk&) override {}
    void Tell(const std::string& text, TMsgDlgType) override {
        std::fprintf(stderr, "told: %s\n", text.c_str());
    }
};

std::string MachineJson(long mib) {
    std::string drives;
    const char* letters[] = {"R", "S", "T"};
    const long paces[] = {4000000, 6000000, 8000000};
    for (int i = 0; i < 3; ++i) {
        if (i > 0)
            drives += ",";
        drives += std::string(R"({"letter": ")") + letters[i] + R"(", "kind": "removable", )" +
                  R"("image": ")" + letters[i] + R"(.img", "size": )" + std::to_string(mib << 20) +
                  R"(, "bytesPerSecond": )" + std::to_string(paces[i]) +
                  R"(, "volume": {"label": "B)" + letters[i] + R"(", "fileSystem": "FAT16"}})";
    }
    return R"({"drives": [)" + drives + "]}";
}

// Seconds the job takes over the drives; the run must complete.
double Wipe(TGUIDiskManager& manager, std::vector<TDisk*> disks, method& zero, bool parallel) {
    TWipeSettings settings;
    settings.Method = &zero;
    settings.Unattended = true;
    settings.WipeInParallel = parallel;
    TWipeJob job(manager, std::move(disks), settings);
    QuietView view;
    const auto start = Clock::now();
    const TWipeOutcome outcome = job.Run(view);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    CurrentReport.reset();
    if (outcome != TWipeOutcome::woCompleted) {
        std::fprintf(stderr, "the wipe did not complete\n");
        std::exit(2);
    }
    return seconds;
}

} // namespace

int main(int argc, char** argv) {
    long mib = 4;
    for (int i = 1; i + 1 < argc; i += 2)
        if (std::strcmp(argv[i], "--mib") == 0)
            mib = std::max(1L, std::atol(argv[i + 1]));

    const auto folder =
        std::filesystem::temp_directory_path() /
        ("purgelet-bench-parallel-" + std::to_string(Clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(folder);
    const auto machine = folder / "machine.json";
    std::ofstream(machine) << MachineJson(mib);

    int status = 0;
    {
        platform::ScopedSystem system(platform::sim::CreateSimSystem(machine.string()));
        ui::ScriptedHost host;
        TGUIDiskManager manager(host);
        manager.Detect();
        std::vector<TDisk*> disks;
        for (int i = 0; i < manager.LogicalDisks.Count(); ++i)
            disks.push_back(manager.LogicalDisks.Items(i));
        if (disks.size() != 3) {
            std::fprintf(stderr, "the simulated PC offers %zu drives, not 3\n", disks.size());
            return 2;
        }
        const auto zero = method::CreateFromFile("");

        std::vector<double> alone;
        for (TDisk* disk : disks)
            alone.push_back(Wipe(manager, {disk}, *zero, false));
        const double slowest = *std::max_element(alone.begin(), alone.end());
        const double sum = std::accumulate(alone.begin(), alone.end(), 0.0);
        const double serial = Wipe(manager, disks, *zero, false);
        const double parallel = Wipe(manager, disks, *zero, true);

        std::printf("three drives of %ld MiB at 4, 6 and 8 MB/s\n", mib);
        std::printf("  alone:    %.3f s, %.3f s, %.3f s\n", alone[0], alone[1], alone[2]);
        std::printf("  serial:   %.3f s   serial / sum of alone      %.3f\n", serial, serial / sum);
        std::printf("  parallel: %.3f s   parallel / slowest alone   %.3f (at most %.2f)\n",
                    parallel, parallel / slowest, kMostOverSlowest);
        if (parallel / slowest > kMostOverSlowest) {
            std::printf("FAIL: the drives wiped at once take longer than allowed\n");
            status = 1;
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return status;
}
