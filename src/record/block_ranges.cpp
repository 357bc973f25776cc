#include "record/block_ranges.h"

#include <algorithm>

namespace purgelet::record {

std::string BlockRangesText(std::vector<std::int64_t> blocks) {
    std::sort(blocks.begin(), blocks.end());
    blocks.erase(std::unique(blocks.begin(), blocks.end()), blocks.end());
    std::string text;
    for (std::size_t i = 0; i < blocks.size();) {
        std::size_t last = i;
        while (last + 1 < blocks.size() && blocks[last + 1] == blocks[last] + 1)
            ++last;
        if (!text.empty())
            text += ", ";
        text += std::to_string(blocks[i]);
        if (last > i)
            text += "-" + std::to_string(blocks[last]);
        i = last + 1;
    }
    return text;
}

} // namespace purgelet::record
