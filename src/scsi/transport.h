// The one primitive every command set builds on: execute a command descriptor block with its
// data direction, buffer and time limit, and get back how the request went, the SCSI status
// and the sense data. The transports (NT pass-through, ASPI) implement it; on Linux the
// pass-through requests reach SG_IO through the platform's back-end.
#pragma once

#include "scsi/cdb.h"
#include "scsi/sense.h"

#include <cstddef>
#include <cstdint>

namespace purgelet {

// Where an ASPI unit sits. Pass-through devices have an all-zero address.
struct TSCSIAddress {
    std::uint8_t HaId = 0;
    std::uint8_t Target = 0;
    std::uint8_t Lun = 0;
};

// One-byte result codes: those of StatusToResult, and these.
inline constexpr std::uint8_t rcSuccess = 0;
inline constexpr std::uint8_t rcRequestFailed = 5; // the pass-through request itself failed
inline constexpr std::uint8_t rcUnknown = 10;
inline constexpr std::uint8_t rcTimedOut = 27;    // a wait ran out: the request was given up
inline constexpr std::uint8_t rcWaitStopped = 28; // the busy callback asked to stop waiting

// ASPI request status, host adapter status and target status to a result code. The
// pass-through transport passes the SCSI status as the request status and 0 for the rest.
std::uint8_t StatusToResult(std::uint8_t request, std::uint8_t adapter, std::uint8_t target);

inline constexpr std::uint8_t kScsiStatusGood = 0x00;
inline constexpr std::uint8_t kScsiStatusCheckCondition = 0x02;

enum class TScsiOutcome {
    Completed, // the request came back; the statuses say how the command went
    NotSent,   // the system refused the request (SystemError says why)
    TimedOut,  // the request did not complete in time and was given up
};

struct TScsiResult {
    TScsiOutcome Outcome = TScsiOutcome::Completed;
    std::uint8_t Code = rcSuccess; // the one-byte result code of the whole request
    // The transport's own request status: the ASPI request block's, or for pass-through
    // the SCSI status itself (so 0 and 1 both mean the command was taken).
    std::uint8_t RequestStatus = 0;
    std::uint8_t ScsiStatus = kScsiStatusGood;
    std::uint32_t SystemError = 0; // the system's error code when NotSent
    std::uint32_t Transferred = 0; // data bytes moved, as the transport reports them
    std::uint8_t SenseData[128] = {};
    std::size_t SenseLength = 0; // bytes of SenseData returned with CHECK CONDITION

    bool Taken() const {
        return Outcome == TScsiOutcome::Completed && (RequestStatus == 0 || RequestStatus == 1);
    }
    TSense Sense() const { return DecodeSense(SenseData, SenseLength); }

    // A request that never reached the device, with the system's error code.
    static TScsiResult NotSent(std::uint32_t systemError) {
        TScsiResult result;
        result.Outcome = TScsiOutcome::NotSent;
        result.Code = rcRequestFailed;
        result.SystemError = systemError;
        return result;
    }
};

class TScsiTransport {
public:
    virtual ~TScsiTransport() = default;
    // Sends cdb; data holds cdb.DataLength bytes in the direction cdb.Direction says (the
    // answer, or the bytes to send). timeoutSeconds bounds the request.
    virtual TScsiResult Execute(const TCdb& cdb, std::uint8_t* data,
                                std::uint32_t timeoutSeconds) = 0;
};

} // namespace purgelet
