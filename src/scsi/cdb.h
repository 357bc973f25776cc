// The SCSI command descriptor block with its data phase, the byte-order helpers of the
// big-endian fields every command set uses, and the builders of the primary commands that
// are not tied to one kind of device. Command sets (MMC in optical/, ATA pass-through later)
// build their own blocks on the same type.
#pragma once

#include <cstdint>

namespace purgelet {

enum class TDataDirection { None, In, Out };

// One command descriptor block with its data phase.
struct TCdb {
    std::uint8_t Bytes[16] = {};
    std::uint8_t Length = 0; // 6, 10, 12 or 16
    TDataDirection Direction = TDataDirection::None;
    std::uint32_t DataLength = 0;
};

std::uint16_t BigEndian16(std::uint16_t value);
std::uint32_t BigEndian32(std::uint32_t value);
// The big-endian field at p, and the writing of one.
std::uint16_t ReadBE16(const std::uint8_t* p);
std::uint32_t ReadBE32(const std::uint8_t* p);
void WriteBE16(std::uint8_t* p, std::uint16_t value);
void WriteBE32(std::uint8_t* p, std::uint32_t value);

namespace scsi {

// A block of length bytes with its operation code and data phase, the rest zero.
TCdb Make(std::uint8_t length, std::uint8_t opcode, TDataDirection direction = TDataDirection::None,
          std::uint32_t dataLength = 0);
// A 10-byte block reading allocation bytes, the allocation length in bytes 7-8.
TCdb In10(std::uint8_t opcode, std::uint16_t allocation);

TCdb TestUnitReady();
TCdb Inquiry(std::uint8_t allocation);
// MODE SENSE(10) of page (byte 2) with byte 1 as given (DBD, LUN bits).
TCdb ModeSense10(std::uint8_t byte1, std::uint8_t page, std::uint16_t allocation);
// MODE SELECT(10) of length bytes with byte 1 as given (PF, LUN bits).
TCdb ModeSelect10(std::uint8_t byte1, std::uint16_t length);

} // namespace scsi

} // namespace purgelet
