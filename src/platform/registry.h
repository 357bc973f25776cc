// The program's view of the registry: keys opened under a root, string values, subkeys.
// Results are Win32 status codes (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ...), as RegOpenKeyEx
// and its family return them. Key and value names compare without regard to letter case on
// every back-end, as the Windows registry compares them.
#pragma once

#include "platform/winapi.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

enum class RegistryRoot {
    CurrentUser,  // HKEY_CURRENT_USER
    LocalMachine, // HKEY_LOCAL_MACHINE (read only here: the program never writes there)
};

// One open key; closed when released.
class RegistryKey {
public:
    virtual ~RegistryKey() = default;

    // ERROR_SUCCESS and the stored text; ERROR_FILE_NOT_FOUND when no value of that name
    // exists, so a missing value is told apart from an empty one.
    virtual LONG QueryString(const std::string& name, std::string& value) = 0;
    // Stores a REG_SZ value, replacing any value of that name.
    virtual LONG SetString(const std::string& name, const std::string& value) = 0;
    // The names of the direct subkeys, in the registry's order.
    virtual LONG EnumKeys(std::vector<std::string>& names) = 0;
};

class Registry {
public:
    virtual ~Registry() = default;

    // Opens path ("Software\Quillon\Purgelet 2005"; a leading "\" is allowed and ignored)
    // under root. With create, missing keys along the path are created (CurrentUser only).
    // On failure key stays empty and the status says why.
    virtual LONG OpenKey(RegistryRoot root, const std::string& path, bool create,
                         std::unique_ptr<RegistryKey>& key) = 0;
};

// Where a back-end reports trouble it absorbs itself (a damaged registry file treated as
// empty). The program points it at its error log; by default nothing is reported.
void SetRegistryTroubleReporter(std::function<void(const std::string&)> reporter);
void ReportRegistryTrouble(const std::string& message);

} // namespace platform
