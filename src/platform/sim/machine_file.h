// Reading the machine file, for the files that parse their part of it.
#pragma once

#include "platform/codepage.h"
#include "platform/winapi.h"

#include <nlohmann/json.hpp>
#include <string>

namespace platform::sim {

// Refuses the machine file, naming where in it the fault lies.
[[noreturn]] void Bad(const std::string& where, const std::string& what);

// A media type by its name ("fixed", "removable", a floppy type's Windows name) or number.
MEDIA_TYPE ParseMediaType(const nlohmann::json& value, const std::string& where);

// A JSON library error in words, without the library's tag.
std::string JsonErrorText(const nlohmann::json::exception& error);

// object[key] as a T; fallback when it is absent or null, a refusal when it is no T.
template <class T>
T Get(const nlohmann::json& object, const char* key, T fallback, const std::string& where) {
    if (!object.contains(key) || object[key].is_null())
        return fallback;
    try {
        return object[key].get<T>();
    } catch (const nlohmann::json::exception& e) {
        Bad(where + "." + key, JsonErrorText(e));
    }
}

// A text the machine file hands the program (a name, a label): UTF-8 in the file, the
// program's Windows-1252 out, "?" for what that code page lacks.
inline std::string GetText(const nlohmann::json& object, const char* key,
                           const std::string& fallback, const std::string& where) {
    return Utf8ToCp1252(Get<std::string>(object, key, fallback, where));
}

} // namespace platform::sim
