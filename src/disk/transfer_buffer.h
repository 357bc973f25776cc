// A buffer for raw block transfers. A disk opened without system buffering refuses a buffer
// that is not sector-aligned, so every buffer handed to ReadBlocks or WriteBlocks, the wipe
// engine's as well as a one-block read for the report, follows the same rule.
#pragma once

#include "disk/disk.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>

namespace purgelet {

// The alignment for blocks of blockSize bytes: TRandomAccessDisk::WipeBufferAlignment, or the
// block size itself when that is a larger power of two.
inline std::size_t TransferAlignment(std::int32_t blockSize) {
    const auto blockBytes = static_cast<std::size_t>(std::max<std::int32_t>(blockSize, 1));
    const bool powerOfTwo = (blockBytes & (blockBytes - 1)) == 0;
    return powerOfTwo ? std::max(TRandomAccessDisk::WipeBufferAlignment, blockBytes)
                      : TRandomAccessDisk::WipeBufferAlignment;
}

// capacity bytes at the given alignment, allocated once and freed on release; the contents
// start undefined.
class TTransferBuffer {
public:
    TTransferBuffer(std::size_t capacity, std::size_t alignment)
        : alignment_(alignment), capacity_(capacity),
          data_(static_cast<std::uint8_t*>(
              ::operator new (RoundUp(capacity, alignment), std::align_val_t{alignment}))) {}
    ~TTransferBuffer() { ::operator delete (data_, std::align_val_t{alignment_}); }
    TTransferBuffer(const TTransferBuffer&) = delete;
    TTransferBuffer& operator=(const TTransferBuffer&) = delete;

    std::uint8_t* data() const { return data_; }
    std::size_t capacity() const { return capacity_; }

private:
    static std::size_t RoundUp(std::size_t value, std::size_t step) {
        return std::max<std::size_t>((value + step - 1) / step * step, step);
    }
    std::size_t alignment_;
    std::size_t capacity_;
    std::uint8_t* data_;
};

} // namespace purgelet
