// The about box: the program's name, its version and build (from the header CMake generates,
// so that every place shows the same), and a licence line.
#pragma once

#include "ui/controls.h"
#include "ui/form.h"

#include <string>

namespace purgelet {

// "Version 0.1 (build 6f35bc4)".
std::string VersionText();

class TFAbout : public ui::TForm {
public:
    explicit TFAbout(ui::Host& host);

    ui::TLabel& lblProductName;
    ui::TLabel& lblProductLine;
    ui::TLabel& lblVersion;
    ui::TLabel& lblLicence;
    ui::TButton& btnOK;
};

} // namespace purgelet
