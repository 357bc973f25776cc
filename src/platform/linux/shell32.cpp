#include "platform/linux/shell32.h"

#include "platform/codepage.h"
#include "platform/drive_letter.h"

#include "platform/linux/fmifs.h"
#include "platform/linux/volume.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace platform::linux_backend {

namespace {

class LinuxShell32 : public Shell32 {
public:
    explicit LinuxShell32(LinuxKernel32& kernel32) : kernel32_(kernel32) {}

    // A drive's display name tells the device behind the letter: "KINGSTON (E:) /dev/sdb1".
    DWORD_PTR SHGetFileInfoA(LPCSTR path, DWORD, SHFILEINFOA* info, UINT infoSize,
                             UINT flags) override {
        const char letter = path != nullptr ? DriveLetterOf(path) : 0;
        if (letter == 0 || info == nullptr || infoSize < sizeof(SHFILEINFOA) ||
            (flags & SHGFI_DISPLAYNAME) == 0)
            return 0;
        kernel32_.GetDriveTypeA(path); // detects the drives when nothing did yet
        const Drive* drive = kernel32_.Drives().ByLetter(letter);
        if (drive == nullptr)
            return 0;
        std::string label;
        if (auto facts = ProbeVolume(drive->node))
            label = facts->label;
        if (label.empty())
            label = drive->kind == DriveKind::Floppy    ? "Floppy"
                    : drive->kind == DriveKind::Optical ? "CD Drive"
                    : drive->removable                  ? "Removable Disk"
                                                        : "Local Disk";
        // Shown by the program, so in its Windows-1252 (an image file's path is UTF-8).
        const std::string name = label + " (" + letter + ":) " + Utf8ToCp1252(drive->node);
        std::snprintf(info->szDisplayName, sizeof(info->szDisplayName), "%s", name.c_str());
        info->hIcon = nullptr; // no icons to hand out
        return 1;
    }

    // There is no interactive format on Linux: the user is told the command that would
    // format the drive, and the answer is that nothing was formatted.
    DWORD SHFormatDrive(HWND, UINT drive, UINT, UINT) override {
        const char root[3] = {static_cast<char>('A' + drive), ':', '\0'};
        kernel32_.GetDriveTypeA(root);
        const Drive* found = drive < 26 ? kernel32_.Drives().ByLetter(root[0]) : nullptr;
        if (found == nullptr)
            return SHFMT_ERROR;
        std::string fileSystem = "vfat", label;
        if (auto facts = ProbeVolume(found->node)) {
            fileSystem = facts->fileSystem;
            label = Cp1252ToUtf8(facts->label); // for a command the user types
        }
        auto command = FormatCommand(fileSystem, label, found->node, 0);
        if (command.empty())
            command = FormatCommand("vfat", label, found->node, 0);
        std::string line;
        for (const auto& word : command)
            line += (line.empty() ? "" : " ") + word;
        std::fprintf(stderr, "purgelet: to format %s, run as root: %s\n", root, line.c_str());
        return SHFMT_NOFORMAT;
    }
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

private:
    LinuxKernel32& kernel32_;
};

} // namespace

std::unique_ptr<Shell32> CreateLinuxShell32(LinuxKernel32& kernel32) {
    return std::make_unique<LinuxShell32>(kernel32);
}

} // namespace platform::linux_backend
