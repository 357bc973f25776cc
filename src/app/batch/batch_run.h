// The unattended run: purgelet --batch. The same program as the wizard (its drive list, its
// methods, the stored options and the "/" switches, the wipe job and its report) driven with
// no renderer and no one at the keyboard: every question is answered as "Wipe without
// requiring user intervention" answers it, and each event is told as a line.
#pragma once

#include "app/batch/batch_arguments.h"

#include <functional>
#include <string>

namespace purgelet {

// Where the run writes: its lines (standard output) and what the user must read about a
// command line that is wrong or a start that failed (standard error). The entry point hands
// in the process's streams; tests keep the text.
struct TConsole {
    std::function<void(const std::string& text)> Out; // text is written as it is
    std::function<void(const std::string& text)> Err;
};

// Exit statuses of the commands with "--" options.
inline constexpr int kExitCompleted = 0; // every drive completed (or usage, version told)
inline constexpr int kExitFailed = 1;    // a drive failed, or the program could not start
inline constexpr int kExitAborted = 2;   // the run was aborted
inline constexpr int kExitUsage = 3;     // the command line asks for what cannot be done

// The unattended run on the installed system; the exit status.
int RunBatch(const TBatchRequest& request, const TConsole& console);

// What an entry point runs for a command line that is not the wizard's: the usage, the
// version, a usage error, or the unattended run on the default system (installed here).
int RunConsoleCommand(const TCommandLine& commandLine, const TConsole& console);

} // namespace purgelet
