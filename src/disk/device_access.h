// What the disk families of the platforms share about devices and drive letters: the
// system's text for the last error, the shell's name for a drive and the shell's format
// dialog.
#pragma once

#include "disk/message_object.h"
#include "platform/winapi.h"

#include <cstdint>
#include <string>

namespace purgelet {

// The system's text for the current last error, leaving the last error as it was.
std::string LastErrorText();

// DriveType of the drive letter Name by GetDriveTypeA: 0 unknown, 1 fixed, 3 removable,
// 5 CD-ROM, 6 RAM disk. A drive without root directory raises XNoRootDir and a network
// drive XRemote, with where + " - GetDriveType(" + Name + ":\) - No_Root_Dir" (or "Remote").
std::uint8_t DriveTypeOf(const std::string& Name, const std::string& where);

// The shell's display name of a drive root ("E:\") replaces Description when the shell has
// one. The icon the call hands out is released.
void TakeShellDisplayName(std::string& Description, const std::string& root);

// The shell's interactive format dialog for the drive letter Name (A = drive 0), shown through
// the sink of the wipe (on the thread that owns the windows); whatever the user does there,
// nothing is reported back.
void ShellFormatDrive(TMessageObject& sink, const std::string& Name);

} // namespace purgelet
