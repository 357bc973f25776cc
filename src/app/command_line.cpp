// The command line: "/" switches set options for this start, letters select drives and open
// the wizard at its confirmation page.
#include "app/main_form.h"

#include "app/options.h"
#include "lang/catalogue.h"

#include <cctype>
#include <charconv>
#include <optional>

namespace purgelet {

namespace {

// A decimal integer and nothing else (an optional sign, digits, within 32 bits).
std::optional<std::int32_t> DecimalValue(const std::string& text) {
    std::size_t start = !text.empty() && text[0] == '+' ? 1 : 0;
    std::int32_t value = 0;
    const char* first = text.data() + start;
    const char* last = text.data() + text.size();
    if (first == last)
        return std::nullopt;
    auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end != last)
        return std::nullopt;
    return value;
}

} // namespace

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
    if (argument.size() < 2)
        return;
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(argument[1])));
    const std::string value = argument.substr(2);
    auto invalidValue = [this] {
        GetHost().MessageDialog(CatalogueText("ERR_INVALIDPARAMETER"), TMsgDlgType::mtError,
                                mbOKButton, 0);
    };
    TPLOptions& o = *Options;
    switch (letter) {
    case '?':
        GetHost().MessageDialog("Help", TMsgDlgType::mtInformation, mbYesButton, 0);
        break;
    case 'A':
        o.AppendLog = true;
        break;
    case 'B': {
        // An index of the size list: anything else would leave the run without a size.
        auto index = DecimalValue(value);
        if (!index || *index < 0 || *index >= static_cast<int>(BufferSizeTexts.size()))
            invalidValue();
        else
            o.OverwriteBuffer = *index;
        break;
    }
    case 'D':
        o.UseDoDLogStyle = true;
        break;
    case 'F':
        o.FormatPartitions = true;
        break;
    case 'I':
        o.UseIsaac = true;
        break;
    case 'K':
        o.ShowAskDialog = true;
        break;
    case 'M': {
        // An index of the method list; out of range selects nothing, and the confirmation
        // page then offers no way on.
        auto index = DecimalValue(value);
        if (!index)
            invalidValue();
        else
            cbxAlgorithm.SetItemIndex(*index);
        break;
    }
    case 'N':
        o.NoBuffering = true;
        break;
    case 'Q':
        o.QuickEraseCDDVD = true;
        break;
    case 'R':
        if (value.empty()) {
            invalidValue();
        } else {
            o.GenerateReportFile = true;
            o.LogFileName = value;
        }
        break;
    case 'U':
        o.AllowUserAbort = false;
        break;
    case 'W':
        o.WipeWithoutIntervention = true;
        break;
    default:
        GetHost().MessageDialog(CatalogueText("ERR_INVALIDPARAMETER"), TMsgDlgType::mtInformation,
                                mbYesButton, 0);
        break;
    }
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
