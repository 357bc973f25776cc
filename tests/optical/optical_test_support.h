// Simulated PCs with optical drives for the optical tests, and helpers to read what a drive
// received.
#pragma once

#include "platform/sim/machine.h"
#include "support/sim_pc.h"

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace purgelet::testing {

// An NT machine with a CD/DVD writer at E: (also on ASPI adapter 0, target 1, LUN 2 when
// aspi is set) holding disc; extra fields are merged into the drive's entry.
inline nlohmann::json OpticalMachine(const nlohmann::json& disc, bool aspi = false,
                                     const nlohmann::json& extra = nlohmann::json::object(),
                                     const std::string& platform = "NT") {
    nlohmann::json drive = {{"letter", "E"},
                            {"vendor", "SIMDISC"},
                            {"product", "RW-5240"},
                            {"disc", disc},
                            {"aspi", {{"host", 0}, {"target", 1}, {"lun", 2}}}};
    drive.update(extra);
    return {{"platform", platform}, {"aspi", aspi}, {"opticalDrives", {drive}}};
}

inline nlohmann::json RewritableDisc(const std::string& type = "CD-RW") {
    return {{"type", type}, {"state", "complete"}, {"sessions", 2}};
}

inline platform::sim::OpticalDrive& OpticalDriveOf(SimPC& pc, std::size_t index = 0) {
    return pc.machine().opticalDrives.at(index);
}

// The command blocks the drive received from a transport, in order.
inline std::vector<std::vector<BYTE>> Cdbs(const platform::sim::OpticalDrive& drive, BYTE opcode) {
    std::vector<std::vector<BYTE>> list;
    for (const auto& c : drive.commands)
        if (c.cdb[0] == opcode)
            list.push_back(c.cdb);
    return list;
}

} // namespace purgelet::testing
