// Inside the pass engine: its one pass runner, the queued one, and what it shares with the
// reference runners the tests compare it with (one transfer at a time from one buffer; two
// buffers alternating with a helper).
#pragma once

#include "disk/disk.h"

#include "methods/wipe_state.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>

namespace purgelet::wipe_engine {

class TPassHelper;

// The sum of the bytes, modulo 2^32: what a pass wrote, less what its read-back found.
std::uint32_t ByteSum(const std::uint8_t* data, std::size_t count);

// One Wipe call: the disk, the wipe, its sink (owner), and the progress made.
struct TWipeRun {
    TRandomAccessDisk& disk;
    TWipeContext& wipe;
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
    // A failed transfer of chunk blocks at position, redone block by block (each failing
    // block put to the owner); the read's answer is true when a block was skipped.
    void RecoverWrite(const std::uint8_t* data, std::int32_t chunk, std::int64_t position);
    bool RecoverRead(std::uint8_t* data, std::int32_t chunk, std::int64_t position);
    // After a pass's read-back: a mismatch, or a block not read, is put to the owner.
    void EndReadBack(std::uint32_t checksum, bool unread);
};

// The most transfers a wipe keeps in flight.
inline constexpr int kMaxInFlight = 16;
// Every pass of the wipe's method, from the cursor as state has it, with depth (1 to
// kMaxInFlight) transfers in flight through the disk's StartTransfer and FinishTransfer, each
// with a buffer of its own, generation and summing on the helper (which may run its jobs on
// the calling thread). Its transfers, bytes and owner calls are those of one transfer at a
// time from a single buffer, the reference the tests hold it to.
void RunPassesQueued(TWipeRun& run, TWipeState& state, TPassHelper& helper, int depth);

// How a disk's passes are made, given the wipe's progress and state.
using TPassRunner = std::function<void(TWipeRun&, TWipeState&)>;
// The frame of every block wipe of an open disk: the sink's figures reset, the method and
// geometry checked, the state made from the wipe's generators (or its own, seeded from the
// clock), then runner.
void RunWipe(TRandomAccessDisk& disk, TWipeContext& wipe, const TPassRunner& runner);

} // namespace purgelet::wipe_engine
