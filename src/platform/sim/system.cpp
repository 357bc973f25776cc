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

// The host's cryptography, as the simulated Windows has it: Windows 9x has no CNG, so no AES.
// The digest stays the host's: a simulated PC seals its records as the real one would.
class SimCrypto : public Crypto {
public:
    SimCrypto(std::unique_ptr<Crypto> host, bool aes) : host_(std::move(host)), aes_(aes) {}
    Sha256Digest Sha256(std::string_view bytes) override { return host_->Sha256(bytes); }
    bool HasAes() override { return aes_ && host_->HasAes(); }
    void AesCtrStream(const AesKey& key, std::uint64_t block, std::uint8_t* out,
                      std::size_t bytes) override {
        if (!aes_)
            throw std::runtime_error("this Windows has no AES in CNG (bcrypt.dll)");
        host_->AesCtrStream(key, block, out, bytes);
    }

private:
    std::unique_ptr<Crypto> host_;
    bool aes_;
};

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
    system->crypto = std::make_unique<SimCrypto>(std::move(host->crypto),
                                                 machine->platformId == VER_PLATFORM_WIN32_NT);
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
