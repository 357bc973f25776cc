#include "sanitize/nvme.h"

#include "platform/storage_pass_through.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace purgelet::nvme {

namespace {

void PutLe32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t Le(const std::vector<std::uint8_t>& data, std::size_t offset, int bytes) {
    std::uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | data[offset + static_cast<std::size_t>(i)];
    return value;
}

std::string Ascii(const std::vector<std::uint8_t>& data, std::size_t from, std::size_t to) {
    std::string text(data.begin() + static_cast<std::ptrdiff_t>(from),
                     data.begin() + static_cast<std::ptrdiff_t>(to));
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
        text.pop_back();
    return text;
}

TCommand Identify(std::uint8_t cns, std::uint32_t nsid) {
    TCommand c;
    c.Opcode = kIdentify;
    c.Nsid = nsid;
    c.Cdw[0] = cns; // CDW10: CNS in bits 7:0, controller id 0
    c.DataLength = kIdentifyBytes;
    return c;
}

} // namespace

std::array<std::uint8_t, 64> TCommand::Bytes() const {
    std::array<std::uint8_t, 64> b{};
    b[0] = Opcode; // command id, fuse and data pointer are the driver's
    PutLe32(&b[4], Nsid);
    for (std::size_t i = 0; i < Cdw.size(); ++i)
        PutLe32(&b[40 + 4 * i], Cdw[i]);
    return b;
}

TCommand IdentifyController() {
    return Identify(0x01, 0);
}
TCommand IdentifyNamespace(std::uint32_t nsid) {
    return Identify(0x00, nsid);
}
TCommand IdentifyActiveNamespaces() {
    return Identify(0x02, 0); // the ids above 0: all of them, up to 1024
}

TCommand GetSanitizeStatusLog() {
    TCommand c;
    c.Opcode = kGetLogPage;
    c.Nsid = kAllNamespaces; // a log of the whole controller
    // CDW10: LID in bits 7:0, NUMDL (dwords, 0-based) in 31:16; CDW11: NUMDU 0.
    const std::uint32_t dwords = kSanitizeLogBytes / 4 - 1;
    c.Cdw[0] = kSanitizeStatusLog | ((dwords & 0xFFFF) << 16);
    c.Cdw[1] = dwords >> 16;
    c.DataLength = kSanitizeLogBytes;
    return c;
}

TCommand Sanitize(std::uint32_t sanact) {
    TCommand c;
    c.Opcode = kSanitize;
    c.Nsid = 0; // the whole controller
    // CDW10: SANACT 2:0; no unrestricted exit, no overwrite passes, deallocation allowed.
    c.Cdw[0] = sanact & 0x7;
    return c;
}

TCommand FormatNvm(std::uint32_t ses, const TNamespace& ns, std::uint32_t nsid) {
    TCommand c;
    c.Opcode = kFormatNvm;
    c.Nsid = nsid;
    // CDW10: LBAF 3:0, MSET 4, PI 7:5, PIL 8, SES 11:9, LBAFU 13:12: the format unchanged.
    const std::uint32_t lbaf = ns.Flbas & 0x0F;
    const std::uint32_t lbafu = (ns.Flbas >> 5) & 0x03;
    const std::uint32_t mset = (ns.Flbas >> 4) & 0x01;
    const std::uint32_t pi = ns.Dps & 0x07;
    const std::uint32_t pil = (ns.Dps >> 3) & 0x01;
    c.Cdw[0] = lbaf | (mset << 4) | (pi << 5) | (pil << 8) | ((ses & 0x7) << 9) | (lbafu << 12);
    return c;
}

std::optional<TController> ParseController(const std::vector<std::uint8_t>& data) {
    if (data.size() < kIdentifyBytes)
        return std::nullopt;
    TController c;
    c.VendorId = static_cast<std::uint16_t>(Le(data, 0, 2));
    c.Serial = Ascii(data, 4, 24);
    c.Model = Ascii(data, 24, 64);
    c.Namespaces = Le(data, 516, 4);
    const std::uint32_t oacs = Le(data, 256, 2);
    c.FormatNvm = (oacs >> 1) & 1;
    const std::uint8_t fna = data[524];
    c.FormatAllNamespaces = fna & 0x01;
    c.EraseAllNamespaces = fna & 0x02;
    c.CryptoFormat = fna & 0x04;
    const std::uint32_t sanicap = Le(data, 328, 4);
    c.SanitizeCrypto = sanicap & 0x01;
    c.SanitizeBlock = sanicap & 0x02;
    c.SanitizeOverwrite = sanicap & 0x04;
    return c;
}

std::optional<TNamespace> ParseNamespace(const std::vector<std::uint8_t>& data) {
    if (data.size() < kIdentifyBytes)
        return std::nullopt;
    TNamespace n;
    n.Size = Le(data, 0, 4) | (static_cast<std::uint64_t>(Le(data, 4, 4)) << 32);
    n.Flbas = data[26];
    n.Dps = data[29];
    n.Dlfeat = data[33];
    switch (n.Dlfeat & 0x07) {
    case 1:
        n.ErasedByte = 0x00;
        break;
    case 2:
        n.ErasedByte = 0xFF;
        break;
    default:
        break; // not reported
    }
    return n;
}

std::vector<std::uint32_t> ParseNamespaceList(const std::vector<std::uint8_t>& data) {
    std::vector<std::uint32_t> ids;
    for (std::size_t at = 0; at + 4 <= data.size(); at += 4) {
        const std::uint32_t id = Le(data, at, 4);
        if (id == 0)
            break;
        ids.push_back(id);
    }
    return ids;
}

bool SameNamespace(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    if (a.size() < kIdentifyBytes || b.size() < kIdentifyBytes)
        return false;
    // NSZE and NCAP (0-15); from NSFEAT to the end of the LBA formats (24-383), which holds
    // NGUID (104-119) and EUI64 (120-127). NUSE (16-23) stays out.
    return std::equal(a.begin(), a.begin() + 16, b.begin()) &&
           std::equal(a.begin() + 24, a.begin() + 384, b.begin() + 24);
}

std::optional<TSanitizeLog> ParseSanitizeLog(const std::vector<std::uint8_t>& data) {
    if (data.size() < 20)
        return std::nullopt;
    TSanitizeLog log;
    log.Sprog = static_cast<std::uint16_t>(Le(data, 0, 2));
    log.Sstat = static_cast<std::uint16_t>(Le(data, 2, 2));
    log.State = static_cast<std::uint8_t>(log.Sstat & 0x07);
    log.Cdw10 = Le(data, 4, 4);
    log.BlockEraseSeconds = Le(data, 12, 4);
    log.CryptoEraseSeconds = Le(data, 16, 4);
    return log;
}

// ---- The storage protocol command request.

std::vector<std::uint8_t> PackRequest(const TCommand& command, std::uint32_t timeoutSeconds) {
    std::vector<std::uint8_t> request(kDataOffset + command.DataLength, 0);
    STORAGE_PROTOCOL_COMMAND p{};
    p.Version = STORAGE_PROTOCOL_STRUCTURE_VERSION;
    p.Length = sizeof(STORAGE_PROTOCOL_COMMAND);
    p.ProtocolType = ProtocolTypeNvme;
    p.Flags = STORAGE_PROTOCOL_COMMAND_FLAG_ADAPTER_REQUEST;
    p.CommandLength = STORAGE_PROTOCOL_COMMAND_LENGTH_NVME;
    p.ErrorInfoLength = kErrorInfoBytes;
    p.ErrorInfoOffset = kErrorInfoOffset;
    p.DataFromDeviceTransferLength = command.DataLength;
    p.DataFromDeviceBufferOffset = command.DataLength != 0 ? kDataOffset : 0;
    p.TimeOutValue = timeoutSeconds;
    p.CommandSpecific = STORAGE_PROTOCOL_SPECIFIC_NVME_ADMIN_COMMAND;
    std::memcpy(request.data(), &p, kCommandOffset);
    const auto bytes = command.Bytes();
    std::memcpy(request.data() + kCommandOffset, bytes.data(), bytes.size());
    return request;
}

bool TReturned::Success() const {
    return ReturnStatus == STORAGE_PROTOCOL_STATUS_SUCCESS && ErrorCode == 0;
}

TReturned ReadReturned(const std::vector<std::uint8_t>& request) {
    TReturned r;
    if (request.size() < kCommandOffset)
        return r;
    STORAGE_PROTOCOL_COMMAND p;
    std::memcpy(&p, request.data(), kCommandOffset);
    r.ReturnStatus = p.ReturnStatus;
    r.ErrorCode = p.ErrorCode;
    r.Dw0 = p.FixedProtocolReturnData;
    const std::size_t offset = p.DataFromDeviceBufferOffset;
    if (p.DataFromDeviceTransferLength != 0 && offset <= request.size()) {
        const std::size_t length =
            std::min<std::size_t>(p.DataFromDeviceTransferLength, request.size() - offset);
        r.Data.assign(request.begin() + static_cast<std::ptrdiff_t>(offset),
                      request.begin() + static_cast<std::ptrdiff_t>(offset + length));
    }
    return r;
}

// ---- The protocol-specific property query.

namespace {
constexpr std::size_t kQueryHeader = offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters);
constexpr std::size_t kQueryData = kQueryHeader + sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA);
} // namespace

std::optional<std::vector<std::uint8_t>> PackQuery(const TCommand& command, bool ownNamespace) {
    STORAGE_PROTOCOL_SPECIFIC_DATA data{};
    data.ProtocolType = ProtocolTypeNvme;
    if (command.Opcode == kIdentify) {
        data.DataType = NVMeDataTypeIdentify;
        data.ProtocolDataRequestValue = command.Cdw[0] & 0xFF; // CNS
        data.ProtocolDataRequestSubValue = ownNamespace ? 0 : command.Nsid;
    } else if (command.Opcode == kGetLogPage && !ownNamespace) {
        // From the log's first byte: offset (SubValue, SubValue2), log specific id
        // (SubValue3) and retain-event bits (SubValue4) all 0.
        data.DataType = NVMeDataTypeLogPage;
        data.ProtocolDataRequestValue = command.Cdw[0] & 0xFF; // LID
    } else {
        return std::nullopt;
    }
    data.ProtocolDataOffset = sizeof data; // the data right after the block
    data.ProtocolDataLength = command.DataLength;
    std::vector<std::uint8_t> query(kQueryData + command.DataLength, 0);
    const STORAGE_PROPERTY_ID property = ownNamespace ? StorageDeviceProtocolSpecificProperty
                                                      : StorageAdapterProtocolSpecificProperty;
    const STORAGE_QUERY_TYPE type = PropertyStandardQuery;
    std::memcpy(query.data(), &property, sizeof property);
    std::memcpy(query.data() + sizeof property, &type, sizeof type);
    std::memcpy(query.data() + kQueryHeader, &data, sizeof data);
    return query;
}

std::vector<std::uint8_t> PackNamespaceQuery() {
    return *PackQuery(IdentifyNamespace(0), true);
}

std::optional<std::vector<std::uint8_t>> ReadQuery(const std::vector<std::uint8_t>& answer,
                                                   std::uint32_t returned, std::uint32_t length) {
    if (returned > answer.size() || returned < sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR))
        return std::nullopt;
    STORAGE_PROTOCOL_DATA_DESCRIPTOR d;
    std::memcpy(&d, answer.data(), sizeof d);
    const std::size_t at = offsetof(STORAGE_PROTOCOL_DATA_DESCRIPTOR, ProtocolSpecificData) +
                           std::size_t{d.ProtocolSpecificData.ProtocolDataOffset};
    if (d.ProtocolSpecificData.ProtocolDataLength < length || at > returned ||
        returned - at < length)
        return std::nullopt;
    return std::vector<std::uint8_t>(answer.begin() + static_cast<std::ptrdiff_t>(at),
                                     answer.begin() + static_cast<std::ptrdiff_t>(at + length));
}

std::uint32_t AnsweredNamespace(const std::vector<std::uint8_t>& answer, std::uint32_t returned) {
    if (returned > answer.size() || returned < sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR))
        return 0;
    STORAGE_PROTOCOL_DATA_DESCRIPTOR d;
    std::memcpy(&d, answer.data(), sizeof d);
    return d.ProtocolSpecificData.ProtocolDataRequestSubValue;
}

// ---- The media reinitialization request.

std::vector<std::uint8_t> PackReinitialize(std::uint32_t sanact, std::uint32_t timeoutSeconds) {
    STORAGE_REINITIALIZE_MEDIA r{};
    r.Version = sizeof r;
    r.Size = sizeof r;
    r.TimeoutInSeconds = timeoutSeconds;
    r.SanitizeOption.SanitizeMethod = (sanact & 0x7) == kSanactCryptoErase
                                          ? StorageSanitizeMethodCryptoErase
                                          : StorageSanitizeMethodBlockErase;
    r.SanitizeOption.DisallowUnrestrictedSanitizeExit = 1; // as Sanitize(): AUSE 0
    std::vector<std::uint8_t> bytes(sizeof r);
    std::memcpy(bytes.data(), &r, sizeof r);
    return bytes;
}

} // namespace purgelet::nvme
