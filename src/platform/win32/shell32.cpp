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
};

} // namespace

std::unique_ptr<Shell32> CreateWin32Shell32() {
    return std::make_unique<Win32Shell32>();
}

} // namespace platform
