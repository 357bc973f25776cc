// The command line: "/" switches set options for this start, letters select drives and open
// the wizard at its confirmation page.
#include "app/main_form.h"

#include "app/options.h"
#include "app/run_settings.h"

#include <cctype>

namespace purgelet {

void TFrmMain::ProcessCommandLine(const std::vector<std::string>& arguments) {
    if (arguments.empty())
        return;
    // No switch sets what the drive list shows: the user's choice stays.
    const bool wholeDisks = Options->ShowWholeDisks;
    Options->SetDefaults();
    Options->ShowWholeDisks = wholeDisks;
    std::string letters;
    for (const std::string& argument : arguments) {
        if (argument.empty())
            continue;
        if (argument[0] == '/')
            ProcessSwitch(argument);
        else if (std::isalpha(static_cast<unsigned char>(argument[0])) &&
                 static_cast<unsigned char>(argument[0]) < 0x80)
            letters += argument[0];
    }
    // The pages show what this start will use, not what the registry held, and the method
    // description follows a method chosen by /M.
    ApplyOptionsToControls();
    cbxAlgorithmChange();
    if (letters.empty())
        return;
    for (char& c : letters)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (SelectDrivesByLetters(letters))
        JvWizard.SetActivePage(JvWIPConfirmation);
    else
        JvWizard.SetActivePage(JvWIPDataSelection);
}

void TFrmMain::ProcessSwitch(const std::string& argument) {
    // An index of the method list; out of range selects nothing, and the confirmation page
    // then offers no way on.
    if (const auto method = ApplySwitch(*Options, argument, GetHost()))
        cbxAlgorithm.SetItemIndex(*method);
}

bool TFrmMain::SelectDrivesByLetters(const std::string& letters) {
    RefreshDriveList();
    int count = 0;
    for (int i = 0; i < lwDisksList.Count(); ++i) {
        auto* disk = static_cast<TDisk*>(lwDisksList.Items(i).Data);
        if (disk == nullptr)
            continue;
        lwDisksList.SetChecked(i, false);
        for (char letter : letters) {
            if (disk->Name == std::string(1, letter)) {
                lwDisksList.SetChecked(i, true);
                ++count;
            }
        }
    }
    return count > 0;
}

} // namespace purgelet
