// The emulated NVMe drive: Identify (controller and its one namespace), the Sanitize Status
// log, Sanitize and Format NVM, answered through the storage protocol command as the NVMe
// driver hands a drive's completion back (an error's NVMe status in ErrorCode).
#include "platform/sim/kernel32.h"
#include "platform/storage_pass_through.h"

#include <algorithm>
#include <cstring>

namespace platform::sim {

namespace {

// Status codes, (status code type << 8) | status code.
constexpr DWORD kInvalidOpcode = 0x001;
constexpr DWORD kInvalidField = 0x002;
constexpr DWORD kInternalError = 0x006;
constexpr DWORD kInvalidNamespace = 0x00B;
constexpr DWORD kSanitizeInProgress = 0x01D;
constexpr DWORD kInvalidLogPage = 0x109;
constexpr DWORD kInvalidFormat = 0x10A;

constexpr std::uint32_t kHeader = 80; // the fields before the command

std::uint32_t Le32(const BYTE* at) {
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
           (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

void Put32(BYTE* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<BYTE>(value >> (8 * i));
}

void PutText(BYTE* at, std::size_t size, const std::string& text) {
    std::memset(at, ' ', size);
    std::memcpy(at, text.data(), std::min(size, text.size()));
}

void IdentifyController(const PhysicalDisk& disk, const FirmwareDrive& f, BYTE* data) {
    std::memset(data, 0, 4096);
    data[0] = 0x5A; // PCI vendor id of no one in particular
    PutText(data + 4, 20, disk.identity.serial);
    PutText(data + 24, 40, disk.identity.product);
    PutText(data + 64, 8, disk.identity.revision);
    data[256] = f.formatNvm ? 0x02 : 0x00;                                             // OACS
    Put32(data + 328, (f.sanitizeCrypto ? 0x1u : 0u) | (f.sanitizeBlock ? 0x2u : 0u)); // SANICAP
    Put32(data + 516, 1);                                                              // NN
    data[524] = f.cryptoFormat ? 0x04 : 0x00;                                          // FNA
}

void IdentifyNamespace(const PhysicalDisk& disk, const FirmwareDrive& f, BYTE* data) {
    std::memset(data, 0, 4096);
    const auto blocks = static_cast<std::uint64_t>(disk.size) / disk.geometry.BytesPerSector;
    for (int i = 0; i < 3; ++i) { // NSZE, NCAP, NUSE
        Put32(data + 8 * i, static_cast<std::uint32_t>(blocks));
        Put32(data + 8 * i + 4, static_cast<std::uint32_t>(blocks >> 32));
    }
    data[25] = 0;    // NLBAF: one format
    data[26] = 0x00; // FLBAS: format 0
    if (f.erasedByte)
        data[33] = *f.erasedByte == 0 ? 0x01 : 0x02; // DLFEAT
    int shift = 0;
    while ((1u << shift) < disk.geometry.BytesPerSector)
        ++shift;
    data[128 + 2] = static_cast<BYTE>(shift); // LBAF0: LBADS
}

} // namespace

BOOL SimKernel32::NvmeControl(Lock& lock, PhysicalDisk& disk, BYTE* request, DWORD size,
                              DWORD* returned) {
    STORAGE_PROTOCOL_COMMAND p;
    if (size < kHeader + STORAGE_PROTOCOL_COMMAND_LENGTH_NVME)
        return Fail(ERROR_INVALID_PARAMETER);
    std::memcpy(&p, request, kHeader);
    const std::uint64_t dataEnd =
        std::uint64_t{p.DataFromDeviceBufferOffset} + p.DataFromDeviceTransferLength;
    const std::uint64_t errorEnd = std::uint64_t{p.ErrorInfoOffset} + p.ErrorInfoLength;
    if (p.Version != STORAGE_PROTOCOL_STRUCTURE_VERSION ||
        p.Length != sizeof(STORAGE_PROTOCOL_COMMAND) || p.ProtocolType != ProtocolTypeNvme ||
        p.CommandLength != STORAGE_PROTOCOL_COMMAND_LENGTH_NVME ||
        p.CommandSpecific != STORAGE_PROTOCOL_SPECIFIC_NVME_ADMIN_COMMAND ||
        p.DataToDeviceTransferLength != 0 || dataEnd > size || errorEnd > size ||
        (p.DataFromDeviceTransferLength != 0 &&
         p.DataFromDeviceBufferOffset < kHeader + STORAGE_PROTOCOL_COMMAND_LENGTH_NVME))
        return Fail(ERROR_INVALID_PARAMETER);
    if (p.TimeOutValue > kMaxPassThroughSeconds)
        return Fail(ERROR_INVALID_PARAMETER); // more than the system lets a request wait
    FirmwareDrive& f = *disk.firmware;
    const BYTE* sqe = request + kHeader;
    const BYTE opcode = sqe[0];
    const std::uint32_t nsid = Le32(sqe + 4);
    const std::uint32_t cdw10 = Le32(sqe + 40);
    const std::uint32_t cdw11 = Le32(sqe + 44);
    BYTE* data = request + p.DataFromDeviceBufferOffset;
    const DWORD dataLength = p.DataFromDeviceTransferLength;

    FirmwareDrive::Received got;
    got.command.assign(sqe, sqe + 64);
    got.timeout = p.TimeOutValue;
    DWORD status = 0, dw0 = 0;
    const bool sanitizing = f.running != FirmwareDrive::Operation::None;

    switch (opcode) {
    case 0x06: { // Identify
        const std::uint32_t cns = cdw10 & 0xFF;
        if (dataLength < 4096)
            status = kInvalidField;
        else if (cns == 0x01 && nsid == 0)
            IdentifyController(disk, f, data);
        else if (cns == 0x00 && nsid == 1)
            IdentifyNamespace(disk, f, data);
        else if (cns == 0x00)
            status = kInvalidNamespace;
        else
            status = kInvalidField;
        break;
    }
    case 0x02: { // Get Log Page
        const std::uint32_t lid = cdw10 & 0xFF;
        const std::uint64_t bytes = ((std::uint64_t{cdw11 & 0xFFFF} << 16 | (cdw10 >> 16)) + 1) * 4;
        if (lid != 0x81) {
            status = kInvalidLogPage;
            break;
        }
        if (bytes > dataLength || (nsid != 0 && nsid != 0xFFFFFFFF)) {
            status = kInvalidField;
            break;
        }
        BYTE log[512] = {};
        const std::uint32_t none = 0xFFFFFFFF;
        const std::uint32_t estimate = f.estimatedSeconds != 0 ? f.estimatedSeconds : none;
        std::uint16_t sprog = 0xFFFF;
        std::uint16_t sstat = static_cast<std::uint16_t>(f.lastSanitize);
        if (sanitizing) {
            sstat = 2;
            sprog = static_cast<std::uint16_t>(std::min<std::uint64_t>(
                0xFFFF, std::uint64_t{static_cast<std::uint32_t>(f.pollsDone) + 1} * 65536 /
                            static_cast<std::uint32_t>(f.polls + 1)));
        }
        log[0] = static_cast<BYTE>(sprog);
        log[1] = static_cast<BYTE>(sprog >> 8);
        log[2] = static_cast<BYTE>(sstat);
        Put32(log + 4, f.lastSanitizeCdw10);
        Put32(log + 8, none);
        Put32(log + 12, f.sanitizeBlock ? estimate : none);
        Put32(log + 16, f.sanitizeCrypto ? estimate : none);
        Put32(log + 20, none);
        Put32(log + 24, none);
        Put32(log + 28, none);
        std::memcpy(data, log,
                    static_cast<std::size_t>(std::min<std::uint64_t>(bytes, sizeof log)));
        if (sanitizing && f.fault != FirmwareDrive::Fault::NeverFinishes) {
            ++f.pollsDone;
            if (--f.pollsLeft <= 0)
                FinishSanitize(disk);
        }
        break;
    }
    case 0x84: { // Sanitize
        const std::uint32_t sanact = cdw10 & 0x7;
        FirmwareDrive::Operation op = FirmwareDrive::Operation::None;
        if (sanact == 0x2 && f.sanitizeBlock)
            op = FirmwareDrive::Operation::Block;
        if (sanact == 0x4 && f.sanitizeCrypto)
            op = FirmwareDrive::Operation::Crypto;
        if (op == FirmwareDrive::Operation::None || dataLength != 0)
            status = kInvalidField;
        else if (sanitizing)
            status = kSanitizeInProgress;
        else if (f.fault == FirmwareDrive::Fault::Refused)
            status = kInternalError;
        else
            StartSanitize(disk, op, cdw10);
        break;
    }
    case 0x80: { // Format NVM
        const std::uint32_t lbaf = (cdw10 & 0xF) | ((cdw10 >> 8) & 0x30);
        const std::uint32_t ses = (cdw10 >> 9) & 0x7;
        if (!f.formatNvm) {
            status = kInvalidOpcode;
        } else if (sanitizing) {
            status = kSanitizeInProgress;
        } else if (nsid != 1 && nsid != 0xFFFFFFFF) {
            status = kInvalidNamespace;
        } else if (lbaf != 0 || (cdw10 & 0x1F0) != 0) {
            status = kInvalidFormat; // only format 0, no metadata, no protection
        } else if (ses > 2 || (ses == 2 && !f.cryptoFormat) || dataLength != 0) {
            status = kInvalidField;
        } else if (f.fault == FirmwareDrive::Fault::Refused) {
            status = kInternalError;
        } else if (f.fault == FirmwareDrive::Fault::NeverFinishes) {
            // The command returns when the format is done, which it never is.
            DriveWorks(lock, p.TimeOutValue * 1000);
            f.received.push_back(std::move(got));
            return Fail(ERROR_SEM_TIMEOUT);
        } else {
            DriveWorks(lock, static_cast<DWORD>(std::max(f.polls, 1)) * 1000);
            const auto op =
                ses == 2 ? FirmwareDrive::Operation::Crypto : FirmwareDrive::Operation::Block;
            if (f.fault != FirmwareDrive::Fault::Lies)
                EraseMedia(*disk.image, op, f.erasedByte.value_or(0),
                           f.fault == FirmwareDrive::Fault::Failure);
            if (f.fault == FirmwareDrive::Fault::Failure)
                status = kInternalError;
        }
        break;
    }
    default:
        status = kInvalidOpcode;
        break;
    }
    got.aborted = status != 0;
    f.received.push_back(std::move(got));
    p.ReturnStatus = status == 0 ? STORAGE_PROTOCOL_STATUS_SUCCESS : STORAGE_PROTOCOL_STATUS_ERROR;
    p.ErrorCode = status;
    p.FixedProtocolReturnData = dw0;
    std::memcpy(request, &p, kHeader);
    *returned = size;
    return TRUE;
}

} // namespace platform::sim
