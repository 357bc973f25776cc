#include "platform/linux/shell32.h"

namespace platform::linux_backend {

namespace {

class LinuxShell32 : public Shell32 {
public:
    DWORD_PTR SHGetFileInfoA(LPCSTR, DWORD, SHFILEINFOA*, UINT, UINT) override { return 0; }
    DWORD SHFormatDrive(HWND, UINT, UINT, UINT) override { return SHFMT_NOFORMAT; }
    BOOL DestroyIcon(HICON) override { return TRUE; }
};

} // namespace

std::unique_ptr<Shell32> CreateLinuxShell32() {
    return std::make_unique<LinuxShell32>();
}

} // namespace platform::linux_backend
