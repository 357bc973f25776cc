// The events of an unattended run as they happen, one line each: text for people, or JSON
// lines for programs (one object a line, its kind in "event"), the same facts in both. The
// program's texts are Windows-1252; the lines are UTF-8.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace purgelet {

class TBatchOutput {
public:
    // Takes one line, without its line break.
    using Writer = std::function<void(const std::string& line)>;

    TBatchOutput(Writer write, bool json);

    struct TProgress {
        double Fraction = 0;                  // of the drive's wipe, 0..1
        std::optional<double> BytesPerSecond; // none while unknown
        std::optional<double> SecondsLeft;    // none while unknown
        int Pass = 0;                         // 1..Passes; 0: the drive has no passes
        int Passes = 0;
        bool Firmware = false; // the drive's own erase: the fraction is the drive's
    };
    // Which device a whole disk is, as an auditor matches it: its model and serial number.
    struct TDevice {
        std::string Model;
        std::string Serial;
    };
    // A file the run wrote, by what it is ("report") and its path.
    struct TFile {
        std::string Kind;
        std::string Path;
    };

    void RunStarted(const std::string& method, const std::vector<std::string>& drives);
    // A device found and not offered as a drive (with --all: not taken), and why.
    void LeftOut(const std::string& device, const std::string& reason);
    // device: for a whole disk, which one it is; none for a drive letter or a disc.
    void DriveStarted(const std::string& drive, const std::string& description, std::int64_t bytes,
                      const std::optional<TDevice>& device = std::nullopt);
    void Progress(const std::string& drive, const TProgress& progress);
    // A question and the answer given for no one at the keyboard; drive is empty for one
    // asked outside a drive's wipe (while the drives are found).
    void Question(const std::string& drive, const std::string& text, const std::string& detail,
                  const std::string& answer);
    // A failure, or the abort (warning), as the wizard would have shown it.
    void Error(const std::string& drive, const std::string& text, bool warning);
    // A request to stop came from outside (reason: "interrupt", "stop", ...): accepted, the
    // run aborts as soon as the drive allows; or refused, user abort being switched off.
    void StopRequested(const std::string& reason, bool accepted);
    void DriveEnded(const std::string& drive, const std::string& outcome, double seconds);
    // reason: why a run was refused before it wrote anything (outcome "refused").
    void RunEnded(const std::string& outcome, int exitStatus, const std::vector<TFile>& files,
                  const std::string& reason = {});

private:
    Writer write_;
    bool json_;
};

// "1:02:03" for a count of seconds (rounded down).
std::string DurationText(double seconds);

} // namespace purgelet
