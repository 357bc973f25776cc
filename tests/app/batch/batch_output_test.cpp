// The lines of an unattended run: every event one line in both forms, the program's
// Windows-1252 texts and CR LF breaks turned into UTF-8 lines, and the same facts in the text
// as in the JSON.
#include "app/batch/batch_output.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace purgelet {
namespace {

using nlohmann::json;

struct Lines {
    std::vector<std::string> text, json;
    TBatchOutput textOut{[this](const std::string& line) { text.push_back(line); }, false};
    TBatchOutput jsonOut{[this](const std::string& line) { json.push_back(line); }, true};

    template <class F> void Both(F f) {
        f(textOut);
        f(jsonOut);
    }
};

TEST(BatchOutput, EveryEventIsOneLineInBothForms) {
    Lines lines;
    lines.Both([](TBatchOutput& out) {
        out.RunStarted("DoD 5220.22-M", {"D", "R"});
        out.DriveStarted("D", "DATA (D:)", 1048576);
        out.Progress("D", {0.4567, 5.25e6, 12.2, 2, 3});
        out.Progress("D", {0.5, std::nullopt, std::nullopt, 0, 0});
        // A Windows-1252 text ("Schreibfehler" with an umlaut) and CR LF breaks.
        out.Question("D", "Fehler beim Schreiben \xFC\r\nBlock", "DATA (D:)", "Ignore");
        out.Question("", "Error_Detecting", "E:\\", "Ignore");
        out.Error("D", "First line\r\n\r\nSystem reason", false);
        out.Error("D", "User Abort", true);
        out.StopRequested("stop", true);
        out.StopRequested("interrupt", false);
        out.DriveEnded("D", "aborted", 3723.4);
        out.RunEnded("aborted", 2, {{"report", "/tmp/r\xE9port.log"}});
        out.RunEnded("completed", 0, {});
    });

    const std::vector<std::string> expected = {
        "run started: method \"DoD 5220.22-M\", drives D R",
        "drive D started: DATA (D:), 1048576 bytes",
        "drive D progress: 45.7%, 5.2 MB/s, 0:00:13 left, pass 2 of 3",
        "drive D progress: 50.0%, speed unknown, time left unknown",
        "drive D question: Fehler beim Schreiben \xC3\xBC / Block (DATA (D:)): answered Ignore",
        "question: Error_Detecting (E:\\): answered Ignore",
        "drive D error: First line / System reason",
        "drive D warning: User Abort",
        "stop requested (stop): the run is aborted",
        "stop requested (interrupt): refused, user abort is switched off (/U)",
        "drive D ended: aborted in 1:02:03",
        "run ended: aborted, exit status 2; report: /tmp/r\xC3\xA9port.log",
        "run ended: completed, exit status 0; no files written",
    };
    EXPECT_EQ(lines.text, expected);

    ASSERT_EQ(lines.json.size(), expected.size());
    std::vector<json> events;
    for (const std::string& line : lines.json) {
        EXPECT_EQ(line.find('\n'), std::string::npos);
        events.push_back(json::parse(line)); // valid JSON, valid UTF-8
    }
    EXPECT_EQ(events[0], json::parse(R"({"event":"run_start","method":"DoD 5220.22-M",
                                         "drives":["D","R"]})"));
    EXPECT_EQ(events[1], json({{"event", "drive_start"},
                               {"drive", "D"},
                               {"description", "DATA (D:)"},
                               {"bytes", 1048576}}));
    EXPECT_EQ(events[2], json::parse(R"({"event":"progress","drive":"D","percent":45.7,
                                         "bytes_per_second":5250000,"seconds_left":13,
                                         "pass":2,"passes":3})"));
    EXPECT_EQ(events[3], json::parse(R"({"event":"progress","drive":"D","percent":50.0,
                                         "bytes_per_second":null,"seconds_left":null})"));
    EXPECT_EQ(events[4]["text"], "Fehler beim Schreiben \xC3\xBC\nBlock");
    EXPECT_EQ(events[4]["answer"], "Ignore");
    EXPECT_TRUE(events[5]["drive"].is_null());
    EXPECT_EQ(events[6], json::parse(R"({"event":"error","drive":"D","severity":"error",
                                         "text":"First line\n\nSystem reason"})"));
    EXPECT_EQ(events[7]["severity"], "warning");
    EXPECT_EQ(events[8], json::parse(R"({"event":"stop_requested","reason":"stop",
                                         "accepted":true})"));
    EXPECT_EQ(events[9]["accepted"], false);
    EXPECT_EQ(events[10], json::parse(R"({"event":"drive_end","drive":"D","outcome":"aborted",
                                          "seconds":3723.4})"));
    EXPECT_EQ(events[11], json::parse(R"({"event":"run_end","outcome":"aborted","exit_status":2,
                                          "files":[{"kind":"report",
                                                    "path":"/tmp/r\u00e9port.log"}]})"));
    EXPECT_EQ(events[12]["files"], json::array());
}

TEST(BatchOutput, DurationsAreHoursMinutesAndSeconds) {
    EXPECT_EQ(DurationText(0), "0:00:00");
    EXPECT_EQ(DurationText(59.9), "0:00:59");
    EXPECT_EQ(DurationText(3600 * 27 + 61), "27:01:01");
    EXPECT_EQ(DurationText(-5), "0:00:00");
}

} // namespace
} // namespace purgelet
