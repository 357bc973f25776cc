// The record of a wipe run: what an auditor needs to match a drive to its erasure. Which
// computer, who ran it, which drives (model and serial number), with which method, when, how
// long, whether it was read back, every error and its answer, and the outcome. It is plain
// data: the wipe job fills it, record_file.h writes and checks it, certificate.h draws it.
#pragma once

#include "platform/identity.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace purgelet::record {

// The version of the record's layout; a reader refuses a record of a later one.
inline constexpr int kFormatVersion = 1;

struct TTool {
    std::string Name = "Purgelet";
    std::string Version;
    std::string BuildId;
};

// Who performed the sanitization, as NIST SP 800-88 Appendix G asks: the DoD report's person
// and media description where it asked, else the stored settings or the unattended options.
struct TOperator {
    std::string Person; // the person responsible
    std::string Media;  // the description of the media
    std::string Title;
    std::string Location;
    std::string Phone;
};

// The organisation on whose behalf the media are sanitized.
struct TOrganisation {
    std::string Name;
    std::string Address;
};

// The second person who validates the sanitization and signs for it.
struct TValidator {
    std::string Name;
    std::string Title;
};

// What the auditor is told of the media besides the drives: their confidentiality category
// ("low", "moderate", "high"), whether a backup was made ("yes", "no", "unknown"), and where
// they go after sanitization ("reuse", "recycle", "destroy", "return"); empty when not said.
struct TMediaFacts {
    std::string Confidentiality;
    std::string Backup;
    std::string Destination;
};

// The words each of TMediaFacts may hold; anything else is not recorded.
inline constexpr const char* kConfidentialities[] = {"low", "moderate", "high"};
inline constexpr const char* kBackups[] = {"yes", "no", "unknown"};
inline constexpr const char* kDestinations[] = {"reuse", "recycle", "destroy", "return"};

// Everything of the above, as the settings or the unattended run give it.
struct TAttestation {
    TOrganisation Organisation;
    TOperator Operator;
    TValidator Validator;
    TMediaFacts Media;
};

// A pass of the method: its number (1..), its kind ("pattern", "random", "random
// characters", "verify") and for a pattern its bytes in hexadecimal.
struct TPass {
    int Number = 0;
    std::string Kind;
    std::string Pattern;
};

// A question the wipe put (a block that could not be written or read, a drive to dismount)
// and the answer given, by the user or by the unattended rule.
struct TError {
    std::optional<std::int64_t> Block; // the transfer's first block where one was in progress
    std::string Text;
    std::string Answer;
    std::string Time; // ISO 8601 with the UTC offset
};

// A drive's own erase (its firmware sanitize), for a drive whose method asked for one.
struct TFirmwareErase {
    std::string Command;     // the command sent, in the drive's own terms
    std::string Status;      // "completed", "failed", "not accepted", "timed out"
    std::string DriveStatus; // the drive's own completion status
    // The read-back of blocks sampled before the erase (absent when it did not run): how
    // many changed, how many held no data before or after, how many kept their old data.
    struct TCheck {
        int Sampled = 0;
        int Changed = 0;
        int HeldNoData = 0;
        int Unchanged = 0;
    };
    std::optional<TCheck> Verification;
    // ATA security erase's temporary password: "none" (not set), "removed", "not removed".
    std::string Password = "none";
    // The password itself while it stays on the drive ("not removed"), to unlock the drive.
    std::string PasswordLeft;
};

struct TDrive {
    std::string Name;        // what the program calls it: a drive letter, a device path
    std::string Description; // as the drive list shows it
    platform::DeviceIdentity Identity;
    std::optional<int> PartitionNumber;          // a partition's place on its disk
    std::optional<std::int64_t> PartitionOffset; // and its first byte
    std::int64_t Size = 0;
    std::int32_t BlockSize = 0;
    std::int64_t BlockCount = 0;
    std::string Method;
    std::vector<TPass> Passes;
    // NIST SP 800-88, of what was achieved: "Clear" for overwriting the user-addressable
    // blocks, "Purge" for a whole disk's own erase that completed, "none" for a drive not
    // proven erased and for a blanked disc (the standard gives only Destroy for those).
    std::string NistCategory = "Clear";
    // "none", "last pass", "every pass", "some passes".
    std::string Verification = "none";
    std::int64_t BlocksVerified = 0;
    // A read-back by content: the blocks it found differing from what their pass wrote (the
    // first ones the run kept, in the order found) and how many there were in all.
    bool VerifiedByContent = false;
    std::vector<std::int64_t> DifferingBlocks;
    std::int64_t DifferingBlockCount = 0;
    std::string Start; // ISO 8601 with the UTC offset
    std::string End;
    double DurationSeconds = 0;
    double AverageBytesPerSecond = 0;
    std::vector<TError> Errors;
    bool Formatted = false;
    std::string Outcome;     // "completed", "failed", "aborted", "not started"
    std::string OutcomeText; // the words told for a failure or an abort
    // Absent for a drive without a firmware step: its record stays as it always was.
    std::optional<TFirmwareErase> Firmware;
    // A rewritable disc blanked by its drive: "quick" (its table of contents) or "full";
    // empty (and not written) for every other drive.
    std::string Blank;
};

struct TRun {
    std::string Start;
    std::string End;
    // Each option as the run used it: name and value, in the order the options page has them.
    std::vector<std::pair<std::string, std::string>> Options;
    bool Unattended = false;
    std::string Outcome; // "completed", "failed", "aborted", "refused"
    // Why a run was refused before it wrote anything; empty otherwise (and then not written,
    // so that every earlier record reads and seals as it did).
    std::string OutcomeText;
};

struct TRecord {
    int FormatVersion = kFormatVersion;
    TTool Tool;
    platform::ComputerIdentity Computer;
    TOrganisation Organisation;
    TOperator Operator;
    TValidator Validator;
    TMediaFacts Media;
    TRun Run;
    std::vector<TDrive> Drives;
    // The digest of the record written to the same folder before this one; empty for the
    // first of a chain.
    std::string PreviousSha256;
    // The digest of this record's canonical body (record_file.h), set when it is sealed;
    // empty when the system could not make one (SealError says why).
    std::string Sha256;
    std::string SealError;
};

} // namespace purgelet::record
