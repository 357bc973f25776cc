// The queued pass runner: several transfers in flight, each from a buffer of its own, while
// the helper draws the next buffer (a random pass) or sums the last one read. A written
// buffer is summed on this thread, which waits for the device most of the time. It makes the
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
// A random pass draws transfer t into buffer t mod depth, once transfer t - depth is finished;
// a fixed pattern is drawn once per pass and all its transfers come from the first buffer.
#include "disk/pass_helper.h"
#include "disk/transfer_buffer.h"
#include "disk/wipe_passes.h"

#include "report/exceptions.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace purgelet::wipe_engine {

namespace {

// The transfers in flight and the draws ahead, undone at every way out of the runner. Its
// owner's buffers outlive it.
class TQueueGuard {
public:
    TQueueGuard(TRandomAccessDisk& disk, TWipeState& state, TPassHelper& helper, int depth)
        : disk_(disk), state_(state), helper_(helper), before_(static_cast<std::size_t>(depth)) {}
    ~TQueueGuard() {
        disk_.CancelTransfers();
        helper_.Discard();
        if (begun > reached + 1)
            state_.RestoreFillState(before_[static_cast<std::size_t>((reached + 1) % Depth())]);
    }
    TQueueGuard(const TQueueGuard&) = delete;
    TQueueGuard& operator=(const TQueueGuard&) = delete;

    // Transfer t's buffer is about to be drawn: what the draw changes can be undone.
    void Drawing(std::int64_t t) {
        before_[static_cast<std::size_t>(t % Depth())] = state_.SaveFillState();
        begun = t + 1;
    }
    // Of the pass under way: the last transfer the reference has drawn (the one being finished)
    // and the draws begun, those ahead of it included.
    std::int64_t reached = 0;
    std::int64_t begun = 0;

private:
    std::int64_t Depth() const { return static_cast<std::int64_t>(before_.size()); }
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
    for (int i = 0; i < depth; ++i) {
        owned.push_back(std::make_unique<TTransferBuffer>(run.BufferBytes(), alignment));
        buffers.push_back(owned.back()->data());
    }
    TQueueGuard guard(disk, state, helper, depth);
    const auto slotOf = [depth](std::int64_t t) { return static_cast<std::size_t>(t % depth); };

    do {
        std::uint32_t checksum = 0;
        state.InvalidateBuffer();
        run.PassStarting(state, false);
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
            reusedSum = ByteSum(buffers[0], reusedBytes);
            pattern = !state.NeedsFill;
        }
        std::int64_t drawn = pattern ? count : 1; // transfers with their buffer drawn
        std::int64_t started = 0, finished = 0;
        bool drawing = false; // the helper draws transfer `drawn`
        auto collect = [&] {
            helper.Wait();
            drawing = false;
            ++drawn;
        };
        while (finished < count) {
            for (;;) {
                if (drawing && helper.Done())
                    collect();
                // A buffer is drawn anew once the transfer that used it last is finished.
                if (!drawing && drawn < count && drawn < finished + depth) {
                    guard.Drawing(drawn);
                    TPassHelper::Job job;
                    // Only the draw: the helper is the slower side of a random pass, so the
                    // buffer's sum is taken here, while the transfers in flight run.
                    job.fill = buffers[slotOf(drawn)];
                    job.bytes = bytesOf(drawn);
                    helper.Post(job);
                    drawing = true;
                }
                while (started < count && started < finished + depth && started < drawn) {
                    start(started, buffers[pattern ? 0 : slotOf(started)], true);
                    ++started;
                }
                // The draw is waited for only when the device is about to run dry (fewer than
                // two transfers in flight); else the oldest transfer is, asleep in the system,
                // and this thread leaves the processor to the helper that draws. A waiter
                // spinning beside the generator on a busy two-core machine slowed it unevenly.
                if (!(drawing && started == drawn && started < finished + std::min(depth, 2)))
                    break;
                collect();
            }
            guard.reached = finished;
            finish(finished, buffers[pattern ? 0 : slotOf(finished)], true, started);
            if (pattern) {
                if (bytesOf(finished) != reusedBytes) { // the last, shorter transfer
                    reusedBytes = bytesOf(finished);
                    reusedSum = ByteSum(buffers[0], reusedBytes);
                }
                checksum += reusedSum;
            } else {
                checksum += ByteSum(buffers[slotOf(finished)], bytesOf(finished));
            }
            ++finished;
            run.Report(blocksOf(finished - 1));
        }
        guard.reached = guard.begun = 0; // every draw of the pass was used

        if (state.CurrentPassChecks()) {
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
                    while (started < count && started < summed + depth) {
                        start(started, buffers[slotOf(started)], false);
                        ++started;
                    }
                    // A sum that holds up a read is waited for only when the device is about to
                    // run dry; else the oldest read is, and the helper sums meanwhile.
                    if (!(summing && started < count && started < finished + std::min(depth, 2)))
                        break;
                    take();
                }
                if (finish(finished, buffers[slotOf(finished)], false, started))
                    unread = true;
                // The helper has one job at a time: the previous sum first.
                if (summing)
                    take();
                TPassHelper::Job job;
                job.sum = buffers[slotOf(finished)];
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
