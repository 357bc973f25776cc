#include "disk/device_access.h"

#include "platform/system.h"
#include "report/exceptions.h"

#include <cctype>
#include <cstring>

namespace purgelet {

std::string LastErrorText() {
    auto& k = platform::k32();
    const DWORD code = k.GetLastError();
    std::string text = k.SysErrorMessage(code);
    k.SetLastError(code);
    return text;
}

std::uint8_t DriveTypeOf(const std::string& Name, const std::string& where) {
    const std::string root = Name + ":\\";
    switch (platform::k32().GetDriveTypeA(root.c_str())) {
    case DRIVE_REMOVABLE:
        return 3;
    case DRIVE_FIXED:
        return 1;
    case DRIVE_CDROM:
        return 5;
    case DRIVE_RAMDISK:
        return 6;
    case DRIVE_NO_ROOT_DIR:
        throw XNoRootDir(where + " - GetDriveType(" + root + ") - No_Root_Dir");
    case DRIVE_REMOTE:
        throw XRemote(where + " - GetDriveType(" + root + ") - Remote");
    default:
        return 0;
    }
}

void TakeShellDisplayName(std::string& Description, const std::string& root) {
    auto& shell = *platform::sys().shell32;
    SHFILEINFOA info;
    std::memset(&info, 0, sizeof(info));
    if (shell.SHGetFileInfoA(root.c_str(), 0, &info, sizeof(info),
                             SHGFI_ICON | SHGFI_SMALLICON | SHGFI_DISPLAYNAME) != 0) {
        info.szDisplayName[MAX_PATH - 1] = '\0';
        Description = info.szDisplayName;
    }
    // Only the name is used; the icon the call hands out would leak at every detection.
    if (info.hIcon != nullptr)
        shell.DestroyIcon(info.hIcon);
}

void ShellFormatDrive(TMessageObject& sink, const std::string& Name) {
    const UINT drive = static_cast<UINT>(
        std::toupper(static_cast<unsigned char>(Name.empty() ? 'A' : Name[0])) - 'A');
    sink.ShowDialog([drive] { platform::sys().shell32->SHFormatDrive(nullptr, drive, 0, 0); });
}

} // namespace purgelet
