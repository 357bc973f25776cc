// The SCSI Multi-Media Commands the program sends to optical drives, independent of the way
// they travel: result codes, the command blocks byte for byte, the decoding of the answers
// and the byte-order helpers. Every command returns a one-byte result code (0 success).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace purgelet {

// Where an ASPI unit sits. Pass-through devices have an all-zero address.
struct TSCSIAddress {
    std::uint8_t HaId = 0;
    std::uint8_t Target = 0;
    std::uint8_t Lun = 0;
};

// Result codes beyond those of StatusToResult.
inline constexpr std::uint8_t rcSuccess = 0;
inline constexpr std::uint8_t rcRequestFailed = 5; // the pass-through request itself failed
inline constexpr std::uint8_t rcUnknown = 10;
inline constexpr std::uint8_t rcTimedOut = 27;    // a wait ran out: the request was given up
inline constexpr std::uint8_t rcWaitStopped = 28; // the busy callback asked to stop waiting

// How long an immediate command (BLANK, SYNCHRONIZE CACHE, CLOSE TRACK/SESSION) may keep the
// drive busy before the wait gives up with rcTimedOut: two hours, more than a full blank of
// an 80-minute CD-RW or a 4.7 GB DVD-RW at 1x (about 80 and 57 minutes).
inline constexpr std::uint32_t kImmediateWaitLimitMs = 2u * 60u * 60u * 1000u;

// Device type index 0..12 and its name.
extern const char* const DeviceTypeNames[13];
inline constexpr std::uint8_t dtCDROM = 5;
// INQUIRY byte 0, qualifier bits included: below 10 itself, 1Fh 10, anything else 12.
std::uint8_t PeripheralTypeIndex(std::uint8_t b);
// A fixed-width INQUIRY text: up to width characters, stopping at a control character,
// trailing blanks dropped.
std::string CopyInquiryText(const std::uint8_t* source, std::size_t width);

std::uint16_t BigEndian16(std::uint16_t value);
std::uint32_t BigEndian32(std::uint32_t value);
// The big-endian field at p, and the writing of one.
std::uint16_t ReadBE16(const std::uint8_t* p);
std::uint32_t ReadBE32(const std::uint8_t* p);
void WriteBE16(std::uint8_t* p, std::uint16_t value);
void WriteBE32(std::uint8_t* p, std::uint32_t value);

// ASPI request status, host adapter status and target status to a result code. The
// pass-through transport passes the SCSI status as the request status and 0 for the rest.
std::uint8_t StatusToResult(std::uint8_t request, std::uint8_t adapter, std::uint8_t target);

// The decoded INQUIRY answer.
struct TInquiryData {
    std::uint8_t DeviceType = 0;
    std::uint8_t Removable = 0;
    std::uint8_t Version = 0;
    std::uint8_t ResponseFormat = 0;
    std::uint8_t Flags = 0;
    std::string Vendor;
    std::string Product;
};
inline constexpr std::size_t kInquiryLength = 165;
TInquiryData DecodeInquiry(const std::uint8_t* answer);

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

enum class TDataDirection { None, In, Out };

// One command descriptor block with its data phase.
struct TCdb {
    std::uint8_t Bytes[16] = {};
    std::uint8_t Length = 0;
    TDataDirection Direction = TDataDirection::None;
    std::uint32_t DataLength = 0;
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
