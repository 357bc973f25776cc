#include "platform/system.h"

#include "platform/sim/sim.h"

#include <atomic>
#include <cstdlib>
#include <exception>
#include <stdexcept>

namespace platform {

namespace {
struct Installation {
    std::unique_ptr<System> owned;
    // Read by every thread; written only by Install, before other threads start.
    std::atomic<System*> current{nullptr};
};

Installation& Installed() {
    static Installation installation;
    return installation;
}
} // namespace

System* InstalledSystem() {
    return Installed().current.load(std::memory_order_acquire);
}

System& sys() {
    System* system = InstalledSystem();
    if (system == nullptr)
        throw std::logic_error("the system interface was used before a system was installed");
    return *system;
}

std::unique_ptr<System> Install(std::unique_ptr<System> system) {
    auto& installed = Installed();
    auto previous = std::move(installed.owned);
    installed.owned = std::move(system);
    installed.current.store(installed.owned.get(), std::memory_order_release);
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
