// What a wipe run writes for an auditor besides its report: the record (JSON, sealed and
// chained) and the certificate (PDF) drawn from it. The wipe job tells the recorder what
// happens; the recorder fills the record and, when the run ends, writes the files.
#pragma once

#include "record/record.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace purgelet {

class TDisk;
class TWipeContext;
struct TWipeSettings;
struct TDriveResult;
enum class TWipeOutcome : std::uint8_t;

class TRunRecorder {
public:
    explicit TRunRecorder(const TWipeSettings& settings);

    // The record's file for these settings: the report's name with ".json" appended, the
    // default report's when no name is set; empty when no record is to be written.
    static std::string RecordPathFor(const TWipeSettings& settings);

    // A drive the run reached, at listIndex of the run's drives; returns the drive's number
    // for the calls below. Drives wiped at once start in any order: the record lists them in
    // the run's order all the same.
    std::size_t DriveStarting(TDisk& disk, std::size_t listIndex);
    // A question put while the drive was being wiped, and its answer.
    void Question(std::size_t drive, const std::string& text, std::optional<std::int64_t> block,
                  const std::string& answer);
    // The drive's wipe is over: what it found (the medium, the drive's own erase) and its result.
    void DriveEnded(std::size_t drive, TDisk& disk, const TWipeContext& wipe,
                    const TDriveResult& result);

    // Ends the record with the run's outcome and the DoD report's person and media, seals it,
    // and writes the record and the certificate as the settings say. Returns what could not
    // be written, worded for the user (nothing lost: the wipe's result stands).
    std::vector<std::string> Finish(TWipeOutcome outcome, const std::string& person,
                                    const std::string& media);
    // Ends the record of a run refused before it wrote anything: the run "refused" with the
    // reason, each drive it named "not started" with its own reason where it has one; then
    // writes it as Finish does, without a certificate.
    std::vector<std::string> Refuse(const std::string& reason,
                                    const std::vector<std::pair<TDisk*, std::string>>& drives,
                                    const std::string& person, const std::string& media);

    const record::TRecord& Record() const { return record_; }
    // The files written by Finish; empty when not written.
    const std::string& RecordFile() const { return recordFile_; }
    const std::string& CertificateFile() const { return certificateFile_; }

private:
    // certificate: drawn too where the settings ask for one (a refused run erased nothing
    // and gets none).
    std::vector<std::string> Write(const std::string& person, const std::string& media,
                                   bool certificate);

    const TWipeSettings& settings_;
    record::TRecord record_;
    std::vector<std::size_t> listIndex_;         // of each of record_.Drives
    std::vector<std::uint32_t> driveStartTicks_; // of each of record_.Drives
    std::string recordFile_;
    std::string certificateFile_;
};

// The method's passes as the record lists them, and how they are read back.
std::vector<record::TPass> RecordPasses(const class method& method);
std::string VerificationKind(const class method& method);
int VerifyPassCount(const class method& method);

} // namespace purgelet
