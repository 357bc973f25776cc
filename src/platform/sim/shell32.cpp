#include "platform/sim/shell32.h"

#include <cctype>
#include <cstring>

namespace platform::sim {

DWORD_PTR SimShell32::SHGetFileInfoA(LPCSTR path, DWORD /*attributes*/, SHFILEINFOA* info,
                                     UINT infoSize, UINT flags) {
    std::string root = path != nullptr ? path : "";
    machine_->calls.push_back(Call{"SHGetFileInfoA", root, flags, infoSize, 0, 0, false});
    if (info == nullptr || infoSize < sizeof(SHFILEINFOA))
        return 0;
    if (root.size() != 3 || root[1] != ':' || root[2] != '\\')
        return 0;
    Drive* drive = machine_->FindDrive(root[0]);
    if (drive == nullptr || !drive->displayName)
        return 0; // the shell has no name for it
    std::memset(info, 0, sizeof(*info));
    std::strncpy(info->szDisplayName, drive->displayName->c_str(), MAX_PATH - 1);
    if (flags & SHGFI_ICON)
        info->hIcon = reinterpret_cast<HICON>(static_cast<std::uintptr_t>(0x1C0));
    machine_->calls.back().ok = true;
    return 1;
}

BOOL SimShell32::DestroyIcon(HICON icon) {
    machine_->calls.push_back(Call{"DestroyIcon", "",
                                   static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(icon)), 0, 0,
                                   0, icon != nullptr});
    return icon != nullptr ? TRUE : FALSE;
}

DWORD SimShell32::SHFormatDrive(HWND /*owner*/, UINT drive, UINT formatId, UINT options) {
    machine_->shellFormats.push_back(ShellFormatCall{drive, formatId, options});
    return machine_->shellFormatResult;
}

} // namespace platform::sim
