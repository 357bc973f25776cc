// What a wipe run writes for an auditor besides its report: the record (JSON, sealed and
// chained) and the certificate (PDF) drawn from it. The wipe job tells the recorder what
// happens; the recorder fills the record and, when the run ends, writes the files.
#pragma once

#include "record/record.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace purgelet {

class TDisk;
struct TWipeSettings;
struct TDriveResult;
enum class TWipeOutcome : std::uint8_t;

class TRunRecorder {
public:
    explicit TRunRecorder(const TWipeSettings& settings);

    // The record's file for these settings: the report's name with ".json" appended, the
    // default report's when no name is set; empty when no record is to be written.
    static std::string RecordPathFor(const TWipeSettings& settings);

    void DriveStarting(TDisk& disk);
    // A question put while the drive was being wiped, and its answer.
    void Question(const std::string& text, std::optional<std::int64_t> block,
                  const std::string& answer);
    void DriveEnded(TDisk& disk, const TDriveResult& result);

    // Ends the record with the run's outcome and the DoD report's person and media, seals it,
    // and writes the record and the certificate as the settings say. Returns what could not
    // be written, worded for the user (nothing lost: the wipe's result stands).
    std::vector<std::string> Finish(TWipeOutcome outcome, const std::string& person,
                                    const std::string& media);

    const record::TRecord& Record() const { return record_; }
    // The files written by Finish; empty when not written.
    const std::string& RecordFile() const { return recordFile_; }
    const std::string& CertificateFile() const { return certificateFile_; }

private:
    const TWipeSettings& settings_;
    record::TRecord record_;
    std::uint32_t driveStartTicks_ = 0;
    std::string recordFile_;
    std::string certificateFile_;
};

// The method's passes as the record lists them, and how they are read back.
std::vector<record::TPass> RecordPasses(const class method& method);
std::string VerificationKind(const class method& method);
int VerifyPassCount(const class method& method);

} // namespace purgelet
