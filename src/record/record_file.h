// The record file: records of wipe runs as JSON, each sealed with the SHA-256 of its canonical
// body and chained to the record written to the same folder before it, so that an edited or a
// removed record shows. A file holds a JSON array of records; appending adds one and leaves
// the bytes of the earlier ones as they were. Files are replaced in one step (a temporary file
// beside the target, flushed, then renamed over it), so a failure never leaves half a record.
#pragma once

#include "platform/handle.h"
#include "record/record.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace purgelet::record {

// The record's texts are the program's (Windows-1252); the file's are UTF-8. ToJson and
// FromJson convert between them, so that a name outside ASCII is stored as itself.
nlohmann::json ToJson(const TRecord& record);
// Writes bytes as the file at path in one step: a new file beside it (path + ".partial"),
// flushed, then renamed over it. On failure the temporary file is removed, the target is as it
// was, and why says what the system said. Without replace a file already at path is left as
// it is and the write fails.
bool ReplaceFile(const std::string& path, const std::string& bytes, std::string& why,
                 bool replace = true);

// The first of base + extension, base + ".2" + extension, ..., base + ".999" + extension that
// names no file; empty when every one does. A run's record and certificate take such names,
// so that no run's files replace another's.
std::string FreeName(const std::string& base, const std::string& extension);

// The records folder's lock: a lock file in the folder ("purgelet-records.lock"), held while
// alive. A run holds it from reading the chain's head to writing its record and certificate,
// so that runs ending together, in one process or in several, chain one after the other and
// an append never loses a record.
class TRecordFolderLock {
public:
    // Waits up to timeoutMs for the lock; Held() tells whether it was had, why says why not.
    TRecordFolderLock(const std::string& folder, std::string& why, DWORD timeoutMs = 120000);
    bool Held() const { return static_cast<bool>(file_); }

private:
    platform::UniqueHandle file_;
};
inline constexpr const char* kRecordLockFile = "purgelet-records.lock";

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

// Writes record as the file at path, or, with append, adds it to the records the file holds.
// No record is ever replaced: where path is taken (without append), or holds no records to
// append to, the record goes to the first free name beside it (FreeName of path without its
// ".json"); writtenTo says which. False and why when nothing could be written.
bool WriteRecordFile(const std::string& path, const TRecord& record, bool append,
                     std::string& writtenTo, std::string& why);

// The bytes of a small file (up to 64 MiB), read through the system layer; false and why when
// it cannot be read.
bool ReadFileWhole(const std::string& path, std::string& bytes, std::string& why);

// The records of a record file, as stored; false and why when it is not one.
bool ReadRecords(const std::string& path, std::vector<nlohmann::json>& records, std::string& why);
// Whether a stored record is sealed and its content matches its seal.
bool Intact(const nlohmann::json& record);

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
