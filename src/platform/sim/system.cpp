#include "platform/sim/kernel32.h"
#include "platform/sim/registry.h"
#include "platform/sim/setupapi.h"
#include "platform/sim/sim.h"

namespace platform::sim {

std::unique_ptr<System> CreateSimSystem(const std::string& /*machineFile*/) {
    auto host = CreateNativeSystem();
    auto system = std::make_unique<System>();
    system->kernel32 = std::make_unique<SimKernel32>(std::move(host->kernel32));
    system->shell32 = std::make_unique<Shell32>();
    system->registry = CreateSimRegistry(nullptr);
    system->setupapi = std::make_unique<SimSetupApi>(*system->kernel32, SetupDevices{});
    return system;
}

} // namespace platform::sim
