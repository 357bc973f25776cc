// Sense data as a device returns it after CHECK CONDITION: the fixed format (70h current,
// 71h deferred) and the descriptor format (72h, 73h), decoded to the sense key, the
// additional sense code and qualifier, and the progress indication of an operation still
// running, and the registers an ATA command left where a SCSI/ATA translation returns them.
// The decoder reads only the bytes it is given and, within them, only what the additional
// sense length covers. Below scsi/ because the back-ends' own ATA pass-through reads the
// registers from the sense of the command block that carried it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace platform {

enum class TSenseFormat { None, Fixed, Descriptor };

// The sense keys the program looks at.
inline constexpr std::uint8_t skNoSense = 0x0;
inline constexpr std::uint8_t skNotReady = 0x2;

// The registers an ATA command left, laid out as the task files of ATA_PASS_THROUGH_EX: error,
// count, LBA (7:0), (15:8), (23:16), device, status; Previous holds the high bytes of a 48-bit
// command (count 15:8, LBA 31:24, 39:32, 47:40).
struct TAtaRegisters {
    std::uint8_t Current[8] = {};
    std::uint8_t Previous[8] = {};
};

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
    // The ATA registers: from the ATA Status Return descriptor (09h), or from the fixed
    // format's information fields under ATA PASS-THROUGH INFORMATION AVAILABLE (00h/1Dh).
    std::optional<TAtaRegisters> Ata;

    bool Valid() const { return Format != TSenseFormat::None; }
    // Progress as a fraction 0 to below 1; negative when none was given.
    double ProgressFraction() const { return Progress ? *Progress / 65536.0 : -1.0; }
};

// Decodes the first length bytes at sense (null or 0 bytes: no sense).
TSense DecodeSense(const std::uint8_t* sense, std::size_t length);

} // namespace platform
