// The request formats that carry SCSI commands to a drive: the NT pass-through requests of
// DeviceIoControl and the ASPI for Win32 request blocks. Windows builds take the
// pass-through structures from the system's headers; the ASPI blocks have no system header
// and are declared here on every build. 32-bit builds keep the published layouts (asserted
// below); 64-bit builds keep pointer fields as pointers, with natural layouts.
#pragma once

#include "platform/winapi.h"

#include <cstddef>
#include <optional>

#ifdef _WIN32
#include <ntddscsi.h>
#else

using USHORT = std::uint16_t;
using UCHAR = std::uint8_t;

struct SCSI_PASS_THROUGH {
    USHORT Length;
    UCHAR ScsiStatus;
    UCHAR PathId;
    UCHAR TargetId;
    UCHAR Lun;
    UCHAR CdbLength;
    UCHAR SenseInfoLength;
    UCHAR DataIn;
    ULONG DataTransferLength;
    ULONG TimeOutValue;
    ULONG_PTR DataBufferOffset;
    ULONG SenseInfoOffset;
    UCHAR Cdb[16];
};

struct SCSI_PASS_THROUGH_DIRECT {
    USHORT Length;
    UCHAR ScsiStatus;
    UCHAR PathId;
    UCHAR TargetId;
    UCHAR Lun;
    UCHAR CdbLength;
    UCHAR SenseInfoLength;
    UCHAR DataIn;
    ULONG DataTransferLength;
    ULONG TimeOutValue;
    void* DataBuffer;
    ULONG SenseInfoOffset;
    UCHAR Cdb[16];
};

#define IOCTL_SCSI_PASS_THROUGH 0x0004D004UL
#define IOCTL_SCSI_PASS_THROUGH_DIRECT 0x0004D014UL
#define IOCTL_STORAGE_MEDIA_REMOVAL 0x002D4804UL
#define IOCTL_STORAGE_EJECT_MEDIA 0x002D4808UL
#define SCSI_IOCTL_DATA_OUT 0
#define SCSI_IOCTL_DATA_IN 1

#endif // _WIN32

namespace platform {

// The longest a pass-through request (ATA, NVMe or SCSI) may be given to run, in seconds
// (TimeOutValue). The kernels carry it in 32-bit milliseconds (SG_IO, the NVMe admin ioctl)
// and reset the device when it runs out, an erase in progress with it: every back-end
// refuses a longer one with ERROR_INVALID_PARAMETER, and work that may take longer is sent
// as a short command and followed with short polls.
inline constexpr DWORD kMaxPassThroughSeconds = 24 * 60 * 60;
// A request that leaves its time limit at 0 still gets one where the kernel needs one, so a
// hung drive cannot hang us.
inline constexpr DWORD kDefaultPassThroughSeconds = 60;

// The time limit of a request whose TimeOutValue is seconds, in the milliseconds the kernels
// take: the default for 0; nothing when it is longer than kMaxPassThroughSeconds, and the
// request is refused.
inline std::optional<DWORD> PassThroughMilliseconds(ULONG seconds) {
    if (seconds > kMaxPassThroughSeconds)
        return std::nullopt;
    return (seconds > 0 ? seconds : kDefaultPassThroughSeconds) * 1000u;
}

// The pass-through request with room for 128 bytes of sense and 512 of data after its
// header (684 bytes on 32-bit builds: sense at 44, data at 172).
struct ScsiPassThroughRequest {
    SCSI_PASS_THROUGH header;
    UCHAR sense[128];
    UCHAR data[512];
};
// The direct request: the header with the caller's buffer, and 128 bytes of sense.
struct ScsiPassThroughDirectRequest {
    SCSI_PASS_THROUGH_DIRECT header;
    UCHAR sense[128];
};

// ---- ASPI for Win32.
#define SC_HA_INQUIRY 0x00
#define SC_GET_DEV_TYPE 0x01
#define SC_EXEC_SCSI_CMD 0x02
#define SC_ABORT_SRB 0x03

#define SS_PENDING 0x00
#define SS_COMP 0x01
#define SS_ABORTED 0x02
#define SS_ABORT_FAIL 0x03
#define SS_ERR 0x04
#define SS_INVALID_CMD 0x80
#define SS_INVALID_HA 0x81
#define SS_NO_DEVICE 0x82
#define SS_INVALID_SRB_VALUE 0xE0

#define SRB_DIR_IN 0x08
#define SRB_DIR_OUT 0x10
#define SRB_EVENT_NOTIFY 0x40

#define HASTAT_OK 0x00
#define TARGET_STATUS_GOOD 0x00
#define TARGET_STATUS_CHECK_CONDITION 0x02

struct SRB_HAInquiry {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    BYTE HA_Count;
    BYTE HA_SCSI_ID;
    BYTE HA_ManagerId[16];
    BYTE HA_Identifier[16];
    BYTE HA_Unique[16];
    WORD HA_Rsvd1;
};

struct SRB_GDEVBlock {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    BYTE SRB_Target;
    BYTE SRB_Lun;
    BYTE SRB_DeviceType;
    BYTE SRB_Rsvd1;
};

struct SRB_ExecSCSICmd {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    BYTE SRB_Target;
    BYTE SRB_Lun;
    WORD SRB_Rsvd1;
    DWORD SRB_BufLen;
    BYTE* SRB_BufPointer;
    BYTE SRB_SenseLen;
    BYTE SRB_CDBLen;
    BYTE SRB_HaStat;
    BYTE SRB_TargStat;
    HANDLE SRB_PostProc;
    BYTE SRB_Rsvd2[20];
    BYTE CDBByte[16];
    BYTE SenseArea[20];
};

struct SRB_Abort {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    void* SRB_ToAbort;
};

} // namespace platform

static_assert(IOCTL_SCSI_PASS_THROUGH == 0x4D004 && IOCTL_SCSI_PASS_THROUGH_DIRECT == 0x4D014);
static_assert(IOCTL_STORAGE_MEDIA_REMOVAL == 0x2D4804 && IOCTL_STORAGE_EJECT_MEDIA == 0x2D4808);
static_assert(SCSI_IOCTL_DATA_IN == 1 && SCSI_IOCTL_DATA_OUT == 0);
static_assert(sizeof(platform::SRB_HAInquiry) == 60 && sizeof(platform::SRB_GDEVBlock) == 12);
static_assert(offsetof(platform::SRB_HAInquiry, HA_Unique) == 42);
static_assert(offsetof(platform::SRB_ExecSCSICmd, SRB_BufLen) == 12);
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(SCSI_PASS_THROUGH) == 44 && sizeof(SCSI_PASS_THROUGH_DIRECT) == 44);
static_assert(offsetof(SCSI_PASS_THROUGH, Cdb) == 28 &&
              offsetof(SCSI_PASS_THROUGH, DataBufferOffset) == 20);
static_assert(sizeof(platform::ScsiPassThroughRequest) == 684);
static_assert(offsetof(platform::ScsiPassThroughRequest, sense) == 44 &&
              offsetof(platform::ScsiPassThroughRequest, data) == 172);
static_assert(sizeof(platform::ScsiPassThroughDirectRequest) == 172);
static_assert(sizeof(platform::SRB_ExecSCSICmd) == 84 && sizeof(platform::SRB_Abort) == 12);
static_assert(offsetof(platform::SRB_ExecSCSICmd, SRB_PostProc) == 24 &&
              offsetof(platform::SRB_ExecSCSICmd, CDBByte) == 48 &&
              offsetof(platform::SRB_ExecSCSICmd, SenseArea) == 64);
#endif
