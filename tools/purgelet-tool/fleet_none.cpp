// The Windows build of the tool has no fleet database: libpq is a dependency of the Linux
// build only, which is where records are gathered.
#include "commands.h"

#include <iostream>

namespace purgelet::tool {

int RunFleet(const Args&) {
    std::cerr << "purgelet-tool: this build has no fleet database; use the Linux build's "
                 "purgelet-tool\n";
    return 2;
}

} // namespace purgelet::tool
