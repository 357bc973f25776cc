// The program's view of Shell32: the shell's name for a drive and its interactive format
// dialog. Calls are added here as the program needs them.
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
};

} // namespace platform
