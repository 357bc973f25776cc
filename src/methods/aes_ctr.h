// AES-256 in counter mode as a random source: several gigabytes a second on one core where
// the processor has AES instructions, against ISAAC's one and a half. The cipher is the
// system's (platform::Crypto); what is ours is the key and the counter, a plain value held
// with the other generators, so that a wipe's state is still saved and put back by copying.
#pragma once

#include "methods/isaac.h"
#include "platform/identity.h"

#include <cstddef>
#include <cstdint>

namespace purgelet {

struct TAesCtrState {
    platform::AesKey Key{};
    std::uint64_t Block = 0; // the next counter block
};

// A new key of eight ISAAC results, the counter from 0: drives of one run have their own ISAAC
// seeds, so never the same stream.
void AesCtrKey(TAesCtrState& s, IsaacState& isaac);

// count bytes of the key stream, from the next counter block on. Every call starts on a block
// of its own: the bytes of a last partial block are not used again.
void AesCtrFill(TAesCtrState& s, std::uint8_t* buffer, std::size_t count);

// byte k := low + (word k * range) >> 32 for the key stream's little-endian 32-bit words
// k = 0 .. count - 1 (four bytes of stream a byte, as ISAAC gives one result a byte). range is
// 1 .. 256.
void AesCtrRandomBytes(TAesCtrState& s, std::uint8_t* buffer, std::size_t count,
                       std::uint32_t range, std::uint8_t low);

} // namespace purgelet
