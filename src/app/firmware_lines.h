// The words for a method's firmware step on the drives of a selection: per drive, the command
// that will be sent, or why none can be. The method page, the confirmation and the job's check
// before a run all say it the same way.
#pragma once

#include "methods/method.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace purgelet {

class TDisk;
class TWipeContext;

struct TFirmwareLine {
    TDisk* Disk = nullptr; // not owned
    bool Possible = false;
    std::string Command; // empty when refused
    std::string Reason;  // empty when possible
    // The command reaches every namespace of the drive, this many; 0: the disk's own only.
    std::uint32_t DriveNamespaces = 0;
};

// One entry per disk, in order, each in the scope the whole selection holds of its drive;
// probes each whole disk once (the disk keeps the probe).
std::vector<TFirmwareLine> FirmwareLines(const std::vector<TDisk*>& disks, TFirmwareStep step);

// The command, and for one that reaches the drive's other namespaces "<command>: the whole
// drive, N namespaces".
std::string FirmwareCommandText(const TFirmwareLine& line);
// "<drive>: <command text>" or "<drive>: cannot be sanitized: <reason>".
std::string FirmwareLineText(const TFirmwareLine& line);

// Each drive with why it cannot take the step (empty where it can), as a refused run's record
// names them.
std::vector<std::pair<TDisk*, std::string>>
FirmwareReasons(const std::vector<TFirmwareLine>& lines);

// The drives that cannot take the step, worded as one message for the user; empty when every
// drive can.
std::string FirmwareRefusalMessage(const std::vector<TFirmwareLine>& lines);

// The words for a whole disk whose erase left its temporary security password on the drive,
// with the password (the user needs it to unlock the drive), from what its wipe found; empty
// when none is left.
std::string PasswordLeftMessage(const TDisk& disk, const TWipeContext& wipe);

} // namespace purgelet
