// shell32 on Windows: every call forwarded to the real function.
#include "platform/win32/backend.h"

#include <shlobj.h>

namespace platform {

namespace {

class Win32Shell32 : public Shell32 {
public:
    DWORD_PTR SHGetFileInfoA(LPCSTR path, DWORD attributes, SHFILEINFOA* info, UINT infoSize,
                             UINT flags) override {
        return ::SHGetFileInfoA(path, attributes, info, infoSize, flags);
    }
    DWORD SHFormatDrive(HWND owner, UINT drive, UINT formatId, UINT options) override {
        return ::SHFormatDrive(owner, drive, formatId, options);
    }
    BOOL DestroyIcon(HICON icon) override { return ::DestroyIcon(icon); }
    HINSTANCE ShellExecuteA(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                            LPCSTR directory, INT showCommand) override {
        return ::ShellExecuteA(owner, verb, file, parameters, directory, showCommand);
    }
    UINT WinExec(LPCSTR commandLine, UINT showCommand) override {
        return ::WinExec(commandLine, showCommand);
    }
    BOOL WinHelpA(HWND owner, LPCSTR helpFile, UINT command, ULONG_PTR data) override {
        return ::WinHelpA(owner, helpFile, command, data);
    }
    HWND FindWindowA(LPCSTR className, LPCSTR title) override {
        return ::FindWindowA(className, title);
    }
    BOOL BringWindowToTop(HWND window) override { return ::BringWindowToTop(window); }
};

} // namespace

std::unique_ptr<Shell32> CreateWin32Shell32() {
    return std::make_unique<Win32Shell32>();
}

} // namespace platform
