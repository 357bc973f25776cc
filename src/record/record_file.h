// The record file: records of wipe runs as JSON, each sealed with the SHA-256 of its canonical
// body and chained to the record written to the same folder before it, so that an edited or a
// removed record shows. A file holds a JSON array of records; appending adds one and leaves
// the bytes of the earlier ones as they were. Files are replaced in one step (a temporary file
// beside the target, flushed, then renamed over it), so a failure never leaves half a record.
#pragma once

#include "record/record.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace purgelet::record {

nlohmann::json ToJson(const TRecord& record);
// Writes bytes as the file at path in one step: a new file beside it (path + ".partial"),
// flushed, then renamed over it. On failure the temporary file is removed, the target is as it
// was, and why says what the system said.
bool ReplaceFile(const std::string& path, const std::string& bytes, std::string& why);

// The record in a JSON object; throws nlohmann::json::exception when a field has the wrong
// type (a damaged file). Fields a later version added are ignored.
TRecord FromJson(const nlohmann::json& object);

// The bytes the digest covers: the record without its "sha256" member, compact, members in
// name order, UTF-8 as is.
std::string CanonicalBody(const nlohmann::json& record);
// Sets Sha256 to the digest of the canonical body, or SealError when the system has none.
void Seal(TRecord& record);

// The current local time, ISO 8601 with the UTC offset ("2026-12-09T04:16:20+01:00").
std::string IsoTimeNow();
// Seconds since 1970 (UTC) of such a text; false when it is not one.
bool IsoTimeSeconds(const std::string& text, long long& seconds);

// The digest of the newest sealed record in the folder's ".json" files (the head of the
// chain: the record no other one names as its previous; of several, the last to end), empty
// when there is none. Files that are not record files are passed over.
std::string ChainHead(const std::string& folder);

// Writes record as the file at path: replacing the file, or, with append, adding it to the
// records the file holds. A file to append to that is not a record file is left as it is and
// the record goes to a new file beside it (writtenTo says which). False and why when nothing
// could be written.
bool WriteRecordFile(const std::string& path, const TRecord& record, bool append,
                     std::string& writtenTo, std::string& why);

// What a check of record files found. Lines say, per record, what is right or wrong.
struct TVerifyResult {
    std::vector<std::string> Lines;
    int Records = 0;
    int Broken = 0;     // records altered, or chains broken
    int Unreadable = 0; // files that are not record files
};
// Checks every record's digest and the chain between the records of all the files.
TVerifyResult VerifyRecordFiles(const std::vector<std::string>& files);

} // namespace purgelet::record
