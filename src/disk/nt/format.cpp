#include "disk/nt/format.h"

#include "disk/nt/nt_disk.h"
#include "methods/method.h"
#include "platform/system.h"
#include "report/exceptions.h"

#include <cctype>
#include <mutex>

namespace purgelet {

namespace {

using WideString = std::basic_string<WCHAR>;

// The module state of the one running format.
struct FormatState {
    TFormatHook hook = nullptr;
    TWipeContext* wipe = nullptr;
    bool running = false;
    bool done = false;
    bool aborted = false;
    std::string abortMessage;
};

FormatState& State() {
    static FormatState state;
    return state;
}

// The library's callback carries no context, so formats run one at a time in the process: a
// format asked for on another thread (drives wiped at once) waits for the one running. The
// thread running one that asks again still meets "another format is running".
std::recursive_mutex& FormatLock() {
    static std::recursive_mutex lock;
    return lock;
}

bool IsNtFamily() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof(version);
    return platform::k32().GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

// The library of the installed system, when it is there and has FormatEx. Asked afresh for
// every format rather than kept: a kept pointer would outlive a system that was replaced.
platform::Fmifs* FormatLibrary() {
    if (!IsNtFamily())
        return nullptr;
    platform::Fmifs* library = platform::sys().fmifs.get();
    return library != nullptr && library->HasEntry("FormatEx") ? library : nullptr;
}

WideString Widen(const std::string& text) {
    WideString wide;
    for (unsigned char c : text)
        wide.push_back(static_cast<WCHAR>(c)); // the names and labels are ANSI text
    return wide;
}

BOOLEAN PURGELET_FMIFS_CALLBACK FormatCallback(DWORD command, DWORD /*subAction*/,
                                               LPVOID actionInfo) {
    FormatState& state = State();
    if (command == platform::FMIFS_PROGRESS) {
        if (actionInfo == nullptr || state.hook == nullptr)
            return TRUE;
        const DWORD percent = *static_cast<const DWORD*>(actionInfo);
        // Nothing may escape into the library: an exception ends the format instead.
        try {
            state.hook(state.wipe, percent / 100.0);
            return TRUE;
        } catch (const XAbort& abort) {
            state.aborted = true;
            state.abortMessage = abort.what();
            return FALSE;
        } catch (...) {
            return FALSE;
        }
    }
    if (command == platform::FMIFS_DONE) {
        state.done = actionInfo != nullptr && *static_cast<const BOOLEAN*>(actionInfo) != 0;
        return TRUE;
    }
    return TRUE;
}

} // namespace

void LoadFormatLibrary() {
    if (!IsNtFamily())
        return;
    // The library itself is loaded by the system back-end; the three entries are looked up
    // as the program always did, and only FormatEx is used.
    if (platform::Fmifs* library = platform::sys().fmifs.get()) {
        library->HasEntry("ChkDsk");
        library->HasEntry("FormatEx");
        library->HasEntry("EnableVolumeCompression");
    }
}

void FormatDrive(const std::string& DriveRoot, const std::string& FileSystemName,
                 const std::string& Label, int Media, TFormatHook Hook, TWipeContext* Wipe,
                 std::int32_t ClusterSize, bool Quick) {
    const std::lock_guard<std::recursive_mutex> one(FormatLock());
    FormatState& state = State();
    platform::Fmifs* library = FormatLibrary();
    if (library == nullptr)
        throw XFormatError("FMIFS.FORMAT - Format Error - the format library (fmifs.dll, "
                           "FormatEx) is not available");
    if (state.running)
        throw XFormatError("FMIFS.FORMAT - Format Error - another format is running");

    const WideString root = Widen(DriveRoot), fileSystem = Widen(FileSystemName),
                     label = Widen(Label);
    state.hook = Hook;
    state.wipe = Wipe;
    state.running = true;
    state.done = false;
    state.aborted = false;
    state.abortMessage.clear();
    struct Clear {
        FormatState& s;
        ~Clear() {
            s.hook = nullptr;
            s.wipe = nullptr;
            s.running = false;
        }
    } clear{state};

    library->FormatEx(root.c_str(), Media == 1 ? FMIFS_HARDDISK : FMIFS_FLOPPY, fileSystem.c_str(),
                      label.c_str(), Quick ? TRUE : FALSE, static_cast<DWORD>(ClusterSize),
                      &FormatCallback);
    if (state.done)
        return;
    if (state.aborted)
        throw XAbort(state.abortMessage);
    throw XFormatError("FMIFS.FORMAT - Format Error - " + LastErrorText());
}

bool FormatProgress(TWipeContext* Wipe, double Fraction) {
    if (Wipe == nullptr)
        return true;
    const int passes = Wipe->Method != nullptr ? Wipe->Method->PassCount : 0;
    TMessageObject& owner = Wipe->Messages();
    owner.Progress = (passes + Fraction) / (passes + 1);
    owner.Update();
    return true;
}

std::string FormatFileSystemName(std::uint8_t FileSystem, const std::string& detected) {
    switch (FileSystem) {
    case 0:
        return detected;
    case 1:
        return "FAT12";
    case 2:
        return "FAT16";
    case 3:
        return "FAT32";
    case 4:
        return "NTFS";
    default:
        return "";
    }
}

void TNTLogicalDisk::Format(const TFormatParams& Params, TWipeContext& wipe) {
    if (ReadOnly)
        throw XReadOnly("Read only !!!");
    wipe.Messages().Disk = this;
    wipe.Messages().Wipe = &wipe;
    FormatOrOfferShell(Params, 1, wipe);
}

void TNTLogicalDisk::FormatOrOfferShell(const TFormatParams& Params, int Media,
                                        TWipeContext& wipe) {
    const std::string fileSystem = FormatFileSystemName(Params.FileSystem, FileSystem);
    TMessageObject& sink = wipe.Messages();
    try {
        FormatDrive(Name + ":", fileSystem, Params.Label, Media, &FormatProgress, &wipe,
                    Params.ClusterSize, false);
    } catch (const XDiskIO&) {
        const int answer =
            sink.Message(mkQueryWinFormat, Description, TMsgDlgType::mtError, mbYesNo);
        if (answer != mrYes)
            throw;
        ShellFormatDrive(sink, Name);
    }
}

} // namespace purgelet
