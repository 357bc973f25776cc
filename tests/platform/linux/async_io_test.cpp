// Overlapped transfers of the Linux back-end on an ordinary file: through io_uring, and
// without a ring as on a kernel that refuses one; each transfer lands at its own offset, ends
// with the Windows outcome, and a cancel leaves nothing running into a buffer.
#include "platform/linux/async_io.h"
#include "platform/system.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using platform::linux_backend::AsyncIo;

class LinuxOverlapped : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        AsyncIo::RefuseRings(GetParam());
        path = fs::temp_directory_path() /
               ("purgelet_overlapped_" + std::to_string(::getpid()) + (GetParam() ? "_s" : "_r"));
    }
    void TearDown() override {
        AsyncIo::RefuseRings(false);
        fs::remove(path);
    }
    HANDLE Open(DWORD flags) {
        return k.CreateFileA(path.string().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_ALWAYS, flags, nullptr);
    }
    // Started: TRUE, or FALSE with ERROR_IO_PENDING.
    bool Started(BOOL result) { return result || k.GetLastError() == ERROR_IO_PENDING; }

    std::unique_ptr<platform::System> system = platform::CreateNativeSystem();
    platform::Kernel32& k = *system->kernel32;
    fs::path path;
};

TEST_P(LinuxOverlapped, TransfersLandAtTheirOffsetsAndEndWithTheirOutcome) {
    HANDLE h = Open(FILE_FLAG_OVERLAPPED);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    constexpr int kCount = 8;
    constexpr DWORD kBytes = 4096;
    std::vector<std::vector<std::uint8_t>> buffers;
    std::vector<OVERLAPPED> overlapped(kCount);
    for (int i = 0; i < kCount; ++i) {
        buffers.emplace_back(kBytes, static_cast<std::uint8_t>(i + 1));
        overlapped[i] = OVERLAPPED{};
        overlapped[i].Offset = static_cast<DWORD>(kCount - 1 - i) * kBytes; // last first
        overlapped[i].hEvent = k.CreateEventA(nullptr, TRUE, FALSE, nullptr);
        ASSERT_TRUE(Started(k.WriteFile(h, buffers[i].data(), kBytes, nullptr, &overlapped[i])));
    }
    for (int i = kCount - 1; i >= 0; --i) { // collected in any order
        DWORD moved = 0;
        EXPECT_TRUE(k.GetOverlappedResult(h, &overlapped[i], &moved, TRUE));
        EXPECT_EQ(moved, kBytes);
        EXPECT_EQ(k.WaitForSingleObject(overlapped[i].hEvent, 0), WAIT_OBJECT_0);
    }
    // One read of the whole file, and one past its end.
    std::vector<std::uint8_t> all(kCount * kBytes), past(512);
    OVERLAPPED whole{}, beyond{};
    beyond.Offset = kCount * kBytes;
    ASSERT_TRUE(Started(k.ReadFile(h, all.data(), kCount * kBytes, nullptr, &whole)));
    DWORD moved = 0;
    EXPECT_TRUE(k.GetOverlappedResult(h, &whole, &moved, TRUE));
    EXPECT_EQ(moved, kCount * kBytes);
    for (int i = 0; i < kCount; ++i)
        EXPECT_EQ(all[static_cast<std::size_t>(kCount - 1 - i) * kBytes], i + 1) << i;
    const BOOL started = k.ReadFile(h, past.data(), 512, nullptr, &beyond);
    if (started || k.GetLastError() == ERROR_IO_PENDING) {
        EXPECT_FALSE(k.GetOverlappedResult(h, &beyond, &moved, TRUE));
    }
    EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_HANDLE_EOF));

    // A transfer with nothing to say where it goes is refused.
    EXPECT_FALSE(k.WriteFile(h, all.data(), 512, &moved, nullptr));
    EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    for (auto& o : overlapped)
        k.CloseHandle(o.hEvent);
    EXPECT_TRUE(k.CloseHandle(h));
    EXPECT_EQ(fs::file_size(path), kCount * kBytes);
}

TEST_P(LinuxOverlapped, ACancelReturnsOnceNothingRuns) {
    HANDLE h = Open(FILE_FLAG_OVERLAPPED);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    constexpr int kCount = 16;
    std::vector<std::vector<std::uint8_t>> buffers(kCount, std::vector<std::uint8_t>(65536, 7));
    std::vector<OVERLAPPED> overlapped(kCount);
    for (int i = 0; i < kCount; ++i) {
        overlapped[i] = OVERLAPPED{};
        overlapped[i].Offset = static_cast<DWORD>(i) * 65536;
        ASSERT_TRUE(Started(k.WriteFile(h, buffers[i].data(), 65536, nullptr, &overlapped[i])));
    }
    EXPECT_TRUE(k.CancelIo(h));
    // Every one has ended, done or cancelled, and says which without waiting.
    for (auto& o : overlapped) {
        DWORD moved = 0;
        if (k.GetOverlappedResult(h, &o, &moved, FALSE)) {
            EXPECT_EQ(moved, 65536u);
        } else {
            EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
        }
    }
    buffers.clear(); // nothing may still read from them
    EXPECT_TRUE(k.CloseHandle(h));
}

INSTANTIATE_TEST_SUITE_P(RingOrNone, LinuxOverlapped, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "WithoutRing" : "Ring"; });

} // namespace
