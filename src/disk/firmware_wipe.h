// A whole disk's firmware sanitize around the pass engine: the drive's own erase is sent
// after the volumes are locked and the disk is open for writing, with blocks sampled across
// the disk beforehand and read again afterwards, so that a drive that reports success
// without erasing is caught. The overwrite passes of the method, if any, follow through the
// same engine.
#pragma once

#include "methods/method.h"
#include "report/exceptions.h"
#include "sanitize/firmware_drive.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace purgelet {

class TDisk;
class TPhysicalDisk;
class TWipeContext;

// The drive's erase failed, was refused, timed out, or left old data behind. ErrorText says
// which, in words.
class XFirmware : public XGenericError {
public:
    using XGenericError::XGenericError;
};

TFirmwareOperation OperationOf(TFirmwareStep step);

// Why a drive cannot take an operation, in the user's words (frozen says what to do; other
// namespaces says how many the drive has).
std::string FirmwareRefusalText(TFirmwareRefusal refusal, std::uint32_t driveNamespaces = 0);

// What was done to one drive by its own erase, for the report and the record.
struct TFirmwareRecord {
    std::string Command;
    TFirmwareStatus Status = TFirmwareStatus::NotAccepted;
    std::string DriveStatus;
    bool Accepted = false;
    bool PasswordSet = false;
    bool PasswordRemoved = false;
    std::string Password; // the temporary password, as the user types it to unlock the drive
    // The verification: blocks sampled before, how many changed, how many held one repeated
    // byte before and after (no data either way), how many still hold their old data, and
    // for block erase with a reported byte how many do not hold it.
    bool Verified = false; // the read-back ran
    int Sampled = 0;
    int Changed = 0;
    int Blank = 0;
    int Unchanged = 0;
    int NotErasedByte = 0;
    std::optional<std::uint8_t> ErasedByte;

    // The temporary password stays on the drive: the user needs it to unlock the drive.
    bool PasswordLeft() const { return PasswordSet && !PasswordRemoved; }

    bool Passed() const {
        return Status == TFirmwareStatus::Completed && Verified && Unchanged == 0 &&
               NotErasedByte == 0;
    }
};

// The NVMe drives (their TFirmwareUnit::Controller) every active namespace of which is among
// disks as a whole disk that may be written, each once: the drives a command may be sent to
// that reaches all of their namespaces. Probes each whole disk once (the disk keeps it).
std::vector<std::string> WholeFirmwareDrives(const std::vector<TDisk*>& disks);
// The scope a run holds of drive, given its whole drives.
TFirmwareScope ScopeOf(const TFirmwareDrive& drive, const std::vector<std::string>& wholeDrives);

// What a drive would be sent for a step in a run of whole drives, without touching it:
// refused NoCommandSet for a disk that is no whole disk (a drive letter, a disc).
struct TFirmwarePlan {
    bool WholeDisk = false;
    TFirmwareChoice Choice;
};
TFirmwarePlan PlanFirmware(TDisk& disk, TFirmwareStep step,
                           const std::vector<std::string>& wholeDrives);

// The block numbers sampled on a disk of count blocks: 64 spread evenly, the first and the
// last, each once, in ascending order.
std::vector<std::int64_t> SampleBlocks(std::int64_t count);

// Runs the step on the open whole disk (called from its Wipe), in the scope the wipe's
// WholeFirmwareDrives give: samples, sends, follows the drive's progress into the wipe's
// sink, verifies. Fills the wipe's Firmware record; raises XFirmware for every way it
// failed, XAbort for an abort asked before the drive took the command (or, deferred, after
// it finished).
void RunFirmwareStep(TPhysicalDisk& disk, TWipeContext& wipe, TFirmwareDrive& drive,
                     TFirmwareStep step);

} // namespace purgelet
