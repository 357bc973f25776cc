// The program's standard pseudo-random generator: one 32-bit linear congruential seed, held
// by whoever draws from it (a run's generators, a method being read) and passed in. Its
// byte sequence is fixed by the seed sequence alone, so the bulk fill below may compute
// several steps at once as long as it yields the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace purgelet {

// Each step is seed := seed * 0x08088405 + 1 (mod 2^32).

// Seeds from the clock (high-resolution counter, else the tick count).
void Randomize(std::uint32_t& seed);

// One step, then the upper 32 bits of seed * n: a number from 0 to n - 1 for n >= 1.
std::uint32_t Random(std::uint32_t& seed, std::uint32_t n);

// byte k := low + Random(seed, range) for k = 0 .. count - 1, exactly as that loop would,
// with the seed left where the loop leaves it. range is 1 .. 256.
void RandomBytes(std::uint32_t& seed, std::uint8_t* buffer, std::size_t count, std::uint32_t range,
                 std::uint8_t low);

} // namespace purgelet
