// The pass cursor of one wipe.
#include "methods/wipe_state.h"

#include "methods/isaac.h"

namespace purgelet {

void TWipeState::ResetPasses() {
    NeedsFill = true;
    CurrentPass = 1;
    IsaacSeed(Generators.Isaac, Generators.RandSeed);
    if (Generators.UseAesCtr)
        AesCtrKey(Generators.Aes, Generators.Isaac);
}

void TWipeState::InvalidateBuffer() {
    NeedsFill = true;
}

bool TWipeState::CurrentPassChecks() const {
    if (CurrentPass < 1 || CurrentPass > Method.PassCount)
        return false;
    return Method.Steps[static_cast<std::size_t>(CurrentPass)]->Check;
}

bool TWipeState::NextPass() {
    CurrentPass += 1;
    NeedsFill = true;
    return CurrentPass <= Method.PassCount;
}

namespace {

// Write passes in slots 1..last: a checked pass's verification slot is no pass of its own.
std::int32_t WritePassesUpTo(const method& Method, std::int32_t last) {
    std::int32_t count = 0;
    for (std::int32_t slot = 1; slot <= last && slot <= Method.PassCount; ++slot) {
        ++count;
        if (Method.Steps[static_cast<std::size_t>(slot)]->Check)
            ++slot;
    }
    return count;
}

} // namespace

std::int32_t TWipeState::WritePassNumber() const {
    return WritePassesUpTo(Method, CurrentPass);
}

std::int32_t TWipeState::WritePassCount() const {
    return WritePassesUpTo(Method, Method.PassCount);
}

} // namespace purgelet
