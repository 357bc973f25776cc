#include "record/record_chain.h"

#include <algorithm>
#include <map>
#include <tuple>
#include <utility>

namespace purgelet::record {

namespace {

constexpr std::size_t kNone = TChainOrder::kNone;

// Which entry follows which: each entry's followers, and the entries that follow none given.
struct TLinks {
    std::vector<std::vector<std::size_t>> children;
    std::vector<std::size_t> roots;
};

// A digest given again is the same record again: the first given stands for it.
std::map<std::string, std::size_t> IndexDigests(const std::vector<TChainEntry>& entries,
                                                TChainOrder& order) {
    std::map<std::string, std::size_t> byDigest;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].Digest.empty())
            continue;
        auto [at, added] = byDigest.emplace(entries[i].Digest, i);
        if (!added) {
            order.Fault[i] = TChainFault::Duplicate;
            order.Related[i] = at->second;
        }
    }
    return byDigest;
}

TLinks Link(const std::vector<TChainEntry>& entries,
            const std::map<std::string, std::size_t>& byDigest, const TChainOrder& order) {
    TLinks links;
    links.children.resize(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (order.Fault[i] == TChainFault::Duplicate)
            continue;
        auto found =
            entries[i].Previous.empty() ? byDigest.end() : byDigest.find(entries[i].Previous);
        if (found != byDigest.end() && found->second != i)
            links.children[found->second].push_back(i);
        else
            links.roots.push_back(i);
    }
    return links;
}

// The length of the longest line from each entry on. Each entry has one parent at most, and
// a digest covers the previous one's, so the links form trees: walked without recursion,
// children before their parent.
std::vector<std::size_t> LineLengths(const TLinks& links) {
    std::vector<std::size_t> length(links.children.size(), 0);
    for (std::size_t root : links.roots) {
        std::vector<std::pair<std::size_t, bool>> stack{{root, false}};
        while (!stack.empty()) {
            auto [entry, childrenDone] = stack.back();
            stack.pop_back();
            if (childrenDone) {
                std::size_t longest = 0;
                for (std::size_t child : links.children[entry])
                    longest = std::max(longest, length[child]);
                length[entry] = longest + 1;
                continue;
            }
            stack.push_back({entry, true});
            for (std::size_t child : links.children[entry])
                stack.push_back({child, false});
        }
    }
    return length;
}

// The better of two starts or two followers: longer, then a first record, then given first.
class TPreference {
public:
    TPreference(const std::vector<TChainEntry>& entries, std::vector<std::size_t> length)
        : entries_(entries), length_(std::move(length)) {}

    bool Better(std::size_t a, std::size_t b) const {
        const std::size_t n = entries_.size();
        return std::make_tuple(length_[a], entries_[a].Previous.empty(), n - a) >
               std::make_tuple(length_[b], entries_[b].Previous.empty(), n - b);
    }

    std::size_t Best(const std::vector<std::size_t>& candidates) const {
        std::size_t best = candidates.front();
        for (std::size_t candidate : candidates)
            if (Better(candidate, best))
                best = candidate;
        return best;
    }

private:
    const std::vector<TChainEntry>& entries_;
    std::vector<std::size_t> length_;
};

// Everything below an entry off the chain follows it off the chain.
void MarkBelow(std::size_t top, const TLinks& links, TChainOrder& order) {
    std::vector<std::size_t> stack(links.children[top].begin(), links.children[top].end());
    while (!stack.empty()) {
        const std::size_t entry = stack.back();
        stack.pop_back();
        order.Fault[entry] = TChainFault::OffChain;
        order.Related[entry] = top;
        stack.insert(stack.end(), links.children[entry].begin(), links.children[entry].end());
    }
}

// The chain from its first entry, by the better follower at each step; the other followers
// are forks, off the chain with all that follows them.
void FollowChain(std::size_t first, const TLinks& links, const TPreference& preference,
                 TChainOrder& order) {
    for (std::size_t entry = first;;) {
        order.Position[entry] = static_cast<long>(order.Main.size());
        order.Main.push_back(entry);
        const std::vector<std::size_t>& children = links.children[entry];
        if (children.empty())
            break;
        const std::size_t next = preference.Best(children);
        for (std::size_t child : children) {
            if (child == next)
                continue;
            order.Fault[child] = TChainFault::Fork;
            order.Related[child] = next;
            MarkBelow(child, links, order);
        }
        entry = next;
    }
}

} // namespace

TChainOrder OrderChain(const std::vector<TChainEntry>& entries) {
    const std::size_t n = entries.size();
    TChainOrder order;
    order.Position.assign(n, -1);
    order.Fault.assign(n, TChainFault::None);
    order.Related.assign(n, kNone);

    const TLinks links = Link(entries, IndexDigests(entries, order), order);
    if (links.roots.empty())
        return order;
    const TPreference preference(entries, LineLengths(links));
    const std::size_t first = preference.Best(links.roots);
    order.StartsInside = !entries[first].Previous.empty();
    FollowChain(first, links, preference, order);
    // Every other start is off the chain, with all that follows it.
    for (std::size_t root : links.roots) {
        if (root == first)
            continue;
        order.Fault[root] =
            entries[root].Previous.empty() ? TChainFault::SecondFirst : TChainFault::Gap;
        order.Related[root] = first;
        MarkBelow(root, links, order);
    }
    return order;
}

} // namespace purgelet::record
