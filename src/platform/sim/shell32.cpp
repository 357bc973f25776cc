#include "platform/sim/shell32.h"

#include "platform/drive_letter.h"

#include <cstdint>
#include <cstring>
#include <thread>

namespace platform::sim {

DWORD_PTR SimShell32::SHGetFileInfoA(LPCSTR path, DWORD /*attributes*/, SHFILEINFOA* info,
                                     UINT infoSize, UINT flags) {
    std::lock_guard<std::recursive_mutex> lock(machine_->mutex); // the record is shared
    std::string root = path != nullptr ? path : "";
    machine_->calls.push_back(Call{"SHGetFileInfoA", root, flags, infoSize, 0, 0, false});
    if (info == nullptr || infoSize < sizeof(SHFILEINFOA))
        return 0;
    const char letter = DriveLetterOf(root);
    if (root.size() != 3 || letter == 0 || root[2] != '\\')
        return 0;
    Drive* drive = machine_->FindDrive(letter);
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
    std::lock_guard<std::recursive_mutex> lock(machine_->mutex); // the record is shared
    machine_->calls.push_back(Call{"DestroyIcon", "",
                                   static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(icon)), 0, 0,
                                   0, icon != nullptr});
    return icon != nullptr ? TRUE : FALSE;
}

DWORD SimShell32::SHFormatDrive(HWND /*owner*/, UINT drive, UINT formatId, UINT options) {
    std::lock_guard<std::recursive_mutex> lock(machine_->mutex); // the record is shared
    machine_->shellFormats.push_back(
        ShellFormatCall{drive, formatId, options, std::this_thread::get_id()});
    return machine_->shellFormatResult;
}

HINSTANCE SimShell32::ShellExecuteA(HWND, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR,
                                    INT showCommand) {
    std::lock_guard<std::recursive_mutex> lock(machine_->mutex); // the record is shared
    const bool ok = machine_->helpViewer;
    std::string what = std::string(verb != nullptr ? verb : "") + " " + (file ? file : "");
    if (parameters != nullptr && *parameters != 0)
        what += std::string(" ") + parameters;
    machine_->calls.push_back(
        Call{"ShellExecuteA", what, static_cast<DWORD>(showCommand), 0, 0, 0, ok});
    return reinterpret_cast<HINSTANCE>(static_cast<std::uintptr_t>(ok ? 42 : ERROR_FILE_NOT_FOUND));
}

UINT SimShell32::WinExec(LPCSTR commandLine, UINT showCommand) {
    std::lock_guard<std::recursive_mutex> lock(machine_->mutex); // the record is shared
    machine_->calls.push_back(
        Call{"WinExec", commandLine != nullptr ? commandLine : "", showCommand, 0, 0, 0, false});
    return ERROR_FILE_NOT_FOUND; // nothing is ever started on the simulated PC
}

BOOL SimShell32::WinHelpA(HWND, LPCSTR helpFile, UINT command, ULONG_PTR data) {
    std::lock_guard<std::recursive_mutex> lock(machine_->mutex); // the record is shared
    const bool ok = machine_->helpViewer;
    machine_->calls.push_back(Call{"WinHelpA", helpFile != nullptr ? helpFile : "", command,
                                   static_cast<DWORD>(data), 0, 0, ok});
    return ok ? TRUE : FALSE;
}

HWND SimShell32::FindWindowA(LPCSTR, LPCSTR title) {
    std::lock_guard<std::recursive_mutex> lock(machine_->mutex); // the record is shared
    machine_->calls.push_back(
        Call{"FindWindowA", title != nullptr ? title : "", 0, 0, 0, 0, false});
    return nullptr;
}

BOOL SimShell32::BringWindowToTop(HWND) {
    std::lock_guard<std::recursive_mutex> lock(machine_->mutex); // the record is shared
    return FALSE;
}

} // namespace platform::sim
