// The MMC drive of the simulated PC: the answers a CD/DVD writer gives to the commands the
// program sends, the busy state after an immediate BLANK, and the machine-file entries.
#include "platform/sim/optical_drive.h"

#include "platform/sim/machine.h"
#include "platform/sim/machine_file.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>

namespace platform::sim {

using nlohmann::json;

namespace {

void Put16(BYTE* p, unsigned value) {
    p[0] = static_cast<BYTE>(value >> 8);
    p[1] = static_cast<BYTE>(value);
}
void Put32(BYTE* p, std::uint32_t value) {
    Put16(p, value >> 16);
    Put16(p + 2, value & 0xFFFF);
}
std::uint32_t Get32(const BYTE* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}
unsigned Get16(const BYTE* p) {
    return (unsigned{p[0]} << 8) | p[1];
}

MmcResult Check(BYTE key, BYTE asc, BYTE ascq) {
    MmcResult r;
    r.status = 2;
    r.sense[0] = 0x70;
    r.sense[2] = key;
    r.sense[7] = 10;
    r.sense[12] = asc;
    r.sense[13] = ascq;
    return r;
}

// Copies an answer into the caller's buffer, cut at the allocation and buffer lengths.
MmcResult Answer(const BYTE* answer, DWORD length, unsigned allocation, BYTE* data,
                 DWORD dataLength) {
    MmcResult r;
    DWORD n = std::min<DWORD>({length, allocation, dataLength});
    if (data != nullptr && n > 0)
        std::memcpy(data, answer, n);
    r.transferred = n;
    return r;
}

std::int64_t DefaultBlocks(DiscKind kind) {
    switch (kind) {
    case DiscKind::DvdRw:
    case DiscKind::DvdPlusRw:
        return 2295104; // 4.7 GB
    case DiscKind::CdRw:
    case DiscKind::CdR:
        return 359847; // 80 minutes
    case DiscKind::None:
        break;
    }
    return 0;
}

void Blanked(OpticalDisc& disc) {
    disc.status = 0;
    disc.sessions = 0;
    disc.nextWritable = 0;
    disc.data.clear();
}

} // namespace

bool Listed(const std::vector<BYTE>& opcodes, BYTE opcode) {
    return std::find(opcodes.begin(), opcodes.end(), opcode) != opcodes.end();
}

int OpticalDrive::Count(BYTE opcode) const {
    return static_cast<int>(std::count_if(commands.begin(), commands.end(), [&](const auto& c) {
        return !c.cdb.empty() && c.cdb[0] == opcode;
    }));
}

namespace {

MmcResult Inquiry(const OpticalDrive& d, const BYTE* cdb, BYTE* data, DWORD dataLength) {
    BYTE a[36] = {};
    a[0] = d.peripheral;
    a[1] = 0x80;
    a[3] = 0x32;
    a[4] = 31;
    std::memset(a + 8, ' ', 28);
    std::memcpy(a + 8, d.vendor.data(), std::min<std::size_t>(8, d.vendor.size()));
    std::memcpy(a + 16, d.product.data(), std::min<std::size_t>(16, d.product.size()));
    std::memcpy(a + 32, d.revision.data(), std::min<std::size_t>(4, d.revision.size()));
    return Answer(a, sizeof(a), cdb[4], data, dataLength);
}

// While a BLANK runs, the drive answers "not ready, operation in progress", with its
// progress when it counts polls; none once it has finished (the drive is no longer busy), or
// for READ DISC INFORMATION on a drive that answers it early.
std::optional<MmcResult> BusyAnswer(OpticalDrive& d, BYTE op, DWORD nowMs) {
    const bool done =
        !d.neverFinishes && d.busyPolls <= 0 && static_cast<LONG>(nowMs - d.busyUntil) >= 0;
    if (done) {
        d.busy = false;
        return std::nullopt;
    }
    if (op == 0x51 && d.discInfoEarly)
        return std::nullopt;
    MmcResult r = Check(2, 0x04, 0x07); // not ready, operation in progress
    if (d.busyPollsAtStart > 0) {
        // Progress indication in the sense-key-specific bytes: the share of the
        // failed polls already answered, in 65536ths.
        const std::int64_t polled =
            std::clamp(d.busyPollsAtStart - d.busyPolls, 0, d.busyPollsAtStart);
        const auto progress = static_cast<unsigned>(
            std::min<std::int64_t>(65535, polled * 65536 / d.busyPollsAtStart));
        r.sense[15] = 0x80;
        Put16(r.sense + 16, progress);
    }
    --d.busyPolls;
    return r;
}

// A disc the machine file inserts after some polls of an empty drive.
void InsertDiscWhenDue(OpticalDrive& d) {
    if (d.disc.present() || d.insertAfterPolls < 0)
        return;
    if (d.pollsWithoutDisc >= d.insertAfterPolls) {
        d.disc = d.insertDisc;
        d.insertAfterPolls = -1;
    } else {
        ++d.pollsWithoutDisc;
    }
}

// MODE SENSE(10) of the capabilities page (2A) or the write parameters page (05).
MmcResult ModeSense(const OpticalDrive& d, const BYTE* cdb, unsigned allocation, BYTE* data,
                    DWORD dataLength) {
    const BYTE page = cdb[2] & 0x3F;
    if (page == 0x2A) {
        BYTE a[8 + 32] = {};
        Put16(a, sizeof(a) - 2);
        BYTE* p = a + 8;
        p[0] = 0x2A;
        p[1] = 30;
        p[2] = d.readCaps;
        p[3] = d.writeCaps;
        p[4] = 0x71;
        p[6] = 0x29; // tray loading, eject
        Put16(p + 8, d.maxReadSpeed);
        Put16(p + 10, 256);
        Put16(p + 12, static_cast<unsigned>(d.bufferBytes / 1024));
        Put16(p + 14, d.maxReadSpeed);
        Put16(p + 18, d.maxWriteSpeed);
        Put16(p + 20, d.maxWriteSpeed);
        return Answer(a, sizeof(a), allocation, data, dataLength);
    }
    if (page == 0x05) {
        BYTE a[60];
        std::memcpy(a, d.writePage, sizeof(a));
        Put16(a, sizeof(a) - 2);
        a[8] = 0x05;
        a[9] = 0x32;
        return Answer(a, sizeof(a), allocation, data, dataLength);
    }
    return Check(5, 0x24, 0);
}

// MODE SELECT(10): only the write parameters page is taken.
MmcResult ModeSelect(OpticalDrive& d, const BYTE* data, DWORD dataLength) {
    if (data == nullptr || dataLength < 10 || (data[8] & 0x3F) != 0x05)
        return Check(5, 0x26, 0);
    std::memcpy(d.writePage, data, std::min<DWORD>(dataLength, sizeof(d.writePage)));
    MmcResult r;
    r.transferred = dataLength;
    return r;
}

MmcResult DiscInformation(const OpticalDisc& disc, unsigned allocation, BYTE* data,
                          DWORD dataLength) {
    BYTE a[34] = {};
    Put16(a, 32);
    a[2] = static_cast<BYTE>((disc.erasable() ? 0x10 : 0) | (disc.status & 3) |
                             (disc.status == 2 ? 0x0C : 0));
    a[3] = 1;
    a[4] = static_cast<BYTE>(disc.sessions);
    a[5] = static_cast<BYTE>(disc.sessions + 1);
    a[6] = static_cast<BYTE>(disc.sessions + 1);
    return Answer(a, sizeof(a), allocation, data, dataLength);
}

// READ TRACK INFORMATION of the incomplete track after the last session.
MmcResult TrackInformation(const OpticalDisc& disc, unsigned allocation, BYTE* data,
                           DWORD dataLength) {
    if (disc.status == 2)
        return Check(5, 0x64, 0); // no incomplete track on a closed disc
    BYTE a[28] = {};
    Put16(a, 26);
    a[2] = static_cast<BYTE>(disc.sessions + 1);
    a[3] = static_cast<BYTE>(disc.sessions + 1);
    a[5] = 0x04;
    a[6] = 0x41; // blank, data mode 1
    a[7] = 0x01; // next writable address valid
    Put32(a + 8, static_cast<std::uint32_t>(disc.nextWritable));
    Put32(a + 12, static_cast<std::uint32_t>(disc.nextWritable));
    Put32(a + 16, static_cast<std::uint32_t>(disc.blocks - disc.nextWritable));
    Put32(a + 24, static_cast<std::uint32_t>(disc.blocks - disc.nextWritable));
    return Answer(a, sizeof(a), allocation, data, dataLength);
}

// WRITE(10) of 2048-byte blocks; the disc becomes an incomplete one.
MmcResult Write10(OpticalDisc& disc, const BYTE* cdb, const BYTE* data, DWORD dataLength) {
    const std::int64_t lba = Get32(cdb + 2);
    const std::int64_t count = Get16(cdb + 7);
    if (disc.status == 2)
        return Check(5, 0x21, 0x02);
    if (lba + count > disc.blocks || dataLength < count * 2048 || data == nullptr)
        return Check(5, 0x21, 0);
    const std::size_t end = static_cast<std::size_t>((lba + count) * 2048);
    if (disc.data.size() < end)
        disc.data.resize(end);
    std::memcpy(disc.data.data() + lba * 2048, data, static_cast<std::size_t>(count) * 2048);
    disc.nextWritable = std::max(disc.nextWritable, lba + count);
    disc.status = 1;
    MmcResult r;
    r.transferred = static_cast<DWORD>(count * 2048);
    return r;
}

// BLANK: the disc is blank at once, and the drive busy for the time the machine file gives.
MmcResult Blank(OpticalDrive& d, DWORD nowMs) {
    if (!d.disc.erasable())
        return Check(5, 0x30, 0x06); // cannot format medium, incompatible
    Blanked(d.disc);
    d.busy = true;
    d.busyPolls = d.blankPolls;
    d.busyPollsAtStart = d.blankPolls;
    d.busyUntil = nowMs + d.blankMs;
    return MmcResult{};
}

} // namespace

MmcResult ExecuteMmc(OpticalDrive& d, const BYTE* cdb, BYTE* data, DWORD dataLength, DWORD nowMs) {
    const BYTE op = cdb[0];
    if (data != nullptr && dataLength > 0 && op != 0x2A && op != 0x55)
        std::memset(data, 0, dataLength);
    if (Listed(d.checked, op))
        return Check(5, 0x24, 0);
    if (op == 0x12) // INQUIRY answers even while the drive is busy
        return Inquiry(d, cdb, data, dataLength);
    if (d.busy)
        if (auto busy = BusyAnswer(d, op, nowMs))
            return *busy;
    const bool needsDisc = op == 0x00 || op == 0x51 || op == 0x52 || op == 0x2A || op == 0x35 ||
                           op == 0x5B || op == 0xA1;
    if (needsDisc)
        InsertDiscWhenDue(d);
    if (needsDisc && !d.disc.present())
        return Check(2, 0x3A, 0); // medium not present
    const unsigned allocation = Get16(cdb + 7);
    switch (op) {
    case 0x00: // TEST UNIT READY
        return MmcResult{};
    case 0x5A: // MODE SENSE(10)
        return ModeSense(d, cdb, allocation, data, dataLength);
    case 0x55: // MODE SELECT(10)
        return ModeSelect(d, data, dataLength);
    case 0x51: // READ DISC INFORMATION
        return DiscInformation(d.disc, allocation, data, dataLength);
    case 0x52: // READ TRACK INFORMATION
        return TrackInformation(d.disc, allocation, data, dataLength);
    case 0x5C: { // READ BUFFER CAPACITY
        BYTE a[12] = {};
        Put16(a, 10);
        Put32(a + 4, d.bufferBytes);
        Put32(a + 8, d.bufferBytes);
        return Answer(a, sizeof(a), allocation, data, dataLength);
    }
    case 0x2A: // WRITE(10)
        return Write10(d.disc, cdb, data, dataLength);
    case 0x35: // SYNCHRONIZE CACHE
        d.busy = d.neverFinishes;
        d.busyPolls = 0;
        d.busyPollsAtStart = 0;
        return MmcResult{};
    case 0x5B: // CLOSE TRACK/SESSION
        if ((cdb[2] & 3) == 2) {
            d.disc.status = 2;
            ++d.disc.sessions;
        }
        d.busy = d.neverFinishes;
        d.busyPolls = 0;
        d.busyPollsAtStart = 0;
        return MmcResult{};
    case 0x1B: // START STOP UNIT
        if ((cdb[4] & 3) == 2) {
            d.disc = OpticalDisc{};
            ++d.ejects;
        }
        return MmcResult{};
    case 0xA1: // BLANK
        return Blank(d, nowMs);
    default:
        return Check(5, 0x20, 0); // invalid command operation code
    }
}

OpticalDrive* FindOptical(Machine& machine, char letter) {
    char up = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    for (auto& d : machine.opticalDrives)
        if (d.letter != 0 && d.letter == up)
            return &d;
    return nullptr;
}

OpticalDrive* FindOptical(Machine& machine, int host, int target, int lun) {
    for (auto& d : machine.opticalDrives)
        if (d.aspiHost >= 0 && d.aspiHost == host && d.aspiTarget == target && d.aspiLun == lun)
            return &d;
    return nullptr;
}

// ---- Machine file.

namespace {

BYTE Bits(const json& o, const char* key, BYTE fallback, const std::vector<std::string>& names,
          const std::string& where) {
    if (!o.contains(key))
        return fallback;
    const json& list = o[key];
    if (!list.is_array())
        Bad(where + "." + key, "must be a list of names");
    BYTE bits = 0;
    for (const auto& item : list) {
        auto name = item.is_string() ? item.get<std::string>() : std::string();
        auto it = std::find(names.begin(), names.end(), name);
        if (it == names.end() || it->empty())
            Bad(where + "." + key, "unknown capability \"" + name + "\"");
        bits = static_cast<BYTE>(bits | (1u << (it - names.begin())));
    }
    return bits;
}

std::vector<BYTE> Opcodes(const json& o, const char* key, const std::string& where) {
    static const std::map<std::string, BYTE> names = {{"TEST UNIT READY", 0x00},
                                                      {"INQUIRY", 0x12},
                                                      {"MODE SENSE", 0x5A},
                                                      {"MODE SELECT", 0x55},
                                                      {"READ DISC INFORMATION", 0x51},
                                                      {"READ TRACK INFORMATION", 0x52},
                                                      {"READ BUFFER CAPACITY", 0x5C},
                                                      {"WRITE", 0x2A},
                                                      {"SYNCHRONIZE CACHE", 0x35},
                                                      {"CLOSE TRACK/SESSION", 0x5B},
                                                      {"START STOP UNIT", 0x1B},
                                                      {"BLANK", 0xA1}};
    std::vector<BYTE> codes;
    if (!o.contains(key))
        return codes;
    for (const auto& item : o[key]) {
        auto it = names.find(item.is_string() ? item.get<std::string>() : std::string());
        if (it == names.end())
            Bad(where + "." + key, "unknown command " + item.dump());
        codes.push_back(it->second);
    }
    return codes;
}

} // namespace

OpticalDisc ParseDisc(const json& value, const std::string& where) {
    OpticalDisc disc;
    if (value.is_null())
        return disc;
    if (!value.is_object())
        Bad(where, "a disc is an object or null");
    static const std::map<std::string, DiscKind> kinds = {{"CD-RW", DiscKind::CdRw},
                                                          {"DVD-RW", DiscKind::DvdRw},
                                                          {"DVD+RW", DiscKind::DvdPlusRw},
                                                          {"CD-R", DiscKind::CdR}};
    auto kind = kinds.find(Get<std::string>(value, "type", "CD-RW", where));
    if (kind == kinds.end())
        Bad(where + ".type", "must be \"CD-RW\", \"DVD-RW\", \"DVD+RW\" or \"CD-R\"");
    disc.kind = kind->second;
    static const std::map<std::string, BYTE> states = {
        {"empty", 0}, {"incomplete", 1}, {"complete", 2}, {"other", 3}};
    auto state = states.find(Get<std::string>(value, "state", "complete", where));
    if (state == states.end())
        Bad(where + ".state", "must be \"empty\", \"incomplete\", \"complete\" or \"other\"");
    disc.status = state->second;
    disc.sessions = Get<int>(value, "sessions", disc.status == 0 ? 0 : 1, where);
    disc.blocks = Get<std::int64_t>(value, "blocks", DefaultBlocks(disc.kind), where);
    disc.nextWritable = Get<std::int64_t>(value, "nextWritable", 0, where);
    if (disc.blocks <= 0 || disc.nextWritable < 0 || disc.nextWritable > disc.blocks)
        Bad(where, "blocks must be positive and nextWritable within them");
    return disc;
}

void ParseOptical(Machine& m, const json& file) {
    const json aspi = file.value("aspi", json());
    if (aspi.is_boolean()) {
        m.aspi.installed = aspi.get<bool>();
    } else if (aspi.is_object()) {
        m.aspi.installed = Get<bool>(aspi, "installed", true, "aspi");
        m.aspi.adapters = Get<int>(aspi, "adapters", -1, "aspi");
        m.aspi.maxTargets = static_cast<BYTE>(Get<int>(aspi, "maxTargets", 8, "aspi"));
    } else if (!aspi.is_null()) {
        Bad("aspi", "must be true, false or an object");
    }
    const json drives = file.value("opticalDrives", json::array());
    if (!drives.is_array())
        Bad("opticalDrives", "must be a list");
    for (std::size_t i = 0; i < drives.size(); ++i) {
        const std::string at = "opticalDrives[" + std::to_string(i) + "]";
        const json& o = drives[i];
        if (!o.is_object())
            Bad(at, "must be an object");
        OpticalDrive d;
        const auto letter = Get<std::string>(o, "letter", "", at);
        if (letter.size() > 1 ||
            (letter.size() == 1 && !std::isalpha(static_cast<unsigned char>(letter[0]))))
            Bad(at + ".letter", "must be one letter A to Z, or absent");
        if (!letter.empty())
            d.letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter[0])));
        d.vendor = GetText(o, "vendor", d.vendor, at);
        d.product = GetText(o, "product", d.product, at);
        d.revision = GetText(o, "revision", d.revision, at);
        d.peripheral = static_cast<BYTE>(Get<int>(o, "inquiryType", d.peripheral, at));
        d.readCaps = Bits(o, "reads", d.readCaps,
                          {"CD-R", "CD-RW", "Method2", "DVD-ROM", "DVD-R", "DVD-RAM"}, at);
        d.writeCaps = Bits(o, "writes", d.writeCaps,
                           {"CD-R", "CD-RW", "TestWrite", "", "DVD-R", "DVD-RAM"}, at);
        d.maxReadSpeed = static_cast<WORD>(Get<int>(o, "maxReadSpeed", d.maxReadSpeed, at));
        d.maxWriteSpeed = static_cast<WORD>(Get<int>(o, "maxWriteSpeed", d.maxWriteSpeed, at));
        d.bufferBytes = Get<DWORD>(o, "bufferBytes", d.bufferBytes, at);
        if (o.contains("aspi")) {
            const json& a = o["aspi"];
            d.aspiHost = Get<int>(a, "host", 0, at + ".aspi");
            d.aspiTarget = Get<int>(a, "target", 0, at + ".aspi");
            d.aspiLun = Get<int>(a, "lun", 0, at + ".aspi");
            if (d.aspiHost < 0 || d.aspiTarget < 0 || d.aspiLun < 0 || d.aspiLun > 7)
                Bad(at + ".aspi", "host and target must not be negative, lun 0 to 7");
        }
        d.disc = ParseDisc(o.value("disc", json()), at + ".disc");
        const json blank = o.value("blank", json::object());
        d.blankPolls = Get<int>(blank, "polls", d.blankPolls, at + ".blank");
        d.blankMs = Get<DWORD>(blank, "ms", 0, at + ".blank");
        const json quirks = o.value("quirks", json::object());
        d.discInfoEarly = Get<bool>(quirks, "discInfoEarly", false, at + ".quirks");
        d.neverFinishes = Get<bool>(quirks, "neverFinishes", false, at + ".quirks");
        if (quirks.contains("insertAfterPolls")) {
            const json& insert = quirks["insertAfterPolls"];
            d.insertAfterPolls = Get<int>(insert, "polls", 1, at + ".quirks.insertAfterPolls");
            d.insertDisc = ParseDisc(insert.value("disc", json::object()),
                                     at + ".quirks.insertAfterPolls.disc");
        }
        d.rejected = Opcodes(o, "rejected", at);
        d.checked = Opcodes(o, "checkCondition", at);
        d.hung = Opcodes(o, "hung", at);
        if (d.letter != 0) {
            if (m.FindDrive(d.letter) != nullptr)
                Bad(at + ".letter", std::string("drive ") + d.letter + ": is declared twice");
            Drive drive;
            drive.letter = d.letter;
            drive.kind = DriveKind::CdRom;
            drive.partitionNumber = 0;
            drive.hasDeviceNumber = false;
            drive.volume = std::nullopt;
            if (o.contains("volume")) {
                const json& v = o["volume"];
                Volume volume;
                volume.label = GetText(v, "label", "", at + ".volume");
                volume.fileSystem = GetText(v, "fileSystem", "CDFS", at + ".volume");
                volume.totalBytes = Get<std::int64_t>(v, "totalBytes", 0, at + ".volume");
                volume.freeBytes = Get<std::int64_t>(v, "freeBytes", 0, at + ".volume");
                drive.volume = volume;
            }
            if (o.contains("displayName"))
                drive.displayName = GetText(o, "displayName", "", at);
            m.drives.push_back(std::move(drive));
        }
        m.opticalDrives.push_back(std::move(d));
    }
}

} // namespace platform::sim
