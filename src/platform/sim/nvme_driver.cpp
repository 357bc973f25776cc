// What Windows' own NVMe driver does with the requests it documents for NVMe drives, on the
// emulated drive: the storage property query of protocol data (Identify and log pages, each
// sent to the drive as the admin command it stands for) and the media reinitialization that
// carries a Sanitize. A vendor's driver answers only the device's Identify Namespace query.
#include "platform/sim/kernel32.h"
#include "platform/storage_pass_through.h"

#include <array>
#include <cstddef>
#include <cstring>
#include <vector>

namespace platform::sim {

namespace {

constexpr DWORD kQueryHeader = offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters);

void Put32(BYTE* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<BYTE>(value >> (8 * i));
}

// The submission queue entry the driver builds for a query, or why there is none: the
// Identify structures it hands out (controller; a namespace by id through the adapter, the
// handle's own through the device) and log pages from their first byte.
DWORD QueryCommand(const STORAGE_PROTOCOL_SPECIFIC_DATA& asked, bool adapter, bool vendor,
                   std::uint32_t ownNsid, std::array<BYTE, 64>& sqe, DWORD& length) {
    sqe.fill(0);
    const DWORD value = asked.ProtocolDataRequestValue;
    const DWORD sub = asked.ProtocolDataRequestSubValue;
    if (asked.DataType == NVMeDataTypeIdentify) {
        std::uint32_t nsid = 0;
        if (value == 0x01 && adapter && sub == 0)
            nsid = 0;
        else if (value == 0x00 && adapter && sub != 0)
            nsid = sub;
        else if (value == 0x00 && !adapter && (sub == 0 || sub == ownNsid))
            nsid = ownNsid;
        else
            return ERROR_NOT_SUPPORTED;
        if (vendor && (adapter || value != 0x00))
            return ERROR_NOT_SUPPORTED;
        sqe[0] = 0x06;
        Put32(&sqe[4], nsid);
        Put32(&sqe[40], value);
        length = 4096;
        return ERROR_SUCCESS;
    }
    if (asked.DataType == NVMeDataTypeLogPage && !vendor) {
        length = asked.ProtocolDataLength;
        if (value > 0xFF || sub != 0 || asked.ProtocolDataRequestSubValue2 != 0 || length == 0 ||
            length % 4 != 0 || length > 4096)
            return ERROR_INVALID_PARAMETER;
        const std::uint32_t dwords = length / 4 - 1;
        sqe[0] = 0x02;
        Put32(&sqe[4], 0xFFFFFFFF);
        Put32(&sqe[40], value | (dwords & 0xFFFF) << 16);
        return ERROR_SUCCESS;
    }
    return ERROR_NOT_SUPPORTED;
}

} // namespace

BOOL SimKernel32::NvmeQuery(Lock& lock, const DeviceHandle& h, LPVOID in, DWORD inSize, LPVOID out,
                            DWORD outSize, DWORD* size) {
    if (in == nullptr || inSize < kQueryHeader + sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA))
        return Fail(ERROR_INVALID_PARAMETER);
    PhysicalDisk& own = machine_->disks[static_cast<std::size_t>(h.disk)];
    PhysicalDisk& controller =
        own.namespaceOf >= 0 ? machine_->disks[static_cast<std::size_t>(own.namespaceOf)] : own;
    if (!controller.firmware || controller.firmware->commandSet != FirmwareDrive::CommandSet::Nvme)
        return Fail(ERROR_NOT_SUPPORTED); // no NVMe device behind the disk
    DWORD property = 0;
    std::memcpy(&property, in, sizeof property);
    STORAGE_PROTOCOL_SPECIFIC_DATA asked;
    std::memcpy(&asked, static_cast<const BYTE*>(in) + kQueryHeader, sizeof asked);
    if (asked.ProtocolType != ProtocolTypeNvme)
        return Fail(ERROR_NOT_SUPPORTED);
    std::array<BYTE, 64> sqe{};
    DWORD length = 0;
    const DWORD refused = QueryCommand(asked, property == StorageAdapterProtocolSpecificProperty,
                                       controller.firmware->vendorDriver, own.nsid, sqe, length);
    if (refused != ERROR_SUCCESS)
        return Fail(refused);
    const DWORD need = sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR) + length;
    if (asked.ProtocolDataOffset < sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA) ||
        asked.ProtocolDataLength < length || out == nullptr || outSize < need)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::vector<BYTE> answer(need, 0);
    DWORD dw0 = 0;
    const NvmeAnswer done =
        NvmeCommand(lock, controller, sqe.data(),
                    answer.data() + sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR), length, 30, &dw0);
    if (done.systemError != 0)
        return Fail(done.systemError);
    if (done.status != 0)
        return Fail(ERROR_IO_DEVICE); // the drive's error: the driver tells no more
    const STORAGE_PROTOCOL_DATA_DESCRIPTOR d = ProtocolDataAnswer(asked, length, dw0);
    std::memcpy(answer.data(), &d, sizeof d);
    std::memcpy(out, answer.data(), need);
    *size = need;
    return TRUE;
}

// Windows' own driver only, on a data disk (the disk of the running system is refused outside
// Windows PE, which this machine is not), and only a sanitize method it can name: what an older
// driver or the default method does is not modelled, as the program never asks for it.
BOOL SimKernel32::ReinitializeMedia(Lock& lock, const DeviceHandle& h, LPVOID in, DWORD inSize) {
    if (h.disk < 0)
        return Fail(ERROR_INVALID_FUNCTION);
    PhysicalDisk& own = machine_->disks[static_cast<std::size_t>(h.disk)];
    PhysicalDisk& controller =
        own.namespaceOf >= 0 ? machine_->disks[static_cast<std::size_t>(own.namespaceOf)] : own;
    if (!controller.firmware ||
        controller.firmware->commandSet != FirmwareDrive::CommandSet::Nvme ||
        controller.firmware->vendorDriver)
        return Fail(ERROR_INVALID_FUNCTION);
    if ((h.access & GENERIC_WRITE) == 0)
        return Fail(ERROR_ACCESS_DENIED); // a request for write access
    if (machine_->platformId != VER_PLATFORM_WIN32_NT ||
        machine_->buildNumber < kFirstBuildWithSanitizeMethod)
        return Fail(ERROR_NOT_SUPPORTED);
    STORAGE_REINITIALIZE_MEDIA r{};
    if (in == nullptr || inSize < sizeof r)
        return Fail(ERROR_NOT_SUPPORTED);
    std::memcpy(&r, in, sizeof r);
    if (r.Version != sizeof r || r.Size != sizeof r)
        return Fail(ERROR_INVALID_PARAMETER);
    const DWORD method = r.SanitizeOption.SanitizeMethod;
    if (method != StorageSanitizeMethodBlockErase && method != StorageSanitizeMethodCryptoErase)
        return Fail(ERROR_NOT_SUPPORTED);
    for (const Drive& drive : machine_->drives)
        if (drive.disk == h.disk && !machine_->windowsDirectory.empty() &&
            drive.letter == machine_->windowsDirectory[0])
            return Fail(ERROR_NOT_SUPPORTED); // the boot disk
    std::array<BYTE, 64> sqe{};
    sqe[0] = 0x84;
    const std::uint32_t sanact = method == StorageSanitizeMethodCryptoErase ? 0b100 : 0b010;
    const std::uint32_t ause = r.SanitizeOption.DisallowUnrestrictedSanitizeExit ? 0 : 1u << 3;
    Put32(&sqe[40], sanact | ause);
    DWORD dw0 = 0;
    const NvmeAnswer done =
        NvmeCommand(lock, controller, sqe.data(), nullptr, 0, r.TimeoutInSeconds, &dw0);
    if (done.systemError != 0)
        return Fail(done.systemError);
    if (done.status != 0)
        return Fail(ERROR_IO_DEVICE);
    FirmwareDrive& f = *controller.firmware;
    if (!f.reinitializeWaits)
        return TRUE;
    // The driver follows the sanitize itself, a status poll a second, until it ends or the
    // request's time is up; the drive works on either way.
    STORAGE_PROTOCOL_SPECIFIC_DATA sanitizeLog{};
    sanitizeLog.ProtocolType = ProtocolTypeNvme;
    sanitizeLog.DataType = NVMeDataTypeLogPage;
    sanitizeLog.ProtocolDataRequestValue = 0x81;
    sanitizeLog.ProtocolDataLength = 512;
    std::array<BYTE, 64> poll{};
    DWORD length = 0;
    QueryCommand(sanitizeLog, true, false, own.nsid, poll, length); // as its own query would
    std::array<BYTE, 512> log{};
    for (DWORD waited = 0; f.running != FirmwareDrive::Operation::None; ++waited) {
        if (waited >= r.TimeoutInSeconds)
            return Fail(ERROR_SEM_TIMEOUT);
        DriveWorks(lock, 1000);
        NvmeCommand(lock, controller, poll.data(), log.data(), 512, 30, &dw0);
    }
    return f.lastSanitize == 1 ? TRUE : Fail(ERROR_IO_DEVICE);
}

} // namespace platform::sim
