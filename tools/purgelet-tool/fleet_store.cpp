#include "fleet_store.h"

#include "record/record_file.h"

namespace purgelet::tool::fleet {

namespace {

using json = nlohmann::json;

// Every statement of the schema, in order; each may run again on a database that has it.
// A record is one run; its drives are rows of their own, since one run wipes several.
const char* const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS purgelet_records ("
    " digest text PRIMARY KEY,"
    " previous_digest text,"
    " computer_serial text,"
    " host_name text,"
    " operator text,"
    " run_start timestamptz,"
    " run_end timestamptz,"
    " run_outcome text,"
    " record jsonb NOT NULL,"
    " pushed_at timestamptz NOT NULL DEFAULT now())",
    "CREATE TABLE IF NOT EXISTS purgelet_drives ("
    " digest text NOT NULL REFERENCES purgelet_records (digest) ON DELETE CASCADE,"
    " drive_index integer NOT NULL,"
    " serial text,"
    " model text,"
    " bus text,"
    " size bigint,"
    " outcome text,"
    " nist_category text,"
    " method text,"
    " start_time timestamptz,"
    " end_time timestamptz,"
    " PRIMARY KEY (digest, drive_index))",
    "CREATE INDEX IF NOT EXISTS purgelet_drives_serial ON purgelet_drives (serial)",
    "CREATE INDEX IF NOT EXISTS purgelet_drives_end_time ON purgelet_drives (end_time)",
    "CREATE INDEX IF NOT EXISTS purgelet_records_computer_serial"
    " ON purgelet_records (computer_serial)",
    "CREATE INDEX IF NOT EXISTS purgelet_records_host_name ON purgelet_records (host_name)",
};

// Two tools making the schema at once take turns on this lock (any number of our own).
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(7309215846)";

// A failed statement's transaction is given up; what failed is already in why.
bool Rollback(TConnection& db) {
    return db.Run("ROLLBACK");
}

// The version the database's schema says, or nullopt where it has none; false on a failure.
bool StoredVersion(TConnection& db, std::optional<int>& version, std::string& why) {
    version.reset();
    TResult exists = db.Exec("SELECT to_regclass('purgelet_schema') IS NOT NULL");
    if (!exists.Ok()) {
        why = db.LastError();
        return false;
    }
    if (exists.Text(0, 0) != "t")
        return true;
    TResult stored = db.Exec("SELECT max(version) FROM purgelet_schema");
    if (!stored.Ok()) {
        why = db.LastError();
        return false;
    }
    if (!stored.IsNull(0, 0))
        version = std::stoi(stored.Text(0, 0));
    return true;
}

std::string TooNew(int version) {
    return "the database's fleet schema is version " + std::to_string(version) +
           ", this purgelet-tool knows version " + std::to_string(kSchemaVersion) +
           " at most: use a newer purgelet-tool";
}

// A text member of an object, nullopt where it is absent, not text, or empty.
TParam TextOf(const json& object, const char* name) {
    if (!object.is_object())
        return std::nullopt;
    const auto found = object.find(name);
    if (found == object.end() || !found->is_string() || found->get<std::string>().empty())
        return std::nullopt;
    return found->get<std::string>();
}

const json& MemberOf(const json& object, const char* name) {
    static const json none;
    if (!object.is_object())
        return none;
    const auto found = object.find(name);
    return found == object.end() ? none : *found;
}

// A time of the record as Unix time, for to_timestamp; nullopt where it is not one.
TParam TimeOf(const json& object, const char* name) {
    long long seconds = 0;
    const TParam text = TextOf(object, name);
    if (!text || !record::IsoTimeSeconds(*text, seconds))
        return std::nullopt;
    return std::to_string(seconds);
}

TParam IntegerOf(const json& object, const char* name) {
    const json& value = MemberOf(object, name);
    if (value.is_number_unsigned() && value.get<std::uint64_t>() <= INT64_MAX)
        return std::to_string(value.get<std::uint64_t>());
    if (value.is_number_integer())
        return std::to_string(value.get<std::int64_t>());
    return std::nullopt;
}

// A record and its drives in one statement (one round trip): the drives' columns come as
// arrays, one element per drive, and are stored only where the record was new.
constexpr const char* kInsertRecord =
    "WITH stored AS (INSERT INTO purgelet_records (digest, previous_digest, computer_serial,"
    " host_name, operator, run_start, run_end, run_outcome, record) VALUES ($1, $2, $3, $4, $5,"
    " to_timestamp($6::bigint), to_timestamp($7::bigint), $8, $9::jsonb)"
    " ON CONFLICT (digest) DO NOTHING RETURNING digest),"
    " drives AS (INSERT INTO purgelet_drives (digest, drive_index, serial, model, bus, size,"
    " outcome, nist_category, method, start_time, end_time)"
    " SELECT stored.digest, d.place - 1, d.serial, d.model, d.bus, d.size, d.outcome, d.nist,"
    " d.method, to_timestamp(d.started), to_timestamp(d.ended) FROM stored,"
    " unnest($10::text[], $11::text[], $12::text[], $13::bigint[], $14::text[], $15::text[],"
    " $16::text[], $17::bigint[], $18::bigint[]) WITH ORDINALITY"
    " AS d(serial, model, bus, size, outcome, nist, method, started, ended, place))"
    " SELECT count(*) FROM stored";
constexpr int kInsertParameters = 18;

// The statement is prepared once per connection (the session keeps it).
bool PrepareInsert(TConnection& db, std::string& why) {
    TResult prepared =
        db.Exec("SELECT count(*) FROM pg_prepared_statements WHERE name = 'purgelet_record'");
    if (prepared.Ok() && prepared.Text(0, 0) != "0")
        return true;
    if (!db.Prepare("purgelet_record", kInsertRecord, kInsertParameters)) {
        why = db.LastError();
        return false;
    }
    return true;
}

// An array's text form: {"a",NULL,"b"}, every element quoted, quotes and backslashes escaped.
std::string ArrayOf(const std::vector<TParam>& values) {
    std::string text = "{";
    for (const TParam& value : values) {
        if (text.size() > 1)
            text += ',';
        if (!value) {
            text += "NULL";
            continue;
        }
        text += '"';
        for (char c : *value) {
            if (c == '"' || c == '\\')
                text += '\\';
            text += c;
        }
        text += '"';
    }
    return text + "}";
}

// One record and, where it is new, its drives; the transaction is the caller's.
bool InsertRecord(TConnection& db, const json& stored, int& added, TResult& failed) {
    const json& computer = MemberOf(stored, "computer");
    const json& run = MemberOf(stored, "run");
    std::vector<std::vector<TParam>> columns(kInsertParameters - 9);
    const json& drives = MemberOf(stored, "drives");
    for (const json& drive : drives.is_array() ? drives : json::array()) {
        const json& identity = MemberOf(drive, "identity");
        const TParam values[] = {TextOf(identity, "serial"),
                                 TextOf(identity, "model"),
                                 TextOf(identity, "bus"),
                                 IntegerOf(drive, "size"),
                                 TextOf(drive, "outcome"),
                                 TextOf(drive, "nistCategory"),
                                 TextOf(MemberOf(drive, "method"), "name"),
                                 TimeOf(drive, "start"),
                                 TimeOf(drive, "end")};
        for (std::size_t i = 0; i < columns.size(); ++i)
            columns[i].push_back(values[i]);
    }
    TParams params = {TextOf(stored, "sha256"),
                      TextOf(stored, "previousSha256"),
                      TextOf(computer, "serial"),
                      TextOf(computer, "hostName"),
                      TextOf(MemberOf(stored, "operator"), "person"),
                      TimeOf(run, "start"),
                      TimeOf(run, "end"),
                      TextOf(run, "outcome"),
                      stored.dump()};
    for (const auto& column : columns)
        params.push_back(ArrayOf(column));
    TResult result = db.ExecPrepared("purgelet_record", params);
    if (!result.Ok()) {
        failed = std::move(result);
        return false;
    }
    if (result.Text(0, 0) == "1")
        ++added;
    return true;
}

} // namespace

bool InitSchema(TConnection& db, std::string& said, std::string& why) {
    if (!db.Run("BEGIN") || !db.Exec(kSchemaLock).Ok() ||
        !db.Run("CREATE TABLE IF NOT EXISTS purgelet_schema (version integer NOT NULL)")) {
        why = db.LastError();
        Rollback(db);
        return false;
    }
    std::optional<int> version;
    if (!StoredVersion(db, version, why)) {
        Rollback(db);
        return false;
    }
    if (version && *version > kSchemaVersion) {
        why = TooNew(*version);
        Rollback(db);
        return false;
    }
    for (const char* statement : kSchema)
        if (!db.Run(statement)) {
            why = db.LastError();
            Rollback(db);
            return false;
        }
    if (!version && !db.Exec("INSERT INTO purgelet_schema (version) VALUES ($1::integer)",
                             {std::to_string(kSchemaVersion)})
                         .Ok()) {
        why = db.LastError();
        Rollback(db);
        return false;
    }
    if (!db.Run("COMMIT")) {
        why = db.LastError();
        return false;
    }
    said = version ? "fleet schema version " + std::to_string(kSchemaVersion) + " already there"
                   : "fleet schema version " + std::to_string(kSchemaVersion) + " made";
    return true;
}

bool CheckSchema(TConnection& db, std::string& why) {
    std::optional<int> version;
    if (!StoredVersion(db, version, why))
        return false;
    if (!version) {
        why = "the database holds no fleet schema: make it with purgelet-tool record push --init "
              "--to CONNINFO";
        return false;
    }
    if (*version > kSchemaVersion) {
        why = TooNew(*version);
        return false;
    }
    return true;
}

bool PushRecords(TConnection& db, const std::vector<json>& records, int& added, std::string& why) {
    if (!PrepareInsert(db, why))
        return false;
    // Two tools pushing the same records wait for each other's rows; where they deadlock
    // the server gives one up, and that one tries again.
    for (int attempt = 1;; ++attempt) {
        added = 0;
        if (!db.Run("BEGIN")) {
            why = db.LastError();
            return false;
        }
        TResult failed;
        bool stored = true;
        for (const json& record : records)
            if (!InsertRecord(db, record, added, failed)) {
                stored = false;
                break;
            }
        if (stored && db.Run("COMMIT"))
            return true;
        why = db.LastError();
        Rollback(db);
        const std::string state = failed.SqlState();
        if (attempt == 3 || (state != "40P01" && state != "40001"))
            return false;
    }
}

bool FindDrives(TConnection& db, const TFindQuery& query, std::vector<json>& drives,
                std::string& why) {
    // Only placeholders go into the text; the values go as parameters.
    std::string where;
    TParams params;
    auto condition = [&](const std::string& text, const TParam& value) {
        params.push_back(value);
        std::string clause = text;
        for (std::size_t at = clause.find('$'); at != std::string::npos;
             at = clause.find('$', at + 1))
            clause.replace(at, 1, "$" + std::to_string(params.size()));
        where += (where.empty() ? " WHERE " : " AND ") + clause;
    };
    if (query.Serial)
        condition("d.serial = $", query.Serial);
    if (query.Computer)
        condition("(r.computer_serial = $ OR r.host_name = $)", query.Computer);
    if (query.Since)
        condition("d.end_time >= to_timestamp($::bigint)", std::to_string(*query.Since));
    if (query.Outcome)
        condition("d.outcome = $", query.Outcome);
    TResult rows = db.Exec(
        "SELECT d.serial, d.model, d.bus, d.size, d.outcome, d.nist_category, d.method,"
        " r.record -> 'drives' -> d.drive_index ->> 'start',"
        " r.record -> 'drives' -> d.drive_index ->> 'end',"
        " r.computer_serial, r.host_name, r.operator, d.digest, r.previous_digest, d.drive_index"
        " FROM purgelet_drives d JOIN purgelet_records r ON r.digest = d.digest" +
            where + " ORDER BY d.end_time NULLS FIRST, d.digest, d.drive_index",
        params);
    if (!rows.Ok()) {
        why = db.LastError();
        return false;
    }
    const char* names[] = {"serial",  "model",          "bus",      "size",
                           "outcome", "nistCategory",   "method",   "start",
                           "end",     "computerSerial", "hostName", "operator",
                           "digest",  "previousDigest", "drive"};
    for (int row = 0; row < rows.Rows(); ++row) {
        json drive = json::object();
        for (int column = 0; column < 15; ++column) {
            const auto value = rows.Value(row, column);
            if (!value)
                drive[names[column]] = nullptr;
            else if (column == 3 || column == 14)
                drive[names[column]] = std::stoll(*value);
            else
                drive[names[column]] = *value;
        }
        drives.push_back(std::move(drive));
    }
    return true;
}

bool ReadStoredRecord(TConnection& db, const std::string& digest, bool& found, json& record,
                      std::string& why) {
    TResult rows = db.Exec("SELECT record::text FROM purgelet_records WHERE digest = $1", {digest});
    if (!rows.Ok()) {
        why = db.LastError();
        return false;
    }
    found = rows.Rows() == 1;
    if (!found)
        return true;
    try {
        record = json::parse(rows.Text(0, 0));
    } catch (const json::exception& error) {
        why = std::string("the stored record cannot be read: ") + error.what();
        return false;
    }
    return true;
}

} // namespace purgelet::tool::fleet
