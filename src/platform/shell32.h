// The program's view of the shell and the window system: the shell's name for a drive, its
// interactive format dialog, starting programs and documents, and the help viewer. Calls are
// added here as the program needs them.
#pragma once

#include "platform/winapi.h"

#include <string>

#ifndef _WIN32
#define SHFMT_ERROR 0xFFFFFFFFUL
#define SHFMT_CANCEL 0xFFFFFFFEUL
#define SHFMT_NOFORMAT 0xFFFFFFFDUL
#endif

namespace platform {

class Shell32 {
public:
    virtual ~Shell32() = default;

    // Facts about a file or drive root ("E:\"); nonzero on success. With SHGFI_ICON the
    // caller receives an icon in info->hIcon.
    virtual DWORD_PTR SHGetFileInfoA(LPCSTR path, DWORD attributes, SHFILEINFOA* info,
                                     UINT infoSize, UINT flags) = 0;
    // The shell's interactive format dialog for drive number drive (A = 0); returns the
    // dialog's SHFMT_ result.
    virtual DWORD SHFormatDrive(HWND owner, UINT drive, UINT formatId, UINT options) = 0;
    // Releases an icon that SHGetFileInfoA handed out (user32's DestroyIcon).
    virtual BOOL DestroyIcon(HICON icon) = 0;

    // Opens a file with the shell's verb ("open"); above 32 on success.
    virtual HINSTANCE ShellExecuteA(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                                    LPCSTR directory, INT showCommand) = 0;
    // Starts a program from a command line without waiting; above 31 on success.
    virtual UINT WinExec(LPCSTR commandLine, UINT showCommand) = 0;
    // Shows a topic of a help file (HELP_CONTEXT with its context number); FALSE where the
    // system has no viewer for it.
    virtual BOOL WinHelpA(HWND owner, LPCSTR helpFile, UINT command, ULONG_PTR data) = 0;
    // A top-level window by its title, null when there is none; brings one to the front.
    virtual HWND FindWindowA(LPCSTR className, LPCSTR title) = 0;
    virtual BOOL BringWindowToTop(HWND window) = 0;
};

} // namespace platform
