// ISAAC, the published 32-bit cryptographic pseudo-random generator (1996), with its
// reference initialisation. One process-wide instance, reseeded from the standard
// generator at the start of every disk's wipe.
#pragma once

#include <cstddef>
#include <cstdint>

namespace purgelet {

constexpr std::size_t kIsaacWords = 256;

// The generator's whole state. A caller that draws results ahead of need saves it first, so
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

void IsaacSaveState(IsaacState& into);
void IsaacRestoreState(const IsaacState& from);

// The reference initialisation with the given 256 seed words, ending with one batch.
void IsaacInit(const std::uint32_t* seed);
// The reference batch step: 256 new results, handed out from index 0.
void IsaacGenerate();
// The next result, in index order; a new batch follows the use of result 255.
std::uint32_t IsaacNext();
// 0 .. n - 1: the upper 32 bits of IsaacNext() * n.
std::uint32_t IsaacRandom(std::uint32_t n);
// Seeds from 256 draws of Random(0xFFFFFFFF) of the standard generator.
void IsaacSeed();

// words consecutive IsaacNext() results stored at buffer, four bytes each, least
// significant first (the same results and the same state as calling IsaacNext).
void IsaacFillWords(std::uint8_t* buffer, std::size_t words);

// byte k := low + IsaacRandom(range) for k = 0 .. count - 1: one result per byte, in order,
// exactly as that loop would.
void IsaacRandomBytes(std::uint8_t* buffer, std::size_t count, std::uint32_t range,
                      std::uint8_t low);

} // namespace purgelet
