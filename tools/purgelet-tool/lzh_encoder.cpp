#include "purgelet-tool/lzh_encoder.h"

#include "lang/lzhuf.h"

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <vector>

namespace purgelet::tool {

namespace {

using namespace lzh;

class BitWriter {
public:
    // The low `count` bits of value, most significant first.
    void Put(int count, std::uint32_t value) {
        for (int i = count - 1; i >= 0; --i) {
            byte_ = static_cast<std::uint8_t>((byte_ << 1) | ((value >> i) & 1u));
            if (++used_ == 8) {
                out_.push_back(static_cast<char>(byte_));
                byte_ = 0;
                used_ = 0;
            }
        }
    }
    // Pads the last byte with zero bits.
    std::string Finish() {
        if (used_ > 0)
            out_.push_back(static_cast<char>(byte_ << (8 - used_)));
        used_ = 0;
        byte_ = 0;
        return std::move(out_);
    }

private:
    std::string out_;
    std::uint8_t byte_ = 0;
    int used_ = 0;
};

// Longest earlier occurrences in the stream the decoder sees: the ring's 4036 leading spaces
// followed by the content. Three-byte hash chains; the whole window is searched unless a
// match of the greatest length turns up first.
class MatchFinder {
public:
    explicit MatchFinder(const std::string& stream)
        : stream_(stream), head_(HashSize, -1), previous_(stream.size(), -1) {}

    void Insert(std::size_t position) {
        if (position + MinMatch > stream_.size())
            return;
        const std::size_t hash = Hash(position);
        previous_[position] = head_[hash];
        head_[hash] = static_cast<std::int64_t>(position);
    }

    // Longest match for `position` (inserted positions only precede it); length 0 when none
    // reaches MinMatch.
    void Find(std::size_t position, int& length, int& distance) const {
        length = 0;
        distance = 0;
        const std::size_t limit = std::min<std::size_t>(MaxMatch, stream_.size() - position);
        if (limit < static_cast<std::size_t>(MinMatch))
            return;
        // Distance 4095 at most, and never before the stream's start: the ring bytes behind
        // the spaces are undefined to a decoder.
        const std::size_t lowest = position >= RingSize - 1 ? position - (RingSize - 1) : 0;
        for (std::int64_t candidate = head_[Hash(position)];
             candidate >= 0 && static_cast<std::size_t>(candidate) >= lowest;
             candidate = previous_[static_cast<std::size_t>(candidate)]) {
            const auto from = static_cast<std::size_t>(candidate);
            std::size_t n = 0;
            while (n < limit && stream_[from + n] == stream_[position + n])
                ++n;
            if (n > static_cast<std::size_t>(length)) {
                length = static_cast<int>(n);
                distance = static_cast<int>(position - from);
                if (n == limit)
                    break;
            }
        }
        if (length < MinMatch)
            length = 0;
    }

private:
    static constexpr std::size_t HashSize = 1u << 15;
    std::size_t Hash(std::size_t position) const {
        const auto b = [&](std::size_t i) {
            return static_cast<std::size_t>(static_cast<unsigned char>(stream_[position + i]));
        };
        return ((b(0) << 10) ^ (b(1) << 5) ^ b(2)) & (HashSize - 1);
    }

    const std::string& stream_;
    std::vector<std::int64_t> head_;
    std::vector<std::int64_t> previous_;
};

class Encoder {
public:
    void Char(int c) {
        // The path from the leaf up gives the bits in reverse; codes may be longer than 16.
        bits_.clear();
        for (int node = tree_.LeafOf(c); node != Root; node = tree_.Parent(node))
            bits_.push_back(static_cast<std::uint8_t>(node & 1));
        for (auto bit = bits_.rbegin(); bit != bits_.rend(); ++bit)
            out_.Put(1, *bit);
        tree_.Update(c);
    }
    void Position(int position) {
        const int upper = position >> 6;
        out_.Put(PositionCodeLength[upper], PositionCode[upper] >> (8 - PositionCodeLength[upper]));
        out_.Put(6, static_cast<std::uint32_t>(position) & 0x3Fu);
    }
    BitWriter& Out() { return out_; }

private:
    HuffmanTree tree_;
    BitWriter out_;
    std::vector<std::uint8_t> bits_;
};

} // namespace

std::string LzhPack(std::string_view content) {
    if (content.size() > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("content too long for a language file");
    const auto length = static_cast<std::uint32_t>(content.size());

    std::string stream(RingStart, ' ');
    stream.append(content);
    MatchFinder finder(stream);
    for (std::size_t i = 0; i < RingStart; ++i)
        finder.Insert(i);

    Encoder encoder;
    std::size_t position = RingStart;
    while (position < stream.size()) {
        int matched = 0;
        int distance = 0;
        finder.Find(position, matched, distance);
        if (matched == 0) {
            encoder.Char(static_cast<unsigned char>(stream[position]));
            finder.Insert(position++);
            continue;
        }
        encoder.Char(MatchCode(matched));
        encoder.Position(distance - 1);
        for (int i = 0; i < matched; ++i)
            finder.Insert(position++);
    }
    std::string file;
    for (int i = 0; i < 4; ++i)
        file.push_back(static_cast<char>((length >> (8 * i)) & 0xFFu));
    return file + encoder.Out().Finish();
}

} // namespace purgelet::tool
