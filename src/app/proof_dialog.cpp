#include "app/proof_dialog.h"

#include "lang/catalogue.h"
#include "ui/dialogs.h"

#include <iterator>

namespace purgelet {

namespace {

constexpr int kClientWidth = 64;
constexpr int kClientHeight = 16;
constexpr int kLabelWidth = 22;
constexpr int kFieldLeft = kLabelWidth + 1;
constexpr int kFieldWidth = kClientWidth - kFieldLeft - 1;

// The choices of a combo box: the first item is "not given" (empty), then each word in the
// user's language; the word itself rides with its item.
template <std::size_t N>
void FillChoices(ui::TComboBox& box, const char* const (&words)[N], const char* keyPrefix) {
    box.Clear();
    box.AddItem(CatalogueText("PROOF_NOTGIVEN"));
    for (const char* word : words)
        box.AddItem(CatalogueText(std::string(keyPrefix) + word), const_cast<char*>(word));
}

template <std::size_t N>
void Choose(ui::TComboBox& box, const char* const (&words)[N], const std::string& word) {
    box.SetItemIndex(0);
    for (std::size_t i = 0; i < N; ++i)
        if (word == words[i])
            box.SetItemIndex(static_cast<int>(i) + 1);
}

std::string Chosen(const ui::TComboBox& box) {
    const auto* word = static_cast<const char*>(box.SelectedObject());
    return word != nullptr ? word : "";
}

} // namespace

TProofDlg::TProofDlg(ui::Host& host)
    : ui::TForm("ProofDlg", host, ui::TForm::OuterFor(kClientWidth, kClientHeight)),
      edtOrganisation(Add<ui::TEdit>("edtOrganisation", ui::TRect{kFieldLeft, 1, kFieldWidth, 1})),
      edtOrganisationAddress(
          Add<ui::TEdit>("edtOrganisationAddress", ui::TRect{kFieldLeft, 2, kFieldWidth, 1})),
      edtOperatorName(Add<ui::TEdit>("edtOperatorName", ui::TRect{kFieldLeft, 3, kFieldWidth, 1})),
      edtOperatorTitle(
          Add<ui::TEdit>("edtOperatorTitle", ui::TRect{kFieldLeft, 4, kFieldWidth, 1})),
      edtOperatorLocation(
          Add<ui::TEdit>("edtOperatorLocation", ui::TRect{kFieldLeft, 5, kFieldWidth, 1})),
      edtOperatorPhone(
          Add<ui::TEdit>("edtOperatorPhone", ui::TRect{kFieldLeft, 6, kFieldWidth, 1})),
      edtValidatorName(
          Add<ui::TEdit>("edtValidatorName", ui::TRect{kFieldLeft, 7, kFieldWidth, 1})),
      edtValidatorTitle(
          Add<ui::TEdit>("edtValidatorTitle", ui::TRect{kFieldLeft, 8, kFieldWidth, 1})),
      cbbConfidentiality(Add<ui::TComboBox>("cbbConfidentiality", ui::TRect{kFieldLeft, 9, 20, 1})),
      cbbBackupMade(Add<ui::TComboBox>("cbbBackupMade", ui::TRect{kFieldLeft, 10, 20, 1})),
      cbbDestination(Add<ui::TComboBox>("cbbDestination", ui::TRect{kFieldLeft, 11, 20, 1})),
      edtCertificateLogo(
          Add<ui::TEdit>("edtCertificateLogo", ui::TRect{kFieldLeft, 12, kFieldWidth, 1})),
      btnProofOk(Add<ui::TButton>("btnProofOk", ui::TRect{kClientWidth - 26, 14, 12, 1})),
      btnProofCancel(Add<ui::TButton>("btnProofCancel", ui::TRect{kClientWidth - 13, 14, 12, 1})) {
    // Each field with its label at its left, which gives the field the focus by its letter.
    const struct {
        const char* name;
        const char* key;
        ui::TControl* field;
    } rows[] = {{"lblOrganisation", "PROOF_ORGANISATION", &edtOrganisation},
                {"lblOrganisationAddress", "PROOF_ORGANISATIONADDRESS", &edtOrganisationAddress},
                {"lblOperatorName", "PROOF_OPERATORNAME", &edtOperatorName},
                {"lblOperatorTitle", "PROOF_OPERATORTITLE", &edtOperatorTitle},
                {"lblOperatorLocation", "PROOF_OPERATORLOCATION", &edtOperatorLocation},
                {"lblOperatorPhone", "PROOF_OPERATORPHONE", &edtOperatorPhone},
                {"lblValidatorName", "PROOF_VALIDATORNAME", &edtValidatorName},
                {"lblValidatorTitle", "PROOF_VALIDATORTITLE", &edtValidatorTitle},
                {"lblConfidentiality", "PROOF_CONFIDENTIALITY", &cbbConfidentiality},
                {"lblBackupMade", "PROOF_BACKUPMADE", &cbbBackupMade},
                {"lblDestination", "PROOF_DESTINATION", &cbbDestination},
                {"lblCertificateLogo", "PROOF_LOGO", &edtCertificateLogo}};
    int tab = 0;
    for (const auto& row : rows) {
        auto& label =
            Add<ui::TLabel>(row.name, ui::TRect{1, row.field->Bounds().Top, kLabelWidth - 1, 1});
        label.Caption = CatalogueText(row.key);
        label.FocusControl = row.field;
        row.field->TabOrder = tab++;
    }
    Caption = CatalogueText("PROOF_CAPTION");
    btnProofOk.Caption = CatalogueText("PROOF_OK");
    btnProofOk.ModalResult = mrOk;
    btnProofOk.TabOrder = tab++;
    btnProofCancel.Caption = CatalogueText("PROOF_CANCEL");
    btnProofCancel.ModalResult = mrCancel;
    btnProofCancel.TabOrder = tab;
    SetDefaultButton(&btnProofOk);
    CancelButton = &btnProofCancel;
    FillChoices(cbbConfidentiality, record::kConfidentialities, "PROOF_CONF_");
    FillChoices(cbbBackupMade, record::kBackups, "PROOF_BACKUP_");
    FillChoices(cbbDestination, record::kDestinations, "PROOF_DEST_");
    OnShow = [this] { SetFocus(&edtOrganisation); };
}

bool TProofDlg::Edit(record::TAttestation& attestation, std::string& logo) {
    const struct {
        ui::TEdit* edit;
        std::string* text;
    } texts[] = {{&edtOrganisation, &attestation.Organisation.Name},
                 {&edtOrganisationAddress, &attestation.Organisation.Address},
                 {&edtOperatorName, &attestation.Operator.Person},
                 {&edtOperatorTitle, &attestation.Operator.Title},
                 {&edtOperatorLocation, &attestation.Operator.Location},
                 {&edtOperatorPhone, &attestation.Operator.Phone},
                 {&edtValidatorName, &attestation.Validator.Name},
                 {&edtValidatorTitle, &attestation.Validator.Title},
                 {&edtCertificateLogo, &logo}};
    for (const auto& [edit, text] : texts)
        edit->SetText(*text);
    Choose(cbbConfidentiality, record::kConfidentialities, attestation.Media.Confidentiality);
    Choose(cbbBackupMade, record::kBackups, attestation.Media.Backup);
    Choose(cbbDestination, record::kDestinations, attestation.Media.Destination);
    ModalResult = 0;
    if (ShowModal() != mrOk)
        return false;
    for (const auto& [edit, text] : texts)
        *text = edit->Text();
    attestation.Media = {Chosen(cbbConfidentiality), Chosen(cbbBackupMade), Chosen(cbbDestination)};
    return true;
}

} // namespace purgelet
