// The registry of the simulated PC: the machine file's contents, kept in memory and written
// back nowhere, so every run of a machine starts from the same registry.
#pragma once

#include "platform/registry_tree.h"

#include <nlohmann/json.hpp>

#include <memory>

namespace platform::sim {

class SimRegistry : public TreeRegistry {
public:
    // contents: {"HKEY_CURRENT_USER": {key path: {name: text}}, "HKEY_LOCAL_MACHINE": {...}}
    // ("HKCU" and "HKLM" are accepted too); null gives an empty registry. Anything else
    // raises std::invalid_argument naming what is wrong.
    explicit SimRegistry(const nlohmann::json& contents);

    // The current contents in the machine-file form, for tests to inspect.
    nlohmann::json ToJson();
};

std::unique_ptr<Registry> CreateSimRegistry(const nlohmann::json& contents);

} // namespace platform::sim
