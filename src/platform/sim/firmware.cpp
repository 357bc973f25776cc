// The "firmware" key of a physical disk, and what an emulated erase leaves on its image.
#include "platform/sim/firmware.h"

#include "platform/sim/machine.h"
#include "platform/sim/machine_file.h"

#include <algorithm>
#include <random>

namespace platform::sim {

using nlohmann::json;

namespace {

void RefuseUnknownKeys(const json& value, const std::string& at) {
    static const char* const kKeys[] = {"commandSet",
                                        "sanitize",
                                        "securityErase",
                                        "enhancedErase",
                                        "formatNvm",
                                        "cryptoFormat",
                                        "frozen",
                                        "locked",
                                        "polls",
                                        "estimatedSeconds",
                                        "erasedByte",
                                        "fault",
                                        "revision",
                                        "keepsPassword",
                                        "refusesDisable",
                                        "formatAllNamespaces",
                                        "eraseAllNamespaces",
                                        "namespaces",
                                        "driver",
                                        "reinitializeWaits"};
    for (const auto& [key, unused] : value.items())
        if (std::find_if(std::begin(kKeys), std::end(kKeys),
                         [&](const char* k) { return key == k; }) == std::end(kKeys))
            Bad(at + "." + key, "is not a firmware key");
}

// "commandSet", and the sanitize operations the drive has.
void ParseCommandSet(const json& value, const std::string& at, FirmwareDrive& f) {
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
}

// The yes-or-no keys, each allowed for one command set, and those that need another.
void ParseFlags(const json& value, const std::string& at, FirmwareDrive& f) {
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
    f.reinitializeWaits = flag("reinitializeWaits", !ata);
    f.formatAllNamespaces = flag("formatAllNamespaces", !ata);
    f.eraseAllNamespaces = flag("eraseAllNamespaces", !ata);
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
}

// The NVMe drive's "driver" and "namespaces".
void ParseNvmeKeys(const json& value, const std::string& at, FirmwareDrive& f) {
    const bool ata = f.commandSet == FirmwareDrive::CommandSet::Ata;
    if (value.contains("driver")) {
        const std::string driver = Get<std::string>(value, "driver", "", at);
        if (ata)
            Bad(at + ".driver", "is not a key of an ATA drive");
        if (driver != "inbox" && driver != "vendor")
            Bad(at + ".driver", "must be \"inbox\" or \"vendor\"");
        f.vendorDriver = driver == "vendor";
    }
    if (value.contains("namespaces")) {
        if (ata)
            Bad(at + ".namespaces", "is not a key of an ATA drive");
        const std::int64_t nn = Get<std::int64_t>(value, "namespaces", 0, at);
        if (nn < 1 || nn > 1024)
            Bad(at + ".namespaces", "must be 1 to 1024");
        f.maxNamespaces = static_cast<std::uint32_t>(nn);
    }
}

// How long an erase takes: "polls" and "estimatedSeconds".
void ParseDuration(const json& value, const std::string& at, FirmwareDrive& f) {
    const std::int64_t polls = Get<std::int64_t>(value, "polls", 3, at);
    if (polls < 0 || polls > 1000000)
        Bad(at + ".polls", "must be 0 to 1000000");
    f.polls = static_cast<int>(polls);
    const std::int64_t seconds = Get<std::int64_t>(value, "estimatedSeconds", 0, at);
    if (seconds < 0 || seconds > 0xFFFFFFFE)
        Bad(at + ".estimatedSeconds", "must be 0 to 4294967294");
    f.estimatedSeconds = static_cast<std::uint32_t>(seconds);
}

// What an erase leaves: "erasedByte", and the "fault" the drive has.
void ParseOutcome(const json& value, const std::string& at, FirmwareDrive& f) {
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
}

} // namespace

FirmwareDrive ParseFirmware(const json& value, const std::string& at) {
    if (!value.is_object())
        Bad(at, "must be an object");
    RefuseUnknownKeys(value, at);
    FirmwareDrive f;
    ParseCommandSet(value, at, f);
    ParseFlags(value, at, f);
    ParseNvmeKeys(value, at, f);
    ParseDuration(value, at, f);
    ParseOutcome(value, at, f);
    f.passwordSet = f.locked; // set by someone else: never the program's
    return f;
}

void ParseNamespaces(const json& list, std::vector<PhysicalDisk>& disks) {
    auto where = [](std::size_t i) { return "physicalDisks[" + std::to_string(i) + "]"; };
    auto nvme = [&](std::size_t i) {
        return disks[i].firmware &&
               disks[i].firmware->commandSet == FirmwareDrive::CommandSet::Nvme;
    };
    for (std::size_t i = 0; i < disks.size(); ++i) {
        const json& d = list[i];
        if (!d.contains("namespaceOf"))
            continue;
        const std::int64_t of = Get<std::int64_t>(d, "namespaceOf", -1, where(i));
        if (of < 0 || static_cast<std::size_t>(of) >= disks.size() ||
            static_cast<std::size_t>(of) == i || !nvme(static_cast<std::size_t>(of)) ||
            list[static_cast<std::size_t>(of)].contains("namespaceOf"))
            Bad(where(i) + ".namespaceOf", "must be the index of a disk with an NVMe drive");
        if (d.contains("firmware"))
            Bad(where(i) + ".firmware", "a namespace has its drive's firmware");
        disks[i].namespaceOf = static_cast<int>(of);
    }
    for (std::size_t c = 0; c < disks.size(); ++c) {
        if (!nvme(c) || disks[c].namespaceOf >= 0)
            continue;
        FirmwareDrive& f = *disks[c].firmware;
        std::vector<std::uint32_t> taken;
        for (std::size_t i = c; i < disks.size(); ++i) {
            if (i != c && disks[i].namespaceOf != static_cast<int>(c))
                continue;
            const std::uint32_t next =
                taken.empty() ? 1 : *std::max_element(taken.begin(), taken.end()) + 1;
            const std::int64_t nsid = Get<std::int64_t>(list[i], "nsid", next, where(i));
            if (nsid < 1 || nsid > 1024 ||
                std::find(taken.begin(), taken.end(), nsid) != taken.end())
                Bad(where(i) + ".nsid", "must be 1 to 1024, once on a drive");
            taken.push_back(static_cast<std::uint32_t>(nsid));
            disks[i].nsid = static_cast<std::uint32_t>(nsid);
            f.media.push_back(disks[i].image);
        }
        const std::uint32_t highest = *std::max_element(taken.begin(), taken.end());
        if (f.maxNamespaces == 0)
            f.maxNamespaces = highest;
        else if (f.maxNamespaces < highest)
            Bad(where(c) + ".firmware.namespaces", "must be at least the highest nsid");
    }
    for (std::size_t i = 0; i < disks.size(); ++i)
        if (list[i].contains("nsid") && !nvme(i) && disks[i].namespaceOf < 0)
            Bad(where(i) + ".nsid", "belongs to a namespace of an NVMe drive");
}

void EraseMedia(Image& image, FirmwareDrive::Operation operation, std::uint8_t erasedByte,
                bool half, std::uint32_t key) {
    const std::int64_t end = half ? image.size() / 2 : image.size();
    std::mt19937 noise(0x5A17C0DEu + key); // the same noise every run, never the old data
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
    if (f.fault != FirmwareDrive::Fault::Lies) {
        const std::uint32_t key = f.running == FirmwareDrive::Operation::Crypto ? ++f.mediaKey : 0;
        if (f.media.empty())
            EraseMedia(*disk.image, f.running, f.erasedByte.value_or(0), failed, key);
        for (Image* image : f.media)
            EraseMedia(*image, f.running, f.erasedByte.value_or(0), failed, key);
    }
    f.lastSanitize = failed ? 3 : 1;
    f.running = FirmwareDrive::Operation::None;
}

} // namespace platform::sim
