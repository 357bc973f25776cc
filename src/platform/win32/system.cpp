#include "platform/win32/backend.h"

namespace platform {

std::unique_ptr<System> CreateNativeSystem() {
    auto system = std::make_unique<System>();
    system->kernel32 = CreateWin32Kernel32();
    system->shell32 = CreateWin32Shell32();
    system->registry = CreateWin32Registry();
    system->setupapi = CreateWin32SetupApi();
    system->fmifs = CreateWin32Fmifs();
    system->aspi32 = CreateWin32Aspi32();
    system->crypto = CreateNativeCrypto();
    system->sysinfo = CreateWin32SystemInfo();
    return system;
}

} // namespace platform
