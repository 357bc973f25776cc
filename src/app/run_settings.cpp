#include "app/run_settings.h"

#include "app/options.h"
#include "lang/catalogue.h"
#include "methods/method.h"
#include "ui/host.h"

#include <cctype>
#include <charconv>
#include <utility>

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

// A caption of the options page as the language file words it.
std::string CaptionOf(const char* component) {
    const std::string* text = FindControlText(component, "Caption");
    return text != nullptr ? *text : std::string();
}

} // namespace

std::vector<TMethodChoice> MethodChoices() {
    // The first method read is not offered.
    std::vector<TMethodChoice> choices;
    for (std::size_t i = 1; i < Methods.size() && i < MethodNames.size(); ++i)
        choices.push_back({MethodNames[i], Methods[i].get()});
    return choices;
}

std::optional<std::int32_t> ApplySwitch(TPLOptions& o, const std::string& argument,
                                        ui::Host& host) {
    if (argument.size() < 2)
        return std::nullopt;
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(argument[1])));
    const std::string value = argument.substr(2);
    auto invalidValue = [&host] {
        host.MessageDialog(CatalogueText("ERR_INVALIDPARAMETER"), TMsgDlgType::mtError, mbOKButton,
                           0);
    };
    switch (letter) {
    case '?':
        host.MessageDialog("Help", TMsgDlgType::mtInformation, mbYesButton, 0);
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
        auto index = DecimalValue(value);
        if (!index)
            invalidValue();
        return index;
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
        host.MessageDialog(CatalogueText("ERR_INVALIDPARAMETER"), TMsgDlgType::mtInformation,
                           mbYesButton, 0);
        break;
    }
    return std::nullopt;
}

void SettleOptions(TPLOptions& options) {
    options.OverwriteBuffer = ValidOverwriteBuffer(options.OverwriteBuffer);
    if (options.GenerateReportFile && options.LogFileName.empty())
        options.LogFileName = DefaultReportPath();
}

TReportSettings ReportSettingsOf(const TPLOptions& o, const std::string& methodName) {
    TReportSettings report;
    report.MethodName = methodName;
    report.OptionsCaption = CaptionOf("gbWipeOptions");
    report.Before = {{CaptionOf("cbAllowUserAbort"), o.AllowUserAbort},
                     {CaptionOf("cbWipeWithoutIntervention"), o.WipeWithoutIntervention},
                     {CaptionOf("cbUseIsaac"), o.UseIsaac},
                     {CaptionOf("cbNoBuffering"), o.NoBuffering}};
    // Beyond the listed options: named only when on.
    for (const auto& [name, on] :
         {std::pair{"cbUseAesCtr", o.UseAesCtr}, std::pair{"cbVerifyContent", o.VerifyContent}})
        if (on)
            report.Before.push_back({CaptionOf(name), true});
    report.BufferCaption = CaptionOf("lblOverwriteBuffer");
    report.BufferText = o.BufferSizeText();
    report.After = {{CaptionOf("cbQuickErase"), o.QuickEraseCDDVD},
                    {CaptionOf("cbFormarPartitions"), o.FormatPartitions},
                    {CaptionOf("cbAskDlg"), o.ShowAskDialog}};
    return report;
}

TWipeSettings WipeSettingsOf(const TPLOptions& o, const TMethodChoice& chosen) {
    TWipeSettings settings;
    settings.Method = chosen.Method;
    settings.FormatPartitions = o.FormatPartitions;
    settings.AllowUserAbort = o.AllowUserAbort;
    settings.Unattended = o.WipeWithoutIntervention;
    settings.UseIsaac = o.UseIsaac;
    settings.NoBuffering = o.NoBuffering;
    settings.UseAesCtr = o.UseAesCtr;
    settings.VerifyContent = o.VerifyContent;
    settings.TransfersInFlight = o.TransfersInFlight;
    settings.QuickEraseCDDVD = o.QuickEraseCDDVD;
    settings.BufferBytes = BufferBytes(o.BufferSizeText());
    settings.GenerateReportFile = o.GenerateReportFile;
    settings.UseDoDLogStyle = o.UseDoDLogStyle;
    settings.AppendLog = o.AppendLog;
    settings.LogFileName = o.LogFileName;
    settings.RecordFile = o.RecordFile;
    settings.Certificate = o.Certificate;
    settings.Attestation = o.Attestation;
    settings.CertificateLogo = o.CertificateLogo;
    settings.WipeInParallel = o.WipeInParallel;
    settings.Report = ReportSettingsOf(o, chosen.Name);
    return settings;
}

} // namespace purgelet
