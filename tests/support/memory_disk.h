// An in-memory random-access disk for tests: its blocks live in a byte vector, every call
// is recorded, and faults can be injected per block (a transfer covering the block fails
// once, a few times or always, either without moving any data or as a short transfer that
// moves the blocks before the faulty one), as can a device that opens read-only and the
// alignment rule of unbuffered devices.
//
//   auto disk = MakeDisk<MemoryDisk>("E", &owner, 100);   // 100 blocks of 512 bytes
//   disk->medium.FailWrites(7, 1);                          // block 7: one failed write
//   disk->WipeDisk(method.get(), false, 0, 0, "");   or, with a run's settings, WipeDisk(wipe)
//   EXPECT_EQ(disk->medium.bytes ...);
#pragma once

#include "disk/disk.h"
#include "disk/wipe_passes.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace purgelet::testing {

// The storage, the faults and the call log shared by the memory disk classes.
class MemoryMedium {
public:
    enum class Op { Read, Write };
    static constexpr int kAlways = -1;

    struct Fault {
        Op op;
        std::int64_t block;
        int remaining;      // transfers still to fail; kAlways never runs out
        bool shortTransfer; // the blocks before the faulty one are transferred
    };

    // One transfer as the disk saw it (successful or not).
    struct Transfer {
        Op op;
        std::int64_t block;
        std::int32_t count;
        bool failed;
        std::size_t misalignment; // the buffer's address modulo 4096
    };

    std::vector<std::uint8_t> bytes; // BlockCount x BlockSize
    std::vector<Fault> faults;
    std::vector<Transfer> transfers;
    std::vector<std::string> calls; // "open(w)", "open(r)", "close", "prepare", "format"

    // A transfer whose buffer address is not a multiple of this is refused before anything
    // moves, as a device opened without system buffering refuses it; 0: any buffer will do.
    std::size_t alignment = 0;
    bool isOpen = false;
    bool opensReadOnly = false; // Open always ends read-only, whatever was asked
    bool failOpen = false;      // Open raises XNTCreateFile-like XSystemCall
    bool failClose = false;     // Close raises XSystemCall (after closing)
    bool failFormat = false;    // Format raises XFormatError
    int openCount = 0;
    // Blocks whose writes report success but leave the old bytes, as a drive that loses
    // writes (a firmware fault, a remapped sector read from its old place) does.
    std::vector<std::int64_t> lostWrites;

    void FailWrites(std::int64_t block, int times) {
        faults.push_back({Op::Write, block, times, false});
    }
    void FailReads(std::int64_t block, int times) {
        faults.push_back({Op::Read, block, times, false});
    }
    void ShortWrite(std::int64_t block, int times) {
        faults.push_back({Op::Write, block, times, true});
    }
    void ShortRead(std::int64_t block, int times) {
        faults.push_back({Op::Read, block, times, true});
    }

    // The blocks in [block, block + count) moved to or from buffer, with the faults applied.
    void Move(Op op, std::uint8_t* buffer, std::int32_t count, std::int64_t block,
              std::int32_t blockSize);

    std::int32_t CountTransfers(Op op) const;
    // The byte at offset of block.
    std::uint8_t At(std::int64_t block, std::int32_t offset, std::int32_t blockSize) const {
        return bytes[static_cast<std::size_t>(block) * static_cast<std::size_t>(blockSize) +
                     static_cast<std::size_t>(offset)];
    }
};

// The disk operations over a MemoryMedium, on top of any random-access disk class.
template <class Base> class BasicMemoryDisk : public Base {
public:
    BasicMemoryDisk(std::string name, TMessageObject* owner, std::int64_t blocks,
                    std::int32_t blockSize = 512, std::uint8_t fill = 0xEE)
        : Base(std::move(name), owner), initialBlocks_(blocks), initialFill_(fill) {
        this->BlockSize = blockSize;
    }

    MemoryMedium medium;

    void init() override {
        this->BlockCount = initialBlocks_;
        this->Size = initialBlocks_ * this->BlockSize;
        medium.bytes.assign(static_cast<std::size_t>(this->Size), initialFill_);
    }
    void Open(bool readOnly) override;
    void Close() override;
    void ReadBlocks(void* buffer, std::int32_t count, std::int64_t block) override {
        Check(block, count);
        medium.Move(MemoryMedium::Op::Read, static_cast<std::uint8_t*>(buffer), count, block,
                    this->BlockSize);
    }
    void WriteBlocks(const void* buffer, std::int32_t count, std::int64_t block) override;
    void PrepareToRetry() override { medium.calls.push_back("prepare"); }

private:
    void Check(std::int64_t block, std::int32_t count) const;
    std::int64_t initialBlocks_;
    std::uint8_t initialFill_;
};

// A drive letter in memory; Format records the call (and can fail).
class MemoryDisk : public BasicMemoryDisk<TLogicalDisk> {
public:
    using BasicMemoryDisk::BasicMemoryDisk;
    void Format(const TFormatParams& params, TWipeContext& wipe) override;
    TFormatParams lastFormat;
    // When set, the passes are made by this runner (a reference model) in the engine's frame.
    wipe_engine::TPassRunner passRunner;
    TWipeOptions lastOptions; // of the last wipe
    void Wipe(TWipeContext& wipe) override {
        lastOptions = wipe.Options;
        if (passRunner)
            wipe_engine::RunWipe(*this, wipe, passRunner);
        else
            TLogicalDisk::Wipe(wipe);
    }
};

// A whole physical drive in memory.
using MemoryPhysicalDisk = BasicMemoryDisk<TPhysicalDisk>;

extern template class BasicMemoryDisk<TLogicalDisk>;
extern template class BasicMemoryDisk<TPhysicalDisk>;

} // namespace purgelet::testing
