// The emulated NVMe drive: Identify (controller, namespaces, the active namespace list), the
// Sanitize Status log, Sanitize and Format NVM. A drive may have several namespaces, each a
// physical disk of its own: Sanitize reaches all of them, Format NVM the one it names unless
// the drive formats all at once.
//
// The driver between the program and the drive is Windows' own ("inbox") unless the machine
// names a vendor's ("driver": "vendor"), and each takes the requests its documentation says:
// - Windows' own hands out Identify Controller and Identify Namespace (adapter: any id;
//   device: the handle's own) and log pages through the storage property query; sends a
//   Sanitize for IOCTL_STORAGE_REINITIALIZE_MEDIA with a sanitize method (build 19043 on, a
//   disk that does not hold the running system); and passes only vendor-specific admin
//   commands (C0h-FFh) through the protocol command.
// - A vendor's passes every admin command through the protocol command (an error's NVMe
//   status in ErrorCode) and answers only the device's Identify Namespace query, as the Linux
//   back-end does.
#include "platform/sim/kernel32.h"
#include "platform/storage_pass_through.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>

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
    const BYTE fna = (f.formatAllNamespaces ? 0x01 : 0x00) | (f.eraseAllNamespaces ? 0x02 : 0x00) |
                     (f.cryptoFormat ? 0x04 : 0x00);
    std::memset(data, 0, 4096);
    data[0] = 0x5A; // PCI vendor id of no one in particular
    PutText(data + 4, 20, disk.identity.serial);
    PutText(data + 24, 40, disk.identity.product);
    PutText(data + 64, 8, disk.identity.revision);
    data[256] = f.formatNvm ? 0x02 : 0x00;                                             // OACS
    Put32(data + 328, (f.sanitizeCrypto ? 0x1u : 0u) | (f.sanitizeBlock ? 0x2u : 0u)); // SANICAP
    Put32(data + 516, std::max<std::uint32_t>(f.maxNamespaces, 1));                    // NN
    data[524] = fna;                                                                   // FNA
}

// The namespace's data; its NGUID (bytes 104-119) tells it from its drive's other namespaces
// of the same size, as a real drive's does.
void IdentifyNamespace(const PhysicalDisk& disk, const PhysicalDisk& controller, BYTE* data) {
    const FirmwareDrive& f = *controller.firmware;
    std::memset(data, 0, 4096);
    data[104] = 0x5A;
    Put32(data + 108, controller.deviceNumber);
    Put32(data + 116, disk.nsid);
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

// The drive's namespaces: the controller's disk and the disks declared namespaces of it.
class Namespaces {
public:
    Namespaces(std::vector<PhysicalDisk>& disks, PhysicalDisk& controller)
        : disks_(disks), controller_(controller),
          self_(static_cast<int>(&controller - disks.data())) {}

    PhysicalDisk* Find(std::uint32_t id) const {
        for (PhysicalDisk& d : disks_)
            if (d.nsid == id && (&d == &controller_ || d.namespaceOf == self_))
                return &d;
        return nullptr;
    }

private:
    std::vector<PhysicalDisk>& disks_;
    PhysicalDisk& controller_;
    int self_;
};

// An admin command's fields, and the buffer for what it hands back.
struct AdminCommand {
    std::uint32_t nsid, cdw10, cdw11;
    BYTE* data;
    DWORD dataLength;
};

// Identify: the controller, a namespace, or the active namespace list.
DWORD Identify(const PhysicalDisk& disk, const Namespaces& namespaces, const AdminCommand& c) {
    const FirmwareDrive& f = *disk.firmware;
    const std::uint32_t cns = c.cdw10 & 0xFF;
    if (c.dataLength < 4096)
        return kInvalidField;
    if (cns == 0x01 && c.nsid == 0)
        IdentifyController(disk, f, c.data);
    else if (cns == 0x00 && namespaces.Find(c.nsid) != nullptr)
        IdentifyNamespace(*namespaces.Find(c.nsid), disk, c.data);
    else if (cns == 0x00 && c.nsid >= 1 && c.nsid <= f.maxNamespaces)
        std::memset(c.data, 0, 4096); // an inactive namespace: all zeros
    else if (cns == 0x00)
        return kInvalidNamespace;
    else if (cns == 0x02 && c.nsid >= 0xFFFFFFFE)
        return kInvalidNamespace;
    else if (cns == 0x02) {
        std::memset(c.data, 0, 4096);
        BYTE* at = c.data;
        for (std::uint32_t id = c.nsid + 1; id <= f.maxNamespaces; ++id)
            if (namespaces.Find(id) != nullptr) {
                Put32(at, id);
                at += 4;
            }
    } else
        return kInvalidField;
    return 0;
}

// Get Log Page, of which the drive has the Sanitize Status log alone; each read while a
// sanitize runs is one of the polls it takes.
DWORD GetSanitizeLog(PhysicalDisk& disk, const AdminCommand& c, bool sanitizing) {
    FirmwareDrive& f = *disk.firmware;
    const std::uint32_t lid = c.cdw10 & 0xFF;
    const std::uint64_t bytes = ((std::uint64_t{c.cdw11 & 0xFFFF} << 16 | (c.cdw10 >> 16)) + 1) * 4;
    if (lid != 0x81)
        return kInvalidLogPage;
    if (bytes > c.dataLength || (c.nsid != 0 && c.nsid != 0xFFFFFFFF))
        return kInvalidField;
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
    std::memcpy(c.data, log, static_cast<std::size_t>(std::min<std::uint64_t>(bytes, sizeof log)));
    if (sanitizing && f.fault != FirmwareDrive::Fault::NeverFinishes) {
        ++f.pollsDone;
        if (--f.pollsLeft <= 0)
            FinishSanitize(disk);
    }
    return 0;
}

DWORD Sanitize(PhysicalDisk& disk, const AdminCommand& c, bool sanitizing) {
    const FirmwareDrive& f = *disk.firmware;
    const std::uint32_t sanact = c.cdw10 & 0x7;
    FirmwareDrive::Operation op = FirmwareDrive::Operation::None;
    if (sanact == 0x2 && f.sanitizeBlock)
        op = FirmwareDrive::Operation::Block;
    if (sanact == 0x4 && f.sanitizeCrypto)
        op = FirmwareDrive::Operation::Crypto;
    if (op == FirmwareDrive::Operation::None || c.dataLength != 0)
        return kInvalidField;
    if (sanitizing)
        return kSanitizeInProgress;
    if (f.fault == FirmwareDrive::Fault::Refused)
        return kInternalError;
    StartSanitize(disk, op, c.cdw10);
    return 0;
}

// Format NVM. The command returns when the format is done: the drive works on it (works lets
// the machine go on meanwhile) for a second per poll a sanitize would answer (at least one);
// none when it never is, the request's time having run out.
std::optional<DWORD> FormatNvm(PhysicalDisk& disk, const Namespaces& namespaces,
                               const AdminCommand& c, bool sanitizing, DWORD timeout,
                               const std::function<void(DWORD)>& works) {
    FirmwareDrive& f = *disk.firmware;
    const std::uint32_t lbaf = (c.cdw10 & 0xF) | ((c.cdw10 >> 8) & 0x30);
    const std::uint32_t ses = (c.cdw10 >> 9) & 0x7;
    if (!f.formatNvm)
        return kInvalidOpcode;
    if (sanitizing)
        return kSanitizeInProgress;
    if (c.nsid != 0xFFFFFFFF && namespaces.Find(c.nsid) == nullptr)
        return kInvalidNamespace;
    if (lbaf != 0 || (c.cdw10 & 0x1F0) != 0)
        return kInvalidFormat; // only format 0, no metadata, no protection
    if (ses > 2 || (ses == 2 && !f.cryptoFormat) || c.dataLength != 0)
        return kInvalidField;
    if (f.fault == FirmwareDrive::Fault::Refused)
        return kInternalError;
    if (f.fault == FirmwareDrive::Fault::NeverFinishes) {
        works(timeout * 1000);
        return std::nullopt;
    }
    works(static_cast<DWORD>(std::max(f.polls, 1)) * 1000);
    const auto op = ses == 2 ? FirmwareDrive::Operation::Crypto : FirmwareDrive::Operation::Block;
    // One namespace, or every one: named so, or a drive that formats (or erases) all of them
    // whatever the command names.
    const bool all = c.nsid == 0xFFFFFFFF || f.formatAllNamespaces || f.eraseAllNamespaces;
    const std::uint32_t key = op == FirmwareDrive::Operation::Crypto ? ++f.mediaKey : 0;
    if (f.fault != FirmwareDrive::Fault::Lies)
        for (Image* image : all ? f.media : std::vector<Image*>{namespaces.Find(c.nsid)->image})
            EraseMedia(*image, op, f.erasedByte.value_or(0),
                       f.fault == FirmwareDrive::Fault::Failure, key);
    return f.fault == FirmwareDrive::Fault::Failure ? kInternalError : 0;
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
    if (!PassThroughMilliseconds(p.TimeOutValue))
        return Fail(ERROR_INVALID_PARAMETER); // more than the system lets a request wait
    const BYTE* sqe = request + kHeader;
    if (!disk.firmware->vendorDriver && sqe[0] < 0xC0)
        return Fail(ERROR_INVALID_FUNCTION); // Windows' own driver: vendor commands only
    DWORD dw0 = 0;
    const NvmeAnswer answer = NvmeCommand(lock, disk, sqe, request + p.DataFromDeviceBufferOffset,
                                          p.DataFromDeviceTransferLength, p.TimeOutValue, &dw0);
    if (answer.systemError != 0)
        return Fail(answer.systemError);
    p.ReturnStatus =
        answer.status == 0 ? STORAGE_PROTOCOL_STATUS_SUCCESS : STORAGE_PROTOCOL_STATUS_ERROR;
    p.ErrorCode = answer.status;
    p.FixedProtocolReturnData = dw0;
    std::memcpy(request, &p, kHeader);
    *returned = size;
    return TRUE;
}

SimKernel32::NvmeAnswer SimKernel32::NvmeCommand(Lock& lock, PhysicalDisk& disk, const BYTE* sqe,
                                                 BYTE* data, DWORD dataLength, DWORD timeout,
                                                 DWORD* dw0Out) {
    FirmwareDrive& f = *disk.firmware;
    const Namespaces namespaces(machine_->disks, disk);
    const AdminCommand c{Le32(sqe + 4), Le32(sqe + 40), Le32(sqe + 44), data, dataLength};
    FirmwareDrive::Received got;
    got.command.assign(sqe, sqe + 64);
    got.timeout = timeout;
    DWORD status = 0;
    const bool sanitizing = f.running != FirmwareDrive::Operation::None;

    switch (sqe[0]) {
    case 0x06: // Identify
        status = Identify(disk, namespaces, c);
        break;
    case 0x02: // Get Log Page
        status = GetSanitizeLog(disk, c, sanitizing);
        break;
    case 0x84: // Sanitize
        status = Sanitize(disk, c, sanitizing);
        break;
    case 0x80: { // Format NVM
        const std::optional<DWORD> formatted =
            FormatNvm(disk, namespaces, c, sanitizing, timeout,
                      [&](DWORD milliseconds) { DriveWorks(lock, milliseconds); });
        if (!formatted) {
            f.received.push_back(std::move(got));
            return {0, ERROR_SEM_TIMEOUT};
        }
        status = *formatted;
        break;
    }
    default:
        status = kInvalidOpcode;
        break;
    }
    got.aborted = status != 0;
    f.received.push_back(std::move(got));
    *dw0Out = 0; // none of these commands answers in Dword 0
    return {status, 0};
}

} // namespace platform::sim
