#include "sanitize/ata.h"

#include "platform/storage_pass_through.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace purgelet::ata {

namespace {

// Obsolete bits 7 and 5 set, as drives of every age accept for the commands without an LBA.
constexpr std::uint8_t kLegacyDevice = 0xA0;
// The LBA bit, for the commands whose LBA field carries a value.
constexpr std::uint8_t kLbaDevice = 0x40;

TTaskFile Sanitize(std::uint16_t feature, std::uint64_t lba) {
    TTaskFile t;
    t.Feature = feature;
    t.Lba = lba;
    t.Device = kLbaDevice;
    t.Command = kSanitizeDevice;
    t.Ext = true;
    return t;
}

TTaskFile Security(std::uint8_t command, bool withData) {
    TTaskFile t;
    t.Command = command;
    t.Device = kLegacyDevice;
    if (withData) {
        t.Count = 1; // one 512-byte block (the SAT translation sizes the transfer by it)
        t.Protocol = TProtocol::PioOut;
        t.DataLength = kSectorBytes;
    }
    return t;
}

std::vector<std::uint8_t> PasswordBlock(std::uint16_t control, const TPassword& password) {
    std::vector<std::uint8_t> block(kSectorBytes, 0);
    block[0] = static_cast<std::uint8_t>(control);
    block[1] = static_cast<std::uint8_t>(control >> 8);
    std::memcpy(block.data() + 2, password.data(), password.size()); // words 1-16
    return block;
}

std::uint16_t Word(const std::vector<std::uint8_t>& data, std::size_t index) {
    return static_cast<std::uint16_t>(data[2 * index] | (data[2 * index + 1] << 8));
}

bool Bit(std::uint16_t word, int bit) {
    return ((word >> bit) & 1) != 0;
}

} // namespace

TTaskFile IdentifyDevice() {
    TTaskFile t;
    t.Command = kIdentifyDevice;
    t.Device = kLegacyDevice;
    t.Count = 1;
    t.Protocol = TProtocol::PioIn;
    t.DataLength = kSectorBytes;
    return t;
}

TTaskFile SanitizeStatusExt() {
    return Sanitize(kSanitizeStatusExt, 0);
}
TTaskFile CryptoScrambleExt() {
    return Sanitize(kCryptoScrambleExt, kCryptoScrambleKey);
}
TTaskFile BlockEraseExt() {
    return Sanitize(kBlockEraseExt, kBlockEraseKey);
}
TTaskFile SecuritySetPassword() {
    return Security(kSecuritySetPassword, true);
}
TTaskFile SecurityErasePrepare() {
    return Security(kSecurityErasePrepare, false);
}
TTaskFile SecurityEraseUnit() {
    return Security(kSecurityEraseUnit, true);
}
TTaskFile SecurityDisablePassword() {
    return Security(kSecurityDisablePassword, true);
}

TPassword TemporaryPassword() {
    TPassword password{};
    const char text[] = "Purgelet temporary erase pwd";
    std::memcpy(password.data(), text, sizeof(text) - 1);
    return password;
}

std::string PasswordText(const TPassword& password) {
    const auto end = std::find(password.begin(), password.end(), std::uint8_t{0});
    return std::string(password.begin(), end);
}

// Word 0: bit 0 the identifier (0: user password), bit 8 the master password capability
// (0: high), bit 1 of ERASE UNIT's the mode (1: enhanced).
std::vector<std::uint8_t> SetUserPasswordData(const TPassword& password) {
    return PasswordBlock(0x0000, password);
}

std::vector<std::uint8_t> EraseUnitData(const TPassword& password, bool enhanced) {
    return PasswordBlock(enhanced ? 0x0002 : 0x0000, password);
}

std::vector<std::uint8_t> DisablePasswordData(const TPassword& password) {
    return PasswordBlock(0x0000, password);
}

std::uint32_t EraseTimeSeconds(std::uint16_t word) {
    // Bit 15 set: bits 14:0 count 2-minute units; else bits 7:0 do. The top value means "more
    // than" it, which is at least as long.
    const std::uint32_t units = Bit(word, 15) ? (word & 0x7FFFu) : (word & 0x00FFu);
    return units * 120u;
}

std::optional<TIdentify> ParseIdentify(const std::vector<std::uint8_t>& data) {
    if (data.size() < kSectorBytes)
        return std::nullopt;
    TIdentify id;
    std::string model;
    for (std::size_t w = 27; w <= 46; ++w) { // two characters per word, the first in its high byte
        model += static_cast<char>(data[2 * w + 1]);
        model += static_cast<char>(data[2 * w]);
    }
    while (!model.empty() && (model.back() == ' ' || model.back() == '\0'))
        model.pop_back();
    const std::size_t first = model.find_first_not_of(' ');
    id.Model = first == std::string::npos ? std::string() : model.substr(first);
    const std::uint16_t sanitize = Word(data, 59);
    id.SanitizeSupported = Bit(sanitize, 12);
    id.CryptoScramble = id.SanitizeSupported && Bit(sanitize, 13);
    id.BlockErase = id.SanitizeSupported && Bit(sanitize, 15);
    const std::uint16_t security = Word(data, 128);
    id.SecuritySupported = Bit(security, 0);
    if (id.SecuritySupported) {
        id.SecurityEnabled = Bit(security, 1);
        id.SecurityLocked = Bit(security, 2);
        id.SecurityFrozen = Bit(security, 3);
        id.SecurityCountExpired = Bit(security, 4);
        id.EnhancedEraseSupported = Bit(security, 5);
    }
    id.NormalEraseSeconds = EraseTimeSeconds(Word(data, 89));
    id.EnhancedEraseSeconds = EraseTimeSeconds(Word(data, 90));
    return id;
}

TSanitizeStatus ParseSanitizeStatus(const TTaskFile& returned) {
    TSanitizeStatus s;
    const std::uint8_t status = returned.Command;
    s.CompletedWithoutError = Bit(returned.Count, 15);
    s.InProgress = Bit(returned.Count, 14);
    s.Frozen = Bit(returned.Count, 13);
    if (status & kStatusErr) {
        s.Failed = true;
        s.Reason = static_cast<std::uint8_t>(returned.Lba & 0xFF);
    } else if (s.InProgress) {
        s.Progress = static_cast<std::uint16_t>(returned.Lba & 0xFFFF);
    }
    return s;
}

// ---- The pass-through request.

std::vector<std::uint8_t> PackRequest(const TTaskFile& c, const std::vector<std::uint8_t>& dataOut,
                                      std::uint32_t timeoutSeconds) {
    const std::size_t header = sizeof(ATA_PASS_THROUGH_EX);
    std::vector<std::uint8_t> request(header + c.DataLength, 0);
    ATA_PASS_THROUGH_EX a{};
    a.Length = static_cast<USHORT>(header);
    a.AtaFlags = ATA_FLAGS_DRDY_REQUIRED;
    if (c.Protocol == TProtocol::PioIn)
        a.AtaFlags |= ATA_FLAGS_DATA_IN;
    if (c.Protocol == TProtocol::PioOut)
        a.AtaFlags |= ATA_FLAGS_DATA_OUT;
    if (c.Ext)
        a.AtaFlags |= ATA_FLAGS_48BIT_COMMAND;
    a.DataTransferLength = c.DataLength;
    a.TimeOutValue = timeoutSeconds;
    a.DataBufferOffset = header;
    a.CurrentTaskFile[0] = static_cast<UCHAR>(c.Feature);
    a.CurrentTaskFile[1] = static_cast<UCHAR>(c.Count);
    a.CurrentTaskFile[2] = static_cast<UCHAR>(c.Lba);
    a.CurrentTaskFile[3] = static_cast<UCHAR>(c.Lba >> 8);
    a.CurrentTaskFile[4] = static_cast<UCHAR>(c.Lba >> 16);
    a.CurrentTaskFile[5] = c.Device;
    a.CurrentTaskFile[6] = c.Command;
    if (c.Ext) {
        a.PreviousTaskFile[0] = static_cast<UCHAR>(c.Feature >> 8);
        a.PreviousTaskFile[1] = static_cast<UCHAR>(c.Count >> 8);
        a.PreviousTaskFile[2] = static_cast<UCHAR>(c.Lba >> 24);
        a.PreviousTaskFile[3] = static_cast<UCHAR>(c.Lba >> 32);
        a.PreviousTaskFile[4] = static_cast<UCHAR>(c.Lba >> 40);
    }
    std::memcpy(request.data(), &a, header);
    if (c.Protocol == TProtocol::PioOut)
        std::memcpy(request.data() + header, dataOut.data(),
                    std::min<std::size_t>(dataOut.size(), c.DataLength));
    return request;
}

TTaskFile ReturnedRegisters(const std::vector<std::uint8_t>& request) {
    TTaskFile t;
    if (request.size() < sizeof(ATA_PASS_THROUGH_EX))
        return t;
    ATA_PASS_THROUGH_EX a;
    std::memcpy(&a, request.data(), sizeof a);
    const auto* cur = a.CurrentTaskFile;
    const auto* prev = a.PreviousTaskFile;
    t.Feature = cur[0];
    t.Count = static_cast<std::uint16_t>(cur[1] | (prev[1] << 8));
    t.Lba =
        static_cast<std::uint64_t>(cur[2]) | (static_cast<std::uint64_t>(cur[3]) << 8) |
        (static_cast<std::uint64_t>(cur[4]) << 16) | (static_cast<std::uint64_t>(prev[2]) << 24) |
        (static_cast<std::uint64_t>(prev[3]) << 32) | (static_cast<std::uint64_t>(prev[4]) << 40);
    t.Device = cur[5];
    t.Command = cur[6];
    t.Ext = (a.AtaFlags & ATA_FLAGS_48BIT_COMMAND) != 0;
    t.DataLength = a.DataTransferLength;
    return t;
}

std::vector<std::uint8_t> ReturnedData(const std::vector<std::uint8_t>& request) {
    if (request.size() < sizeof(ATA_PASS_THROUGH_EX))
        return {};
    ATA_PASS_THROUGH_EX a;
    std::memcpy(&a, request.data(), sizeof a);
    const std::size_t offset = a.DataBufferOffset;
    if (offset > request.size())
        return {};
    const std::size_t length = std::min<std::size_t>(a.DataTransferLength, request.size() - offset);
    return std::vector<std::uint8_t>(request.begin() + static_cast<std::ptrdiff_t>(offset),
                                     request.begin() +
                                         static_cast<std::ptrdiff_t>(offset + length));
}

} // namespace purgelet::ata
