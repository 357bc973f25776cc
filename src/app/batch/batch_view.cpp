#include "app/batch/batch_view.h"

#include "app/batch/stop_requests.h"
#include "disk/disk_manager.h"
#include "lang/catalogue.h"
#include "methods/method.h"
#include "platform/system.h"

#include <algorithm>
#include <cmath>

namespace purgelet {

namespace {

// The progress is told at most this often.
constexpr std::uint32_t kProgressEveryMs = 1000;

std::uint32_t Now() {
    return platform::k32().GetTickCount();
}

double SecondsSince(std::uint32_t start) {
    return static_cast<double>(Now() - start) / 1000.0;
}

} // namespace

TBatchView::TBatchView(TBatchOutput& out, TWipeJob& job, TGUIDiskManager& manager,
                       TStopRequests& stops, bool allowUserAbort, bool askAfterEveryDrive)
    : out_(out), job_(job), manager_(manager), stops_(stops), allowUserAbort_(allowUserAbort),
      askAfterEveryDrive_(askAfterEveryDrive) {}

void TBatchView::RunStarting(const TWipeSettings& settings) {
    runStarted_ = true;
    std::vector<std::string> names;
    for (const TDisk* disk : job_.Disks())
        names.push_back(DriveName(*disk));
    out_.RunStarted(settings.Report.MethodName, names);
}

void TBatchView::DriveStarting(TDisk& disk, const TWipeSettings&) {
    current_ = &disk;
    TShown shown;
    shown.Disk = &disk;
    const auto& disks = job_.Disks();
    shown.Index =
        static_cast<std::size_t>(std::find(disks.begin(), disks.end(), &disk) - disks.begin());
    shown.Start = shown.LastShown = Now();
    shown_.push_back(std::move(shown));
    std::optional<TBatchOutput::TDevice> device;
    if (dynamic_cast<const TPhysicalDisk*>(&disk) != nullptr)
        device = TBatchOutput::TDevice{disk.Identity.Model, disk.Identity.Serial};
    out_.DriveStarted(DriveName(disk), disk.Description, disk.Size, device);
    ActOnStopRequests();
}

void TBatchView::DriveEnded(TDisk& disk) {
    const auto& results = job_.Results();
    const auto found = std::find_if(results.begin(), results.end(),
                                    [&disk](const TDriveResult& r) { return r.Disk == &disk; });
    const TDriveResult none;
    const TDriveResult& result = found == results.end() ? none : *found;
    const TWipeOutcome outcome = ErasureOutcome(result);
    if (outcome != result.Outcome)
        out_.Error(DriveName(disk),
                   std::to_string(result.BlocksPassedOver) +
                       (result.BlocksPassedOver == 1 ? " block was" : " blocks were") +
                       " not written (the write failed and was given up): old data may remain",
                   false);
    const auto shown = std::find_if(shown_.begin(), shown_.end(),
                                    [&disk](const TShown& s) { return s.Disk == &disk; });
    const std::uint32_t start = shown != shown_.end() ? shown->Start : Now();
    out_.DriveEnded(DriveName(disk), OutcomeWord(outcome), SecondsSince(start));
    if (shown != shown_.end())
        shown_.erase(shown);
    current_ = shown_.empty() ? nullptr : shown_.back().Disk;
    if (askAfterEveryDrive_) // the ask dialog, answered for no one at the keyboard
        out_.Question(DriveName(disk), CatalogueText("ASKDLGCAPTION"), CatalogueText("ASKDLGTEXT"),
                      CatalogueText("txtContinue"));
    ActOnStopRequests(); // one held back while the drive could not be interrupted
}

void TBatchView::Tell(const std::string& text, TMsgDlgType type) {
    out_.Error(current_ != nullptr ? DriveName(*current_) : std::string(), text,
               type == TMsgDlgType::mtWarning);
}

void TBatchView::TellAbout(TDisk& disk, const std::string& text, TMsgDlgType type) {
    out_.Error(DriveName(disk), text, type == TMsgDlgType::mtWarning);
}

void TBatchView::Finish(const std::string& outcome) {
    for (const TShown& shown : shown_)
        out_.DriveEnded(DriveName(*shown.Disk), outcome, SecondsSince(shown.Start));
    shown_.clear();
    current_ = nullptr;
}

void TBatchView::ActOnStopRequests() {
    while (const auto request = stops_.Take()) {
        out_.StopRequested(StopReason(*request), allowUserAbort_);
        if (allowUserAbort_)
            ++stopsAccepted_;
    }
    // Whoever asks again (a second Ctrl+C, a service manager about to kill) will not wait for
    // a drive to finish on its own: the abort reaches it at its next update.
    const bool now = stopsAccepted_ > 1;
    if (stopsAccepted_ == 0 || abortForced_ || (abortRequested_ && !now))
        return;
    if (now) {
        job_.ForceAbort();
        abortForced_ = true;
    } else {
        for (const TShown& shown : shown_)
            if (!shown.Disk->Interruptible())
                return;
    }
    manager_.RequestAbort(CatalogueText("USERABORTMESSAGE"));
    manager_.SetPaused(false);
    abortRequested_ = true;
}

void TBatchView::Update() {
    ActOnStopRequests();
    const std::uint32_t now = Now();
    for (TShown& shown : shown_)
        Update(shown, now);
}

void TBatchView::Update(TShown& shown, std::uint32_t now) {
    TDisk& disk = *shown.Disk;
    if (!shown.Metered) {
        // Known once the wipe runs: the method's passes, and the format after them, whose
        // share of the drive's progress moves no bytes that could be timed.
        const method* wiped = disk.TakesMethod() ? job_.Settings().Method : nullptr;
        shown.Passes = wiped != nullptr ? wiped->PassCount : 0;
        // As the drive's wipe counts it, from the settings: the disk's own field belongs to the
        // thread that wipes it.
        shown.Steps = std::max(TransferRounds(disk, job_.Settings()), 1);
        shown.PassBytes = shown.Passes > 0 ? disk.BlockCount * disk.BlockSize : disk.Size;
        shown.Meter = TProgressMeter(shown.PassBytes * std::max(shown.Passes, 1));
        shown.Meter.Start(shown.Start);
        shown.Metered = true;
    }
    // The drive's figures as the job keeps them (after every update of its wipe).
    const double progress = job_.Status().Get(shown.Index).Progress;
    if (progress < 0)
        return; // not measurable: nothing to tell
    // The bytes of the passes done so far; the format step adds none.
    const double stepsDone = std::min(std::clamp(progress, 0.0, 1.0) * shown.Steps,
                                      static_cast<double>(std::max(shown.Passes, 1)));
    shown.Meter.Update(static_cast<std::int64_t>(stepsDone * static_cast<double>(shown.PassBytes)),
                       now);
    if (now - shown.LastShown < kProgressEveryMs)
        return;
    shown.LastShown = now;
    ShowProgress(shown, progress);
}

void TBatchView::ShowProgress(TShown& shown, double progress) {
    const double fraction = std::clamp(progress, 0.0, 1.0);
    TBatchOutput::TProgress figures;
    figures.Fraction = fraction;
    if (shown.Meter.TotalBytes() > 0) {
        figures.BytesPerSecond = shown.Meter.BytesPerSecond();
        figures.SecondsLeft = shown.Meter.SecondsLeft();
    }
    if (shown.Passes > 0) {
        figures.Passes = shown.Passes;
        figures.Pass =
            std::min(shown.Passes, static_cast<int>(std::floor(fraction * shown.Steps)) + 1);
    }
    if (shown.Disk->FirmwareBusy()) {
        figures = {};
        figures.Fraction = fraction;
        figures.Firmware = true;
    }
    out_.Progress(DriveName(*shown.Disk), figures);
}

} // namespace purgelet
