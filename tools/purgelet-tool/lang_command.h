// `purgelet-tool lang`: pack a source text into a language file, dump one, or look a text up
// in one exactly as the program would.
#pragma once

#include "purgelet-tool/commands.h"

#include <ostream>

namespace purgelet::tool {

// Exit codes: 0 done, 1 a file could not be read or written or the source is faulty,
// 2 usage or (dump) a damaged language file.
int LangCommand(const Args& args, std::ostream& out, std::ostream& err);

} // namespace purgelet::tool
