// The pass engine: TRandomAccessDisk::Wipe overwrites every block of an open disk once per
// pass of its method, reads the disk back after each pass that asks for verification and
// reports progress after every transfer. One runner makes the passes (wipe_queue.cpp). It decides
// nothing on the user's behalf: every failed transfer becomes a question to the Owner, whose answer
// it carries out.
#include "disk/disk.h"
#include "disk/pass_helper.h"
#include "disk/transfer_buffer.h"
#include "disk/wipe_passes.h"

#include "methods/generators.h"
#include "methods/method.h"
#include "methods/wipe_state.h"
#include "report/exceptions.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <system_error>
#include <utility>

namespace purgelet {

namespace wipe_engine {

// The sum of the bytes, modulo 2^32, taken 32 bytes at a time in four independent chains
// of 16-bit lanes: a lane takes at most 2 x 255 per step, so 128 steps fit before the lanes
// are folded. This runs over every byte written and read, at memory speed.
std::uint32_t ByteSum(const std::uint8_t* data, std::size_t count) {
    constexpr std::uint64_t kLowBytes = 0x00FF00FF00FF00FFull;
    auto fold = [](std::uint64_t lanes) {
        return (lanes & 0xFFFF) + ((lanes >> 16) & 0xFFFF) + ((lanes >> 32) & 0xFFFF) +
               (lanes >> 48);
    };
    std::uint64_t total = 0;
    std::size_t i = 0;
    while (count - i >= 32) {
        const std::size_t steps = std::min<std::size_t>((count - i) / 32, 128);
        std::uint64_t l0 = 0, l1 = 0, l2 = 0, l3 = 0;
        for (std::size_t k = 0; k < steps; ++k, i += 32) {
            std::uint64_t w[4];
            std::memcpy(w, data + i, sizeof w);
            l0 += (w[0] & kLowBytes) + ((w[0] >> 8) & kLowBytes);
            l1 += (w[1] & kLowBytes) + ((w[1] >> 8) & kLowBytes);
            l2 += (w[2] & kLowBytes) + ((w[2] >> 8) & kLowBytes);
            l3 += (w[3] & kLowBytes) + ((w[3] >> 8) & kLowBytes);
        }
        total += fold(l0) + fold(l1) + fold(l2) + fold(l3);
    }
    for (; i < count; ++i)
        total += data[i];
    return static_cast<std::uint32_t>(total);
}

namespace {

// Block-by-block recovery of a failed transfer of chunk blocks at position: each block is
// transferred alone, and each one that fails is put to the owner (Retry repeats it after
// PrepareToRetry, Ignore leaves it, anything else lets its exception end the wipe).
// Returns whether a block was left out.
template <class Byte, class Transfer>
bool RecoverBlockByBlock(TWipeRun& run, Byte* buffer, std::int32_t chunk, std::int64_t position,
                         MessageKind kind, Transfer transfer) {
    TRandomAccessDisk& disk = run.disk;
    TMessageObject& owner = run.owner;
    bool skipped = false;
    disk.PrepareToRetry();
    for (std::int32_t j = 0; j < chunk; ++j) {
        run.wipe.CurrentBlock = position + j;
        Byte* block = buffer + static_cast<std::size_t>(j) * disk.BlockSize;
        for (;;) {
            std::exception_ptr failure;
            try {
                transfer(block, position + j);
            } catch (...) {
                failure = std::current_exception();
            }
            if (!failure)
                break;
            const int answer =
                owner.Message(kind, disk.Description, TMsgDlgType::mtError, mbAbortRetryIgnore);
            if (answer == mrIgnore) {
                skipped = true;
                break;
            }
            if (answer != mrRetry)
                std::rethrow_exception(failure);
            disk.PrepareToRetry();
        }
    }
    return skipped;
}

} // namespace

std::int32_t TWipeRun::ChunkSize() {
    std::int32_t& wanted = wipe.Options.BufferSize;
    if (wanted > 0 && wanted < disk.BlockSize)
        wanted = disk.BlockSize;
    return disk.ChunkBlocks(static_cast<std::int64_t>(BufferBytes()), wanted);
}

void TWipeRun::PassStarting(const TWipeState& state, bool verifying) {
    owner.Pass = state.WritePassNumber();
    owner.PassCount = state.WritePassCount();
    owner.Verifying = verifying;
}

void TWipeRun::Report(std::int32_t chunk) {
    done += chunk;
    TMessageObject::SetProgress(
        &owner, total > 0 ? static_cast<double>(done + 1) / static_cast<double>(total) : 1.0);
    owner.Update();
}

void TWipeRun::RecoverWrite(const std::uint8_t* data, std::int32_t chunk, std::int64_t position) {
    RecoverBlockByBlock(
        *this, data, chunk, position, mkWrite,
        [this](const std::uint8_t* block, std::int64_t at) { disk.WriteBlocks(block, 1, at); });
}

bool TWipeRun::RecoverRead(std::uint8_t* data, std::int32_t chunk, std::int64_t position) {
    return RecoverBlockByBlock(
        *this, data, chunk, position, mkRead,
        [this](std::uint8_t* block, std::int64_t at) { disk.ReadBlocks(block, 1, at); });
}

void TWipeRun::EndReadBack(std::uint32_t checksum, bool unread) {
    // A block whose read-back was skipped leaves whatever the buffer held in the sum, which
    // for a fixed pattern is the pattern itself: the sums would agree and an unread block
    // would pass as verified. Such a pass counts as a mismatch.
    if ((checksum != 0 || unread) &&
        owner.Message(mkVerify, disk.Description, TMsgDlgType::mtWarning, mbYesNo) != mrYes)
        throw XVerify("TLogicalDisk.Wipe - Verify ");
}

} // namespace wipe_engine

void TRandomAccessDisk::PrepareToRetry() {}

void TRandomAccessDisk::StartTransfer(int Slot, const TTransfer& Transfer) {
    const auto index = static_cast<std::size_t>(Slot);
    if (started_.size() <= index)
        started_.resize(index + 1);
    started_[index] = Transfer;
}

void TRandomAccessDisk::FinishTransfer(int Slot) {
    const TTransfer transfer = std::exchange(started_.at(static_cast<std::size_t>(Slot)), {});
    if (transfer.Write)
        WriteBlocks(transfer.Buffer, transfer.Count, transfer.Block);
    else
        ReadBlocks(transfer.Buffer, transfer.Count, transfer.Block);
}

void TRandomAccessDisk::CancelTransfers() noexcept {
    started_.clear();
}

bool TRandomAccessDisk::TransferPending(int) {
    return false;
}

std::int32_t TRandomAccessDisk::ChunkBlocks(std::int64_t capacity, std::int32_t bufferSize) const {
    const std::int64_t limit = capacity / BlockSize;
    const std::int64_t wanted = bufferSize > 0 ? bufferSize / BlockSize : limit;
    return static_cast<std::int32_t>(
        std::clamp<std::int64_t>(wanted, 1, std::max<std::int64_t>(limit, 1)));
}

void wipe_engine::RunWipe(TRandomAccessDisk& disk, TWipeContext& wipe, const TPassRunner& runner) {
    TMessageObject& owner = wipe.StartFigures(disk);
    // A program fault, but still one of the program's exceptions: the wipe run tells the user
    // by the class, and a library exception would reach the user as an unknown failure.
    if (wipe.Method == nullptr)
        throw XGenericError("TRandomAccessDisk.Wipe - no wipe method");
    if (disk.BlockSize <= 0 || disk.BlockCount < 0)
        throw XGeometryError("TRandomAccessDisk.Wipe - block size " +
                             std::to_string(disk.BlockSize) + ", block count " +
                             std::to_string(disk.BlockCount));

    // A disk wiped alone draws from generators of its own, seeded as a run seeds its own.
    TGenerators own;
    TGenerators* generators = wipe.Generators;
    if (generators == nullptr) {
        Randomize(own);
        generators = &own;
    }
    const method& wiped = *wipe.Method;
    TWipeState state(wiped, *generators);
    state.ResetPasses();
    TWipeRun run{disk, wipe, owner,
                 (static_cast<std::int64_t>(wiped.PassCount) + wipe.FormatPass) * disk.BlockCount};
    runner(run, state);
}

void TRandomAccessDisk::Wipe(TWipeContext& wipe) {
    const std::int32_t depth = wipe.Options.TransfersInFlight;
    wipe_engine::RunWipe(*this, wipe, [this, depth](wipe_engine::TWipeRun& run, TWipeState& state) {
        // Generation and summing run on a helper thread while the disk transfers, unless the
        // disk asks for them on this thread or no thread is to be had: the same wipe, without
        // the overlap.
        using TRunsOn = wipe_engine::TPassHelper::TRunsOn;
        std::unique_ptr<wipe_engine::TPassHelper> helper;
        if (OverlapTransfers && BlockCount > 0) {
            try {
                helper = std::make_unique<wipe_engine::TPassHelper>(state, TRunsOn::HelperThread);
            } catch (const std::system_error&) {
            }
        }
        if (!helper)
            helper = std::make_unique<wipe_engine::TPassHelper>(state, TRunsOn::CallingThread);
        wipe_engine::RunPassesQueued(run, state, *helper, OverlapTransfers ? depth : 1);
    });
}

} // namespace purgelet
