#pragma once

#include "platform/shell32.h"
#include "platform/sim/machine.h"

#include <memory>

namespace platform::sim {

// The shell of the simulated PC: drive display names from the machine file, a format dialog
// that only records that it was opened, and program starts that are only recorded.
class SimShell32 : public Shell32 {
public:
    explicit SimShell32(std::shared_ptr<Machine> machine) : machine_(std::move(machine)) {}

    DWORD_PTR SHGetFileInfoA(LPCSTR path, DWORD attributes, SHFILEINFOA* info, UINT infoSize,
                             UINT flags) override;
    DWORD SHFormatDrive(HWND owner, UINT drive, UINT formatId, UINT options) override;
    BOOL DestroyIcon(HICON icon) override;
    // Programs, documents and help topics are recorded in the machine's calls (name, the
    // file or command line, the show command or help context) and succeed where the machine
    // says it has a help viewer ("helpViewer"); no program is ever started.
    HINSTANCE ShellExecuteA(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                            LPCSTR directory, INT showCommand) override;
    UINT WinExec(LPCSTR commandLine, UINT showCommand) override;
    BOOL WinHelpA(HWND owner, LPCSTR helpFile, UINT command, ULONG_PTR data) override;
    HWND FindWindowA(LPCSTR className, LPCSTR title) override;
    BOOL BringWindowToTop(HWND window) override;

private:
    std::shared_ptr<Machine> machine_;
};

} // namespace platform::sim
