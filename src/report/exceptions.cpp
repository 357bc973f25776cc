#include "report/exceptions.h"

#include "platform/system.h"
#include "report/errorlog.h"

#include <typeinfo>
#if defined(__GNUG__)
#include <cstdlib>
#include <cxxabi.h>
#include <memory>
#endif

namespace purgelet {

namespace {
std::uint32_t CurrentErrorCode() {
    return platform::k32().GetLastError();
}
} // namespace

// The error code is read first, before anything else can change it.
XException::XException(const std::string& message) : XException(CurrentErrorCode(), message) {}

XException::XException(std::uint32_t code, const std::string& message)
    : std::runtime_error(message), ErrorCode(code),
      ErrorText(platform::k32().SysErrorMessage(code)) {
    LogError(message);
}

std::string ClassNameOf(const std::exception& error) {
    const char* raw = typeid(error).name();
    std::string name = raw;
#if defined(__GNUG__)
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(
        abi::__cxa_demangle(raw, nullptr, nullptr, &status), std::free);
    if (status == 0 && demangled)
        name = demangled.get();
#endif
    const std::string ours = "purgelet::";
    if (name.rfind(ours, 0) == 0)
        name.erase(0, ours.size());
    return name;
}

} // namespace purgelet
