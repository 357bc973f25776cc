#include "record/record_file.h"

#include "record/record_chain.h"

#include "platform/codepage.h"
#include "platform/handle.h"
#include "platform/system.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

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

// The members whose text is not empty, in the order given.
json NonEmpty(std::initializer_list<std::pair<const char*, std::string>> members) {
    json object = json::object();
    for (const auto& [name, text] : members)
        if (!text.empty())
            object[name] = text;
    return object;
}

json OperatorJson(const TOperator& person) {
    json object{{"person", person.Person}, {"media", person.Media}};
    object.update(NonEmpty(
        {{"title", person.Title}, {"location", person.Location}, {"phone", person.Phone}}));
    return object;
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
    if (!drive.Blank.empty())
        out["blank"] = drive.Blank;
    json& verification = out["verification"];
    if (drive.VerifiedByContent)
        verification["byContent"] = true;
    if (drive.DifferingBlockCount > 0) {
        verification["differingBlocks"] = drive.DifferingBlocks;
        verification["differingBlockCount"] = drive.DifferingBlockCount;
    }
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
    drive.VerifiedByContent = Field<bool>(verification, "byContent");
    for (const json& block : verification.value("differingBlocks", json::array()))
        if (block.is_number_integer())
            drive.DifferingBlocks.push_back(block.get<std::int64_t>());
    drive.DifferingBlockCount = Field<std::int64_t>(verification, "differingBlockCount");
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
    drive.Blank = Field<std::string>(object, "blank");
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

// Every string of a record converted, at the one edge between the program's Windows-1252
// texts and the file's UTF-8. Member names are the format's own and stay ASCII.
void ConvertStrings(json& value, std::string (*convert)(std::string_view)) {
    if (value.is_string())
        value = convert(value.get_ref<const std::string&>());
    else if (value.is_structured())
        for (json& member : value)
            ConvertStrings(member, convert);
}

std::string Text(const json& object, const char* key) {
    auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : "";
}

} // namespace

bool ReplaceFile(const std::string& path, const std::string& bytes, std::string& why,
                 bool replace) {
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
                                             (replace ? MOVEFILE_REPLACE_EXISTING : 0) |
                                                 MOVEFILE_WRITE_THROUGH))
        done = failed();
    if (!done)
        platform::k32().DeleteFileA(temporary.c_str());
    return done;
}

std::string FreeName(const std::string& base, const std::string& extension) {
    for (int n = 1; n < 1000; ++n) {
        const std::string candidate = base + (n == 1 ? "" : "." + std::to_string(n)) + extension;
        if (platform::k32().GetFileAttributesA(candidate.c_str()) == INVALID_FILE_ATTRIBUTES &&
            platform::k32().GetLastError() != ERROR_ACCESS_DENIED)
            return candidate;
    }
    return "";
}

TRecordFolderLock::TRecordFolderLock(const std::string& folder, std::string& why, DWORD timeoutMs) {
    const std::string path =
        (std::filesystem::path(folder.empty() ? "." : folder) / kRecordLockFile).string();
    platform::UniqueHandle file(platform::k32().CreateFileA(
        path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_ALWAYS, 0, nullptr));
    if (!file) {
        why = platform::k32().SysErrorMessage(platform::k32().GetLastError());
        return;
    }
    // Polled rather than waited on, so that a run stuck elsewhere holding the lock costs this
    // one its record only after a while, with a reason, never forever. The wait is the
    // world's: another program holds the lock, whatever clock this one runs on.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        OVERLAPPED whole{};
        if (platform::k32().LockFileEx(
                file.Get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole)) {
            file_ = std::move(file);
            return;
        }
        const DWORD error = platform::k32().GetLastError();
        if (error != ERROR_LOCK_VIOLATION) {
            why = platform::k32().SysErrorMessage(error);
            return;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            why = "another run held the records folder's lock (" + path + ") for too long";
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
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
        {"operator", OperatorJson(record.Operator)},
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
    // The auditor's fields only where they were given: a record without them reads and seals
    // as before.
    if (json organisation = NonEmpty(
            {{"name", record.Organisation.Name}, {"address", record.Organisation.Address}});
        !organisation.empty())
        object["organisation"] = organisation;
    if (json validator =
            NonEmpty({{"name", record.Validator.Name}, {"title", record.Validator.Title}});
        !validator.empty())
        object["validator"] = validator;
    if (json media = NonEmpty({{"confidentiality", record.Media.Confidentiality},
                               {"backup", record.Media.Backup},
                               {"destination", record.Media.Destination}});
        !media.empty())
        object["media"] = media;
    if (!record.SealError.empty())
        object["sealError"] = record.SealError;
    ConvertStrings(object, &platform::Cp1252ToUtf8);
    return object;
}

TRecord FromJson(const json& stored) {
    json object = stored;
    ConvertStrings(object, &platform::Utf8ToCp1252);
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
    record.Operator = {Field<std::string>(person, "person"), Field<std::string>(person, "media"),
                       Field<std::string>(person, "title"), Field<std::string>(person, "location"),
                       Field<std::string>(person, "phone")};
    const json organisation = object.value("organisation", json::object());
    record.Organisation = {Field<std::string>(organisation, "name"),
                           Field<std::string>(organisation, "address")};
    const json validator = object.value("validator", json::object());
    record.Validator = {Field<std::string>(validator, "name"),
                        Field<std::string>(validator, "title")};
    const json media = object.value("media", json::object());
    record.Media = {Field<std::string>(media, "confidentiality"),
                    Field<std::string>(media, "backup"), Field<std::string>(media, "destination")};
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
    std::vector<TChainEntry> entries;
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
        for (const json& record : file)
            if (std::string digest = Text(record, "sha256"); !digest.empty())
                entries.push_back({std::move(digest), Text(record, "previousSha256")});
    } while (platform::k32().FindNextFileA(search.Get(), &found));
    // The newest record of the folder's chain: a new run goes on from it, whatever the clock.
    const TChainOrder order = OrderChain(entries);
    return order.Main.empty() ? "" : entries[order.Main.back()].Digest;
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
    // The file's name without ".json": the base of the names beside it.
    std::string base = path;
    if (base.size() > 5 && base.compare(base.size() - 5, 5, ".json") == 0)
        base.resize(base.size() - 5);
    auto writeNew = [&] {
        writtenTo = FreeName(base, ".json");
        if (writtenTo.empty()) {
            why = "no free name beside " + path;
            return false;
        }
        return ReplaceFile(writtenTo, "[\n" + text + "\n]\n", why, false);
    };
    writtenTo = path;
    std::string existing;
    const bool exists = platform::k32().GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (!append || !exists)
        return writeNew();
    json records;
    // Never rewrite what may be someone's record: the new one goes beside it.
    if (!ReadWholeFile(path, existing, why) || !ParseRecordFile(existing, records, why))
        return writeNew();
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

bool ReadFileWhole(const std::string& path, std::string& bytes, std::string& why) {
    return ReadWholeFile(path, bytes, why);
}

bool ReadRecords(const std::string& path, std::vector<json>& records, std::string& why) {
    std::string bytes;
    json file;
    if (!ReadWholeFile(path, bytes, why) || !ParseRecordFile(bytes, file, why))
        return false;
    records.assign(file.begin(), file.end());
    return true;
}

bool Intact(const json& record) {
    const std::string stored = Text(record, "sha256");
    try {
        return !stored.empty() && stored == DigestOf(record);
    } catch (const std::exception&) {
        return false;
    }
}

namespace {

// A record file's name without ".json" and its number: "run.log.3.json" is the third of
// "run.log", "run.log.json" the first. Numbered names are given in order as runs need them.
std::pair<std::string, int> NumberedName(const std::string& path) {
    std::string stem = std::filesystem::path(path).filename().string();
    if (stem.size() > 5 && stem.compare(stem.size() - 5, 5, ".json") == 0)
        stem.resize(stem.size() - 5);
    const auto dot = stem.find_last_of('.');
    if (dot != std::string::npos && dot + 1 < stem.size() && dot + 4 >= stem.size() &&
        stem.find_first_not_of("0123456789", dot + 1) == std::string::npos &&
        stem[dot + 1] != '0') {
        const int number = std::stoi(stem.substr(dot + 1));
        if (number >= 2)
            return {(std::filesystem::path(path).parent_path() / stem.substr(0, dot)).string(),
                    number};
    }
    return {(std::filesystem::path(path).parent_path() / stem).string(), 1};
}

// One record as read: where it is, for the lines that name it, and what is wrong with it.
struct TSeenRecord {
    std::string where;
    std::size_t file; // index in the files given
    std::string sealLine;
    std::vector<std::string> faults;
};

// The record's own seal: its stored digest against the digest of its content.
TSeenRecord CheckSeal(const json& record, const std::string& path, int index, std::size_t file) {
    TSeenRecord entry;
    entry.file = file;
    entry.where = path + ", record " + std::to_string(index) + " (run of " +
                  Text(record.value("run", json::object()), "start") + ")";
    const std::string stored = Text(record, "sha256");
    std::string actual;
    try {
        actual = DigestOf(record);
    } catch (const std::exception& error) {
        actual = std::string("(") + error.what() + ")";
    }
    if (stored.empty())
        entry.faults.push_back("BROKEN, not sealed (" + Text(record, "sealError") + ")");
    else if (stored != actual)
        entry.faults.push_back("BROKEN, its content was changed after it was sealed "
                               "(digest " +
                               actual + ", sealed as " + stored + ")");
    entry.sealLine = stored.empty() ? "" : "intact, " + stored;
    return entry;
}

// Every record of every file given, in the order given, each with its seal checked and its
// place in the chain to be found.
void ReadGivenFiles(const std::vector<std::string>& files, TVerifyResult& result,
                    std::vector<TSeenRecord>& seen, std::vector<TChainEntry>& entries) {
    std::set<std::string> given;
    for (std::size_t f = 0; f < files.size(); ++f) {
        const std::string& path = files[f];
        std::error_code unknown;
        const std::filesystem::path same = std::filesystem::weakly_canonical(path, unknown);
        if (!given.insert(unknown ? path : same.string()).second)
            continue; // the same file named twice is read once
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
            seen.push_back(CheckSeal(record, path, index, f));
            entries.push_back({Text(record, "sha256"), Text(record, "previousSha256")});
        }
    }
}

void AddChainFaults(const TChainOrder& order, const std::vector<TChainEntry>& entries,
                    std::vector<TSeenRecord>& seen) {
    for (std::size_t i = 0; i < seen.size(); ++i) {
        const std::string related =
            order.Related[i] != TChainOrder::kNone ? seen[order.Related[i]].where : "";
        switch (order.Fault[i]) {
        case TChainFault::None:
            break;
        case TChainFault::Duplicate:
            seen[i].faults.push_back("BROKEN chain, the same record as " + related);
            break;
        case TChainFault::SecondFirst:
            seen[i].faults.push_back("BROKEN chain, a second first record (the chain starts at " +
                                     related + ")");
            break;
        case TChainFault::Gap:
            seen[i].faults.push_back("BROKEN chain, the record before it (" + entries[i].Previous +
                                     ") is missing or was changed");
            break;
        case TChainFault::Fork:
            seen[i].faults.push_back("BROKEN chain, it follows the same record as " + related);
            break;
        case TChainFault::OffChain:
            seen[i].faults.push_back("BROKEN chain, it follows " + related +
                                     ", which is not in the chain");
            break;
        }
    }
}

// Within a file, records were appended in chain order; numbered files were named in the
// chain's order too (a file's first record comes after the first of every lower number).
void AddFileOrderFaults(const std::vector<std::string>& files, const TChainOrder& order,
                        std::vector<TSeenRecord>& seen) {
    std::map<std::size_t, std::size_t> lastOfFile; // file -> its entry furthest in the chain
    std::map<std::string, std::map<int, std::size_t>> numbered; // base -> number -> first entry
    for (std::size_t entry : order.Main) {
        auto [last, added] = lastOfFile.emplace(seen[entry].file, entry);
        if (!added) {
            if (entry < last->second)
                seen[entry].faults.push_back("BROKEN chain, out of order in its file: it comes "
                                             "after " +
                                             seen[last->second].where +
                                             " in the chain but before it in the file");
            last->second = std::max(last->second, entry);
        }
        const auto [base, number] = NumberedName(files[seen[entry].file]);
        numbered[base].emplace(number, entry); // the first in the chain, as Main is walked
    }
    for (const auto& [base, byNumber] : numbered) {
        long before = -1;
        std::size_t beforeEntry = TChainOrder::kNone;
        for (const auto& [number, entry] : byNumber) {
            if (order.Position[entry] < before)
                seen[entry].faults.push_back(
                    "BROKEN chain, its file's name is numbered after that of " +
                    seen[beforeEntry].where +
                    " but its first record comes before: files were renamed, or one was "
                    "removed and its name used again");
            if (order.Position[entry] > before) {
                before = order.Position[entry];
                beforeEntry = entry;
            }
        }
    }
}

// In chain order, then what is off the chain in the order given.
void ReportInChainOrder(const TChainOrder& order, const std::vector<TSeenRecord>& seen,
                        TVerifyResult& result) {
    auto report = [&](std::size_t i) {
        if (seen[i].faults.empty()) {
            result.Lines.push_back(seen[i].where + ": " + seen[i].sealLine);
            return;
        }
        ++result.Broken;
        for (const std::string& fault : seen[i].faults)
            result.Lines.push_back(seen[i].where + ": " + fault);
    };
    if (!order.Main.empty() && order.StartsInside)
        result.Lines.push_back(seen[order.Main.front()].where +
                               ": its previous record is not among those given (the chain's "
                               "earlier records were not given)");
    for (std::size_t entry : order.Main)
        report(entry);
    for (std::size_t i = 0; i < seen.size(); ++i)
        if (order.Position[i] < 0)
            report(i);
}

} // namespace

TVerifyResult VerifyRecordFiles(const std::vector<std::string>& files) {
    TVerifyResult result;
    std::vector<TSeenRecord> seen;
    std::vector<TChainEntry> entries;
    ReadGivenFiles(files, result, seen, entries);
    const TChainOrder order = OrderChain(entries);
    AddChainFaults(order, entries, seen);
    AddFileOrderFaults(files, order, seen);
    ReportInChainOrder(order, seen, result);
    return result;
}

} // namespace purgelet::record
