// The proof dialog, reached from the report options: what every run's record and certificate
// say besides the drives, as an auditor asks it (NIST SP 800-88, Appendix G): the
// organisation, the operator's name, title, location and phone, the validator, the media's
// confidentiality category, whether a backup was made, where the media go afterwards, and the
// logo at the top of the certificate's pages. OK keeps the values in the options (and so in
// the registry); Cancel and Escape leave them as they were.
#pragma once

#include "record/record.h"
#include "ui/controls.h"
#include "ui/form.h"

#include <string>

namespace purgelet {

class TProofDlg : public ui::TForm {
public:
    explicit TProofDlg(ui::Host& host);

    // Shows the values, lets the user change them; true and the new values on OK.
    bool Edit(record::TAttestation& attestation, std::string& logo);

    ui::TEdit& edtOrganisation;
    ui::TEdit& edtOrganisationAddress;
    ui::TEdit& edtOperatorName;
    ui::TEdit& edtOperatorTitle;
    ui::TEdit& edtOperatorLocation;
    ui::TEdit& edtOperatorPhone;
    ui::TEdit& edtValidatorName;
    ui::TEdit& edtValidatorTitle;
    ui::TComboBox& cbbConfidentiality;
    ui::TComboBox& cbbBackupMade;
    ui::TComboBox& cbbDestination;
    ui::TEdit& edtCertificateLogo;
    ui::TButton& btnProofOk;
    ui::TButton& btnProofCancel;
};

} // namespace purgelet
