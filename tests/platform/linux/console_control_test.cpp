// SetConsoleCtrlHandler on Linux: SIGINT, SIGTERM and SIGHUP reach the routines as Windows'
// Ctrl+C, Ctrl+Break and console close, on a thread of their own, the newest routine first until
// one handles them; Ctrl+C can be ignored; a signal nobody handles does what it did before (ends
// the process).
#include "platform/linux/kernel32.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace purgelet {
namespace {

using platform::linux_backend::LinuxKernel32;

struct Call {
    char routine;
    DWORD type;
    std::thread::id thread;
};

std::mutex g_mutex;
std::vector<Call> g_calls;
std::atomic<bool> g_secondHandles{false};

void Record(char routine, DWORD type) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_calls.push_back({routine, type, std::this_thread::get_id()});
}

BOOL WINAPI First(DWORD type) {
    Record('A', type);
    return TRUE;
}

BOOL WINAPI Second(DWORD type) {
    Record('B', type);
    return g_secondHandles ? TRUE : FALSE;
}

void Clear() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_calls.clear();
}

// The calls since Clear, once there are count of them (or after five seconds). The watcher
// tells the signals in the order they came, so a later call shows an earlier one is done.
std::vector<Call> Await(std::size_t count) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            if (g_calls.size() >= count || std::chrono::steady_clock::now() > end)
                return g_calls;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::vector<std::pair<char, DWORD>> Seen(const std::vector<Call>& calls) {
    std::vector<std::pair<char, DWORD>> seen;
    for (const Call& call : calls)
        seen.emplace_back(call.routine, call.type);
    return seen;
}

using Seq = std::vector<std::pair<char, DWORD>>;
constexpr DWORD kC = CTRL_C_EVENT;
constexpr DWORD kBreak = CTRL_BREAK_EVENT;

TEST(ConcurrentConsoleControl, SignalsReachTheNewestRoutineFirstOnAThreadOfTheirOwn) {
    LinuxKernel32 kernel;
    ASSERT_TRUE(kernel.SetConsoleCtrlHandler(&First, TRUE));
    ASSERT_TRUE(kernel.SetConsoleCtrlHandler(&Second, TRUE));

    // The second declines: the first, older one gets the event too.
    Clear();
    std::raise(SIGINT);
    std::vector<Call> calls = Await(2);
    EXPECT_EQ(Seen(calls), (Seq{{'B', kC}, {'A', kC}}));
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_NE(calls[0].thread, std::this_thread::get_id());
    EXPECT_EQ(calls[1].thread, calls[0].thread);

    // Now it handles SIGTERM, which is Ctrl+Break: the older one is not called for it.
    g_secondHandles = true;
    Clear();
    std::raise(SIGTERM);
    ASSERT_EQ(Await(1).size(), 1u);
    // Removed, it is called no more; removing it again fails as on Windows.
    ASSERT_TRUE(kernel.SetConsoleCtrlHandler(&Second, FALSE));
    EXPECT_FALSE(kernel.SetConsoleCtrlHandler(&Second, FALSE));
    EXPECT_EQ(kernel.GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    std::raise(SIGINT);
    EXPECT_EQ(Seen(Await(2)), (Seq{{'B', kBreak}, {'A', kC}}));

    // A null routine makes Ctrl+C ignored; Ctrl+Break still comes.
    ASSERT_TRUE(kernel.SetConsoleCtrlHandler(nullptr, TRUE));
    Clear();
    std::raise(SIGINT);
    std::raise(SIGTERM);
    EXPECT_EQ(Seen(Await(1)), (Seq{{'A', kBreak}}));
    ASSERT_TRUE(kernel.SetConsoleCtrlHandler(nullptr, FALSE));
    Clear();
    std::raise(SIGINT);
    EXPECT_EQ(Seen(Await(1)), (Seq{{'A', kC}}));

    // SIGHUP, the terminal gone, is the console window closing: a routine may stop its run
    // as for the others, where by default the process would end on the spot.
    Clear();
    std::raise(SIGHUP);
    EXPECT_EQ(Seen(Await(1)), (Seq{{'A', static_cast<DWORD>(CTRL_CLOSE_EVENT)}}));

    ASSERT_TRUE(kernel.SetConsoleCtrlHandler(&First, FALSE));
}

BOOL WINAPI Declines(DWORD) {
    return FALSE;
}

TEST(ConsoleControl, ASignalNoRoutineHandlesEndsTheProcessAsBefore) {
    GTEST_FLAG_SET(death_test_style, "threadsafe"); // a fresh process, with no watcher yet
    EXPECT_EXIT(
        {
            LinuxKernel32 kernel;
            kernel.SetConsoleCtrlHandler(&Declines, TRUE);
            std::raise(SIGTERM);
            sleep(10);
            _exit(0);
        },
        ::testing::KilledBySignal(SIGTERM), "");
}

} // namespace
} // namespace purgelet
