// Purgelet in a terminal: the program on the terminal's host. PURGELET_MACHINE=machine.json
// puts it on a simulated PC. A command line with "--" options (--batch, --help, --version)
// runs on the console without the terminal.
#include "app/batch/batch_run.h"
#include "app/program.h"
#include "platform/system.h"
#include "ui/tui/ncurses_terminal.h"
#include "ui/tui/tui_host.h"

#include <csignal>
#include <cstdio>
#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace {

std::function<void(const std::string&)> Writer(std::FILE* stream) {
    return [stream](const std::string& text) {
        std::fwrite(text.data(), 1, text.size(), stream);
        std::fflush(stream);
    };
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const purgelet::TCommandLine commandLine = purgelet::ParseCommandLine(arguments, true);
    if (commandLine.Mode != purgelet::TCommandMode::Wizard) {
        // A reader of the lines that goes away must not end a wipe half done: the lines are
        // lost, the run goes on and ends as it would have.
        std::signal(SIGPIPE, SIG_IGN);
        const purgelet::TConsole console{Writer(stdout), Writer(stderr)};
        try {
            return purgelet::RunConsoleCommand(commandLine, console);
        } catch (const std::exception& error) {
            console.Err(std::string("purgelet: ") + error.what() + "\n");
            return purgelet::kExitFailed;
        }
    }

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
    int code;
    {
        purgelet::TPurgeletApp app(host);
        code = app.Main(arguments);
    }
    terminal.reset();
    return code;
}
