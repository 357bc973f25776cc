// The simulated PC: a whole machine described by a machine file, for tests and demos.
#pragma once

#include "platform/system.h"

#include <memory>
#include <string>

namespace platform::sim {

// A system whose drives, devices and registry are those of the machine file (an empty
// name gives a machine with no drives). Ordinary files are the host's.
std::unique_ptr<System> CreateSimSystem(const std::string& machineFile);

} // namespace platform::sim
