// The unattended run of the whole program on a simulated PC: the stored options its tests
// start from, and the run with its lines, its error stream and its exit status kept.
#pragma once

#include "app/batch/batch_arguments.h"
#include "app/batch/batch_run.h"
#include "app/program_fixture.h"
#include "lang/catalogue.h"
#include "platform/system.h"

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace purgelet::testing {

inline const char* const kOptionsKey = "Software\\Quillon\\Purgelet 2005";

inline std::string R(const char* key) {
    return CatalogueText(key, "report");
}

// The stored options: the report off, no format after the wipe (so that the images show the
// wipe alone), user abort allowed, no record (its own test turns it on), one drive after the
// other (the lines' order is the drives'; a test of its own wipes them at once).
inline nlohmann::json StoredOptions() {
    return {
        {"GenerateReportFile", "0"}, {"UseDoDLogStyle", "0"},   {"AppendLog", "0"},
        {"LogFileName", ""},         {"AllowUserAbort", "1"},   {"WipeWithoutIntervention", "0"},
        {"UseIsaac", "0"},           {"NoBuffering", "1"},      {"OverwriteBuffer", "10"},
        {"QuickEraseCDDVD", "0"},    {"FormatPartitions", "0"}, {"SHowAskDialog", "0"},
        {"RecordFile", "0"},         {"Certificate", "0"},      {"WipeInParallel", "0"}};
}

inline nlohmann::json Machine() {
    nlohmann::json machine = ProgramMachine();
    machine["registry"] = {{"HKEY_CURRENT_USER", {{kOptionsKey, StoredOptions()}}}};
    return machine;
}

class BatchRunTest : public ProgramTest {
protected:
    struct Outcome {
        int status = -1;
        std::vector<std::string> lines; // standard output, line by line
        std::string err;
    };

    // purgelet with arguments on the simulated PC; onLine sees each line as it is written.
    Outcome Batch(const std::vector<std::string>& arguments,
                  const std::function<void(const std::string&)>& onLine = {}) {
        const TCommandLine line = ParseCommandLine(arguments, true);
        EXPECT_EQ(line.Mode, TCommandMode::Batch) << line.Error;
        Outcome outcome;
        std::string out;
        const TConsole console{[&](const std::string& text) {
                                   out += text;
                                   if (onLine)
                                       onLine(text);
                               },
                               [&](const std::string& text) { outcome.err += text; }};
        outcome.status = RunBatch(line.Batch, console);
        std::istringstream stream(out);
        for (std::string text; std::getline(stream, text);)
            outcome.lines.push_back(text);
        return outcome;
    }

    std::string ReportPath() const { return (pc_->folder() / "batch.log").string(); }
    std::string Stored(const std::string& name) {
        std::unique_ptr<platform::RegistryKey> key;
        std::string value = "<none>";
        if (platform::sys().registry->OpenKey(platform::RegistryRoot::CurrentUser, kOptionsKey,
                                              false, key) == ERROR_SUCCESS)
            key->QueryString(name, value);
        return value;
    }
    bool Untouched() const {
        return All("disk.img", 0, 4 << 20, 0xAA) && All("stick.img", 0, kStickSize, 0xAA) &&
               All("floppy.img", 0, 1474560, 0xAA);
    }
};

} // namespace purgelet::testing
