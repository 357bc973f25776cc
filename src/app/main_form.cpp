#include "app/main_form.h"

#include "app/about.h"
#include "app/options.h"
#include "app/program.h"
#include "lang/catalogue.h"
#include "platform/system.h"
#include "report/report.h"
#include "ui/control_texts.h"

#include <algorithm>

namespace purgelet {

using ui::akAll;
using ui::akBottom;
using ui::akLeft;
using ui::akRight;
using ui::akTop;
using ui::TRect;
using ui::TWizardButton;

namespace {

// The window in character cells: 78 x 23 inside its frame, so 80 x 25 with it.
constexpr int kClientWidth = 78;
constexpr int kClientHeight = 23;
// Every page but the welcome and drive pages has an explanation panel on the left.
constexpr int kPanelWidth = 20;
constexpr int kContentLeft = 21;
constexpr int kContentWidth = kClientWidth - kContentLeft;
constexpr ui::TAnchors akTopWide = akLeft | akTop | akRight;
// The drive page's side bars have room for a details line such as "Used Space: 1020.00 KB".
constexpr int kBarWidth = 23;

} // namespace

TFrmMain::TFrmMain(ui::Host& host, TPurgeletApp& app)
    : ui::TForm("FrmMain", host, ui::TForm::OuterFor(kClientWidth, kClientHeight)),
      JvWizard(Add<ui::TWizard>("JvWizard", TRect{0, 0, kClientWidth, kClientHeight})),
      JvWIPWelcome(JvWizard.AddPage("JvWIPWelcome", "", "", 1000)),
      JvWIPDataSelection(JvWizard.AddPage("JvWIPDataSelection", "Data Selection",
                                          "Select data to be wiped without the possibly of "
                                          "recovery.",
                                          2400)),
      JvWIPAlgorithmSelection(JvWizard.AddPage("JvWIPAlgorithmSelection", "Algorithm Selection",
                                               "Select algorithm for wiping", 2500)),
      JvWIPOptions(JvWizard.AddPage("JvWIPOptions", "Wipe Options", "Select the Options", 2600)),
      JvWIPConfirmation(JvWizard.AddPage("JvWIPConfirmation", "Confirmation",
                                         "Confirm the selected Actions to be performed", 2700)),
      JvWIPWipe(JvWizard.AddPage("JvWIPWipe", "Wiping", "Wiping", 2700)),
      JvWIPFinished(JvWizard.AddPage("JvWIPFinished", "Finished", "", 2750)),
      lblWelcomeText(JvWIPWelcome.Add<ui::TLabel>("lblWelcomeText", TRect{kContentLeft, 3, 55, 10},
                                                  akTopWide)),
      JvXPBarFunctions(
          JvWIPDataSelection.Add<ui::TSideBar>("JvXPBarFunctions", TRect{0, 0, kBarWidth, 1})),
      JvXPBarDetails(
          JvWIPDataSelection.Add<ui::TSideBar>("JvXPBarDetails", TRect{0, 4, kBarWidth, 1})),
      lwDisksList(JvWIPDataSelection.Add<ui::TListView>(
          "lwDisksList", TRect{kBarWidth + 1, 0, kClientWidth - kBarWidth - 1, 18}, akAll)),
      lblUCanChoose(JvWIPAlgorithmSelection.Add<ui::TLabel>(
          "lblUCanChoose", TRect{kContentLeft, 0, kContentWidth, 2}, akTopWide)),
      cbxAlgorithm(JvWIPAlgorithmSelection.Add<ui::TComboBox>("cbxAlgorithm",
                                                              TRect{kContentLeft, 2, 40, 1})),
      grpDetails(JvWIPAlgorithmSelection.Add<ui::TGroupBox>(
          "grpDetails", TRect{kContentLeft, 4, kContentWidth, 14}, akAll)),
      lblMethodDescription(
          grpDetails.Add<ui::TLabel>("lblMethodDescription", TRect{1, 0, 54, 12}, akAll)),
      gbWipeOptions(JvWIPOptions.Add<ui::TGroupBox>(
          "gbWipeOptions", TRect{kContentLeft, 0, kContentWidth, 11}, akTopWide)),
      cbAllowUserAbort(gbWipeOptions.Add<ui::TCheckBox>("cbAllowUserAbort", TRect{0, 0, 55, 1})),
      cbWipeWithoutIntervention(
          gbWipeOptions.Add<ui::TCheckBox>("cbWipeWithoutIntervention", TRect{0, 1, 55, 1})),
      cbUseIsaac(gbWipeOptions.Add<ui::TCheckBox>("cbUseIsaac", TRect{0, 2, 55, 1})),
      // Half the row: the AES box takes the other half.
      cbNoBuffering(gbWipeOptions.Add<ui::TCheckBox>("cbNoBuffering", TRect{0, 3, 29, 1})),
      lblOverwriteBuffer(gbWipeOptions.Add<ui::TLabel>("lblOverwriteBuffer", TRect{4, 4, 18, 1})),
      cbbBuffer(gbWipeOptions.Add<ui::TComboBox>("cbbBuffer", TRect{22, 4, 10, 1})),
      cbQuickErase(gbWipeOptions.Add<ui::TCheckBox>("cbQuickErase", TRect{0, 5, 55, 1})),
      cbFormarPartitions(
          gbWipeOptions.Add<ui::TCheckBox>("cbFormarPartitions", TRect{0, 6, 55, 1})),
      // Half the row: the whole-disk box takes the other half.
      cbAskDlg(gbWipeOptions.Add<ui::TCheckBox>("cbAskDlg", TRect{0, 7, 29, 1})),
      cbWipeInParallel(gbWipeOptions.Add<ui::TCheckBox>("cbWipeInParallel", TRect{0, 8, 55, 1})),
      gbReportFile(JvWIPOptions.Add<ui::TGroupBox>(
          "gbReportFile", TRect{kContentLeft, 11, kContentWidth, 7}, akTopWide)),
      cbGenerateReport(gbReportFile.Add<ui::TCheckBox>("cbGenerateReport", TRect{0, 0, 55, 1})),
      cbUseDodReport(gbReportFile.Add<ui::TCheckBox>("cbUseDodReport", TRect{0, 1, 55, 2})),
      cbAppendLog(gbReportFile.Add<ui::TCheckBox>("cbAppendLog", TRect{0, 3, 33, 1})),
      btnProof(gbReportFile.Add<ui::TButton>("btnProof", TRect{34, 3, 21, 1}, akTop | akRight)),
      lblLogFile(gbReportFile.Add<ui::TLabel>("lblLogFile", TRect{4, 4, 10, 1})),
      edtLogFileName(gbReportFile.Add<ui::TEdit>("edtLogFileName", TRect{14, 4, 32, 1}, akTopWide)),
      btnBrowseLog(
          gbReportFile.Add<ui::TButton>("btnBrowseLog", TRect{47, 4, 8, 1}, akTop | akRight)),
      // Beside the ask box: the short row has room, the page none below the report's group.
      cbShowWholeDisks(gbWipeOptions.Add<ui::TCheckBox>("cbShowWholeDisks", TRect{30, 7, 25, 1})),
      cbUseAesCtr(gbWipeOptions.Add<ui::TCheckBox>("cbUseAesCtr", TRect{30, 3, 25, 1})),
      // Right of the buffer size.
      cbVerifyContent(gbWipeOptions.Add<ui::TCheckBox>("cbVerifyContent", TRect{34, 4, 21, 1})),
      mmTopText(JvWIPConfirmation.Add<ui::TMemo>(
          "mmTopText", TRect{kContentLeft, 0, kContentWidth, 3}, akTopWide)),
      mmOperations(JvWIPConfirmation.Add<ui::TMemo>(
          "mmOperations", TRect{kContentLeft, 3, kContentWidth, 15}, akAll)),
      lblTextGlobal(JvWIPWipe.Add<ui::TLabel>("lblTextGlobal",
                                              TRect{kContentLeft, 1, kContentWidth, 1}, akTopWide)),
      gGlobal(JvWIPWipe.Add<ui::TGauge>("gGlobal", TRect{kContentLeft, 2, kContentWidth, 1},
                                        akTopWide)),
      lblRunFigures(JvWIPWipe.Add<ui::TLabel>("lblRunFigures",
                                              TRect{kContentLeft, 3, kContentWidth, 1}, akTopWide)),
      lblTextPartial(JvWIPWipe.Add<ui::TLabel>(
          "lblTextPartial", TRect{kContentLeft, 4, kContentWidth, 1}, akTopWide)),
      gPartial(JvWIPWipe.Add<ui::TGauge>("gPartial", TRect{kContentLeft, 5, kContentWidth, 1},
                                         akTopWide)),
      lblTextMethod(JvWIPWipe.Add<ui::TLabel>("lblTextMethod",
                                              TRect{kContentLeft, 7, kContentWidth, 1}, akTopWide)),
      JvGIFAnimator(JvWIPWipe.Add<ui::TAnimation>("JvGIFAnimator", TRect{kContentLeft, 9, 3, 1})),
      btnAbort(JvWIPWipe.Add<ui::TButton>("btnAbort", TRect{kContentLeft, 11, 11, 1})),
      btnPause(JvWIPWipe.Add<ui::TButton>("btnPause", TRect{kContentLeft + 13, 11, 12, 1})),
      lvRunDrives(JvWIPWipe.Add<ui::TListView>("lvRunDrives",
                                               TRect{kContentLeft, 13, kContentWidth, 5}, akAll)),
      lblTheSelected(JvWIPFinished.Add<ui::TLabel>(
          "lblTheSelected", TRect{kContentLeft, 1, kContentWidth, 2}, akTopWide)),
      lblWhatDoU(JvWIPFinished.Add<ui::TLabel>(
          "lblWhatDoU", TRect{kContentLeft, 4, kContentWidth, 1}, akTopWide)),
      rbRestartWizard(JvWIPFinished.Add<ui::TRadioButton>("rbRestartWizard",
                                                          TRect{kContentLeft + 2, 6, 30, 1})),
      rbExitProgram(
          JvWIPFinished.Add<ui::TRadioButton>("rbExitProgram", TRect{kContentLeft + 2, 7, 30, 1})),
      btnOpenCertificate(JvWIPFinished.Add<ui::TButton>(
          "btnOpenCertificate", TRect{kContentLeft + 34, 7, 22, 1}, akTop | akRight)),
      lblProofFiles(JvWIPFinished.Add<ui::TLabel>(
          "lblProofFiles", TRect{kContentLeft, 9, kContentWidth, 2}, akTopWide)),
      lvFinishedDrives(JvWIPFinished.Add<ui::TListView>(
          "lvFinishedDrives", TRect{kContentLeft, 11, kContentWidth, 7}, akAll)),
      TmrWipe(AddComponent<ui::TTimer>("TmrWipe")),
      SDlgLogFile(AddComponent<ui::TSaveDialog>("SDlgLogFile")),
      PopupHelp(AddComponent<ui::TPopupMenu>("PopupHelp")), app_(app) {
    Resizable = true;
    BuildPages();
    BindOptionControls();
    BuildHelpMenu();
    FormCreate();
    JvWizard.SetActivePage(JvWIPWelcome);
}

TFrmMain::~TFrmMain() {
    if (Options == options_.get())
        Options = nullptr;
}

ui::TLabel& TFrmMain::AddExplanation(ui::TWizardPage& page, const std::string& titleName,
                                     const std::string& textName) {
    // The title may use the panel up to the column before the page's content.
    auto& title = page.Add<ui::TLabel>(titleName, TRect{1, 0, kPanelWidth - 1, 1});
    title.Bold = true;
    title.WordWrap = true;
    auto& text =
        page.Add<ui::TLabel>(textName, TRect{1, 2, kPanelWidth - 2, 15}, akLeft | akTop | akBottom);
    text.WordWrap = true;
    explanations_.push_back({&title, &text});
    return text;
}

void TFrmMain::LayOutExplanations() {
    // A title too long for one line wraps, and its text moves down below it.
    for (auto [title, text] : explanations_) {
        TRect r = title->Bounds();
        r.Height = std::max(static_cast<int>(ui::WrapText(title->Caption, r.Width).size()), 1);
        title->SetBounds(r);
        TRect t = text->Bounds();
        const int bottom = t.Bottom();
        t.Top = r.Bottom() + 1;
        t.Height = std::max(bottom - t.Top, 0);
        text->SetBounds(t);
    }
}

void TFrmMain::BuildPages() {
    BuildNavigation();
    lblWelcomeText.WordWrap = true;
    BuildDrivePage();
    BuildMethodPages();
    BuildConfirmationPage();
    BuildWipePage();
    BuildFinishedPage();

    SDlgLogFile.DefaultExt = "txt";
    OnCloseQuery = [this] { return closeQueryDetached_ || FormCloseQuery(); };
    OnClose = [this] { FormClose(); };
}

// The navigation buttons each page shows and enables, and what they do.
void TFrmMain::BuildNavigation() {
    for (int i = 0; i < JvWizard.PageCount(); ++i) {
        ui::TWizardPage& page = JvWizard.Pages(i);
        page.SetButtonVisible(TWizardButton::Start, false);
        page.SetButtonVisible(TWizardButton::Last, false);
        page.SetButtonVisible(TWizardButton::Finish, false);
    }
    JvWIPWelcome.HeaderVisible = false;
    JvWIPFinished.SetButtonVisible(TWizardButton::Next, false);
    JvWIPFinished.SetButtonVisible(TWizardButton::Cancel, false);
    JvWIPFinished.SetButtonVisible(TWizardButton::Finish, true);
    JvWIPDataSelection.SetButtonEnabled(TWizardButton::Next, false);
    JvWIPWipe.SetButtonEnabled(TWizardButton::Back, false);
    JvWIPWipe.SetButtonEnabled(TWizardButton::Next, false);
    JvWIPWipe.SetButtonEnabled(TWizardButton::Cancel, false);
    JvWIPFinished.SetButtonEnabled(TWizardButton::Back, false);

    JvWizard.OnCancelButtonClick = [this] { JvWIPWipeCancelButtonClick(); };
    JvWizard.OnFinishButtonClick = [this] { JvWIPFinishedFinishButtonClick(); };
    JvWizard.OnHelpButtonClick = [this] { ShowHelpMenu(); };
    JvWIPWelcome.OnBackButtonClick = [this] { JvWIPFinishedFinishButtonClick(); };
}

void TFrmMain::BuildDrivePage() {
    JvXPBarFunctions.AddItem({"Refresh List", true, [this] {
                                  FNothingToWipeTold.clear(); // asked for: told again
                                  RefreshDriveList();
                              }});
    JvXPBarFunctions.AddItem({"View Disk", true, [this] { ViewSelectedDisk(); }});
    JvXPBarFunctions.OnResize = [this] { JvXPBarFunctionsCanResize(); };
    JvXPBarFunctionsCanResize();
    JvXPBarDetails.TabStop = false;
    lwDisksList.TabOrder = 0; // the list first, the functions after it
    JvXPBarFunctions.TabOrder = 1;
    JvXPBarDetails.SetVisible(false);
    // Names as long as the window allows: two disks of one model differ only at the end.
    lwDisksList.Columns = {{"Name", 34, true}, {"Size", 16}};
    lwDisksList.OnChange = [this](int index) { lwDisksListChange(index); };
    lwDisksList.OnCustomDraw = [this](const ui::TListItem& item) {
        return lwDisksListCustomDraw(item);
    };
    JvWIPDataSelection.OnEnterPage = [this] { JvWIPDataSelectionEnterPage(); };
}

// The method and its options.
void TFrmMain::BuildMethodPages() {
    AddExplanation(JvWIPAlgorithmSelection, "lblExplTitleAlgorithmSelection",
                   "lblExplAlgorithmSelection");
    lblUCanChoose.WordWrap = true;
    lblMethodDescription.WordWrap = true;
    cbxAlgorithm.OnChange = [this] { cbxAlgorithmChange(); };
    // The ticked drives may have changed since the method was chosen.
    JvWIPAlgorithmSelection.OnEnterPage = [this] { cbxAlgorithmChange(); };

    AddExplanation(JvWIPOptions, "lblExplTitleWipeOptions", "lblExplWipeOptions");
    cbUseDodReport.WordWrap = true;
    for (const char* size : BufferSizeTexts)
        cbbBuffer.AddItem(size);
    btnBrowseLog.Caption = "...";
}

void TFrmMain::BuildConfirmationPage() {
    AddExplanation(JvWIPConfirmation, "lblExplTitleConfirmation", "lblExplConfirmation");
    mmTopText.WordWrap = true;
    mmTopText.TabStop = false;
    JvWIPConfirmation.OnEnterPage = [this] { BuildConfirmation(); };
    // A drive that cannot take the method's own erase is told here, before the run: the user
    // stays on this page and may go back.
    JvWIPConfirmation.OnNextButtonClick = [this] {
        if (!FirmwareRefusedBeforeRun())
            JvWizard.SelectNextPage();
    };
}

void TFrmMain::BuildWipePage() {
    AddExplanation(JvWIPWipe, "lblExplTitleWiping", "lblExplWiping");
    gPartial.SetVisible(false);
    // Every drive of the run with its state and figures; watched, not worked, so the
    // keyboard stays on the buttons.
    lvRunDrives.CheckBoxes = false;
    lvRunDrives.TabStop = false;
    lvRunDrives.Columns = {
        {"Drive", 16}, {"State", 13}, {"Speed", 11}, {"Elapsed", 8}, {"Left", 8}};
    btnAbort.OnClick = [this] { btnAbortClick(); };
    btnPause.OnClick = [this] { btnPauseClick(); };
    TmrWipe.Interval = 1000;
    TmrWipe.OnTimer = [this] { RefreshProgress(); };
    JvWIPWipe.OnEnterPage = [this] { JvWIPWipeEnterPage(); };
    JvWIPWipe.OnExitPage = [this] { JvWIPWipeExitPage(); };
    // After an accepted abort Next and Cancel are enabled while the run is still ending (it
    // stops at the engine's next progress report). Closing or leaving then would free the disks
    // under the running engine: Cancel closes once the run has ended, Next is left to the run.
    JvWIPWipe.OnCancelButtonClick = [this] {
        if (runActive_)
            closeAfterRun_ = true;
        else
            JvWIPWipeCancelButtonClick();
    };
    JvWIPWipe.OnNextButtonClick = [this] {
        if (!runActive_)
            JvWizard.SelectNextPage();
    };
    SetMessageHandler(WM_STARTWIPE, [this] { WMStartWipe(); });
}

void TFrmMain::BuildFinishedPage() {
    AddExplanation(JvWIPFinished, "lblExplTitleFinished", "lblExplFinished");
    lblTheSelected.WordWrap = true;
    rbExitProgram.SetChecked(true);
    btnOpenCertificate.OnClick = [this] { btnOpenCertificateClick(); };
    btnOpenCertificate.SetVisible(false);
    lblProofFiles.WordWrap = true;
    lvFinishedDrives.CheckBoxes = false;
    lvFinishedDrives.Columns = {{"Drive", 22}, {"Outcome", 12}, {"Time", 9}, {"Speed", 12}};
}

// ---- Life cycle.

void TFrmMain::FormCreate() {
    app_.HelpFile = app_.ExeFolder() + app_.HelpFile;
    LoadTexts();
    FDiskManager = CreateDiskManager(GetHost());
    if (!FDiskManager)
        throw ProgramHalt{1};
    FDiskManager->OnUpdate = [this] {
        GetHost().ProcessMessages();
        RefreshProgress();
        GetHost().ProcessMessages();
    };
    SetReportInputQuery(
        [this](const std::string& caption, const std::string& prompt, std::string& value) {
            return GetHost().InputQuery(caption, prompt, value);
        });
    FillMethodList();
    cbxAlgorithm.SetItemIndex(0);
    cbxAlgorithmChange();
    options_ = std::make_unique<TPLOptions>();
    Options = options_.get();
    ApplyOptionsToControls();
}

void TFrmMain::LoadTexts() {
    LoadProgramTexts();
    for (const TControlText& text : ControlTexts())
        ui::ApplyControlText(*this, text.Component, text.Property, text.Text);
    LayOutExplanations();
    app_.Title = CatalogueText("APPTITLE");
    Caption = CatalogueText("MAINFORMCAPTION");
    lblTextGlobal.Caption = CatalogueText("OVERALLPROGRESS");
}

void TFrmMain::FormClose() {
    SaveAndRelease();
}

void TFrmMain::SaveAndRelease() {
    if (options_) {
        try {
            if (options_->SavesOnRelease())
                options_->Save();
        } catch (const XException&) {
            // Recorded in the error log as it was raised; the program still ends.
        }
        if (Options == options_.get())
            Options = nullptr;
        options_.reset();
    }
    SetReportInputQuery(nullptr);
    FDiskManager.reset();
}

void TFrmMain::JvWIPWipeCancelButtonClick() {
    closeQueryDetached_ = true;
    Close();
}

void TFrmMain::JvWIPFinishedFinishButtonClick() {
    if (rbExitProgram.Checked()) {
        closeQueryDetached_ = true;
        Close();
    } else {
        JvWizard.SetActivePage(JvWIPDataSelection);
    }
}

// ---- Help.

void TFrmMain::BuildHelpMenu() {
    auto item = [this](const char* name, const char* caption, std::function<void()> action) {
        PopupHelp.Items.push_back({name, caption, true, true, std::move(action)});
    };
    item("Help1", "Help", [this] {
        ShowHelpContext(JvWizard.ActivePage() != nullptr ? JvWizard.ActivePage()->HelpContext : 0);
    });
    item("HelpContents1", "Help Contents", [this] {
        auto& shell = *platform::sys().shell32;
        if (HWND window = shell.FindWindowA(nullptr, "Help Topics: Quillon Purgelet 2005")) {
            shell.BringWindowToTop(window);
            return;
        }
        OpenShellDocument(app_.HelpFile, SW_HIDE);
    });
    item("FrequentlyAskedQuestions1", "Frequently Asked Questions",
         [this] { ShowHelpContext(4800); });
    item("echnicalSupport1", "Technical Support", [this] { ShowHelpContext(2030); });
    item("CheckforUpdates1", "Check for Updates",
         [this] { OpenShellDocument(app_.ExeFolder() + "update.url", SW_SHOWNORMAL); });
    item("About1", "About...", [this] {
        if (app_.FAbout)
            app_.FAbout->ShowModal();
    });
    item("PurgeletontheWeb1", "Purgelet on the Web",
         [this] { OpenShellDocument(app_.ExeFolder() + "OnTheWeb.url", SW_SHOWNORMAL); });
    PopupHelp.FindItem("CheckforUpdates1")->Visible = false;
}

void TFrmMain::ShowHelpMenu() {
    PopupHelp.Popup(Bounds().Left + 10, Bounds().Top + Bounds().Height - 10);
}

void TFrmMain::ShowHelpContext(int context) {
    if (!platform::sys().shell32->WinHelpA(nullptr, app_.HelpFile.c_str(), HELP_CONTEXT,
                                           static_cast<ULONG_PTR>(context)))
        GetHost().MessageDialog(CatalogueText("ERR_NOHELP") + "\r\n" + app_.HelpFile,
                                TMsgDlgType::mtInformation, mbOKButton, 0);
}

// The last run's certificate in the system's viewer for PDF files.
void TFrmMain::btnOpenCertificateClick() {
    const std::string& file = finishedCertificate_;
    if (file.empty())
        return;
    HINSTANCE result = platform::sys().shell32->ShellExecuteA(nullptr, "open", file.c_str(),
                                                              nullptr, nullptr, SW_SHOWNORMAL);
    if (reinterpret_cast<std::uintptr_t>(result) <= 32)
        GetHost().MessageDialog(FillIn(CatalogueText("CERTIFICATENOTOPENED"), {file}),
                                TMsgDlgType::mtWarning, mbOKButton, 0);
}

void TFrmMain::OpenShellDocument(const std::string& file, int showCommand) {
    HINSTANCE result = platform::sys().shell32->ShellExecuteA(nullptr, "open", file.c_str(),
                                                              nullptr, nullptr, showCommand);
    if (reinterpret_cast<std::uintptr_t>(result) <= 32)
        GetHost().MessageDialog(CatalogueText("ERR_NOHELP") + "\r\n" + file,
                                TMsgDlgType::mtInformation, mbOKButton, 0);
}

} // namespace purgelet
