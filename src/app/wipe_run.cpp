// The wipe run: every checked drive in list order, with the selected method and the options,
// the wipe page's gauges and buttons, and the outcome told to the report and the user.
#include "app/main_form.h"

#include "app/ask_dialog.h"
#include "app/disk_view.h"
#include "app/options.h"
#include "app/program.h"
#include "app/run_settings.h"
#include "app/wipe_job.h"
#include "lang/catalogue.h"
#include "lang/language.h"
#include "methods/method.h"
#include "platform/system.h"
#include "report/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace purgelet {

namespace {

int RoundHalfEven(double value) {
    return static_cast<int>(std::nearbyint(value)); // the default rounding: halves to even
}

// "Wiping %s" with the description put in by our own code: a language file's other %
// sequences stay as they are.
std::string WithText(const std::string& format, const std::string& text) {
    const std::size_t at = format.find("%s");
    return at == std::string::npos ? format : format.substr(0, at) + text + format.substr(at + 2);
}

// "1:02:03": hours, then minutes and seconds of two digits each.
std::string TimeText(double seconds) {
    const long long whole = seconds > 0 ? static_cast<long long>(seconds) : 0;
    char minutes[8];
    char rest[8];
    std::snprintf(minutes, sizeof minutes, "%02lld", whole / 60 % 60);
    std::snprintf(rest, sizeof rest, "%02lld", whole % 60);
    return FillIn(CatalogueText("FIGURES_TIME"), {std::to_string(whole / 3600), minutes, rest});
}

// Time left is rounded up: "0:00:00 left" is for the end only.
std::string TimeLeftText(const std::optional<double>& seconds) {
    return seconds ? TimeText(std::ceil(*seconds)) : std::string();
}

// "12.3 MB/s" (millions of bytes); nothing while the speed is unknown.
std::string SpeedText(const std::optional<double>& bytesPerSecond) {
    if (!bytesPerSecond)
        return {};
    char number[32];
    std::snprintf(number, sizeof number, "%.1f", *bytesPerSecond / 1e6);
    return FillIn(CatalogueText("FIGURES_SPEED"), {number});
}

std::string StateWord(TDriveState state) {
    switch (state) {
    case TDriveState::dsWaiting:
        return CatalogueText("STATE_WAITING");
    case TDriveState::dsWiping:
        return CatalogueText("STATE_WIPING");
    case TDriveState::dsVerifying:
        return CatalogueText("STATE_VERIFYING");
    case TDriveState::dsDone:
        return CatalogueText("STATE_DONE");
    case TDriveState::dsFailed:
        return CatalogueText("STATE_FAILED");
    case TDriveState::dsAborted:
        return CatalogueText("STATE_ABORTED");
    }
    return {};
}

// While a pass writes, which one; else the state.
std::string StateText(const TDriveFigures& drive) {
    if (drive.State == TDriveState::dsWiping && drive.PassCount > 0)
        return FillIn(CatalogueText("FIGURES_PASS"),
                      {std::to_string(drive.Pass), std::to_string(drive.PassCount)});
    return StateWord(drive.State);
}

// A size as the drive list shows it, without its column padding.
std::string SizeText(std::int64_t bytes) {
    std::string text = FormatSize(bytes);
    text.erase(0, text.find_first_not_of(' '));
    return text;
}

} // namespace

void TFrmMain::JvWIPWipeEnterPage() {
    TmrWipe.SetEnabled(true);
    btnPause.SetEnabled(true);
    JvWIPWipe.SetButtonEnabled(ui::TWizardButton::Next, false);
    JvWIPWipe.SetButtonEnabled(ui::TWizardButton::Cancel, false);
    lblTextPartial.Caption.clear();
    lblRunFigures.Caption.clear();
    lvRunDrives.Clear();
    Post(WM_STARTWIPE);
}

void TFrmMain::JvWIPWipeExitPage() {
    TmrWipe.SetEnabled(false);
}

namespace {

// The wipe page as the job's view: the captions, gauges, buttons and the animation, the
// message boxes, and the ask dialog after every drive.
class TWipePageView : public TWipeJobView {
public:
    TWipePageView(TFrmMain& form, bool askAfterEveryDrive)
        : f_(form), askAfterEveryDrive_(askAfterEveryDrive) {}

    void RunStarting(const TWipeSettings& settings) override {
        allowUserAbort_ = settings.AllowUserAbort;
        f_.gGlobal.SetProgress(0);
        f_.gPartial.SetProgress(0);
        f_.btnAbort.SetEnabled(settings.AllowUserAbort);
        f_.btnPause.SetEnabled(settings.AllowUserAbort);
    }

    void DriveStarting(TDisk& disk, const TWipeSettings& settings) override {
        f_.lblTextPartial.Caption = WithText(CatalogueText("WIPING"), disk.Description);
        // Drives wiped at once: while a disc is blanked by its drive nothing may be stopped.
        const bool interruptible =
            disk.Interruptible() && settings.AllowUserAbort && uninterruptible_ == 0;
        ++running_;
        if (!disk.Interruptible())
            ++uninterruptible_;
        f_.btnAbort.SetEnabled(interruptible);
        f_.btnPause.SetEnabled(interruptible);
        f_.JvGIFAnimator.Active = true;
    }

    void DriveEnded(TDisk& disk) override {
        --running_;
        if (!disk.Interruptible()) {
            --uninterruptible_;
            // The other drives still being wiped may be stopped again.
            if (running_ > 0 && uninterruptible_ == 0 && allowUserAbort_) {
                f_.btnAbort.SetEnabled(true);
                f_.btnPause.SetEnabled(true);
            }
        }
        if (running_ == 0) { // else the animation and Pause go on for the others
            f_.JvGIFAnimator.Active = false;
            f_.btnPause.SetEnabled(f_.btnAbort.Enabled());
        }
        if (askAfterEveryDrive_) {
            int answer;
            do {
                answer = f_.App().AskDlg->Ask(
                    CatalogueText("ASKDLGCAPTION"), CatalogueText("ASKDLGTEXT"),
                    CatalogueText("txtContinue"),
                    disk.HasBlocks() ? CatalogueText("txtViewDisk") : std::string(),
                    CatalogueText("txtAbort"));
                if (answer == 1)
                    f_.App().FrmDiskview->ShowDisk(disk);
                else if (answer == 2)
                    f_.DiskManager().RequestAbort(CatalogueText("USERABORTMESSAGE"));
            } while (answer == 1);
        }
    }

    void Tell(const std::string& text, TMsgDlgType type) override {
        f_.GetHost().MessageDialog(text, type, mbOKButton, 0);
    }

private:
    TFrmMain& f_;
    bool askAfterEveryDrive_;
    bool allowUserAbort_ = true;
    int running_ = 0;         // drives started and not yet ended (one at a time, or several)
    int uninterruptible_ = 0; // of them, the discs being blanked
};

} // namespace

TWipeSettings TFrmMain::WipeSettingsFromControls() const {
    return WipeSettingsOf(
        *Options, {cbxAlgorithm.Text(), static_cast<method*>(cbxAlgorithm.SelectedObject())});
}

void TFrmMain::WMStartWipe() {
    TWipeJob job(*FDiskManager, CheckedDisks(), WipeSettingsFromControls());

    lblTextGlobal.Caption = CatalogueText("OVERALLPROGRESS");
    lblTextMethod.Caption =
        job.Settings().Method != nullptr ? job.Settings().Method->Name : std::string();
    ListRunDrives(job);
    GetHost().ProcessMessages();
    GetHost().ProcessMessages();

    // An abort asked for after the last run's last drive must not end this run.
    FDiskManager->PendingAbort.reset();
    FDiskManager->SetPaused(false);
    btnPause.Caption = CatalogueText("PAUSE");
    runActive_ = true;
    runningJob_ = &job;
    pauseHeldByFirmware_ = false;
    figures_.Reset();

    TWipeOutcome outcome = TWipeOutcome::woNone;
    TWipePageView view(*this, Options->ShowAskDialog);
    try {
        outcome = job.Run(view);
    } catch (...) {
        EndWipeRun(outcome);
        throw;
    }
    EndWipeRun(outcome);
}

void TFrmMain::EndWipeRun(TWipeOutcome outcome) {
    // The report is closed with the outcome however the finishing steps go.
    const auto release = [&] {
        if (CurrentReport)
            CurrentReport->SetOutcome(ReportOutcome(outcome));
        CurrentReport.reset();
        FDiskManager->ReportDisk = nullptr;
        JvGIFAnimator.Active = false;
        runActive_ = false;
        runningJob_ = nullptr;
    };
    try {
        if (runningJob_ != nullptr) {
            RefreshProgress(); // every row's last state, under the box that ends the run
            ListFinishedDrives(*runningJob_);
        }
        if (outcome == TWipeOutcome::woCompleted)
            GetHost().MessageDialog(CatalogueText("WIPECOMPLETED"), TMsgDlgType::mtInformation,
                                    mbOKButton, 0);
        lblTheSelected.Caption = outcome == TWipeOutcome::woCompleted
                                     ? CatalogueText("lblTheSelected.Caption")
                                     : CatalogueText("lblTheSelected.Caption-Error");
        btnAbort.SetEnabled(false);
        btnPause.SetEnabled(false);
        JvWIPWipe.SetButtonEnabled(ui::TWizardButton::Next, true);
        JvWIPWipe.SetButtonEnabled(ui::TWizardButton::Cancel, true);
    } catch (...) {
        release();
        throw;
    }
    release();
    JvWizard.SelectNextPage();
    if (closeAfterRun_) {
        closeAfterRun_ = false;
        JvWIPWipeCancelButtonClick();
    }
}

void TFrmMain::RefreshProgress() {
    if (runningJob_ == nullptr)
        return;
    // A drive's own erase cannot be paused: Pause is off while only such drives run, and back
    // after (never while paused: Resume must stay).
    const bool busy = FirmwareHoldsRun();
    if (busy && btnPause.Enabled() && !FDiskManager->Paused) {
        btnPause.SetEnabled(false);
        pauseHeldByFirmware_ = true;
    } else if (!busy && pauseHeldByFirmware_) {
        pauseHeldByFirmware_ = false;
        btnPause.SetEnabled(btnAbort.Enabled());
    }
    ShowRunFigures(runningJob_->Status().Snapshot(), platform::k32().GetTickCount());
}

void TFrmMain::ShowRunFigures(const std::vector<TDriveStatus>& drives, std::uint32_t nowMs) {
    if (drives.empty() || !FDiskManager)
        return;
    figures_.Update(drives, nowMs);
    double p = FDiskManager->Progress;
    // Drives wiped at once report to sinks of the job's, not to the manager: the drive gauge
    // follows the first drive of the list still being wiped.
    if (runningJob_ != nullptr && runningJob_->Settings().WipeInParallel) {
        const auto running = std::find_if(drives.begin(), drives.end(), [](const TDriveStatus& d) {
            return d.State == TDriveState::dsWiping || d.State == TDriveState::dsVerifying;
        });
        if (running != drives.end())
            p = running->Progress;
    }
    if (gPartial.Visible() != (p >= 0))
        gPartial.SetVisible(p >= 0);
    const int partial = p >= 0 ? RoundHalfEven(p * 100.0) : 50;
    gPartial.SetProgress(partial);
    const TRunTotals& run = figures_.Run();
    gGlobal.SetProgress(RoundHalfEven(run.Fraction * 100.0));
    if (gGlobal.Progress() == 100)
        gPartial.SetProgress(100);

    std::string caption =
        FillIn(CatalogueText("FIGURES_RUN"), {SizeText(run.DoneBytes), SizeText(run.TotalBytes)});
    if (run.SecondsLeft)
        caption += FillIn(CatalogueText("FIGURES_LEFT"), {TimeLeftText(run.SecondsLeft)});
    lblRunFigures.Caption = caption;
    const std::vector<TDriveFigures>& shown = figures_.Drives();
    for (int i = 0; i < lvRunDrives.Count() && i < static_cast<int>(shown.size()); ++i) {
        const TDriveFigures& drive = shown[static_cast<std::size_t>(i)];
        const bool running =
            drive.State == TDriveState::dsWiping || drive.State == TDriveState::dsVerifying;
        lvRunDrives.Items(i).SubItems = {StateText(drive), SpeedText(drive.BytesPerSecond),
                                         drive.State == TDriveState::dsWaiting
                                             ? std::string()
                                             : TimeText(drive.ElapsedMs / 1000),
                                         running ? TimeLeftText(drive.SecondsLeft) : std::string()};
    }
}

void TFrmMain::ListRunDrives(const TWipeJob& job) {
    lvRunDrives.Clear();
    lvRunDrives.TopIndex = 0;
    for (TDisk* disk : job.Disks())
        lvRunDrives.AddItem(
            {disk->Description, {StateWord(TDriveState::dsWaiting)}, 0, false, nullptr});
}

void TFrmMain::ListFinishedDrives(const TWipeJob& job) {
    // Where the run's proof went: the report, the record and the certificate.
    std::vector<std::string> files;
    const TWipeSettings& settings = job.Settings();
    if (settings.GenerateReportFile && job.ReportError().empty())
        files.push_back(FillIn(CatalogueText("FINISHED_REPORT"), {settings.LogFileName}));
    if (!job.RecordFile().empty())
        files.push_back(FillIn(CatalogueText("FINISHED_RECORD"), {job.RecordFile()}));
    if (!job.CertificateFile().empty())
        files.push_back(FillIn(CatalogueText("FINISHED_CERTIFICATE"), {job.CertificateFile()}));
    lblProofFiles.Caption.clear();
    for (const std::string& file : files)
        lblProofFiles.Caption += (lblProofFiles.Caption.empty() ? "" : "; ") + file;
    finishedCertificate_ = job.CertificateFile();
    btnOpenCertificate.SetVisible(!finishedCertificate_.empty());
    lvFinishedDrives.Clear();
    lvFinishedDrives.TopIndex = 0;
    const std::vector<TDriveFigures>& shown = figures_.Drives();
    for (std::size_t i = 0; i < job.Disks().size(); ++i) {
        TDisk* disk = job.Disks()[i];
        const auto result = std::find_if(job.Results().begin(), job.Results().end(),
                                         [disk](const TDriveResult& r) { return r.Disk == disk; });
        const bool reached = result != job.Results().end();
        // The outcome as the record has it: a wipe that passed blocks over is no erasure,
        // though every pass ran to its end.
        std::string outcome = CatalogueText("STATE_NOTSTARTED");
        if (reached) {
            outcome = StateWord(EndedState(*result));
        } else if (i < shown.size() && shown[i].State == TDriveState::dsAborted) {
            outcome = StateWord(TDriveState::dsAborted);
        }
        std::vector<std::string> cells{outcome};
        if (reached && i < shown.size())
            cells.insert(cells.end(), {TimeText(shown[i].ElapsedMs / 1000),
                                       SpeedText(shown[i].AverageBytesPerSecond)});
        lvFinishedDrives.AddItem({disk->Description, std::move(cells), 0, false, nullptr});
    }
}

bool TFrmMain::FirmwareHoldsRun() const {
    if (runningJob_ == nullptr)
        return false;
    const auto& disks = runningJob_->Disks();
    const std::vector<TDriveStatus> drives = runningJob_->Status().Snapshot();
    bool busy = false;
    for (std::size_t i = 0; i < disks.size(); ++i) {
        if (disks[i]->FirmwareBusy()) {
            busy = true;
            continue;
        }
        const TDriveState state = i < drives.size() ? drives[i].State : TDriveState::dsWaiting;
        if (state == TDriveState::dsWiping || state == TDriveState::dsVerifying)
            return false; // this one stops at its next transfer
    }
    return busy;
}

void TFrmMain::btnAbortClick() {
    // Once the drive took its erase command nothing stops it: say so rather than pretend.
    if (FirmwareHoldsRun()) {
        GetHost().MessageDialog(CatalogueText("FIRMWARE_NOABORT"), TMsgDlgType::mtInformation,
                                mbOKButton, 0);
        return;
    }
    if (GetHost().MessageDialog(CatalogueText("ABORT_CONFIRM"), TMsgDlgType::mtConfirmation,
                                mbYesNo, 0) != mrYes)
        return;
    btnAbort.SetEnabled(false);
    btnPause.SetEnabled(false);
    FDiskManager->RequestAbort(CatalogueText("USERABORTMESSAGE"));
    JvWIPWipe.SetButtonEnabled(ui::TWizardButton::Next, true);
    JvWIPWipe.SetButtonEnabled(ui::TWizardButton::Cancel, true);
}

void TFrmMain::InterruptRequested() {
    if (!runActive_) {
        JvWIPWipeCancelButtonClick();
        return;
    }
    // As a confirmed Abort, while the Abort button is there to press (paused included).
    if (!Options->AllowUserAbort ||
        (FDiskManager->ReportDisk != nullptr && !FDiskManager->ReportDisk->Interruptible()))
        return;
    if (FirmwareHoldsRun()) {
        GetHost().MessageDialog(CatalogueText("FIRMWARE_NOABORT"), TMsgDlgType::mtInformation,
                                mbOKButton, 0);
        return;
    }
    btnAbort.SetEnabled(false);
    btnPause.SetEnabled(false);
    FDiskManager->RequestAbort(CatalogueText("USERABORTMESSAGE"));
    FDiskManager->SetPaused(false);
    btnPause.Caption = CatalogueText("PAUSE");
    JvWIPWipe.SetButtonEnabled(ui::TWizardButton::Next, true);
    JvWIPWipe.SetButtonEnabled(ui::TWizardButton::Cancel, true);
}

void TFrmMain::btnPauseClick() {
    if (FirmwareHoldsRun() && !FDiskManager->Paused)
        return;
    FDiskManager->SetPaused(!FDiskManager->Paused);
    if (FDiskManager->Paused) {
        btnPause.Caption = CatalogueText("RESUME");
        btnAbort.SetEnabled(false);
    } else {
        btnPause.Caption = CatalogueText("PAUSE");
        btnAbort.SetEnabled(true);
    }
}

} // namespace purgelet
