// The AES-CTR random source over the system's cipher.
#include "methods/aes_ctr.h"

#include "platform/system.h"

#include <algorithm>
#include <array>

namespace purgelet {

void AesCtrKey(TAesCtrState& s, IsaacState& isaac) {
    for (std::size_t i = 0; i < s.Key.size(); i += 4) {
        const std::uint32_t word = IsaacNext(isaac);
        for (std::size_t k = 0; k < 4; ++k)
            s.Key[i + k] = static_cast<std::uint8_t>(word >> (8 * k));
    }
    s.Block = 0;
}

void AesCtrFill(TAesCtrState& s, std::uint8_t* buffer, std::size_t count) {
    if (count == 0)
        return;
    platform::sys().crypto->AesCtrStream(s.Key, s.Block, buffer, count);
    s.Block += (count + 15) / 16;
}

void AesCtrRandomBytes(TAesCtrState& s, std::uint8_t* buffer, std::size_t count,
                       std::uint32_t range, std::uint8_t low) {
    std::array<std::uint8_t, 16384> stream;
    for (std::size_t done = 0; done < count;) {
        const std::size_t bytes = std::min(count - done, stream.size() / 4);
        AesCtrFill(s, stream.data(), bytes * 4);
        for (std::size_t k = 0; k < bytes; ++k) {
            const std::uint8_t* w = &stream[k * 4];
            const std::uint32_t word =
                static_cast<std::uint32_t>(w[0]) | static_cast<std::uint32_t>(w[1]) << 8 |
                static_cast<std::uint32_t>(w[2]) << 16 | static_cast<std::uint32_t>(w[3]) << 24;
            buffer[done + k] =
                static_cast<std::uint8_t>(low + ((static_cast<std::uint64_t>(word) * range) >> 32));
        }
        done += bytes;
    }
}

} // namespace purgelet
