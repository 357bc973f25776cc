#include "scsi/cdb.h"

namespace purgelet {

std::uint16_t BigEndian16(std::uint16_t value) {
    return static_cast<std::uint16_t>((value << 8) | (value >> 8));
}

std::uint32_t BigEndian32(std::uint32_t value) {
    return (std::uint32_t{BigEndian16(static_cast<std::uint16_t>(value))} << 16) |
           BigEndian16(static_cast<std::uint16_t>(value >> 16));
}

std::uint16_t ReadBE16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
std::uint32_t ReadBE32(const std::uint8_t* p) {
    return (std::uint32_t{ReadBE16(p)} << 16) | ReadBE16(p + 2);
}
void WriteBE16(std::uint8_t* p, std::uint16_t value) {
    p[0] = static_cast<std::uint8_t>(value >> 8);
    p[1] = static_cast<std::uint8_t>(value);
}
void WriteBE32(std::uint8_t* p, std::uint32_t value) {
    WriteBE16(p, static_cast<std::uint16_t>(value >> 16));
    WriteBE16(p + 2, static_cast<std::uint16_t>(value));
}

namespace scsi {

TCdb Make(std::uint8_t length, std::uint8_t opcode, TDataDirection direction,
          std::uint32_t dataLength) {
    TCdb cdb;
    cdb.Length = length;
    cdb.Bytes[0] = opcode;
    cdb.Direction = direction;
    cdb.DataLength = dataLength;
    return cdb;
}

TCdb In10(std::uint8_t opcode, std::uint16_t allocation) {
    TCdb cdb = Make(10, opcode, TDataDirection::In, allocation);
    WriteBE16(cdb.Bytes + 7, allocation);
    return cdb;
}

TCdb TestUnitReady() {
    return Make(6, 0x00);
}

TCdb Inquiry(std::uint8_t allocation) {
    TCdb cdb = Make(6, 0x12, TDataDirection::In, allocation);
    cdb.Bytes[4] = allocation;
    return cdb;
}

TCdb ModeSense10(std::uint8_t byte1, std::uint8_t page, std::uint16_t allocation) {
    TCdb cdb = In10(0x5A, allocation);
    cdb.Bytes[1] = byte1;
    cdb.Bytes[2] = page;
    return cdb;
}

TCdb ModeSelect10(std::uint8_t byte1, std::uint16_t length) {
    TCdb cdb = Make(10, 0x55, TDataDirection::Out, length);
    cdb.Bytes[1] = byte1;
    WriteBE16(cdb.Bytes + 7, length);
    return cdb;
}

} // namespace scsi

} // namespace purgelet
