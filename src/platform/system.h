// The process-wide system interface. The back-end is installed once at start-up (the real
// system, or a simulated PC when PURGELET_MACHINE names a machine file), before any other
// thread runs; a test installs its own, also before its threads start. Nothing above platform/
// includes an OS header or knows which back-end runs.
#pragma once

#include "platform/aspi32.h"
#include "platform/fmifs.h"
#include "platform/identity.h"
#include "platform/kernel32.h"
#include "platform/registry.h"
#include "platform/setupapi.h"
#include "platform/shell32.h"

#include <memory>
#include <string>

namespace platform {

struct System {
    std::unique_ptr<Kernel32> kernel32;
    std::unique_ptr<Shell32> shell32;
    std::unique_ptr<Registry> registry;
    std::unique_ptr<SetupApi> setupapi;
    std::unique_ptr<Fmifs> fmifs;   // null where the format library is absent
    std::unique_ptr<Aspi32> aspi32; // null where no ASPI layer is installed
    std::unique_ptr<Crypto> crypto;
    std::unique_ptr<SystemInfo> sysinfo;
};

// The installed system. Never made on first use, which could be on whichever thread came
// first: a call before an entry point installed one throws std::logic_error.
System& sys();
// The installed system, null when none is.
System* InstalledSystem();
inline Kernel32& k32() {
    return *sys().kernel32;
}

// Replaces the installed system and returns the previous one.
std::unique_ptr<System> Install(std::unique_ptr<System> system);

// The default: a simulated PC when the environment variable PURGELET_MACHINE names a
// machine file, else the native back-end of this build.
std::unique_ptr<System> CreateSystem();
// Installs the default system (CreateSystem) now, so that an entry point reports a machine
// file it cannot use before it opens the terminal or anything else: false, and why (the file
// and what is wrong with it), when it cannot be made.
bool InstallDefaultSystem(std::string& why);
// The real system of this build (defined by the linux or win32 back-end).
std::unique_ptr<System> CreateNativeSystem();

// Installs a system for the lifetime of the object and puts the previous one back.
class ScopedSystem {
public:
    explicit ScopedSystem(std::unique_ptr<System> system) : previous_(Install(std::move(system))) {}
    ~ScopedSystem() { Install(std::move(previous_)); }
    ScopedSystem(const ScopedSystem&) = delete;
    ScopedSystem& operator=(const ScopedSystem&) = delete;

private:
    std::unique_ptr<System> previous_;
};

} // namespace platform
