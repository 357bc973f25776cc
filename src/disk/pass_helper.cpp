#include "disk/pass_helper.h"

#include "disk/wipe_passes.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace purgelet::wipe_engine {

namespace {

// A transfer of 512 KiB takes a fraction of a millisecond on a fast disk; a thread put to
// sleep and woken again for every one would cost a good part of that, so a waiter looks
// again for a while before sleeping. The calling thread waits for the helper only when the
// generator is the slower side and the buffer is nearly done: it looks long. The helper waits
// for the next transfer to start, which on a slow disk takes milliseconds: it looks briefly.
constexpr auto kCallerSpin = std::chrono::microseconds(1000);
constexpr auto kHelperSpin = std::chrono::microseconds(50);

} // namespace

TPassHelper::TPassHelper(TWipeState& State) : wipe_(State), thread_([this] { Loop(); }) {}

TPassHelper::~TPassHelper() {
    Discard();
    SetState(kStop);
    thread_.join();
}

void TPassHelper::SetState(int state) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        state_.store(state, std::memory_order_release);
    }
    changed_.notify_all();
}

int TPassHelper::AwaitChange(int value, std::chrono::microseconds spin) {
    int now = state_.load(std::memory_order_acquire);
    if (now != value)
        return now;
    const auto until = std::chrono::steady_clock::now() + spin;
    do {
        for (int i = 0; i < 64; ++i) {
            now = state_.load(std::memory_order_acquire);
            if (now != value)
                return now;
        }
        std::this_thread::yield();
    } while (std::chrono::steady_clock::now() < until);
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return (now = state_.load(std::memory_order_acquire)) != value; });
    return now;
}

void TPassHelper::Post(const Job& job) {
    job_ = job;
    sum_ = 0;
    error_ = nullptr;
    out_ = true;
    begun_ = 0;
    // Published by the state's store below.
    drawn_.store(0, std::memory_order_relaxed);
    allowed_.store(job.allowed, std::memory_order_relaxed);
    stop_.store(false, std::memory_order_relaxed);
    SetState(kPosted);
}

void TPassHelper::Allow(std::int64_t draws) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (draws > allowed_.load(std::memory_order_relaxed))
            allowed_.store(draws, std::memory_order_release);
    }
    changed_.notify_all();
}

bool TPassHelper::AwaitAllowed(std::int64_t i) {
    const auto ready = [&] {
        return stop_.load(std::memory_order_acquire) ||
               allowed_.load(std::memory_order_acquire) > i;
    };
    // A buffer is let go as soon as its transfer ends: on a fast disk the wait is short.
    const auto until = std::chrono::steady_clock::now() + kHelperSpin;
    while (!ready()) {
        if (std::chrono::steady_clock::now() >= until) {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, ready);
            break;
        }
        std::this_thread::yield();
    }
    return !stop_.load(std::memory_order_acquire);
}

void TPassHelper::AwaitDrawn(std::int64_t count) {
    // Asleep at once: the caller waits for a draw while transfers run, and a waiter spinning
    // beside the generator on a two-core machine slowed it more than a wake-up costs.
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] {
        return drawn_.load(std::memory_order_acquire) >= count ||
               state_.load(std::memory_order_acquire) == kDone;
    });
}

void TPassHelper::AwaitDone() {
    int now = state_.load(std::memory_order_acquire);
    while (now != kDone)
        now = AwaitChange(now, kCallerSpin);
    // Nobody waits for the idle state: the helper sleeps until the next job or the stop.
    state_.store(kIdle, std::memory_order_relaxed);
    out_ = false;
}

std::uint32_t TPassHelper::Wait() {
    AwaitDone();
    if (error_)
        std::rethrow_exception(std::exchange(error_, nullptr));
    return sum_;
}

void TPassHelper::Discard() noexcept {
    if (!out_)
        return;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stop_.store(true, std::memory_order_release);
    }
    changed_.notify_all();
    AwaitDone();
    error_ = nullptr;
    if (job_.fill != nullptr)
        wipe_.RestoreFillState(before_);
}

void TPassHelper::Loop() {
    for (;;) {
        int now = state_.load(std::memory_order_acquire);
        while (now != kPosted && now != kStop)
            now = AwaitChange(now, kHelperSpin);
        if (now == kStop)
            return;
        try {
            if (job_.sumFirst != nullptr)
                sum_ += ByteSum(job_.sumFirst, job_.sumFirstBytes);
            if (job_.fill != nullptr) {
                before_ = wipe_.SaveFillState();
                wipe_.FillBuffer(job_.fill, job_.bytes);
            }
            for (std::int64_t i = 0; i < job_.draws && AwaitAllowed(i); ++i) {
                const Job::Draw& draw = job_.ring[static_cast<std::size_t>(
                    (job_.ringFirst + i) % std::max(job_.ringSize, 1))];
                ++begun_;
                if (draw.before != nullptr)
                    *draw.before = wipe_.SaveFillState();
                wipe_.FillBuffer(draw.buffer, i + 1 == job_.draws && job_.lastBytes != 0
                                                  ? job_.lastBytes
                                                  : draw.bytes);
                // Handed back at once: the caller may start its transfer while the next is
                // drawn. Stored under the mutex, as the state is, so that no sleeper misses it.
                {
                    const std::lock_guard<std::mutex> lock(mutex_);
                    drawn_.store(i + 1, std::memory_order_release);
                }
                changed_.notify_all();
            }
            if (job_.sum != nullptr)
                sum_ += ByteSum(job_.sum, job_.bytes);
        } catch (...) {
            error_ = std::current_exception();
        }
        SetState(kDone);
    }
}

} // namespace purgelet::wipe_engine
