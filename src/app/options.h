// The wipe options: one record, loaded from the current user's registry when the main window
// is created and written back in full when it closes.
#pragma once

#include "record/record.h"

#include <span>
#include <utility>
#include <vector>

#include "platform/registry.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace purgelet {

// The options key under HKEY_CURRENT_USER, an absolute path from the root.
inline constexpr const char* OptionsKeyPath = "\\Software\\Quillon\\Purgelet 2005";

// The options key, open from construction to release. Every value is a REG_SZ.
class TSaveToReg {
public:
    // Opens the key, creating it when missing. A key that cannot be opened is not an error
    // here: every read then reports a missing value and every write fails.
    TSaveToReg();

    // Raises XRegistryException when the value cannot be stored.
    void WriteString(const std::string& name, const std::string& value);
    // The stored text; XRegistryException "Registry Key \Software\Quillon\Purgelet 2005
    // ReadString from " + name when the value does not exist.
    std::string ReadString(const std::string& name);
    // The stored text, or nothing when the value does not exist (options added later, which
    // an older registry lacks, fall back to their defaults without an error).
    std::optional<std::string> ReadOptional(const std::string& name);

private:
    std::unique_ptr<platform::RegistryKey> key_; // null when the key could not be opened
};

// The buffer size list of the options page (cbbBuffer), index 0 to 10. Not powers of two:
// "6 KB" sits between 4 and 8. The wipe run converts the selected text, never the index.
inline constexpr std::array<const char*, 11> BufferSizeTexts = {
    "1 KB",  "2 KB",  "4 KB",   "6 KB",   "8 KB",  "16 KB",
    "32 KB", "64 KB", "128 KB", "256 KB", "512 KB"};
inline constexpr std::int32_t DefaultOverwriteBuffer = 10;
// An index into BufferSizeTexts; anything outside it becomes the default, so that a wipe
// always has a buffer size (from the registry as from the command line).
std::int32_t ValidOverwriteBuffer(std::int32_t index);

class TPLOptions {
public:
    // Opens the registry and loads; a failing load is recorded in the error log ("Error on
    // loading options") and leaves the fields from the failing value on at their defaults.
    TPLOptions();
    // Saves, unless told to leave the stored options alone. A failing save is recorded in the
    // error log; call Save first to handle it.
    ~TPLOptions();
    TPLOptions(const TPLOptions&) = delete;
    TPLOptions& operator=(const TPLOptions&) = delete;

    bool GenerateReportFile = false;
    bool UseDoDLogStyle = false;
    bool AppendLog = false;
    std::string LogFileName;
    bool AllowUserAbort = true;
    bool WipeWithoutIntervention = false;
    bool UseIsaac = false;
    bool NoBuffering = true;
    std::int32_t OverwriteBuffer = DefaultOverwriteBuffer; // an index of BufferSizeTexts
    bool QuickEraseCDDVD = false;
    bool FormatPartitions = true;
    bool ShowAskDialog = false;
    // The record of each run (JSON, beside the report) and its certificate (PDF).
    bool RecordFile = true;
    bool Certificate = true;
    // Whole physical disks in the drive list, beside the drive letters (from the next
    // detection on).
    bool ShowWholeDisks = true;
    // Drives on different devices wiped at the same time.
    bool WipeInParallel = true;
    // Random passes drawn from AES-256-CTR (ISAAC where the system has no AES), and read-backs
    // compared byte for byte with what was written rather than by sums. Stored only once on.
    bool UseAesCtr = false;
    bool VerifyContent = false;
    // A block wipe's transfers kept in flight at once, 1 to MaxTransfersInFlight (1: one at a
    // time). No control shows it: it is read from the registry, never written there.
    std::int32_t TransfersInFlight = DefaultTransfersInFlight;
    static constexpr std::int32_t DefaultTransfersInFlight = 4;
    static constexpr std::int32_t MaxTransfersInFlight = 16;
    // What the record and the certificate say besides the drives (the organisation, the
    // operator's title, location and phone, the validator, the media's category, backup and
    // destination), and the picture at the top of every certificate page. Set in the proof
    // dialog; kept only once set, so that a registry without them reads and saves as before.
    record::TAttestation Attestation;
    std::string CertificateLogo;

    void SetDefaults();
    // SetDefaults, then the values in their fixed order, each field assigned as it is read;
    // raises at the first value that is missing or not a number where one is needed.
    void Load();
    // Writes every value (ShowWholeDisks only once it was ever off); raises XRegistryException when
    // one cannot be stored.
    void Save();

    // The text of the selected buffer size ("512 KB" by default).
    std::string BufferSizeText() const;

    // Nothing is written back on release: a run whose options come from its command line
    // with no one to see them (an unattended run) leaves the user's stored options as they
    // were, also the ones a failed load left at their defaults.
    void LeaveStored() { saveOnRelease_ = false; }
    bool SavesOnRelease() const { return saveOnRelease_; }

private:
    std::unique_ptr<TSaveToReg> registry_;
    bool saveOnRelease_ = true;
};

// The one options object, owned by the main window; null while there is none.
extern TPLOptions* Options;

// The user's desktop folder: "DeskTop" under the current user's "Shell Folders", with one
// %NAME% environment reference expanded. Read once, by ReadDesktopFolder at start-up; empty
// when the registry does not tell it.
void ReadDesktopFolder();
const std::string& DesktopFolder();
// The report path offered when the report is switched on with no name: the desktop folder,
// a separator and the catalogue text STDLOGFILE ("Purgelet.log").
std::string DefaultReportPath();

// The word of choices that equals text without regard to case, else empty ("High" is
// "high"); the media facts are kept in these words.
std::string ChoiceOf(const std::string& text, std::span<const char* const> choices);
// The proof settings by their stored names ("Organisation", ..., "CertificateLogo"): the
// registry keeps them under these names, and an unattended run's options name them so.
std::vector<std::pair<const char*, std::string*>> ProofSettings(record::TAttestation& attestation,
                                                                std::string& logo);
// The media facts with each value made one of its words, or empty.
record::TMediaFacts ValidMediaFacts(const record::TMediaFacts& facts);

// Expands the first %NAME% reference of text from the environment; text is unchanged when
// it has none or the variable is not set.
std::string ExpandOneEnvironmentReference(const std::string& text);

} // namespace purgelet
