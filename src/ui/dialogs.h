// The dialog vocabulary every layer shares: dialog types, button sets and modal results,
// numbered as the message dialogs know them. The disk layer asks its questions in these terms
// through the Host; the renderers show them.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace purgelet {

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
inline constexpr TMsgDlgButtons mbOKButton{TMsgDlgBtn::mbOK};
inline constexpr TMsgDlgButtons mbYesButton{TMsgDlgBtn::mbYes};
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

} // namespace purgelet
