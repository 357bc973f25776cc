// The drive letter a Win32 path starts with, as every layer reads it from a path or a root.
#pragma once

#include <cctype>
#include <string_view>

namespace platform {

// The letter of a path "C:\...", "c:", upper case; 0 when the path does not start with one.
inline char DriveLetterOf(std::string_view path) {
    if (path.size() < 2 || path[1] != ':' || !std::isalpha(static_cast<unsigned char>(path[0])))
        return 0;
    return static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
}

} // namespace platform
