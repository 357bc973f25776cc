// The fleet database's tables and what is done with them: records stored once by their
// digest, with the fields people search by beside each, drives found by those fields, a
// record read back. The schema carries its version; a tool never works on a later one.
#pragma once

#include "fleet_db.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

namespace purgelet::tool::fleet {

// The schema this tool makes and reads.
inline constexpr int kSchemaVersion = 1;

// Makes the schema where there is none (a second call changes nothing); said tells which.
// False and why for a database whose schema is of a later version, or a failure.
bool InitSchema(TConnection& db, std::string& said, std::string& why);
// Whether the database holds a schema this tool can use; why says what is wrong.
bool CheckSchema(TConnection& db, std::string& why);

// Stores a file's records in one transaction: all of them or, on a failure, none. added
// counts the records that were not stored before.
bool PushRecords(TConnection& db, const std::vector<nlohmann::json>& records, int& added,
                 std::string& why);

struct TFindQuery {
    std::optional<std::string> Serial;   // the drive's serial number
    std::optional<std::string> Computer; // the computer's serial number or host name
    std::optional<long long> Since;      // drives whose wipe ended then or later (Unix time)
    std::optional<std::string> Outcome;  // the drive's outcome
};
// The matching drives, oldest end first; each an object with the fields "record find --json"
// prints (null where the record has none).
bool FindDrives(TConnection& db, const TFindQuery& query, std::vector<nlohmann::json>& drives,
                std::string& why);

// The record stored under digest; found false when there is none.
bool ReadStoredRecord(TConnection& db, const std::string& digest, bool& found,
                      nlohmann::json& record, std::string& why);

} // namespace purgelet::tool::fleet
