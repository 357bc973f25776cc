// The decoder of the language file: a 4-byte little-endian length L followed by an LZHUF
// code stream. The program only ever reads such files; making them is the companion tool's.
#pragma once

#include <istream>
#include <ostream>

namespace purgelet {

class TLZHPacker {
public:
    // Decodes a whole language file from the source's current position and appends the
    // decoded bytes to `dest`. True when all L declared bytes were produced (L = 0 produces
    // nothing). False when the header is incomplete, the code stream ends or fails to read
    // before L bytes were produced, or `dest` fails; what was decoded until then has been
    // appended. Never reads past the end of the stream, never produces a byte without input
    // behind it, and never reserves memory from L.
    bool Unpack(std::istream& source, std::ostream& dest);
};

} // namespace purgelet
