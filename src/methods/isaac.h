// ISAAC, the published 32-bit cryptographic pseudo-random generator (1996), with its
// reference initialisation. Its state is a plain value held by its owner (a run's
// generators) and passed in; a wipe reseeds it from the standard generator at the start of
// every disk.
#pragma once

#include <cstddef>
#include <cstdint>

namespace purgelet {

constexpr std::size_t kIsaacWords = 256;

// The generator's whole state. A caller that draws results ahead of need copies it first, so
// that it can put the generator back when those results are not used after all.
struct IsaacState {
    std::uint32_t results[kIsaacWords] = {};
    std::uint32_t memory[kIsaacWords] = {};
    std::uint32_t a = 0;
    std::uint32_t b = 0;
    std::uint32_t c = 0;
    std::uint8_t position = 0;
    std::uint32_t seed[kIsaacWords + 1] = {};
};

// The reference initialisation with the given 256 seed words, ending with one batch.
void IsaacInit(IsaacState& s, const std::uint32_t* seed);
// The reference batch step: 256 new results, handed out from index 0.
void IsaacGenerate(IsaacState& s);
// The next result, in index order; a new batch follows the use of result 255.
std::uint32_t IsaacNext(IsaacState& s);
// 0 .. n - 1: the upper 32 bits of IsaacNext(s) * n.
std::uint32_t IsaacRandom(IsaacState& s, std::uint32_t n);
// Seeds from 256 draws of Random(randSeed, 0xFFFFFFFF) of the standard generator.
void IsaacSeed(IsaacState& s, std::uint32_t& randSeed);

// words consecutive IsaacNext(s) results stored at buffer, four bytes each, least
// significant first (the same results and the same state as calling IsaacNext).
void IsaacFillWords(IsaacState& s, std::uint8_t* buffer, std::size_t words);

// byte k := low + IsaacRandom(s, range) for k = 0 .. count - 1: one result per byte, in
// order, exactly as that loop would.
void IsaacRandomBytes(IsaacState& s, std::uint8_t* buffer, std::size_t count, std::uint32_t range,
                      std::uint8_t low);

} // namespace purgelet
