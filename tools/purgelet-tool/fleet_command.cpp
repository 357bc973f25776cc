// "record push", "record find" and "record certificate": the records of many computers in
// one PostgreSQL database, where a drive's proof is found by its serial number. A file is
// stored only when its chain verifies, all of it or nothing; a record is stored once, however
// often and by however many computers it is pushed.
#include "commands.h"
#include "fleet_store.h"
#include "platform/system.h"
#include "record/record_chain.h"
#include "record/record_file.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iostream>
#include <map>

namespace purgelet::tool {

namespace {

using json = nlohmann::json;

int Usage() {
    std::cerr << "usage:\n"
                 "  purgelet-tool record push [--init] --to CONNINFO [FILE.json...]\n"
                 "  purgelet-tool record find --to CONNINFO [--serial S] [--computer S] "
                 "[--since DATE] [--outcome O] [--json]\n"
                 "  purgelet-tool record certificate --to CONNINFO --digest D -o FILE.pdf "
                 "[--letter] [--logo FILE.png]\n";
    return 2;
}

// The options of a fleet command: flags, options with a value, and the other arguments.
struct TOptions {
    std::map<std::string, std::string> Values;
    std::map<std::string, bool> Flags;
    std::vector<std::string> Rest;
};

// False for an option this command does not take, or one without its value.
bool ParseOptions(const Args& args, const std::vector<std::string>& valued,
                  const std::vector<std::string>& flags, TOptions& options) {
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (std::find(valued.begin(), valued.end(), arg) != valued.end()) {
            if (i + 1 >= args.size())
                return false;
            options.Values[arg] = args[++i];
        } else if (std::find(flags.begin(), flags.end(), arg) != flags.end()) {
            options.Flags[arg] = true;
        } else if (!arg.empty() && arg[0] == '-') {
            return false;
        } else {
            options.Rest.push_back(arg);
        }
    }
    return options.Values.count("--to") != 0;
}

// Connects, and for every command but the schema's own, checks the schema.
bool Open(fleet::TConnection& db, bool checkSchema) {
    if (!db.Connected()) {
        std::cerr << "purgelet-tool: cannot reach the fleet database: " << db.LastError() << "\n";
        return false;
    }
    std::string why;
    if (checkSchema && !fleet::CheckSchema(db, why)) {
        std::cerr << "purgelet-tool: " << why << "\n";
        return false;
    }
    return true;
}

std::string TextOf(const json& record, const char* name) {
    const auto found = record.find(name);
    return found != record.end() && found->is_string() ? found->get<std::string>() : "";
}

// The records read are checked again as they are stored: the file may have been replaced
// after it was verified. Each intact, each following the one before it in the file.
bool StillIntact(const std::vector<json>& records) {
    std::vector<record::TChainEntry> entries;
    for (const json& stored : records) {
        if (!stored.is_object() || !record::Intact(stored))
            return false;
        entries.push_back({TextOf(stored, "sha256"), TextOf(stored, "previousSha256")});
    }
    const record::TChainOrder order = record::OrderChain(entries);
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (order.Position[i] != static_cast<long>(i))
            return false;
    return true;
}

// One file: its chain verified alone, then every record of it stored in one transaction.
// 0 stored, 1 refused (its chain does not verify), 2 unreadable or not stored.
int PushFile(fleet::TConnection& db, const std::string& file) {
    const record::TVerifyResult verified = record::VerifyRecordFiles({file});
    if (verified.Unreadable != 0) {
        for (const std::string& line : verified.Lines)
            std::cerr << "purgelet-tool: " << line << "\n";
        return 2;
    }
    if (verified.Broken != 0) {
        std::cerr << "purgelet-tool: " << file
                  << ": refused, its chain does not verify; nothing of it stored:\n";
        for (const std::string& line : verified.Lines)
            if (line.find("BROKEN") != std::string::npos)
                std::cerr << "  " << line << "\n";
        return 1;
    }
    std::vector<json> records;
    std::string why;
    if (!record::ReadRecords(file, records, why) || !StillIntact(records)) {
        std::cerr << "purgelet-tool: " << file
                  << ": changed while it was read; nothing of it stored\n";
        return 2;
    }
    int added = 0;
    if (!fleet::PushRecords(db, records, added, why)) {
        std::cerr << "purgelet-tool: " << file << ": nothing stored: " << why << "\n";
        return 2;
    }
    std::cout << file << ": " << records.size() << " record(s), " << added << " new\n";
    return 0;
}

int Push(const Args& args) {
    TOptions options;
    if (!ParseOptions(args, {"--to"}, {"--init"}, options) ||
        (options.Rest.empty() && !options.Flags["--init"]))
        return Usage();
    fleet::TConnection db(options.Values["--to"]);
    if (!Open(db, !options.Flags["--init"]))
        return 2;
    if (options.Flags["--init"]) {
        std::string said, why;
        if (!fleet::InitSchema(db, said, why)) {
            std::cerr << "purgelet-tool: " << why << "\n";
            return 2;
        }
        std::cout << said << "\n";
    }
    int worst = 0;
    for (const std::string& file : options.Rest)
        worst = std::max(worst, PushFile(db, file));
    return worst;
}

bool Digits(const std::string& text, std::size_t from, std::size_t count) {
    for (std::size_t i = from; i < from + count; ++i)
        if (i >= text.size() || text[i] < '0' || text[i] > '9')
            return false;
    return true;
}

// A date ("2026-12-09", midnight UTC) or a time with its offset ("2026-12-09T10:00:00+01:00",
// or "Z" for UTC) as Unix time; false for anything else, or a day the month does not have.
bool ParseSince(std::string text, long long& seconds) {
    if (text.size() == 10)
        text += "T00:00:00+00:00";
    else if (text.size() == 20 && text.back() == 'Z')
        text = text.substr(0, 19) + "+00:00";
    if (text.size() != 25 || !Digits(text, 0, 4) || text[4] != '-' || !Digits(text, 5, 2) ||
        text[7] != '-' || !Digits(text, 8, 2) || text[10] != 'T' || !Digits(text, 11, 2) ||
        !Digits(text, 14, 2) || !Digits(text, 17, 2) || !Digits(text, 20, 2) ||
        !Digits(text, 23, 2))
        return false;
    const int year = std::stoi(text.substr(0, 4)), month = std::stoi(text.substr(5, 2)),
              day = std::stoi(text.substr(8, 2));
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int days[] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day > days[month - 1])
        return false;
    return record::IsoTimeSeconds(text, seconds);
}

// Bytes in decimal units, as drives are sold: "500.1 GB".
std::string Size(const json& bytes) {
    if (!bytes.is_number())
        return "-";
    const char* units[] = {"B", "kB", "MB", "GB", "TB", "PB"};
    double value = bytes.get<double>();
    int unit = 0;
    while (value >= 1000 && unit < 5) {
        value /= 1000;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", value, units[unit]);
    return text;
}

std::string Shown(const json& value) {
    return value.is_string() ? value.get<std::string>() : "-";
}

// The computer as people name it: its host name, with its serial number where both are known.
std::string Computer(const json& drive) {
    const std::string host = Shown(drive["hostName"]), serial = Shown(drive["computerSerial"]);
    if (host == "-" || serial == "-")
        return host == "-" ? serial : host;
    return host + " (" + serial + ")";
}

void PrintTable(const std::vector<json>& drives) {
    std::vector<std::vector<std::string>> rows = {
        {"SERIAL", "MODEL", "SIZE", "OUTCOME", "METHOD", "END", "COMPUTER", "DIGEST"}};
    for (const json& drive : drives)
        rows.push_back({Shown(drive["serial"]), Shown(drive["model"]), Size(drive["size"]),
                        Shown(drive["outcome"]), Shown(drive["method"]), Shown(drive["end"]),
                        Computer(drive), Shown(drive["digest"])});
    std::vector<std::size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows)
        for (std::size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i)
            line += i + 1 < row.size() ? row[i] + std::string(widths[i] - row[i].size() + 2, ' ')
                                       : row[i];
        std::cout << line << "\n";
    }
}

int Find(const Args& args) {
    TOptions options;
    if (!ParseOptions(args, {"--to", "--serial", "--computer", "--since", "--outcome"}, {"--json"},
                      options) ||
        !options.Rest.empty())
        return Usage();
    fleet::TFindQuery query;
    for (const auto& [name, value] : options.Values) {
        if (name == "--serial")
            query.Serial = value;
        else if (name == "--computer")
            query.Computer = value;
        else if (name == "--outcome")
            query.Outcome = value;
    }
    if (options.Values.count("--since")) {
        long long since = 0;
        if (!ParseSince(options.Values["--since"], since)) {
            std::cerr << "purgelet-tool: --since \"" << options.Values["--since"]
                      << "\" is not a date (2026-12-09) or a time with its offset "
                         "(2026-12-09T10:00:00+01:00)\n";
            return 2;
        }
        query.Since = since;
    }
    fleet::TConnection db(options.Values["--to"]);
    if (!Open(db, true))
        return 2;
    std::vector<json> drives;
    std::string why;
    if (!fleet::FindDrives(db, query, drives, why)) {
        std::cerr << "purgelet-tool: " << why << "\n";
        return 2;
    }
    if (options.Flags["--json"]) {
        for (const json& drive : drives)
            std::cout << drive.dump() << "\n";
    } else if (drives.empty()) {
        std::cout << "no drive matches\n";
    } else {
        PrintTable(drives);
    }
    return 0;
}

int Certificate(const Args& args) {
    TOptions options;
    if (!ParseOptions(args, {"--to", "--digest", "-o", "--output", "--logo"}, {"--letter"},
                      options) ||
        !options.Rest.empty() || !options.Values.count("--digest") ||
        (!options.Values.count("-o") && !options.Values.count("--output")))
        return Usage();
    std::string digest = options.Values["--digest"];
    for (char& c : digest)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (digest.size() != 64 || digest.find_first_not_of("0123456789abcdef") != std::string::npos) {
        std::cerr << "purgelet-tool: --digest \"" << options.Values["--digest"]
                  << "\" is not a record's SHA-256 (64 hexadecimal digits)\n";
        return 2;
    }
    fleet::TConnection db(options.Values["--to"]);
    if (!Open(db, true))
        return 2;
    bool found = false;
    json stored;
    std::string why;
    if (!fleet::ReadStoredRecord(db, digest, found, stored, why)) {
        std::cerr << "purgelet-tool: " << why << "\n";
        return 2;
    }
    if (!found) {
        std::cerr << "purgelet-tool: the fleet database holds no record " << digest << "\n";
        return 2;
    }
    const std::string output =
        options.Values.count("-o") ? options.Values["-o"] : options.Values["--output"];
    const bool letter = options.Flags["--letter"] || (platform::sys().sysinfo != nullptr &&
                                                      platform::sys().sysinfo->LetterPaper());
    return DrawStoredCertificate(stored, "the fleet database's record", output,
                                 options.Values["--logo"], letter);
}

} // namespace

int RunFleet(const Args& args) {
    if (args.empty())
        return Usage();
    if (args[0] == "push")
        return Push(args);
    if (args[0] == "find")
        return Find(args);
    if (args[0] == "certificate")
        return Certificate(args);
    return Usage();
}

} // namespace purgelet::tool
