// The SCSI Multi-Media Commands the program sends to optical drives, independent of the way
// they travel (scsi/): the command blocks byte for byte and what the answers hold. Every
// command returns a one-byte result code (0 success).
#pragma once

#include "scsi/cdb.h"
#include "scsi/immediate_wait.h"
#include "scsi/inquiry.h"
#include "scsi/transport.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace purgelet {

inline constexpr std::size_t kInquiryLength = 165;

inline constexpr std::size_t kDiscInformationLength = 34;
inline constexpr std::size_t kCapabilitiesLength = 159;

// What PrepareToWrite found.
struct TDiscStatus {
    std::uint8_t FailedStep = 0; // 0 none, 1 not an optical drive, 2 READ DISC INFORMATION,
                                 // 3 opening the unit or TEST UNIT READY
    std::uint8_t ResultCode = 0;
    bool Erasable = false;
    std::uint8_t DiscStatus = 0; // 0 empty, 1 incomplete, 2 complete, 3 other
    std::uint32_t Spare1 = 0, Spare2 = 0;
    std::uint8_t DiscInformation[kDiscInformationLength] = {};
};

// Called while an immediate command is still running; false ends the wait (rcWaitStopped).
// An exception leaves the command through the transport's clean-up.
using TBusyEvent = std::function<bool(const TSCSIAddress& Address)>;

// Progress sink of WriteImage. The base class does nothing.
class TBurningIO {
public:
    virtual ~TBurningIO() = default;
    virtual void Unused() {}
    virtual void ReportProgress(std::uint8_t Kind, double BufferFill, double Done);
    virtual void ReportStage(std::uint8_t Stage);
};

// WriteImage's report: the step reached and the last result code.
struct TWriteReport {
    std::uint8_t Step = 0;
    std::uint8_t Code = 0;
};

// The command blocks. lunBits is the LUN shifted into byte 1 (ASPI only, where it applies).
namespace mmc {
TCdb TestUnitReady();
TCdb Inquiry();
TCdb ModeSenseCapabilities(std::uint8_t byte1); // 08h + LUN bits through ASPI, 00h else
TCdb ReadDiscInformation();
TCdb Blank(bool full);
TCdb StartStopUnitEject();
TCdb ModeSenseWriteParameters(std::uint8_t lunBits);
TCdb ModeSelect(std::uint8_t lunBits, std::uint16_t length);
TCdb ReadTrackInformation(std::uint32_t track);
TCdb ReadBufferCapacity();
TCdb Write10(std::uint32_t lba, std::uint16_t blocks);
TCdb SynchronizeCache();
TCdb CloseTrack();
TCdb CloseSession();
} // namespace mmc

} // namespace purgelet
