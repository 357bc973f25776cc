// The diagnostic error log: off unless "MKLOG.INI" lies beside the executable, then
// "except.log" in the current directory, truncated at start, one line per exception built.
#pragma once

#include <string>

namespace purgelet {

extern bool ErrorLogEnabled;

// Stores the name, creates the file empty and switches the log on when that worked.
bool OpenErrorLog(const std::string& fileName);
// Appends "<" local date and time "> : " message CR LF when the log is on. Never throws.
void LogError(const std::string& message) noexcept;
// The start-up rule: the marker file beside the executable switches the log on.
void InitErrorLog();
// Switches the log off again (tests and the end of a run).
void CloseErrorLog();
// The name of the log file in use.
const std::string& ErrorLogFileName();

} // namespace purgelet
