// A storage device's own erase: the firmware sanitize commands of ATA drives (through the
// ATA pass-through request) and NVMe drives (through the storage protocol command). A whole
// disk opened as \\.\PhysicalDriveN is probed once; the probe tells which command each
// operation would send, or why none can be sent, before anything is written; Run sends it
// and follows the drive until it reports the end. Every call goes through platform's
// DeviceIoControl, so the simulated PC's emulated drives answer the same requests as real ones.
#pragma once

#include "platform/winapi.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace purgelet {

// What a method asks of the drive.
enum class TFirmwareOperation {
    CryptoErase, // change the media encryption key: every block becomes unreadable noise
    BlockErase,  // erase every flash block (or the drive's whole media) to its erased state
};

enum class TCommandSet { None, Ata, Nvme };

// Why an operation cannot be sent to a drive.
enum class TFirmwareRefusal {
    None,
    NoCommandSet, // the device answers neither ATA nor NVMe commands (a partition, a stick...)
    Unsupported,  // the drive supports neither the sanitize command nor its fallback for it
    Frozen,       // ATA: the security or sanitize feature is frozen until a power cycle
    Locked,       // ATA: the drive is locked by a password we do not know
    PasswordSet,  // ATA: security is enabled with a password we do not know (no fallback)
    TooLong,      // the drive's erase is one command that would outlast what a request may wait
    // NVMe: the only command for the operation reaches every namespace of the drive, and not
    // all of them are in the run as whole disks that may be written
    OtherNamespaces,
    // The drive has the command, but this system's storage driver cannot send it (Windows'
    // own NVMe driver before 21H1, or Format NVM, which it never passes)
    NotThisSystem,
};

// What of a drive a run holds: the disk's own namespace only, or the whole drive (every
// namespace of its controller ticked as a whole disk, none holding the running system). A
// drive with one namespace is whole either way.
enum class TFirmwareScope { Namespace, WholeDrive };

// Where a disk lies on its drive: an NVMe namespace of a controller. ATA drives and devices
// without a command set are each a drive of their own (Controller empty).
struct TFirmwareUnit {
    std::string Controller;            // the controller's vendor id, serial and model
    std::uint32_t Namespace = 0;       // the disk's namespace id; 0 when it cannot be told
    std::vector<std::uint32_t> Active; // the controller's active namespace ids
};

// The command an operation would send to one drive.
struct TFirmwareChoice {
    TFirmwareRefusal Refusal = TFirmwareRefusal::None;
    // The command in the drive's own terms, the same in every language, e.g.
    // "ATA SANITIZE CRYPTO SCRAMBLE EXT (B4h, feature 0011h)" or
    // "NVMe Sanitize, crypto erase (84h, SANACT 100b)"; empty when refused.
    std::string Command;
    // The drive's own estimate of the time it takes, in seconds (0: it gives none).
    std::uint32_t EstimatedSeconds = 0;
    // The overall time limit chosen from that estimate, in seconds.
    std::uint32_t LimitSeconds = 0;
    // What the drive says a block reads after the operation: one byte value repeated
    // (block erase where the drive reports it), else none (crypto erase: noise).
    std::optional<std::uint8_t> ErasedByte;
    // The namespaces the command reaches where it reaches beyond the disk's own (NVMe
    // Sanitize, or Format NVM on a controller that formats every namespace at once); 0 when
    // it reaches the disk's namespace only. With OtherNamespaces: the drive's namespaces.
    std::uint32_t DriveNamespaces = 0;

    bool Possible() const { return Refusal == TFirmwareRefusal::None; }
};

enum class TFirmwareStatus {
    Completed,   // the drive reports the operation done successfully
    Failed,      // the drive reports the operation failed
    NotAccepted, // the drive refused the command (or the request never reached it)
    TimedOut,    // the drive had not finished within the limit
};

struct TFirmwareResult {
    TFirmwareStatus Status = TFirmwareStatus::NotAccepted;
    std::string Command;     // as in TFirmwareChoice
    std::string DriveStatus; // the drive's own completion status in words, e.g. "SSTAT 0001h"
    bool Accepted = false;   // the drive took the command (it runs to its end from then on)
    // ATA security erase: a temporary password was set. PasswordRemoved says whether it is
    // gone again (the erase removes it; after a failure we disable it ourselves).
    bool PasswordSet = false;
    bool PasswordRemoved = false;
    // The temporary password as the user types it, set with PasswordSet: a drive left with it
    // asks for it at its next start.
    std::string Password;
    std::uint32_t SystemError = 0; // when a request failed in the system
};

// What Run tells its caller while the drive works. All calls come on the calling thread.
struct TFirmwareObserver {
    // The drive took the command: from here on it cannot be stopped.
    std::function<void()> Accepted;
    // After every status poll: the drive's progress (0..1) where it reports one, and the
    // seconds since the command was accepted.
    std::function<void(std::optional<double> fraction, std::uint32_t elapsedSeconds)> Progress;
};

class TFirmwareDrive {
public:
    virtual ~TFirmwareDrive() = default;
    virtual TCommandSet CommandSet() const = 0;
    // The device's model as its identify data gives it (may be empty).
    virtual std::string Model() const = 0;
    // Where the disk lies on its drive.
    virtual TFirmwareUnit Unit() const { return {}; }
    // The command the operation sends to a run that holds scope of the drive: a command that
    // reaches other namespaces only for the whole drive.
    virtual TFirmwareChoice Choose(TFirmwareOperation operation, TFirmwareScope scope) const = 0;
    // Sends the chosen command and polls the drive (on the machine's clock: Sleep and
    // GetTickCount) until it reports the end or the limit passes. Never throws for a drive
    // that fails; the result says how it went.
    virtual TFirmwareResult Run(TFirmwareOperation operation, TFirmwareScope scope,
                                const TFirmwareObserver& observer) = 0;
};

// Probes the device behind handle (a whole disk opened for reading and writing): ATA
// IDENTIFY DEVICE, else NVMe Identify Controller. A device that answers neither gives a
// drive whose CommandSet is None and whose every choice is NoCommandSet. Never null.
std::unique_ptr<TFirmwareDrive> ProbeFirmwareDrive(HANDLE handle);

} // namespace purgelet
