// The program's view of the file-system utility library (fmifs.dll). The library may be
// absent (Windows 9x, or a system without it): System::fmifs is then null. An entry that the
// loaded library lacks is reported by HasEntry, and must not be called.
#pragma once

#include "platform/winapi.h"

#include <string>

// The library calls back with the standard calling convention of the system.
#ifdef _WIN32
#define PURGELET_FMIFS_CALLBACK __stdcall
#else
#define PURGELET_FMIFS_CALLBACK
#endif

namespace platform {

// Commands of the FormatEx callback the program acts on; the others are answered "go on".
enum FmifsCallbackCommand : DWORD {
    FMIFS_PROGRESS = 0, // data: DWORD percentage
    FMIFS_DONE = 11,    // data: BOOLEAN success
};

// Media flags of FormatEx.
#define FMIFS_FLOPPY 8
#define FMIFS_HARDDISK 12

// Returns nonzero to go on, zero to cancel the format.
using FmifsCallback = BOOLEAN(PURGELET_FMIFS_CALLBACK*)(DWORD command, DWORD subAction,
                                                        LPVOID actionInfo);

class Fmifs {
public:
    virtual ~Fmifs() = default;

    // Whether the loaded library exports the entry of that name ("FormatEx", "ChkDsk",
    // "EnableVolumeCompression").
    virtual bool HasEntry(const std::string& name) = 0;

    // Formats driveRoot ("E:"): the outcome comes only through the callback.
    virtual void FormatEx(const WCHAR* driveRoot, DWORD mediaFlag, const WCHAR* fileSystem,
                          const WCHAR* label, BOOL quick, DWORD clusterSize,
                          FmifsCallback callback) = 0;
};

} // namespace platform
