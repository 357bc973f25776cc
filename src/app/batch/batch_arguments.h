// The command line as far as it can be judged before the program starts: the wizard (no "--"
// option: "/" switches and letters keep their meaning), the usage text, the version, an
// unattended run (--batch) or a usage error. What needs the machine (drive letters, method
// numbers and names, the stored options) is judged by the run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace purgelet {

enum class TCommandMode : std::uint8_t { Wizard, Help, Version, Batch, UsageError };

struct TBatchRequest {
    // The "/" switches other than /M, in their order, each checked ("/B3", "/R<path>").
    std::vector<std::string> Switches;
    std::string Letters; // upper-case drive letters, each once, in the order given
    bool AllDrives = false;
    // The method by number (/M<n>, an index of the method list) or by name (--method); the
    // last one given counts.
    std::optional<std::int32_t> MethodIndex;
    std::optional<std::string> MethodName;
    bool DoDReport = false; // /D was given
    bool Json = false;
    std::optional<std::string> Operator; // the DoD report's responsible person
    std::optional<std::string> Media;    // the DoD report's description of the media
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
