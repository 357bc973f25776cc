// The registry of the simulated PC: the machine file's contents, kept in memory, and, when
// the machine names a registry file, the current user's keys loaded from and saved to that
// file, so a simulated PC keeps its options from one start to the next.
#pragma once

#include "platform/registry_tree.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <memory>
#include <string>

namespace platform::sim {

class SimRegistry : public TreeRegistry {
public:
    // contents: {"HKEY_CURRENT_USER": {key path: {name: text}}, "HKEY_LOCAL_MACHINE": {...}}
    // ("HKCU" and "HKLM" are accepted too), texts in UTF-8; null gives an empty registry.
    // Anything else raises std::invalid_argument naming what is wrong.
    explicit SimRegistry(const nlohmann::json& contents);
    // The same, with the current user's keys of file laid over the contents on first use and
    // every change written back to it (empty: kept in memory only). A desktop folder that is
    // not empty answers the "Shell Folders" "Desktop" value when the registry holds none.
    SimRegistry(const nlohmann::json& contents, std::filesystem::path file,
                std::string desktopFolder);

    // The current contents in the machine-file form, for tests to inspect.
    nlohmann::json ToJson();

protected:
    void Prepare() override;
    LONG Changed(RegistryRoot root) override;
    bool BuiltInKey(RegistryRoot root, const std::string& path) override;
    std::optional<std::string> BuiltInValue(RegistryRoot root, const std::string& path,
                                            const std::string& name) override;

private:
    void Load();
    bool Save(std::string& why);

    std::filesystem::path file_;
    std::string desktopFolder_;
    bool loaded_ = false;
    bool damaged_ = false; // the file was not a registry: kept aside before the first save
};

std::unique_ptr<Registry> CreateSimRegistry(const nlohmann::json& contents);
std::unique_ptr<Registry> CreateSimRegistry(const nlohmann::json& contents,
                                            const std::filesystem::path& file,
                                            const std::string& desktopFolder);

} // namespace platform::sim
