// The report file of a wipe run: who sanitised what, when, with which method and options,
// every question and answer, every error, and the time of completion. Three styles: none,
// the plain report, and the DoD sanitisation log, which also asks for the responsible
// person and the media and writes a warning block, with a hex dump, for a failed block.
#pragma once

#include "platform/handle.h"
#include "platform/winapi.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace purgelet {

class TDisk;
class TWipeContext;

// What the report gets about one drive while several drives are wiped at once: held until
// the drives above it in the list are written, so that the file keeps each drive whole.
class TReportSection {
public:
    void Append(const std::string& bytes);
    // The text gathered so far, which the section no longer holds.
    std::string Take();

private:
    std::mutex lock_;
    std::string text_;
};

// While one lives, what the calling thread writes into the report goes into section instead
// of the file (null: into the file again); the one before is put back when it ends.
class TReportRedirect {
public:
    explicit TReportRedirect(TReportSection* section);
    ~TReportRedirect();
    TReportRedirect(const TReportRedirect&) = delete;
    TReportRedirect& operator=(const TReportRedirect&) = delete;

private:
    TReportSection* previous_;
};

// The report's output file, written through kernel32. A write that fails (a full disk) is
// recorded in the error log the first time; the wipe goes on and later lines are tried too.
class TReportStream {
public:
    // Append: open an existing file at its end; otherwise create it, replacing any file.
    // Raises XGenericError when the file can be neither opened nor created.
    TReportStream(const std::string& fileName, bool append);

    // Into the calling thread's section when it has one, else into the file.
    void Write(const std::string& bytes);
    // Into the file, whatever the thread's section.
    void WriteToFile(const std::string& bytes);
    bool WriteFailed() const { return failed_; }

private:
    std::string fileName_;
    platform::UniqueHandle handle_;
    bool failed_ = false;
};

// The DoD prompts: caption, prompt, the answer in value; false when the user cancelled.
// The windows connect the real input box; with none connected every prompt is cancelled.
using TInputQuery =
    std::function<bool(const std::string& caption, const std::string& prompt, std::string& value)>;
void SetReportInputQuery(TInputQuery query);

// The style strategy; styles hold no data.
class TReportFunctions {
public:
    virtual ~TReportFunctions() = default;
    virtual void Write(TReportStream* stream, const std::string& text) = 0;
    // Whether the header gets the responsible/media block; may raise XAbort.
    virtual bool AskDetails(std::string& responsible, std::string& media) = 0;
    // The warning for block of the disk (the first of the transfer in progress).
    virtual void BlockWarning(TReportStream* stream, TDisk& disk, std::int64_t block) = 0;
};

class TReportFunctionsNoReport : public TReportFunctions {
public:
    void Write(TReportStream*, const std::string&) override {}
    bool AskDetails(std::string&, std::string&) override { return false; }
    void BlockWarning(TReportStream*, TDisk&, std::int64_t) override {}
};

class TReportFunctionsNormalReport : public TReportFunctions {
public:
    void Write(TReportStream* stream, const std::string& text) override;
    bool AskDetails(std::string&, std::string&) override { return false; }
    void BlockWarning(TReportStream*, TDisk&, std::int64_t) override {}
};

class TReportFunctionsDodReport : public TReportFunctionsNormalReport {
public:
    // Asks until each answer is non-empty; a cancelled prompt raises XAbort.
    bool AskDetails(std::string& responsible, std::string& media) override;
    // Random-access disks only: the warning, "Block n of count" and a dump of the block as
    // it reads now (zeros when it cannot be read).
    void BlockWarning(TReportStream* stream, TDisk& disk, std::int64_t block) override;
};

// One check box of the options page as it stands: its caption and whether it is checked.
struct TReportOption {
    std::string Caption;
    bool Checked = false;
};

// What the options section shows, handed in by the wipe run from the page as it stands.
struct TReportSettings {
    std::string MethodName;            // as shown in the method box
    std::string OptionsCaption;        // the options group's caption ("Wipe Options")
    std::vector<TReportOption> Before; // user abort, without intervention, ISAAC, buffering
    std::string BufferCaption;         // "Overwrite Buffer:"
    std::string BufferText;            // the selected size text ("512 KB")
    std::vector<TReportOption> After;  // quick erase, format partitions, ask after every wipe
};

// How the wipe run ended, as the report's last line states it. A report that was never told
// counts as not completed: only a run known to have completed may say so.
enum class TRunOutcome : std::uint8_t { NotTold, Completed, Aborted, Failed };

class TPLReport {
public:
    // Opens the file (when Generate), writes the header and the options section. A cancelled
    // DoD prompt raises XAbort after the closing lines (an aborted run) were written and the
    // file closed.
    TPLReport(bool Generate, bool DoD, bool Append, const std::string& FileName,
              const TReportSettings& Settings);
    // Writes the closing lines for the outcome it was told and closes the file.
    ~TPLReport();
    TPLReport(const TPLReport&) = delete;
    TPLReport& operator=(const TPLReport&) = delete;

    // The run's outcome, told before the report is released; the last one told counts.
    void SetOutcome(TRunOutcome Outcome) { outcome_ = Outcome; }
    // Writes the closing lines for the outcome told so far and closes the file, before the
    // report is released, so that whether they reached it can be asked.
    void Close() { Finish(); }
    // Whether a write to the file failed (a full disk): the file does not hold the whole run.
    bool WriteFailed() const { return writeFailed_ || (stream_ && stream_->WriteFailed()); }

    // The DoD report's responsible person and description of the media, as answered; empty
    // for the other styles.
    const std::string& Responsible() const { return responsible_; }
    const std::string& Media() const { return media_; }

    // text and CR LF.
    void WriteLine(const std::string& text);
    // Stars, description, sector count, start time, hyphens, an empty line.
    void WriteDiskHeader(TDisk& disk);
    // The style's warning for the disk's current block.
    void BlockWarning(TDisk& disk, std::int64_t block);
    // A drive's section, gathered while it was wiped, into the file as it stands.
    void WriteSection(TReportSection& section);

private:
    void Finish();

    std::unique_ptr<TReportStream> stream_; // null when no report is written
    std::unique_ptr<TReportFunctions> style_;
    TRunOutcome outcome_ = TRunOutcome::NotTold;
    bool finished_ = false;
    bool writeFailed_ = false; // kept once the file is closed
    std::string responsible_;
    std::string media_;
};

// The report of the current wipe run, null outside one. The wipe run creates and releases
// it; everyone else writes through the calls below, which do nothing when there is none.
extern std::unique_ptr<TPLReport> CurrentReport;
void ReportWriteLine(const std::string& text);
void ReportWriteDiskHeader(TDisk& disk);
void ReportBlockWarning(TDisk& disk, std::int64_t block);
// What a whole disk's own erase did in its last wipe (the command, the drive's status, the
// verification, a password left set); nothing for a wipe without one.
void ReportWriteFirmware(const TWipeContext& wipe);

// The current UTC time as every report line shows it, named as such ("2026-01-01 11:00:00").
std::string ReportTimeText();
// "Block %d of %d" with the two numbers put in; any other % sequence is left as it is,
// so a language file cannot make the program read arguments that are not there.
std::string FormatBlockOf(const std::string& format, long long block, long long count);

} // namespace purgelet
