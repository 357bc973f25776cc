// The registry on Linux: the user's keys in one JSON file, $XDG_CONFIG_HOME/purgelet/
// registry.json (~/.config when the variable is not set), written atomically. The desktop
// folder that Windows keeps under "Shell Folders" comes from the XDG user directories.
#pragma once

#include "platform/registry_tree.h"

#include <string>

namespace platform::linux_backend {

class LinuxRegistry : public TreeRegistry {
public:
    // The folder that holds "purgelet/registry.json" and "user-dirs.dirs"; empty: the
    // environment decides on first use.
    explicit LinuxRegistry(std::string configFolder = "");

    // The file the user's keys are kept in.
    std::string FileName();

protected:
    void Prepare() override;
    LONG Changed(RegistryRoot root) override;
    bool BuiltInKey(RegistryRoot root, const std::string& path) override;
    std::optional<std::string> BuiltInValue(RegistryRoot root, const std::string& path,
                                            const std::string& name) override;

private:
    std::string ConfigFolder();
    std::string DesktopFolder();
    std::string NamedDesktopFolder(); // as the user directories name it, there or not

    std::string configFolder_;
    bool loaded_ = false;
    bool damaged_ = false; // the file could not be read as a registry; kept aside on save
};

} // namespace platform::linux_backend
