// "record verify" checks record files: each record's digest, and the chain between the
// records of all the files named. For an auditor, or a script: the exit code says whether
// everything is intact.
#include "commands.h"
#include "record/record_file.h"

#include <iostream>

namespace purgelet::tool {

int RunRecord(const Args& args) {
    if (!args.empty() && (args[0] == "push" || args[0] == "find" || args[0] == "certificate"))
        return RunFleet(args);
    if (args.size() < 2 || args[0] != "verify") {
        std::cerr << "usage: purgelet-tool record verify FILE.json...\n"
                     "       purgelet-tool record push | find | certificate --to CONNINFO ...\n";
        return 2;
    }
    const Args files(args.begin() + 1, args.end());
    const record::TVerifyResult result = record::VerifyRecordFiles(files);
    for (const std::string& line : result.Lines)
        std::cout << line << "\n";
    std::cout << result.Records << " record(s) checked: "
              << (result.Broken == 0 && result.Unreadable == 0
                      ? "all intact"
                      : std::to_string(result.Broken) + " broken, " +
                            std::to_string(result.Unreadable) + " unreadable file(s)")
              << "\n";
    if (result.Unreadable != 0)
        return 2;
    return result.Broken == 0 ? 0 : 1;
}

} // namespace purgelet::tool
