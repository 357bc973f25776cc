#include "disk/pass_helper.h"

#include "disk/wipe_passes.h"

#include <algorithm>
#include <chrono>
#include <cstring>
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

TPassHelper::TPassHelper(TWipeState& State, TRunsOn RunsOn) : wipe_(State) {
    if (RunsOn == TRunsOn::HelperThread)
        thread_ = std::thread([this] { Loop(); });
}

TPassHelper::~TPassHelper() {
    Discard();
    if (OnCallingThread())
        return;
    SetState(kStop);
    thread_.join();
}

template <class T> void TPassHelper::Publish(std::atomic<T>& to, T value) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        to.store(value, std::memory_order_release);
    }
    changed_.notify_all();
}

template <class Ready> void TPassHelper::Await(Ready ready, std::chrono::microseconds spin) {
    if (spin.count() > 0) {
        const auto until = std::chrono::steady_clock::now() + spin;
        do {
            for (int i = 0; i < 64; ++i)
                if (ready())
                    return;
            std::this_thread::yield();
        } while (std::chrono::steady_clock::now() < until);
    }
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, ready);
}

void TPassHelper::SetState(int state) {
    Publish(state_, state);
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
    if (OnCallingThread()) {
        state_.store(kPosted, std::memory_order_relaxed);
        try {
            SumFirstAndFill();
        } catch (...) {
            error_ = std::current_exception();
            state_.store(kDone, std::memory_order_relaxed);
            return;
        }
        RunHere();
        return;
    }
    SetState(kPosted);
}

void TPassHelper::Allow(std::int64_t draws) {
    // Only this thread raises it: no lock needed to compare.
    if (draws <= allowed_.load(std::memory_order_relaxed))
        return;
    if (OnCallingThread()) {
        allowed_.store(draws, std::memory_order_relaxed);
        RunHere();
        return;
    }
    Publish(allowed_, draws);
}

void TPassHelper::RunHere() {
    if (state_.load(std::memory_order_relaxed) != kPosted)
        return;
    try {
        const std::int64_t allowed = allowed_.load(std::memory_order_relaxed);
        if (!DrawRing([&](std::int64_t i) { return i < allowed; }))
            return; // the rest when they are allowed
        if (job_.sum != nullptr)
            sum_ += ByteSum(job_.sum, job_.bytes);
    } catch (...) {
        error_ = std::current_exception();
    }
    state_.store(kDone, std::memory_order_relaxed);
}

void TPassHelper::SumFirstAndFill() {
    if (job_.sumFirst != nullptr)
        sum_ += ByteSum(job_.sumFirst, job_.sumFirstBytes);
    if (job_.fill != nullptr) {
        before_ = wipe_.SaveFillState();
        wipe_.FillBuffer(job_.fill, job_.bytes);
    }
    if (job_.check != nullptr) {
        job_.regenerate->FillBuffer(job_.expected, job_.bytes);
        sum_ = std::memcmp(job_.check, job_.expected, job_.bytes) != 0 ? 1 : 0;
    }
}

template <class Allowed> bool TPassHelper::DrawRing(Allowed allowed) {
    for (std::int64_t i = drawn_.load(std::memory_order_relaxed); i < job_.draws; ++i) {
        if (!allowed(i))
            return false;
        const Job::Draw& draw =
            job_.ring[static_cast<std::size_t>((job_.ringFirst + i) % std::max(job_.ringSize, 1))];
        ++begun_;
        if (draw.before != nullptr)
            *draw.before = wipe_.SaveFillState();
        wipe_.FillBuffer(draw.buffer,
                         i + 1 == job_.draws && job_.lastBytes != 0 ? job_.lastBytes : draw.bytes);
        // Handed back at once: the caller may start its transfer while the next is drawn.
        Publish(drawn_, i + 1);
    }
    return true;
}

bool TPassHelper::AwaitAllowed(std::int64_t i) {
    // A buffer is let go as soon as its transfer ends: on a fast disk the wait is short.
    Await(
        [&] {
            return stop_.load(std::memory_order_acquire) ||
                   allowed_.load(std::memory_order_acquire) > i;
        },
        kHelperSpin);
    return !stop_.load(std::memory_order_acquire);
}

void TPassHelper::AwaitDrawn(std::int64_t count) {
    if (OnCallingThread())
        return; // drawn already, as far as allowed
    // Asleep at once: the caller waits for a draw while transfers run, and a waiter spinning
    // beside the generator on a two-core machine slowed it more than a wake-up costs.
    Await(
        [&] {
            return drawn_.load(std::memory_order_acquire) >= count ||
                   state_.load(std::memory_order_acquire) == kDone;
        },
        std::chrono::microseconds(0));
}

void TPassHelper::AwaitDone() {
    if (OnCallingThread())
        state_.store(kDone, std::memory_order_relaxed); // a job still waiting for draws is stopped
    Await([&] { return state_.load(std::memory_order_acquire) == kDone; }, kCallerSpin);
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
    Publish(stop_, true);
    AwaitDone();
    error_ = nullptr;
    if (job_.fill != nullptr)
        wipe_.RestoreFillState(before_);
}

void TPassHelper::Loop() {
    for (;;) {
        int now = kIdle;
        Await(
            [&] {
                now = state_.load(std::memory_order_acquire);
                return now == kPosted || now == kStop;
            },
            kHelperSpin);
        if (now == kStop)
            return;
        try {
            SumFirstAndFill();
            DrawRing([this](std::int64_t i) { return AwaitAllowed(i); });
            if (job_.sum != nullptr)
                sum_ += ByteSum(job_.sum, job_.bytes);
        } catch (...) {
            error_ = std::current_exception();
        }
        SetState(kDone);
    }
}

} // namespace purgelet::wipe_engine
