// Several drives wiped at once: one engine per device on its own thread, all calling the
// simulated PC. Each thread must see its own last error, and the handle table, the fault
// lists and the call record the devices share must hold (run under ThreadSanitizer).
#include "platform/sim/kernel32.h"
#include "support/sim_pc.h"
#include "support/start_gate.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using nlohmann::json;
using purgelet::testing::SimPC;
namespace sim = platform::sim;

constexpr DWORD kRW = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kSector = 512;
constexpr int kRounds = 150;

// Two partitions on one disk image: the image, the disk and the machine are shared.
json TwoPartitions() {
    return json::parse(R"J({
      "build": 7600,
      "physicalDisks": [{"friendlyName": "SIM DISK", "deviceNumber": 0, "image": "disk0.img",
                         "geometry": {"cylinders": 16, "tracksPerCylinder": 16,
                                      "sectorsPerTrack": 64, "bytesPerSector": 512}}],
      "drives": [
        {"letter": "E", "disk": 0, "offset": 32768, "length": 4161536, "partitionNumber": 1,
         "volume": null},
        {"letter": "F", "disk": 0, "offset": 4194304, "length": 4194304, "partitionNumber": 2,
         "volume": null}
      ]})J");
}

// What one engine does on its device, round after round; the first thing that went wrong.
struct Engine {
    char letter;
    DWORD faultyBlock;
    bool faultOnWrite;   // else the faulty block fails to read
    DWORD expectedError; // of the faulty transfer
    DWORD ownCode;       // a last error only this thread sets
    std::string expectedText;
    std::string failure;
    int writes = 0;

    void Fail(const std::string& what, DWORD got) {
        if (failure.empty())
            failure =
                std::string(1, letter) + ": " + what + " (last error " + std::to_string(got) + ")";
    }

    void Run(platform::Kernel32& k, purgelet::testing::StartGate& start) {
        const std::string device = std::string("\\\\.\\") + letter + ":";
        std::vector<char> out(kSector), in(kSector);
        start.ArriveAndWait();
        for (int round = 0; round < kRounds && failure.empty(); ++round) {
            HANDLE h =
                k.CreateFileA(device.c_str(), kRW, kShare, nullptr, OPEN_EXISTING, 0, nullptr);
            if (h == INVALID_HANDLE_VALUE) {
                Fail("open", k.GetLastError());
                return;
            }
            if (k.GetLastError() != ERROR_SUCCESS)
                Fail("open left an error", k.GetLastError());
            const DWORD block = static_cast<DWORD>(round % 4);
            std::memset(out.data(), letter + round, out.size());
            DWORD done = 0;
            k.SetFilePointer(h, static_cast<LONG>(block * kSector), nullptr, FILE_BEGIN);
            if (!k.WriteFile(h, out.data(), kSector, &done, nullptr) || done != kSector)
                Fail("write", k.GetLastError());
            ++writes;
            k.SetFilePointer(h, static_cast<LONG>(block * kSector), nullptr, FILE_BEGIN);
            if (!k.ReadFile(h, in.data(), kSector, &done, nullptr) || in != out)
                Fail("read back", k.GetLastError());

            // The faulty block fails with this device's error, and it stays this thread's.
            k.SetFilePointer(h, static_cast<LONG>(faultyBlock * kSector), nullptr, FILE_BEGIN);
            const BOOL ok = faultOnWrite ? k.WriteFile(h, out.data(), kSector, &done, nullptr)
                                         : k.ReadFile(h, in.data(), kSector, &done, nullptr);
            if (faultOnWrite)
                ++writes;
            if (ok)
                Fail("the faulty block transferred", k.GetLastError());
            std::this_thread::yield();
            if (k.GetLastError() != expectedError)
                Fail("fault's error", k.GetLastError());
            if (k.SysErrorMessage(k.GetLastError()) != expectedText)
                Fail("fault's text: " + k.SysErrorMessage(k.GetLastError()), k.GetLastError());

            // A handle that is no handle.
            if (k.ReadFile(reinterpret_cast<HANDLE>(0x7FF0), in.data(), kSector, &done, nullptr) ||
                k.GetLastError() != ERROR_INVALID_HANDLE)
                Fail("bad handle", k.GetLastError());

            k.SetLastError(ownCode);
            std::this_thread::yield();
            if (k.GetLastError() != ownCode)
                Fail("own code", k.GetLastError());
            if (!k.CloseHandle(h))
                Fail("close", k.GetLastError());
        }
    }
};

TEST(ConcurrentDevicesSim, TwoThreadsOnTwoPartitionsOfOneDiskEachKeepTheirOwnLastError) {
    SimPC pc(TwoPartitions());
    pc.drive('E').faults.writeBlocks.push_back({9, sim::Fault::Always(ERROR_WRITE_FAULT)});
    pc.drive('F').faults.readBlocks.push_back({11, sim::Fault::Always(ERROR_CRC)});
    platform::Kernel32& k = platform::k32();
    Engine e{'E', 9, true, ERROR_WRITE_FAULT, 0x20000001, k.SysErrorMessage(ERROR_WRITE_FAULT)};
    Engine f{'F', 11, false, ERROR_CRC, 0x20000002, k.SysErrorMessage(ERROR_CRC)};
    ASSERT_NE(e.expectedText, f.expectedText);

    purgelet::testing::StartGate start(2);
    std::thread first([&] { e.Run(k, start); });
    std::thread second([&] { f.Run(k, start); });
    first.join();
    second.join();

    EXPECT_EQ(e.failure, "");
    EXPECT_EQ(f.failure, "");
    // Every call of both threads is in the machine's record, none lost or torn.
    EXPECT_EQ(pc.machine().CountCalls("\\\\.\\E:", "WriteFile"), e.writes);
    EXPECT_EQ(pc.machine().CountCalls("\\\\.\\F:", "WriteFile"), f.writes);
    EXPECT_EQ(pc.machine().CountCalls("\\\\.\\E:", "CreateFileA"), kRounds);
    EXPECT_EQ(pc.machine().CountCalls("\\\\.\\F:", "CloseHandle"), kRounds);
    EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u);
    // The last round's bytes are on each partition's own sectors of the shared image.
    const int last = kRounds - 1;
    const std::int64_t block = last % 4;
    EXPECT_EQ(pc.ReadImage("disk0.img", 32768 + block * kSector, kSector),
              std::vector<std::uint8_t>(kSector, static_cast<std::uint8_t>('E' + last)));
    EXPECT_EQ(pc.ReadImage("disk0.img", 4194304 + block * kSector, kSector),
              std::vector<std::uint8_t>(kSector, static_cast<std::uint8_t>('F' + last)));
}

} // namespace
