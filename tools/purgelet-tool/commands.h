// The subcommands of purgelet-tool; each takes the arguments after its own name and
// returns the process exit code.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace purgelet::tool {

using Args = std::vector<std::string>;

int RunLang(const Args& args);    // lang pack | dump | get
int RunMethods(const Args& args); // methods PATH...
int RunPreview(const Args& args); // preview METHOD.met --pass N --bytes K [--isaac] [--seed S]
// record verify FILE...: 0 all intact, 1 a record altered or the chain broken, 2 unreadable
int RunRecord(const Args& args);
// certificate RECORD-FILE [--run N] -o FILE.pdf: 0 drawn, 1 the record is not intact, 2 else
int RunCertificate(const Args& args);
// Draws the certificate of a record as stored (a file's, the fleet database's) to output, only
// where it is intact; where names the record in what is told ("runs.json, record 2").
// 0 drawn, 1 the record is not intact, 2 else.
int DrawStoredCertificate(const nlohmann::json& stored, const std::string& where,
                          const std::string& output, const std::string& logo, bool letter);
// record push | find | certificate --to CONNINFO: the fleet database (fleet_command.cpp)
int RunFleet(const Args& args);

} // namespace purgelet::tool
