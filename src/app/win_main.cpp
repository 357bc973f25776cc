// Purgelet for Windows: the program in native windows. PURGELET_MACHINE=machine.json puts it
// on a simulated PC; a machine file that cannot be loaded ends the program with a message
// before any window exists.
#include "app/program.h"
#include "platform/system.h"
#include "ui/win32/fatal_error.h"
#include "ui/win32/win32_host.h"

#include <exception>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    using purgelet::ui::win32::ShowFatalError;
    std::string why; // the back-end: the real system or the simulated PC
    if (!platform::InstallDefaultSystem(why)) {
        ShowFatalError("The simulated PC cannot be started: " + why);
        return 2;
    }
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    try {
        purgelet::ui::win32::Win32Host host;
        purgelet::TPurgeletApp app(host);
        return app.Main(arguments);
    } catch (const std::exception& error) {
        ShowFatalError(error.what());
        return 3;
    }
}
