// Placeholder: writes a language file with empty content until the packer lands.
#include "commands.h"

#include <fstream>

namespace purgelet::tool {

int RunLang(const Args& args) {
    if (args.size() == 3 && args[0] == "pack") {
        std::ofstream out(args[2], std::ios::binary);
        const char empty[4] = {0, 0, 0, 0};
        out.write(empty, 4);
        return out ? 0 : 1;
    }
    return 2;
}

} // namespace purgelet::tool
