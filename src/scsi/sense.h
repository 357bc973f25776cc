// Sense data as a device returns it after CHECK CONDITION: the fixed format (70h current,
// 71h deferred) and the descriptor format (72h, 73h), decoded to the sense key, the
// additional sense code and qualifier, and the progress indication of an operation still
// running. The decoder reads only the bytes it is given and, within them, only what the
// additional sense length covers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace purgelet {

enum class TSenseFormat { None, Fixed, Descriptor };

// The sense keys the program looks at.
inline constexpr std::uint8_t skNoSense = 0x0;
inline constexpr std::uint8_t skNotReady = 0x2;

struct TSense {
    TSenseFormat Format = TSenseFormat::None; // None: no sense data this decoder knows
    bool Deferred = false;                    // 71h, 73h: the outcome of an earlier command
    std::uint8_t Key = 0;
    bool HasCode = false; // the buffer reached the additional sense code and qualifier
    std::uint8_t Asc = 0;
    std::uint8_t Ascq = 0;
    // Progress of the operation, in 65536ths: from the sense-key-specific bytes (SKSV set,
    // key NO SENSE or NOT READY), else from a progress indication descriptor (0Ah), which
    // is about another operation, named by its own key and codes.
    std::optional<std::uint16_t> Progress;
    bool ProgressOfAnother = false;
    std::uint8_t AnotherKey = 0, AnotherAsc = 0, AnotherAscq = 0;

    bool Valid() const { return Format != TSenseFormat::None; }
    // Progress as a fraction 0 to below 1; negative when none was given.
    double ProgressFraction() const { return Progress ? *Progress / 65536.0 : -1.0; }
};

// Decodes the first length bytes at sense (null or 0 bytes: no sense).
TSense DecodeSense(const std::uint8_t* sense, std::size_t length);

} // namespace purgelet
