// Lets a test's threads start their work together. A mutex and a condition variable rather
// than std::latch: the latch's atomic wait in mingw's libstdc++ 12 was seen to hang under Wine.
#pragma once

#include <condition_variable>
#include <mutex>

namespace purgelet::testing {

class StartGate {
public:
    explicit StartGate(int threads) : expected_(threads) {}

    // Blocks until every expected thread has arrived.
    void ArriveAndWait() {
        std::unique_lock<std::mutex> hold(mutex_);
        if (++arrived_ >= expected_)
            opened_.notify_all();
        else
            opened_.wait(hold, [this] { return arrived_ >= expected_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable opened_;
    const int expected_;
    int arrived_ = 0;
};

} // namespace purgelet::testing
