// The wipe run: every checked drive in list order, with the selected method and the options,
// the wipe page's gauges and buttons, and the outcome told to the report and the user.
#include "app/main_form.h"

#include "app/ask_dialog.h"
#include "app/disk_view.h"
#include "app/options.h"
#include "app/program.h"
#include "lang/catalogue.h"
#include "lang/language.h"
#include "methods/generators.h"
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

TRunOutcome ReportOutcome(TWipeOutcome outcome) {
    switch (outcome) {
    case TWipeOutcome::woCompleted:
        return TRunOutcome::Completed;
    case TWipeOutcome::woAborted:
        return TRunOutcome::Aborted;
    case TWipeOutcome::woFailed:
        return TRunOutcome::Failed;
    default:
        return TRunOutcome::NotTold;
    }
}

// "Wiping %s" with the description put in by our own code: a language file's other %
// sequences stay as they are.
std::string WithText(const std::string& format, const std::string& text) {
    const std::size_t at = format.find("%s");
    return at == std::string::npos ? format : format.substr(0, at) + text + format.substr(at + 2);
}

template <class E> bool Is(const XException& error) {
    return dynamic_cast<const E*>(&error) != nullptr;
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

void TFrmMain::WMStartWipe() {
    auto* selectedMethod = static_cast<method*>(cbxAlgorithm.SelectedObject());
    lblTextGlobal.Caption = CatalogueText("OVERALLPROGRESS");
    lblTextMethod.Caption = selectedMethod != nullptr ? selectedMethod->Name : std::string();
    GetHost().ProcessMessages();
    GetHost().ProcessMessages();

    TWipeOutcome outcome = TWipeOutcome::woNone;
    FDriveCount = 0;
    for (int i = 0; i < lwDisksList.Count(); ++i)
        if (lwDisksList.Items(i).Checked && lwDisksList.Items(i).Data != nullptr)
            ++FDriveCount;
    // An abort asked for after the last run's last drive must not end this run.
    FDiskManager->PendingAbort.reset();
    FDiskManager->SetPaused(false);
    btnPause.Caption = CatalogueText("PAUSE");
    runActive_ = true;

    try {
        [&] {
            if (FDriveCount == 0)
                return;
            if (selectedMethod == nullptr) {
                outcome = TWipeOutcome::woFailed; // nothing is written without a method
                return;
            }
            CurrentReport.reset();
            try {
                TReportSettings settings;
                settings.MethodName = cbxAlgorithm.Text();
                settings.OptionsCaption = gbWipeOptions.Caption;
                for (const ui::TCheckBox* box :
                     {&cbAllowUserAbort, &cbWipeWithoutIntervention, &cbUseIsaac, &cbNoBuffering})
                    settings.Before.push_back({box->Caption, box->Checked()});
                settings.BufferCaption = lblOverwriteBuffer.Caption;
                settings.BufferText = cbbBuffer.Text();
                for (const ui::TCheckBox* box : {&cbQuickErase, &cbFormarPartitions, &cbAskDlg})
                    settings.After.push_back({box->Caption, box->Checked()});
                CurrentReport = std::make_unique<TPLReport>(
                    Options->GenerateReportFile, Options->UseDoDLogStyle, Options->AppendLog,
                    Options->LogFileName, settings);
            } catch (const XAbort& error) {
                outcome = TWipeOutcome::woAborted;
                ShowWipeError(error);
                return;
            } catch (const std::exception&) {
                outcome = TWipeOutcome::woFailed;
                return;
            }

            FDrivesDone = 0;
            gGlobal.SetProgress(0);
            gPartial.SetProgress(0);
            btnAbort.SetEnabled(Options->AllowUserAbort);
            btnPause.SetEnabled(Options->AllowUserAbort);
            // The run's generators, seeded from the clock, go from drive to drive in list
            // order: each drive's wipe goes on from where the one before left them.
            TGenerators generators;
            Randomize(generators);
            generators.UseIsaac = Options->UseIsaac;
            FDiskManager->SetUnattended(Options->WipeWithoutIntervention);

            for (int i = 0; i < lwDisksList.Count(); ++i) {
                const ui::TListItem& row = lwDisksList.Items(i);
                auto* disk = static_cast<TDisk*>(row.Data);
                if (!row.Checked || disk == nullptr)
                    continue;
                auto* disc = dynamic_cast<TCDDVDDisk*>(disk);
                // The disk outlives the run; its pointer to the run's generators must not.
                struct TLent {
                    TDisk& disk;
                    ~TLent() { disk.Generators = nullptr; }
                } lent{*disk};
                try {
                    // An abort answered in the ask dialog stops the run before the next
                    // drive is opened, not after its first transfer.
                    FDiskManager->CheckAbort();
                    FDiskManager->ReportDisk = disk;
                    CurrentReport->WriteDiskHeader(*disk);
                    lblTextPartial.Caption = WithText(CatalogueText("WIPING"), disk->Description);
                    disk->Unbuffered = Options->NoBuffering;
                    disk->BufferSize = BufferBytes(cbbBuffer.Text());
                    disk->Generators = &generators;
                    if (disc != nullptr) {
                        disc->QuickErase = Options->QuickEraseCDDVD;
                        btnAbort.SetEnabled(false);
                        btnPause.SetEnabled(false);
                    } else {
                        btnAbort.SetEnabled(Options->AllowUserAbort);
                        btnPause.SetEnabled(Options->AllowUserAbort);
                    }
                    JvGIFAnimator.Active = true;
                    disk->WipeDisk(selectedMethod, Options->FormatPartitions, 0, 0, "");
                } catch (const XAbort& error) {
                    if (outcome != TWipeOutcome::woFailed)
                        outcome = TWipeOutcome::woAborted;
                    ShowWipeError(error);
                    return;
                } catch (const XException& error) {
                    outcome = TWipeOutcome::woFailed;
                    ShowWipeError(error);
                }
                JvGIFAnimator.Active = false;
                btnPause.SetEnabled(btnAbort.Enabled());
                if (Options->ShowAskDialog) {
                    int answer;
                    do {
                        answer = app_.AskDlg->Ask(
                            CatalogueText("ASKDLGCAPTION"), CatalogueText("ASKDLGTEXT"),
                            CatalogueText("txtContinue"),
                            disc != nullptr ? std::string() : CatalogueText("txtViewDisk"),
                            CatalogueText("txtAbort"));
                        if (answer == 1)
                            app_.FrmDiskview->ShowDisk(*disk);
                        else if (answer == 2)
                            FDiskManager->RequestAbort(CatalogueText("USERABORTMESSAGE"));
                    } while (answer == 1);
                }
                ++FDrivesDone;
            }
            if (outcome == TWipeOutcome::woNone)
                outcome = TWipeOutcome::woCompleted;
        }();
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

void TFrmMain::ShowWipeError(const XException& error) {
    struct Choice {
        bool (*matches)(const XException&);
        const char* key;
        // The system's reason follows the text: a dismount that could not be done says what
        // holds the drive, which the user and the report need to act on.
        bool withReason = false;
    };
    static const Choice kChoices[] = {
        {Is<XAbort>, "ErrorXAbort"},
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
    ReportWriteLine(text);
    if (known && chosen->withReason && !error.ErrorText.empty()) {
        ReportWriteLine(error.ErrorText);
        text += std::string("\r\n\r\n") + error.ErrorText;
    }
    GetHost().MessageDialog(text, Is<XAbort>(error) ? TMsgDlgType::mtWarning : TMsgDlgType::mtError,
                            mbOKButton, 0);
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
    if (!Options->AllowUserAbort || dynamic_cast<TCDDVDDisk*>(FDiskManager->ReportDisk))
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
