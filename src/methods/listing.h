// Text views of methods for purgelet-tool: the slot listing of "methods" and the hex dump
// of "preview". They live with the methods so that the tests check the very same text.
#pragma once

#include "methods/method.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace purgelet {

// "file: ", "name: ", "methodnr: " (shortest round-trip decimal), one "description: " per
// line, "shuffle: FROM TO" when given, then one line per slot ("pass N: hexa AA BB",
// "random MIN-MAX", "rndch MIN-MAX", "inv AA BB", "check N-1", " chgdir" appended where
// marked). Every line ends with "\n".
std::string DescribeMethod(const method& m);

// Upper-case two-digit hex, one space between bytes, 16 bytes a line, each line ended "\n".
std::string HexLines(const std::uint8_t* bytes, std::size_t count);

// What slot `pass` of the method file writes at the start of a disk: the standard generator
// is seeded with `seed` before the file is read, the switch set to ISAAC when isaac, then a
// wipe's ResetPasses, the cursor moved to the slot without drawing, and one FillBuffer of
// `count` bytes (starting from zeros). Raises XException for a file error or a slot
// outside 1..PassCount.
std::vector<std::uint8_t> PreviewPass(const std::string& path, std::int32_t pass, std::size_t count,
                                      bool isaac, std::uint32_t seed);

} // namespace purgelet
