// Drives wiped at once against the same drives one after another, in one run: three paced
// drives of a simulated PC (4, 6 and 8 MB/s, a few MB each) wiped by the wipe job with the
// parallel run, one after another, and each alone. Prints parallel / slowest alone and
// serial / sum of alone; fails (exit 1) when the parallel run takes more than 1.15 times the
// slowest drive alone. Then the cost of the handover of drives wiped one after another (every
// update goes to the job's thread and back): an unpaced drive wiped by the job against the
// engine alone on this thread, at the program's transfer and at 4 KiB transfers; printed only.
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

// Three paced drives and an unpaced one (U:), as fast as memory.
std::string MachineJson(long mib) {
    std::string drives = R"({"letter": "U", "kind": "removable", "image": "U.img", "size": )" +
                         std::to_string(mib << 24) +
                         R"(, "volume": {"label": "BU", "fileSystem": "FAT16"}})";
    const char* letters[] = {"R", "S", "T"};
    const long paces[] = {4000000, 6000000, 8000000};
    for (int i = 0; i < 3; ++i) {
        drives += ",";
        drives += std::string(R"({"letter": ")") + letters[i] + R"(", "kind": "removable", )" +
                  R"("image": ")" + letters[i] + R"(.img", "size": )" + std::to_string(mib << 20) +
                  R"(, "bytesPerSecond": )" + std::to_string(paces[i]) +
                  R"(, "volume": {"label": "B)" + letters[i] + R"(", "fileSystem": "FAT16"}})";
    }
    return R"({"drives": [)" + drives + "]}";
}

TWipeSettings Settings(method& zero, bool parallel, std::int32_t bufferBytes) {
    TWipeSettings settings;
    settings.Method = &zero;
    settings.Unattended = true;
    settings.WipeInParallel = parallel;
    if (bufferBytes > 0)
        settings.BufferBytes = bufferBytes;
    return settings;
}

// Seconds the job takes over the drives; the run must complete.
double Wipe(TGUIDiskManager& manager, std::vector<TDisk*> disks, method& zero, bool parallel,
            std::int32_t bufferBytes = 0) {
    const TWipeSettings settings = Settings(zero, parallel, bufferBytes);
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

// Seconds the engine takes over the drive on this thread, with the job's options, told to the
// manager as the job's drive is.
double EngineAlone(TGUIDiskManager& manager, TDisk& disk, method& zero, std::int32_t bufferBytes) {
    TWipeContext wipe(&zero, &manager);
    wipe.Options = WipeOptionsOf(Settings(zero, false, bufferBytes));
    manager.SetUnattended(true);
    const auto start = Clock::now();
    disk.WipeDisk(wipe);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void MeasureHandover(TGUIDiskManager& manager, TDisk& disk, method& zero, long mib) {
    std::printf("one drive of %ld MiB, unpaced, the job in lock step against the engine "
                "alone\n",
                mib * 16);
    for (std::int32_t bufferBytes : {0, 4096}) {
        std::vector<double> engine, job;
        for (int round = 0; round < 3; ++round) {
            engine.push_back(EngineAlone(manager, disk, zero, bufferBytes));
            job.push_back(Wipe(manager, {&disk}, zero, false, bufferBytes));
        }
        const double e = Median(engine), j = Median(job);
        std::printf("  %-18s engine %.3f s   job %.3f s   job / engine %.3f\n",
                    bufferBytes == 0 ? "program transfer:" : "4 KiB transfers:", e, j, j / e);
    }
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
        TDisk* unpaced = nullptr;
        for (int i = 0; i < manager.LogicalDisks.Count(); ++i) {
            TDisk* disk = manager.LogicalDisks.Items(i);
            if (disk->Name == "U")
                unpaced = disk;
            else
                disks.push_back(disk);
        }
        if (disks.size() != 3 || unpaced == nullptr) {
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
        MeasureHandover(manager, *unpaced, *zero, mib);
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return status;
}
