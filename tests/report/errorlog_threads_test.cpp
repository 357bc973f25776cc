// The error log is written from every thread that builds an exception: the engines of
// several drives at once. Each line must come out whole (run under ThreadSanitizer).
#include "platform/sim/sim.h"
#include "report/errorlog.h"
#include "support/start_gate.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <thread>

namespace purgelet {
namespace {

TEST(ConcurrentErrorLog, LinesFromTwoThreadsComeOutWholeAndAllOfThem) {
    platform::ScopedSystem machine{platform::sim::CreateSimSystem("")};
    const std::string path =
        (std::filesystem::temp_directory_path() /
         ("purgelet_threads_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
          ".log"))
            .string();
    ASSERT_TRUE(OpenErrorLog(path));
    constexpr int kLines = 200;
    purgelet::testing::StartGate gate(2);
    auto write = [&](const std::string& tag) {
        gate.ArriveAndWait();
        for (int i = 0; i < kLines; ++i)
            LogError("TLogicalDisk.Wipe : " + tag + " " + std::string(40, tag[0]));
    };
    std::thread first(write, "E");
    std::thread second(write, "F");
    first.join();
    second.join();
    CloseErrorLog();

    std::map<std::string, int> lines;
    {
        std::ifstream in(path, std::ios::binary);
        for (std::string line; std::getline(in, line);)
            ++lines[line];
    } // closed before the removal: Windows keeps an open file
    std::filesystem::remove(path);
    const std::string stamp = "<2026-01-01 12:00:00> : TLogicalDisk.Wipe : ";
    EXPECT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[stamp + "E " + std::string(40, 'E') + "\r"], kLines);
    EXPECT_EQ(lines[stamp + "F " + std::string(40, 'F') + "\r"], kLines);
}

} // namespace
} // namespace purgelet
