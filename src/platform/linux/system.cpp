#include "platform/linux/system.h"

#include "platform/linux/fmifs.h"
#include "platform/linux/kernel32.h"
#include "platform/linux/registry.h"
#include "platform/linux/setupapi.h"
#include "platform/linux/shell32.h"
#include "platform/linux/sysinfo.h"

namespace platform {

namespace linux_backend {

std::unique_ptr<System> CreateLinuxSystem(std::shared_ptr<DriveMap> drives) {
    auto system = std::make_unique<System>();
    auto kernel32 = std::make_unique<LinuxKernel32>(std::move(drives));
    system->shell32 = CreateLinuxShell32(*kernel32);
    system->setupapi = CreateLinuxSetupApi(*kernel32);
    system->fmifs = CreateLinuxFmifs(*kernel32);
    system->kernel32 = std::move(kernel32);
    system->registry = std::make_unique<LinuxRegistry>();
    system->crypto = CreateNativeCrypto();
    system->sysinfo = CreateLinuxSystemInfo();
    return system;
}

} // namespace linux_backend

std::unique_ptr<System> CreateNativeSystem() {
    return linux_backend::CreateLinuxSystem(nullptr);
}

} // namespace platform
