#include "app/about.h"

#include "build_info.h"
#include "ui/dialogs.h"

namespace purgelet {

namespace {

constexpr int kClientWidth = 50;
constexpr int kClientHeight = 9;
constexpr int kButtonWidth = 10;
constexpr const char* kLicence = "Provided as is, without warranty of any kind.";

} // namespace

std::string VersionText() {
    return std::string("Version ") + build::Version + " (build " + build::Id + ")";
}

TFAbout::TFAbout(ui::Host& host)
    : ui::TForm("FAbout", host, ui::TForm::OuterFor(kClientWidth, kClientHeight)),
      lblProductName(Add<ui::TLabel>("lblProductName", ui::TRect{2, 1, kClientWidth - 4, 1})),
      lblProductLine(Add<ui::TLabel>("lblProductLine", ui::TRect{2, 2, kClientWidth - 4, 1})),
      lblVersion(Add<ui::TLabel>("lblVersion", ui::TRect{2, 4, kClientWidth - 4, 1})),
      lblLicence(Add<ui::TLabel>("lblLicence", ui::TRect{2, 5, kClientWidth - 4, 1})),
      btnOK(Add<ui::TButton>("btnOK", ui::TRect{(kClientWidth - kButtonWidth) / 2,
                                                kClientHeight - 2, kButtonWidth, 1})) {
    Caption = std::string("About ") + build::ProductName;
    lblProductName.Caption = build::ProductName;
    lblProductName.Bold = true;
    lblProductLine.Caption = build::ProductLine;
    lblVersion.Caption = VersionText();
    lblLicence.Caption = kLicence;
    btnOK.Caption = "OK";
    btnOK.ModalResult = mrOk;
    SetDefaultButton(&btnOK);
    CancelButton = &btnOK;
}

} // namespace purgelet
