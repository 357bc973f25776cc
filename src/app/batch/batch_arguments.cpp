#include "app/batch/batch_arguments.h"

#include "app/about.h"
#include "app/options.h"
#include "build_info.h"
#include "platform/codepage.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace purgelet {

namespace {

bool IsOption(const std::string& argument) {
    return argument.rfind("--", 0) == 0;
}

char Upper(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

bool IsAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// "D", "d:", "D:\" or "D:/": the letter; anything else is not a drive.
std::optional<char> DriveLetter(const std::string& argument) {
    if (argument.empty() || !IsAsciiLetter(argument[0]))
        return std::nullopt;
    const std::string rest = argument.substr(1);
    if (rest.empty() || rest == ":" || rest == ":\\" || rest == ":/")
        return Upper(argument[0]);
    return std::nullopt;
}

bool StartsWithNoCase(const std::string& text, const std::string& start) {
    if (text.size() < start.size())
        return false;
    for (std::size_t i = 0; i < start.size(); ++i)
        if (Upper(text[i]) != Upper(start[i]))
            return false;
    return true;
}

// Digits only, within 32 bits (a sign is not a number of a list).
std::optional<std::int32_t> ListIndex(const std::string& text) {
    std::int32_t value = 0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (first == last || *first < '0' || *first > '9')
        return std::nullopt;
    auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end != last)
        return std::nullopt;
    return value;
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// A whole disk by its number, its device or its serial number; nothing for another argument.
std::optional<TDriveSelector> DiskSelector(const std::string& argument) {
    using TKind = TDriveSelector::TKind;
    TDriveSelector selector;
    for (const char* prefix : {"disk", "\\\\.\\PhysicalDrive"}) {
        const std::string start = prefix;
        if (!StartsWithNoCase(argument, start))
            continue;
        const auto number = ListIndex(argument.substr(start.size()));
        if (!number)
            return std::nullopt;
        selector.Kind = TKind::DiskNumber;
        selector.Number = static_cast<std::uint32_t>(*number);
        return selector;
    }
    if (StartsWithNoCase(argument, "serial:")) {
        selector.Kind = TKind::Serial;
        const std::size_t first = argument.find_first_not_of(' ', 7);
        if (first != std::string::npos)
            selector.Value = argument.substr(first, argument.find_last_not_of(' ') - first + 1);
        return selector;
    }
    // A device of the system's own (/dev/sdb): never read as the switch /D with a value.
    if (argument.rfind("/dev/", 0) == 0) {
        selector.Kind = TKind::DevicePath;
        selector.Value = argument;
        return selector;
    }
    return std::nullopt;
}

// The unattended options of the proof settings, each with the stored setting it replaces;
// a choice takes one of its words, in any letter case.
struct TProofOption {
    const char* name;
    const char* setting;
    std::span<const char* const> words = {};
};
const TProofOption kProofOptions[] = {
    {"--organisation", "Organisation"},
    {"--organisation-address", "OrganisationAddress"},
    {"--operator-title", "OperatorTitle"},
    {"--location", "OperatorLocation"},
    {"--phone", "OperatorPhone"},
    {"--validator", "ValidatorName"},
    {"--validator-title", "ValidatorTitle"},
    {"--confidentiality", "Confidentiality", record::kConfidentialities},
    {"--backup", "BackupMade", record::kBackups},
    {"--destination", "Destination", record::kDestinations},
    {"--logo", "CertificateLogo"},
};

class TParser {
public:
    TParser(const std::vector<std::string>& arguments, bool utf8Texts)
        : arguments_(arguments), utf8Texts_(utf8Texts) {}

    TCommandLine Parse() {
        for (std::size_t i = 0; i < arguments_.size() && result_.Mode != TCommandMode::UsageError;
             ++i)
            Argument(i);
        if (result_.Mode == TCommandMode::UsageError)
            return result_;
        TBatchRequest& r = result_.Batch;
        if (r.All != TAllDrives::None && !r.Drives.empty())
            Fail("give drives or " + std::string(AllName(r.All)) + ", not both");
        else if (r.All == TAllDrives::None && r.Drives.empty())
            Fail("no drives: give the drives to wipe (letters, disks), or --all");
        return result_;
    }

private:
    void Argument(std::size_t& i) {
        const std::string& argument = arguments_[i];
        TBatchRequest& r = result_.Batch;
        if (argument == "--batch")
            return;
        if (argument == "--all" || argument == "--all-letters") {
            const TAllDrives all =
                argument == "--all" ? TAllDrives::WholeDisksFirst : TAllDrives::LettersOnly;
            if (r.All != TAllDrives::None && r.All != all)
                return Fail("give --all or --all-letters, not both");
            r.All = all;
        } else if (argument == "--json") {
            r.Json = true;
        } else if (auto value = Value(i, "--method")) {
            r.MethodName = Text(*value);
            r.MethodIndex.reset();
        } else if (auto value = Value(i, "--operator")) {
            r.Operator = Text(*value);
        } else if (auto value = Value(i, "--media")) {
            r.Media = Text(*value);
        } else if (ProofOption(i)) {
            // an auditor's field, or its usage error
        } else if (result_.Mode == TCommandMode::UsageError) {
            // a value was missing
        } else if (IsOption(argument)) {
            Fail("unknown option " + Quoted(argument));
        } else if (auto disk = DiskSelector(argument)) {
            if (disk->Kind == TDriveSelector::TKind::Serial && disk->Value.empty())
                return Fail("serial: needs the disk's serial number: " + Quoted(argument));
            Select(std::move(*disk));
        } else if (argument.size() >= 1 && argument[0] == '/') {
            Switch(argument);
        } else if (auto letter = DriveLetter(argument)) {
            TDriveSelector selector;
            selector.Letter = *letter;
            Select(std::move(selector));
        } else {
            Fail("not a drive (a letter, diskN, a device, serial:S) or a switch: " +
                 Quoted(argument));
        }
    }

    static const char* AllName(TAllDrives all) {
        return all == TAllDrives::LettersOnly ? "--all-letters" : "--all";
    }

    // Each drive once: the same letter, disk number, device or serial given twice is one.
    void Select(TDriveSelector selector) {
        auto& drives = result_.Batch.Drives;
        if (std::find(drives.begin(), drives.end(), selector) == drives.end())
            drives.push_back(std::move(selector));
    }

    // The value of "--name VALUE" or "--name=VALUE"; nothing when argument i is another.
    // The options naming what the record and the certificate say besides the drives.
    bool ProofOption(std::size_t& i) {
        for (const TProofOption& option : kProofOptions) {
            const auto value = Value(i, option.name);
            if (!value)
                continue;
            std::string given = option.words.empty() ? *value : ChoiceOf(*value, option.words);
            if (given.empty()) {
                std::string words;
                for (std::size_t w = 0; w < option.words.size(); ++w)
                    words += (w == 0                         ? ""
                              : w + 1 == option.words.size() ? " or "
                                                             : ", ") +
                             std::string(option.words[w]);
                Fail(std::string(option.name) + " takes " + words + ", not " + Quoted(*value));
            } else {
                // A path is kept as given; the other texts go into the program's code page.
                result_.Batch.Proof[option.setting] =
                    std::string(option.setting) == "CertificateLogo" ? given : Text(given);
            }
            return true;
        }
        return result_.Mode == TCommandMode::UsageError;
    }

    std::optional<std::string> Value(std::size_t& i, const std::string& name) {
        const std::string& argument = arguments_[i];
        if (argument.rfind(name + "=", 0) == 0) {
            std::string value = argument.substr(name.size() + 1);
            if (value.empty())
                Fail(name + " needs a value");
            return value.empty() ? std::nullopt : std::optional(value);
        }
        if (argument != name)
            return std::nullopt;
        if (i + 1 >= arguments_.size() || arguments_[i + 1].empty()) {
            Fail(name + " needs a value");
            return std::nullopt;
        }
        return arguments_[++i];
    }

    std::string Text(const std::string& value) const {
        return utf8Texts_ ? platform::Utf8ToCp1252(value) : value;
    }

    // The switches mean what they mean to the wizard; what the wizard would shrug off (a
    // value after a switch that takes none, a size that is no index) is refused here, where
    // nobody sees a message box.
    void Switch(const std::string& argument) {
        TBatchRequest& r = result_.Batch;
        if (argument.size() < 2)
            return Fail("a switch needs a letter: " + Quoted(argument));
        const char letter = Upper(argument[1]);
        const std::string value = argument.substr(2);
        switch (letter) {
        case 'A':
        case 'D':
        case 'F':
        case 'I':
        case 'K':
        case 'N':
        case 'Q':
        case 'U':
        case 'W':
            if (!value.empty())
                return Fail("/" + std::string(1, letter) + " takes no value: " + Quoted(argument));
            if (letter == 'D')
                r.DoDReport = true;
            r.Switches.push_back(argument);
            return;
        case 'B': {
            const auto index = ListIndex(value);
            if (!index || *index >= static_cast<std::int32_t>(BufferSizeTexts.size()))
                return Fail("/B needs a buffer size number from 0 to " +
                            std::to_string(BufferSizeTexts.size() - 1) + ": " + Quoted(argument));
            r.Switches.push_back(argument);
            return;
        }
        case 'M': {
            const auto index = ListIndex(value);
            if (!index)
                return Fail("/M needs a method number: " + Quoted(argument));
            r.MethodIndex = *index;
            r.MethodName.reset();
            return;
        }
        case 'R':
            if (value.empty())
                return Fail("/R needs the report file's path: /R<path>");
            r.Switches.push_back(argument);
            return;
        default:
            return Fail("unknown switch " + Quoted(argument));
        }
    }

    void Fail(const std::string& error) {
        if (result_.Mode != TCommandMode::UsageError) {
            result_.Mode = TCommandMode::UsageError;
            result_.Error = error;
        }
    }

    const std::vector<std::string>& arguments_;
    bool utf8Texts_;
    TCommandLine result_{TCommandMode::Batch, {}, {}};
};

} // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& arguments, bool utf8Texts) {
    const auto has = [&](const char* option) {
        return std::find(arguments.begin(), arguments.end(), option) != arguments.end();
    };
    if (std::none_of(arguments.begin(), arguments.end(), IsOption))
        return {}; // the wizard's command line, as it always was
    if (has("--help"))
        return {TCommandMode::Help, {}, {}};
    if (has("--version"))
        return {TCommandMode::Version, {}, {}};
    if (!has("--batch")) {
        const std::string first = *std::find_if(arguments.begin(), arguments.end(), IsOption);
        static const char* const kBatchOnly[] = {"--all",    "--all-letters", "--json",
                                                 "--method", "--operator",    "--media"};
        const std::string name = first.substr(0, first.find('='));
        const bool batchOnly =
            std::find(std::begin(kBatchOnly), std::end(kBatchOnly), name) != std::end(kBatchOnly) ||
            std::any_of(std::begin(kProofOptions), std::end(kProofOptions),
                        [&](const TProofOption& option) { return name == option.name; });
        return {TCommandMode::UsageError,
                {},
                batchOnly ? name + " belongs to an unattended run: add --batch"
                          : "unknown option " + Quoted(first)};
    }
    if (std::find(arguments.begin(), arguments.end(), "/?") != arguments.end())
        return {TCommandMode::Help, {}, {}};
    return TParser(arguments, utf8Texts).Parse();
}

std::string VersionLine() {
    return std::string(build::ProductName) + " " + VersionText();
}

std::string UsageText() {
    return "Usage:\n"
           "  purgelet [switches] [drive letters]     the wizard, at its confirmation page\n"
           "                                          when drive letters are given\n"
           "  purgelet --batch [switches] [options] (drives | --all | --all-letters)\n"
           "                                          wipes with no one at the keyboard\n"
           "  purgelet --help | --version\n"
           "\n"
           "Drives (several may be given, each is wiped once):\n"
           "  D or D:             a drive letter\n"
           "  disk1               a whole disk by its number (also \\\\.\\PhysicalDrive1)\n"
           "  /dev/sdb            a whole disk by its device (Linux; also /dev/disk/by-id/...)\n"
           "  serial:S3Z9NB01     a whole disk by its serial number (every namespace of an\n"
           "                      NVMe drive carries the drive's)\n"
           "A whole disk is wiped from its first byte to its last, its partitions with it; a\n"
           "disk named with one of its letters is wiped once, as the disk.\n"
           "  --all              every whole disk the drive list offers, then the drives on no\n"
           "                     listed disk (floppies, sticks, discs); never the disks of the\n"
           "                     running system and of this program\n"
           "  --all-letters      every drive letter and disc the drive list offers, except\n"
           "                     those of the running system and of this program\n"
           "\n"
           "Switches (the stored options apply; each switch changes one for this run):\n"
           "  /A         append to the report file\n"
           "  /B<n>      overwrite buffer, 0 = 1 KB .. 10 = 512 KB\n"
           "  /D         DoD-style report (with --batch: --operator and --media are needed)\n"
           "  /F         format partitions after the wipe\n"
           "  /I         ISAAC random numbers\n"
           "  /K         ask after every drive (with --batch: answered Continue)\n"
           "  /M<n>      the method, by its number in the method list (0 is the first)\n"
           "  /N         no buffering\n"
           "  /Q         quick erase of CD/DVD discs\n"
           "  /R<path>   write the report to path\n"
           "  /U         no user abort (with --batch: Ctrl+C and SIGTERM do not abort)\n"
           "  /W         wipe without requiring user intervention (always so with --batch)\n"
           "\n"
           "Options of an unattended run:\n"
           "  --method NAME     the method by its name, as the method list shows it\n"
           "                    (letter case does not matter)\n"
           "  --operator NAME   the person responsible, for the record, the certificate and\n"
           "                    a DoD-style report\n"
           "  --media TEXT      the description of the media, likewise\n"
           "  --operator-title TEXT, --location TEXT, --phone TEXT\n"
           "                    the operator's title, location and phone\n"
           "  --organisation NAME, --organisation-address TEXT\n"
           "                    the organisation the media are sanitized for\n"
           "  --validator NAME, --validator-title TEXT\n"
           "                    the second person who validates the sanitization\n"
           "  --confidentiality low|moderate|high   the media's confidentiality category\n"
           "  --backup yes|no|unknown               whether a backup was made\n"
           "  --destination reuse|recycle|destroy|return\n"
           "                    where the media go after sanitization\n"
           "  --logo FILE.png   a picture at the top of every certificate page\n"
           "                    (these replace the stored settings for this run)\n"
           "  --json            one JSON object a line, with an \"event\" field, instead of text\n"
           "\n"
           "A method that uses the drive's own erase (firmware sanitize) takes whole disks\n"
           "only; a drive that cannot take it (a drive letter, a frozen drive, one without\n"
           "the command) is named with the reason and nothing is written (exit status 1).\n"
           "A run refused before it starts still writes its record (outcome \"refused\")\n"
           "when records are switched on.\n"
           "\n"
           "An unattended run prints one line for each event: the run's start, each drive's\n"
           "start, its progress (at most once a second), every question with the answer given\n"
           "for no one at the keyboard, errors, each drive's end and the run's end. Ctrl+C\n"
           "(SIGINT) and SIGTERM abort the run cleanly.\n"
           "\n"
           "Exit status: 0 every drive completed, 1 a drive failed (or the program could not\n"
           "start), 2 aborted, 3 usage error.\n";
}

} // namespace purgelet
