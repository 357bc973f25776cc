// Reading the machine file, for the files that parse their part of it.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace platform::sim {

// Refuses the machine file, naming where in it the fault lies.
[[noreturn]] void Bad(const std::string& where, const std::string& what);

// object[key] as a T; fallback when it is absent or null, a refusal when it is no T.
template <class T>
T Get(const nlohmann::json& object, const char* key, T fallback, const std::string& where) {
    if (!object.contains(key) || object[key].is_null())
        return fallback;
    try {
        return object[key].get<T>();
    } catch (const nlohmann::json::exception& e) {
        Bad(where + "." + key, e.what());
    }
}

} // namespace platform::sim
