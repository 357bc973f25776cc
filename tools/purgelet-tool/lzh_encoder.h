// The LZHUF encoder of the companion tool: makes language files the program's decoder reads.
#pragma once

#include <string>
#include <string_view>

namespace purgelet::tool {

// A whole language file for `content`: its length as 4 bytes little-endian, then the code
// stream (greedy longest matches over the ring buffer that starts with 4036 spaces; matches
// may overlap their own output). Content of 4 GiB or more raises std::length_error.
std::string LzhPack(std::string_view content);

} // namespace purgelet::tool
