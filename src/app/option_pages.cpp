// The method page, the options page bound to the options record, and the confirmation text.
#include "app/main_form.h"

#include "app/firmware_lines.h"
#include "app/options.h"
#include "app/proof_dialog.h"
#include "app/run_settings.h"
#include "lang/catalogue.h"
#include "methods/method.h"

namespace purgelet {

// ---- Method selection.

void TFrmMain::FillMethodList() {
    cbxAlgorithm.Clear();
    for (const TMethodChoice& choice : MethodChoices())
        cbxAlgorithm.AddItem(choice.Name, choice.Method);
}

void TFrmMain::cbxAlgorithmChange() {
    lblMethodDescription.Caption.clear();
    const auto* selected = static_cast<const method*>(cbxAlgorithm.SelectedObject());
    if (selected == nullptr)
        return;
    // After an empty first line, as the description has always begun; the label wraps it.
    lblMethodDescription.Caption = "\n" + DescriptionParagraphs(*selected);
    // The drive's own erase: which of the ticked drives can take it, and with which command.
    // Each whole disk is probed once, when first asked, not per redraw.
    if (selected->Firmware != TFirmwareStep::None) {
        lblMethodDescription.Caption += "\n\n" + CatalogueText("FIRMWARE_HEADER");
        for (const TFirmwareLine& line : FirmwareLines(CheckedDisks(), selected->Firmware))
            lblMethodDescription.Caption += "\n" + FirmwareLineText(line);
    }
}

bool TFrmMain::FirmwareRefusedBeforeRun() {
    const auto* selected = static_cast<const method*>(cbxAlgorithm.SelectedObject());
    if (selected == nullptr || selected->Firmware == TFirmwareStep::None)
        return false;
    const std::string refused =
        FirmwareRefusalMessage(FirmwareLines(CheckedDisks(), selected->Firmware));
    if (refused.empty())
        return false;
    GetHost().MessageDialog(refused, TMsgDlgType::mtError, mbOKButton, 0);
    return true;
}

// ---- Options.

void TFrmMain::BindOptionControls() {
    auto bind = [](ui::TCheckBox& box, bool TPLOptions::*field) {
        box.OnClick = [&box, field] {
            if (Options != nullptr)
                Options->*field = box.Checked();
        };
    };
    cbGenerateReport.OnClick = [this] { cbGenerateReportClick(); };
    bind(cbUseDodReport, &TPLOptions::UseDoDLogStyle);
    bind(cbAppendLog, &TPLOptions::AppendLog);
    bind(cbAllowUserAbort, &TPLOptions::AllowUserAbort);
    bind(cbWipeWithoutIntervention, &TPLOptions::WipeWithoutIntervention);
    bind(cbUseIsaac, &TPLOptions::UseIsaac);
    bind(cbNoBuffering, &TPLOptions::NoBuffering);
    bind(cbQuickErase, &TPLOptions::QuickEraseCDDVD);
    bind(cbFormarPartitions, &TPLOptions::FormatPartitions);
    bind(cbAskDlg, &TPLOptions::ShowAskDialog);
    bind(cbShowWholeDisks, &TPLOptions::ShowWholeDisks);
    bind(cbWipeInParallel, &TPLOptions::WipeInParallel);
    bind(cbUseAesCtr, &TPLOptions::UseAesCtr);
    bind(cbVerifyContent, &TPLOptions::VerifyContent);
    auto storeLogName = [this] {
        if (Options != nullptr)
            Options->LogFileName = edtLogFileName.Text();
    };
    edtLogFileName.OnChange = storeLogName;
    edtLogFileName.OnExit = storeLogName;
    cbbBuffer.OnChange = [this] {
        if (Options != nullptr)
            Options->OverwriteBuffer = cbbBuffer.ItemIndex();
    };
    btnBrowseLog.OnClick = [this] { btnBrowseLogClick(); };
    btnProof.OnClick = [this] { btnProofClick(); };
}

void TFrmMain::btnProofClick() {
    if (Options == nullptr)
        return;
    TProofDlg dialog(GetHost());
    dialog.Edit(Options->Attestation, Options->CertificateLogo);
}

void TFrmMain::ApplyOptionsToControls() {
    if (Options == nullptr)
        return;
    SettleOptions(*Options);
    // Setting a box runs its click behaviour, and the report box's may fill in a default log
    // name: every control is set from the values as they stood before the first of them.
    const TPLOptions& o = *Options;
    const bool generate = o.GenerateReportFile, dod = o.UseDoDLogStyle, append = o.AppendLog;
    const std::string logName = o.LogFileName;
    const bool abort = o.AllowUserAbort, unattended = o.WipeWithoutIntervention, isaac = o.UseIsaac,
               unbuffered = o.NoBuffering, quick = o.QuickEraseCDDVD, format = o.FormatPartitions,
               ask = o.ShowAskDialog, wholeDisks = o.ShowWholeDisks, parallel = o.WipeInParallel,
               aes = o.UseAesCtr, content = o.VerifyContent;
    const std::int32_t buffer = o.OverwriteBuffer;

    cbGenerateReport.SetChecked(generate);
    cbUseDodReport.SetChecked(dod);
    cbAppendLog.SetChecked(append);
    edtLogFileName.SetText(logName);
    Options->LogFileName = logName;
    cbAllowUserAbort.SetChecked(abort);
    cbWipeWithoutIntervention.SetChecked(unattended);
    cbUseIsaac.SetChecked(isaac);
    cbNoBuffering.SetChecked(unbuffered);
    cbQuickErase.SetChecked(quick);
    cbFormarPartitions.SetChecked(format);
    cbAskDlg.SetChecked(ask);
    cbShowWholeDisks.SetChecked(wholeDisks);
    cbWipeInParallel.SetChecked(parallel);
    cbUseAesCtr.SetChecked(aes);
    cbVerifyContent.SetChecked(content);
    cbbBuffer.SetItemIndex(buffer);
    cbGenerateReportClick();
}

void TFrmMain::cbGenerateReportClick() {
    if (Options == nullptr)
        return;
    Options->GenerateReportFile = cbGenerateReport.Checked();
    const bool on = Options->GenerateReportFile;
    cbUseDodReport.SetEnabled(on);
    cbAppendLog.SetEnabled(on);
    lblLogFile.SetEnabled(on);
    edtLogFileName.SetEnabled(on);
    btnBrowseLog.SetEnabled(on);
    if (edtLogFileName.Enabled() && edtLogFileName.Text().empty()) {
        edtLogFileName.SetText(DefaultReportPath());
        Options->LogFileName = edtLogFileName.Text();
    }
}

void TFrmMain::btnBrowseLogClick() {
    SDlgLogFile.FileName = edtLogFileName.Text();
    if (SDlgLogFile.Execute())
        edtLogFileName.SetText(SDlgLogFile.FileName);
}

// ---- Confirmation.

void TFrmMain::BuildConfirmation() {
    auto& lines = mmOperations.Lines;
    lines.clear();
    mmOperations.TopLine = 0;
    auto optionLine = [](const ui::TCheckBox& box) {
        return "  " + box.Caption + ": " + CatalogueText(box.Checked() ? "ENABLED" : "DISABLED");
    };
    lines.push_back(CatalogueText("CONFIRMATION_DRIVESTOWIPE"));
    const auto* chosen = static_cast<const method*>(cbxAlgorithm.SelectedObject());
    const TFirmwareStep firmware = chosen != nullptr ? chosen->Firmware : TFirmwareStep::None;
    // Each drive in the scope the whole selection holds of it: a namespace's drive is whole
    // only with its other namespaces.
    const std::vector<TDisk*> checked = CheckedDisks();
    const std::vector<TFirmwareLine> firmwareLines = firmware != TFirmwareStep::None
                                                         ? FirmwareLines(checked, firmware)
                                                         : std::vector<TFirmwareLine>();
    for (std::size_t i = 0; i < checked.size(); ++i) {
        TDisk* disk = checked[i];
        lines.push_back("  - " + disk->Description);
        lines.push_back("      " + CatalogueText("CONFIRMATION_SIZE") + FormatSize(disk->Size));
        if (i < firmwareLines.size()) {
            const TFirmwareLine& line = firmwareLines[i];
            lines.push_back("      " + (line.Possible ? CatalogueText("FIRMWARE_COMMAND") +
                                                            FirmwareCommandText(line)
                                                      : FirmwareLineText(line)));
        }
        if (auto* whole = dynamic_cast<TPhysicalDisk*>(disk)) {
            // Everything on it goes, whether its drive letters were ticked or not.
            lines.push_back("      " + CatalogueText("WHOLEDISK_TABLE"));
            for (const TLogicalDisk* volume : whole->Volumes)
                lines.push_back("      " + CatalogueText("WHOLEDISK_INCLUDES") +
                                volume->Description);
        }
    }
    lines.push_back("");
    lines.push_back(gbWipeOptions.Caption);
    lines.push_back("  " + CatalogueText("CONFIRMATION_WIPEALGORITHM") + cbxAlgorithm.Text());
    for (const ui::TCheckBox* box :
         {&cbAllowUserAbort, &cbWipeWithoutIntervention, &cbUseIsaac, &cbNoBuffering})
        lines.push_back(optionLine(*box));
    // Beyond the listed options: named only when on.
    for (const ui::TCheckBox* box : {&cbUseAesCtr, &cbVerifyContent})
        if (box->Checked())
            lines.push_back(optionLine(*box));
    lines.push_back("  " + lblOverwriteBuffer.Caption + ": " + cbbBuffer.Text());
    for (const ui::TCheckBox* box : {&cbQuickErase, &cbFormarPartitions, &cbAskDlg})
        lines.push_back(optionLine(*box));
    if (cbGenerateReport.Checked()) {
        lines.push_back("");
        lines.push_back(gbReportFile.Caption);
        lines.push_back(optionLine(cbUseDodReport));
        lines.push_back(optionLine(cbAppendLog));
        lines.push_back("  " + lblLogFile.Caption + " " + edtLogFileName.Text());
    }
    // No run without a method: the page offers no way on until one is chosen.
    JvWIPConfirmation.SetButtonEnabled(ui::TWizardButton::Next, cbxAlgorithm.ItemIndex() >= 0);
}

} // namespace purgelet
