#include "platform/registry_tree.h"

#include <set>

namespace platform {

std::string NormalRegistryPath(const std::string& path) {
    std::string result;
    std::string part;
    auto flush = [&] {
        if (part.empty())
            return;
        if (!result.empty())
            result += '\\';
        result += part;
        part.clear();
    };
    for (char c : path) {
        if (c == '\\')
            flush();
        else
            part += c;
    }
    flush();
    return result;
}

std::string RegistryFold(const std::string& name) {
    std::string folded = name;
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

bool RegistryTree::Assign(const nlohmann::json& document, std::string& why) {
    if (!document.is_object()) {
        why = "the registry is not an object of keys";
        return false;
    }
    std::map<std::string, Key> keys;
    for (const auto& [path, values] : document.items()) {
        if (!values.is_object()) {
            why = "key \"" + path + "\" is not an object of values";
            return false;
        }
        std::string normal = NormalRegistryPath(path);
        Key& key = keys[RegistryFold(normal)];
        key.path = normal;
        for (const auto& [name, value] : values.items()) {
            if (!value.is_string()) {
                why = "value \"" + name + "\" of key \"" + path + "\" is not a string";
                return false;
            }
            std::string folded = RegistryFold(name);
            bool replaced = false;
            for (auto& stored : key.values)
                if (RegistryFold(stored.first) == folded) {
                    stored.second = value.get<std::string>();
                    replaced = true;
                }
            if (!replaced)
                key.values.emplace_back(name, value.get<std::string>());
        }
    }
    keys_ = std::move(keys);
    return true;
}

nlohmann::json RegistryTree::ToJson() const {
    nlohmann::json document = nlohmann::json::object();
    for (const auto& [folded, key] : keys_) {
        nlohmann::json values = nlohmann::json::object();
        for (const auto& [name, value] : key.values)
            values[name] = value;
        document[key.path] = std::move(values);
    }
    return document;
}

RegistryTree::Key* RegistryTree::Find(const std::string& path) {
    auto found = keys_.find(RegistryFold(NormalRegistryPath(path)));
    return found == keys_.end() ? nullptr : &found->second;
}

const RegistryTree::Key* RegistryTree::Find(const std::string& path) const {
    auto found = keys_.find(RegistryFold(NormalRegistryPath(path)));
    return found == keys_.end() ? nullptr : &found->second;
}

bool RegistryTree::HasKey(const std::string& path) const {
    std::string folded = RegistryFold(NormalRegistryPath(path));
    if (folded.empty())
        return true; // the root itself
    if (keys_.count(folded) != 0)
        return true;
    // All keys below it sort together, right from the first one with its path and "\".
    const std::string prefix = folded + '\\';
    auto below = keys_.lower_bound(prefix);
    return below != keys_.end() && below->first.compare(0, prefix.size(), prefix) == 0;
}

void RegistryTree::CreateKey(const std::string& path) {
    std::string normal = NormalRegistryPath(path);
    if (normal.empty())
        return;
    Key& key = keys_[RegistryFold(normal)];
    if (key.path.empty())
        key.path = normal;
}

std::optional<std::string> RegistryTree::Value(const std::string& path,
                                               const std::string& name) const {
    const Key* key = Find(path);
    if (key == nullptr)
        return std::nullopt;
    std::string folded = RegistryFold(name);
    for (const auto& [stored, value] : key->values)
        if (RegistryFold(stored) == folded)
            return value;
    return std::nullopt;
}

void RegistryTree::SetValue(const std::string& path, const std::string& name,
                            const std::string& value) {
    CreateKey(path);
    Key* key = Find(path);
    if (key == nullptr)
        return; // the root holds no values here
    std::string folded = RegistryFold(name);
    for (auto& [stored, old] : key->values)
        if (RegistryFold(stored) == folded) {
            old = value; // the name keeps the case it was created with, as in Windows
            return;
        }
    key->values.emplace_back(name, value);
}

std::vector<std::string> RegistryTree::SubKeys(const std::string& path) const {
    std::string folded = RegistryFold(NormalRegistryPath(path));
    std::string prefix = folded.empty() ? "" : folded + '\\';
    std::vector<std::string> names;
    std::set<std::string> seen;
    for (const auto& [keyFolded, key] : keys_) {
        if (keyFolded.compare(0, prefix.size(), prefix) != 0 || keyFolded.size() == prefix.size())
            continue;
        std::size_t end = keyFolded.find('\\', prefix.size());
        std::string child = keyFolded.substr(prefix.size(), end - prefix.size());
        if (seen.insert(child).second)
            names.push_back(key.path.substr(prefix.size(), child.size()));
    }
    return names;
}

namespace {

class TreeKey : public RegistryKey {
public:
    TreeKey(TreeRegistry& registry, RegistryRoot root, std::string path)
        : registry_(registry), root_(root), path_(std::move(path)) {}

    LONG QueryString(const std::string& name, std::string& value) override {
        return registry_.Query(root_, path_, name, value);
    }
    LONG SetString(const std::string& name, const std::string& value) override {
        return registry_.Set(root_, path_, name, value);
    }
    LONG EnumKeys(std::vector<std::string>& names) override {
        return registry_.Enum(root_, path_, names);
    }

private:
    TreeRegistry& registry_;
    RegistryRoot root_;
    std::string path_;
};

} // namespace

LONG TreeRegistry::OpenKey(RegistryRoot root, const std::string& path, bool create,
                           std::unique_ptr<RegistryKey>& key) {
    key.reset();
    Prepare();
    std::string normal = NormalRegistryPath(path);
    if (!Tree(root).HasKey(normal) && !BuiltInKey(root, normal)) {
        if (!create)
            return ERROR_FILE_NOT_FOUND;
        if (root != RegistryRoot::CurrentUser)
            return ERROR_ACCESS_DENIED;
        Tree(root).CreateKey(normal);
        if (LONG status = Changed(root); status != ERROR_SUCCESS)
            return status;
    }
    key = std::make_unique<TreeKey>(*this, root, normal);
    return ERROR_SUCCESS;
}

LONG TreeRegistry::Query(RegistryRoot root, const std::string& path, const std::string& name,
                         std::string& value) {
    Prepare();
    auto stored = Tree(root).Value(path, name);
    if (!stored)
        stored = BuiltInValue(root, path, name);
    if (!stored)
        return ERROR_FILE_NOT_FOUND;
    value = *stored;
    return ERROR_SUCCESS;
}

LONG TreeRegistry::Set(RegistryRoot root, const std::string& path, const std::string& name,
                       const std::string& value) {
    if (root != RegistryRoot::CurrentUser)
        return ERROR_ACCESS_DENIED;
    Prepare();
    Tree(root).SetValue(path, name, value);
    return Changed(root);
}

LONG TreeRegistry::Enum(RegistryRoot root, const std::string& path,
                        std::vector<std::string>& names) {
    Prepare();
    names = Tree(root).SubKeys(path);
    return ERROR_SUCCESS;
}

} // namespace platform
