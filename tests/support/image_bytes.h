// What the firmware tests look for on an image: a known pattern written before, one value
// everywhere, or noise (an erase that leaves random bytes).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <vector>

namespace purgelet::testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes Pattern(std::size_t size) {
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i)
        b[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return b;
}

inline bool AllAre(const Bytes& bytes, std::uint8_t value) {
    return std::all_of(bytes.begin(), bytes.end(), [&](std::uint8_t b) { return b == value; });
}

// More than 200 distinct byte values: no pattern a drive would write.
inline bool LooksLikeNoise(const Bytes& bytes) {
    return std::set<std::uint8_t>(bytes.begin(), bytes.end()).size() > 200;
}

} // namespace purgelet::testing
