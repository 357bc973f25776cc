// The simulated PC: a whole machine described by a machine file, for tests and demos.
#pragma once

#include "platform/sim/machine.h"
#include "platform/system.h"

#include <memory>
#include <string>

namespace platform::sim {

// A system whose drives, devices and registry are those of the machine file (an empty
// name gives a machine with no drives). Ordinary files are the host's. A malformed machine
// file raises std::runtime_error naming the entry.
std::unique_ptr<System> CreateSimSystem(const std::string& machineFile);
// The same for a machine already parsed (tests build theirs with Machine::Parse).
std::unique_ptr<System> CreateSimSystem(std::shared_ptr<Machine> machine);

} // namespace platform::sim
