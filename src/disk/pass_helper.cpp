#include "disk/pass_helper.h"

#include "disk/wipe_passes.h"

#include <chrono>

namespace purgelet::wipe_engine {

namespace {

// A transfer of 512 KiB takes a fraction of a millisecond on a fast disk; a thread put to
// sleep and woken again for every one would cost a good part of that, so a waiter looks
// again for a while before sleeping. The calling thread waits for the helper only when the
// generator is the slower side and the buffer is nearly done: it looks long. The helper waits
// for the next transfer to start, which on a slow disk takes milliseconds: it looks briefly.
constexpr auto kCallerSpin = std::chrono::microseconds(1000);
constexpr auto kHelperSpin = std::chrono::microseconds(50);

// Until state differs from value (acquire); returns the new state.
int AwaitChange(const std::atomic<int>& state, int value, std::chrono::microseconds spin) {
    int now = state.load(std::memory_order_acquire);
    if (now != value)
        return now;
    const auto until = std::chrono::steady_clock::now() + spin;
    do {
        for (int i = 0; i < 64; ++i) {
            now = state.load(std::memory_order_acquire);
            if (now != value)
                return now;
        }
        std::this_thread::yield();
    } while (std::chrono::steady_clock::now() < until);
    for (;;) {
        state.wait(value, std::memory_order_acquire);
        now = state.load(std::memory_order_acquire);
        if (now != value)
            return now;
    }
}

} // namespace

TPassHelper::TPassHelper(method& Method) : method_(Method), thread_([this] { Loop(); }) {}

TPassHelper::~TPassHelper() {
    Discard();
    state_.store(kStop, std::memory_order_release);
    state_.notify_all();
    thread_.join();
}

void TPassHelper::Post(const Job& job) {
    job_ = job;
    sum_ = 0;
    error_ = nullptr;
    out_ = true;
    state_.store(kPosted, std::memory_order_release);
    state_.notify_all();
}

void TPassHelper::AwaitDone() {
    int now = state_.load(std::memory_order_acquire);
    while (now != kDone)
        now = AwaitChange(state_, now, kCallerSpin);
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
    AwaitDone();
    error_ = nullptr;
    if (job_.fill != nullptr)
        method_.RestoreFillState(before_);
}

void TPassHelper::Loop() {
    for (;;) {
        int now = state_.load(std::memory_order_acquire);
        while (now != kPosted && now != kStop)
            now = AwaitChange(state_, now, kHelperSpin);
        if (now == kStop)
            return;
        try {
            if (job_.sumFirst != nullptr)
                sum_ += ByteSum(job_.sumFirst, job_.sumFirstBytes);
            if (job_.fill != nullptr) {
                method_.SaveFillState(before_);
                method_.FillBuffer(job_.fill, job_.bytes);
            }
            if (job_.sum != nullptr)
                sum_ += ByteSum(job_.sum, job_.bytes);
        } catch (...) {
            error_ = std::current_exception();
        }
        state_.store(kDone, std::memory_order_release);
        state_.notify_all();
    }
}

} // namespace purgelet::wipe_engine
