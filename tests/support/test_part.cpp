#include "support/test_part.h"

#include <cstdio>
#include <map>

namespace purgelet::testing {

namespace {

std::map<std::string, TestPart>& Parts() {
    static std::map<std::string, TestPart> parts; // made on first use: static initialisers
    return parts;
}

} // namespace

bool RegisterTestPart(const std::string& name, TestPart part) {
    Parts()[name] = part;
    return true;
}

std::optional<int> RunRequestedTestPart(int argc, char** argv) {
    const std::string prefix = TestPartFlag("");
    if (argc < 2 || std::string(argv[1]).rfind(prefix, 0) != 0)
        return std::nullopt;
    const std::string name = std::string(argv[1]).substr(prefix.size());
    const auto found = Parts().find(name);
    if (found == Parts().end()) {
        std::fprintf(stderr, "no test part %s\n", name.c_str());
        return 125;
    }
    return found->second(argc > 2 ? argv[2] : "");
}

} // namespace purgelet::testing
