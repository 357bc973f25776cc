// A registry held as data: keys by path, string values by name. The Linux back-end keeps the
// user's registry this way in a JSON file, the simulated PC takes it from its machine file.
// Names keep the letter case they were created with and compare without regard to it.
#pragma once

#include "platform/registry.h"

#include <nlohmann/json.hpp>

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// The path without empty components ("\Software\\Quillon\" is "Software\Quillon").
std::string NormalRegistryPath(const std::string& path);
// ASCII lower case: how the registry compares names.
std::string RegistryFold(const std::string& name);

// The keys of one root. Invariant: every stored key path is normal; a key exists when it is
// stored or some stored key lies below it (so "Software" exists once any key under it does).
class RegistryTree {
public:
    // The JSON form is an object of key path -> object of value name -> string. Anything
    // else is refused: false, the tree unchanged and why says what was wrong.
    bool Assign(const nlohmann::json& document, std::string& why);
    nlohmann::json ToJson() const;

    bool HasKey(const std::string& path) const;
    void CreateKey(const std::string& path);
    std::optional<std::string> Value(const std::string& path, const std::string& name) const;
    void SetValue(const std::string& path, const std::string& name, const std::string& value);
    std::vector<std::string> SubKeys(const std::string& path) const;

private:
    struct Key {
        std::string path; // as created
        std::vector<std::pair<std::string, std::string>> values;
    };
    Key* Find(const std::string& path);
    const Key* Find(const std::string& path) const;

    std::map<std::string, Key> keys_; // by folded path
};

// A Registry over one tree per root. Subclasses persist changes and answer built-in values.
class TreeRegistry : public Registry {
public:
    LONG OpenKey(RegistryRoot root, const std::string& path, bool create,
                 std::unique_ptr<RegistryKey>& key) override;

    RegistryTree& Tree(RegistryRoot root) {
        return root == RegistryRoot::CurrentUser ? currentUser_ : localMachine_;
    }

    // For the keys of this registry: the operations on one key.
    LONG Query(RegistryRoot root, const std::string& path, const std::string& name,
               std::string& value);
    LONG Set(RegistryRoot root, const std::string& path, const std::string& name,
             const std::string& value);
    LONG Enum(RegistryRoot root, const std::string& path, std::vector<std::string>& names);

protected:
    // Called before any access: a back-end loads its store here.
    virtual void Prepare() {}
    // Called after a change of root's tree: ERROR_SUCCESS when it was kept.
    virtual LONG Changed(RegistryRoot /*root*/) { return ERROR_SUCCESS; }
    // Keys and values the back-end answers itself when nothing is stored.
    virtual bool BuiltInKey(RegistryRoot /*root*/, const std::string& /*path*/) { return false; }
    virtual std::optional<std::string>
    BuiltInValue(RegistryRoot /*root*/, const std::string& /*path*/, const std::string& /*name*/) {
        return std::nullopt;
    }

private:
    RegistryTree currentUser_;
    RegistryTree localMachine_;
};

} // namespace platform
