// Pattern and random fill throughput, as ratios against memset of the same buffer in the
// same run: 512 KiB buffers, 4 GiB per case, one core.
#include "methods/generators.h"
#include "methods/isaac.h"
#include "methods/method.h"
#include "methods/random.h"
#include "methods/wipe_state.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

using purgelet::method;
using purgelet::steptype;
using purgelet::TGenerators;
using purgelet::TWipeState;

constexpr std::size_t kBufferSize = 512 * 1024;
constexpr std::uint64_t kTotal = 4ull << 30;
constexpr std::size_t kTransfers = kTotal / kBufferSize;

std::vector<std::uint8_t> buffer(kBufferSize);
std::uint64_t sink = 0; // keeps every fill observable

// Seconds for kTransfers calls of fill, each followed by a read of the buffer.
double Time(const std::function<void()>& fill) {
    auto start = std::chrono::steady_clock::now();
    for (std::size_t t = 0; t < kTransfers; ++t) {
        fill();
        sink += buffer[t % kBufferSize] + buffer[kBufferSize - 1];
    }
    std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return elapsed.count();
}

std::unique_ptr<method> MethodFromLines(const std::string& text) {
    auto path = std::filesystem::temp_directory_path() / "purgelet-bench-fill.met";
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file << text;
    }
    auto m = method::CreateFromFile(path.string());
    std::filesystem::remove(path);
    return m;
}

steptype RandomStep(std::uint8_t low, std::uint8_t high) {
    steptype step;
    step.IsRandom = true;
    step.RandMin = low;
    step.RandMax = high;
    return step;
}

void Report(const char* name, double seconds, double memsetSeconds, const char* note = "") {
    double gbps = static_cast<double>(kTotal) / seconds / 1e9;
    if (gbps > 1000)
        std::printf("%-38s %8.3f s %14s  %8.3f x memset time%s\n", name, seconds, "(no cost)",
                    seconds / memsetSeconds, note);
    else
        std::printf("%-38s %8.3f s %9.2f GB/s  %8.3f x memset time%s\n", name, seconds, gbps,
                    seconds / memsetSeconds, note);
}

} // namespace

int main() {
    std::printf("fill benchmark: %zu KiB buffers, %llu GiB per case\n\n", kBufferSize / 1024,
                static_cast<unsigned long long>(kTotal >> 30));

    double memsetTime = Time([] { std::memset(buffer.data(), 0x5A, kBufferSize); });
    Report("memset (peer)", memsetTime, memsetTime);

    TGenerators generators;
    generators.RandSeed = 12345;
    auto zero = method::CreateFromFile("");
    TWipeState zeroWipe(*zero, generators);
    double zeroTime = Time([&] {
        zeroWipe.InvalidateBuffer(); // as if every transfer were a new pass: the worst case
        zeroWipe.FillBuffer(buffer.data(), kBufferSize);
    });
    Report("zero method, refilled each transfer", zeroTime, memsetTime);

    auto pattern = MethodFromLines("HEXA=$55$AA\r\n");
    TWipeState patternWipe(*pattern, generators);
    double patternEach = Time([&] {
        patternWipe.InvalidateBuffer();
        patternWipe.FillBuffer(buffer.data(), kBufferSize);
    });
    Report("2-byte pattern, refilled each transfer", patternEach, memsetTime);
    patternWipe.ResetPasses();
    double patternPass = Time([&] { patternWipe.FillBuffer(buffer.data(), kBufferSize); });
    Report("2-byte pattern, one pass (engine use)", patternPass, memsetTime,
           "  (filled once, then reused)");

    generators.RandSeed = 12345;
    purgelet::IsaacSeed(generators.Isaac, generators.RandSeed);
    steptype full = RandomStep(0, 255);
    steptype letters = RandomStep(65, 90);

    generators.UseIsaac = true;
    double isaacFull =
        Time([&] { purgelet::FillStep(full, generators, buffer.data(), kBufferSize); });
    Report("random 000-255, ISAAC", isaacFull, memsetTime);
    generators.UseIsaac = false;
    double standardFull =
        Time([&] { purgelet::FillStep(full, generators, buffer.data(), kBufferSize); });
    Report("random 000-255, standard generator", standardFull, memsetTime);

    generators.UseIsaac = true;
    double isaacLetters =
        Time([&] { purgelet::FillStep(letters, generators, buffer.data(), kBufferSize); });
    Report("random 065-090, ISAAC", isaacLetters, memsetTime);
    generators.UseIsaac = false;
    double standardLetters =
        Time([&] { purgelet::FillStep(letters, generators, buffer.data(), kBufferSize); });
    Report("random 065-090, standard generator", standardLetters, memsetTime);

    std::printf("\n(checksum %llu)\n", static_cast<unsigned long long>(sink));
    return 0;
}
