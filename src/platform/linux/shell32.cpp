#include "platform/linux/shell32.h"

#include <cstdint>

namespace platform::linux_backend {

namespace {

class LinuxShell32 : public Shell32 {
public:
    DWORD_PTR SHGetFileInfoA(LPCSTR, DWORD, SHFILEINFOA*, UINT, UINT) override { return 0; }
    DWORD SHFormatDrive(HWND, UINT, UINT, UINT) override { return SHFMT_NOFORMAT; }
    BOOL DestroyIcon(HICON) override { return TRUE; }
    // No Windows programs, help files or internet shortcuts are shipped for Linux: every
    // start fails as for a missing file, and the program says so where it matters.
    HINSTANCE ShellExecuteA(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT) override {
        return reinterpret_cast<HINSTANCE>(static_cast<std::uintptr_t>(ERROR_FILE_NOT_FOUND));
    }
    UINT WinExec(LPCSTR, UINT) override { return ERROR_FILE_NOT_FOUND; }
    BOOL WinHelpA(HWND, LPCSTR, UINT, ULONG_PTR) override { return FALSE; }
    HWND FindWindowA(LPCSTR, LPCSTR) override { return nullptr; }
    BOOL BringWindowToTop(HWND) override { return FALSE; }
};

} // namespace

std::unique_ptr<Shell32> CreateLinuxShell32() {
    return std::make_unique<LinuxShell32>();
}

} // namespace platform::linux_backend
