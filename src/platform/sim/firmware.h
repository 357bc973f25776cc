// The emulated drives of the simulated PC's physical disks: an ATA or NVMe drive behind the
// disk (the "firmware" key, docs/machine-file.md) that answers the ATA pass-through and the
// storage protocol command as a real drive does, with a sanitize that stays in progress for
// a number of status polls and then leaves the disk's image as the operation says.
#pragma once

#include "platform/winapi.h"

#include <array>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace platform::sim {

class Image;
struct PhysicalDisk;

struct FirmwareDrive {
    enum class CommandSet { Ata, Nvme };
    enum class Fault { None, Failure, Refused, NeverFinishes, Lies };
    enum class Operation { None, Crypto, Block };

    CommandSet commandSet = CommandSet::Ata;
    bool sanitizeCrypto = false, sanitizeBlock = false;
    bool securityErase = false, enhancedErase = false; // ATA
    bool formatNvm = false, cryptoFormat = false;      // NVMe
    // NVMe FNA bits 0 and 1: a format, or the erase of a format, of any namespace is one of
    // every namespace.
    bool formatAllNamespaces = false, eraseAllNamespaces = false;
    std::uint32_t maxNamespaces = 0; // NVMe NN; 0: the highest namespace id it has
    // NVMe: a vendor's driver ("driver": "vendor") passes every admin command through the
    // protocol command; Windows' own (the default) only vendor-specific ones (nvme_driver.cpp).
    bool vendorDriver = false;
    // NVMe, Windows' own driver: the media reinitialization returns when the sanitize has
    // ended, not when the drive took it ("reinitializeWaits").
    bool reinitializeWaits = false;
    bool frozen = false, locked = false; // ATA
    // ATA: the erase leaves the user password set (drives that do exist), and SECURITY
    // DISABLE PASSWORD is aborted: the password stays on the drive.
    bool keepsPassword = false, refusesDisable = false;
    int polls = 3;                          // status polls that find an erase in progress
    std::uint32_t estimatedSeconds = 0;     // 0: the drive gives no estimate
    std::optional<std::uint8_t> erasedByte; // NVMe DLFEAT; the media reads 0 when absent
    Fault fault = Fault::None;
    // The media of every namespace (NVMe; the disk's own first), as the machine declared
    // them: what a sanitize reaches.
    std::vector<Image*> media;

    // The state the drive keeps.
    bool passwordSet = false; // the user password below (security enabled)
    std::array<std::uint8_t, 32> password{};
    bool erasePrepared = false;          // SECURITY ERASE PREPARE came just before
    Operation running = Operation::None; // a sanitize in progress
    int pollsLeft = 0;
    int pollsDone = 0;
    // The last sanitize: 0 never, 1 completed, 3 failed (the NVMe SSTAT values).
    int lastSanitize = 0;
    std::uint32_t lastSanitizeCdw10 = 0;
    std::uint32_t mediaKey = 0; // crypto erases so far: each one a new key

    // Every command the drive received, for tests: the ATA registers as the request's task
    // files held them (previous then current, 16 bytes), or the NVMe submission queue entry
    // (64 bytes); and the data sent with it.
    struct Received {
        std::vector<std::uint8_t> command, data;
        DWORD timeout = 0;    // the request's TimeOutValue, in seconds
        bool aborted = false; // the drive refused it
    };
    std::vector<Received> received;
};

// The "firmware" object of a physical disk.
FirmwareDrive ParseFirmware(const nlohmann::json& value, const std::string& where);
// The namespaces of the NVMe drives ("namespaceOf", "nsid") of the parsed physical disks,
// declared in the list: each namespace's media is its drive's too.
void ParseNamespaces(const nlohmann::json& list, std::vector<PhysicalDisk>& disks);

// What an erase leaves on the media: noise for a crypto erase (from a seeded generator), the
// erased byte for a block erase; half of it when the drive fails, none of it when it lies.
// A crypto erase's noise comes from its new key: each key gives other noise, as a drive's new
// media key does.
void EraseMedia(Image& image, FirmwareDrive::Operation operation, std::uint8_t erasedByte,
                bool half, std::uint32_t key = 0);

// A sanitize the drive took: in progress for its polls (at once done with none).
void StartSanitize(PhysicalDisk& disk, FirmwareDrive::Operation operation, std::uint32_t cdw10);
// The last in-progress poll has passed: the media changes as the operation and the fault say,
// on every namespace of an NVMe drive.
void FinishSanitize(PhysicalDisk& disk);

} // namespace platform::sim
