#include "platform/sim/registry.h"

#include "platform/codepage.h"

#include <fstream>
#include <stdexcept>
#include <system_error>

namespace platform::sim {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

const char* const kShellFolders = "software\\microsoft\\windows\\currentversion\\explorer\\"
                                  "shell folders";

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

// A root's keys with every path, name and value through convert (UTF-8 files, Windows-1252
// program); what is not a string where one belongs is kept for the tree to refuse.
json ConvertedKeys(const json& keys, std::string (*convert)(std::string_view)) {
    if (!keys.is_object())
        return keys;
    json result = json::object();
    for (const auto& [path, values] : keys.items()) {
        json key = values;
        if (values.is_object()) {
            key = json::object();
            for (const auto& [name, value] : values.items())
                key[convert(name)] =
                    value.is_string() ? json(convert(value.get<std::string>())) : value;
        }
        result[convert(path)] = std::move(key);
    }
    return result;
}

// Whether the file says anything: the registry error goes nowhere when it cannot be told.
void Trouble(const std::string& message) {
    try {
        ReportRegistryTrouble(message);
    } catch (...) {
        // The registry promises status codes: nothing may leave it as an exception.
    }
}

} // namespace

SimRegistry::SimRegistry(const json& contents) {
    if (contents.is_null())
        return;
    if (!contents.is_object())
        throw std::invalid_argument("registry: not an object of root keys");
    for (const auto& [name, keys] : contents.items()) {
        RegistryRoot root;
        if (!RootOf(name, root))
            throw std::invalid_argument("registry: unknown root key \"" + name + "\"");
        std::string why;
        if (!Tree(root).Assign(ConvertedKeys(keys, Utf8ToCp1252), why))
            throw std::invalid_argument("registry: " + name + ": " + why);
    }
}

SimRegistry::SimRegistry(const json& contents, fs::path file, std::string desktopFolder)
    : SimRegistry(contents) {
    file_ = std::move(file);
    desktopFolder_ = std::move(desktopFolder);
}

json SimRegistry::ToJson() {
    Prepare();
    return {{"HKEY_CURRENT_USER", Tree(RegistryRoot::CurrentUser).ToJson()},
            {"HKEY_LOCAL_MACHINE", Tree(RegistryRoot::LocalMachine).ToJson()}};
}

void SimRegistry::Prepare() {
    if (loaded_)
        return;
    loaded_ = true;
    if (!file_.empty())
        Load();
}

// The file's keys go over the machine file's, so a value the machine file seeds is there
// until the program stores its own. A damaged file changes nothing.
void SimRegistry::Load() {
    std::error_code ec;
    if (!fs::exists(file_, ec))
        return; // the first start
    std::string why;
    try {
        std::ifstream in(file_, std::ios::binary);
        if (!in)
            throw std::runtime_error("cannot be read");
        const json document = json::parse(in);
        RegistryTree stored;
        if (!document.is_object() || document.size() != 1 ||
            !document.contains("HKEY_CURRENT_USER"))
            why = "not an object holding \"HKEY_CURRENT_USER\" alone";
        else if (stored.Assign(ConvertedKeys(document["HKEY_CURRENT_USER"], Utf8ToCp1252), why)) {
            RegistryTree& tree = Tree(RegistryRoot::CurrentUser);
            const json keys = stored.ToJson();
            for (const auto& [path, values] : keys.items()) {
                tree.CreateKey(path);
                for (const auto& [name, value] : values.items())
                    tree.SetValue(path, name, value.get<std::string>());
            }
            return;
        }
    } catch (const std::exception& error) {
        why = error.what();
    }
    damaged_ = true;
    Trouble("TSimRegistry.Load - " + file_.string() +
            " : damaged, the machine file's registry is used (" + why + ")");
}

LONG SimRegistry::Changed(RegistryRoot root) {
    if (root != RegistryRoot::CurrentUser)
        return ERROR_ACCESS_DENIED;
    if (file_.empty())
        return ERROR_SUCCESS;
    std::string why;
    try {
        if (Save(why))
            return ERROR_SUCCESS;
    } catch (const std::exception& error) {
        why = error.what();
    }
    Trouble("TSimRegistry.Save - " + file_.string() + " : not written, " + why);
    return ERROR_WRITE_FAULT;
}

// Written through a temporary file beside it and renamed over it, so a failure leaves the
// old file whole; a damaged file is first kept aside, so nothing the user had is lost.
bool SimRegistry::Save(std::string& why) {
    std::error_code ec;
    if (file_.has_parent_path())
        fs::create_directories(file_.parent_path(), ec);
    if (damaged_ && fs::is_regular_file(file_, ec)) {
        fs::path aside = file_;
        aside += ".damaged";
        fs::rename(file_, aside, ec);
        if (!ec)
            Trouble("TSimRegistry.Save - damaged file kept as " + aside.string());
        damaged_ = false;
    }
    const json document = {{"HKEY_CURRENT_USER",
                            ConvertedKeys(Tree(RegistryRoot::CurrentUser).ToJson(), Cp1252ToUtf8)}};
    fs::path temporary = file_;
    temporary += ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << document.dump(2) << '\n';
        out.flush();
        if (!out) {
            why = "\"" + temporary.string() + "\" cannot be written";
            out.close();
            fs::remove(temporary, ec);
            return false;
        }
    }
    fs::rename(temporary, file_, ec);
    if (ec) {
        why = ec.message();
        fs::remove(temporary, ec);
        return false;
    }
    return true;
}

bool SimRegistry::BuiltInKey(RegistryRoot root, const std::string& path) {
    return !desktopFolder_.empty() && root == RegistryRoot::CurrentUser &&
           RegistryFold(path) == kShellFolders;
}

std::optional<std::string> SimRegistry::BuiltInValue(RegistryRoot root, const std::string& path,
                                                     const std::string& name) {
    if (BuiltInKey(root, path) && RegistryFold(name) == "desktop")
        return desktopFolder_;
    return std::nullopt;
}

std::unique_ptr<Registry> CreateSimRegistry(const json& contents) {
    return std::make_unique<SimRegistry>(contents);
}

std::unique_ptr<Registry> CreateSimRegistry(const json& contents, const fs::path& file,
                                            const std::string& desktopFolder) {
    return std::make_unique<SimRegistry>(contents, file, desktopFolder);
}

} // namespace platform::sim
