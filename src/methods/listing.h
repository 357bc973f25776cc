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

// The bytes of one transfer when none is given: the options' default overwrite buffer.
inline constexpr std::size_t kPreviewTransferBytes = 512 * 1024;

// What slot `pass` of the method file writes over the first `count` bytes of a disk, as the
// engine writes it, one transfer of `transfer` bytes after the other: the standard generator
// is seeded with `seed` before the file is read, the switch set to ISAAC when isaac, then a
// wipe's ResetPasses and the cursor moved to the slot without drawing. Each transfer is a
// FillBuffer of a whole transfer, of which the part before `count` is kept; a fixed pattern
// is drawn once and so starts again with every transfer, random bytes are drawn afresh.
// Raises XException for a file error, a slot outside 1..PassCount or a transfer of 0 bytes.
std::vector<std::uint8_t> PreviewPass(const std::string& path, std::int32_t pass, std::size_t count,
                                      bool isaac, std::uint32_t seed,
                                      std::size_t transfer = kPreviewTransferBytes);

} // namespace purgelet
