#include "platform/registry.h"

#include <utility>

namespace platform {

namespace {
std::function<void(const std::string&)>& Reporter() {
    static std::function<void(const std::string&)> reporter;
    return reporter;
}
} // namespace

void SetRegistryTroubleReporter(std::function<void(const std::string&)> reporter) {
    Reporter() = std::move(reporter);
}

void ReportRegistryTrouble(const std::string& message) {
    if (Reporter())
        Reporter()(message);
}

} // namespace platform
