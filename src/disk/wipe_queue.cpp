// The queued pass runner: several transfers in flight, each from a buffer of its own, while
// the helper draws the next buffers (a random pass) or sums the last one read. A written
// buffer is summed on this thread, and only when the pass is read back. It makes the
// transfers, the bytes and the owner calls of one transfer at a time from a single buffer, the
// reference the tests hold it to (tests/support/reference_runners.cpp):
//
// - transfers are started in block order and finished in block order; the owner hears of
//   each (progress, questions) on this thread when it is finished, as it would after it;
// - a failed transfer cancels the ones started after it, is redone block by block as
//   the reference redoes it, and the ones after it are started again from their buffers,
//   which nothing has drawn into meanwhile;
// - at any way out (an abort in Update, an answer that ends the wipe) the transfers in flight
//   are cancelled and waited for, and the generators are put back to where the reference
//   would have left them: buffers drawn ahead for transfers never finished are undone.
//
// There is a buffer more than transfers in flight: the helper draws into it while the device
// has its full queue. A random pass draws transfer t into buffer t mod buffers, once the
// transfer before it in that buffer is finished; a fixed pattern is drawn once per pass and all
// its transfers come from the first buffer. The helper draws the whole pass as one job, each
// buffer as soon as it is free, and hands each back as soon as it is drawn: it idles only when
// no buffer is free, never for a handover between two jobs.
//
// A sum nobody compares is not taken: reading a written buffer here pulls it into this
// core's cache, and the helper's next draw into it would have to take every line back.
//
// A read-back by content (the wipe's VerifyContent) takes no sums: the helper draws each
// transfer's bytes again from a copy of the generators as they stood at the pass's start, into
// a buffer of its own, and compares; a transfer that differs is then compared block by block
// here, and each block that differs is noted in the wipe.
#include "disk/pass_helper.h"
#include "disk/transfer_buffer.h"
#include "disk/wipe_passes.h"

#include "report/exceptions.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace purgelet::wipe_engine {

// Buffers beyond the transfers in flight: the one the helper draws into meanwhile.
constexpr int kSpareBuffers = 1;
static_assert(kMaxInFlight + kSpareBuffers <= TPassHelper::kMaxRing,
              "a pass's job holds every buffer");

namespace {

// The transfers in flight and the draws ahead, undone at every way out of the runner. Its
// owner's buffers outlive it.
class TQueueGuard {
public:
    TQueueGuard(TRandomAccessDisk& disk, TWipeState& state, TPassHelper& helper, int buffers)
        : disk_(disk), state_(state), helper_(helper), before_(static_cast<std::size_t>(buffers)) {}
    ~TQueueGuard() {
        disk_.CancelTransfers();
        helper_.Discard(); // stops the draws out; which of them to undo is told here
        if (jobFirst >= 0)
            begun = std::max(begun, jobFirst + helper_.Begun());
        if (begun > reached + 1)
            state_.RestoreFillState(before_[static_cast<std::size_t>((reached + 1) % Count())]);
    }
    TQueueGuard(const TQueueGuard&) = delete;
    TQueueGuard& operator=(const TQueueGuard&) = delete;

    // Transfer t's buffer is about to be drawn here: what the draw changes can be undone.
    void Drawing(std::int64_t t) {
        *Before(t) = state_.SaveFillState();
        begun = t + 1;
    }
    // Where the fill state before transfer t's draw is kept: the helper saves it there when
    // it draws t.
    TFillState* Before(std::int64_t t) { return &before_[static_cast<std::size_t>(t % Count())]; }
    // Of the pass under way: the last transfer the reference has drawn (the one being finished)
    // and the draws begun on this thread; the helper's job, when one is out, draws from
    // transfer jobFirst on and tells how many it has begun.
    std::int64_t reached = 0;
    std::int64_t begun = 0;
    std::int64_t jobFirst = -1;

private:
    std::int64_t Count() const { return static_cast<std::int64_t>(before_.size()); }
    TRandomAccessDisk& disk_;
    TWipeState& state_;
    TPassHelper& helper_;
    std::vector<TFillState> before_; // the fill state before each slot's last draw
};

// One wipe's passes through the queue: its buffers, the transfers in flight and the helper.
class TQueuedPasses {
public:
    TQueuedPasses(TWipeRun& run, TWipeState& state, TPassHelper& helper, int depth, int buffers)
        : run_(run), disk_(run.disk), state_(state), helper_(helper), depth_(depth), nbuf_(buffers),
          guard_(run.disk, state, helper, buffers) {
        const std::size_t alignment = TransferAlignment(disk_.BlockSize);
        for (int i = 0; i < nbuf_; ++i)
            buffers_.push_back(std::make_unique<TTransferBuffer>(run.BufferBytes(), alignment));
    }

    void Run() {
        const bool content = run_.wipe.Options.VerifyContent;
        do {
            std::uint32_t checksum = 0;
            state_.InvalidateBuffer();
            run_.PassStarting(state_, false);
            const bool checks = state_.CurrentPassChecks(); // read before the helper takes it
            const TFillState start = state_.SaveFillState();
            WritePass(checks && !content, checksum);
            if (checks) {
                if (content)
                    ReadBackContent(start);
                else
                    ReadBack(checksum);
                state_.NextPass(); // steps over the verification slot
            }
        } while (state_.NextPass());
    }

private:
    std::size_t SlotOf(std::int64_t t) const { return static_cast<std::size_t>(t % depth_); }
    std::size_t BufOf(std::int64_t t) const { return static_cast<std::size_t>(t % nbuf_); }
    std::uint8_t* Buffer(std::size_t k) const { return buffers_[k]->data(); }
    std::int32_t BlocksOf(std::int64_t t) const {
        return static_cast<std::int32_t>(
            std::min<std::int64_t>(chunk_, disk_.BlockCount - t * chunk_));
    }
    std::size_t BytesOf(std::int64_t t) const {
        return static_cast<std::size_t>(BlocksOf(t)) * static_cast<std::size_t>(disk_.BlockSize);
    }
    // The pass's (or its read-back's) transfers, at the chunk size it starts with.
    void Begin() {
        chunk_ = run_.ChunkSize();
        count_ = (disk_.BlockCount + chunk_ - 1) / chunk_;
        started_ = finished_ = 0;
    }
    void Start(std::int64_t t, std::uint8_t* buffer, bool write) {
        TRandomAccessDisk::TTransfer transfer;
        transfer.Write = write;
        transfer.Buffer = buffer;
        transfer.Count = BlocksOf(t);
        transfer.Block = t * chunk_;
        disk_.StartTransfer(static_cast<int>(SlotOf(t)), transfer);
    }
    // Waits for transfer t; a failure cancels those after it and is redone block by block.
    // Returns whether a block was skipped (a read's).
    bool Finish(std::int64_t t, std::uint8_t* buffer, bool write) {
        run_.wipe.CurrentBlock = t * chunk_;
        try {
            disk_.FinishTransfer(static_cast<int>(SlotOf(t)));
            return false;
        } catch (const XDiskIO&) {
        }
        disk_.CancelTransfers();
        started_ = t + 1;
        if (write) {
            run_.RecoverWrite(buffer, BlocksOf(t), t * chunk_);
            return false;
        }
        return run_.RecoverRead(buffer, BlocksOf(t), t * chunk_);
    }
    // The draws the helper may make: each transfer's once the one before it in its buffer is
    // finished.
    std::int64_t Allowed() const { return std::min(count_, finished_ + nbuf_) - 1; }
    // The helper draws transfers 1 to count - 1 as one job, round the ring of buffers.
    void PostDraws() {
        TPassHelper::Job job;
        for (int k = 0; k < nbuf_; ++k)
            job.ring[static_cast<std::size_t>(k)] = {Buffer(static_cast<std::size_t>(k)),
                                                     BytesOf(0), guard_.Before(k)};
        job.ringSize = nbuf_;
        job.ringFirst = 1;
        job.draws = count_ - 1;
        job.allowed = Allowed();
        job.lastBytes = BytesOf(count_ - 1);
        guard_.jobFirst = 1;
        helper_.Post(job);
    }
    // Starts what may be started: while the helper draws a buffer that can be started at
    // once, this thread waits for it rather than for the device, and takes the transfers that
    // have ended meanwhile. With the queue full or the helper done, only the device is left.
    void StartWrites(bool pattern, bool& drawing, std::int64_t& drawn) {
        for (;;) {
            if (drawing) {
                if (helper_.Done()) {
                    helper_.Wait(); // raises what the helper met
                    drawing = false;
                }
                drawn = 1 + helper_.Drawn();
            }
            while (started_ < count_ && started_ < finished_ + depth_ && started_ < drawn) {
                Start(started_, Buffer(pattern ? 0 : BufOf(started_)), true);
                ++started_;
            }
            if (!drawing || helper_.OnCallingThread() || started_ == count_ ||
                started_ == finished_ + depth_ ||
                (started_ > finished_ &&
                 !disk_.TransferPending(static_cast<int>(SlotOf(finished_)))))
                return;
            helper_.AwaitDrawn(drawn);
        }
    }

    void WritePass(bool checks, std::uint32_t& checksum) {
        Begin();
        // The pass's first buffer is drawn here; a fixed pattern's later transfers reuse it.
        bool pattern = true;
        std::uint32_t reusedSum = 0;
        std::size_t reusedBytes = 0;
        if (count_ > 0) {
            reusedBytes = BytesOf(0);
            guard_.reached = 0;
            guard_.Drawing(0);
            state_.FillBuffer(Buffer(0), reusedBytes);
            reusedSum = checks ? ByteSum(Buffer(0), reusedBytes) : 0;
            pattern = !state_.NeedsFill;
        }
        std::int64_t drawn = pattern ? count_ : 1; // transfers with their buffer drawn
        bool drawing = drawn < count_;
        if (drawing)
            PostDraws();
        while (finished_ < count_) {
            StartWrites(pattern, drawing, drawn);
            guard_.reached = finished_;
            Finish(finished_, Buffer(pattern ? 0 : BufOf(finished_)), true);
            if (checks && pattern) {
                if (BytesOf(finished_) != reusedBytes) { // the last, shorter transfer
                    reusedBytes = BytesOf(finished_);
                    reusedSum = ByteSum(Buffer(0), reusedBytes);
                }
                checksum += reusedSum;
            } else if (checks) {
                checksum += ByteSum(Buffer(BufOf(finished_)), BytesOf(finished_));
            }
            ++finished_;
            // Its buffer is free: the helper may draw the transfer after the last one in it.
            if (drawing)
                helper_.Allow(Allowed());
            run_.Report(BlocksOf(finished_ - 1));
        }
        // The last buffers may have been taken before the helper ended its job: it is
        // collected before the next pass touches the state.
        if (drawing)
            helper_.Wait();
        guard_.jobFirst = -1;
        guard_.reached = guard_.begun = 0; // every draw of the pass was used
    }

    // The reads of a pass's read-back, in flight; once transfer t is read, jobFor(t) is handed
    // to the helper, and its result to taken(t, result), in block order. Returns whether a
    // block was left unread.
    template <class JobFor, class Taken> bool ReadBackWith(JobFor jobFor, Taken taken) {
        bool unread = false;
        run_.PassStarting(state_, true);
        Begin();
        std::int64_t done = 0; // transfers the helper is done with: their buffer is free
        bool busy = false;     // the helper works on transfer `done`
        auto take = [&] {
            taken(done, helper_.Wait());
            busy = false;
            ++done;
        };
        while (finished_ < count_) {
            for (;;) {
                if (busy && helper_.Done())
                    take();
                while (started_ < count_ && started_ < done + nbuf_ &&
                       started_ < finished_ + depth_) {
                    Start(started_, Buffer(BufOf(started_)), false);
                    ++started_;
                }
                // A job that holds up a read is waited for only when the device is about to
                // run dry; else the oldest read is, and the helper works meanwhile.
                if (!(busy && started_ < count_ && started_ < finished_ + std::min(depth_, 2)))
                    break;
                take();
            }
            if (Finish(finished_, Buffer(BufOf(finished_)), false))
                unread = true;
            // The helper has one job at a time: the previous one first.
            if (busy)
                take();
            helper_.Post(jobFor(finished_));
            busy = true;
            ++finished_;
            run_.Report(BlocksOf(finished_ - 1));
        }
        if (busy)
            take();
        return unread;
    }

    void ReadBack(std::uint32_t& checksum) {
        const bool unread = ReadBackWith(
            [this](std::int64_t t) {
                TPassHelper::Job job;
                job.sum = Buffer(BufOf(t));
                job.bytes = BytesOf(t);
                return job;
            },
            [&checksum](std::int64_t, std::uint32_t sum) { checksum -= sum; });
        run_.EndReadBack(checksum, unread);
    }

    // The read-back of the pass just written, compared with its bytes drawn again from start.
    void ReadBackContent(const TFillState& start) {
        TGenerators generators = start.Generators;
        TWipeState expected(state_.Method, generators);
        expected.CurrentPass = state_.CurrentPass;
        expected.NeedsFill = start.NeedsFill;
        // At any way out, the helper's comparison stops before the state it draws from goes.
        struct TStopCheck {
            TPassHelper& helper;
            ~TStopCheck() { helper.Discard(); }
        } stopCheck{helper_};
        if (!expected_)
            expected_ = std::make_unique<TTransferBuffer>(run_.BufferBytes(),
                                                          TransferAlignment(disk_.BlockSize));
        std::int64_t differing = 0;
        const bool unread = ReadBackWith(
            [&](std::int64_t t) {
                const std::size_t bytes = BytesOf(t);
                // ISAAC fills whole words and leaves a last odd byte or three as the buffer
                // held them (a block size not a multiple of 4): those are taken as read.
                if (expected.NeedsFill && bytes % 4 != 0)
                    std::memcpy(expected_->data() + bytes / 4 * 4, Buffer(BufOf(t)) + bytes / 4 * 4,
                                bytes % 4);
                TPassHelper::Job job;
                job.regenerate = &expected;
                job.expected = expected_->data();
                job.check = Buffer(BufOf(t));
                job.bytes = bytes;
                return job;
            },
            [&](std::int64_t t, std::uint32_t differs) {
                if (differs != 0)
                    differing += NameDiffering(t);
            });
        run_.EndReadBack(differing != 0 ? 1 : 0, unread);
    }

    // The blocks of transfer t that differ from what was drawn again, noted in the wipe; the
    // helper's job on t has ended, so its buffer and the expected bytes are as it left them.
    std::int64_t NameDiffering(std::int64_t t) {
        const std::size_t size = static_cast<std::size_t>(disk_.BlockSize);
        const std::uint8_t* read = Buffer(BufOf(t));
        std::int64_t found = 0;
        for (std::int32_t j = 0; j < BlocksOf(t); ++j)
            if (std::memcmp(read + j * size, expected_->data() + j * size, size) != 0) {
                run_.wipe.NoteDiffering(t * chunk_ + j);
                ++found;
            }
        return found;
    }

    TWipeRun& run_;
    TRandomAccessDisk& disk_;
    TWipeState& state_;
    TPassHelper& helper_;
    const int depth_;
    const int nbuf_;
    std::vector<std::unique_ptr<TTransferBuffer>> buffers_;
    std::unique_ptr<TTransferBuffer> expected_; // a read-back by content's bytes drawn again
    // Declared after the buffers: it cancels the transfers in flight before they are freed.
    TQueueGuard guard_;
    std::int32_t chunk_ = 1;
    std::int64_t count_ = 0;    // transfers of the pass or of its read-back
    std::int64_t started_ = 0;  // of them, started
    std::int64_t finished_ = 0; // of them, finished
};

} // namespace

void RunPassesQueued(TWipeRun& run, TWipeState& state, TPassHelper& helper, int depth) {
    // A block size that is not a multiple of 4 keeps one buffer, one transfer at a time: ISAAC's
    // word fill leaves a buffer's last bytes as they were, and they must be what the wipe's
    // previous transfer left there.
    const bool oneBuffer = run.disk.BlockSize % 4 != 0;
    depth = oneBuffer ? 1 : std::clamp(depth, 1, kMaxInFlight);
    TQueuedPasses passes(run, state, helper, depth, oneBuffer ? 1 : depth + kSpareBuffers);
    passes.Run();
}

} // namespace purgelet::wipe_engine
