// The request formats that carry a drive's own commands past the disk driver: the ATA
// pass-through request (a task file and its data) and the storage protocol command (an NVMe
// admin command and its data). Windows builds take the ATA request from the system's headers
// and the protocol code from winioctl.h; mingw has no protocol command structure, so it is
// declared here on every build. 32-bit builds keep the published layouts (asserted below);
// 64-bit builds keep pointer-sized fields pointer-sized, with natural layouts.
#pragma once

#include "platform/scsi.h"
#include "platform/winapi.h"

#include <cstddef>

#ifndef _WIN32

struct ATA_PASS_THROUGH_EX {
    USHORT Length;
    USHORT AtaFlags;
    UCHAR PathId;
    UCHAR TargetId;
    UCHAR Lun;
    UCHAR ReservedAsUchar;
    ULONG DataTransferLength;
    ULONG TimeOutValue;
    ULONG ReservedAsUlong;
    ULONG_PTR DataBufferOffset;
    // 48-bit commands: the high-order bytes of the registers (feature, count, LBA low, mid,
    // high, then device, command, reserved as in the current file).
    UCHAR PreviousTaskFile[8];
    // Feature (error on return), count, LBA low, LBA mid, LBA high, device, command (status
    // on return), reserved.
    UCHAR CurrentTaskFile[8];
};

#define IOCTL_ATA_PASS_THROUGH 0x0004D02CUL
#define IOCTL_ATA_PASS_THROUGH_DIRECT 0x0004D030UL
#define ATA_FLAGS_DRDY_REQUIRED (1 << 0)
#define ATA_FLAGS_DATA_IN (1 << 1)
#define ATA_FLAGS_DATA_OUT (1 << 2)
#define ATA_FLAGS_48BIT_COMMAND (1 << 3)
#define ATA_FLAGS_USE_DMA (1 << 4)

enum STORAGE_PROTOCOL_TYPE {
    ProtocolTypeUnknown = 0x00,
    ProtocolTypeScsi,
    ProtocolTypeAta,
    ProtocolTypeNvme,
    ProtocolTypeSd,
    ProtocolTypeUfs,
    ProtocolTypeProprietary = 0x7E,
    ProtocolTypeMaxReserved = 0x7F
};

#define IOCTL_STORAGE_PROTOCOL_COMMAND 0x002DD3C0UL

// The storage property query of protocol data (StorageDeviceProtocolSpecificProperty): the
// query's AdditionalParameters hold this block, and the answer gives it back after a
// descriptor header with the data ProtocolDataOffset bytes from its start.
enum STORAGE_PROTOCOL_NVME_DATA_TYPE {
    NVMeDataTypeUnknown = 0,
    NVMeDataTypeIdentify,
    NVMeDataTypeLogPage,
    NVMeDataTypeFeature
};

struct STORAGE_PROTOCOL_SPECIFIC_DATA {
    STORAGE_PROTOCOL_TYPE ProtocolType;
    DWORD DataType;
    DWORD ProtocolDataRequestValue;    // NVMe Identify: the CNS
    DWORD ProtocolDataRequestSubValue; // NVMe Identify: the namespace id, 0 the handle's
    DWORD ProtocolDataOffset;
    DWORD ProtocolDataLength;
    DWORD FixedProtocolReturnData;
    DWORD ProtocolDataRequestSubValue2;
    DWORD ProtocolDataRequestSubValue3;
    DWORD ProtocolDataRequestSubValue4;
};

struct STORAGE_PROTOCOL_DATA_DESCRIPTOR {
    DWORD Version;
    DWORD Size;
    STORAGE_PROTOCOL_SPECIFIC_DATA ProtocolSpecificData;
};

#endif // _WIN32

// Not in mingw's headers: the same names and values on every build.
struct STORAGE_PROTOCOL_COMMAND {
    DWORD Version; // STORAGE_PROTOCOL_STRUCTURE_VERSION
    DWORD Length;  // sizeof(STORAGE_PROTOCOL_COMMAND)
    STORAGE_PROTOCOL_TYPE ProtocolType;
    DWORD Flags;
    DWORD ReturnStatus; // STORAGE_PROTOCOL_STATUS_*
    DWORD ErrorCode;
    DWORD CommandLength;
    DWORD ErrorInfoLength;
    DWORD DataToDeviceTransferLength;
    DWORD DataFromDeviceTransferLength;
    DWORD TimeOutValue;
    DWORD ErrorInfoOffset;
    DWORD DataToDeviceBufferOffset;
    DWORD DataFromDeviceBufferOffset;
    DWORD CommandSpecific; // STORAGE_PROTOCOL_SPECIFIC_NVME_*_COMMAND
    DWORD Reserved0;
    DWORD FixedProtocolReturnData; // NVMe: the completion queue entry's DW0
    DWORD Reserved1[3];
    BYTE Command[1]; // CommandLength bytes: the 64-byte submission queue entry
};

// Erasing a disk's media through its own driver (ntddstor.h). From Windows 10 21H1 and Server
// 2022 the request may carry STORAGE_REINITIALIZE_MEDIA naming the sanitize method, which
// the NVMe driver sends as a Sanitize command; before that it takes no method. mingw's
// winioctl.h has the code but not the structure.
#ifndef IOCTL_STORAGE_REINITIALIZE_MEDIA
#define IOCTL_STORAGE_REINITIALIZE_MEDIA 0x002D9640UL
#endif
enum STORAGE_SANITIZE_METHOD {
    StorageSanitizeMethodDefault = 0,
    StorageSanitizeMethodBlockErase,
    StorageSanitizeMethodCryptoErase
};
struct STORAGE_REINITIALIZE_MEDIA {
    DWORD Version; // sizeof(STORAGE_REINITIALIZE_MEDIA)
    DWORD Size;    // sizeof(STORAGE_REINITIALIZE_MEDIA)
    DWORD TimeoutInSeconds;
    struct {
        DWORD SanitizeMethod : 4; // STORAGE_SANITIZE_METHOD
        // Set: a failed sanitize leaves the drive in restricted completion mode (NVMe AUSE 0).
        DWORD DisallowUnrestrictedSanitizeExit : 1;
        DWORD Reserved : 27;
    } SanitizeOption;
};
// The first builds whose driver reads the sanitize method: Windows 10 21H1 (19043); Server
// 2022 (20348) and Windows 11 come after it.
inline constexpr DWORD kFirstBuildWithSanitizeMethod = 19043;

#ifndef STORAGE_PROTOCOL_STRUCTURE_VERSION
#define STORAGE_PROTOCOL_STRUCTURE_VERSION 0x1
#endif
#ifndef STORAGE_PROTOCOL_COMMAND_FLAG_ADAPTER_REQUEST
#define STORAGE_PROTOCOL_COMMAND_FLAG_ADAPTER_REQUEST 0x80000000UL
#endif
#ifndef STORAGE_PROTOCOL_STATUS_PENDING
#define STORAGE_PROTOCOL_STATUS_PENDING 0x0
#define STORAGE_PROTOCOL_STATUS_SUCCESS 0x1
#define STORAGE_PROTOCOL_STATUS_ERROR 0x2
#define STORAGE_PROTOCOL_STATUS_INVALID_REQUEST 0x3
#define STORAGE_PROTOCOL_STATUS_NO_DEVICE 0x4
#define STORAGE_PROTOCOL_STATUS_BUSY 0x5
#define STORAGE_PROTOCOL_STATUS_DATA_OVERRUN 0x6
#define STORAGE_PROTOCOL_STATUS_INSUFFICIENT_RESOURCES 0x7
#define STORAGE_PROTOCOL_STATUS_NOT_SUPPORTED 0xFF
#endif
#ifndef STORAGE_PROTOCOL_COMMAND_LENGTH_NVME
#define STORAGE_PROTOCOL_COMMAND_LENGTH_NVME 0x40
#endif
#ifndef STORAGE_PROTOCOL_SPECIFIC_NVME_ADMIN_COMMAND
#define STORAGE_PROTOCOL_SPECIFIC_NVME_ADMIN_COMMAND 0x01
#define STORAGE_PROTOCOL_SPECIFIC_NVME_NVM_COMMAND 0x02
#endif

static_assert(IOCTL_ATA_PASS_THROUGH == 0x4D02C && IOCTL_ATA_PASS_THROUGH_DIRECT == 0x4D030);
static_assert(ATA_FLAGS_DRDY_REQUIRED == 1 && ATA_FLAGS_DATA_IN == 2 && ATA_FLAGS_DATA_OUT == 4 &&
              ATA_FLAGS_48BIT_COMMAND == 8 && ATA_FLAGS_USE_DMA == 0x10);
static_assert(IOCTL_STORAGE_PROTOCOL_COMMAND == 0x2DD3C0);
static_assert(ProtocolTypeNvme == 3 && ProtocolTypeAta == 2);
static_assert(sizeof(STORAGE_PROTOCOL_TYPE) == 4);
static_assert(StorageDeviceProtocolSpecificProperty == 50 &&
              StorageAdapterProtocolSpecificProperty == 49);
static_assert(NVMeDataTypeIdentify == 1 && NVMeDataTypeLogPage == 2);
static_assert(IOCTL_STORAGE_REINITIALIZE_MEDIA == 0x2D9640); // CTL_CODE(2Dh, 590h, buffered, write)
static_assert(sizeof(STORAGE_REINITIALIZE_MEDIA) == 16 && StorageSanitizeMethodCryptoErase == 2);
static_assert(sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA) == 40 &&
              sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR) == 48 &&
              offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataOffset) == 16);
static_assert(STORAGE_PROTOCOL_STRUCTURE_VERSION == 1 &&
              STORAGE_PROTOCOL_COMMAND_FLAG_ADAPTER_REQUEST == 0x80000000UL);
static_assert(STORAGE_PROTOCOL_STATUS_SUCCESS == 1 && STORAGE_PROTOCOL_STATUS_ERROR == 2 &&
              STORAGE_PROTOCOL_STATUS_INVALID_REQUEST == 3 &&
              STORAGE_PROTOCOL_STATUS_NOT_SUPPORTED == 0xFF);
static_assert(STORAGE_PROTOCOL_COMMAND_LENGTH_NVME == 64 &&
              STORAGE_PROTOCOL_SPECIFIC_NVME_ADMIN_COMMAND == 1);
// No pointer fields: the same layout on every build.
static_assert(sizeof(STORAGE_PROTOCOL_COMMAND) == 84);
static_assert(offsetof(STORAGE_PROTOCOL_COMMAND, ReturnStatus) == 16 &&
              offsetof(STORAGE_PROTOCOL_COMMAND, CommandSpecific) == 56 &&
              offsetof(STORAGE_PROTOCOL_COMMAND, FixedProtocolReturnData) == 64 &&
              offsetof(STORAGE_PROTOCOL_COMMAND, Command) == 80);
static_assert(offsetof(ATA_PASS_THROUGH_EX, DataTransferLength) == 8 &&
              offsetof(ATA_PASS_THROUGH_EX, DataBufferOffset) % sizeof(ULONG_PTR) == 0);
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(ATA_PASS_THROUGH_EX) == 40);
static_assert(offsetof(ATA_PASS_THROUGH_EX, DataBufferOffset) == 20 &&
              offsetof(ATA_PASS_THROUGH_EX, PreviousTaskFile) == 24 &&
              offsetof(ATA_PASS_THROUGH_EX, CurrentTaskFile) == 32);
#else
static_assert(sizeof(ATA_PASS_THROUGH_EX) == 48);
static_assert(offsetof(ATA_PASS_THROUGH_EX, DataBufferOffset) == 24 &&
              offsetof(ATA_PASS_THROUGH_EX, CurrentTaskFile) == 40);
#endif

namespace platform {

// The header of a protocol-data query's answer as a driver writes it: the block asked for,
// with its data (length bytes) right after the block.
inline STORAGE_PROTOCOL_DATA_DESCRIPTOR
ProtocolDataAnswer(const STORAGE_PROTOCOL_SPECIFIC_DATA& asked, DWORD length,
                   DWORD returnData = 0) {
    STORAGE_PROTOCOL_DATA_DESCRIPTOR answer{};
    answer.Version = sizeof answer;
    answer.Size = sizeof answer;
    answer.ProtocolSpecificData = asked;
    answer.ProtocolSpecificData.ProtocolDataOffset = sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA);
    answer.ProtocolSpecificData.ProtocolDataLength = length;
    answer.ProtocolSpecificData.FixedProtocolReturnData = returnData;
    return answer;
}

} // namespace platform
