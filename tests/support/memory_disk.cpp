#include "support/memory_disk.h"

#include "report/exceptions.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace purgelet::testing {

void MemoryMedium::Move(Op op, std::uint8_t* buffer, std::int32_t count, std::int64_t block,
                        std::int32_t blockSize) {
    const auto size = static_cast<std::size_t>(blockSize);
    const std::size_t misalignment = reinterpret_cast<std::uintptr_t>(buffer) % 4096;
    if (alignment != 0 && reinterpret_cast<std::uintptr_t>(buffer) % alignment != 0) {
        transfers.push_back({op, block, count, true, misalignment});
        const std::string where =
            "(buff," + std::to_string(block) + "," + std::to_string(count) + ") : unaligned buffer";
        if (op == Op::Write)
            throw XWriteFile("TMemoryDisk.WriteBlocks : " + where);
        throw XReadFile("TMemoryDisk.ReadBlocks : " + where);
    }
    // The first active fault inside the range decides how far the transfer gets.
    Fault* hit = nullptr;
    for (Fault& fault : faults)
        if (fault.op == op && fault.remaining != 0 && fault.block >= block &&
            fault.block < block + count && (hit == nullptr || fault.block < hit->block))
            hit = &fault;
    const std::int64_t moved = hit == nullptr ? count : hit->shortTransfer ? hit->block - block : 0;
    for (std::int64_t i = 0; i < moved; ++i) {
        std::uint8_t* disk = bytes.data() + static_cast<std::size_t>(block + i) * size;
        std::uint8_t* memory = buffer + static_cast<std::size_t>(i) * size;
        if (op == Op::Write &&
            std::find(lostWrites.begin(), lostWrites.end(), block + i) != lostWrites.end())
            continue;
        if (op == Op::Write)
            std::memcpy(disk, memory, size);
        else
            std::memcpy(memory, disk, size);
    }
    transfers.push_back({op, block, count, hit != nullptr, misalignment});
    if (hit == nullptr)
        return;
    if (hit->remaining > 0)
        --hit->remaining;
    const std::string where = "(buff," + std::to_string(block) + "," + std::to_string(count) + ")";
    if (op == Op::Write)
        throw XWriteFile("TMemoryDisk.WriteBlocks : " + where + " : ");
    throw XReadFile("TMemoryDisk.ReadBlocks : " + where + " : ");
}

std::int32_t MemoryMedium::CountTransfers(Op op) const {
    return static_cast<std::int32_t>(std::count_if(transfers.begin(), transfers.end(),
                                                   [op](const Transfer& t) { return t.op == op; }));
}

template <class Base> void BasicMemoryDisk<Base>::Open(bool readOnly) {
    medium.calls.push_back(readOnly ? "open(r)" : "open(w)");
    if (medium.failOpen)
        throw XSystemCall("TMemoryDisk.Open - CreateFile : ");
    ++medium.openCount;
    medium.isOpen = true;
    this->ReadOnly = readOnly || medium.opensReadOnly;
}

template <class Base> void BasicMemoryDisk<Base>::Close() {
    medium.calls.push_back("close");
    medium.isOpen = false;
    if (medium.failClose)
        throw XSystemCall("TMemoryDisk.Close - CloseHandle : ");
}

template <class Base>
void BasicMemoryDisk<Base>::WriteBlocks(const void* buffer, std::int32_t count,
                                        std::int64_t block) {
    if (this->ReadOnly)
        throw XReadOnly("Read only !!!");
    Check(block, count);
    medium.Move(MemoryMedium::Op::Write,
                const_cast<std::uint8_t*>(static_cast<const std::uint8_t*>(buffer)), count, block,
                this->BlockSize);
}

// A transfer outside the disk or on a closed device is a fault of the caller: it must end
// the test loudly, never be retried as an I/O error.
template <class Base>
void BasicMemoryDisk<Base>::Check(std::int64_t block, std::int32_t count) const {
    if (!medium.isOpen)
        throw std::logic_error("transfer on a closed memory disk");
    if (count < 1 || block < 0 || block + count > this->BlockCount)
        throw std::out_of_range("transfer outside the memory disk: block " + std::to_string(block) +
                                ", count " + std::to_string(count));
}

void MemoryDisk::Format(const TFormatParams& params, TWipeContext&) {
    medium.calls.push_back("format");
    lastFormat = params;
    if (medium.failFormat)
        throw XFormatError("TMemoryDisk.Format : ");
}

template class BasicMemoryDisk<TLogicalDisk>;
template class BasicMemoryDisk<TPhysicalDisk>;

} // namespace purgelet::testing
