// The main window: one wizard from the welcome page to the finished page. It owns the disk
// manager and the options, builds the drive list, the method choice, the options page and the
// confirmation, runs the wipe, and takes the command line. Its controls are form-model
// objects laid out in character cells (ui/component.h); the renderers draw them.
#pragma once

#include "app/run_figures.h"
#include "app/wipe_job.h"
#include "disk/disk_manager.h"
#include "ui/form.h"
#include "ui/list_view.h"
#include "ui/side_bar.h"
#include "ui/wizard.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace purgelet {

class TPurgeletApp;
class TPLOptions;
class XException;

// The private message that starts the wipe run once the wipe page has been painted.
inline constexpr unsigned WM_USER_MESSAGE = 0x0400;
inline constexpr unsigned WM_STARTWIPE = WM_USER_MESSAGE + 1;
static_assert(WM_STARTWIPE == 1025);

// The size of a disk as the lists show it: "0", "512 byte(s)", "  1.50 KB".
std::string FormatSize(std::int64_t bytes);

// Ends start-up at once (a missing language file, no disk manager): the program ends with
// this code before the message loop, saving nothing.
struct ProgramHalt {
    int ExitCode = 1;
};

class TFrmMain : public ui::TForm {
public:
    // Builds the window and runs its creation handler (texts, disk manager, methods,
    // options). Raises ProgramHalt when the disk manager cannot be created.
    TFrmMain(ui::Host& host, TPurgeletApp& app);
    ~TFrmMain() override;

    // ---- Life cycle.
    void FormCreate();
    bool FormCloseQuery() const { return false; }
    void FormClose();
    void JvWIPWipeCancelButtonClick();
    void JvWIPFinishedFinishButtonClick();
    void LoadTexts();
    // Fits the explanation panels to their titles (LoadTexts does it for the texts it sets).
    void LayOutExplanations();
    void ShowHelpMenu();

    // ---- Command line.
    void ProcessCommandLine(const std::vector<std::string>& arguments);
    void ProcessSwitch(const std::string& argument);
    bool SelectDrivesByLetters(const std::string& letters);

    // ---- Drive selection page.
    void RefreshDriveList();
    // Says once, in an information box, why the drive list is empty: what was found and why
    // each device is not offered.
    void TellNothingToWipe();
    void AddGroupHeader(const std::string& caption);
    // The disks of the checked rows, in list order, as the run wipes them: a drive letter on
    // a checked whole disk is left out (the disk's wipe covers it), and so is a whole disk
    // that must not be wiped.
    std::vector<TDisk*> CheckedDisks() const;
    // The whole disk a row stands for; null for a drive letter, a disc or a header.
    static TPhysicalDisk* WholeDiskOf(const ui::TListItem& row);
    void JvWIPDataSelectionEnterPage();
    void lwDisksListChange(int index);
    ui::TListItemDraw lwDisksListCustomDraw(const ui::TListItem& item) const;
    void JvXPBarFunctionsCanResize();
    void ViewSelectedDisk();

    // ---- Method, options and confirmation pages.
    void FillMethodList();
    void cbxAlgorithmChange();
    void ApplyOptionsToControls();
    void cbGenerateReportClick();
    void btnBrowseLogClick();
    void btnProofClick();
    void btnOpenCertificateClick();
    void BuildConfirmation();

    // ---- The wipe run.
    void JvWIPWipeEnterPage();
    void JvWIPWipeExitPage();
    void WMStartWipe();
    // Tells the drives that cannot take the chosen method's firmware step; true when any.
    bool FirmwareRefusedBeforeRun();
    // Every drive being wiped works on its own erase, which cannot be paused or stopped, so
    // Pause and Abort reach none. In a run of several drives a drive busy so holds only
    // itself: the others may still be paused and aborted (it finishes its erase first).
    bool FirmwareHoldsRun() const;
    // The run's settings as the controls and options say now.
    TWipeSettings WipeSettingsFromControls() const;
    // The gauges, the run's figures and the drive rows as the running job has them now.
    void RefreshProgress();
    // The same from a snapshot of the run's drives at nowMs (a tick count).
    void ShowRunFigures(const std::vector<TDriveStatus>& drives, std::uint32_t nowMs);
    void btnAbortClick();
    void btnPauseClick();
    // Ctrl+C: during a run that may be aborted, an abort without the question; outside a
    // run, the end of the program as Cancel ends it.
    void InterruptRequested();

    TGUIDiskManager& DiskManager() { return *FDiskManager; }
    TPurgeletApp& App() { return app_; }

    // Run state.
    std::int32_t FCheckedRows = 0;
    std::string FNothingToWipeTold; // the last empty-list text shown, not shown again
    std::vector<bool> FCheckStates; // the last seen check state of each row position

    // ---- Controls (owned by the form; references for the program's code).
    ui::TWizard& JvWizard;
    ui::TWizardPage& JvWIPWelcome;
    ui::TWizardPage& JvWIPDataSelection;
    ui::TWizardPage& JvWIPAlgorithmSelection;
    ui::TWizardPage& JvWIPOptions;
    ui::TWizardPage& JvWIPConfirmation;
    ui::TWizardPage& JvWIPWipe;
    ui::TWizardPage& JvWIPFinished;
    ui::TLabel& lblWelcomeText;
    ui::TSideBar& JvXPBarFunctions;
    ui::TSideBar& JvXPBarDetails;
    ui::TListView& lwDisksList;
    ui::TLabel& lblUCanChoose;
    ui::TComboBox& cbxAlgorithm;
    ui::TGroupBox& grpDetails;
    ui::TLabel& lblMethodDescription;
    ui::TGroupBox& gbWipeOptions;
    ui::TCheckBox& cbAllowUserAbort;
    ui::TCheckBox& cbWipeWithoutIntervention;
    ui::TCheckBox& cbUseIsaac;
    ui::TCheckBox& cbNoBuffering;
    ui::TLabel& lblOverwriteBuffer;
    ui::TComboBox& cbbBuffer;
    ui::TCheckBox& cbQuickErase;
    ui::TCheckBox& cbFormarPartitions;
    ui::TCheckBox& cbAskDlg;
    ui::TCheckBox& cbWipeInParallel;
    ui::TGroupBox& gbReportFile;
    ui::TCheckBox& cbGenerateReport;
    ui::TCheckBox& cbUseDodReport;
    ui::TCheckBox& cbAppendLog;
    ui::TButton& btnProof;
    ui::TLabel& lblLogFile;
    ui::TEdit& edtLogFileName;
    ui::TButton& btnBrowseLog;
    ui::TCheckBox& cbShowWholeDisks; // in the wipe options' group, beside the ask box
    ui::TCheckBox& cbUseAesCtr;      // beside the buffering box
    ui::TCheckBox& cbVerifyContent;  // beside the buffer size
    ui::TMemo& mmTopText;
    ui::TMemo& mmOperations;
    ui::TLabel& lblTextGlobal;
    ui::TGauge& gGlobal;
    ui::TLabel& lblRunFigures;
    ui::TLabel& lblTextPartial;
    ui::TGauge& gPartial;
    ui::TLabel& lblTextMethod;
    ui::TAnimation& JvGIFAnimator;
    ui::TButton& btnAbort;
    ui::TButton& btnPause;
    ui::TListView& lvRunDrives;
    ui::TLabel& lblTheSelected;
    ui::TLabel& lblWhatDoU;
    ui::TRadioButton& rbRestartWizard;
    ui::TRadioButton& rbExitProgram;
    ui::TButton& btnOpenCertificate;
    ui::TLabel& lblProofFiles;
    ui::TListView& lvFinishedDrives;
    ui::TTimer& TmrWipe;
    ui::TSaveDialog& SDlgLogFile;
    ui::TPopupMenu& PopupHelp;

private:
    // Each page's settings and events, once the member initialisers have placed its controls.
    void BuildPages();
    void BuildNavigation();
    void BuildDrivePage();
    void BuildMethodPages();
    void BuildConfirmationPage();
    void BuildWipePage();
    void BuildFinishedPage();
    void BindOptionControls();
    void BuildHelpMenu();
    void ShowHelpContext(int context);
    void OpenShellDocument(const std::string& file, int showCommand);
    void SaveAndRelease();
    void EndWipeRun(TWipeOutcome outcome);
    // One row per drive of the run, waiting.
    void ListRunDrives(const TWipeJob& job);
    // The finished page's rows: each drive's outcome, time taken and average speed.
    void ListFinishedDrives(const TWipeJob& job);
    ui::TLabel& AddExplanation(ui::TWizardPage& page, const std::string& titleName,
                               const std::string& textName);

    TPurgeletApp& app_;
    std::unique_ptr<TGUIDiskManager> FDiskManager;
    std::unique_ptr<TPLOptions> options_;
    // The explanation panels' titles and texts (owned by their pages).
    std::vector<std::pair<ui::TLabel*, ui::TLabel*>> explanations_;
    bool closeQueryDetached_ = false;
    bool runActive_ = false;           // WMStartWipe is on the stack
    bool pauseHeldByFirmware_ = false; // Pause turned off while a drive runs its own erase
    // The job WMStartWipe runs, for the timer's figures; null outside a run.
    const TWipeJob* runningJob_ = nullptr;
    std::string finishedCertificate_; // the last run's certificate, for btnOpenCertificate
    TRunFigures figures_;
    bool closeAfterRun_ = false; // Cancel was pressed while the run was still ending
};

} // namespace purgelet
