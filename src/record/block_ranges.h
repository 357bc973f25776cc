// Block numbers as the report and the certificate name them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace purgelet::record {

// Ascending, each once, runs of consecutive blocks as first-last: "12-15, 40".
std::string BlockRangesText(std::vector<std::int64_t> blocks);

} // namespace purgelet::record
