// The pass engine's helper thread. It runs one job at a time: sum a buffer's old contents,
// draw the buffer anew from the wipe's state, sum a buffer (each step optional); or draw
// several buffers one after another, handing each back as soon as it is drawn. The calling
// thread posts a job, goes on with its transfers and collects the result. Memory is fixed: no
// allocation per job.
//
// The invariant that makes this safe without a lock around the drawing: the per-wipe state
// (TWipeState: its pass cursor, its fill flag and the generators it refers to, which may be
// a whole run's) is touched by the helper only while a job is out, and while a job is out
// only by the helper. From Post until Wait or Discard returns, the calling thread neither
// reads nor changes that state, nor a buffer the job writes, nor a fill state it saves, except
// the buffers Drawn() has handed back; nothing else may draw from those generators until the
// wipe has ended. The method itself is only ever read.
#pragma once

#include "methods/wipe_state.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>

namespace purgelet::wipe_engine {

class TPassHelper {
public:
    static constexpr int kMaxDraws = 16;

    struct Job {
        const std::uint8_t* sumFirst = nullptr; // the byte sum of sumFirst[0, sumFirstBytes)
        std::size_t sumFirstBytes = 0;
        std::uint8_t* fill = nullptr;      // then State.FillBuffer(fill, bytes)
        const std::uint8_t* sum = nullptr; // then the byte sum of sum[0, bytes), added
        std::size_t bytes = 0;

        // Or, with fill null, draws[0, drawCount) in turn: the fill state before each is saved
        // where its `before` points (when not null), then the buffer drawn and handed back.
        // The caller may use some of these buffers before the job ends, so only it knows how
        // many draws to undo: Discard leaves them, and the caller puts back a saved state.
        struct Draw {
            std::uint8_t* buffer = nullptr;
            std::size_t bytes = 0;
            TFillState* before = nullptr;
        };
        std::array<Draw, kMaxDraws> draws{};
        int drawCount = 0;
    };

    // Starts the thread; raises std::system_error when the system gives none. State must
    // outlive the helper.
    explicit TPassHelper(TWipeState& State);
    // Waits for a job still out, puts back what it drew, stops and joins the thread.
    ~TPassHelper();
    TPassHelper(const TPassHelper&) = delete;
    TPassHelper& operator=(const TPassHelper&) = delete;

    // Hands over a job; none may be out.
    void Post(const Job& job);
    // Whether the job out has ended (it is still to be collected by Wait).
    bool Done() const { return state_.load(std::memory_order_acquire) == kDone; }
    // Of the job out's draws, how many are drawn: those buffers are the caller's again.
    int Drawn() const { return drawn_.load(std::memory_order_acquire); }
    // Until Drawn() reaches count or the job has ended (a failed draw ends it early).
    void AwaitDrawn(int count);
    // Waits for the job and takes its sums, added; the job's own exception is raised here, where
    // the calling thread would have met it.
    std::uint32_t Wait();
    // Drops the job that is out, if any: waits for it and, when it drew a buffer (fill), puts
    // the generators back as they were before, as if it had never been drawn.
    void Discard() noexcept;
    bool Busy() const { return out_; }

private:
    enum : int { kIdle, kPosted, kDone, kStop };
    void Loop();
    void AwaitDone();
    // The state as a handover: stored under the mutex (so that no sleeper misses it), then
    // the sleepers woken.
    void SetState(int state);
    // Until the state differs from value: looked at for spin, then slept on; returns it.
    int AwaitChange(int value, std::chrono::microseconds spin);

    TWipeState& wipe_;
    Job job_;
    TFillState before_; // the generators and the fill flag as they were before the job's fill
    std::uint32_t sum_ = 0;
    std::exception_ptr error_;
    bool out_ = false; // a job was posted and not yet collected (calling thread only)
    std::atomic<int> state_{kIdle};
    std::atomic<int> drawn_{0};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread thread_;
};

} // namespace purgelet::wipe_engine
