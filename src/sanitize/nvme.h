// The NVMe admin commands of a firmware erase, each built in this one place as the 64-byte
// submission queue entry the controller reads: Identify, Get Log Page (the
// Sanitize Status log), Sanitize and Format NVM; the parsing of what they return; and the
// packing into the storage protocol command request (and back).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace purgelet::nvme {

constexpr std::uint8_t kIdentify = 0x06;
constexpr std::uint8_t kGetLogPage = 0x02;
constexpr std::uint8_t kSanitize = 0x84;
constexpr std::uint8_t kFormatNvm = 0x80;
constexpr std::uint8_t kSanitizeStatusLog = 0x81;
constexpr std::uint32_t kAllNamespaces = 0xFFFFFFFF;
constexpr std::uint32_t kIdentifyBytes = 4096;
constexpr std::uint32_t kSanitizeLogBytes = 512;
constexpr std::uint32_t kNoEstimate = 0xFFFFFFFF;

// Sanitize actions (SANACT) and Secure Erase Settings (SES).
constexpr std::uint32_t kSanactBlockErase = 0b010;
constexpr std::uint32_t kSanactCryptoErase = 0b100;
constexpr std::uint32_t kSesUserData = 0b001;
constexpr std::uint32_t kSesCrypto = 0b010;

// A submission queue entry: opcode in CDW0 bits 7:0, NSID, CDW10 to CDW15 (the data pointer
// is the transport's).
struct TCommand {
    std::uint8_t Opcode = 0;
    std::uint32_t Nsid = 0;
    std::array<std::uint32_t, 6> Cdw{}; // CDW10..CDW15
    std::uint32_t DataLength = 0;       // bytes from the device

    std::array<std::uint8_t, 64> Bytes() const;
};

TCommand IdentifyController();
TCommand IdentifyNamespace(std::uint32_t nsid);
// The active namespace ids (CNS 02h), in ascending order, from the first.
TCommand IdentifyActiveNamespaces();
TCommand GetSanitizeStatusLog();
TCommand Sanitize(std::uint32_t sanact);

struct TNamespace; // below
// Format NVM of namespace nsid (kAllNamespaces: every namespace) with ses, keeping ns's
// current LBA format, metadata and protection settings.
TCommand FormatNvm(std::uint32_t ses, const TNamespace& ns, std::uint32_t nsid);

struct TController {
    std::uint16_t VendorId = 0;       // bytes 0-1
    std::string Serial;               // bytes 4-23
    std::string Model;                // bytes 24-63
    std::uint32_t Namespaces = 0;     // NN, bytes 516-519: the highest namespace id it may have
    bool FormatNvm = false;           // OACS bit 1
    bool FormatAllNamespaces = false; // FNA bit 0
    bool EraseAllNamespaces = false;  // FNA bit 1
    bool CryptoFormat = false;        // FNA bit 2
    bool SanitizeCrypto = false;      // SANICAP bit 0
    bool SanitizeBlock = false;       // SANICAP bit 1
    bool SanitizeOverwrite = false;   // SANICAP bit 2
};
std::optional<TController> ParseController(const std::vector<std::uint8_t>& data);

struct TNamespace {
    std::uint64_t Size = 0;  // NSZE, in blocks
    std::uint8_t Flbas = 0;  // byte 26: bits 3:0 and 6:5 the format, bit 4 metadata at the end
    std::uint8_t Dps = 0;    // byte 29: protection type bits 2:0, bit 3 first/last
    std::uint8_t Dlfeat = 0; // byte 33
    std::optional<std::uint8_t> ErasedByte; // DLFEAT bits 2:0: 1 = 00h, 2 = FFh
};
std::optional<TNamespace> ParseNamespace(const std::vector<std::uint8_t>& data);
// The ids of an active namespace list, up to its first zero.
std::vector<std::uint32_t> ParseNamespaceList(const std::vector<std::uint8_t>& data);
// Whether two Identify Namespace answers describe the same namespace: the same size,
// capacity, format and, where the controller gives them, the same unique ids (NGUID, EUI64).
// The blocks in use, which change as the namespace is written, are left out.
bool SameNamespace(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);

struct TSanitizeLog {
    std::uint16_t Sprog = 0; // of 65536
    std::uint8_t State = 0;  // SSTAT bits 2:0
    std::uint16_t Sstat = 0;
    std::uint32_t Cdw10 = 0; // SCDW10: the last Sanitize command's CDW10 (its action in 2:0)
    std::uint32_t BlockEraseSeconds = kNoEstimate;
    std::uint32_t CryptoEraseSeconds = kNoEstimate;

    bool NeverSanitized() const { return State == 0; }
    bool Completed() const { return State == 1 || State == 4; }
    bool InProgress() const { return State == 2; }
    bool Failed() const { return State == 3; }
};
std::optional<TSanitizeLog> ParseSanitizeLog(const std::vector<std::uint8_t>& data);

// ---- The storage protocol command request: the header, the 64-byte command, room for an
// error log entry, then the data from the device; one buffer that goes in and comes back.
constexpr std::uint32_t kCommandOffset = 80;
constexpr std::uint32_t kErrorInfoOffset = kCommandOffset + 64;
constexpr std::uint32_t kErrorInfoBytes = 64;
constexpr std::uint32_t kDataOffset = kErrorInfoOffset + kErrorInfoBytes;

std::vector<std::uint8_t> PackRequest(const TCommand& command, std::uint32_t timeoutSeconds);

struct TReturned {
    std::uint32_t ReturnStatus = 0; // STORAGE_PROTOCOL_STATUS_*
    std::uint32_t ErrorCode = 0;    // the NVMe status where the command failed
    std::uint32_t Dw0 = 0;          // FixedProtocolReturnData
    std::vector<std::uint8_t> Data;
    bool Success() const;
};
TReturned ReadReturned(const std::vector<std::uint8_t>& request);

// ---- The storage property query: Windows' own NVMe driver hands out Identify data and log
// pages this way, not through the protocol command. The adapter's property answers for the
// controller (Identify with CNS and namespace id, a log page by its id); the device's for the
// namespace the disk handle stands for (Identify Namespace with namespace id 0). A command
// with no such form (Sanitize, Format NVM) gives no query.
std::optional<std::vector<std::uint8_t>> PackQuery(const TCommand& command, bool ownNamespace);
// The data read back from the same buffer: command.DataLength bytes, or none.
std::optional<std::vector<std::uint8_t>> ReadQuery(const std::vector<std::uint8_t>& answer,
                                                   std::uint32_t returned, std::uint32_t length);
// The namespace the answer to a namespace's own query says it is (its descriptor's
// SubValue), 0 where the system does not say.
std::uint32_t AnsweredNamespace(const std::vector<std::uint8_t>& answer, std::uint32_t returned);
// The Identify Namespace query of the disk's own namespace.
std::vector<std::uint8_t> PackNamespaceQuery();

// ---- The media reinitialization request carrying a Sanitize (STORAGE_REINITIALIZE_MEDIA):
// the action (block or crypto erase), restricted completion as Sanitize() sends it.
std::vector<std::uint8_t> PackReinitialize(std::uint32_t sanact, std::uint32_t timeoutSeconds);

} // namespace purgelet::nvme
