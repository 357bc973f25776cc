// The wipe engine against its peers on this machine's disk: a file wiped through
// TRandomAccessDisk::Wipe by a minimal file-backed disk (O_DIRECT through
// FILE_FLAG_NO_BUFFERING, the transfer size the program uses by default, the run's default of
// transfers in flight through overlapped transfers) and, in the same run and interleaved
// round by round, dd writing zeros, dd writing pre-generated random data from RAM, shred -n 1,
// dd reading, and fio writing and reading at queue depths 1 and 4 (libaio, O_DIRECT; skipped
// with a line saying so when fio is not installed). The writing peers flush at the end, as
// the engine's close does. The goals against fio at depth 4 are judged round by round. Prints
// medians and ratios, and the peak memory of wipes of two disk sizes (each in a process of its
// own). As root, the same image is then attached as a loop device and wiped through the program's
// whole path (drive letter, volume lock, O_DIRECT, flush at close) against dd oflag=direct on that
// device.
//
//   bench_engine [--dir /var/tmp] [--mib 1024] [--rounds 5]
//
// The file must lie on a real disk: tmpfs accepts misaligned direct I/O and hides faults.
#include "disk/disk.h"
#include "disk/nt/in_flight.h"
#include "disk/nt/nt_disk.h"
#include "methods/generators.h"
#include "methods/method.h"
#include "methods/wipe_state.h"
#include "platform/linux/system.h"
#include "platform/system.h"
#include "report/exceptions.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace purgelet;
using Clock = std::chrono::steady_clock;

// The options' default transfer, "512 KB": what the wipe run sets on every disk.
constexpr std::int32_t kProgramTransfer = 512 * 1024;
// The options' default of transfers in flight.
constexpr std::int32_t kProgramDepth = 4;

double Seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// A disk over a file, through the system interface as the platform disks do it.
class FileDisk : public TPhysicalDisk {
public:
    FileDisk(std::string path, TMessageObject* owner) : TPhysicalDisk(std::move(path), owner) {}

    void init() override {
        Size = static_cast<std::int64_t>(std::filesystem::file_size(Name));
        BlockCount = Size / BlockSize;
    }
    void Open(bool readOnly) override { OpenIn(readOnly, TOpenMode{}); }
    void OpenForWipe(const TOpenMode& mode) override { OpenIn(false, mode); }
    void OpenIn(bool readOnly, const TOpenMode& mode) {
        const DWORD access = readOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
        overlapped_ = !readOnly && mode.TransfersInFlight > 1;
        handle_ = platform::k32().CreateFileA(
            Name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
            (mode.Unbuffered ? FILE_FLAG_NO_BUFFERING : 0) |
                (overlapped_ ? FILE_FLAG_OVERLAPPED : 0),
            nullptr);
        if (handle_ == INVALID_HANDLE_VALUE)
            throw XSystemCall("FileDisk.Open - CreateFileA(" + Name + ") : ");
        ReadOnly = readOnly;
    }
    void Close() override {
        inFlight_.Cancel(handle_);
        if (handle_ != INVALID_HANDLE_VALUE)
            platform::k32().CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }
    void ReadBlocks(void* buffer, std::int32_t count, std::int64_t block) override {
        DWORD done = 0;
        const DWORD bytes = static_cast<DWORD>(count) * static_cast<DWORD>(BlockSize);
        if (overlapped_) {
            if (!TInFlight::Transfer(handle_, buffer, bytes, block * BlockSize, false))
                throw XReadFile("FileDisk.ReadBlocks : " + std::to_string(block) + " : ");
            return;
        }
        Seek(block);
        platform::k32().ReadFile(handle_, buffer, bytes, &done, nullptr);
        if (done != bytes)
            throw XReadFile("FileDisk.ReadBlocks : " + std::to_string(block) + " : ");
    }
    void WriteBlocks(const void* buffer, std::int32_t count, std::int64_t block) override {
        if (ReadOnly)
            throw XReadOnly("Read only !!!");
        DWORD done = 0;
        const DWORD bytes = static_cast<DWORD>(count) * static_cast<DWORD>(BlockSize);
        if (overlapped_) {
            if (!TInFlight::Transfer(handle_, const_cast<void*>(buffer), bytes, block * BlockSize,
                                     true))
                throw XWriteFile("FileDisk.WriteBlocks : " + std::to_string(block) + " : ");
            return;
        }
        Seek(block);
        platform::k32().WriteFile(handle_, buffer, bytes, &done, nullptr);
        if (done != bytes)
            throw XWriteFile("FileDisk.WriteBlocks : " + std::to_string(block) + " : ");
    }
    void StartTransfer(int slot, const TTransfer& transfer) override {
        if (!overlapped_)
            return TRandomAccessDisk::StartTransfer(slot, transfer);
        inFlight_.Start(handle_, slot, transfer, BlockSize);
    }
    void FinishTransfer(int slot) override {
        if (!overlapped_)
            return TRandomAccessDisk::FinishTransfer(slot);
        if (!inFlight_.Finish(handle_, slot))
            throw XWriteFile(
                "FileDisk.FinishTransfer : " + std::to_string(inFlight_.Of(slot).Block) + " : ");
    }
    void CancelTransfers() noexcept override {
        TRandomAccessDisk::CancelTransfers();
        inFlight_.Cancel(handle_);
    }
    bool TransferPending(int slot) override {
        return overlapped_ ? inFlight_.Pending(handle_, slot)
                           : TRandomAccessDisk::TransferPending(slot);
    }

private:
    void Seek(std::int64_t block) {
        const auto offset =
            static_cast<std::uint64_t>(block) * static_cast<std::uint64_t>(BlockSize);
        LONG high = static_cast<LONG>(offset >> 32);
        platform::k32().SetFilePointer(handle_, static_cast<LONG>(offset & 0xFFFFFFFFu), &high,
                                       FILE_BEGIN);
    }
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    bool overlapped_ = false;
    TInFlight inFlight_;
};

// Notes when the last write transfer of the first pass ended and when the last transfer
// ended, to split a checked pass into its write and its read-back; the read-back ends at its
// last transfer, before the device is closed (and flushed).
class TimingOwner : public TMessageObject {
public:
    std::int64_t writeTransfers = 0;
    Clock::time_point writesEnded;
    Clock::time_point lastTransfer;
    void Update() override {
        lastTransfer = Clock::now();
        if (++updates_ == writeTransfers)
            writesEnded = lastTransfer;
    }

private:
    std::int64_t updates_ = 0;
};

std::unique_ptr<method> MethodFile(const std::filesystem::path& folder, const std::string& name,
                                   const std::string& body) {
    const auto path = folder / (name + ".met");
    std::ofstream(path, std::ios::binary) << "NAME=" << name << "\r\n" << body;
    return method::CreateFromFile(path.string());
}

struct EngineRun {
    double total = 0;
    double writes = 0;
    double readBack = 0;
};

EngineRun Wipe(const std::string& file, method& m, bool isaac, bool overlap = true,
               std::int32_t depth = kProgramDepth, bool aes = false, bool content = false) {
    TGenerators generators;
    Randomize(generators);
    generators.UseIsaac = isaac;
    generators.UseAesCtr = aes;
    TimingOwner owner;
    auto disk = MakeDisk<FileDisk>(file, &owner);
    TWipeContext wipe(&m, &owner);
    wipe.Generators = &generators;
    wipe.Options.Unbuffered = true;
    wipe.Options.BufferSize = kProgramTransfer;
    wipe.Options.TransfersInFlight = depth;
    wipe.Options.VerifyContent = content;
    disk->OverlapTransfers = overlap;
    const std::int64_t chunk = kProgramTransfer / disk->BlockSize;
    owner.writeTransfers = (disk->BlockCount + chunk - 1) / chunk;
    const auto start = Clock::now();
    disk->WipeDisk(wipe);
    const auto end = Clock::now();
    return {Seconds(start, end), Seconds(start, owner.writesEnded),
            Seconds(owner.writesEnded, owner.lastTransfer)};
}

// Seconds to fill mib MiB with a random pass in the program's transfer size, no I/O.
double FillAlone(method& m, bool isaac, long mib, bool aes = false) {
    TGenerators generators;
    Randomize(generators);
    generators.UseIsaac = isaac;
    generators.UseAesCtr = aes;
    TWipeState state(m, generators);
    std::vector<std::uint8_t> buffer(kProgramTransfer);
    state.ResetPasses();
    const auto start = Clock::now();
    for (long k = 0; k < mib * 2; ++k)
        state.FillBuffer(buffer.data(), buffer.size());
    // FillBuffer lives in the engine library and moves the generators through the state's
    // reference, so the calls cannot be left out.
    return Seconds(start, Clock::now());
}

double Shell(const std::string& command) {
    const auto start = Clock::now();
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::exit(2);
    }
    return Seconds(start, Clock::now());
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Child mode: one ISAAC pass with its read-back over the file, nothing printed.
int PeakChild(const std::string& file, const std::string& folder) {
    auto m = MethodFile(folder, "peak", "RAND=000255\r\nCHECK\r\n");
    Wipe(file, *m, true);
    return 0;
}

// Peak resident memory (KiB) of a wipe of the file, in a fresh process.
long PeakOfWipe(const std::string& self, const std::string& file, const std::string& folder) {
    const pid_t child = fork();
    if (child == 0) {
        execl(self.c_str(), self.c_str(), "--peak", file.c_str(), folder.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "the peak-memory child failed\n");
        std::exit(2);
    }
    return usage.ru_maxrss;
}

void MakeFile(const std::string& path, long mib) {
    Shell("dd if=/dev/zero of=" + path + " bs=1M count=" + std::to_string(mib) +
          " oflag=direct status=none");
}

} // namespace

// Runs a command and returns its output's first line.
std::string FirstLine(const std::string& command) {
    std::string line;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        if (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
            line = buffer;
        pclose(pipe);
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    return line;
}

// The image as a loop device, named alone to the Linux back-end by a map file of its own:
// a wipe through the drive letter against dd oflag=direct on the same device.
void LoopDeviceCase(const std::string& file, const std::filesystem::path& folder, long mib,
                    int rounds, method& zero) {
    if (geteuid() != 0) {
        std::printf("\nloop device case skipped: it needs root\n");
        return;
    }
    const std::string node = FirstLine("losetup --find --show " + file + " 2>/dev/null");
    if (node.rfind("/dev/loop", 0) != 0) {
        std::printf("\nloop device case skipped: losetup could not attach the image\n");
        return;
    }
    struct Detach {
        std::string node;
        ~Detach() { std::system(("losetup -d " + node).c_str()); } // only the one attached here
    } detach{node};
    std::ofstream(folder / "drives.map") << "only\n" << node << "\n";
    platform::ScopedSystem scope(platform::linux_backend::CreateLinuxSystem(
        std::make_shared<platform::linux_backend::DriveMap>(
            platform::linux_backend::DriveMapOptions{(folder / "config").string(),
                                                     (folder / "drives.map").string()})));
    const std::string dd = "dd if=/dev/zero of=" + node +
                           " bs=512K count=" + std::to_string(mib * 2) +
                           " oflag=direct conv=fdatasync status=none";
    std::vector<double> engine, peer;
    for (int round = 0; round < rounds; ++round) {
        TMessageObject owner;
        auto disk = MakeDisk<TNTLogicalDisk>("C", &owner);
        TWipeContext wipe(&zero, &owner);
        wipe.Options.Unbuffered = true;
        wipe.Options.BufferSize = kProgramTransfer;
        const auto start = Clock::now();
        disk->WipeDisk(wipe);
        engine.push_back(Seconds(start, Clock::now()));
        peer.push_back(Shell(dd));
    }
    const double e = Median(engine), p = Median(peer);
    std::printf("\nloop device %s (C:), %ld MiB:\n  %-20s %7.3f s  %8.1f MiB/s\n"
                "  %-20s %7.3f s  %8.1f MiB/s\n  zero wipe by letter / dd oflag=direct   %6.2f\n",
                node.c_str(), mib, "engine by letter", e, static_cast<double>(mib) / e,
                "dd oflag=direct", p, static_cast<double>(mib) / p, p / e);
}

int main(int argc, char** argv) {
    // The file disk reaches the file through the system interface, which an entry point
    // installs before any call.
    std::string why;
    if (!platform::InstallDefaultSystem(why)) {
        std::fprintf(stderr, "bench_engine: %s\n", why.c_str());
        return 2;
    }
    if (argc == 4 && std::string(argv[1]) == "--peak")
        return PeakChild(argv[2], argv[3]);

    std::string dir = "/var/tmp";
    long mib = 1024;
    int rounds = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--dir")
            dir = argv[i + 1];
        else if (flag == "--mib")
            mib = std::atol(argv[i + 1]);
        else if (flag == "--rounds")
            rounds = std::atoi(argv[i + 1]);
    }
    const std::string tag = std::to_string(getpid());
    const std::string file = dir + "/purgelet-bench-" + tag + ".img";
    const std::string small = dir + "/purgelet-bench-" + tag + "-small.img";
    const std::string random = "/dev/shm/purgelet-bench-random-" + tag;
    const auto folder = std::filesystem::path(dir) / ("purgelet-bench-methods-" + tag);
    std::filesystem::create_directories(folder);
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();

    auto zero = method::CreateFromFile("");
    auto isaac = MethodFile(folder, "isaac", "RAND=000255\r\n");
    auto standard = MethodFile(folder, "standard", "RAND=000255\r\n");
    auto checked = MethodFile(folder, "checked", "HEXA=$00\r\nCHECK\r\n");
    auto randomChecked = MethodFile(folder, "random-checked", "RAND=000255\r\nCHECK\r\n");

    std::printf("bench_engine: %ld MiB file %s, %d rounds, transfers of %d bytes, O_DIRECT\n", mib,
                file.c_str(), rounds, kProgramTransfer);
    MakeFile(file, mib);
    Shell("head -c " + std::to_string(mib) + "M /dev/urandom > " + random);

    const std::string blocks = std::to_string(mib * 2); // of 512 KiB
    // The engine flushes the device when it closes it after a wipe; so do the writing peers.
    const std::string ddZero = "dd if=/dev/zero of=" + file + " bs=512K count=" + blocks +
                               " oflag=direct conv=notrunc,fdatasync status=none";
    const std::string ddRandom = "dd if=" + random + " of=" + file + " bs=512K count=" + blocks +
                                 " oflag=direct conv=notrunc,fdatasync status=none";
    // Before the read peer: written as the engine's pass writes, with no flush in between.
    const std::string ddZeroNoFlush = "dd if=/dev/zero of=" + file + " bs=512K count=" + blocks +
                                      " oflag=direct conv=notrunc status=none";
    const std::string shred = "shred -n 1 " + file;
    const std::string dropCache =
        "dd of=" + file + " oflag=nocache conv=notrunc,fdatasync count=0 status=none";
    const std::string ddRead = "dd if=" + file + " of=/dev/null bs=512K iflag=direct status=none";

    // fio as the device's own measure: the same transfers, O_DIRECT, libaio, a flush at the
    // end of a write, at queue depths 1 and 4.
    const bool haveFio = !FirstLine("command -v fio").empty();
    if (!haveFio)
        std::printf("fio peers skipped: fio is not installed (apt-get install fio); the goals "
                    "against it are not judged\n");
    auto fio = [&](const char* rw, int depth) {
        return "fio --name=peer --filename=" + file + " --rw=" + rw +
               " --bs=512k --size=" + std::to_string(mib) +
               "m --direct=1 --ioengine=libaio --iodepth=" + std::to_string(depth) +
               (rw[0] == 'w' ? " --end_fsync=1" : "") + " --output=/dev/null";
    };

    std::map<std::string, std::vector<double>> t;
    // Where a random pass's time goes: until its last write has ended, then the flush at close.
    std::map<std::string, std::vector<double>> phases;
    for (int round = 0; round < rounds; ++round) {
        if (haveFio) {
            t["fio write depth 1"].push_back(Shell(fio("write", 1)));
            t["fio write depth 4"].push_back(Shell(fio("write", 4)));
        }
        // The random pass right after its peer, as the device stands after the same kind of
        // run: the host's write cache of a virtual disk drifts between far-apart runs.
        const EngineRun random = Wipe(file, *isaac, true);
        t["engine isaac"].push_back(random.total);
        phases["isaac writes"].push_back(random.writes);
        phases["isaac flush"].push_back(random.total - random.writes);
        t["engine aes"].push_back(Wipe(file, *isaac, false, true, kProgramDepth, true).total);
        if (haveFio) {
            Shell(dropCache);
            t["fio read depth 1"].push_back(Shell(fio("read", 1)));
            t["fio read depth 4"].push_back(Shell(fio("read", 4)));
        }
        t["engine zero"].push_back(Wipe(file, *zero, true).total);
        t["dd zero"].push_back(Shell(ddZero));
        t["dd random"].push_back(Shell(ddRandom));
        const EngineRun cheap = Wipe(file, *standard, false);
        t["engine standard"].push_back(cheap.total);
        phases["standard writes"].push_back(cheap.writes);
        t["shred"].push_back(Shell(shred));
        Shell(dropCache); // shred leaves the file in the page cache; direct I/O would pay for it
        const EngineRun check = Wipe(file, *checked, true);
        t["engine zero+check"].push_back(check.total);
        t["engine verify read"].push_back(check.readBack);
        // The same read-back by content, and an AES pass's read-back by content (its bytes
        // drawn again while the device reads).
        Shell(dropCache);
        t["engine content read"].push_back(
            Wipe(file, *checked, true, true, kProgramDepth, false, true).readBack);
        Shell(dropCache);
        t["engine aes content read"].push_back(
            Wipe(file, *randomChecked, false, true, kProgramDepth, true, true).readBack);
        // The read peer, too, reads right after writing the whole file: a device still
        // busy with the writes slows both alike. Both start from a flushed device.
        Shell(dropCache);
        t["dd zero (then read)"].push_back(Shell(ddZeroNoFlush));
        t["dd read"].push_back(Shell(ddRead));
        // The same engine with generation and summing on the calling thread, one buffer.
        t["single-buffer isaac"].push_back(Wipe(file, *isaac, true, false).total);
        Shell(dropCache);
        t["single-buffer verify read"].push_back(Wipe(file, *checked, true, false).readBack);
        // Today's two-buffer overlap, one transfer at a time.
        t["depth-1 isaac"].push_back(Wipe(file, *isaac, true, true, 1).total);
        // What the generators alone cost, without any I/O: a random pass cannot be faster.
        t["ISAAC fill alone"].push_back(FillAlone(*isaac, true, mib));
        t["standard fill alone"].push_back(FillAlone(*standard, false, mib));
        t["AES fill alone"].push_back(FillAlone(*isaac, false, mib, true));
        std::printf("  round %d done\n", round + 1);
        std::fflush(stdout);
    }

    std::printf("\nmedians (MiB/s over %ld MiB):\n", mib);
    std::map<std::string, double> med;
    for (const auto& [name, values] : t) {
        med[name] = Median(values);
        std::printf("  %-20s %7.3f s  %8.1f MiB/s\n", name.c_str(), med[name],
                    static_cast<double>(mib) / med[name]);
    }
    // Speed ratios: the peer's time over the engine's.
    auto ratio = [&](const char* line, double peer, double engine, double goal) {
        const double r = peer / engine;
        std::printf("  %-42s %6.2f  (goal >= %.2f: %s)\n", line, r, goal,
                    r >= goal ? "met" : "NOT met");
    };
    std::printf("\nratios (engine speed / peer speed):\n");
    ratio("zero method / dd zero", med["dd zero"], med["engine zero"], 0.95);
    ratio("ISAAC pass / shred -n 1", med["shred"], med["engine isaac"], 2.0);
    ratio("ISAAC pass / dd random from RAM", med["dd random"], med["engine isaac"], 0.90);
    ratio("standard-generator pass / shred -n 1", med["shred"], med["engine standard"], 0.0);
    ratio("standard-generator pass / dd random", med["dd random"], med["engine standard"], 0.90);
    ratio("HEXA=$00+CHECK / (dd zero + dd read)", med["dd zero (then read)"] + med["dd read"],
          med["engine zero+check"], 0.0);
    ratio("verify read / dd read (both 512 KiB)", med["dd read"], med["engine verify read"], 0.95);
    // A read-back by content costs at most a tenth over the sums' at the device's pace.
    ratio("content read / sums read", med["engine verify read"], med["engine content read"],
          1 / 1.10);
    ratio("AES pass / ISAAC pass", med["engine isaac"], med["engine aes"], 0.0);
    ratio("AES fill alone / dd random", med["dd random"], med["AES fill alone"], 0.0);
    std::printf("\noverlap (overlapped engine speed / single-buffer engine speed, same run):\n");
    ratio("ISAAC pass", med["single-buffer isaac"], med["engine isaac"], 0.0);
    ratio("verify read", med["single-buffer verify read"], med["engine verify read"], 0.0);
    // A generator slower than the disk bounds its pass whatever the engine overlaps.
    std::printf("\nbounds (generator alone / dd random; a random pass cannot exceed it):\n");
    ratio("ISAAC fill alone / dd random", med["dd random"], med["ISAAC fill alone"], 0.0);
    ratio("standard fill alone / dd random", med["dd random"], med["standard fill alone"], 0.0);

    // The goals against fio at depth 4, judged in every round: met in at least 4 of 5.
    if (haveFio) {
        std::printf(
            "\ngoals against fio at queue depth 4 (engine speed / peer speed, by round):\n");
        auto goal = [&](const char* line, const std::function<double(std::size_t)>& ratioOf) {
            std::vector<double> ratios;
            int met = 0;
            std::string list;
            for (std::size_t r = 0; r < static_cast<std::size_t>(rounds); ++r) {
                ratios.push_back(ratioOf(r));
                met += ratios.back() >= 0.90 ? 1 : 0;
                char text[32];
                std::snprintf(text, sizeof text, " %.2f", ratios.back());
                list += text;
            }
            const int needed = std::max(1, (rounds * 4 + 4) / 5);
            std::printf("  %-44s%s\n  %-44s lowest %.2f, median %.2f, >= 0.90 in %d of %d: %s\n",
                        line, list.c_str(), "", *std::min_element(ratios.begin(), ratios.end()),
                        Median(ratios), met, rounds, met >= needed ? "met" : "NOT met");
        };
        goal("zero pass / fio write depth 4",
             [&](std::size_t r) { return t["fio write depth 4"][r] / t["engine zero"][r]; });
        goal("verify read / fio read depth 4",
             [&](std::size_t r) { return t["fio read depth 4"][r] / t["engine verify read"][r]; });
        goal("AES pass / fio write depth 4",
             [&](std::size_t r) { return t["fio write depth 4"][r] / t["engine aes"][r]; });
        goal("AES content read / fio read depth 4", [&](std::size_t r) {
            return t["fio read depth 4"][r] / t["engine aes content read"][r];
        });
        goal("ISAAC pass / min(ISAAC alone, fio write 4)", [&](std::size_t r) {
            return std::max(t["fio write depth 4"][r], t["ISAAC fill alone"][r]) /
                   t["engine isaac"][r];
        });
        // The writes of a random pass end when the generator has drawn its last buffer, if it
        // is the slower side; the flush at close then empties the device's write cache, as
        // fio's end_fsync does within fio's time.
        std::printf("  (ISAAC pass, medians: writes ended after %.3f s, the flush at close took "
                    "%.3f s; the standard generator's writes ended after %.3f s)\n",
                    Median(phases["isaac writes"]), Median(phases["isaac flush"]),
                    Median(phases["standard writes"]));
        std::printf("  (fio depth 4 over depth 1: write %.2f, read %.2f)\n",
                    med["fio write depth 1"] / med["fio write depth 4"],
                    med["fio read depth 1"] / med["fio read depth 4"]);
    }
    ratio("ISAAC pass / the same at depth 1", med["depth-1 isaac"], med["engine isaac"], 0.0);

    std::filesystem::remove(random);
    MakeFile(small, 64);
    const long peakSmall = PeakOfWipe(self, small, folder.string());
    const long peakLarge = PeakOfWipe(self, file, folder.string());
    std::printf("\npeak memory of an ISAAC+CHECK wipe: 64 MiB disk %ld KiB, %ld MiB disk %ld "
                "KiB (%s)\n",
                peakSmall, mib, peakLarge,
                peakLarge <= peakSmall + 1024 ? "does not grow with the disk" : "GROWS");

    try {
        LoopDeviceCase(file, folder, mib, rounds, *zero);
    } catch (const std::exception& error) {
        std::printf("\nloop device case failed: %s\n", error.what());
    }

    std::filesystem::remove(file);
    std::filesystem::remove(small);
    std::filesystem::remove_all(folder);
    return 0;
}
