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

TBatchView::TBatchView(TBatchOutput& out, const TWipeJob& job, TGUIDiskManager& manager,
                       TStopRequests& stops, bool allowUserAbort, bool askAfterEveryDrive)
    : out_(out), job_(job), manager_(manager), stops_(stops), allowUserAbort_(allowUserAbort),
      askAfterEveryDrive_(askAfterEveryDrive) {}

void TBatchView::RunStarting(const TWipeSettings& settings) {
    runStarted_ = true;
    std::vector<std::string> names;
    for (const TDisk* disk : job_.Disks())
        names.push_back(disk->Name);
    out_.RunStarted(settings.Report.MethodName, names);
}

void TBatchView::DriveStarting(TDisk& disk, const TWipeSettings&) {
    current_ = &disk;
    metered_ = false;
    driveStart_ = lastShown_ = Now();
    out_.DriveStarted(disk.Name, disk.Description, disk.Size);
    HeedStops();
}

void TBatchView::DriveEnded(TDisk& disk) {
    const TDriveResult none;
    const TDriveResult& result = job_.Results().empty() ? none : job_.Results().back();
    const TWipeOutcome outcome = ErasureOutcome(result);
    if (outcome != result.Outcome)
        out_.Error(disk.Name,
                   std::to_string(result.BlocksPassedOver) +
                       (result.BlocksPassedOver == 1 ? " block was" : " blocks were") +
                       " not written (the write failed and was given up): old data may remain",
                   false);
    out_.DriveEnded(disk.Name, OutcomeWord(outcome), SecondsSince(driveStart_));
    current_ = nullptr;
    if (askAfterEveryDrive_) // the ask dialog, answered for no one at the keyboard
        out_.Question(disk.Name, CatalogueText("ASKDLGCAPTION"), CatalogueText("ASKDLGTEXT"),
                      CatalogueText("txtContinue"));
    HeedStops(); // one held back while the drive could not be interrupted
}

void TBatchView::Tell(const std::string& text, TMsgDlgType type) {
    out_.Error(current_ != nullptr ? current_->Name : std::string(), text,
               type == TMsgDlgType::mtWarning);
}

void TBatchView::Finish(const std::string& outcome) {
    if (current_ == nullptr)
        return;
    out_.DriveEnded(current_->Name, outcome, SecondsSince(driveStart_));
    current_ = nullptr;
}

void TBatchView::HeedStops() {
    while (const auto request = stops_.Take()) {
        out_.StopRequested(StopReason(*request), allowUserAbort_);
        stopAccepted_ = stopAccepted_ || allowUserAbort_;
    }
    if (!stopAccepted_ || abortRequested_)
        return;
    if (current_ != nullptr && !current_->Interruptible())
        return;
    manager_.RequestAbort(CatalogueText("USERABORTMESSAGE"));
    manager_.SetPaused(false);
    abortRequested_ = true;
}

void TBatchView::Update() {
    HeedStops();
    if (current_ == nullptr)
        return;
    const std::uint32_t now = Now();
    if (!metered_) {
        // Known once the wipe runs: the method's passes, and the format after them, whose
        // share of the drive's progress moves no bytes that could be timed.
        const method* wiped = current_->TakesMethod() ? job_.Settings().Method : nullptr;
        passes_ = wiped != nullptr ? wiped->PassCount : 0;
        steps_ = passes_ > 0 ? passes_ + current_->FormatPass : 1;
        passBytes_ = passes_ > 0 ? current_->BlockCount * current_->BlockSize : current_->Size;
        meter_ = TProgressMeter(passBytes_ * std::max(passes_, 1));
        meter_.Start(driveStart_);
        metered_ = true;
    }
    const double progress = manager_.Progress;
    if (progress < 0)
        return; // not measurable: nothing to tell
    // The bytes of the passes done so far; the format step adds none.
    const double stepsDone = std::min(std::clamp(progress, 0.0, 1.0) * steps_,
                                      static_cast<double>(std::max(passes_, 1)));
    meter_.Update(static_cast<std::int64_t>(stepsDone * static_cast<double>(passBytes_)), now);
    if (now - lastShown_ < kProgressEveryMs)
        return;
    lastShown_ = now;
    ShowProgress();
}

void TBatchView::ShowProgress() {
    const double fraction = std::clamp(manager_.Progress, 0.0, 1.0);
    TBatchOutput::TProgress progress;
    progress.Fraction = fraction;
    if (meter_.TotalBytes() > 0) {
        progress.BytesPerSecond = meter_.BytesPerSecond();
        progress.SecondsLeft = meter_.SecondsLeft();
    }
    if (passes_ > 0) {
        progress.Passes = passes_;
        progress.Pass = std::min(passes_, static_cast<int>(std::floor(fraction * steps_)) + 1);
    }
    out_.Progress(current_->Name, progress);
}

} // namespace purgelet
