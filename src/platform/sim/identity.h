// Who the simulated PC's disks and the simulated PC itself are, from the machine file: the
// keys of a physical disk that the storage property query answers, and the "computer"
// object that SystemInfo answers (docs/machine-file.md).
#pragma once

#include "platform/identity.h"
#include "platform/kernel32.h"
#include "platform/sim/machine.h"
#include "platform/storage_query.h"

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

namespace platform::sim {

// The identity keys of a physical disk; the model defaults to its friendly name, the bus
// to "unknown", and whether it seeks stays unknown unless "rotational" says.
StorageDeviceFacts ParseDiskIdentity(const nlohmann::json& disk, const PhysicalDisk& parsed,
                                     const std::string& where);
// The "computer" object of the machine file into machine.computer and machine.letterPaper.
void ParseComputer(Machine& machine, const nlohmann::json& file);

// SystemInfo of the simulated PC: the machine's computer, its operating system named from
// what kernel32's GetVersionExA reports when the machine file names none.
std::unique_ptr<SystemInfo> CreateSimSystemInfo(std::shared_ptr<Machine> machine,
                                                Kernel32& kernel32);

} // namespace platform::sim
