// The ATA commands of a firmware erase, built in one place register for register as ATA/ACS
// gives them: IDENTIFY DEVICE, the SANITIZE DEVICE family and the SECURITY commands with
// their 512-byte data blocks; the parsing of what the drive answers; and the packing of a
// task file into the ATA pass-through request (and back).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace purgelet::ata {

constexpr std::uint32_t kSectorBytes = 512;

enum class TProtocol { NonData, PioIn, PioOut };

// The registers of one command (48-bit where Ext): what goes to the drive, or what came back
// (then Feature holds the error register and Command the status register).
struct TTaskFile {
    std::uint16_t Feature = 0;
    std::uint16_t Count = 0;
    std::uint64_t Lba = 0; // 48 bits
    std::uint8_t Device = 0;
    std::uint8_t Command = 0;
    bool Ext = false;
    TProtocol Protocol = TProtocol::NonData;
    std::uint32_t DataLength = 0; // bytes moved by the PIO protocols

    bool operator==(const TTaskFile&) const = default;
};

// Command codes and the SANITIZE DEVICE features.
constexpr std::uint8_t kIdentifyDevice = 0xEC;
constexpr std::uint8_t kSanitizeDevice = 0xB4;
constexpr std::uint8_t kSecuritySetPassword = 0xF1;
constexpr std::uint8_t kSecurityErasePrepare = 0xF3;
constexpr std::uint8_t kSecurityEraseUnit = 0xF4;
constexpr std::uint8_t kSecurityDisablePassword = 0xF6;
constexpr std::uint16_t kSanitizeStatusExt = 0x0000;
constexpr std::uint16_t kCryptoScrambleExt = 0x0011;
constexpr std::uint16_t kBlockEraseExt = 0x0012;
// The keys the SANITIZE DEVICE commands carry in their LBA, so no stray write starts one.
constexpr std::uint64_t kCryptoScrambleKey = 0x43727970; // "Cryp"
constexpr std::uint64_t kBlockEraseKey = 0x426B4572;     // "BkEr"

// Status and error register bits.
constexpr std::uint8_t kStatusErr = 0x01;
constexpr std::uint8_t kStatusDrq = 0x08;
constexpr std::uint8_t kStatusDf = 0x20;
constexpr std::uint8_t kStatusDrdy = 0x40;
constexpr std::uint8_t kStatusBsy = 0x80;
constexpr std::uint8_t kErrorAbrt = 0x04;

TTaskFile IdentifyDevice();
TTaskFile SanitizeStatusExt();
TTaskFile CryptoScrambleExt();
TTaskFile BlockEraseExt();
TTaskFile SecuritySetPassword();
TTaskFile SecurityErasePrepare();
TTaskFile SecurityEraseUnit();
TTaskFile SecurityDisablePassword();

// The 32 bytes of a user password as the SECURITY data blocks carry it.
using TPassword = std::array<std::uint8_t, 32>;
// The password the security erase sets for the time of the erase: recognisable in a drive
// left with it ("Purgelet temporary erase pwd", zero-filled).
TPassword TemporaryPassword();
// A password as the user types it to unlock a drive (its bytes up to the first zero, as tools
// that take a text password fill the rest with zeros).
std::string PasswordText(const TPassword& password);
// SECURITY SET PASSWORD's block: the user password, high master-password capability.
std::vector<std::uint8_t> SetUserPasswordData(const TPassword& password);
// SECURITY ERASE UNIT's block: the user password, normal or enhanced erase.
std::vector<std::uint8_t> EraseUnitData(const TPassword& password, bool enhanced);
// SECURITY DISABLE PASSWORD's block: the user password.
std::vector<std::uint8_t> DisablePasswordData(const TPassword& password);

// What IDENTIFY DEVICE tells about the erase commands.
struct TIdentify {
    std::string Model;
    bool SanitizeSupported = false;      // word 59 bit 12
    bool CryptoScramble = false;         // word 59 bit 13
    bool BlockErase = false;             // word 59 bit 15
    bool SecuritySupported = false;      // word 128 bit 0
    bool SecurityEnabled = false;        // bit 1
    bool SecurityLocked = false;         // bit 2
    bool SecurityFrozen = false;         // bit 3
    bool SecurityCountExpired = false;   // bit 4
    bool EnhancedEraseSupported = false; // bit 5
    // Words 89 and 90: the erase times in seconds (0: not given; the "more than" values
    // give their lower bound).
    std::uint32_t NormalEraseSeconds = 0;
    std::uint32_t EnhancedEraseSeconds = 0;
};
// data: the 512 bytes of IDENTIFY DEVICE (nullopt when fewer).
std::optional<TIdentify> ParseIdentify(const std::vector<std::uint8_t>& data);
// One erase time word (89 or 90) in seconds, in either of its formats.
std::uint32_t EraseTimeSeconds(std::uint16_t word);

// What SANITIZE STATUS EXT returns in its registers.
struct TSanitizeStatus {
    bool CompletedWithoutError = false; // count bit 15
    bool InProgress = false;            // count bit 14
    bool Frozen = false;                // count bit 13
    bool Failed = false;                // the command ended with ERR: the last sanitize failed
    std::uint16_t Progress = 0;         // LBA 15:0, of 65536, while in progress
    std::uint8_t Reason = 0;            // with Failed: the error reason in LBA 7:0
};
TSanitizeStatus ParseSanitizeStatus(const TTaskFile& returned);

// ---- The pass-through request: the ATA_PASS_THROUGH_EX header and the data right after it
// (DataBufferOffset), in one buffer that goes in and comes back.
std::vector<std::uint8_t> PackRequest(const TTaskFile& command,
                                      const std::vector<std::uint8_t>& dataOut,
                                      std::uint32_t timeoutSeconds);
// The registers as the drive returned them (feature = error, command = status).
TTaskFile ReturnedRegisters(const std::vector<std::uint8_t>& request);
// The data a PIO data-in command brought (DataTransferLength bytes after the header).
std::vector<std::uint8_t> ReturnedData(const std::vector<std::uint8_t>& request);

} // namespace purgelet::ata
