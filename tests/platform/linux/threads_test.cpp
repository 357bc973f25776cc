// Several drives wiped at once on Linux: one engine per device on its own thread, each on an
// image file the test's map file names. The handle table must hold, and each thread must see
// its own last error and its own message text (run under ThreadSanitizer).
#include "loop_device.h"
#include "platform/linux/kernel32.h"
#include "platform/linux/system.h"
#include "support/start_gate.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace purgelet {
namespace {

namespace fs = std::filesystem;
using platform::linux_backend::DriveMap;
using platform::linux_backend::DriveMapOptions;
using platform::linux_backend::LinuxKernel32;

constexpr DWORD kRW = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kSector = 512;
constexpr int kRounds = 150;

struct Engine {
    char letter;
    std::string failure;

    void Fail(const std::string& what, DWORD got) {
        if (failure.empty())
            failure =
                std::string(1, letter) + ": " + what + " (last error " + std::to_string(got) + ")";
    }

    // Each thread provokes a failure of its own kind: G seeks before the start of its device,
    // H opens a drive letter that is not there.
    bool OwnFailure(LinuxKernel32& k, HANDLE h, DWORD& expected) {
        if (letter == 'G') {
            expected = ERROR_INVALID_PARAMETER;
            return k.SetFilePointer(h, -static_cast<LONG>(kSector), nullptr, FILE_BEGIN) ==
                   INVALID_SET_FILE_POINTER;
        }
        expected = ERROR_FILE_NOT_FOUND;
        return k.CreateFileA("\\\\.\\Q:", GENERIC_READ, kShare, nullptr, OPEN_EXISTING, 0,
                             nullptr) == INVALID_HANDLE_VALUE;
    }

    void Run(LinuxKernel32& k, purgelet::testing::StartGate& start) {
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
            const DWORD block = static_cast<DWORD>(round % 4);
            std::memset(out.data(), letter + round, out.size());
            DWORD done = 0;
            k.SetFilePointer(h, static_cast<LONG>(block * kSector), nullptr, FILE_BEGIN);
            if (!k.WriteFile(h, out.data(), kSector, &done, nullptr) || done != kSector)
                Fail("write", k.GetLastError());
            k.SetFilePointer(h, static_cast<LONG>(block * kSector), nullptr, FILE_BEGIN);
            if (!k.ReadFile(h, in.data(), kSector, &done, nullptr) || in != out)
                Fail("read back", k.GetLastError());

            DWORD expected = 0;
            if (!OwnFailure(k, h, expected))
                Fail("the failure did not happen", k.GetLastError());
            std::this_thread::yield();
            if (k.GetLastError() != expected)
                Fail("own failure's error", k.GetLastError());

            if (k.WriteFile(reinterpret_cast<HANDLE>(0x7FF0), out.data(), kSector, &done,
                            nullptr) ||
                k.GetLastError() != ERROR_INVALID_HANDLE)
                Fail("bad handle", k.GetLastError());

            // The message text kept beside the last error is this thread's too.
            const std::string text =
                std::string(1, letter) + " is busy, round " + std::to_string(round);
            k.SetLastErrorText(ERROR_BUSY, text);
            std::this_thread::yield();
            if (k.GetLastError() != ERROR_BUSY || k.SysErrorMessage(ERROR_BUSY) != text)
                Fail("own text: " + k.SysErrorMessage(ERROR_BUSY), k.GetLastError());
            if (!k.CloseHandle(h))
                Fail("close", k.GetLastError());
        }
    }
};

TEST(ConcurrentDevicesLinux, TwoThreadsOnTwoImageFilesEachKeepTheirOwnLastErrorAndText) {
    const fs::path folder = testing::ScratchFolder("threads");
    for (const char* image : {"g.img", "h.img"}) {
        std::ofstream(folder / image, std::ios::binary).close();
        fs::resize_file(folder / image, 1024 * 1024);
    }
    std::ofstream(folder / "drives.map")
        << "only\nG: " + (folder / "g.img").string() + "\nH: " + (folder / "h.img").string() + "\n";
    auto drives = std::make_shared<DriveMap>(
        DriveMapOptions{(folder / "config").string(), (folder / "drives.map").string()});
    {
        platform::ScopedSystem scope(platform::linux_backend::CreateLinuxSystem(drives));
        auto& k = dynamic_cast<LinuxKernel32&>(platform::k32());
        // The drive list is read once before the engines start, as the program does.
        ASSERT_EQ(k.GetLogicalDrives() & 0xC0u, 0xC0u) << "the map file's images are not G: and H:";

        Engine g{'G', {}};
        Engine h{'H', {}};
        purgelet::testing::StartGate start(2);
        std::thread first([&] { g.Run(k, start); });
        std::thread second([&] { h.Run(k, start); });
        first.join();
        second.join();
        EXPECT_EQ(g.failure, "");
        EXPECT_EQ(h.failure, "");
    }
    // Each image holds its own thread's last round, and nothing of the other's.
    const int last = kRounds - 1;
    for (char letter : {'G', 'H'}) {
        std::ifstream image(folder / (std::string(1, static_cast<char>(letter + 32)) + ".img"),
                            std::ios::binary);
        image.seekg((last % 4) * kSector);
        std::vector<char> bytes(kSector);
        image.read(bytes.data(), kSector);
        EXPECT_EQ(bytes, std::vector<char>(kSector, static_cast<char>(letter + last))) << letter;
    }
    fs::remove_all(folder);
}

} // namespace
} // namespace purgelet
