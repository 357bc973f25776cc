#include "record/record_file.h"

#include "platform/handle.h"
#include "platform/system.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

namespace purgelet::record {

using nlohmann::json;

namespace {

// A record file larger than this is not one of ours: it is not read whole into memory.
constexpr std::size_t kMaxRecordFileBytes = 64u << 20;

json OptionalJson(const std::optional<std::int64_t>& value) {
    return value ? json(*value) : json(nullptr);
}

template <class T> std::optional<T> OptionalFrom(const json& object, const char* key) {
    auto found = object.find(key);
    if (found == object.end() || found->is_null())
        return std::nullopt;
    return found->get<T>();
}

template <class T> T Field(const json& object, const char* key, T fallback = T()) {
    auto found = object.find(key);
    if (found == object.end() || found->is_null())
        return fallback;
    return found->get<T>();
}

json IdentityJson(const platform::DeviceIdentity& identity) {
    return json{{"model", identity.Model},
                {"serial", identity.Serial},
                {"firmware", identity.Firmware},
                {"bus", identity.Bus},
                {"rotational", identity.Rotational ? json(*identity.Rotational) : json(nullptr)}};
}

platform::DeviceIdentity IdentityFrom(const json& object) {
    platform::DeviceIdentity identity;
    identity.Model = Field<std::string>(object, "model");
    identity.Serial = Field<std::string>(object, "serial");
    identity.Firmware = Field<std::string>(object, "firmware");
    identity.Bus = Field<std::string>(object, "bus");
    identity.Rotational = OptionalFrom<bool>(object, "rotational");
    return identity;
}

json FirmwareJson(const TFirmwareErase& erase) {
    json check = nullptr;
    if (erase.Verification)
        check = {{"sampled", erase.Verification->Sampled},
                 {"changed", erase.Verification->Changed},
                 {"heldNoData", erase.Verification->HeldNoData},
                 {"unchanged", erase.Verification->Unchanged}};
    json object{{"command", erase.Command},
                {"status", erase.Status},
                {"driveStatus", erase.DriveStatus},
                {"verification", check},
                {"password", erase.Password}};
    if (!erase.PasswordLeft.empty())
        object["passwordLeft"] = erase.PasswordLeft;
    return object;
}

TFirmwareErase FirmwareFrom(const json& object) {
    TFirmwareErase erase;
    erase.Command = Field<std::string>(object, "command");
    erase.Status = Field<std::string>(object, "status");
    erase.DriveStatus = Field<std::string>(object, "driveStatus");
    if (auto check = object.find("verification"); check != object.end() && check->is_object())
        erase.Verification = TFirmwareErase::TCheck{
            Field<int>(*check, "sampled"), Field<int>(*check, "changed"),
            Field<int>(*check, "heldNoData"), Field<int>(*check, "unchanged")};
    erase.Password = Field<std::string>(object, "password", std::string("none"));
    erase.PasswordLeft = Field<std::string>(object, "passwordLeft", std::string());
    return erase;
}

json DriveJson(const TDrive& drive) {
    json passes = json::array();
    for (const TPass& pass : drive.Passes)
        passes.push_back({{"number", pass.Number}, {"kind", pass.Kind}, {"pattern", pass.Pattern}});
    json errors = json::array();
    for (const TError& error : drive.Errors)
        errors.push_back({{"block", OptionalJson(error.Block)},
                          {"text", error.Text},
                          {"answer", error.Answer},
                          {"time", error.Time}});
    json out{
        {"name", drive.Name},
        {"description", drive.Description},
        {"identity", IdentityJson(drive.Identity)},
        {"partitionNumber", drive.PartitionNumber ? json(*drive.PartitionNumber) : json(nullptr)},
        {"partitionOffset", OptionalJson(drive.PartitionOffset)},
        {"size", drive.Size},
        {"blockSize", drive.BlockSize},
        {"blockCount", drive.BlockCount},
        {"method", {{"name", drive.Method}, {"passes", passes}}},
        {"nistCategory", drive.NistCategory},
        {"verification", {{"kind", drive.Verification}, {"blocksRead", drive.BlocksVerified}}},
        {"start", drive.Start},
        {"end", drive.End},
        {"durationSeconds", drive.DurationSeconds},
        {"averageBytesPerSecond", drive.AverageBytesPerSecond},
        {"errors", errors},
        {"formatted", drive.Formatted},
        {"outcome", drive.Outcome},
        {"outcomeText", drive.OutcomeText},
    };
    // Only where there was one, so that every other drive's record reads as before.
    if (drive.Firmware)
        out["firmware"] = FirmwareJson(*drive.Firmware);
    return out;
}

TDrive DriveFrom(const json& object) {
    TDrive drive;
    drive.Name = Field<std::string>(object, "name");
    drive.Description = Field<std::string>(object, "description");
    drive.Identity = IdentityFrom(object.value("identity", json::object()));
    drive.PartitionNumber = OptionalFrom<int>(object, "partitionNumber");
    drive.PartitionOffset = OptionalFrom<std::int64_t>(object, "partitionOffset");
    drive.Size = Field<std::int64_t>(object, "size");
    drive.BlockSize = Field<std::int32_t>(object, "blockSize");
    drive.BlockCount = Field<std::int64_t>(object, "blockCount");
    const json method = object.value("method", json::object());
    drive.Method = Field<std::string>(method, "name");
    for (const json& pass : method.value("passes", json::array()))
        drive.Passes.push_back({Field<int>(pass, "number"), Field<std::string>(pass, "kind"),
                                Field<std::string>(pass, "pattern")});
    drive.NistCategory = Field<std::string>(object, "nistCategory");
    const json verification = object.value("verification", json::object());
    drive.Verification = Field<std::string>(verification, "kind", "none");
    drive.BlocksVerified = Field<std::int64_t>(verification, "blocksRead");
    drive.Start = Field<std::string>(object, "start");
    drive.End = Field<std::string>(object, "end");
    drive.DurationSeconds = Field<double>(object, "durationSeconds");
    drive.AverageBytesPerSecond = Field<double>(object, "averageBytesPerSecond");
    for (const json& error : object.value("errors", json::array()))
        drive.Errors.push_back(
            {OptionalFrom<std::int64_t>(error, "block"), Field<std::string>(error, "text"),
             Field<std::string>(error, "answer"), Field<std::string>(error, "time")});
    drive.Formatted = Field<bool>(object, "formatted");
    drive.Outcome = Field<std::string>(object, "outcome");
    drive.OutcomeText = Field<std::string>(object, "outcomeText");
    if (auto firmware = object.find("firmware"); firmware != object.end() && firmware->is_object())
        drive.Firmware = FirmwareFrom(*firmware);
    return drive;
}

// ---- Files, through the system layer.

bool ReadWholeFile(const std::string& path, std::string& bytes, std::string& why) {
    platform::UniqueHandle file(platform::k32().CreateFileA(
        path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        why = platform::k32().SysErrorMessage(platform::k32().GetLastError());
        return false;
    }
    bytes.clear();
    char buffer[64 * 1024];
    for (;;) {
        DWORD read = 0;
        if (!platform::k32().ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr)) {
            why = platform::k32().SysErrorMessage(platform::k32().GetLastError());
            return false;
        }
        if (read == 0)
            return true;
        bytes.append(buffer, read);
        if (bytes.size() > kMaxRecordFileBytes) {
            why = "the file is too large to be a record file";
            return false;
        }
    }
}

// The records of a file's text: a JSON array of objects that carry our format version.
bool ParseRecordFile(const std::string& bytes, json& records, std::string& why) {
    try {
        records = json::parse(bytes);
    } catch (const json::exception& error) {
        why = std::string("not JSON: ") + error.what();
        return false;
    }
    if (!records.is_array()) {
        why = "not a list of records";
        return false;
    }
    for (const json& record : records)
        if (!record.is_object() || !record.contains("formatVersion") ||
            !record["formatVersion"].is_number_integer()) {
            why = "an entry is not a record";
            return false;
        }
    return true;
}

std::string DigestOf(const json& record) {
    return platform::HexText(platform::sys().crypto->Sha256(CanonicalBody(record)));
}

long long EndSeconds(const json& record) {
    long long seconds = 0;
    const json run = record.value("run", json::object());
    if (!run.is_object() || !run.contains("end") || !run["end"].is_string() ||
        !IsoTimeSeconds(run["end"].get<std::string>(), seconds))
        return 0;
    return seconds;
}

// Seconds since 1970 of a date and time of the proleptic Gregorian calendar.
long long CivilSeconds(int year, int month, int day, int hour, int minute, int second) {
    using namespace std::chrono;
    const sys_days date =
        year_month_day{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                       std::chrono::day{static_cast<unsigned>(day)}};
    return date.time_since_epoch().count() * 86400LL + hour * 3600LL + minute * 60LL + second;
}

// A new file beside path for its next contents: never one that was there (a file of the user's
// of that name is left alone). Invalid when none could be made; why says so.
platform::UniqueHandle CreateTemporary(const std::string& path, std::string& name,
                                       std::string& why) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = path + (attempt == 0 ? "" : "." + std::to_string(attempt)) + ".partial";
        platform::UniqueHandle file(platform::k32().CreateFileA(name.c_str(), GENERIC_WRITE, 0,
                                                                nullptr, CREATE_NEW, 0, nullptr));
        if (file)
            return file;
        const DWORD error = platform::k32().GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            why = platform::k32().SysErrorMessage(error);
            return file;
        }
    }
    why = "no free name for a temporary file beside " + path;
    return {};
}

std::string Text(const json& object, const char* key) {
    auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : "";
}

} // namespace

bool ReplaceFile(const std::string& path, const std::string& bytes, std::string& why) {
    std::string temporary;
    platform::UniqueHandle file = CreateTemporary(path, temporary, why);
    if (!file)
        return false;
    auto failed = [&] {
        why = platform::k32().SysErrorMessage(platform::k32().GetLastError());
        return false;
    };
    bool done = true;
    std::size_t offset = 0;
    while (done && offset < bytes.size()) {
        const DWORD chunk =
            static_cast<DWORD>(std::min<std::size_t>(bytes.size() - offset, 1u << 20));
        DWORD written = 0;
        done = (platform::k32().WriteFile(file.Get(), bytes.data() + offset, chunk, &written,
                                          nullptr) &&
                written == chunk) ||
               failed();
        offset += written;
    }
    if (done && !platform::k32().FlushFileBuffers(file.Get()))
        done = failed();
    if (!file.Close() && done)
        done = failed();
    if (done && !platform::k32().MoveFileExA(temporary.c_str(), path.c_str(),
                                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        done = failed();
    if (!done)
        platform::k32().DeleteFileA(temporary.c_str());
    return done;
}

json ToJson(const TRecord& record) {
    json drives = json::array();
    for (const TDrive& drive : record.Drives)
        drives.push_back(DriveJson(drive));
    json options = json::array();
    for (const auto& [name, value] : record.Run.Options)
        options.push_back({{"name", name}, {"value", value}});
    json object{
        {"formatVersion", record.FormatVersion},
        {"tool",
         {{"name", record.Tool.Name},
          {"version", record.Tool.Version},
          {"buildId", record.Tool.BuildId}}},
        {"computer",
         {{"vendor", record.Computer.Vendor},
          {"product", record.Computer.Product},
          {"serial", record.Computer.Serial},
          {"hostName", record.Computer.HostName},
          {"operatingSystem", record.Computer.OperatingSystem}}},
        {"operator", {{"person", record.Operator.Person}, {"media", record.Operator.Media}}},
        {"run",
         {{"start", record.Run.Start},
          {"end", record.Run.End},
          {"options", options},
          {"unattended", record.Run.Unattended},
          {"outcome", record.Run.Outcome}}},
        {"drives", drives},
        {"previousSha256", record.PreviousSha256},
        {"sha256", record.Sha256},
    };
    if (!record.Run.OutcomeText.empty())
        object["run"]["outcomeText"] = record.Run.OutcomeText;
    if (!record.SealError.empty())
        object["sealError"] = record.SealError;
    return object;
}

TRecord FromJson(const json& object) {
    TRecord record;
    record.FormatVersion = Field<int>(object, "formatVersion");
    const json tool = object.value("tool", json::object());
    record.Tool = {Field<std::string>(tool, "name"), Field<std::string>(tool, "version"),
                   Field<std::string>(tool, "buildId")};
    const json computer = object.value("computer", json::object());
    record.Computer = {
        Field<std::string>(computer, "vendor"), Field<std::string>(computer, "product"),
        Field<std::string>(computer, "serial"), Field<std::string>(computer, "hostName"),
        Field<std::string>(computer, "operatingSystem")};
    const json person = object.value("operator", json::object());
    record.Operator = {Field<std::string>(person, "person"), Field<std::string>(person, "media")};
    const json run = object.value("run", json::object());
    record.Run.Start = Field<std::string>(run, "start");
    record.Run.End = Field<std::string>(run, "end");
    for (const json& option : run.value("options", json::array()))
        record.Run.Options.emplace_back(Field<std::string>(option, "name"),
                                        Field<std::string>(option, "value"));
    record.Run.Unattended = Field<bool>(run, "unattended");
    record.Run.Outcome = Field<std::string>(run, "outcome");
    record.Run.OutcomeText = Field<std::string>(run, "outcomeText");
    for (const json& drive : object.value("drives", json::array()))
        record.Drives.push_back(DriveFrom(drive));
    record.PreviousSha256 = Field<std::string>(object, "previousSha256");
    record.Sha256 = Field<std::string>(object, "sha256");
    record.SealError = Field<std::string>(object, "sealError");
    return record;
}

std::string CanonicalBody(const json& record) {
    json body = record;
    body.erase("sha256");
    // Members are kept in name order; invalid UTF-8 raises rather than being hashed in some
    // replaced form that another reader would not reproduce.
    return body.dump();
}

void Seal(TRecord& record) {
    record.Sha256.clear();
    record.SealError.clear();
    try {
        record.Sha256 = DigestOf(ToJson(record));
    } catch (const std::exception& error) {
        record.SealError = error.what();
    }
}

std::string IsoTimeNow() {
    SYSTEMTIME local{}, utc{};
    platform::k32().GetLocalTime(&local);
    platform::k32().GetSystemTime(&utc);
    auto seconds = [](const SYSTEMTIME& t) {
        return CivilSeconds(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    };
    // The offset in whole minutes: the two readings may straddle a second.
    long long offset = seconds(local) - seconds(utc);
    offset = (offset >= 0 ? offset + 30 : offset - 30) / 60;
    const char sign = offset < 0 ? '-' : '+';
    if (offset < 0)
        offset = -offset;
    char text[64];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u%c%02lld:%02lld", local.wYear,
                  local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond, sign,
                  offset / 60, offset % 60);
    return text;
}

bool IsoTimeSeconds(const std::string& text, long long& seconds) {
    int year, month, day, hour, minute, second, offsetHours, offsetMinutes;
    char sign;
    int consumed = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%2d:%2d%n", &year, &month, &day, &hour,
                    &minute, &second, &sign, &offsetHours, &offsetMinutes, &consumed) != 9 ||
        consumed != static_cast<int>(text.size()) || (sign != '+' && sign != '-') || month < 1 ||
        month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return false;
    const long long offset = (offsetHours * 60LL + offsetMinutes) * 60 * (sign == '-' ? -1 : 1);
    seconds = CivilSeconds(year, month, day, hour, minute, second) - offset;
    return true;
}

std::string ChainHead(const std::string& folder) {
    struct Candidate {
        std::string digest;
        long long end;
    };
    std::vector<Candidate> records;
    std::set<std::string> named; // digests some record names as its previous
    const std::string pattern = (std::filesystem::path(folder) / "*.json").string();
    WIN32_FIND_DATAA found{};
    platform::UniqueHandle search(platform::k32().FindFirstFileA(pattern.c_str(), &found),
                                  platform::UniqueHandle::Kind::Search);
    if (!search)
        return "";
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            continue;
        const std::string path = (std::filesystem::path(folder) / found.cFileName).string();
        std::string bytes, why;
        json file;
        if (!ReadWholeFile(path, bytes, why) || !ParseRecordFile(bytes, file, why))
            continue;
        for (const json& record : file) {
            const std::string digest = Text(record, "sha256");
            if (!digest.empty())
                records.push_back({digest, EndSeconds(record)});
            const std::string previous = Text(record, "previousSha256");
            if (!previous.empty())
                named.insert(previous);
        }
    } while (platform::k32().FindNextFileA(search.Get(), &found));
    const Candidate* head = nullptr;
    for (const Candidate& candidate : records)
        if (named.count(candidate.digest) == 0 && (head == nullptr || candidate.end >= head->end))
            head = &candidate;
    return head != nullptr ? head->digest : "";
}

bool WriteRecordFile(const std::string& path, const TRecord& record, bool append,
                     std::string& writtenTo, std::string& why) {
    std::string text;
    try {
        text = ToJson(record).dump(2);
    } catch (const json::exception& error) {
        why = error.what();
        return false;
    }
    writtenTo = path;
    std::string existing;
    std::string unused;
    const bool exists =
        append && platform::k32().GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (!exists)
        return ReplaceFile(path, "[\n" + text + "\n]\n", why);
    json records;
    if (!ReadWholeFile(path, existing, why) || !ParseRecordFile(existing, records, why)) {
        // Never rewrite what may be someone's record: the new one goes beside it.
        for (int n = 2; n < 1000; ++n) {
            std::filesystem::path other(path);
            std::string stem = other.stem().string();
            const std::string candidate =
                (other.parent_path() / (stem + "." + std::to_string(n) + ".json")).string();
            if (platform::k32().GetFileAttributesA(candidate.c_str()) == INVALID_FILE_ATTRIBUTES) {
                writtenTo = candidate;
                return ReplaceFile(candidate, "[\n" + text + "\n]\n", why);
            }
        }
        why = "no free name beside " + path;
        return false;
    }
    // The earlier records keep their bytes: the new one goes before the closing bracket.
    std::string bytes = existing;
    const auto close = bytes.find_last_of(']');
    std::string head = bytes.substr(0, close);
    while (!head.empty() && (head.back() == '\n' || head.back() == '\r' || head.back() == ' '))
        head.pop_back();
    const bool empty = records.empty();
    bytes = head + (empty ? "\n" : ",\n") + text + "\n]\n";
    return ReplaceFile(path, bytes, why);
}

TVerifyResult VerifyRecordFiles(const std::vector<std::string>& files) {
    TVerifyResult result;
    struct Seen {
        std::string where;
        std::string digest;   // as stored
        std::string previous; // as stored
        long long end;
        bool intact;
    };
    std::vector<Seen> seen;
    for (const std::string& path : files) {
        std::string bytes, why;
        json records;
        if (!ReadWholeFile(path, bytes, why) || !ParseRecordFile(bytes, records, why)) {
            ++result.Unreadable;
            result.Lines.push_back(path + ": not a record file (" + why + ")");
            continue;
        }
        int index = 0;
        for (const json& record : records) {
            ++index;
            ++result.Records;
            const std::string where = path + ", record " + std::to_string(index) + " (run of " +
                                      Text(record.value("run", json::object()), "start") + ")";
            const std::string stored = Text(record, "sha256");
            std::string actual;
            try {
                actual = DigestOf(record);
            } catch (const std::exception& error) {
                actual = std::string("(") + error.what() + ")";
            }
            const bool intact = !stored.empty() && stored == actual;
            if (stored.empty())
                result.Lines.push_back(where + ": BROKEN, not sealed (" +
                                       Text(record, "sealError") + ")");
            else if (!intact)
                result.Lines.push_back(where +
                                       ": BROKEN, its content was changed after it was "
                                       "sealed (digest " +
                                       actual + ", sealed as " + stored + ")");
            else
                result.Lines.push_back(where + ": intact, " + stored);
            if (!intact)
                ++result.Broken;
            seen.push_back(
                {where, stored, Text(record, "previousSha256"), EndSeconds(record), intact});
        }
    }
    // The chain: every record but the earliest given names one of the others as its previous,
    // and no two name the same one.
    std::map<std::string, const Seen*> byDigest;
    for (const Seen& record : seen)
        if (!record.digest.empty())
            byDigest.emplace(record.digest, &record);
    const Seen* earliest = nullptr;
    for (const Seen& record : seen)
        if (earliest == nullptr || record.end < earliest->end)
            earliest = &record;
    std::map<std::string, const Seen*> follower;
    for (const Seen& record : seen) {
        if (record.previous.empty()) {
            if (&record != earliest)
                result.Lines.push_back(record.where + ": starts a new chain");
            continue;
        }
        auto previous = byDigest.find(record.previous);
        if (previous == byDigest.end()) {
            if (&record == earliest) {
                result.Lines.push_back(record.where +
                                       ": its previous record is not among those given");
            } else {
                ++result.Broken;
                result.Lines.push_back(record.where + ": BROKEN chain, the record before it (" +
                                       record.previous + ") is missing or was changed");
            }
            continue;
        }
        auto [other, added] = follower.emplace(record.previous, &record);
        if (!added) {
            ++result.Broken;
            result.Lines.push_back(record.where + ": BROKEN chain, it follows the same record as " +
                                   other->second->where);
        }
    }
    return result;
}

} // namespace purgelet::record
