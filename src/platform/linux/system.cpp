#include "platform/system.h"
#include "platform/linux/kernel32.h"
#include "platform/linux/registry.h"
#include "platform/linux/shell32.h"

namespace platform {

std::unique_ptr<System> CreateNativeSystem() {
    auto system = std::make_unique<System>();
    system->kernel32 = std::make_unique<linux_backend::LinuxKernel32>();
    system->shell32 = linux_backend::CreateLinuxShell32();
    system->registry = std::make_unique<linux_backend::LinuxRegistry>();
    system->setupapi = CreateEmptySetupApi(*system->kernel32); // no device installation service
    return system;
}

} // namespace platform
