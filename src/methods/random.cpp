#include "methods/random.h"

#include "methods/generators.h"

#include "platform/system.h"

namespace purgelet {

namespace {

constexpr std::uint32_t kMultiplier = 0x08088405u;
constexpr std::uint32_t kIncrement = 1;

// The bulk fill runs this many independent lanes; lane j holds seed[n + j + 1].
constexpr std::size_t kLanes = 32;

// seed[n + k] = A_k * seed[n] + C_k for k = 0 .. kLanes.
struct Jump {
    std::uint32_t a[kLanes + 1];
    std::uint32_t c[kLanes + 1];
};

constexpr Jump MakeJump() {
    Jump jump{};
    jump.a[0] = 1;
    jump.c[0] = 0;
    for (std::size_t k = 1; k <= kLanes; ++k) {
        jump.a[k] = jump.a[k - 1] * kMultiplier;
        jump.c[k] = jump.c[k - 1] * kMultiplier + kIncrement;
    }
    return jump;
}

constexpr Jump kJump = MakeJump();

inline std::uint8_t Scaled(std::uint32_t seed, std::uint32_t range) {
    return static_cast<std::uint8_t>((static_cast<std::uint64_t>(seed) * range) >> 32);
}

template <bool FullRange>
std::size_t FillLanes(std::uint32_t& seed, std::uint8_t* buffer, std::size_t count,
                      std::uint32_t range, std::uint8_t low) {
    std::size_t blocks = count / kLanes;
    if (blocks == 0)
        return 0;
    std::uint32_t lane[kLanes];
    for (std::size_t j = 0; j < kLanes; ++j)
        lane[j] = kJump.a[j + 1] * seed + kJump.c[j + 1];
    const std::uint32_t a = kJump.a[kLanes];
    const std::uint32_t c = kJump.c[kLanes];
    std::uint8_t* out = buffer;
    for (std::size_t block = 0; block < blocks; ++block) {
        for (std::size_t j = 0; j < kLanes; ++j) {
            if constexpr (FullRange)
                out[j] = static_cast<std::uint8_t>(low + (lane[j] >> 24));
            else
                out[j] = static_cast<std::uint8_t>(low + Scaled(lane[j], range));
        }
        out += kLanes;
        if (block + 1 == blocks)
            break;
        for (std::size_t j = 0; j < kLanes; ++j)
            lane[j] = lane[j] * a + c;
    }
    seed = lane[kLanes - 1]; // the last seed used
    return blocks * kLanes;
}

} // namespace

void Randomize(std::uint32_t& seed) {
    auto& k32 = platform::k32();
    LARGE_INTEGER counter{};
    if (k32.QueryPerformanceCounter(&counter) && counter.QuadPart != 0) {
        auto value = static_cast<std::uint64_t>(counter.QuadPart);
        seed = static_cast<std::uint32_t>(value ^ (value >> 32));
    } else {
        seed = k32.GetTickCount();
    }
}

void Randomize(TGenerators& generators) {
    Randomize(generators.RandSeed);
}

TGenerators Draw(TGenerators& from) {
    TGenerators drawn = from;
    // A seed a step or two from the run's would give the drives the same bytes shifted by a
    // step: the seed is made of the high halves of two draws instead.
    const std::uint32_t high = Random(from.RandSeed, 0x10000);
    const std::uint32_t low = Random(from.RandSeed, 0x10000);
    drawn.RandSeed = (high << 16) | low;
    return drawn;
}

std::uint32_t Random(std::uint32_t& seed, std::uint32_t n) {
    seed = seed * kMultiplier + kIncrement;
    return static_cast<std::uint32_t>((static_cast<std::uint64_t>(seed) * n) >> 32);
}

void RandomBytes(std::uint32_t& seed, std::uint8_t* buffer, std::size_t count, std::uint32_t range,
                 std::uint8_t low) {
    std::size_t done = range == 256 ? FillLanes<true>(seed, buffer, count, range, low)
                                    : FillLanes<false>(seed, buffer, count, range, low);
    for (std::size_t k = done; k < count; ++k)
        buffer[k] = static_cast<std::uint8_t>(low + Random(seed, range));
}

} // namespace purgelet
