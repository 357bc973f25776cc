// The queued pass runner: several transfers in flight, each from a buffer of its own, while
// the helper draws the next buffers (a random pass) or sums the last one read. A written
// buffer is summed on this thread, and only when the pass is read back. It makes the
// transfers, the bytes and the owner calls of the inline runner (wipe.cpp), the reference:
//
// - transfers are started in block order and finished in block order; the owner hears of
//   each (progress, questions) on this thread when it is finished, as it would after it;
// - a failed transfer cancels the ones started after it, is redone block by block as
//   the inline runner redoes it, and the ones after it are started again from their buffers,
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
#include "disk/pass_helper.h"
#include "disk/transfer_buffer.h"
#include "disk/wipe_passes.h"

#include "report/exceptions.h"

#include <algorithm>
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

} // namespace

void RunPassesQueued(TWipeRun& run, TWipeState& state, TPassHelper& helper, int depth) {
    TRandomAccessDisk& disk = run.disk;
    const std::size_t alignment = TransferAlignment(disk.BlockSize);
    std::vector<std::unique_ptr<TTransferBuffer>> owned;
    std::vector<std::uint8_t*> buffers;
    const int nbuf = depth + kSpareBuffers;
    for (int i = 0; i < nbuf; ++i) {
        owned.push_back(std::make_unique<TTransferBuffer>(run.BufferBytes(), alignment));
        buffers.push_back(owned.back()->data());
    }
    TQueueGuard guard(disk, state, helper, nbuf);
    const auto slotOf = [depth](std::int64_t t) { return static_cast<std::size_t>(t % depth); };
    const auto bufOf = [nbuf](std::int64_t t) { return static_cast<std::size_t>(t % nbuf); };

    do {
        std::uint32_t checksum = 0;
        state.InvalidateBuffer();
        run.PassStarting(state, false);
        const bool checks = state.CurrentPassChecks(); // read before the helper takes the state
        std::int32_t chunk = run.ChunkSize();
        std::int64_t count = (disk.BlockCount + chunk - 1) / chunk; // transfers of the pass
        auto blocksOf = [&](std::int64_t t) {
            return static_cast<std::int32_t>(
                std::min<std::int64_t>(chunk, disk.BlockCount - t * chunk));
        };
        auto bytesOf = [&](std::int64_t t) {
            return static_cast<std::size_t>(blocksOf(t)) * static_cast<std::size_t>(disk.BlockSize);
        };
        auto start = [&](std::int64_t t, std::uint8_t* buffer, bool write) {
            TRandomAccessDisk::TTransfer transfer;
            transfer.Write = write;
            transfer.Buffer = buffer;
            transfer.Count = blocksOf(t);
            transfer.Block = t * chunk;
            disk.StartTransfer(static_cast<int>(slotOf(t)), transfer);
        };
        // Waits for transfer t; a failure cancels those after it and is redone block by block.
        // Returns whether a block was skipped (a read's).
        auto finish = [&](std::int64_t t, std::uint8_t* buffer, bool write, std::int64_t& started) {
            disk.CurrentBlock = t * chunk;
            try {
                disk.FinishTransfer(static_cast<int>(slotOf(t)));
                return false;
            } catch (const XDiskIO&) {
            }
            disk.CancelTransfers();
            started = t + 1;
            if (write) {
                run.RecoverWrite(buffer, blocksOf(t), t * chunk);
                return false;
            }
            return run.RecoverRead(buffer, blocksOf(t), t * chunk);
        };

        // The pass's first buffer is drawn here; a fixed pattern's later transfers reuse it.
        bool pattern = true;
        std::uint32_t reusedSum = 0;
        std::size_t reusedBytes = 0;
        if (count > 0) {
            reusedBytes = bytesOf(0);
            guard.reached = 0;
            guard.Drawing(0);
            state.FillBuffer(buffers[0], reusedBytes);
            reusedSum = checks ? ByteSum(buffers[0], reusedBytes) : 0;
            pattern = !state.NeedsFill;
        }
        std::int64_t drawn = pattern ? count : 1; // transfers with their buffer drawn
        std::int64_t started = 0, finished = 0;
        // The helper draws transfers 1 to count - 1, each once the one before it in its buffer
        // is finished.
        bool drawing = false;
        const auto allowed = [&] { return std::min(count, finished + nbuf) - 1; };
        if (drawn < count) {
            TPassHelper::Job job;
            for (int k = 0; k < nbuf; ++k)
                job.ring[static_cast<std::size_t>(k)] = {buffers[static_cast<std::size_t>(k)],
                                                         bytesOf(0), guard.Before(k)};
            job.ringSize = nbuf;
            job.ringFirst = 1;
            job.draws = count - 1;
            job.allowed = allowed();
            job.lastBytes = bytesOf(count - 1);
            guard.jobFirst = 1;
            helper.Post(job);
            drawing = true;
        }
        while (finished < count) {
            for (;;) {
                if (drawing) {
                    if (helper.Done()) {
                        helper.Wait(); // raises what the helper met
                        drawing = false;
                    }
                    drawn = 1 + helper.Drawn();
                }
                while (started < count && started < finished + depth && started < drawn) {
                    start(started, buffers[pattern ? 0 : bufOf(started)], true);
                    ++started;
                }
                // While the helper draws a buffer that can be started at once, this thread
                // waits for it rather than for the device, and takes the transfers that have
                // ended meanwhile. With the queue full or the helper done, only the device is
                // left to wait for.
                if (!drawing || started == count || started == finished + depth ||
                    (started > finished && !disk.TransferPending(slotOf(finished))))
                    break;
                helper.AwaitDrawn(drawn);
            }
            guard.reached = finished;
            finish(finished, buffers[pattern ? 0 : bufOf(finished)], true, started);
            if (checks && pattern) {
                if (bytesOf(finished) != reusedBytes) { // the last, shorter transfer
                    reusedBytes = bytesOf(finished);
                    reusedSum = ByteSum(buffers[0], reusedBytes);
                }
                checksum += reusedSum;
            } else if (checks) {
                checksum += ByteSum(buffers[bufOf(finished)], bytesOf(finished));
            }
            ++finished;
            // Its buffer is free: the helper may draw the transfer after the last one in it.
            if (drawing)
                helper.Allow(allowed());
            run.Report(blocksOf(finished - 1));
        }
        // The last buffers may have been taken before the helper ended its job: it is collected
        // before the next pass touches the state.
        if (drawing)
            helper.Wait();
        guard.jobFirst = -1;
        guard.reached = guard.begun = 0; // every draw of the pass was used

        if (checks) {
            bool unread = false;
            run.PassStarting(state, true);
            chunk = run.ChunkSize();
            count = (disk.BlockCount + chunk - 1) / chunk;
            started = finished = 0;
            std::int64_t summed = 0; // transfers whose sum is taken: their buffer is free
            bool summing = false;    // the helper sums transfer `summed`
            auto take = [&] {
                checksum -= helper.Wait();
                summing = false;
                ++summed;
            };
            while (finished < count) {
                for (;;) {
                    if (summing && helper.Done())
                        take();
                    while (started < count && started < summed + nbuf &&
                           started < finished + depth) {
                        start(started, buffers[bufOf(started)], false);
                        ++started;
                    }
                    // A sum that holds up a read is waited for only when the device is about to
                    // run dry; else the oldest read is, and the helper sums meanwhile.
                    if (!(summing && started < count && started < finished + std::min(depth, 2)))
                        break;
                    take();
                }
                if (finish(finished, buffers[bufOf(finished)], false, started))
                    unread = true;
                // The helper has one job at a time: the previous sum first.
                if (summing)
                    take();
                TPassHelper::Job job;
                job.sum = buffers[bufOf(finished)];
                job.bytes = bytesOf(finished);
                helper.Post(job);
                summing = true;
                ++finished;
                run.Report(blocksOf(finished - 1));
            }
            if (summing)
                take();
            run.EndReadBack(checksum, unread);
            state.NextPass(); // steps over the verification slot
        }
    } while (state.NextPass());
}

} // namespace purgelet::wipe_engine
