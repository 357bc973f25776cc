// The command line as far as it can be judged before the program starts: the wizard (no "--"
// option: "/" switches and letters keep their meaning), the usage text, the version, an
// unattended run (--batch) or a usage error. What needs the machine (drive letters, method
// numbers and names, the stored options) is judged by the run.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace purgelet {

enum class TCommandMode : std::uint8_t { Wizard, Help, Version, Batch, UsageError };

// A drive named on the command line; the run finds it in the drive list.
struct TDriveSelector {
    enum class TKind : std::uint8_t {
        Letter,     // "D", "d:", "D:\"
        DiskNumber, // "disk1", "\\.\PhysicalDrive1": the whole disk of that device number
        DevicePath, // "/dev/sdb", "/dev/disk/by-id/...": the whole disk the system names so
        Serial,     // "serial:S3Z9NB0K123456": the whole disk (or disks) of that serial number
    };
    TKind Kind = TKind::Letter;
    char Letter = 0;          // Letter: upper case
    std::uint32_t Number = 0; // DiskNumber
    std::string Value;        // DevicePath: the path; Serial: the serial number
    bool operator==(const TDriveSelector&) const = default;
};

// --all: every whole disk the list offers, then the drives on no listed disk; --all-letters:
// every drive letter and disc the list offers, as unattended runs always took them.
enum class TAllDrives : std::uint8_t { None, WholeDisksFirst, LettersOnly };

struct TBatchRequest {
    // The "/" switches other than /M, in their order, each checked ("/B3", "/R<path>").
    std::vector<std::string> Switches;
    std::vector<TDriveSelector> Drives; // each once, in the order given
    TAllDrives All = TAllDrives::None;
    // The method by number (/M<n>, an index of the method list) or by name (--method); the
    // last one given counts.
    std::optional<std::int32_t> MethodIndex;
    std::optional<std::string> MethodName;
    bool DoDReport = false; // /D was given
    bool Json = false;
    std::optional<std::string> Operator; // the person responsible (also the DoD report's)
    std::optional<std::string> Media;    // the description of the media (likewise)
    // What the record and the certificate say besides, by the stored setting's name
    // ("Organisation", "Destination", ...): given ones replace the stored ones for this run.
    // The media facts are the record's own words.
    std::map<std::string, std::string> Proof;
};

struct TCommandLine {
    TCommandMode Mode = TCommandMode::Wizard;
    TBatchRequest Batch;
    std::string Error; // for UsageError: what is wrong, in one line
};

// utf8Texts: the system hands the arguments over in UTF-8 (Linux): the texts meant for the
// report and the method's name are taken into the program's code page. Paths are kept as
// given, as the wizard keeps /R's.
TCommandLine ParseCommandLine(const std::vector<std::string>& arguments, bool utf8Texts);

// The text of --help, lines ending "\n".
std::string UsageText();
// "Quillon Purgelet 2005 Version 0.1 (build 6f35bc4)".
std::string VersionLine();

} // namespace purgelet
