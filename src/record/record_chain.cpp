#include "record/record_chain.h"

#include <algorithm>
#include <map>
#include <tuple>

namespace purgelet::record {

TChainOrder OrderChain(const std::vector<TChainEntry>& entries) {
    const std::size_t n = entries.size();
    constexpr std::size_t kNone = TChainOrder::kNone;
    TChainOrder order;
    order.Position.assign(n, -1);
    order.Fault.assign(n, TChainFault::None);
    order.Related.assign(n, kNone);

    std::map<std::string, std::size_t> byDigest;
    for (std::size_t i = 0; i < n; ++i) {
        if (entries[i].Digest.empty())
            continue;
        auto [at, added] = byDigest.emplace(entries[i].Digest, i);
        if (!added) {
            order.Fault[i] = TChainFault::Duplicate;
            order.Related[i] = at->second;
        }
    }
    std::vector<std::size_t> parent(n, kNone);
    std::vector<std::vector<std::size_t>> children(n);
    std::vector<std::size_t> roots;
    for (std::size_t i = 0; i < n; ++i) {
        if (order.Fault[i] == TChainFault::Duplicate)
            continue;
        auto found =
            entries[i].Previous.empty() ? byDigest.end() : byDigest.find(entries[i].Previous);
        if (found != byDigest.end() && found->second != i) {
            parent[i] = found->second;
            children[found->second].push_back(i);
        } else {
            roots.push_back(i);
        }
    }
    // The length of the longest line from each entry on. Each entry has one parent at most,
    // and a digest covers the previous one's, so the links form trees: walked without
    // recursion, children before their parent.
    std::vector<std::size_t> length(n, 0);
    std::vector<std::size_t> walk;
    for (std::size_t root : roots) {
        std::vector<std::pair<std::size_t, bool>> stack{{root, false}};
        while (!stack.empty()) {
            auto [entry, childrenDone] = stack.back();
            stack.pop_back();
            if (childrenDone) {
                std::size_t longest = 0;
                for (std::size_t child : children[entry])
                    longest = std::max(longest, length[child]);
                length[entry] = longest + 1;
                continue;
            }
            stack.push_back({entry, true});
            for (std::size_t child : children[entry])
                stack.push_back({child, false});
        }
    }
    if (roots.empty())
        return order;
    // The better of two starts or two followers: longer, then a first record, then given first.
    auto better = [&](std::size_t a, std::size_t b) {
        return std::make_tuple(length[a], entries[a].Previous.empty(), n - a) >
               std::make_tuple(length[b], entries[b].Previous.empty(), n - b);
    };
    std::size_t first = roots.front();
    for (std::size_t root : roots)
        if (better(root, first))
            first = root;
    order.StartsInside = !entries[first].Previous.empty();

    // Everything below an entry off the chain follows it off the chain.
    auto markBelow = [&](std::size_t top) {
        std::vector<std::size_t> stack(children[top].begin(), children[top].end());
        while (!stack.empty()) {
            const std::size_t entry = stack.back();
            stack.pop_back();
            order.Fault[entry] = TChainFault::OffChain;
            order.Related[entry] = top;
            stack.insert(stack.end(), children[entry].begin(), children[entry].end());
        }
    };
    for (std::size_t entry = first;;) {
        order.Position[entry] = static_cast<long>(order.Main.size());
        order.Main.push_back(entry);
        if (children[entry].empty())
            break;
        std::size_t next = children[entry].front();
        for (std::size_t child : children[entry])
            if (better(child, next))
                next = child;
        for (std::size_t child : children[entry]) {
            if (child == next)
                continue;
            order.Fault[child] = TChainFault::Fork;
            order.Related[child] = next;
            markBelow(child);
        }
        entry = next;
    }
    for (std::size_t root : roots) {
        if (root == first)
            continue;
        order.Fault[root] =
            entries[root].Previous.empty() ? TChainFault::SecondFirst : TChainFault::Gap;
        order.Related[root] = first;
        markBelow(root);
    }
    return order;
}

} // namespace purgelet::record
