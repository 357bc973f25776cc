#include "optical/mmc.h"

namespace purgelet {

const char* const DeviceTypeNames[13] = {
    "Disk",    "Tape",    "Printer",       "Processor", "Worm", "CDROM", "Scanner",
    "Optical", "Changer", "Communication", "Invalid",   "Any",  "Other"};

std::uint8_t PeripheralTypeIndex(std::uint8_t b) {
    if (b < 10)
        return b;
    return b == 0x1F ? 10 : 12;
}

std::string CopyInquiryText(const std::uint8_t* source, std::size_t width) {
    std::string text;
    for (std::size_t i = 0; i < width && source[i] >= 0x20; ++i)
        text += static_cast<char>(source[i]);
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

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

std::uint8_t StatusToResult(std::uint8_t request, std::uint8_t adapter, std::uint8_t target) {
    switch (request) {
    case 0x00:
    case 0x01:
        return 0;
    case 0x02:
    case 0x03:
        return 1;
    case 0x80:
        return 2;
    case 0x81:
        return 4;
    case 0x82:
        return 5;
    case 0xE0:
        return 6;
    case 0xE1:
        return 7;
    case 0xE5:
        return 8;
    case 0xE6:
        return 9;
    case 0x04:
        switch (adapter) {
        case 0x00:
            switch (target) {
            case 0x00:
            case 0x02:
                return 21;
            case 0x08:
                return 22;
            case 0x18:
                return 23;
            case 0x28:
                return 24;
            default:
                return 10;
            }
        case 0x09:
            return 11;
        case 0x0B:
            return 12;
        case 0x0D:
            return 13;
        case 0x0E:
        case 0x0F:
        case 0x10:
        case 0x11:
        case 0x12:
        case 0x13:
        case 0x14:
            return static_cast<std::uint8_t>(adapter); // 0Eh..14h give 14..20
        default:
            return 10;
        }
    default:
        return 10;
    }
}

TInquiryData DecodeInquiry(const std::uint8_t* a) {
    TInquiryData d;
    d.DeviceType = PeripheralTypeIndex(a[0]);
    d.Removable = a[1];
    d.Version = a[2];
    d.ResponseFormat = a[3];
    d.Flags = a[7];
    d.Vendor = CopyInquiryText(a + 8, 8);
    d.Product = CopyInquiryText(a + 16, 16);
    return d;
}

void TBurningIO::ReportProgress(std::uint8_t, double, double) {}
void TBurningIO::ReportStage(std::uint8_t) {}

namespace mmc {

namespace {
TCdb Make(std::uint8_t length, std::uint8_t opcode, TDataDirection direction = TDataDirection::None,
          std::uint32_t dataLength = 0) {
    TCdb cdb;
    cdb.Length = length;
    cdb.Bytes[0] = opcode;
    cdb.Direction = direction;
    cdb.DataLength = dataLength;
    return cdb;
}
TCdb In10(std::uint8_t opcode, std::uint16_t length) {
    TCdb cdb = Make(10, opcode, TDataDirection::In, length);
    WriteBE16(cdb.Bytes + 7, length);
    return cdb;
}
} // namespace

TCdb TestUnitReady() {
    return Make(6, 0x00);
}
TCdb Inquiry() {
    TCdb cdb = Make(6, 0x12, TDataDirection::In, kInquiryLength);
    cdb.Bytes[4] = static_cast<std::uint8_t>(kInquiryLength);
    return cdb;
}
TCdb ModeSenseCapabilities(std::uint8_t byte1) {
    TCdb cdb = In10(0x5A, kCapabilitiesLength);
    cdb.Bytes[1] = byte1;
    cdb.Bytes[2] = 0x2A;
    return cdb;
}
TCdb ReadDiscInformation() {
    return In10(0x51, kDiscInformationLength);
}
TCdb Blank(bool full) {
    TCdb cdb = Make(12, 0xA1);
    cdb.Bytes[1] = static_cast<std::uint8_t>(0x10 | (full ? 0 : 1));
    return cdb;
}
TCdb StartStopUnitEject() {
    TCdb cdb = Make(12, 0x1B);
    cdb.Bytes[1] = 0x01;
    cdb.Bytes[4] = 0x02;
    return cdb;
}
TCdb ModeSenseWriteParameters(std::uint8_t lunBits) {
    TCdb cdb = In10(0x5A, 64);
    cdb.Bytes[1] = static_cast<std::uint8_t>(0x08 | lunBits);
    cdb.Bytes[2] = 0x05;
    return cdb;
}
TCdb ModeSelect(std::uint8_t lunBits, std::uint16_t length) {
    TCdb cdb = Make(10, 0x55, TDataDirection::Out, length);
    cdb.Bytes[1] = static_cast<std::uint8_t>(0x10 | lunBits);
    WriteBE16(cdb.Bytes + 7, length);
    return cdb;
}
TCdb ReadTrackInformation(std::uint32_t track) {
    TCdb cdb = In10(0x52, 28);
    cdb.Bytes[1] = 0x01;
    WriteBE32(cdb.Bytes + 2, track);
    return cdb;
}
TCdb ReadBufferCapacity() {
    return In10(0x5C, 12);
}
TCdb Write10(std::uint32_t lba, std::uint16_t blocks) {
    TCdb cdb = Make(10, 0x2A, TDataDirection::Out, std::uint32_t{blocks} * 2048);
    WriteBE32(cdb.Bytes + 2, lba);
    WriteBE16(cdb.Bytes + 7, blocks);
    return cdb;
}
TCdb SynchronizeCache() {
    TCdb cdb = Make(10, 0x35);
    cdb.Bytes[1] = 0x02;
    return cdb;
}
TCdb CloseTrack() {
    TCdb cdb = Make(10, 0x5B);
    cdb.Bytes[1] = 0x01;
    cdb.Bytes[2] = 0x01;
    cdb.Bytes[5] = 0xFF;
    return cdb;
}
TCdb CloseSession() {
    TCdb cdb = Make(10, 0x5B);
    cdb.Bytes[1] = 0x01;
    cdb.Bytes[2] = 0x02;
    return cdb;
}

} // namespace mmc

} // namespace purgelet
