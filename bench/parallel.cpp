// Drives wiped at once against the same drives one after another, in one run: three paced
// drives of a simulated PC (4, 6 and 8 MB/s, a few MB each) wiped by the wipe job with the
// parallel run, one after another, and each alone. Prints parallel / slowest alone and
// serial / sum of alone; fails (exit 1) when the parallel run takes more than 1.15 times the
// slowest drive alone. Then the cost of the handover of drives wiped one after another (every
// update goes to the job's thread and back): an unpaced drive wiped by the job against the
// engine alone on this thread, at the program's transfer and at 4 KiB transfers; printed only.
//
// Then many drives at once, each case in a fresh process of this program (--case ...), so
// that each starts from the same memory: 3, 8 and 16 paced drives (4 to 8 MB/s) and, as root,
// as many loop devices over files. For each: the run at once against the slowest drive alone
// (and against all of them one after another), the process's CPU time during the run, and its
// resident size over the baseline per drive; 16 drives also at four times the size. The
// simulated PC keeps the system cache of buffered writes in this process, so the memory that
// must stay flat in the size is measured with unbuffered writes there (and on loop devices,
// whose cache is the kernel's). Fails (exit 1) when 16 paced drives at once take more than
// 1.15 times the slowest alone, or when the memory per drive grows with the drives' size.
// Loop devices are not paced: they share the two cores, so their ratios are printed only.
//
//   bench_parallel [--mib 4]
#include "parallel_measure.h"

#include "app/wipe_job.h"
#include "disk/disk_manager.h"
#include "methods/method.h"
#include "platform/linux/drive_map.h"
#include "platform/linux/system.h"
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
#include <unistd.h>
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

TWipeSettings Settings(method& zero, bool parallel, std::int32_t bufferBytes,
                       bool noBuffering = false) {
    TWipeSettings settings;
    settings.NoBuffering = noBuffering;
    settings.Method = &zero;
    settings.Unattended = true;
    settings.WipeInParallel = parallel;
    if (bufferBytes > 0)
        settings.BufferBytes = bufferBytes;
    return settings;
}

// Seconds the job takes over the drives; the run must complete.
double Wipe(TGUIDiskManager& manager, std::vector<TDisk*> disks, method& zero, bool parallel,
            std::int32_t bufferBytes = 0, bool noBuffering = false) {
    const TWipeSettings settings = Settings(zero, parallel, bufferBytes, noBuffering);
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

// ---- Many drives at once, each case in a process of its own.

using bench::CaseFigures;
namespace fs = std::filesystem;

constexpr double kMostGrowthOverSize = 1.25;
// Below this the memory per drive is noise of the allocator, whatever the ratio.
constexpr double kGrowthNoiseBytes = 256 << 10;
// The drive wiped once before the measured run, so that what the first wipe of a process
// sets up once is not counted per drive; its size tells it from the measured drives.
constexpr long kWarmUpBytes = 512 << 10;

// count paced drives of mib MiB, at 4 to 8 MB/s (the slowest first), and the warm-up drive.
std::string ManyDrivesJson(int count, long mib) {
    std::string drives = R"({"letter": "C", "kind": "removable", "image": "C.img", "size": )" +
                         std::to_string(kWarmUpBytes) + "}";
    for (int i = 0; i < count; ++i) {
        const std::string letter(1, static_cast<char>('D' + i));
        const long pace = 4000000 + (count > 1 ? 4000000L * i / (count - 1) : 0);
        drives += R"(, {"letter": ")" + letter + R"(", "kind": "removable", "image": ")" + letter +
                  R"(.img", "size": )" + std::to_string(mib << 20) + R"(, "bytesPerSecond": )" +
                  std::to_string(pace) + R"(, "volume": {"label": "B)" + letter +
                  R"(", "fileSystem": "FAT16"}})";
    }
    return R"({"drives": [)" + drives + "]}";
}

// Runs a shell command; its standard output without the last line break.
std::string Shell(const std::string& command) {
    std::string output;
    FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr)
        return output;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
        output += buffer;
    pclose(pipe);
    while (!output.empty() && output.back() == '\n')
        output.pop_back();
    return output;
}

// count loop devices over files of mib MiB and the warm-up one, attached while the object
// lives; the reason when they could not all be had.
class LoopDrives {
public:
    LoopDrives(const fs::path& folder, int count, long mib) : folder_(folder) {
        if (geteuid() != 0) {
            reason_ = "loop devices need root";
            return;
        }
        fs::create_directories(folder);
        for (int i = 0; i <= count && reason_.empty(); ++i) {
            const fs::path image = folder / ("loop" + std::to_string(i) + ".img");
            const long bytes = i == count ? kWarmUpBytes : mib << 20;
            Shell("truncate -s " + std::to_string(bytes) + " '" + image.string() + "'");
            const std::string node = Shell("losetup --find --show '" + image.string() + "'");
            if (node.rfind("/dev/loop", 0) == 0)
                nodes_.push_back(node);
            else
                reason_ = "losetup could not attach " + std::to_string(count + 1) + " loop devices";
        }
        std::ofstream map(MapFile());
        map << "only\n";
        for (const std::string& node : nodes_)
            map << node << "\n";
    }
    ~LoopDrives() {
        for (const std::string& node : nodes_)
            Shell("losetup -d " + node); // only the devices this object attached
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    LoopDrives(const LoopDrives&) = delete;
    LoopDrives& operator=(const LoopDrives&) = delete;

    const std::string& Unavailable() const { return reason_; }
    fs::path MapFile() const { return folder_ / "drives.map"; }
    fs::path ConfigFolder() const { return folder_ / "config"; }

private:
    fs::path folder_;
    std::vector<std::string> nodes_;
    std::string reason_;
};

// The drives of a detected machine that the case measures, in detection order, and the
// warm-up drive.
bool MeasuredDrives(TGUIDiskManager& manager, int count, std::vector<TDisk*>* disks,
                    TDisk** warmUp) {
    for (TDiskList* list : {&manager.LogicalDisks, &manager.PhysicalDisks}) {
        disks->clear();
        *warmUp = nullptr;
        for (int i = 0; i < list->Count(); ++i) {
            TDisk* disk = list->Items(i);
            if (disk->Size == kWarmUpBytes)
                *warmUp = disk;
            else
                disks->push_back(disk);
        }
        if (static_cast<int>(disks->size()) == count && *warmUp != nullptr)
            return true;
    }
    std::fprintf(stderr, "the machine offers %zu drives to measure, not %d\n", disks->size(),
                 count);
    return false;
}

// The case in this process: the warm-up, the run at once measured, then the first alone
// drives each alone. Prints the figures as its last line.
int MeasureCase(TGUIDiskManager& manager, int count, int alone, bool noBuffering) {
    manager.Detect();
    std::vector<TDisk*> disks;
    TDisk* warmUp = nullptr;
    if (!MeasuredDrives(manager, count, &disks, &warmUp))
        return 2;
    const auto zero = method::CreateFromFile("");
    Wipe(manager, {warmUp}, *zero, false, 0, noBuffering);

    CaseFigures figures;
    const std::int64_t baseline = bench::ResidentBytes();
    const double cpuBefore = bench::ProcessCpuSeconds();
    bench::ResidentSampler sampler;
    figures.atOnce = Wipe(manager, disks, *zero, true, 0, noBuffering);
    const std::int64_t peak = sampler.Stop();
    figures.cpu = bench::ProcessCpuSeconds() - cpuBefore - sampler.OwnCpuSeconds();
    figures.peakGrowth = static_cast<double>(std::max<std::int64_t>(0, peak - baseline));
    for (int i = 0; i < alone && i < count; ++i) {
        const double seconds = Wipe(manager, {disks[i]}, *zero, false, 0, noBuffering);
        figures.slowestAlone = std::max(figures.slowestAlone, seconds);
        figures.sumAlone += seconds;
    }
    std::printf("%s\n", figures.Line().c_str());
    return 0;
}

// bench_parallel --case sim|loop --drives N --alone N --no-buffering 0|1
//                (--mib N --folder F | --map F --config F)
int RunCase(int argc, char** argv) {
    std::string kind, folder, map, config;
    int count = 0, alone = 0;
    long mib = 4;
    bool noBuffering = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i], value = argv[i + 1];
        if (key == "--case")
            kind = value;
        else if (key == "--drives")
            count = std::atoi(value.c_str());
        else if (key == "--alone")
            alone = std::atoi(value.c_str());
        else if (key == "--no-buffering")
            noBuffering = value == "1";
        else if (key == "--mib")
            mib = std::atol(value.c_str());
        else if (key == "--folder")
            folder = value;
        else if (key == "--map")
            map = value;
        else if (key == "--config")
            config = value;
    }
    ui::ScriptedHost host;
    if (kind == "sim") {
        const fs::path machine = fs::path(folder) / "machine.json";
        fs::create_directories(folder);
        std::ofstream(machine) << ManyDrivesJson(count, mib);
        platform::ScopedSystem system(platform::sim::CreateSimSystem(machine.string()));
        TGUIDiskManager manager(host);
        return MeasureCase(manager, count, alone, noBuffering);
    }
    auto drives = std::make_shared<platform::linux_backend::DriveMap>(
        platform::linux_backend::DriveMapOptions{config, map});
    platform::ScopedSystem system(platform::linux_backend::CreateLinuxSystem(drives));
    TGUIDiskManager manager(host);
    return MeasureCase(manager, count, alone, noBuffering);
}

// A case of many drives: on the simulated PC (written through its system cache, or not) or
// on loop devices.
struct Case {
    std::string kind; // "sim", "sim nobuf" or "loop"
    int drives = 0;
    long mib = 0;
    int alone = 0; // the first drives (the slowest first) also wiped alone
    CaseFigures figures;
};

// Runs a case apart and prints its row; false when it did not run (told).
bool RunApart(const fs::path& folder, Case c, std::vector<Case>* done) {
    const bool sim = c.kind != "loop";
    std::vector<std::string> arguments = {
        "--case",  sim ? "sim" : "loop",    "--drives",       std::to_string(c.drives),
        "--alone", std::to_string(c.alone), "--no-buffering", c.kind == "sim nobuf" ? "1" : "0"};
    std::unique_ptr<LoopDrives> loops;
    const fs::path images = folder / "case";
    if (sim) {
        arguments.insert(arguments.end(),
                         {"--mib", std::to_string(c.mib), "--folder", images.string()});
    } else {
        loops = std::make_unique<LoopDrives>(folder / "loops", c.drives, c.mib);
        if (!loops->Unavailable().empty()) {
            std::printf("  loop devices: none measured (%s)\n", loops->Unavailable().c_str());
            return false;
        }
        arguments.insert(arguments.end(), {"--map", loops->MapFile().string(), "--config",
                                           loops->ConfigFolder().string()});
    }
    const bool measured = bench::RunApart(arguments, &c.figures);
    std::error_code ignored;
    fs::remove_all(images, ignored); // the simulated drives' images, a few hundred MiB at most
    if (!measured)
        return false;
    const CaseFigures& f = c.figures;
    char overSum[32] = "     -";
    if (c.alone == c.drives)
        std::snprintf(overSum, sizeof overSum, "%6.3f", f.atOnce / f.sumAlone);
    std::printf("  %-9s %3d x %3ld MiB  %7.3f s  %7.3f s  %6.3f   %s  %6.3f s %4.0f%%  %7.2f MiB\n",
                c.kind.c_str(), c.drives, c.mib, f.atOnce, f.slowestAlone,
                f.atOnce / f.slowestAlone, overSum, f.cpu, 100 * f.cpu / f.atOnce,
                f.peakGrowth / c.drives / (1 << 20));
    std::fflush(stdout);
    done->push_back(c);
    return true;
}

const Case* Find(const std::vector<Case>& done, const std::string& kind, int count, long mib) {
    for (const Case& c : done)
        if (c.kind == kind && c.drives == count && c.mib == mib)
            return &c;
    return nullptr;
}

// Whether the memory per drive of count drives stays flat from mib to four times it; told.
bool MemoryIsFlat(const std::vector<Case>& done, const std::string& kind, int count, long mib) {
    const Case* small = Find(done, kind, count, mib);
    const Case* large = Find(done, kind, count, mib * 4);
    if (small == nullptr || large == nullptr)
        return kind != "sim nobuf"; // the paced drives always run; loop devices may not be had
    const double s = small->figures.peakGrowth / count, l = large->figures.peakGrowth / count;
    const bool flat = l <= std::max(s * kMostGrowthOverSize, s + kGrowthNoiseBytes);
    std::printf("%s: %s memory per drive, %d drives: %.2f MiB at %ld MiB, %.2f MiB at %ld MiB, "
                "ratio %.3f (at most %.2f, or %.2f MiB over)\n",
                flat ? "PASS" : "FAIL", kind.c_str(), count, s / (1 << 20), mib, l / (1 << 20),
                mib * 4, s > 0 ? l / s : 0.0, kMostGrowthOverSize, kGrowthNoiseBytes / (1 << 20));
    return flat;
}

// Many drives at once: the cases apart, then the goals. False when a goal was missed.
bool MeasureManyDrives(const fs::path& folder, long mib) {
    std::printf("many drives at once, each case in a fresh process: paced drives of the "
                "simulated PC at 4 to 8 MB/s\n(sim: written through its system cache, which "
                "it keeps in this process; sim nobuf: not), and loop devices over files\n");
    std::printf("  kind      drives x size   at once    slowest   / slowest / sum of  CPU in run  "
                "    memory\n"
                "                                        alone     alone     alone     (of wall)  "
                "    per drive\n");
    std::vector<Case> done;
    bool ran = true;
    for (int count : {3, 8, 16})
        ran = RunApart(folder, {"sim", count, mib, count, {}}, &done) && ran;
    ran = RunApart(folder, {"sim", 16, mib * 4, 1, {}}, &done) && ran;
    for (long size : {mib, mib * 4})
        ran = RunApart(folder, {"sim nobuf", 16, size, 1, {}}, &done) && ran;
    // Loop devices move a few MiB in a few milliseconds: four times the size, so that the
    // drives of a run at once are in flight together long enough to be sampled together.
    const long loopMib = mib * 4;
    for (int count : {3, 8, 16})
        if (!RunApart(folder, {"loop", count, loopMib, count, {}}, &done))
            break;
    if (Find(done, "loop", 16, loopMib) != nullptr)
        RunApart(folder, {"loop", 16, loopMib * 4, 1, {}}, &done);

    bool met = ran;
    if (const Case* sixteen = Find(done, "sim", 16, mib)) {
        const double ratio = sixteen->figures.atOnce / sixteen->figures.slowestAlone;
        const bool fast = ratio <= kMostOverSlowest;
        std::printf("%s: 16 paced drives at once / slowest alone %.3f (at most %.2f)\n",
                    fast ? "PASS" : "FAIL", ratio, kMostOverSlowest);
        met = met && fast;
    }
    met = MemoryIsFlat(done, "sim nobuf", 16, mib) && met;
    met = MemoryIsFlat(done, "loop", 16, loopMib) && met;
    if (!ran)
        std::printf("FAIL: a case of many drives did not run\n");
    return met;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--case") == 0)
        return RunCase(argc, argv);
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
    if (!MeasureManyDrives(folder, mib))
        status = 1;
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return status;
}
