// The registry on Windows: every call forwarded to the real advapi32 functions.
#include "platform/win32/backend.h"

#include <vector>

namespace platform {

namespace {

std::string WithoutLeadingSeparators(const std::string& path) {
    std::size_t start = path.find_first_not_of('\\');
    return start == std::string::npos ? std::string() : path.substr(start);
}

class Win32RegistryKey : public RegistryKey {
public:
    explicit Win32RegistryKey(HKEY key) : key_(key) {}
    ~Win32RegistryKey() override { ::RegCloseKey(key_); }
    Win32RegistryKey(const Win32RegistryKey&) = delete;
    Win32RegistryKey& operator=(const Win32RegistryKey&) = delete;

    LONG QueryString(const std::string& name, std::string& value) override {
        DWORD type = 0;
        DWORD size = 0;
        LONG status = ::RegQueryValueExA(key_, name.c_str(), nullptr, &type, nullptr, &size);
        if (status != ERROR_SUCCESS)
            return status;
        if (type != REG_SZ && type != REG_EXPAND_SZ)
            return ERROR_INVALID_DATA;
        std::vector<char> buffer(size + 1, '\0');
        status = ::RegQueryValueExA(key_, name.c_str(), nullptr, &type,
                                    reinterpret_cast<BYTE*>(buffer.data()), &size);
        if (status != ERROR_SUCCESS)
            return status;
        std::string text(buffer.data(), size);
        while (!text.empty() && text.back() == '\0')
            text.pop_back();
        value = text;
        return ERROR_SUCCESS;
    }

    LONG SetString(const std::string& name, const std::string& value) override {
        return ::RegSetValueExA(key_, name.c_str(), 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(value.c_str()),
                                static_cast<DWORD>(value.size() + 1));
    }

    LONG EnumKeys(std::vector<std::string>& names) override {
        names.clear();
        for (DWORD index = 0;; ++index) {
            char name[256];
            DWORD length = sizeof name;
            LONG status =
                ::RegEnumKeyExA(key_, index, name, &length, nullptr, nullptr, nullptr, nullptr);
            if (status == ERROR_NO_MORE_ITEMS)
                return ERROR_SUCCESS;
            if (status != ERROR_SUCCESS)
                return status;
            names.emplace_back(name, length);
        }
    }

private:
    HKEY key_;
};

class Win32Registry : public Registry {
public:
    LONG OpenKey(RegistryRoot root, const std::string& path, bool create,
                 std::unique_ptr<RegistryKey>& key) override {
        key.reset();
        HKEY rootKey = root == RegistryRoot::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
        std::string relative = WithoutLeadingSeparators(path);
        HKEY opened = nullptr;
        LONG status;
        if (create && root == RegistryRoot::CurrentUser)
            status =
                ::RegCreateKeyExA(rootKey, relative.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_READ | KEY_WRITE, nullptr, &opened, nullptr);
        else
            status = ::RegOpenKeyExA(
                rootKey, relative.c_str(), 0,
                root == RegistryRoot::CurrentUser ? KEY_READ | KEY_WRITE : KEY_READ, &opened);
        if (status == ERROR_SUCCESS)
            key = std::make_unique<Win32RegistryKey>(opened);
        return status;
    }
};

} // namespace

std::unique_ptr<Registry> CreateWin32Registry() {
    return std::make_unique<Win32Registry>();
}

} // namespace platform
