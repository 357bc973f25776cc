// The LZHUF model shared by the language file's decoder and the companion tool's encoder:
// LZSS over a 4096-byte ring buffer with matches of 3..60 bytes, whose characters (256
// literal bytes and 58 match lengths) are coded by an adaptive Huffman tree, and whose match
// positions are coded by a fixed table for the upper 6 bits plus 6 verbatim bits.
//
// Both sides must evolve the tree identically after every character, so the tree and its
// update live here once.
#pragma once

#include <array>
#include <cstdint>

namespace purgelet::lzh {

inline constexpr int RingSize = 4096;                         // N
inline constexpr int LookAhead = 60;                          // F
inline constexpr int Threshold = 2;                           // longest length not worth a match
inline constexpr int CharCount = 256 - Threshold + LookAhead; // 314 character codes
inline constexpr int TableSize = CharCount * 2 - 1;           // T: nodes of the tree
inline constexpr int Root = TableSize - 1;                    // R
inline constexpr unsigned MaxFreq = 0x8000;                   // root frequency that halves the tree
inline constexpr int RingStart = RingSize - LookAhead;        // first write position; spaces before
inline constexpr int MinMatch = Threshold + 1;
inline constexpr int MaxMatch = LookAhead;
inline constexpr int BlockSize = 10240; // the reading and writing unit of both sides

static_assert(CharCount == 314 && TableSize == 627 && Root == 626 && RingStart == 4036);

// The character code of a match of `length` bytes, and back.
constexpr int MatchCode(int length) {
    return length - MinMatch + 256;
}
constexpr int MatchLength(int code) {
    return code - 256 + MinMatch;
}

// Upper 6 bits of a position: `PositionCode[u]` holds its code left-aligned in a byte, of
// `PositionCodeLength[u]` bits (3..8).
inline constexpr std::array<std::uint8_t, 64> PositionCodeLength = {
    3, 4, 4, 4, 5, 5, 5, 5, 5, 5, 5, 5, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 7, 7, 7, 7, 7, 7, 7, 7,
    7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8};
inline constexpr std::array<std::uint8_t, 64> PositionCode = {
    0x00, 0x20, 0x30, 0x40, 0x50, 0x58, 0x60, 0x68, 0x70, 0x78, 0x80, 0x88, 0x90, 0x94, 0x98, 0x9C,
    0xA0, 0xA4, 0xA8, 0xAC, 0xB0, 0xB4, 0xB8, 0xBC, 0xC0, 0xC2, 0xC4, 0xC6, 0xC8, 0xCA, 0xCC, 0xCE,
    0xD0, 0xD2, 0xD4, 0xD6, 0xD8, 0xDA, 0xDC, 0xDE, 0xE0, 0xE2, 0xE4, 0xE6, 0xE8, 0xEA, 0xEC, 0xEE,
    0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF};

// The decoding side of the same table, indexed by the first 8 bits read: the upper 6 bits
// of the position (d_code) and the code length (d_len). Derived, so the two cannot disagree.
struct PositionDecodeTable {
    std::array<std::uint8_t, 256> Upper{};
    std::array<std::uint8_t, 256> Length{};
};
constexpr PositionDecodeTable MakePositionDecodeTable() {
    PositionDecodeTable table;
    for (int upper = 0; upper < 64; ++upper) {
        const int span = 1 << (8 - PositionCodeLength[upper]);
        for (int i = 0; i < span; ++i) {
            table.Upper[PositionCode[upper] + i] = static_cast<std::uint8_t>(upper);
            table.Length[PositionCode[upper] + i] = PositionCodeLength[upper];
        }
    }
    return table;
}
inline constexpr PositionDecodeTable PositionDecode = MakePositionDecodeTable();
static_assert(PositionDecode.Upper[0x1F] == 0 && PositionDecode.Length[0x1F] == 3);
static_assert(PositionDecode.Upper[0x20] == 1 && PositionDecode.Length[0x20] == 4);
static_assert(PositionDecode.Upper[0x90] == 12 && PositionDecode.Length[0x93] == 6);
static_assert(PositionDecode.Upper[0xFF] == 63 && PositionDecode.Length[0xFF] == 8);

// The adaptive Huffman tree. Nodes 0..T-1 are kept in ascending order of frequency; a node
// whose `Son` is >= T is the leaf of character Son - T, else its children are Son and
// Son + 1 (the first child at an even index). `Parent[T + c]` is the leaf node of c.
class HuffmanTree {
public:
    HuffmanTree() { Start(); }

    // Every leaf frequency 1, internal nodes built pairwise, the sentinel after the root.
    void Start();
    // Counts one more occurrence of character c (0..313), keeping the order; halves and
    // rebuilds the tree first when the root has reached MaxFreq.
    void Update(int c);

    int Son(int node) const { return son_[node]; }
    int Parent(int node) const { return parent_[node]; }
    int LeafOf(int c) const { return parent_[c + TableSize]; }
    unsigned Freq(int node) const { return freq_[node]; }

private:
    void Rebuild();

    std::array<std::uint16_t, TableSize + 1> freq_{}; // + the sentinel
    std::array<int, TableSize + CharCount> parent_{};
    std::array<int, TableSize> son_{};
};

} // namespace purgelet::lzh
