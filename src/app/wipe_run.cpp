// The wipe run: every checked drive in list order, with the selected method and the options,
// the wipe page's gauges and buttons, and the outcome told to the report and the user.
#include "app/main_form.h"

#include "app/ask_dialog.h"
#include "app/disk_view.h"
#include "app/options.h"
#include "app/program.h"
#include "app/wipe_job.h"
#include "lang/catalogue.h"
#include "lang/language.h"
#include "methods/method.h"
#include "report/report.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace purgelet {

namespace {

// "512 KB" is 524288 bytes: the size list's text without " KB", in kibibytes. A text that
// does not read so gives the default size rather than no transfers at all.
std::int32_t BufferBytes(const std::string& text) {
    std::int32_t kib = 0;
    if (text.size() > 3) {
        const char* first = text.data();
        const char* last = text.data() + text.size() - 3;
        auto [end, error] = std::from_chars(first, last, kib);
        if (error != std::errc() || end != last || kib <= 0 || kib > (1 << 20))
            kib = 0;
    }
    return (kib > 0 ? kib : 512) << 10;
}

int RoundHalfEven(double value) {
    return static_cast<int>(std::nearbyint(value)); // the default rounding: halves to even
}

// "Wiping %s" with the description put in by our own code: a language file's other %
// sequences stay as they are.
std::string WithText(const std::string& format, const std::string& text) {
    const std::size_t at = format.find("%s");
    return at == std::string::npos ? format : format.substr(0, at) + text + format.substr(at + 2);
}

} // namespace

void TFrmMain::JvWIPWipeEnterPage() {
    TmrWipe.SetEnabled(true);
    btnPause.SetEnabled(true);
    JvWIPWipe.SetButtonEnabled(ui::TWizardButton::Next, false);
    JvWIPWipe.SetButtonEnabled(ui::TWizardButton::Cancel, false);
    lblTextPartial.Caption.clear();
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
        f_.FDrivesDone = 0;
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
        ++f_.FDrivesDone;
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
    TWipeSettings settings;
    settings.Method = static_cast<method*>(cbxAlgorithm.SelectedObject());
    settings.FormatPartitions = Options->FormatPartitions;
    settings.AllowUserAbort = Options->AllowUserAbort;
    settings.Unattended = Options->WipeWithoutIntervention;
    settings.UseIsaac = Options->UseIsaac;
    settings.NoBuffering = Options->NoBuffering;
    settings.QuickEraseCDDVD = Options->QuickEraseCDDVD;
    settings.BufferBytes = BufferBytes(cbbBuffer.Text());
    settings.GenerateReportFile = Options->GenerateReportFile;
    settings.UseDoDLogStyle = Options->UseDoDLogStyle;
    settings.AppendLog = Options->AppendLog;
    settings.LogFileName = Options->LogFileName;
    settings.RecordFile = Options->RecordFile;
    settings.Certificate = Options->Certificate;
    settings.WipeInParallel = Options->WipeInParallel;
    TReportSettings& report = settings.Report;
    report.MethodName = cbxAlgorithm.Text();
    report.OptionsCaption = gbWipeOptions.Caption;
    for (const ui::TCheckBox* box :
         {&cbAllowUserAbort, &cbWipeWithoutIntervention, &cbUseIsaac, &cbNoBuffering})
        report.Before.push_back({box->Caption, box->Checked()});
    report.BufferCaption = lblOverwriteBuffer.Caption;
    report.BufferText = cbbBuffer.Text();
    for (const ui::TCheckBox* box : {&cbQuickErase, &cbFormarPartitions, &cbAskDlg})
        report.After.push_back({box->Caption, box->Checked()});
    return settings;
}

void TFrmMain::WMStartWipe() {
    std::vector<TDisk*> disks;
    for (int i = 0; i < lwDisksList.Count(); ++i)
        if (lwDisksList.Items(i).Checked && lwDisksList.Items(i).Data != nullptr)
            disks.push_back(static_cast<TDisk*>(lwDisksList.Items(i).Data));
    TWipeJob job(*FDiskManager, std::move(disks), WipeSettingsFromControls());

    lblTextGlobal.Caption = CatalogueText("OVERALLPROGRESS");
    lblTextMethod.Caption =
        job.Settings().Method != nullptr ? job.Settings().Method->Name : std::string();
    GetHost().ProcessMessages();
    GetHost().ProcessMessages();

    FDriveCount = static_cast<std::int32_t>(job.Disks().size());
    // An abort asked for after the last run's last drive must not end this run.
    FDiskManager->PendingAbort.reset();
    FDiskManager->SetPaused(false);
    btnPause.Caption = CatalogueText("PAUSE");
    runActive_ = true;

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
    };
    try {
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
    if (FDriveCount == 0 || !FDiskManager)
        return;
    const double p = FDiskManager->Progress;
    if (gPartial.Visible() != (p >= 0))
        gPartial.SetVisible(p >= 0);
    const int partial = p >= 0 ? RoundHalfEven(p * 100.0) : 50;
    gPartial.SetProgress(partial);
    gGlobal.SetProgress(RoundHalfEven((partial + FDrivesDone * 100.0) / FDriveCount));
    if (gGlobal.Progress() == 100)
        gPartial.SetProgress(100);
}

void TFrmMain::btnAbortClick() {
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
    btnAbort.SetEnabled(false);
    btnPause.SetEnabled(false);
    FDiskManager->RequestAbort(CatalogueText("USERABORTMESSAGE"));
    FDiskManager->SetPaused(false);
    btnPause.Caption = CatalogueText("PAUSE");
    JvWIPWipe.SetButtonEnabled(ui::TWizardButton::Next, true);
    JvWIPWipe.SetButtonEnabled(ui::TWizardButton::Cancel, true);
}

void TFrmMain::btnPauseClick() {
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
