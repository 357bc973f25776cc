#include "app/wipe_job.h"

#include "app/firmware_lines.h"
#include "app/run_record.h"

#include "disk/disk.h"
#include "disk/disk_manager.h"
#include "lang/catalogue.h"
#include "methods/method.h"
#include "platform/system.h"
#include "record/block_ranges.h"
#include "report/exceptions.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <functional>
#include <iterator>
#include <optional>
#include <utility>

namespace purgelet {

namespace {

template <class E> bool Is(const XException& error) {
    return dynamic_cast<const E*>(&error) != nullptr;
}

// The names a volume without a file system goes by: none answered, or the system's words for
// one it does not recognise.
bool NoFileSystem(const std::string& name) {
    std::string upper;
    for (char c : name)
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper.empty() || upper == "UNKNOWN" || upper == "RAW";
}

} // namespace

TRunOutcome ReportOutcome(TWipeOutcome outcome) {
    switch (outcome) {
    case TWipeOutcome::woCompleted:
        return TRunOutcome::Completed;
    case TWipeOutcome::woAborted:
        return TRunOutcome::Aborted;
    case TWipeOutcome::woFailed:
        return TRunOutcome::Failed;
    case TWipeOutcome::woNone:
        break;
    }
    return TRunOutcome::NotTold;
}

const TDisk* DeviceOf(const TDisk& disk) {
    return disk.OwnerDisk != nullptr ? disk.OwnerDisk : &disk;
}

std::vector<std::vector<std::size_t>>
DeviceGroups(const std::vector<TDisk*>& disks,
             const std::vector<std::string>& wholeFirmwareDrives) {
    std::vector<std::vector<std::size_t>> groups;
    std::vector<const TDisk*> devices;
    std::vector<std::pair<std::string, const TDisk*>> drives; // a whole drive's first namespace
    for (std::size_t i = 0; i < disks.size(); ++i) {
        const TDisk* device = DeviceOf(*disks[i]);
        const TFirmwareDrive* firmware =
            wholeFirmwareDrives.empty() ? nullptr : disks[i]->ProbedFirmware();
        if (firmware != nullptr &&
            ScopeOf(*firmware, wholeFirmwareDrives) == TFirmwareScope::WholeDrive) {
            const std::string controller = firmware->Unit().Controller;
            const auto first = std::find_if(drives.begin(), drives.end(),
                                            [&](const auto& d) { return d.first == controller; });
            if (first != drives.end())
                device = first->second;
            else
                drives.emplace_back(controller, device);
        }
        const auto found = std::find(devices.begin(), devices.end(), device);
        if (found == devices.end()) {
            devices.push_back(device);
            groups.push_back({i});
        } else {
            groups[static_cast<std::size_t>(found - devices.begin())].push_back(i);
        }
    }
    return groups;
}

bool FormatsAfterWipe(const TDisk& disk, const TWipeSettings& settings) {
    const auto* letter = dynamic_cast<const TLogicalDisk*>(&disk);
    return settings.FormatPartitions && letter != nullptr && !NoFileSystem(letter->FileSystem);
}

void ReportFormatSkipped(const TDisk& disk, const TWipeSettings& settings) {
    if (settings.FormatPartitions && dynamic_cast<const TLogicalDisk*>(&disk) != nullptr &&
        !FormatsAfterWipe(disk, settings))
        ReportWriteLine(CatalogueText("FORMAT_SKIPPED", "report"));
}

std::int32_t TransferRounds(const TDisk& disk, const TWipeSettings& settings) {
    if (!disk.TakesMethod() || settings.Method == nullptr)
        return 0;
    return settings.Method->PassCount + (FormatsAfterWipe(disk, settings) ? 1 : 0);
}

TDriveState EndedState(const TDriveResult& result) {
    switch (ErasureOutcome(result)) {
    case TWipeOutcome::woCompleted:
        return TDriveState::dsDone;
    case TWipeOutcome::woAborted:
        return TDriveState::dsAborted;
    case TWipeOutcome::woFailed:
    case TWipeOutcome::woNone:
        break;
    }
    return TDriveState::dsFailed;
}

TWipeOutcome ErasureOutcome(const TDriveResult& result) {
    return result.Outcome == TWipeOutcome::woCompleted && result.BlocksPassedOver > 0
               ? TWipeOutcome::woFailed
               : result.Outcome;
}

bool ErasedBeforeAbort(const TWipeContext& wipe) {
    return wipe.SendsFirmware() && wipe.Method->PassCount < 1 && wipe.Firmware &&
           wipe.Firmware->Passed();
}

std::string ReportWriteFailedText(const std::string& fileName) {
    return FillIn(CatalogueText("ErrorReportWrite"), {"\"" + fileName + "\""});
}

const char* OutcomeWord(TWipeOutcome outcome) {
    switch (outcome) {
    case TWipeOutcome::woCompleted:
        return "completed";
    case TWipeOutcome::woAborted:
        return "aborted";
    case TWipeOutcome::woFailed:
        return "failed";
    case TWipeOutcome::woNone:
        break;
    }
    return "not started";
}

TWipeJob::TWipeJob(TGUIDiskManager& manager, std::vector<TDisk*> disks, TWipeSettings settings)
    : manager_(manager), disks_(std::move(disks)), settings_(std::move(settings)) {
    Randomize(generators_);
    // A system without AES (Windows 9x, 2000, XP) draws from ISAAC instead; the run says so.
    generators_.UseAesCtr = settings_.UseAesCtr && AesAvailable();
    generators_.UseIsaac = settings_.UseIsaac || settings_.UseAesCtr;
}

std::string DifferingText(const TDisk& disk, const TWipeContext& wipe) {
    if (wipe.DifferingCount == 0)
        return "";
    std::string blocks = record::BlockRangesText(wipe.Differing);
    if (wipe.DifferingCount > static_cast<std::int64_t>(wipe.Differing.size()))
        blocks += ", ...";
    return FillIn(CatalogueText("VERIFY_DIFFERING"),
                  {disk.Description, std::to_string(wipe.DifferingCount), blocks});
}

bool AesAvailable() {
    platform::Crypto* crypto = platform::sys().crypto.get();
    return crypto != nullptr && crypto->HasAes();
}

const char* RandomSourceName(const TWipeSettings& settings) {
    if (settings.UseAesCtr && AesAvailable())
        return "aes-256-ctr";
    return settings.UseIsaac || settings.UseAesCtr ? "isaac" : "standard";
}

std::string TWipeJob::ErrorText(const XException& error, std::vector<std::string>& reportLines) {
    struct Choice {
        bool (*matches)(const XException&);
        const char* key;
        // The system's reason follows the text: a dismount that could not be done says what
        // holds the drive, which the user and the report need to act on.
        bool withReason = false;
    };
    static const Choice kChoices[] = {
        {Is<XAbort>, "ErrorXAbort"},
        // Before the read and write failures it derives from: the wipe itself completed.
        {Is<XFormatError>, "ErrorXFormat", true},
        {Is<XDiskIO>, "ErrorXDiskIO"},
        {Is<XVWin32NotFound>, "ErrorXVWin32NotFound"},
        {Is<XNotOpened>, "ErrorXNotOpened"},
        {Is<XDeviceIOControl>, "ErrorXDeviceIOControl"},
        {Is<XUnLock>, "ErrorXUnLock"},
        {Is<XDisMount>, "ErrorXDisMount", true},
        {Is<Xlock>, "ErrorXlock"},
        {Is<XCompatibility>, "ErrorXCompatibility"},
        {Is<XDetecting>, "ErrorXDetecting"},
        {Is<XReadOnly>, "ErrorXReadOnly"},
        {Is<XFirmware>, "ErrorXFirmware", true},
    };
    // A class the table does not word is said with its own message under the fallback text:
    // a drive that fails in a way not foreseen (one that cannot be opened) is told, written
    // into the report, and the run goes on with the next drive.
    const auto chosen = std::find_if(std::begin(kChoices), std::end(kChoices),
                                     [&](const Choice& choice) { return choice.matches(error); });
    const bool known = chosen != std::end(kChoices);
    std::string text = CatalogueText(known ? chosen->key : "ErrorUnexpected");
    if (!known)
        text += std::string("\r\n") + error.what();
    reportLines.push_back(text);
    if (known && chosen->withReason && !error.ErrorText.empty()) {
        reportLines.push_back(error.ErrorText);
        text += std::string("\r\n\r\n") + error.ErrorText;
    }
    return text;
}

void TWipeJob::TellError(TWipeJobView& view, const XException& error, std::size_t index,
                         TDisk* about) {
    std::vector<std::string> lines;
    const std::string text = ErrorText(error, lines);
    for (const std::string& line : lines)
        ReportWriteLine(line);
    if (index < results_.size())
        results_[index].Error = text;
    const TMsgDlgType type = Is<XAbort>(error) ? TMsgDlgType::mtWarning : TMsgDlgType::mtError;
    if (about != nullptr)
        view.TellAbout(*about, text, type);
    else
        view.Tell(text, type);
}

void TWipeJob::TellPasswordLeft(TWipeJobView& view, TDisk& disk, const TWipeContext& wipe,
                                TDisk* about) {
    const std::string text = PasswordLeftMessage(disk, wipe);
    if (text.empty())
        return;
    if (about != nullptr)
        view.TellAbout(*about, text, TMsgDlgType::mtWarning);
    else
        view.Tell(text, TMsgDlgType::mtWarning);
}

void TWipeJob::ResetRun() {
    results_.clear();
    driveGenerators_.clear();
    recordDrive_.assign(disks_.size(), kNoDrive);
    current_ = asking_ = kNoDrive;
    status_.Reset(disks_.size());
    for (std::size_t i = 0; i < disks_.size(); ++i)
        status_.Set(i, {TDriveState::dsWaiting, 0.0, 0, 0, disks_[i]->Size,
                        TransferRounds(*disks_[i], settings_) * disks_[i]->BlockCount *
                            disks_[i]->BlockSize});
    record_ = record::TRecord();
    reportError_.clear();
    recordFile_.clear();
    certificateFile_.clear();
    refused_ = false;
}

bool TWipeJob::RefuseFirmware(TWipeJobView& view) {
    if (settings_.Method->Firmware == TFirmwareStep::None)
        return false;
    const std::vector<TFirmwareLine> lines = FirmwareLines(disks_, settings_.Method->Firmware);
    const std::string refused = FirmwareRefusalMessage(lines);
    if (refused.empty())
        return false;
    for (std::size_t i = 0; i < disks_.size(); ++i)
        status_.SetState(i, TDriveState::dsFailed);
    refused_ = true;
    view.Tell(refused, TMsgDlgType::mtError);
    // The refusal is on record too: which drive could not take the erase, and why.
    TRunRecorder recorder(settings_);
    const std::vector<std::string> problems =
        recorder.Refuse(CatalogueText("FIRMWARE_RUNREFUSED"), FirmwareReasons(lines), "", "");
    record_ = recorder.Record();
    recordFile_ = recorder.RecordFile();
    certificateFile_ = recorder.CertificateFile();
    for (const std::string& problem : problems)
        view.Tell(problem, TMsgDlgType::mtWarning);
    return true;
}

std::optional<TWipeOutcome> TWipeJob::OpenReport(TWipeJobView& view, TRunRecorder& recorder) {
    CurrentReport.reset();
    try {
        CurrentReport = std::make_unique<TPLReport>(settings_.GenerateReportFile,
                                                    settings_.UseDoDLogStyle, settings_.AppendLog,
                                                    settings_.LogFileName, settings_.Report);
        return std::nullopt;
    } catch (const XAbort& error) {
        TellError(view, error, kNoDrive);
        FinishRecord(view, recorder, TWipeOutcome::woAborted);
        return TWipeOutcome::woAborted;
    } catch (const std::exception& error) {
        // Nothing was written to any drive: the user learns why the run did not start.
        const auto* known = dynamic_cast<const XException*>(&error);
        reportError_ =
            known != nullptr && !known->ErrorText.empty()
                ? known->ErrorText
                : FillIn(CatalogueText("REPORTNOTWRITTEN"), {settings_.LogFileName, error.what()});
        view.Tell(reportError_, TMsgDlgType::mtError);
        FinishRecord(view, recorder, TWipeOutcome::woFailed);
        return TWipeOutcome::woFailed;
    }
}

// The manager's hooks for one run: the questions go into the run's record, and the figures of
// the drive being wiped follow every Update, before the window's refresh reads them; each on
// to whoever listened before. They do not outlive the run.
class TWipeJob::TManagerHooks {
public:
    TManagerHooks(TWipeJob& job, TRunRecorder& recorder)
        : manager_(job.manager_), answered_(manager_.OnAnswered), updated_(manager_.OnUpdate) {
        manager_.OnAnswered = [&job, &recorder, this](MessageKind kind, const std::string& text,
                                                      const std::string& detail, int answer) {
            std::optional<std::int64_t> block;
            if ((kind == mkWrite || kind == mkRead) && manager_.ReportDisk != nullptr)
                block = manager_.Wipe != nullptr ? manager_.Wipe->CurrentBlock : 0;
            // The drive that asked: the one being wiped, or of several the one whose question
            // this is.
            if (job.asking_ < job.results_.size()) {
                if (kind == mkWrite && answer == mrIgnore)
                    ++job.results_[job.asking_].BlocksPassedOver;
                recorder.Question(job.recordDrive_[job.asking_],
                                  detail.empty() ? text : text + ": " + detail, block,
                                  TGUIDiskManager::ModalResultText(answer));
            }
            if (answered_)
                answered_(kind, text, detail, answer);
        };
        manager_.OnUpdate = [&job, this] {
            if (job.current_ < job.results_.size())
                job.Publish(job.current_, manager_, TDriveState::dsWiping);
            if (updated_)
                updated_();
        };
    }
    ~TManagerHooks() {
        manager_.OnAnswered = std::move(answered_);
        manager_.OnUpdate = std::move(updated_);
    }
    TManagerHooks(const TManagerHooks&) = delete;
    TManagerHooks& operator=(const TManagerHooks&) = delete;

private:
    TGUIDiskManager& manager_;
    decltype(TGUIDiskManager::OnAnswered) answered_;
    std::function<void()> updated_;
};

TWipeOutcome TWipeJob::Run(TWipeJobView& view) {
    ResetRun();
    if (disks_.empty())
        return TWipeOutcome::woNone;
    if (settings_.Method == nullptr)
        return TWipeOutcome::woFailed; // nothing is written without a method
    // A drive that cannot take the method's own erase is told before anything is written,
    // not half-way through the run.
    if (RefuseFirmware(view))
        return TWipeOutcome::woFailed;
    TRunRecorder recorder(settings_);
    if (const auto ended = OpenReport(view, recorder))
        return *ended;

    view.RunStarting(settings_);
    if (settings_.UseAesCtr && !generators_.UseAesCtr) {
        const std::string text = CatalogueText("AESCTR_NONE");
        ReportWriteLine(text);
        view.Tell(text, TMsgDlgType::mtWarning);
    }
    manager_.SetUnattended(settings_.Unattended);
    // The questions of this run are answered on the thread that runs it.
    manager_.BindToThisThread();
    const TManagerHooks hooks(*this, recorder);
    TWipeOutcome outcome = TWipeOutcome::woNone;
    try {
        outcome = RunLoop(view, recorder);
    } catch (...) {
        // What ends the run unforeseen still leaves its record, failed, before it passes on.
        try {
            FinishRecord(view, recorder, TWipeOutcome::woFailed);
        } catch (...) {
        }
        throw;
    }
    // A report that lost lines cannot stand for the run: the run fails, and says why.
    if (CurrentReport && CurrentReport->WriteFailed()) {
        view.Tell(ReportWriteFailedText(settings_.LogFileName), TMsgDlgType::mtError);
        outcome = TWipeOutcome::woFailed;
    }
    FinishRecord(view, recorder, outcome);
    return outcome;
}

void TWipeJob::Publish(std::size_t index, const TMessageObject& sink, TDriveState state) {
    TDriveStatus status = status_.Get(index);
    if (state == TDriveState::dsWiping && sink.Verifying)
        state = TDriveState::dsVerifying;
    status.State = state;
    // The engine's progress runs one block ahead (its last value passes 1); figures do not.
    status.Progress = std::min(sink.Progress, 1.0);
    status.Pass = sink.Pass;
    status.PassCount = sink.PassCount;
    status_.Set(index, status);
}

void TWipeJob::PublishEnded(std::size_t index) {
    TDriveStatus status = status_.Get(index);
    status.State = EndedState(results_[index]);
    status.Progress = 1.0;
    status_.Set(index, status);
}

void TWipeJob::FinishRecord(TWipeJobView& view, TRunRecorder& recorder, TWipeOutcome outcome) {
    const std::string person = CurrentReport ? CurrentReport->Responsible() : std::string();
    const std::string media = CurrentReport ? CurrentReport->Media() : std::string();
    // A drive not proven erased makes the run's record a failure, whatever the run says.
    for (const TDriveResult& result : results_)
        if (outcome == TWipeOutcome::woCompleted &&
            ErasureOutcome(result) == TWipeOutcome::woFailed)
            outcome = TWipeOutcome::woFailed;
    const std::vector<std::string> problems = recorder.Finish(outcome, person, media);
    record_ = recorder.Record();
    recordFile_ = recorder.RecordFile();
    certificateFile_ = recorder.CertificateFile();
    // Nothing is lost: the wipe's result stands, the report says what is missing, and so
    // does the user's screen.
    for (const std::string& problem : problems) {
        ReportWriteLine(problem);
        view.Tell(problem, TMsgDlgType::mtWarning);
    }
}

TWipeOptions WipeOptionsOf(const TWipeSettings& settings) {
    TWipeOptions options;
    options.Unbuffered = settings.NoBuffering;
    options.BufferSize = settings.BufferBytes;
    options.QuickErase = settings.QuickEraseCDDVD;
    options.TransfersInFlight = settings.TransfersInFlight;
    options.VerifyContent = settings.VerifyContent;
    return options;
}

TWipeOptions WipeOptionsOf(const TWipeSettings& settings, const std::vector<TDisk*>& disks) {
    TWipeOptions options = WipeOptionsOf(settings);
    if (settings.Method != nullptr && settings.Method->Firmware != TFirmwareStep::None)
        options.WholeFirmwareDrives = WholeFirmwareDrives(disks);
    return options;
}

} // namespace purgelet
