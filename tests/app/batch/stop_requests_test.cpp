// Requests to stop as the system hands them over, on a thread of its own: the run takes each
// once, a request with no run is left to the system's default, and the console closing holds
// the system's thread until the run has ended (Windows ends the process when it returns).
#include "app/batch/stop_requests.h"

#include "platform/sim/sim.h"
#include "platform/system.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

namespace purgelet {
namespace {

TEST(ConcurrentStopRequests, TheSystemsThreadHandsEachRequestToTheRunOnce) {
    platform::ScopedSystem system(platform::sim::CreateSimSystem(""));
    EXPECT_FALSE(TStopRequests::Routine(CTRL_C_EVENT)) << "no run: the system's default";
    {
        TStopRequests requests;
        EXPECT_TRUE(requests.Installed());
        EXPECT_FALSE(requests.Take());

        std::thread system([] { EXPECT_TRUE(TStopRequests::Routine(CTRL_BREAK_EVENT)); });
        std::optional<DWORD> taken;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!(taken = requests.Take()) && std::chrono::steady_clock::now() < end)
            std::this_thread::yield();
        system.join();
        EXPECT_EQ(taken, static_cast<DWORD>(CTRL_BREAK_EVENT));
        EXPECT_FALSE(requests.Take()); // taken once

        // Two requests before the run looks: both are taken, in their order (the second is
        // the one that does not wait).
        std::thread([] { TStopRequests::Routine(CTRL_C_EVENT); }).join();
        std::thread([] { TStopRequests::Routine(CTRL_BREAK_EVENT); }).join();
        EXPECT_EQ(requests.Take(), static_cast<DWORD>(CTRL_C_EVENT));
        EXPECT_EQ(requests.Take(), static_cast<DWORD>(CTRL_BREAK_EVENT));
        EXPECT_FALSE(requests.Take());

        // The console closing: the system's thread waits for the run's end.
        std::atomic<bool> returned{false};
        std::thread closing([&] {
            EXPECT_TRUE(TStopRequests::Routine(CTRL_CLOSE_EVENT));
            returned = true;
        });
        for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
             !requests.Take() && std::chrono::steady_clock::now() < until;)
            std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_FALSE(returned) << "returned before the run ended";
        requests.RunEnded();
        closing.join();
        EXPECT_TRUE(returned);
        EXPECT_EQ(StopReason(CTRL_CLOSE_EVENT), "console closed");
    }
    EXPECT_FALSE(TStopRequests::Routine(CTRL_C_EVENT)) << "the run is gone";
}

} // namespace
} // namespace purgelet
