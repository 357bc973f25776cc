#include "report/report.h"

#include "disk/disk.h"
#include "disk/transfer_buffer.h"
#include "lang/catalogue.h"
#include "platform/system.h"
#include "report/date_time.h"
#include "report/exceptions.h"

#include <algorithm>
#include <cstdio>

namespace purgelet {

std::unique_ptr<TPLReport> CurrentReport;

namespace {

thread_local TReportSection* ThreadSection = nullptr;

const char* const CRLF = "\r\n";

TInputQuery& InputQuery() {
    static TInputQuery query;
    return query;
}

std::string ReportText(const char* key) {
    return CatalogueText(key, "report");
}

std::string Upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::string OptionLine(const TReportOption& option) {
    return option.Caption + ": " + CatalogueText(option.Checked ? "ENABLED" : "DISABLED");
}

// The largest block the dump shows: far beyond any sector size in use, and a bound on what
// a damaged disk object could make us allocate.
constexpr std::int32_t MaxDumpBytes = 64 * 1024;

std::string HexDump(const std::vector<std::uint8_t>& block) {
    static const char* const digits = "0123456789ABCDEF";
    std::string out;
    char offset[16];
    for (std::size_t row = 0; row < block.size(); row += 16) {
        std::snprintf(offset, sizeof offset, "%08X: ", static_cast<unsigned>(row));
        out += offset;
        std::size_t end = std::min(block.size(), row + 16);
        for (std::size_t i = row; i < row + 16; ++i) {
            if (i == row + 8)
                out += "- ";
            if (i < end) {
                out += digits[block[i] >> 4];
                out += digits[block[i] & 15];
                out += ' ';
            } else {
                out += "   ";
            }
        }
        for (std::size_t i = row; i < end; ++i) {
            std::uint8_t c = block[i];
            out += c == 0 || c == 9 || c == 10 || c == 13 || c == 96 ? '?' : static_cast<char>(c);
        }
        out += CRLF;
    }
    return out;
}

} // namespace

// ---- Sections.

void TReportSection::Append(const std::string& bytes) {
    const std::lock_guard<std::mutex> hold(lock_);
    text_ += bytes;
}

std::string TReportSection::Take() {
    const std::lock_guard<std::mutex> hold(lock_);
    std::string taken;
    taken.swap(text_);
    return taken;
}

TReportRedirect::TReportRedirect(TReportSection* section) : previous_(ThreadSection) {
    ThreadSection = section;
}

TReportRedirect::~TReportRedirect() {
    ThreadSection = previous_;
}

// ---- The file.

TReportStream::TReportStream(const std::string& fileName, bool append) : fileName_(fileName) {
    auto& k = platform::k32();
    DWORD attributes = k.GetFileAttributesA(fileName.c_str());
    bool exists =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    if (append && exists) {
        handle_.Reset(k.CreateFileA(fileName.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (handle_) {
            LONG high = 0;
            if (k.SetFilePointer(handle_.Get(), 0, &high, FILE_END) == INVALID_SET_FILE_POINTER &&
                k.GetLastError() != ERROR_SUCCESS) {
                std::string text = k.SysErrorMessage(k.GetLastError());
                throw XGenericError("TPLReport.Create - SetFilePointer(" + fileName +
                                    ") : " + text);
            }
        }
    } else {
        handle_.Reset(k.CreateFileA(fileName.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    if (!handle_) {
        // A folder of that name is said as such: the system's own words for it vary.
        const std::string why =
            attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                ? CatalogueText("ISAFOLDER")
                : k.SysErrorMessage(k.GetLastError());
        XGenericError error("TPLReport.Create - CreateFile(" + fileName + ") : " + why);
        error.ErrorText = FillIn(CatalogueText("REPORTNOTWRITTEN"), {fileName, why});
        throw error;
    }
}

void TReportStream::Write(const std::string& bytes) {
    if (ThreadSection != nullptr)
        ThreadSection->Append(bytes);
    else
        WriteToFile(bytes);
}

void TReportStream::WriteToFile(const std::string& bytes) {
    auto& k = platform::k32();
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
        if (!k.WriteFile(handle_.Get(), bytes.data() + done, chunk, &written, nullptr) ||
            written == 0) {
            if (!failed_) {
                failed_ = true;
                DWORD code = k.GetLastError();
                if (code == ERROR_SUCCESS)
                    code = ERROR_DISK_FULL; // a write that moved nothing: no room left
                k.SetLastError(code);
                LogSilently<XGenericError>("TPLReport.WriteLine - WriteFile(" + fileName_ +
                                           ") : " + k.SysErrorMessage(code));
            }
            return;
        }
        done += written;
    }
}

void SetReportInputQuery(TInputQuery query) {
    InputQuery() = std::move(query);
}

// ---- The styles.

void TReportFunctionsNormalReport::Write(TReportStream* stream, const std::string& text) {
    if (stream != nullptr)
        stream->Write(text);
}

bool TReportFunctionsDodReport::AskDetails(std::string& responsible, std::string& media) {
    auto ask = [](const char* caption, const char* prompt, const char* abortMessage) {
        std::string answer;
        while (answer.empty()) {
            std::string value;
            if (!InputQuery() || !InputQuery()(ReportText(caption), ReportText(prompt), value))
                throw XAbort(abortMessage);
            answer = value;
        }
        return answer;
    };
    responsible = ask("INPUT_RESPONSIBLE_CAPTION", "INPUT_RESPONSIBLE_TEXT",
                      "INPUT RESPONSIBLE - User Abort");
    media = ask("INPUT_MEDIA_CAPTION", "INPUT_MEDIA_TEXT", "INPUT MEDIA TEXT - User Abort");
    return true;
}

void TReportFunctionsDodReport::BlockWarning(TReportStream* stream, TDisk& disk, std::int64_t at) {
    auto* randomAccess = dynamic_cast<TRandomAccessDisk*>(&disk);
    if (randomAccess == nullptr)
        return;
    std::size_t size = static_cast<std::size_t>(std::clamp(disk.BlockSize, 0, MaxDumpBytes));
    std::vector<std::uint8_t> block(size, 0);
    // Only a block size the disk really has is read; anything else shows the empty room.
    if (size > 0 && static_cast<std::int32_t>(size) == disk.BlockSize) {
        // The disk is usually open without system buffering, which refuses a buffer that is
        // not aligned as the wipe engine's is: the read would fail and show zeros over a
        // block that still holds the old data.
        TTransferBuffer aligned(size, TransferAlignment(disk.BlockSize));
        try {
            randomAccess->ReadBlocks(aligned.data(), 1, at);
            std::copy(aligned.data(), aligned.data() + size, block.begin());
        } catch (const XException&) {
            // unreadable: the room stays zeros
        }
    }
    std::string text = CRLF + ReportText("EQUALS") + CRLF + ReportText("DOD_WARNING") + CRLF +
                       FormatBlockOf(ReportText("DOD_BLOCKOF"), at, disk.BlockCount) + CRLF +
                       HexDump(block) + ReportText("EQUALS") + CRLF + CRLF;
    Write(stream, text);
}

// ---- The report.

TPLReport::TPLReport(bool Generate, bool DoD, bool Append, const std::string& FileName,
                     const TReportSettings& Settings) {
    if (Generate) {
        stream_ = std::make_unique<TReportStream>(FileName, Append);
        if (DoD)
            style_ = std::make_unique<TReportFunctionsDodReport>();
        else
            style_ = std::make_unique<TReportFunctionsNormalReport>();
    } else {
        style_ = std::make_unique<TReportFunctionsNoReport>();
    }
    try {
        WriteLine(ReportText("REPORT00"));
        WriteLine(ReportText("PERFORMEDON") + "  " + ReportTimeText());
        WriteLine("");
        std::string responsible, media;
        if (style_->AskDetails(responsible, media)) {
            WriteLine(ReportText("PERSONRESPONSIBLE"));
            WriteLine(responsible);
            WriteLine(ReportText("DESCRIPTIONOFMEDIA"));
            WriteLine(media);
            responsible_ = responsible;
            media_ = media;
        }
    } catch (const XAbort&) {
        outcome_ = TRunOutcome::Aborted; // a cancelled prompt: no drive was touched
        Finish();                        // the partly built report is released at once
        throw;
    } catch (...) {
        outcome_ = TRunOutcome::Failed;
        Finish();
        throw;
    }
    WriteLine("");
    WriteLine(Upper(CatalogueText("CONFIRMATION_WIPEALGORITHM")));
    WriteLine(Settings.MethodName);
    WriteLine("");
    WriteLine(Upper(Settings.OptionsCaption));
    for (const auto& option : Settings.Before)
        WriteLine(OptionLine(option));
    WriteLine(Settings.BufferCaption + ": " + Settings.BufferText);
    for (const auto& option : Settings.After)
        WriteLine(OptionLine(option));
    WriteLine("");
}

TPLReport::~TPLReport() {
    Finish();
}

void TPLReport::Finish() {
    if (finished_)
        return;
    finished_ = true;
    // Only a run known to have completed may claim it: a sanitisation log that states a
    // wipe which did not happen is worse than none.
    const char* key = outcome_ == TRunOutcome::Completed ? "SANITIZECOMPLETEDAT"
                      : outcome_ == TRunOutcome::Aborted ? "SANITIZEABORTEDAT"
                                                         : "SANITIZEFAILEDAT";
    WriteLine(ReportText(key) + ReportTimeText());
    WriteLine(ReportText("STARS"));
    writeFailed_ = WriteFailed();
    stream_.reset();
}

void TPLReport::WriteLine(const std::string& text) {
    if (style_)
        style_->Write(stream_.get(), text + CRLF);
}

void TPLReport::WriteDiskHeader(TDisk& disk) {
    WriteLine(ReportText("STARS"));
    WriteLine(disk.Description);
    if (dynamic_cast<const TPhysicalDisk*>(&disk) != nullptr) {
        const auto known = [](const std::string& text) { return text.empty() ? "-" : text; };
        WriteLine(FillIn(
            ReportText("WHOLEDISK_IDENTITY"),
            {known(disk.Identity.Model), known(disk.Identity.Serial), known(DriveName(disk))}));
    }
    WriteLine(ReportText("TOTALNUMBEROFSECTORS") + std::to_string(disk.BlockCount));
    WriteLine(ReportText("SANITIZINGSTARTEDAT") + ReportTimeText());
    WriteLine(ReportText("LINES"));
    WriteLine("");
}

void TPLReport::BlockWarning(TDisk& disk, std::int64_t block) {
    if (style_)
        style_->BlockWarning(stream_.get(), disk, block);
}

void TPLReport::WriteSection(TReportSection& section) {
    const std::string text = section.Take();
    if (stream_ && !text.empty())
        stream_->WriteToFile(text);
}

void ReportWriteLine(const std::string& text) {
    if (CurrentReport)
        CurrentReport->WriteLine(text);
}

void ReportWriteDiskHeader(TDisk& disk) {
    if (CurrentReport)
        CurrentReport->WriteDiskHeader(disk);
}

void ReportBlockWarning(TDisk& disk, std::int64_t block) {
    if (CurrentReport)
        CurrentReport->BlockWarning(disk, block);
}

void ReportWriteFirmware(const TWipeContext& wipe) {
    if (!CurrentReport || !wipe.Firmware)
        return;
    const TFirmwareRecord& record = *wipe.Firmware;
    auto text = [](const char* key, std::vector<std::string> values = {}) {
        return FillIn(CatalogueText(key, "report"), values);
    };
    CurrentReport->WriteLine(
        text("FIRMWARE_COMMAND", {record.Command.empty() ? "-" : record.Command}));
    const char* status = "FIRMWARE_NOTACCEPTED";
    switch (record.Status) {
    case TFirmwareStatus::Completed:
        status = "FIRMWARE_COMPLETED";
        break;
    case TFirmwareStatus::Failed:
        status = "FIRMWARE_FAILED";
        break;
    case TFirmwareStatus::TimedOut:
        status = "FIRMWARE_TIMEDOUT";
        break;
    case TFirmwareStatus::NotAccepted:
        break;
    }
    std::string drive = text(status);
    if (!record.DriveStatus.empty())
        drive += " (" + record.DriveStatus + ")";
    CurrentReport->WriteLine(text("FIRMWARE_STATUS", {drive}));
    if (record.Verified)
        CurrentReport->WriteLine(text(
            "FIRMWARE_VERIFIED", {std::to_string(record.Sampled), std::to_string(record.Changed),
                                  std::to_string(record.Blank), std::to_string(record.Unchanged)}));
    else
        CurrentReport->WriteLine(text("FIRMWARE_NOTVERIFIED"));
    if (record.PasswordLeft())
        CurrentReport->WriteLine(text("FIRMWARE_PASSWORDLEFT", {record.Password}));
    CurrentReport->WriteLine("");
}

std::string ReportTimeText() {
    SYSTEMTIME t{};
    platform::k32().GetSystemTime(&t);
    // UTC as the report has always given it, and now says; the record gives the same moment
    // in local time with its offset.
    return DateTimeText(t) + " UTC";
}

std::string FormatBlockOf(const std::string& format, long long block, long long count) {
    std::string out;
    int used = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 'd' && used < 2) {
            out += std::to_string(used++ == 0 ? block : count);
            ++i;
        } else {
            out += format[i];
        }
    }
    return out;
}

} // namespace purgelet
