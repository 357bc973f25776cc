// The one message the Windows program shows without a form: start-up failed before any
// window could exist (a simulated PC that cannot be loaded). It also goes to stderr, for a
// console or Wine's terminal.
#pragma once

#include <string>

namespace purgelet::ui::win32 {

void ShowFatalError(const std::string& text);

} // namespace purgelet::ui::win32
