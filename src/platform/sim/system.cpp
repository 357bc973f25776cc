#include "platform/sim/aspi32.h"
#include "platform/sim/fmifs.h"
#include "platform/sim/identity.h"
#include "platform/sim/kernel32.h"
#include "platform/sim/registry.h"
#include "platform/sim/setupapi.h"
#include "platform/sim/shell32.h"
#include "platform/sim/sim.h"

#include <stdexcept>

namespace platform::sim {

namespace {

SetupDevices SetupDevicesOf(const Machine& machine) {
    SetupDevices devices;
    for (const auto& disk : machine.disks)
        devices.disks.push_back(SetupDisk{disk.friendlyName, disk.devicePath, true});
    return devices;
}

} // namespace

std::unique_ptr<System> CreateSimSystem(std::shared_ptr<Machine> machine) {
    auto host = CreateNativeSystem();
    auto system = std::make_unique<System>();
    auto kernel32 = std::make_unique<SimKernel32>(std::move(host->kernel32), machine);
    SimKernel32& k = *kernel32;
    system->kernel32 = std::move(kernel32);
    system->shell32 = std::make_unique<SimShell32>(machine);
    system->registry = CreateSimRegistry(machine->registry, machine->registryFile,
                                         machine->desktopFolder.string());
    system->setupapi = std::make_unique<SimSetupApi>(k, SetupDevicesOf(*machine));
    // The digest is the host's: a simulated PC seals its records as the real one would.
    system->crypto = std::move(host->crypto);
    system->sysinfo = CreateSimSystemInfo(machine, k);
    if (machine->aspi.installed)
        system->aspi32 = std::make_unique<SimAspi32>(k, machine);
    // Windows 9x has no file-system utility library.
    if (machine->platformId == VER_PLATFORM_WIN32_NT &&
        machine->formatLibrary != Machine::FormatLibrary::Absent)
        system->fmifs = std::make_unique<SimFmifs>(k, machine);
    return system;
}

std::unique_ptr<System> CreateSimSystem(const std::string& machineFile) {
    std::shared_ptr<Machine> machine;
    if (machineFile.empty())
        machine = Machine::Parse(nlohmann::json::object(), std::filesystem::current_path());
    else
        machine = Machine::Load(machineFile);
    try {
        return CreateSimSystem(std::move(machine));
    } catch (const std::invalid_argument& error) {
        // The registry is checked as the system is made: the message still names the file.
        throw std::runtime_error("machine file \"" + machineFile + "\": " + error.what());
    }
}

} // namespace platform::sim
