#include "platform/linux/registry.h"

#include "platform/codepage.h"

#include "platform/linux/errors.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::linux_backend {

namespace {

const char* const kShellFolders = "software\\microsoft\\windows\\currentversion\\explorer\\"
                                  "shell folders";

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0')
        return home;
    if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr)
        return entry->pw_dir;
    return "/";
}

// Creates folder and its missing parents; true when it exists afterwards.
bool MakeFolders(const std::string& folder) {
    struct stat st {};
    if (folder.empty() || stat(folder.c_str(), &st) == 0)
        return true;
    std::size_t slash = folder.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !MakeFolders(folder.substr(0, slash)))
        return false;
    return mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

// Writes text to name through a temporary file in the same folder: a crash or a full disk
// leaves either the old file or the new one, never a part of one.
LONG WriteAtomically(const std::string& name, const std::string& text) {
    std::string temporary = name + ".tmp" + std::to_string(getpid());
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return static_cast<LONG>(Win32ErrorFromErrno(errno));
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            int error = n < 0 ? errno : ENOSPC;
            close(fd);
            unlink(temporary.c_str());
            return static_cast<LONG>(Win32ErrorFromErrno(error));
        }
        done += static_cast<std::size_t>(n);
    }
    if (fsync(fd) != 0) {
        int error = errno;
        close(fd);
        unlink(temporary.c_str());
        return static_cast<LONG>(Win32ErrorFromErrno(error));
    }
    if (close(fd) != 0 || rename(temporary.c_str(), name.c_str()) != 0) {
        int error = errno;
        unlink(temporary.c_str());
        return static_cast<LONG>(Win32ErrorFromErrno(error));
    }
    return ERROR_SUCCESS;
}

// The file is JSON, whose strings are Unicode, while the program's values are Windows-1252
// bytes (a localised "L\xF6schbericht.log"). Each byte is stored as the character it stands
// for in Windows-1252; its five unassigned bytes as the C1 control of the same number. That
// maps the 256 bytes to 256 different characters, so every byte string comes back unchanged
// and the file stays readable.
std::string StoredText(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        AppendUtf8(out, Cp1252ToUnicode(b));
    }
    return out;
}

// The byte of a character read from the file. A character Windows-1252 lacks (written into
// the file by hand) becomes "?", as the system's own conversion to ANSI does.
char ByteOf(std::uint32_t code) {
    const auto byte = UnicodeToCp1252(code, true);
    return byte ? static_cast<char>(*byte) : '?';
}

// The parser has already refused malformed UTF-8; anything left that is not (it cannot be
// written by the program) becomes "?" byte by byte.
std::string ValueText(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const std::optional<char32_t> code = NextUtf8(utf8, i);
        if (!code)
            ++i;
        out += code ? ByteOf(*code) : '?';
    }
    return out;
}

// The document with every key path, value name and value passed through convert; anything
// that is not a string in its place is kept, for the tree to refuse.
nlohmann::json Converted(const nlohmann::json& document,
                         std::string (*convert)(const std::string&)) {
    if (!document.is_object())
        return document;
    nlohmann::json result = nlohmann::json::object();
    for (const auto& [path, values] : document.items()) {
        nlohmann::json key = values;
        if (values.is_object()) {
            key = nlohmann::json::object();
            for (const auto& [name, value] : values.items())
                key[convert(name)] =
                    value.is_string() ? nlohmann::json(convert(value.get<std::string>())) : value;
        }
        result[convert(path)] = std::move(key);
    }
    return result;
}

} // namespace

LinuxRegistry::LinuxRegistry(std::string configFolder) : configFolder_(std::move(configFolder)) {}

std::string LinuxRegistry::ConfigFolder() {
    if (configFolder_.empty()) {
        // The XDG rule: only an absolute path counts.
        const char* xdg = std::getenv("XDG_CONFIG_HOME");
        configFolder_ =
            xdg != nullptr && xdg[0] == '/' ? std::string(xdg) : HomeFolder() + "/.config";
    }
    return configFolder_;
}

std::string LinuxRegistry::FileName() {
    return ConfigFolder() + "/purgelet/registry.json";
}

void LinuxRegistry::Prepare() {
    if (loaded_)
        return;
    loaded_ = true;
    std::ifstream file(FileName(), std::ios::binary);
    if (!file)
        return; // no file yet: the first start
    std::string why;
    try {
        nlohmann::json document = nlohmann::json::parse(file);
        if (Tree(RegistryRoot::CurrentUser).Assign(Converted(document, ValueText), why))
            return;
    } catch (const std::exception& error) {
        why = error.what();
    }
    damaged_ = true;
    try {
        ReportRegistryTrouble("TLinuxRegistry.Load - " + FileName() +
                              " : damaged, read as empty (" + why + ")");
    } catch (...) {
        // The registry promises status codes: nothing may leave it as an exception.
    }
}

LONG LinuxRegistry::Changed(RegistryRoot root) {
    if (root != RegistryRoot::CurrentUser)
        return ERROR_ACCESS_DENIED;
    // The registry promises status codes: nothing may leave it as an exception, and a value
    // that could not be kept is logged here, where the reason is known.
    std::string name;
    LONG status = ERROR_SUCCESS;
    std::string why;
    try {
        name = FileName();
        if (!MakeFolders(name.substr(0, name.find_last_of('/')))) {
            status = static_cast<LONG>(Win32ErrorFromErrno(errno));
        } else {
            if (damaged_) {
                // The damaged file is kept beside the new one, so nothing the user had is lost.
                std::string aside = name + ".damaged";
                if (std::rename(name.c_str(), aside.c_str()) == 0)
                    ReportRegistryTrouble("TLinuxRegistry.Save - damaged file kept as " + aside);
                damaged_ = false;
            }
            status =
                WriteAtomically(name, Converted(Tree(root).ToJson(), StoredText).dump(2) + "\n");
        }
        if (status == ERROR_SUCCESS)
            return status;
        why = Win32ErrorText(static_cast<DWORD>(status));
    } catch (const std::exception& error) {
        status = ERROR_INVALID_DATA;
        why = error.what();
    } catch (...) {
        status = ERROR_INVALID_DATA;
        why = "unknown failure";
    }
    try {
        ReportRegistryTrouble("TLinuxRegistry.Save - " + name + " : not written, " + why);
    } catch (...) {
    }
    return status;
}

bool LinuxRegistry::BuiltInKey(RegistryRoot root, const std::string& path) {
    return root == RegistryRoot::CurrentUser && RegistryFold(path) == kShellFolders;
}

std::optional<std::string> LinuxRegistry::BuiltInValue(RegistryRoot root, const std::string& path,
                                                       const std::string& name) {
    if (root == RegistryRoot::CurrentUser && RegistryFold(path) == kShellFolders &&
        RegistryFold(name) == "desktop")
        return DesktopFolder();
    return std::nullopt;
}

// XDG_DESKTOP_DIR of user-dirs.dirs ("$HOME/Desktop" or an absolute path), else ~/Desktop;
// a desktop folder that is not there (a fresh account, a server) is the home folder, as the
// user directories fall back to it.
std::string LinuxRegistry::DesktopFolder() {
    std::string desktop = NamedDesktopFolder();
    struct stat folder {};
    if (::stat(desktop.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode))
        return HomeFolder();
    return desktop;
}

std::string LinuxRegistry::NamedDesktopFolder() {
    std::string home = HomeFolder();
    std::ifstream dirs(ConfigFolder() + "/user-dirs.dirs");
    std::string line;
    while (std::getline(dirs, line)) {
        std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#')
            continue;
        const std::string key = "XDG_DESKTOP_DIR=";
        if (line.compare(start, key.size(), key) != 0)
            continue;
        std::string value = line.substr(start + key.size());
        while (!value.empty() &&
               (value.back() == ' ' || value.back() == '\t' || value.back() == '\r'))
            value.pop_back();
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value.compare(0, 5, "$HOME") == 0)
            value = home + value.substr(5);
        if (!value.empty() && value[0] == '/')
            return value;
    }
    return home + "/Desktop";
}

} // namespace platform::linux_backend
