#include "platform/sim/registry.h"

#include <stdexcept>

namespace platform::sim {

namespace {
bool RootOf(const std::string& name, RegistryRoot& root) {
    std::string folded = RegistryFold(name);
    if (folded == "hkey_current_user" || folded == "hkcu")
        root = RegistryRoot::CurrentUser;
    else if (folded == "hkey_local_machine" || folded == "hklm")
        root = RegistryRoot::LocalMachine;
    else
        return false;
    return true;
}
} // namespace

SimRegistry::SimRegistry(const nlohmann::json& contents) {
    if (contents.is_null())
        return;
    if (!contents.is_object())
        throw std::invalid_argument("registry: not an object of root keys");
    for (const auto& [name, keys] : contents.items()) {
        RegistryRoot root;
        if (!RootOf(name, root))
            throw std::invalid_argument("registry: unknown root key \"" + name + "\"");
        std::string why;
        if (!Tree(root).Assign(keys, why))
            throw std::invalid_argument("registry: " + name + ": " + why);
    }
}

nlohmann::json SimRegistry::ToJson() {
    return {{"HKEY_CURRENT_USER", Tree(RegistryRoot::CurrentUser).ToJson()},
            {"HKEY_LOCAL_MACHINE", Tree(RegistryRoot::LocalMachine).ToJson()}};
}

std::unique_ptr<Registry> CreateSimRegistry(const nlohmann::json& contents) {
    return std::make_unique<SimRegistry>(contents);
}

} // namespace platform::sim
