#include "lang/lzhpacker.h"

#include "lang/lzhuf.h"

#include <array>
#include <cstdint>
#include <exception>
#include <memory>

namespace purgelet {

namespace {

using namespace lzh;

// MSB-first bits from the source, read in blocks. A bit that the source does not have ends
// decoding: the encoder pads only the last byte, so every bit a valid stream needs exists.
class BitReader {
public:
    explicit BitReader(std::istream& source) : source_(source) {}

    // One byte of the source (the length header), or -1 at the end.
    int RawByte() {
        if (pos_ == end_ && !Fill())
            return -1;
        return block_[pos_++];
    }

    // Next bit, or false at the end of the input.
    bool Bit(unsigned& bit) {
        if (count_ == 0) {
            const int byte = RawByte();
            if (byte < 0)
                return false;
            buffer_ = static_cast<std::uint16_t>(byte << 8);
            count_ = 8;
        }
        bit = (buffer_ >> 15) & 1u;
        buffer_ = static_cast<std::uint16_t>(buffer_ << 1);
        --count_;
        return true;
    }

    bool Bits(int n, unsigned& value) {
        value = 0;
        for (int i = 0; i < n; ++i) {
            unsigned bit = 0;
            if (!Bit(bit))
                return false;
            value = (value << 1) | bit;
        }
        return true;
    }

private:
    bool Fill() {
        if (!source_.good())
            return false;
        source_.read(reinterpret_cast<char*>(block_.data()), BlockSize);
        const std::streamsize got = source_.gcount();
        pos_ = 0;
        end_ = got > 0 ? static_cast<std::size_t>(got) : 0;
        return end_ > 0;
    }

    std::istream& source_;
    std::array<std::uint8_t, BlockSize> block_{};
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    std::uint16_t buffer_ = 0; // the next bits, left-aligned
    int count_ = 0;            // valid bits in buffer_
};

// Decoded bytes go out in blocks.
class BlockWriter {
public:
    explicit BlockWriter(std::ostream& dest) : dest_(dest) {}
    void Put(std::uint8_t byte) {
        block_[used_++] = byte;
        if (used_ == block_.size())
            Flush();
    }
    bool Flush() {
        if (used_ > 0 && dest_.good())
            dest_.write(reinterpret_cast<const char*>(block_.data()),
                        static_cast<std::streamsize>(used_));
        used_ = 0;
        return dest_.good();
    }
    bool Failed() const { return !dest_.good(); }

private:
    std::ostream& dest_;
    std::array<std::uint8_t, BlockSize> block_{};
    std::size_t used_ = 0;
};

class Decoder {
public:
    Decoder(std::istream& source, std::ostream& dest) : in_(source), out_(dest) {
        ring_.fill(0);
        for (int i = 0; i < RingStart; ++i)
            ring_[i] = ' ';
    }

    bool Run() {
        std::uint32_t length = 0;
        for (int i = 0; i < 4; ++i) {
            const int byte = in_.RawByte();
            if (byte < 0)
                return false;
            length |= static_cast<std::uint32_t>(byte) << (8 * i);
        }
        std::uint32_t produced = 0;
        while (produced < length && !out_.Failed()) {
            int c = 0;
            if (!DecodeChar(c))
                break;
            if (c < 256) {
                Emit(static_cast<std::uint8_t>(c));
                ++produced;
                continue;
            }
            unsigned position = 0;
            if (!DecodePosition(position))
                break;
            int from = (r_ - static_cast<int>(position) - 1) & (RingSize - 1);
            // Byte by byte, so a match may repeat what it has just written; a match running
            // past the declared length is cut there.
            for (int k = MatchLength(c); k > 0 && produced < length; --k) {
                Emit(ring_[from]);
                from = (from + 1) & (RingSize - 1);
                ++produced;
            }
        }
        return out_.Flush() && produced == length;
    }

private:
    bool DecodeChar(int& c) {
        int node = tree_.Son(Root);
        // The tree is never deeper than its node count; the bound only guards the loop.
        for (int depth = 0; node < TableSize; ++depth) {
            unsigned bit = 0;
            if (depth >= TableSize || !in_.Bit(bit))
                return false;
            node = tree_.Son(node + static_cast<int>(bit));
        }
        c = node - TableSize;
        tree_.Update(c);
        return true;
    }

    bool DecodePosition(unsigned& position) {
        unsigned first = 0;
        if (!in_.Bits(8, first))
            return false;
        unsigned rest = 0;
        const int extra = PositionDecode.Length[first] - 2;
        if (!in_.Bits(extra, rest))
            return false;
        const unsigned low = ((first << extra) | rest) & 0x3Fu;
        position = (static_cast<unsigned>(PositionDecode.Upper[first]) << 6) | low;
        return true;
    }

    void Emit(std::uint8_t byte) {
        out_.Put(byte);
        ring_[r_] = byte;
        r_ = (r_ + 1) & (RingSize - 1);
    }

    BitReader in_;
    BlockWriter out_;
    HuffmanTree tree_;
    std::array<std::uint8_t, RingSize> ring_{};
    int r_ = RingStart;
};

} // namespace

bool TLZHPacker::Unpack(std::istream& source, std::ostream& dest) {
    // The decoder's buffers are some 25 KiB: kept off the stack of the caller.
    try {
        auto decoder = std::make_unique<Decoder>(source, dest);
        return decoder->Run();
    } catch (const std::exception&) {
        return false; // a stream that throws, or decoded content beyond memory: damaged
    }
}

} // namespace purgelet
