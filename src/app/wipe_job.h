// A wipe run as a job: the drives to wipe, in order, and one snapshot of the settings taken
// when the run starts. The job writes the report, wipes each drive, and tells what happens
// through a view, so the wizard and a run with no one at the keyboard build the same job and
// differ only in how they show it. The job never reads a control.
#pragma once

#include "app/run_status.h"
#include "methods/generators.h"
#include "record/record.h"
#include "report/report.h"
#include "ui/dialogs.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace purgelet {

class TDisk;
class TRunRecorder;
class TGUIDiskManager;
class TMessageObject;
class XException;
class method;
struct TWipeOptions;
class TWipeContext;

enum class TWipeOutcome : std::uint8_t { woNone, woCompleted, woAborted, woFailed };

// What the run was asked to do, as the controls and options said when it started.
struct TWipeSettings {
    method* Method = nullptr; // not owned; without one nothing is written and the run fails
    bool FormatPartitions = false;
    bool AllowUserAbort = true;
    bool Unattended = false; // questions answered without a dialog
    bool UseIsaac = false;
    bool UseAesCtr = false;     // ISAAC where the system has no AES
    bool VerifyContent = false; // read-backs compared byte for byte, not by sums
    bool NoBuffering = false;
    bool QuickEraseCDDVD = true;
    std::int32_t BufferBytes = 512 << 10;
    // A block wipe's transfers kept in flight at once (1: one at a time).
    std::int32_t TransfersInFlight = 4;
    // The report file: whether one is written, its style, appending, its name, its header.
    bool GenerateReportFile = false;
    bool UseDoDLogStyle = false;
    bool AppendLog = false;
    std::string LogFileName;
    TReportSettings Report;
    // The record of the run beside the report (written also when the report is off), and its
    // certificate beside that.
    bool RecordFile = false;
    bool Certificate = false;
    // The organisation, the operator, the validator and the media facts the record and the
    // certificate name (the DoD report's person and media, where it asks, come first), and the
    // picture at the top of every certificate page.
    record::TAttestation Attestation;
    std::string CertificateLogo;
    // Drives on different devices are wiped at the same time, each device on a thread of its
    // own; drives that share a device still follow one another in list order. Off unless
    // asked for: the options turn it on for the wizard and the unattended run.
    bool WipeInParallel = false;
};

// How one drive's wipe ended; Error is the text told for a failure or an abort.
struct TDriveResult {
    TDisk* Disk = nullptr; // not owned
    TWipeOutcome Outcome = TWipeOutcome::woNone;
    std::string Error;
    // Blocks whose write failed and was given up (answered Ignore): they keep their old data.
    int BlocksPassedOver = 0;
};

// Whether the drive is proven erased: its wipe completed and no block was passed over. The
// wizard and the report keep the job's outcome; the record and the unattended run say this.
TWipeOutcome ErasureOutcome(const TDriveResult& result);
// The rounds over every block the drive's wipe makes, as the engine counts its progress: every
// slot of the method (its write passes and read-backs), and one more for the format that
// follows a partition's wipe. 0 for a disc blanked by its drive.
std::int32_t TransferRounds(const TDisk& disk, const TWipeSettings& settings);
// Whether a drive is formatted after its wipe: a drive letter's, when the run formats, unless
// the drive held no file system (there is none to make again, and the format library could
// only refuse after a wipe that went well).
bool FormatsAfterWipe(const TDisk& disk, const TWipeSettings& settings);
// Writes the report's line for a drive whose format was left out for that reason.
void ReportFormatSkipped(const TDisk& disk, const TWipeSettings& settings);
// A drive's row once its wipe is over: a wipe that passed blocks over is no erasure, though
// its passes ran to their end.
TDriveState EndedState(const TDriveResult& result);
// The outcome in the words of the record and of the unattended run's output.
const char* OutcomeWord(TWipeOutcome outcome);
// Whether an abort met a drive whose own erase had completed and passed its verification,
// with nothing after it in the method (an abort asked while the drive worked waits for its
// end): the drive is erased and counts as completed; the run is still aborted.
bool ErasedBeforeAbort(const TWipeContext& wipe);
// What the user is told about a report file whose writes failed.
std::string ReportWriteFailedText(const std::string& fileName);

// What a job tells whoever shows it. Every call comes from the thread that runs the job, also
// while drives are wiped on threads of their own.
class TWipeJobView {
public:
    virtual ~TWipeJobView() = default;
    // The report is open and the first drive is next.
    virtual void RunStarting(const TWipeSettings& settings) = 0;
    // disk is about to be opened and wiped.
    virtual void DriveStarting(TDisk& disk, const TWipeSettings& settings) = 0;
    // disk's wipe is over without an abort (it may have failed).
    virtual void DriveEnded(TDisk& disk) = 0;
    // A failure or an abort, worded for the user (the report has it already).
    virtual void Tell(const std::string& text, TMsgDlgType type) = 0;
    // The same for one drive of several wiped at once, where the drive last started is not
    // necessarily the one that failed. A run that wipes one drive at a time calls Tell.
    virtual void TellAbout(TDisk& /*disk*/, const std::string& text, TMsgDlgType type) {
        Tell(text, type);
    }
};

// The settings of the run that are each disk's to apply.
// The report's line naming the blocks a read-back by content found differing; empty when none.
std::string DifferingText(const TDisk& disk, const TWipeContext& wipe);
// Whether the system enciphers with AES: a run asked for AES-CTR draws from ISAAC where not.
bool AesAvailable();
// The generator a run with these settings draws its random passes from, as its record names
// it: "aes-256-ctr", "isaac" or "standard".
const char* RandomSourceName(const TWipeSettings& settings);

TWipeOptions WipeOptionsOf(const TWipeSettings& settings);
// The same for a run of disks: with a firmware step, the drives every namespace of which the
// run holds.
TWipeOptions WipeOptionsOf(const TWipeSettings& settings, const std::vector<TDisk*>& disks);

// The device a drive lies on: its physical disk, or the drive itself when it has none (a
// physical disk, a floppy, a disc, a stick).
const TDisk* DeviceOf(const TDisk& disk);
// The drives' indexes grouped by device, each group in list order, the groups in the order of
// their first drive. The namespaces of a whole NVMe drive of the run (wholeFirmwareDrives) are
// one device: the drive's own erase of one reaches the others.
std::vector<std::vector<std::size_t>>
DeviceGroups(const std::vector<TDisk*>& disks,
             const std::vector<std::string>& wholeFirmwareDrives = {});

// How the report's last line states a run that ended so.
TRunOutcome ReportOutcome(TWipeOutcome outcome);

class TWipeJob {
public:
    TWipeJob(TGUIDiskManager& manager, std::vector<TDisk*> disks, TWipeSettings settings);

    // Wipes the drives in order, or with WipeInParallel each device's drives in order and the
    // devices at once. A drive's failure is told and the other drives go on; an abort ends
    // the run (every drive being wiped). Raises only what is not a program exception (the
    // caller ends the run and lets it pass).
    TWipeOutcome Run(TWipeJobView& view);

    // The run's generators: seeded from the clock when the job is made, then handed from drive
    // to drive in list order, each drive's wipe going on from where the one before left them.
    // A run in parallel draws each drive's own state from them instead (DriveGenerators).
    TGenerators& Generators() { return generators_; }
    // The states a run in parallel drew for its drives, by list index, as they were before
    // the wipes; empty after a run one drive at a time.
    const std::vector<TGenerators>& DriveGenerators() const { return driveGenerators_; }
    const std::vector<TDisk*>& Disks() const { return disks_; }
    const TWipeSettings& Settings() const { return settings_; }
    // One entry per drive the run reached, in order.
    const std::vector<TDriveResult>& Results() const { return results_; }
    // Every drive of the run, in list order, as it stands now; readable from any thread.
    const TRunStatus& Status() const { return status_; }
    // The run's abort is not to wait for the drives it would let finish (a disc being blanked
    // by its drive): asked to stop a second time, the run ends at once. From the job's thread.
    void ForceAbort() { abortForced_.store(true, std::memory_order_release); }
    bool AbortForced() const { return abortForced_.load(std::memory_order_acquire); }
    // The record of the last run (also when no file was written), and its files.
    const record::TRecord& Record() const { return record_; }
    const std::string& RecordFile() const { return recordFile_; }
    // Whether the last run was refused before anything was written (a drive could not take
    // the method's own erase): it opened no report.
    bool Refused() const { return refused_; }
    const std::string& CertificateFile() const { return certificateFile_; }
    // Why the run's report could not be opened, worded for the user; empty when it was.
    const std::string& ReportError() const { return reportError_; }

    // The words for a failure: the text for its class (followed by the system's reason where
    // that class carries one), else the fallback text and the exception's own message. The
    // lines for the report are added to reportLines.
    static std::string ErrorText(const XException& error, std::vector<std::string>& reportLines);

private:
    class TRunLoop;
    friend class TRunLoop;
    class TManagerHooks;

    // Every figure and file of the last run forgotten, each drive waiting.
    void ResetRun();
    // A method with the drive's own erase that a drive cannot take: the run is refused, told and
    // put on record (true), before anything is written.
    bool RefuseFirmware(TWipeJobView& view);
    // Opens the run's report; when it cannot be, the run ends with the outcome returned, told
    // and put on record.
    std::optional<TWipeOutcome> OpenReport(TWipeJobView& view, TRunRecorder& recorder);

    // Tells a drive's failure: its lines into the report, its text into the drive's result
    // and to the view (TellAbout with about, for a run in parallel).
    void TellError(TWipeJobView& view, const XException& error, std::size_t index,
                   TDisk* about = nullptr);
    // Tells a temporary security password the drive's erase left on it, however the drive's
    // wipe ended: without it the drive cannot be unlocked (TellAbout with about, in parallel).
    static void TellPasswordLeft(TWipeJobView& view, TDisk& disk, const TWipeContext& wipe,
                                 TDisk* about = nullptr);
    // Wipes every drive on a worker of its device (wipe_job_loop.cpp).
    TWipeOutcome RunLoop(TWipeJobView& view, TRunRecorder& recorder);
    // The drive's figures as its sink has them after an Update.
    void Publish(std::size_t index, const TMessageObject& sink, TDriveState state);
    // The drive's figures once its wipe has run to its end.
    void PublishEnded(std::size_t index);
    // Writes the record and the certificate, telling what could not be written.
    void FinishRecord(TWipeJobView& view, TRunRecorder& recorder, TWipeOutcome outcome);

    TGUIDiskManager& manager_;
    std::vector<TDisk*> disks_;
    TWipeSettings settings_;
    TGenerators generators_;
    std::vector<TGenerators> driveGenerators_;
    // On the thread that runs the job only: the drive being wiped (drives one after another),
    // the drive whose question is being asked, and each drive's number in the record, by list
    // index.
    static constexpr std::size_t kNoDrive = static_cast<std::size_t>(-1);
    std::size_t current_ = kNoDrive;
    std::size_t asking_ = kNoDrive;
    std::vector<std::size_t> recordDrive_;
    std::vector<TDriveResult> results_;
    TRunStatus status_;
    record::TRecord record_;
    std::string recordFile_;
    std::string certificateFile_;
    std::string reportError_;
    bool refused_ = false;
    std::atomic<bool> abortForced_{false};
};

} // namespace purgelet
