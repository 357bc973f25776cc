// The sink every disk reports to: progress, the disk being worked on, and every question
// that needs a decision. The base class shows nothing and answers 0 (no answer), which
// every caller treats as "stop": a disk owned by a plain TMessageObject never retries,
// skips or forces anything. The disk manager derives from it and asks the user.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

namespace purgelet {

class TDisk;

// Dialog types, numbered as the dialogs know them.
enum class TMsgDlgType : std::uint8_t {
    mtWarning = 0,
    mtError = 1,
    mtInformation = 2,
    mtConfirmation = 3,
};

// One dialog button; its value is its bit in TMsgDlgButtons.
enum class TMsgDlgBtn : std::uint8_t {
    mbYes = 0,
    mbNo = 1,
    mbOK = 2,
    mbCancel = 3,
    mbAbort = 4,
    mbRetry = 5,
    mbIgnore = 6,
    mbAll = 7,
    mbNoToAll = 8,
    mbYesToAll = 9,
};

// A set of dialog buttons: bit n is the button of value n. Only bits 0..9 can be set.
class TMsgDlgButtons {
public:
    constexpr TMsgDlgButtons() = default;
    constexpr explicit TMsgDlgButtons(std::uint16_t bits) : bits_(bits & kAllBits) {}
    constexpr TMsgDlgButtons(std::initializer_list<TMsgDlgBtn> buttons) {
        for (TMsgDlgBtn button : buttons)
            bits_ = static_cast<std::uint16_t>(bits_ | BitOf(button));
    }

    constexpr bool Contains(TMsgDlgBtn button) const { return (bits_ & BitOf(button)) != 0; }
    constexpr std::uint16_t Bits() const { return bits_; }
    constexpr bool operator==(const TMsgDlgButtons&) const = default;

private:
    static constexpr std::uint16_t kAllBits = 0x3FF;
    static constexpr std::uint16_t BitOf(TMsgDlgBtn button) {
        return static_cast<std::uint16_t>(1u << static_cast<unsigned>(button));
    }
    std::uint16_t bits_ = 0;
};

// The sets the disk operations use.
inline constexpr TMsgDlgButtons mbYesNo{TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo};
inline constexpr TMsgDlgButtons mbAbortRetry{TMsgDlgBtn::mbAbort, TMsgDlgBtn::mbRetry};
inline constexpr TMsgDlgButtons mbAbortRetryIgnore{TMsgDlgBtn::mbAbort, TMsgDlgBtn::mbRetry,
                                                   TMsgDlgBtn::mbIgnore};
static_assert(mbYesNo.Bits() == 3 && mbAbortRetry.Bits() == 48 && mbAbortRetryIgnore.Bits() == 112);

// Modal results: the answers Message returns.
inline constexpr int mrNone = 0;
inline constexpr int mrOk = 1;
inline constexpr int mrCancel = 2;
inline constexpr int mrAbort = 3;
inline constexpr int mrRetry = 4;
inline constexpr int mrIgnore = 5;
inline constexpr int mrYes = 6;
inline constexpr int mrNo = 7;
inline constexpr int mrAll = 8;
inline constexpr int mrNoToAll = 9;
inline constexpr int mrYesToAll = 10;

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

    // A question; returns the modal result. The base class answers mrNone, showing nothing.
    virtual int Message(MessageKind Kind, const std::string& Detail, TMsgDlgType DlgType,
                        TMsgDlgButtons Buttons);
    // Progress has changed. The base class does nothing; descendants may raise XAbort here.
    virtual void Update();

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
