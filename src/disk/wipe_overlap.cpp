// The overlapped pass runner: while one buffer is written, the helper draws the next; while
// one buffer is read back, the helper sums the previous one. It makes exactly the transfers,
// the bytes and the owner calls of the inline runner (wipe.cpp), which stays the reference.
//
// The inline runner's single buffer holds, at every transfer, what the method last drew;
// here `current` always names the buffer that holds it. A fixed pattern is drawn once per
// pass and then reused, so its transfers all come from one buffer and need no job; a random
// pass draws every buffer, each into the buffer not being written.
#include "disk/pass_helper.h"
#include "disk/transfer_buffer.h"
#include "disk/wipe_passes.h"

#include <algorithm>

namespace purgelet::wipe_engine {

namespace {

// The helper's job out at a way out of the runner is dropped, and what it drew undone.
struct TDiscardOnExit {
    TPassHelper& helper;
    ~TDiscardOnExit() { helper.Discard(); }
};

} // namespace

void RunPassesOverlapped(TWipeRun& run, TPassHelper& helper) {
    TRandomAccessDisk& disk = run.disk;
    const std::size_t alignment = TransferAlignment(disk.BlockSize);
    TTransferBuffer first(run.BufferBytes(), alignment), second(run.BufferBytes(), alignment);
    std::uint8_t* const buffers[2] = {first.data(), second.data()};
    int current = 0;
    TDiscardOnExit discard{helper};

    do {
        std::uint32_t checksum = 0;
        std::int64_t position = 0;
        run.Method.InvalidateBuffer();
        const std::int32_t chunk = run.ChunkSize();
        auto blocksAt = [&](std::int64_t at) {
            return static_cast<std::int32_t>(std::min<std::int64_t>(chunk, disk.BlockCount - at));
        };
        auto bytesOf = [&](std::int32_t blocks) {
            return static_cast<std::size_t>(blocks) * static_cast<std::size_t>(disk.BlockSize);
        };

        // The pass's first buffer: nothing to overlap it with yet.
        std::uint32_t sum = 0; // of the transfer about to be written
        if (position < disk.BlockCount) {
            const std::size_t bytes = bytesOf(blocksAt(0));
            run.Method.FillBuffer(buffers[current], bytes);
            sum = ByteSum(buffers[current], bytes);
        }
        while (position < disk.BlockCount) {
            const std::int32_t blocks = blocksAt(position);
            const std::size_t bytes = bytesOf(blocks);
            const std::int64_t next = position + blocks;
            checksum += sum;

            // The next transfer's buffer, prepared while this one is written.
            int nextBuffer = current;
            bool posted = false;
            if (next < disk.BlockCount) {
                const std::size_t nextBytes = bytesOf(blocksAt(next));
                if (run.Method.NeedsFill) {
                    nextBuffer = 1 - current;
                    helper.Post({buffers[nextBuffer], buffers[nextBuffer], nextBytes});
                    posted = true;
                } else if (nextBytes != bytes) {
                    // The pattern again, in a shorter last transfer: only its sum is new.
                    helper.Post({nullptr, buffers[current], nextBytes});
                    posted = true;
                } // else the same bytes again, and the same sum
            }

            run.WriteChunk(buffers[current], blocks, position);
            position = next;
            run.Report(blocks);
            if (posted)
                sum = helper.Wait();
            current = nextBuffer;
        }

        if (run.Method.CurrentPassChecks()) {
            bool unread = false;
            position = 0;
            const std::int32_t readChunk = run.ChunkSize();
            while (position < disk.BlockCount) {
                const auto blocks = static_cast<std::int32_t>(
                    std::min<std::int64_t>(readChunk, disk.BlockCount - position));
                if (run.ReadChunk(buffers[current], blocks, position))
                    unread = true;
                // The previous buffer's sum is collected before this one's is handed over:
                // the helper has one job at a time.
                if (helper.Busy())
                    checksum -= helper.Wait();
                helper.Post({nullptr, buffers[current], bytesOf(blocks)});
                position += blocks;
                run.Report(blocks);
                current = 1 - current;
            }
            if (helper.Busy()) {
                checksum -= helper.Wait();
                current = 1 - current; // the last buffer read
            }
            run.EndReadBack(checksum, unread);
            run.Method.NextPass(); // steps over the verification slot
        }
    } while (run.Method.NextPass());
}

} // namespace purgelet::wipe_engine
