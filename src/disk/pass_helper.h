// The pass engine's helper thread. It runs one job at a time: sum a buffer's old contents,
// draw the buffer anew from the wipe's state, sum a buffer (each step optional); or draw a
// pass's buffers one after another round a ring, each once the caller lets it (its transfer
// before is finished) and handed back as soon as it is drawn. The calling thread posts a job,
// goes on with its transfers and collects the result. Memory is fixed: no allocation per job.
//
// The invariant that makes this safe without a lock around the drawing: the per-wipe state
// (TWipeState: its pass cursor, its fill flag and the generators it refers to, which may be
// a whole run's) is touched by the helper only while a job is out, and while a job is out
// only by the helper. From Post until Wait or Discard returns, the calling thread neither
// reads nor changes that state, nor a buffer the job may still write, nor a fill state it
// saves, except the buffers Drawn() has handed back and not yet let be drawn again; nothing
// else may draw from those generators until the wipe has ended. The method itself is only
// ever read.
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
    static constexpr int kMaxRing = 32;

    struct Job {
        const std::uint8_t* sumFirst = nullptr; // the byte sum of sumFirst[0, sumFirstBytes)
        std::size_t sumFirstBytes = 0;
        std::uint8_t* fill = nullptr;      // then State.FillBuffer(fill, bytes)
        const std::uint8_t* sum = nullptr; // then the byte sum of sum[0, bytes), added
        std::size_t bytes = 0;
        // Or a read-back checked by content: regenerate->FillBuffer(expected, bytes), then
        // check[0, bytes) compared with it; Wait gives 1 when they differ, else 0. The state
        // regenerated from is the caller's copy, never the wipe's own.
        TWipeState* regenerate = nullptr;
        std::uint8_t* expected = nullptr;
        const std::uint8_t* check = nullptr;

        // Or, with fill null, `draws` draws in turn, draw i into ring[(ringFirst + i) mod
        // ringSize]: the fill state before it saved where that slot's `before` points (when
        // not null), then `bytes` drawn (lastBytes for the last draw, when not 0) and the
        // buffer handed back. Draw i waits until the caller allows more than i draws (`allowed`
        // at first, then Allow). The caller may use some of these buffers before the job ends,
        // so only it knows how many draws to undo: Discard stops the job after the draw under
        // way and leaves what was drawn, and the caller puts back a saved state.
        struct Draw {
            std::uint8_t* buffer = nullptr;
            std::size_t bytes = 0;
            TFillState* before = nullptr;
        };
        std::array<Draw, kMaxRing> ring{};
        int ringSize = 0;
        int ringFirst = 0;
        std::int64_t draws = 0;
        std::int64_t allowed = 0;
        std::size_t lastBytes = 0;
    };

    // Where the jobs run: on a thread of the helper's own, or on the calling thread (no thread
    // to be had, or a wipe that must keep one buffer): there a job's steps run in Post, and
    // its draws as soon as they are allowed (in Post and Allow), so that the caller's loop
    // is the same either way and never waits for a draw.
    enum class TRunsOn : std::uint8_t { HelperThread, CallingThread };

    // Starts the thread (HelperThread); raises std::system_error when the system gives none.
    // State must outlive the helper.
    explicit TPassHelper(TWipeState& State, TRunsOn RunsOn = TRunsOn::HelperThread);
    // Waits for a job still out, puts back what it drew, stops and joins the thread.
    ~TPassHelper();
    TPassHelper(const TPassHelper&) = delete;
    TPassHelper& operator=(const TPassHelper&) = delete;

    // Hands over a job; none may be out.
    void Post(const Job& job);
    // Whether the job out has ended (it is still to be collected by Wait).
    bool Done() const { return state_.load(std::memory_order_acquire) == kDone; }
    // Of the job's draws, how many are drawn: those buffers are the caller's until it allows
    // them to be drawn again.
    std::int64_t Drawn() const { return drawn_.load(std::memory_order_acquire); }
    // Of the job's draws, how many have begun (drawn, or failed or stopped midway); read once
    // the job is collected.
    std::int64_t Begun() const { return begun_; }
    // Until Drawn() reaches count or the job has ended (a failed draw ends it early).
    void AwaitDrawn(std::int64_t count);
    // Lets the job out draw its draws before `draws` (never fewer than it was let).
    void Allow(std::int64_t draws);
    // Waits for the job and takes its sums, added; the job's own exception is raised here, where
    // the calling thread would have met it.
    std::uint32_t Wait();
    // Drops the job that is out, if any: stops its draws after the one under way, waits for it
    // and, when it drew a buffer (fill), puts the generators back as they were before, as if it
    // had never been drawn.
    void Discard() noexcept;
    bool Busy() const { return out_; }
    // The jobs run on the calling thread: nothing is ever waited for.
    bool OnCallingThread() const { return !thread_.joinable(); }

private:
    enum : int { kIdle, kPosted, kDone, kStop };
    void Loop();
    // Runs the job's steps on the calling thread as far as its draws are allowed; the job is
    // done once they are all drawn (or one failed, or it was stopped).
    void RunHere();
    // The job's steps: the sum first and the fill; its draws from the next one on, each while
    // allowed(i) (false: stop); the last sum. Returns whether every draw was made.
    void SumFirstAndFill();
    template <class Allowed> bool DrawRing(Allowed allowed);
    void AwaitDone();
    // Every handover between the two threads: stored under the mutex (so that no sleeper
    // misses it), then the sleepers woken.
    template <class T> void Publish(std::atomic<T>& to, T value);
    // Until ready(): looked at for spin, then slept on until a handover makes it true.
    template <class Ready> void Await(Ready ready, std::chrono::microseconds spin);
    void SetState(int state);
    // Until draw i is allowed (true) or the job is stopped (false).
    bool AwaitAllowed(std::int64_t i);

    TWipeState& wipe_;
    Job job_;
    TFillState before_; // the generators and the fill flag as they were before the job's fill
    std::uint32_t sum_ = 0;
    std::exception_ptr error_;
    bool out_ = false; // a job was posted and not yet collected (calling thread only)
    std::atomic<int> state_{kIdle};
    std::atomic<std::int64_t> drawn_{0};
    std::atomic<std::int64_t> allowed_{0};
    std::atomic<bool> stop_{false};
    std::int64_t begun_ = 0; // the helper's while a job is out
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread thread_;
};

} // namespace purgelet::wipe_engine
