// "certificate" draws a run's certificate again from its record: a certificate lost or never
// drawn (a build without drawing, a full disk) is had back from the record file, which is the
// proof. Only an intact record is drawn, so that a certificate cannot be made for an edited one.
#include "commands.h"
#include "platform/system.h"
#include "record/certificate.h"
#include "record/record_file.h"

#include <cstdlib>
#include <iostream>

namespace purgelet::tool {

namespace {

int Usage() {
    std::cerr << "usage: purgelet-tool certificate RECORD-FILE [--run N] [--logo FILE.png] -o "
                 "FILE.pdf\n";
    return 2;
}

} // namespace

int RunCertificate(const Args& args) {
    std::string input, output, logo;
    long run = 0; // 0: the file's last record
    for (std::size_t i = 0; i < args.size(); ++i) {
        if ((args[i] == "-o" || args[i] == "--output") && i + 1 < args.size()) {
            output = args[++i];
        } else if (args[i] == "--logo" && i + 1 < args.size()) {
            logo = args[++i];
        } else if (args[i] == "--run" && i + 1 < args.size()) {
            char* end = nullptr;
            run = std::strtol(args[++i].c_str(), &end, 10);
            if (end == args[i].c_str() || *end != '\0' || run < 1)
                return Usage();
        } else if (input.empty() && !args[i].empty() && args[i][0] != '-') {
            input = args[i];
        } else {
            return Usage();
        }
    }
    if (input.empty() || output.empty())
        return Usage();
    std::string why;
    std::vector<nlohmann::json> records;
    if (!record::ReadRecords(input, records, why)) {
        std::cerr << "purgelet-tool: " << input << ": not a record file (" << why << ")\n";
        return 2;
    }
    if (records.empty() || (run != 0 && static_cast<std::size_t>(run) > records.size())) {
        std::cerr << "purgelet-tool: " << input << " holds " << records.size()
                  << " record(s), not run " << run << "\n";
        return 2;
    }
    const std::size_t index = run == 0 ? records.size() - 1 : static_cast<std::size_t>(run - 1);
    const bool letter =
        platform::sys().sysinfo != nullptr && platform::sys().sysinfo->LetterPaper();
    return DrawStoredCertificate(records[index], input + ", record " + std::to_string(index + 1),
                                 output, logo, letter);
}

int DrawStoredCertificate(const nlohmann::json& stored, const std::string& where,
                          const std::string& output, const std::string& logo, bool letter) {
    if (!record::Intact(stored)) {
        std::cerr << "purgelet-tool: " << where
                  << ": BROKEN, its content does not match its seal; no certificate drawn\n";
        return 1;
    }
    record::TRecord record;
    try {
        record = record::FromJson(stored);
    } catch (const std::exception& error) {
        std::cerr << "purgelet-tool: " << where << ": " << error.what() << "\n";
        return 2;
    }
    std::string why;
    if (!record::WriteCertificate(record, output,
                                  letter ? record::TPaper::Letter : record::TPaper::A4, why, true,
                                  logo)) {
        std::cerr << "purgelet-tool: " << why << "\n";
        return 2;
    }
    std::cout << output << ": certificate of " << where << " (" << record.Sha256 << ")\n";
    return 0;
}

} // namespace purgelet::tool
