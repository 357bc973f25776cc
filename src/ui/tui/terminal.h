// What the terminal host needs of a terminal: its size, its input as model keys and clicks,
// and a place to show a screen. The ncurses terminal is the real one; tests give their own.
#pragma once

#include "ui/form.h"
#include "ui/tui/screen.h"

#include <optional>

namespace purgelet::ui::tui {

struct TInputEvent {
    // Interrupt: Ctrl+C. Stop: the terminal is gone or the process was told to end (SIGHUP,
    // SIGTERM); it is reported again at every read, until the program has ended.
    enum class Kind : std::uint8_t { Key, Click, Resize, Interrupt, Stop };
    Kind What = Kind::Key;
    TKeyEvent Key;
    int X = 0, Y = 0; // a click's cell
};

class Terminal {
public:
    virtual ~Terminal() = default;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual bool Unicode() const = 0;
    // The next input, waiting at most timeoutMs (0: only what is pending; negative: until
    // there is some); nothing when the time ran out.
    virtual std::optional<TInputEvent> Read(int timeoutMs) = 0;
    virtual void Present(const TScreen& screen) = 0;
};

} // namespace purgelet::ui::tui
