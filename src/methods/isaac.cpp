#include "methods/isaac.h"

#include "methods/random.h"

#include <bit>
#include <cstring>

namespace purgelet {

namespace {

inline void Mix(std::uint32_t (&w)[8]) {
    w[0] ^= w[1] << 11;
    w[3] += w[0];
    w[1] += w[2];
    w[1] ^= w[2] >> 2;
    w[4] += w[1];
    w[2] += w[3];
    w[2] ^= w[3] << 8;
    w[5] += w[2];
    w[3] += w[4];
    w[3] ^= w[4] >> 16;
    w[6] += w[3];
    w[4] += w[5];
    w[4] ^= w[5] << 10;
    w[7] += w[4];
    w[5] += w[6];
    w[5] ^= w[6] >> 4;
    w[0] += w[5];
    w[6] += w[7];
    w[6] ^= w[7] << 8;
    w[1] += w[6];
    w[7] += w[0];
    w[7] ^= w[0] >> 9;
    w[2] += w[7];
    w[0] += w[1];
}

// One result: result i of the batch goes to out(i, value).
template <class Out>
inline void Step(IsaacState& s, std::uint32_t mixed, std::size_t i, std::uint32_t& a,
                 std::uint32_t& b, Out& out) {
    std::uint32_t x = s.memory[i];
    a = mixed + s.memory[(i + kIsaacWords / 2) % kIsaacWords];
    std::uint32_t y = s.memory[(x >> 2) % kIsaacWords] + a + b;
    s.memory[i] = y;
    b = s.memory[(y >> 10) % kIsaacWords] + x;
    out(i, b);
}

// The reference batch step with its results handed to out; s.results is left as it was.
template <class Out> void GenerateInto(IsaacState& s, Out out) {
    s.c += 1;
    std::uint32_t a = s.a;
    std::uint32_t b = s.b + s.c;
    for (std::size_t i = 0; i < kIsaacWords; i += 4) {
        Step(s, a ^ (a << 13), i, a, b, out);
        Step(s, a ^ (a >> 6), i + 1, a, b, out);
        Step(s, a ^ (a << 2), i + 2, a, b, out);
        Step(s, a ^ (a >> 16), i + 3, a, b, out);
    }
    s.a = a;
    s.b = b;
}

} // namespace

void IsaacGenerate(IsaacState& s) {
    GenerateInto(s, [&s](std::size_t i, std::uint32_t value) { s.results[i] = value; });
    s.position = 0;
}

void IsaacInit(IsaacState& s, const std::uint32_t* seed) {
    std::memcpy(s.results, seed, sizeof s.results);
    s.a = s.b = s.c = 0;
    std::uint32_t w[8];
    for (auto& word : w)
        word = 0x9E3779B9u;
    for (int i = 0; i < 4; ++i)
        Mix(w);
    // The first pass adds the seed words, the second the memory words of the first.
    auto pass = [&](const std::uint32_t* source) {
        for (std::size_t i = 0; i < kIsaacWords; i += 8) {
            for (std::size_t j = 0; j < 8; ++j)
                w[j] += source[i + j];
            Mix(w);
            for (std::size_t j = 0; j < 8; ++j)
                s.memory[i + j] = w[j];
        }
    };
    pass(s.results);
    pass(s.memory);
    IsaacGenerate(s);
}

std::uint32_t IsaacNext(IsaacState& s) {
    std::uint8_t used = s.position;
    std::uint32_t r = s.results[used];
    s.position = static_cast<std::uint8_t>(used + 1);
    if (used == kIsaacWords - 1)
        IsaacGenerate(s);
    return r;
}

std::uint32_t IsaacRandom(IsaacState& s, std::uint32_t n) {
    return static_cast<std::uint32_t>((static_cast<std::uint64_t>(IsaacNext(s)) * n) >> 32);
}

void IsaacSeed(IsaacState& s, std::uint32_t& randSeed) {
    std::memset(s.seed, 0, sizeof s.seed);
    for (std::size_t i = 0; i < kIsaacWords; ++i)
        s.seed[i] = Random(randSeed, 0xFFFFFFFFu);
    IsaacInit(s, s.seed);
}

void IsaacFillWords(IsaacState& s, std::uint8_t* buffer, std::size_t words) {
    while (words > 0) {
        std::size_t available = kIsaacWords - s.position;
        std::size_t take = words < available ? words : available;
        const std::uint32_t* from = s.results + s.position;
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(buffer, from, take * 4);
        } else {
            for (std::size_t k = 0; k < take; ++k) {
                std::uint32_t r = from[k];
                buffer[4 * k] = static_cast<std::uint8_t>(r);
                buffer[4 * k + 1] = static_cast<std::uint8_t>(r >> 8);
                buffer[4 * k + 2] = static_cast<std::uint8_t>(r >> 16);
                buffer[4 * k + 3] = static_cast<std::uint8_t>(r >> 24);
            }
        }
        buffer += take * 4;
        words -= take;
        if (take == available) {
            // Batches used up whole go straight into the buffer rather than through
            // results: the same words, one copy fewer. The last batch drawn stays in
            // results, as IsaacNext expects.
            if constexpr (std::endian::native == std::endian::little) {
                while (words >= kIsaacWords) {
                    GenerateInto(s, [buffer](std::size_t i, std::uint32_t value) {
                        std::memcpy(buffer + 4 * i, &value, 4);
                    });
                    buffer += kIsaacWords * 4;
                    words -= kIsaacWords;
                }
            }
            IsaacGenerate(s);
        } else
            s.position = static_cast<std::uint8_t>(s.position + take);
    }
}

void IsaacRandomBytes(IsaacState& s, std::uint8_t* buffer, std::size_t count, std::uint32_t range,
                      std::uint8_t low) {
    while (count > 0) {
        std::size_t available = kIsaacWords - s.position;
        std::size_t take = count < available ? count : available;
        const std::uint32_t* from = s.results + s.position;
        for (std::size_t k = 0; k < take; ++k)
            buffer[k] = static_cast<std::uint8_t>(
                low + ((static_cast<std::uint64_t>(from[k]) * range) >> 32));
        buffer += take;
        count -= take;
        if (take == available)
            IsaacGenerate(s);
        else
            s.position = static_cast<std::uint8_t>(s.position + take);
    }
}

} // namespace purgelet
