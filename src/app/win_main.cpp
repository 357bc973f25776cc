// Purgelet for Windows: the program in native windows. PURGELET_MACHINE=machine.json puts it
// on a simulated PC; a machine file that cannot be loaded ends the program with a message
// before any window exists. A command line with "--" options (--batch, --help, --version)
// opens no window: its text goes to the console the program was started from.
#include "app/batch/batch_run.h"
#include "app/program.h"
#include "platform/system.h"
#include "ui/win32/fatal_error.h"
#include "ui/win32/win32_host.h"

#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace {

bool Usable(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           ::GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

// A GUI program has no console of its own. Output that was redirected (to a file or a pipe)
// stays so; the rest goes to the console of the process that started the program, if any.
void AttachParentConsole() {
    const bool out = Usable(::GetStdHandle(STD_OUTPUT_HANDLE));
    const bool err = Usable(::GetStdHandle(STD_ERROR_HANDLE));
    if ((out && err) || !::AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    auto console = [] {
        return ::CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                             nullptr);
    };
    if (!out)
        ::SetStdHandle(STD_OUTPUT_HANDLE, console());
    if (!err)
        ::SetStdHandle(STD_ERROR_HANDLE, console());
}

// Bytes to a standard handle as they are: the lines end "\n" on every system.
std::function<void(const std::string&)> Writer(DWORD which) {
    return [which](const std::string& text) {
        const HANDLE handle = ::GetStdHandle(which);
        if (!Usable(handle))
            return;
        DWORD done = 0;
        for (std::size_t at = 0; at < text.size(); at += done) {
            const auto piece = static_cast<DWORD>(text.size() - at);
            if (!::WriteFile(handle, text.data() + at, piece, &done, nullptr) || done == 0)
                return;
        }
    };
}

} // namespace

int main(int argc, char** argv) {
    using purgelet::ui::win32::ShowFatalError;
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const purgelet::TCommandLine commandLine = purgelet::ParseCommandLine(arguments, false);
    if (commandLine.Mode != purgelet::TCommandMode::Wizard) {
        AttachParentConsole();
        const purgelet::TConsole console{Writer(STD_OUTPUT_HANDLE), Writer(STD_ERROR_HANDLE)};
        try {
            return purgelet::RunConsoleCommand(commandLine, console);
        } catch (const std::exception& error) {
            console.Err(std::string("purgelet: ") + error.what() + "\n");
            return purgelet::kExitFailed;
        }
    }

    std::string why; // the back-end: the real system or the simulated PC
    if (!platform::InstallDefaultSystem(why)) {
        ShowFatalError("The simulated PC cannot be started: " + why);
        return 2;
    }
    try {
        purgelet::ui::win32::Win32Host host;
        purgelet::TPurgeletApp app(host);
        return app.Main(arguments);
    } catch (const std::exception& error) {
        ShowFatalError(error.what());
        return 3;
    }
}
