#include "support/reference_runners.h"

#include "disk/pass_helper.h"
#include "disk/transfer_buffer.h"
#include "report/exceptions.h"

#include <algorithm>

namespace purgelet::testing {

using wipe_engine::ByteSum;
using wipe_engine::TPassHelper;
using wipe_engine::TWipeRun;

namespace {

// One transfer of chunk blocks at position, a failed one redone block by block as the engine
// redoes it.
void WriteChunk(TWipeRun& run, const std::uint8_t* data, std::int32_t chunk,
                std::int64_t position) {
    run.wipe.CurrentBlock = position;
    try {
        run.disk.WriteBlocks(data, chunk, position);
        return;
    } catch (const XDiskIO&) {
    }
    run.RecoverWrite(data, chunk, position);
}

// The same for a read; true when a block was skipped.
bool ReadChunk(TWipeRun& run, std::uint8_t* data, std::int32_t chunk, std::int64_t position) {
    run.wipe.CurrentBlock = position;
    try {
        run.disk.ReadBlocks(data, chunk, position);
        return false;
    } catch (const XDiskIO&) {
    }
    return run.RecoverRead(data, chunk, position);
}

} // namespace

// One buffer: a fixed pattern is generated on the first transfer of the pass only; later
// transfers reuse the buffer, so the pattern restarts at every transfer.
void RunPassesInline(TWipeRun& run, TWipeState& state) {
    TRandomAccessDisk& disk = run.disk;
    TTransferBuffer buffer(run.BufferBytes(), TransferAlignment(disk.BlockSize));
    do {
        std::uint32_t checksum = 0;
        std::int64_t position = 0;
        state.InvalidateBuffer();
        run.PassStarting(state, false);
        std::int32_t chunk = run.ChunkSize();
        while (position < disk.BlockCount) {
            if (disk.BlockCount - position < chunk)
                chunk = static_cast<std::int32_t>(disk.BlockCount - position);
            const std::size_t bytes = static_cast<std::size_t>(chunk) * disk.BlockSize;
            // A fixed pattern is generated on the first transfer of the pass only; later
            // transfers reuse the buffer, so the pattern restarts at every transfer.
            state.FillBuffer(buffer.data(), bytes);
            checksum += ByteSum(buffer.data(), bytes);
            WriteChunk(run, buffer.data(), chunk, position);
            position += chunk;
            run.Report(chunk);
        }

        if (state.CurrentPassChecks()) {
            bool unread = false;
            position = 0;
            run.PassStarting(state, true);
            chunk = run.ChunkSize();
            while (position < disk.BlockCount) {
                if (disk.BlockCount - position < chunk)
                    chunk = static_cast<std::int32_t>(disk.BlockCount - position);
                const std::size_t bytes = static_cast<std::size_t>(chunk) * disk.BlockSize;
                if (ReadChunk(run, buffer.data(), chunk, position))
                    unread = true;
                checksum -= ByteSum(buffer.data(), bytes);
                position += chunk;
                run.Report(chunk);
            }
            run.EndReadBack(checksum, unread);
            state.NextPass(); // steps over the verification slot
        }
    } while (state.NextPass());
}

// The overlapped runner. Here `current` always names the buffer that holds what the single
// buffer would hold. A fixed pattern is drawn once per pass and then reused, so its transfers
// all come from one buffer and need no job; a random pass draws every buffer, each into the
// buffer not being written.
namespace {

// The helper's job out at a way out of the runner is dropped, and what it drew undone.
struct TDiscardOnExit {
    TPassHelper& helper;
    ~TDiscardOnExit() { helper.Discard(); }
};

} // namespace

void RunPassesOverlapped(TWipeRun& run, TWipeState& state, TPassHelper& helper) {
    TRandomAccessDisk& disk = run.disk;
    const std::size_t alignment = TransferAlignment(disk.BlockSize);
    TTransferBuffer first(run.BufferBytes(), alignment), second(run.BufferBytes(), alignment);
    std::uint8_t* const buffers[2] = {first.data(), second.data()};
    int current = 0;
    TDiscardOnExit discard{helper};

    do {
        std::uint32_t checksum = 0;
        std::int64_t position = 0;
        state.InvalidateBuffer();
        run.PassStarting(state, false);
        std::int32_t chunk = run.ChunkSize();
        // Blocks of the transfer at a position: a whole chunk, or what is left at the end.
        auto blocksAt = [&](std::int64_t at) {
            return static_cast<std::int32_t>(std::min<std::int64_t>(chunk, disk.BlockCount - at));
        };
        auto bytesOf = [&](std::int32_t blocks) {
            return static_cast<std::size_t>(blocks) * static_cast<std::size_t>(disk.BlockSize);
        };

        // The pass's first buffer: nothing to overlap it with yet. A pattern's later
        // transfers reuse it, and with it its sum while their size stays the same.
        std::uint32_t reusedSum = 0;
        std::size_t reusedBytes = 0;
        if (position < disk.BlockCount) {
            reusedBytes = bytesOf(blocksAt(0));
            state.FillBuffer(buffers[current], reusedBytes);
            reusedSum = ByteSum(buffers[current], reusedBytes);
        }
        bool drawn = false; // the current buffer was drawn for this transfer, not yet summed
        // A written buffer whose sum is still to be taken: by the helper before it draws
        // into that buffer again, or by this thread at the end of the pass.
        const std::uint8_t* unsummed = nullptr;
        std::size_t unsummedBytes = 0;
        while (position < disk.BlockCount) {
            const std::int32_t blocks = blocksAt(position);
            const std::size_t bytes = bytesOf(blocks);
            const std::int64_t next = position + blocks;
            if (!drawn) {
                if (bytes != reusedBytes) { // the last, shorter transfer
                    reusedBytes = bytes;
                    reusedSum = ByteSum(buffers[current], bytes);
                }
                checksum += reusedSum;
            }

            // The next transfer's buffer is drawn while this one is written.
            int nextBuffer = current;
            bool posted = false;
            if (next < disk.BlockCount && state.NeedsFill) {
                nextBuffer = 1 - current;
                TPassHelper::Job job;
                if (unsummed == buffers[nextBuffer]) {
                    job.sumFirst = unsummed;
                    job.sumFirstBytes = unsummedBytes;
                    unsummed = nullptr;
                }
                job.fill = buffers[nextBuffer];
                job.bytes = bytesOf(blocksAt(next));
                helper.Post(job);
                posted = true;
            }

            WriteChunk(run, buffers[current], blocks, position);
            if (drawn) {
                // Summed by whichever thread is free first: this one while the helper is
                // still drawing (a generator slower than the disk), else the helper.
                if (posted && unsummed == nullptr && helper.Done()) {
                    unsummed = buffers[current];
                    unsummedBytes = bytes;
                } else {
                    checksum += ByteSum(buffers[current], bytes);
                }
            }
            position = next;
            run.Report(blocks);
            if (posted)
                checksum += helper.Wait();
            drawn = posted;
            current = nextBuffer;
        }
        if (unsummed != nullptr)
            checksum += ByteSum(unsummed, unsummedBytes);

        if (state.CurrentPassChecks()) {
            bool unread = false;
            position = 0;
            run.PassStarting(state, true);
            chunk = run.ChunkSize();
            while (position < disk.BlockCount) {
                const std::int32_t blocks = blocksAt(position);
                if (ReadChunk(run, buffers[current], blocks, position))
                    unread = true;
                // The previous buffer's sum is collected before this one's is handed over:
                // the helper has one job at a time.
                if (helper.Busy())
                    checksum -= helper.Wait();
                TPassHelper::Job job;
                job.sum = buffers[current];
                job.bytes = bytesOf(blocks);
                helper.Post(job);
                position += blocks;
                run.Report(blocks);
                current = 1 - current;
            }
            if (helper.Busy()) {
                checksum -= helper.Wait();
                current = 1 - current; // the last buffer read
            }
            run.EndReadBack(checksum, unread);
            state.NextPass(); // steps over the verification slot
        }
    } while (state.NextPass());
}

void RunPassesOverlappedWithHelper(TWipeRun& run, TWipeState& state) {
    TPassHelper helper(state);
    RunPassesOverlapped(run, state, helper);
}

} // namespace purgelet::testing
