// The order of a folder's records by their chain: each record names the digest of the one
// written before it, so the chain, not the clock, says which came first. Records given from
// one folder form one chain from one first record; whatever does not fit is named.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace purgelet::record {

struct TChainEntry {
    std::string Digest;   // as stored (empty: never sealed)
    std::string Previous; // as stored (empty: the first of a chain)
};

enum class TChainFault {
    None,
    Duplicate,   // the same record (digest) as Related, given again
    SecondFirst, // a first record besides the chain's own (Related)
    Gap,         // the record before it is not among those given
    Fork,        // it follows the same record as Related, which the chain goes on with
    OffChain,    // it follows Related, a record that is not in the chain
};

// The entries' chain: invariant, every entry is either in Main (Position its place there,
// Fault None) or off it (Position -1, Fault not None).
struct TChainOrder {
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    std::vector<std::size_t> Main; // entries in chain order, from its first record
    std::vector<long> Position;    // per entry: its place in Main, -1 off the chain
    std::vector<TChainFault> Fault;
    std::vector<std::size_t> Related; // per entry: the entry its fault names, else kNone
    // Main's first record names a previous one not among those given: the records before
    // it were not given (the chain's tail alone), which is no fault of the records given.
    bool StartsInside = false;
};

// The chain is the longest line of records each naming the one before; of equal ones, the
// one that starts with a first record, then the one given first.
TChainOrder OrderChain(const std::vector<TChainEntry>& entries);

} // namespace purgelet::record
