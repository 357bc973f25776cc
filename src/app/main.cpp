// Purgelet in a terminal: the program on the terminal's host. PURGELET_MACHINE=machine.json
// puts it on a simulated PC.
#include "app/program.h"
#include "platform/system.h"
#include "ui/tui/ncurses_terminal.h"
#include "ui/tui/tui_host.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // A machine file that cannot be used is said before the terminal is taken over, so the
    // message stays readable and the terminal is never left in curses mode.
    std::string why;
    if (!platform::InstallDefaultSystem(why)) {
        std::fprintf(stderr, "purgelet: %s\n", why.c_str());
        return 2;
    }
    auto terminal = purgelet::ui::tui::OpenNcursesTerminal();
    if (!terminal) {
        std::fputs("purgelet: this program needs a terminal\n", stderr);
        return 2;
    }
    purgelet::ui::tui::TuiHost host(*terminal);
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    int code;
    {
        purgelet::TPurgeletApp app(host);
        code = app.Main(arguments);
    }
    terminal.reset();
    return code;
}
