#include "platform/system.h"

#include "platform/sim/sim.h"

#include <cstdlib>
#include <exception>

namespace platform {

namespace {
std::unique_ptr<System>& Installed() {
    static std::unique_ptr<System> installed;
    return installed;
}
} // namespace

System& sys() {
    auto& installed = Installed();
    if (!installed)
        installed = CreateSystem();
    return *installed;
}

std::unique_ptr<System> Install(std::unique_ptr<System> system) {
    auto previous = std::move(Installed());
    Installed() = std::move(system);
    return previous;
}

std::unique_ptr<System> CreateSystem() {
    const char* machine = std::getenv("PURGELET_MACHINE");
    if (machine != nullptr && *machine != '\0')
        return sim::CreateSimSystem(machine);
    return CreateNativeSystem();
}

bool InstallDefaultSystem(std::string& why) {
    try {
        Install(CreateSystem());
        return true;
    } catch (const std::exception& error) {
        why = error.what();
    } catch (...) {
        why = "the system could not be set up";
    }
    return false;
}

} // namespace platform
