// Placeholder until the method reader lands.
#include "commands.h"

namespace purgelet::tool {

int RunMethods(const Args&) { return 2; }
int RunPreview(const Args&) { return 2; }

} // namespace purgelet::tool
