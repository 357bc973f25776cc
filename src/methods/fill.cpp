// Turning a pass into buffer contents. Fixed patterns are produced once per pass (the
// caller reuses the buffer until the cursor invalidates it); random passes draw fresh bytes
// for every buffer from the wipe's generators, the one their switch selects.
#include "methods/aes_ctr.h"
#include "methods/isaac.h"
#include "methods/random.h"
#include "methods/wipe_state.h"

#include <cstring>

namespace purgelet {

namespace {

// byte k := pattern[k mod length], by doubling copies of the first period.
void RepeatPattern(const std::uint8_t* pattern, std::size_t length, std::uint8_t* buffer,
                   std::size_t count) {
    std::size_t first = length < count ? length : count;
    std::memcpy(buffer, pattern, first);
    std::size_t filled = first;
    while (filled < count) {
        std::size_t chunk = filled < count - filled ? filled : count - filled;
        std::memcpy(buffer + filled, buffer, chunk);
        filled += chunk;
    }
}

} // namespace

void FillStep(const steptype& step, TGenerators& generators, std::uint8_t* buffer,
              std::size_t count) {
    if (count == 0)
        return;
    if (!step.IsRandom) {
        if (step.PatternLength == 0) {
            // No pattern (the reader never builds one): zeros rather than a division by 0.
            std::memset(buffer, 0, count);
            return;
        }
        RepeatPattern(step.Pattern.data(), step.PatternLength, buffer, count);
        return;
    }
    if (step.RandMin != 0 || step.RandMax != 255) {
        // The reader refuses reversed ranges; a reversed one here gives its minimum only.
        std::uint32_t span = step.RandMax >= step.RandMin
                                 ? static_cast<std::uint32_t>(step.RandMax - step.RandMin) + 1
                                 : 1;
        if (generators.UseAesCtr)
            AesCtrRandomBytes(generators.Aes, buffer, count, span, step.RandMin);
        else if (generators.UseIsaac)
            IsaacRandomBytes(generators.Isaac, buffer, count, span, step.RandMin);
        else
            RandomBytes(generators.RandSeed, buffer, count, span, step.RandMin);
        return;
    }
    if (generators.UseAesCtr)
        AesCtrFill(generators.Aes, buffer, count);
    else if (generators.UseIsaac) // a tail of count mod 4 bytes is left as it is
        IsaacFillWords(generators.Isaac, buffer, count / 4);
    else
        RandomBytes(generators.RandSeed, buffer, count, 256, 0);
}

void TWipeState::FillBuffer(std::uint8_t* buffer, std::size_t count) {
    if (!NeedsFill)
        return;
    if (Method.IsZeroMethod) {
        NeedsFill = false;
        std::memset(buffer, 0, count);
    } else if (CurrentPass >= 1 && CurrentPass <= Method.PassCount) {
        const steptype& step = *Method.Steps[static_cast<std::size_t>(CurrentPass)];
        FillStep(step, Generators, buffer, count);
        if (!step.IsRandom)
            NeedsFill = false;
    } else {
        std::memset(buffer, 0, count);
    }
}

} // namespace purgelet
