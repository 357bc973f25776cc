// Inside the pass engine: what its pass runners share. The inline runner does every step on
// the calling thread with one buffer; the overlapped runner hands generation and summing to a
// helper thread and alternates two buffers; the queued runner keeps several transfers in
// flight, a buffer each. All make the same transfers, the same bytes and the same calls to
// the owner.
#pragma once

#include "disk/disk.h"

#include "methods/wipe_state.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <exception>

namespace purgelet::wipe_engine {

class TPassHelper;

// The sum of the bytes, modulo 2^32: what a pass wrote, less what its read-back found.
std::uint32_t ByteSum(const std::uint8_t* data, std::size_t count);

// One Wipe call: the disk, its owner, and the progress made.
struct TWipeRun {
    TRandomAccessDisk& disk;
    TMessageObject& owner;
    std::int64_t total; // transfers' blocks in all passes, the format pass included
    std::int64_t done = 0;

    // Bytes per transfer buffer: a block larger than the default buffer still fits.
    std::size_t BufferBytes() const {
        return std::max<std::size_t>(TRandomAccessDisk::WipeBufferSize,
                                     static_cast<std::size_t>(disk.BlockSize));
    }
    // Blocks per transfer for this pass (read when the pass or its read-back starts).
    std::int32_t ChunkSize();
    // A pass, or its read-back, starts: the owner's figures say which.
    void PassStarting(const TWipeState& state, bool verifying);
    // Progress and Update after every transfer of chunk blocks.
    void Report(std::int32_t chunk);
    // Writes chunk blocks at position from data, redoing a failed transfer block by block.
    void WriteChunk(const std::uint8_t* data, std::int32_t chunk, std::int64_t position);
    // Reads chunk blocks at position into data, the same way; true when a block was skipped.
    bool ReadChunk(std::uint8_t* data, std::int32_t chunk, std::int64_t position);
    // A failed transfer of chunk blocks at position, redone block by block (each failing
    // block put to the owner); the read's answer is true when a block was skipped.
    void RecoverWrite(const std::uint8_t* data, std::int32_t chunk, std::int64_t position);
    bool RecoverRead(std::uint8_t* data, std::int32_t chunk, std::int64_t position);
    // After a pass's read-back: a mismatch, or a block not read, is put to the owner.
    void EndReadBack(std::uint32_t checksum, bool unread);
};

// Every pass of the wipe's method on the calling thread, from the cursor as state has it.
void RunPassesInline(TWipeRun& run, TWipeState& state);
// Every pass with generation and summing overlapping the transfers; helper must have been
// made for the same state.
void RunPassesOverlapped(TWipeRun& run, TWipeState& state, TPassHelper& helper);
// The most transfers a wipe keeps in flight.
inline constexpr int kMaxInFlight = 16;
// Every pass with depth (2 to kMaxInFlight) transfers in flight through the disk's
// StartTransfer and FinishTransfer, each with a buffer of its own, generation and summing on
// the helper; the same transfers, bytes and owner calls as the runners above.
void RunPassesQueued(TWipeRun& run, TWipeState& state, TPassHelper& helper, int depth);

} // namespace purgelet::wipe_engine
