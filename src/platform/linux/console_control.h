// SetConsoleCtrlHandler on Linux. SIGINT is Ctrl+C (CTRL_C_EVENT); SIGTERM, the request to
// stop that service managers and kill send, is told as CTRL_BREAK_EVENT, which a routine may
// take as Ctrl+C and which does not end the process by itself once handled. SIGHUP, the
// terminal gone, is the console window closing: CTRL_CLOSE_EVENT, whose routine may keep the
// process until its run has ended (nothing ends it afterwards here, as Windows would; the
// run ends by itself). As on Windows the routines run on a thread of their own, the newest
// first, until
// one returns TRUE; when none does the signal does what it did before any routine was added
// (by default, the end of the process). The signal handler only writes to a pipe.
#pragma once

#include "platform/winapi.h"

namespace platform::linux_backend {

// Adds or removes routine (null with add: Ctrl+C ignored; null without: heeded again).
// ERROR_SUCCESS, or the Win32 error: ERROR_INVALID_PARAMETER for a routine not added.
DWORD ChangeConsoleControl(PHANDLER_ROUTINE routine, bool add);

} // namespace platform::linux_backend
