// The sink every disk reports to: progress, the disk being worked on, and every question
// that needs a decision. The base class shows nothing and answers 0 (no answer), which
// every caller treats as "stop": a disk owned by a plain TMessageObject never retries,
// skips or forces anything. The disk manager derives from it and asks the user.
#pragma once

#include "ui/dialogs.h"

#include <cstdint>
#include <functional>
#include <string>

namespace purgelet {

class TDisk;
class TWipeContext;

// The kinds of question a disk operation asks (the Kind argument of Message).
using MessageKind = std::uint8_t;
inline constexpr MessageKind mkGeneric = 0;
inline constexpr MessageKind mkWrite = 1;              // block write failed
inline constexpr MessageKind mkRead = 2;               // block read failed
inline constexpr MessageKind mkVerify = 3;             // verification sums differ
inline constexpr MessageKind mkCDDVDNotReady = 4;      // optical disc not ready
inline constexpr MessageKind mkCDDVDNotErasable = 5;   // optical disc not erasable
inline constexpr MessageKind mkCDDVDBlanking = 6;      // optical disc blanking failed
inline constexpr MessageKind mkNoFloppy = 7;           // no medium in the floppy drive
inline constexpr MessageKind mkQueryForceDisMount = 8; // volume lock refused
inline constexpr MessageKind mkQueryWinFormat = 9;     // format failed (NT)
inline constexpr MessageKind mkQueryWinFormat9x = 10;  // format (Windows 9x)
inline constexpr MessageKind mkDetecting = 11;         // a disk object cannot be created

// The language key (section "Purgelet") of a kind's text. Kind 7 and every kind above 11
// have no key of their own and use "Unknown error".
const char* MessageKindKey(MessageKind kind);

class TMessageObject {
public:
    TMessageObject() = default;
    virtual ~TMessageObject() = default;
    TMessageObject(const TMessageObject&) = delete;
    TMessageObject& operator=(const TMessageObject&) = delete;

    std::uint8_t Flag = 0; // set to 0 by the engine at the start of each wipe
    double Progress = 0.0; // 0.0 to 1.0 of the current disk; negative: not measurable
    TDisk* Disk = nullptr; // the disk being worked on; not owned; null outside a wipe
    // The wipe of Disk (its block in progress); not owned; null outside a wipe.
    const TWipeContext* Wipe = nullptr;
    // Where a block wipe is, for the figures shown while it runs: the write pass (1-based) of
    // the method's write passes, and whether the pass's read-back is running. 0 of 0 outside
    // a block wipe.
    std::int32_t Pass = 0;
    std::int32_t PassCount = 0;
    bool Verifying = false;

    // A question; returns the modal result. The base class answers mrNone, showing nothing.
    virtual int Message(MessageKind Kind, const std::string& Detail, TMsgDlgType DlgType,
                        TMsgDlgButtons Buttons);
    // Progress has changed. The base class does nothing; descendants may raise XAbort here.
    virtual void Update();
    // Shows a dialog of the system's own (the shell's format dialog) where this sink's
    // questions are answered: a window belongs to the thread that owns the others. The base
    // class runs it on the calling thread; what it raises leaves here.
    virtual void ShowDialog(const std::function<void()>& Show);

    // Field setters that tolerate a missing sink (a disk's Owner may be null outside a wipe).
    static void SetFlag(TMessageObject* sink, std::uint8_t value) {
        if (sink)
            sink->Flag = value;
    }
    static void SetProgress(TMessageObject* sink, double value) {
        if (sink)
            sink->Progress = value;
    }
    static void SetDisk(TMessageObject* sink, TDisk* disk) {
        if (sink)
            sink->Disk = disk;
    }
};

} // namespace purgelet
