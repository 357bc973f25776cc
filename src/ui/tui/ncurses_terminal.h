// The real terminal, through ncurses: raw keys (Ctrl+C is read as a key, so it never kills a
// wipe half way), Alt+letter and Esc then letter, the mouse where the terminal reports one,
// resizing, colours where there are colours, UTF-8 where the locale has it. The terminal is
// restored when the object goes, and also when the process ends on an uncaught exception or
// a signal.
#pragma once

#include "ui/tui/terminal.h"

#include <memory>

namespace purgelet::ui::tui {

// The terminal of this process; nothing when there is none (output not to a terminal).
std::unique_ptr<Terminal> OpenNcursesTerminal();

} // namespace purgelet::ui::tui
