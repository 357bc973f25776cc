// The "firmware" key of a physical disk, and what an emulated erase leaves on its image.
#include "platform/sim/firmware.h"

#include "platform/sim/machine.h"
#include "platform/sim/machine_file.h"

#include <algorithm>
#include <random>

namespace platform::sim {

using nlohmann::json;

FirmwareDrive ParseFirmware(const json& value, const std::string& at) {
    if (!value.is_object())
        Bad(at, "must be an object");
    static const char* const kKeys[] = {
        "commandSet",   "sanitize", "securityErase", "enhancedErase", "formatNvm",
        "cryptoFormat", "frozen",   "locked",        "polls",         "estimatedSeconds",
        "erasedByte",   "fault",    "revision",      "keepsPassword", "refusesDisable"};
    for (const auto& [key, unused] : value.items())
        if (std::find_if(std::begin(kKeys), std::end(kKeys),
                         [&](const char* k) { return key == k; }) == std::end(kKeys))
            Bad(at + "." + key, "is not a firmware key");
    FirmwareDrive f;
    const std::string set = Get<std::string>(value, "commandSet", "", at);
    if (set == "ata")
        f.commandSet = FirmwareDrive::CommandSet::Ata;
    else if (set == "nvme")
        f.commandSet = FirmwareDrive::CommandSet::Nvme;
    else
        Bad(at + ".commandSet", "must be \"ata\" or \"nvme\"");
    const json sanitize = value.value("sanitize", json::array());
    if (!sanitize.is_array())
        Bad(at + ".sanitize", "must be a list of \"crypto\" and \"block\"");
    for (const json& op : sanitize) {
        if (op == "crypto")
            f.sanitizeCrypto = true;
        else if (op == "block")
            f.sanitizeBlock = true;
        else
            Bad(at + ".sanitize", "must be a list of \"crypto\" and \"block\"");
    }
    const bool ata = f.commandSet == FirmwareDrive::CommandSet::Ata;
    auto flag = [&](const char* key, bool allowed) {
        const bool on = Get<bool>(value, key, false, at);
        if (on && !allowed)
            Bad(at + "." + key,
                std::string("is not a key of an ") + (ata ? "ATA" : "NVMe") + " drive");
        return on;
    };
    f.securityErase = flag("securityErase", ata);
    f.enhancedErase = flag("enhancedErase", ata);
    f.formatNvm = flag("formatNvm", !ata);
    f.cryptoFormat = flag("cryptoFormat", !ata);
    f.frozen = flag("frozen", ata);
    f.locked = flag("locked", ata);
    f.keepsPassword = flag("keepsPassword", ata);
    f.refusesDisable = flag("refusesDisable", ata);
    if (f.enhancedErase && !f.securityErase)
        Bad(at + ".enhancedErase", "needs securityErase");
    if (f.cryptoFormat && !f.formatNvm)
        Bad(at + ".cryptoFormat", "needs formatNvm");
    if (f.locked && !f.securityErase)
        Bad(at + ".locked", "needs securityErase");
    if ((f.keepsPassword || f.refusesDisable) && !f.securityErase)
        Bad(at + (f.keepsPassword ? ".keepsPassword" : ".refusesDisable"), "needs securityErase");
    const std::int64_t polls = Get<std::int64_t>(value, "polls", 3, at);
    if (polls < 0 || polls > 1000000)
        Bad(at + ".polls", "must be 0 to 1000000");
    f.polls = static_cast<int>(polls);
    const std::int64_t seconds = Get<std::int64_t>(value, "estimatedSeconds", 0, at);
    if (seconds < 0 || seconds > 0xFFFFFFFE)
        Bad(at + ".estimatedSeconds", "must be 0 to 4294967294");
    f.estimatedSeconds = static_cast<std::uint32_t>(seconds);
    if (value.contains("erasedByte") && !value["erasedByte"].is_null()) {
        const std::int64_t byte = Get<std::int64_t>(value, "erasedByte", 0, at);
        if (byte != 0 && byte != 255)
            Bad(at + ".erasedByte", "must be 0 or 255");
        f.erasedByte = static_cast<std::uint8_t>(byte);
    }
    const std::string fault = Get<std::string>(value, "fault", "", at);
    if (fault == "failure")
        f.fault = FirmwareDrive::Fault::Failure;
    else if (fault == "refused")
        f.fault = FirmwareDrive::Fault::Refused;
    else if (fault == "neverFinishes")
        f.fault = FirmwareDrive::Fault::NeverFinishes;
    else if (fault == "lies")
        f.fault = FirmwareDrive::Fault::Lies;
    else if (!fault.empty())
        Bad(at + ".fault", "must be \"failure\", \"refused\", \"neverFinishes\" or \"lies\"");
    f.passwordSet = f.locked; // set by someone else: never the program's
    return f;
}

void EraseMedia(Image& image, FirmwareDrive::Operation operation, std::uint8_t erasedByte,
                bool half) {
    const std::int64_t end = half ? image.size() / 2 : image.size();
    std::mt19937 noise(0x5A17C0DEu); // the same noise every run, never the old data
    std::vector<std::uint8_t> chunk;
    for (std::int64_t at = 0; at < end;) {
        const auto size = static_cast<std::size_t>(std::min<std::int64_t>(1 << 20, end - at));
        chunk.assign(size, erasedByte);
        if (operation == FirmwareDrive::Operation::Crypto)
            for (auto& b : chunk)
                b = static_cast<std::uint8_t>(noise() >> 24);
        image.Write(at, chunk.data(), size);
        at += static_cast<std::int64_t>(size);
    }
}

void StartSanitize(PhysicalDisk& disk, FirmwareDrive::Operation operation, std::uint32_t cdw10) {
    FirmwareDrive& f = *disk.firmware;
    f.running = operation;
    f.pollsLeft = f.polls;
    f.pollsDone = 0;
    f.lastSanitizeCdw10 = cdw10;
    if (f.polls == 0 && f.fault != FirmwareDrive::Fault::NeverFinishes)
        FinishSanitize(disk);
}

void FinishSanitize(PhysicalDisk& disk) {
    FirmwareDrive& f = *disk.firmware;
    const bool failed = f.fault == FirmwareDrive::Fault::Failure;
    if (f.fault != FirmwareDrive::Fault::Lies)
        EraseMedia(*disk.image, f.running, f.erasedByte.value_or(0), failed);
    f.lastSanitize = failed ? 3 : 1;
    f.running = FirmwareDrive::Operation::None;
}

} // namespace platform::sim
