#include "app/batch/batch_output.h"

#include "platform/codepage.h"

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <utility>

namespace purgelet {

namespace {

// The fields in the order they are written, "event" first.
using json = nlohmann::ordered_json;

std::string Utf8(const std::string& text) {
    return platform::Cp1252ToUtf8(text);
}

// The program's messages break lines with CR LF; a JSON text keeps the breaks as "\n".
std::string Lines(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        out += text[i];
    }
    return Utf8(out);
}

// One line of text: line breaks (and the empty lines between paragraphs) become " / ".
std::string Flat(const std::string& text) {
    std::string out;
    bool pendingBreak = false;
    for (char c : text) {
        if (c == '\r' || c == '\n') {
            pendingBreak = true;
            continue;
        }
        if (pendingBreak && !out.empty())
            out += " / ";
        pendingBreak = false;
        out += c;
    }
    return Utf8(out);
}

std::string DriveLabel(const std::string& drive) {
    return drive.empty() ? std::string() : "drive " + Flat(drive) + " ";
}

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

} // namespace

std::string DurationText(double seconds) {
    const long long whole = seconds > 0 ? static_cast<long long>(seconds) : 0;
    char text[64];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                  whole % 60);
    return text;
}

TBatchOutput::TBatchOutput(Writer write, bool json) : write_(std::move(write)), json_(json) {}

namespace {

void Emit(const TBatchOutput::Writer& write, bool asJson, const json& event,
          const std::string& text) {
    if (!write)
        return;
    // Every text went through the code page conversion: nothing is left to replace, but a
    // line is never lost for it.
    write(asJson ? event.dump(-1, ' ', false, json::error_handler_t::replace) : text);
}

} // namespace

void TBatchOutput::RunStarted(const std::string& method, const std::vector<std::string>& drives) {
    json names = json::array();
    std::string list;
    for (const std::string& drive : drives) {
        names.push_back(Utf8(drive));
        list += " " + Flat(drive);
    }
    Emit(write_, json_, {{"event", "run_start"}, {"method", Utf8(method)}, {"drives", names}},
         "run started: method \"" + Flat(method) + "\", drives" + list);
}

void TBatchOutput::DriveStarted(const std::string& drive, const std::string& description,
                                std::int64_t bytes, const std::optional<TDevice>& device) {
    json event = {{"event", "drive_start"},
                  {"drive", Utf8(drive)},
                  {"description", Utf8(description)},
                  {"bytes", bytes}};
    std::string named = Flat(description);
    if (device) {
        const auto known = [](const std::string& text) {
            return text.empty() ? json(nullptr) : json(Utf8(text));
        };
        event["model"] = known(device->Model);
        event["serial"] = known(device->Serial);
        named += " (model " + (device->Model.empty() ? "unknown" : Flat(device->Model)) +
                 ", serial " + (device->Serial.empty() ? "unknown" : Flat(device->Serial)) + ")";
    }
    Emit(write_, json_, event,
         DriveLabel(drive) + "started: " + named + ", " + std::to_string(bytes) + " bytes");
}

void TBatchOutput::Progress(const std::string& drive, const TProgress& progress) {
    const double percent = std::round(progress.Fraction * 1000.0) / 10.0;
    json event = {
        {"event", "progress"},
        {"drive", Utf8(drive)},
        {"percent", percent},
        {"bytes_per_second",
         progress.BytesPerSecond ? json(std::llround(*progress.BytesPerSecond)) : json(nullptr)},
        {"seconds_left", progress.SecondsLeft ? json(std::llround(std::ceil(*progress.SecondsLeft)))
                                              : json(nullptr)}};
    std::string text = DriveLabel(drive) + "progress: " + Fixed(percent, 1) + "%, ";
    if (progress.Firmware) {
        // The drive works alone: no bytes of ours to time, the fraction as the drive tells it.
        event["firmware"] = true;
        Emit(write_, json_, event, text + "the drive's own erase");
        return;
    }
    text += progress.BytesPerSecond ? Fixed(*progress.BytesPerSecond / 1e6, 1) + " MB/s"
                                    : std::string("speed unknown");
    text += progress.SecondsLeft ? ", " + DurationText(std::ceil(*progress.SecondsLeft)) + " left"
                                 : std::string(", time left unknown");
    if (progress.Passes > 0) {
        event["pass"] = progress.Pass;
        event["passes"] = progress.Passes;
        text +=
            ", pass " + std::to_string(progress.Pass) + " of " + std::to_string(progress.Passes);
    }
    Emit(write_, json_, event, text);
}

void TBatchOutput::Question(const std::string& drive, const std::string& text,
                            const std::string& detail, const std::string& answer) {
    Emit(write_, json_,
         {{"event", "question"},
          {"drive", drive.empty() ? json(nullptr) : json(Utf8(drive))},
          {"text", Lines(text)},
          {"detail", Lines(detail)},
          {"answer", Utf8(answer)}},
         DriveLabel(drive) + "question: " + Flat(text) +
             (detail.empty() ? std::string() : " (" + Flat(detail) + ")") + ": answered " +
             Flat(answer));
}

void TBatchOutput::LeftOut(const std::string& device, const std::string& reason) {
    Emit(write_, json_, {{"event", "left_out"}, {"device", Utf8(device)}, {"reason", Utf8(reason)}},
         "left out: " + Flat(device) + ": " + Flat(reason));
}

void TBatchOutput::Error(const std::string& drive, const std::string& text, bool warning) {
    const char* severity = warning ? "warning" : "error";
    Emit(write_, json_,
         {{"event", "error"},
          {"drive", drive.empty() ? json(nullptr) : json(Utf8(drive))},
          {"severity", severity},
          {"text", Lines(text)}},
         DriveLabel(drive) + severity + ": " + Flat(text));
}

void TBatchOutput::StopRequested(const std::string& reason, bool accepted) {
    Emit(write_, json_, {{"event", "stop_requested"}, {"reason", reason}, {"accepted", accepted}},
         "stop requested (" + reason + "): " +
             (accepted ? std::string("the run is aborted")
                       : std::string("refused, user abort is switched off (/U)")));
}

void TBatchOutput::DriveEnded(const std::string& drive, const std::string& outcome,
                              double seconds) {
    Emit(write_, json_,
         {{"event", "drive_end"},
          {"drive", Utf8(drive)},
          {"outcome", outcome},
          {"seconds", std::round(seconds * 10.0) / 10.0}},
         DriveLabel(drive) + "ended: " + outcome + " in " + DurationText(seconds));
}

void TBatchOutput::RunEnded(const std::string& outcome, int exitStatus,
                            const std::vector<TFile>& files, const std::string& reason) {
    json written = json::array();
    std::string text = "run ended: " + outcome + ", exit status " + std::to_string(exitStatus);
    for (const TFile& file : files) {
        written.push_back({{"kind", file.Kind}, {"path", Utf8(file.Path)}});
        text += "; " + file.Kind + ": " + Flat(file.Path);
    }
    if (files.empty())
        text += "; no files written";
    json event = {{"event", "run_end"},
                  {"outcome", outcome},
                  {"exit_status", exitStatus},
                  {"files", written}};
    if (!reason.empty())
        event["reason"] = Lines(reason);
    Emit(write_, json_, event, text);
}

} // namespace purgelet
