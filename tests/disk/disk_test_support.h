// Methods for the disk tests, written as ".met" files to a scratch folder and read back
// through the method reader, as the program reads them.
#pragma once

#include "disk/disk.h"
#include "methods/method.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <string>

namespace purgelet::testing {

// A wipe with a run's options, told and asked to the disk's owner.
inline void WipeWithOptions(TDisk& disk, const method* m, const TWipeOptions& options) {
    TWipeContext wipe(m, disk.Owner);
    wipe.Options = options;
    disk.WipeDisk(wipe);
}

// A format on its own, outside a wipe: its progress and questions go to the disk's owner.
inline void FormatAlone(TLogicalDisk& disk, const TFormatParams& params) {
    TWipeContext wipe(nullptr, disk.Owner);
    disk.Format(params, wipe);
}

inline std::unique_ptr<method> MethodFromLines(std::initializer_list<std::string> lines) {
    static std::atomic<int> counter{0};
    const auto folder = std::filesystem::temp_directory_path() / "purgelet-disk-tests";
    std::filesystem::create_directories(folder);
    // Test cases may run as parallel processes: the clock tells their files apart.
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const auto path =
        folder / ("method-" + std::to_string(stamp) + "-" + std::to_string(counter++) + ".met");
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << "NAME=test\r\n";
        for (const auto& line : lines)
            out << line << "\r\n";
    }
    auto result = method::CreateFromFile(path.string());
    std::filesystem::remove(path);
    return result;
}

} // namespace purgelet::testing
