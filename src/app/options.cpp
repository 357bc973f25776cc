#include "app/options.h"

#include "lang/catalogue.h"
#include "platform/system.h"
#include "report/errorlog.h"
#include "report/exceptions.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <filesystem>
#include <stdexcept>
#include <tuple>
#include <utility>
#include <vector>

namespace purgelet {

TPLOptions* Options = nullptr;

namespace {

const char* const ShellFoldersKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// Trouble the registry back-end absorbs (a damaged registry file) belongs in the error log.
void RouteRegistryTroubleToErrorLog() {
    static const bool routed = [] {
        platform::SetRegistryTroubleReporter([](const std::string& text) { LogError(text); });
        return true;
    }();
    (void)routed;
}

std::string DesktopFolderStore;

const char* BoolText(bool value) {
    return value ? "1" : "0";
}
// Only exactly "1" is true: "true", "yes" and the empty text are false.
bool BoolOf(const std::string& text) {
    return text == "1";
}

// A decimal integer and nothing else: an optional sign and digits, within 32 bits. A text
// that is not one is a conversion failure, not a registry failure (that class means a
// missing value and logs itself): it ends the load, which logs "Error on loading options".
std::int32_t StrictInteger(const std::string& name, const std::string& text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    if (i == text.size())
        throw std::invalid_argument("'" + text + "' is not a valid integer value (" + name + ")");
    long long value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            throw std::invalid_argument("'" + text + "' is not a valid integer value (" + name +
                                        ")");
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT32_MAX) + 1)
            throw std::out_of_range("'" + text + "' is out of range (" + name + ")");
    }
    value = negative ? -value : value;
    if (value > INT32_MAX)
        throw std::out_of_range("'" + text + "' is out of range (" + name + ")");
    return static_cast<std::int32_t>(value);
}

} // namespace

TSaveToReg::TSaveToReg() {
    RouteRegistryTroubleToErrorLog();
    platform::sys().registry->OpenKey(platform::RegistryRoot::CurrentUser, OptionsKeyPath, true,
                                      key_);
}

void TSaveToReg::WriteString(const std::string& name, const std::string& value) {
    LONG status = key_ ? key_->SetString(name, value) : ERROR_INVALID_HANDLE;
    if (status != ERROR_SUCCESS)
        throw XRegistryException(std::string("Registry Key ") + OptionsKeyPath +
                                 " WriteString to " + name + " : " +
                                 platform::k32().SysErrorMessage(static_cast<DWORD>(status)));
}

std::string TSaveToReg::ReadString(const std::string& name) {
    std::string value;
    if (!key_ || key_->QueryString(name, value) != ERROR_SUCCESS)
        throw XRegistryException(std::string("Registry Key ") + OptionsKeyPath +
                                 " ReadString from " + name);
    return value;
}

std::optional<std::string> TSaveToReg::ReadOptional(const std::string& name) {
    std::string value;
    if (!key_ || key_->QueryString(name, value) != ERROR_SUCCESS)
        return std::nullopt;
    return value;
}

namespace {

// A depth that is no number, or below 1, is the default; a larger one than the engine keeps
// is its largest. It never ends the load: an administrator's typo must not lose the rest.
std::int32_t ValidTransfersInFlight(const std::string& text) {
    std::int32_t depth = 0;
    try {
        depth = StrictInteger("TransfersInFlight", text);
    } catch (const std::exception&) {
        return TPLOptions::DefaultTransfersInFlight;
    }
    if (depth < 1)
        return TPLOptions::DefaultTransfersInFlight;
    return std::min(depth, TPLOptions::MaxTransfersInFlight);
}

} // namespace

std::int32_t ValidOverwriteBuffer(std::int32_t index) {
    return index >= 0 && index < static_cast<std::int32_t>(BufferSizeTexts.size())
               ? index
               : DefaultOverwriteBuffer;
}

TPLOptions::TPLOptions() : registry_(std::make_unique<TSaveToReg>()) {
    try {
        Load();
    } catch (const std::exception&) {
        LogSilently<XException>("Error on loading options");
    }
}

TPLOptions::~TPLOptions() {
    if (!saveOnRelease_)
        return;
    try {
        Save();
    } catch (const XException&) {
        // Already in the error log with its value name; a destructor cannot pass it on.
    } catch (const std::exception& error) {
        // Nothing logged this one yet (a library failure): it must not vanish unseen.
        LogSilently<XException>("TPLOptions.Save - exception : " + ClassNameOf(error) + "- \"" +
                                error.what() + "\"");
    } catch (...) {
        LogSilently<XException>("TPLOptions.Save - exception : unknown- \"\"");
    }
}

void TPLOptions::SetDefaults() {
    GenerateReportFile = false;
    UseDoDLogStyle = false;
    AppendLog = false;
    LogFileName.clear();
    AllowUserAbort = true;
    WipeWithoutIntervention = false;
    UseIsaac = false;
    NoBuffering = true;
    OverwriteBuffer = DefaultOverwriteBuffer;
    QuickEraseCDDVD = false;
    FormatPartitions = true;
    ShowAskDialog = false;
    RecordFile = true;
    Certificate = true;
    ShowWholeDisks = true;
    WipeInParallel = true;
    UseAesCtr = false;
    VerifyContent = false;
    TransfersInFlight = DefaultTransfersInFlight;
    Attestation = {};
    CertificateLogo.clear();
}

void TPLOptions::Load() {
    SetDefaults();
    TSaveToReg& r = *registry_;
    // Read first: a value missing further down ends the load.
    if (auto value = r.ReadOptional("RecordFile"))
        RecordFile = BoolOf(*value);
    if (auto value = r.ReadOptional("Certificate"))
        Certificate = BoolOf(*value);
    if (auto value = r.ReadOptional("ShowWholeDisks"))
        ShowWholeDisks = BoolOf(*value);
    if (auto value = r.ReadOptional("WipeInParallel"))
        WipeInParallel = BoolOf(*value);
    if (auto value = r.ReadOptional("UseAesCtr"))
        UseAesCtr = BoolOf(*value);
    if (auto value = r.ReadOptional("VerifyContent"))
        VerifyContent = BoolOf(*value);
    if (auto value = r.ReadOptional("TransfersInFlight"))
        TransfersInFlight = ValidTransfersInFlight(*value);
    for (const auto& [name, field] : ProofSettings(Attestation, CertificateLogo))
        if (auto value = r.ReadOptional(name))
            *field = *value;
    // A category, backup or destination the program does not know is not recorded: the error
    // log says which, and the rest loads.
    const record::TMediaFacts stored = Attestation.Media;
    Attestation.Media = ValidMediaFacts(stored);
    for (const auto& [name, before, after] :
         {std::tuple{"Confidentiality", stored.Confidentiality, Attestation.Media.Confidentiality},
          std::tuple{"BackupMade", stored.Backup, Attestation.Media.Backup},
          std::tuple{"Destination", stored.Destination, Attestation.Media.Destination}})
        if (after.empty() && !before.empty())
            LogError(std::string("TPLOptions.Load - ") + name + " : unknown value \"" + before +
                     "\", read as not given");
    GenerateReportFile = BoolOf(r.ReadString("GenerateReportFile"));
    UseDoDLogStyle = BoolOf(r.ReadString("UseDoDLogStyle"));
    AppendLog = BoolOf(r.ReadString("AppendLog"));
    LogFileName = r.ReadString("LogFileName");
    AllowUserAbort = BoolOf(r.ReadString("AllowUserAbort"));
    WipeWithoutIntervention = BoolOf(r.ReadString("WipeWithoutIntervention"));
    UseIsaac = BoolOf(r.ReadString("UseIsaac"));
    NoBuffering = BoolOf(r.ReadString("NoBuffering"));
    OverwriteBuffer =
        ValidOverwriteBuffer(StrictInteger("OverwriteBuffer", r.ReadString("OverwriteBuffer")));
    QuickEraseCDDVD = BoolOf(r.ReadString("QuickEraseCDDVD"));
    FormatPartitions = BoolOf(r.ReadString("FormatPartitions"));
    ShowAskDialog = BoolOf(r.ReadString("SHowAskDialog"));
}

void TPLOptions::Save() {
    TSaveToReg& r = *registry_;
    r.WriteString("GenerateReportFile", BoolText(GenerateReportFile));
    r.WriteString("UseDoDLogStyle", BoolText(UseDoDLogStyle));
    r.WriteString("AppendLog", BoolText(AppendLog));
    r.WriteString("LogFileName", LogFileName);
    r.WriteString("AllowUserAbort", BoolText(AllowUserAbort));
    r.WriteString("WipeWithoutIntervention", BoolText(WipeWithoutIntervention));
    r.WriteString("UseIsaac", BoolText(UseIsaac));
    r.WriteString("NoBuffering", BoolText(NoBuffering));
    r.WriteString("OverwriteBuffer", std::to_string(OverwriteBuffer));
    r.WriteString("QuickEraseCDDVD", BoolText(QuickEraseCDDVD));
    r.WriteString("FormatPartitions", BoolText(FormatPartitions));
    r.WriteString("SHowAskDialog", BoolText(ShowAskDialog));
    r.WriteString("RecordFile", BoolText(RecordFile));
    r.WriteString("Certificate", BoolText(Certificate));
    r.WriteString("ShowWholeDisks", BoolText(ShowWholeDisks));
    r.WriteString("WipeInParallel", BoolText(WipeInParallel));
    for (const auto& [name, on] :
         {std::pair{"UseAesCtr", UseAesCtr}, std::pair{"VerifyContent", VerifyContent}})
        if (on || r.ReadOptional(name))
            r.WriteString(name, BoolText(on));
    for (const auto& [name, field] : ProofSettings(Attestation, CertificateLogo))
        if (!field->empty() || r.ReadOptional(name))
            r.WriteString(name, *field);
}

std::string ChoiceOf(const std::string& text, std::span<const char* const> choices) {
    for (const char* choice : choices) {
        const std::string word = choice;
        if (word.size() == text.size() &&
            std::equal(word.begin(), word.end(), text.begin(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) ==
                       std::tolower(static_cast<unsigned char>(b));
            }))
            return word;
    }
    return "";
}

record::TMediaFacts ValidMediaFacts(const record::TMediaFacts& facts) {
    using namespace record;
    return {ChoiceOf(facts.Confidentiality, kConfidentialities), ChoiceOf(facts.Backup, kBackups),
            ChoiceOf(facts.Destination, kDestinations)};
}

std::vector<std::pair<const char*, std::string*>> ProofSettings(record::TAttestation& a,
                                                                std::string& logo) {
    return {{"Organisation", &a.Organisation.Name},
            {"OrganisationAddress", &a.Organisation.Address},
            {"OperatorName", &a.Operator.Person},
            {"OperatorTitle", &a.Operator.Title},
            {"OperatorLocation", &a.Operator.Location},
            {"OperatorPhone", &a.Operator.Phone},
            {"ValidatorName", &a.Validator.Name},
            {"ValidatorTitle", &a.Validator.Title},
            {"Confidentiality", &a.Media.Confidentiality},
            {"BackupMade", &a.Media.Backup},
            {"Destination", &a.Media.Destination},
            {"CertificateLogo", &logo}};
}

std::string TPLOptions::BufferSizeText() const {
    return BufferSizeTexts[static_cast<std::size_t>(ValidOverwriteBuffer(OverwriteBuffer))];
}

std::string ExpandOneEnvironmentReference(const std::string& text) {
    std::size_t open = text.find('%');
    if (open == std::string::npos)
        return text;
    std::size_t close = text.find('%', open + 1);
    if (close == std::string::npos || close == open + 1)
        return text;
    auto value = platform::k32().GetEnvironmentVariableA(text.substr(open + 1, close - open - 1));
    if (!value)
        return text;
    return text.substr(0, open) + *value + text.substr(close + 1);
}

void ReadDesktopFolder() {
    RouteRegistryTroubleToErrorLog();
    DesktopFolderStore.clear();
    std::unique_ptr<platform::RegistryKey> key;
    std::string folder;
    if (platform::sys().registry->OpenKey(platform::RegistryRoot::CurrentUser, ShellFoldersKey,
                                          false, key) == ERROR_SUCCESS &&
        key->QueryString("DeskTop", folder) == ERROR_SUCCESS)
        DesktopFolderStore = ExpandOneEnvironmentReference(folder);
}

const std::string& DesktopFolder() {
    return DesktopFolderStore;
}

std::string DefaultReportPath() {
    const std::string& folder = DesktopFolder();
    const std::string name = CatalogueText("STDLOGFILE");
    if (folder.empty())
        return name; // no desktop known: the current folder rather than a drive's root
    // The folder's own separator: a simulated Windows desktop keeps "\" on any host.
    std::size_t last = folder.find_last_of("\\/");
    char separator = last != std::string::npos
                         ? folder[last]
                         : static_cast<char>(std::filesystem::path::preferred_separator);
    if (folder.back() == separator)
        return folder + name;
    return folder + separator + name;
}

} // namespace purgelet
