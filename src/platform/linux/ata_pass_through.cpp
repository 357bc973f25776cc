#include "platform/linux/ata_pass_through.h"

#include "platform/linux/errors.h"
#include "platform/sense.h"
#include "platform/storage_pass_through.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <scsi/sg.h>

namespace platform::linux_backend {

namespace {

constexpr std::uint8_t kAtaPassThrough16 = 0x85;
// Protocols of the command block.
constexpr std::uint8_t kNonData = 3;
constexpr std::uint8_t kPioDataIn = 4;
constexpr std::uint8_t kPioDataOut = 5;
constexpr std::uint8_t kDma = 6;
// Byte 2: CK_COND (return the registers), T_DIR (from the device), BYT_BLOK (blocks), and
// T_LENGTH 2 (the length is in the count register).
constexpr std::uint8_t kCheckCondition = 0x20;
constexpr std::uint8_t kFromDevice = 0x08;
constexpr std::uint8_t kBlocks = 0x04;
constexpr std::uint8_t kLengthInCount = 0x02;

constexpr unsigned kDidNoConnect = 0x01;
constexpr unsigned kDidTimeOut = 0x03;
constexpr unsigned kDriverSense = 0x08;

// Status register: DRDY, and ERR; error register: ABRT.
constexpr std::uint8_t kReady = 0x50;
constexpr std::uint8_t kStatusError = 0x01;
constexpr std::uint8_t kAborted = 0x04;

} // namespace

void AtaPassThrough16(const void* request, std::uint8_t cdb[16]) {
    ATA_PASS_THROUGH_EX ata;
    std::memcpy(&ata, request, sizeof ata);
    const bool extend = (ata.AtaFlags & ATA_FLAGS_48BIT_COMMAND) != 0;
    const bool in = (ata.AtaFlags & ATA_FLAGS_DATA_IN) != 0;
    const bool out = (ata.AtaFlags & ATA_FLAGS_DATA_OUT) != 0;
    const bool data = ata.DataTransferLength > 0 && (in || out);
    const std::uint8_t protocol = !data                                     ? kNonData
                                  : (ata.AtaFlags & ATA_FLAGS_USE_DMA) != 0 ? kDma
                                  : in                                      ? kPioDataIn
                                                                            : kPioDataOut;
    const std::uint8_t* now = ata.CurrentTaskFile;
    const std::uint8_t* before = ata.PreviousTaskFile;
    std::memset(cdb, 0, 16);
    cdb[0] = kAtaPassThrough16;
    cdb[1] = static_cast<std::uint8_t>(protocol << 1 | (extend ? 1 : 0));
    // The registers are asked back (CK_COND) only for a command without data, whose answer
    // they are (a sanitize status). After a data transfer libata reports a status that still
    // shows the data request as ABORTED COMMAND with no registers (seen with 6.1 over
    // AHCI), so a good IDENTIFY would read as failed; a failing command brings its registers
    // back all the same.
    if (data)
        cdb[2] = static_cast<std::uint8_t>((in ? kFromDevice : 0) | kBlocks | kLengthInCount);
    else
        cdb[2] = kCheckCondition;
    cdb[3] = extend ? before[0] : 0;  // features (15:8)
    cdb[4] = now[0];                  // features (7:0)
    cdb[5] = extend ? before[1] : 0;  // count (15:8)
    cdb[6] = now[1];                  // count (7:0)
    cdb[7] = extend ? before[2] : 0;  // LBA (31:24)
    cdb[8] = now[2];                  // LBA (7:0)
    cdb[9] = extend ? before[3] : 0;  // LBA (39:32)
    cdb[10] = now[3];                 // LBA (15:8)
    cdb[11] = extend ? before[4] : 0; // LBA (47:40)
    cdb[12] = now[4];                 // LBA (23:16)
    cdb[13] = now[5];                 // device
    cdb[14] = now[6];                 // command
}

DWORD AtaPassThrough(int fd, const void* in, DWORD inSize, void* out, DWORD outSize,
                     DWORD* returned, const SgIoCall& call) {
    if (returned != nullptr)
        *returned = 0;
    if (in == nullptr || out == nullptr || inSize < sizeof(ATA_PASS_THROUGH_EX) || outSize < inSize)
        return ERROR_INVALID_PARAMETER;
    auto* base = static_cast<std::uint8_t*>(out);
    if (in != out)
        std::memmove(base, in, inSize);
    ATA_PASS_THROUGH_EX request;
    std::memcpy(&request, base, sizeof request);
    if (request.Length != sizeof(ATA_PASS_THROUGH_EX))
        return ERROR_INVALID_PARAMETER;
    const bool toDevice = (request.AtaFlags & ATA_FLAGS_DATA_OUT) != 0;
    const bool fromDevice = (request.AtaFlags & ATA_FLAGS_DATA_IN) != 0;
    if (toDevice && fromDevice)
        return ERROR_INVALID_PARAMETER;
    const std::uint32_t length = request.DataTransferLength;
    if (length > 0 &&
        (request.DataBufferOffset < sizeof request || request.DataBufferOffset > outSize ||
         length > outSize - request.DataBufferOffset || length % 512 != 0))
        return ERROR_INVALID_PARAMETER;

    std::uint8_t cdb[16];
    AtaPassThrough16(base, cdb);
    std::uint8_t sense[64] = {};
    sg_io_hdr_t header{};
    header.interface_id = 'S';
    header.cmd_len = sizeof cdb;
    header.cmdp = cdb;
    header.mx_sb_len = sizeof sense;
    header.sbp = sense;
    header.dxfer_len = length;
    header.dxferp = length > 0 ? base + request.DataBufferOffset : nullptr;
    header.dxfer_direction = length == 0  ? SG_DXFER_NONE
                             : fromDevice ? SG_DXFER_FROM_DEV
                                          : SG_DXFER_TO_DEV;
    const std::optional<DWORD> timeout = PassThroughMilliseconds(request.TimeOutValue);
    if (!timeout)
        return ERROR_INVALID_PARAMETER;
    header.timeout = *timeout;
    if (call(fd, &header) != 0)
        return errno == ENOTTY || errno == EINVAL ? ERROR_INVALID_FUNCTION
                                                  : Win32ErrorFromErrno(errno);
    if (header.host_status == kDidTimeOut)
        return ERROR_SEM_TIMEOUT;
    if (header.host_status != 0 || (header.driver_status & ~kDriverSense) != 0)
        return header.host_status == kDidNoConnect ? ERROR_NOT_READY : ERROR_IO_DEVICE;

    ATA_PASS_THROUGH_EX answer = request;
    std::memset(answer.CurrentTaskFile, 0, sizeof answer.CurrentTaskFile);
    std::memset(answer.PreviousTaskFile, 0, sizeof answer.PreviousTaskFile);
    // The registers come back in the sense data, in either format.
    const TSense decoded = DecodeSense(sense, header.sb_len_wr);
    if (decoded.Ata) {
        std::memcpy(answer.CurrentTaskFile, decoded.Ata->Current, sizeof answer.CurrentTaskFile);
        std::memcpy(answer.PreviousTaskFile, decoded.Ata->Previous, sizeof answer.PreviousTaskFile);
    } else if (header.status != 0) {
        // No registers: a translation that refuses the command block has no ATA drive behind
        // it (ILLEGAL REQUEST, invalid opcode or field); else the drive failed it.
        if (decoded.Key == 0x05 && (decoded.Asc == 0x20 || decoded.Asc == 0x24))
            return ERROR_INVALID_FUNCTION;
        answer.CurrentTaskFile[6] = kReady | kStatusError;
        answer.CurrentTaskFile[0] = kAborted;
    } else {
        answer.CurrentTaskFile[6] = kReady; // done, with no registers to tell
    }
    const int resid = std::clamp<int>(header.resid, 0, static_cast<int>(length));
    answer.DataTransferLength = length - static_cast<ULONG>(resid);
    std::memcpy(base, &answer, sizeof answer);
    if (returned != nullptr)
        *returned = length > 0 ? static_cast<DWORD>(request.DataBufferOffset) + length
                               : static_cast<DWORD>(sizeof answer);
    return ERROR_SUCCESS;
}

} // namespace platform::linux_backend
