// The pass cursor of one wipe.
#include "methods/wipe_state.h"

#include "methods/isaac.h"

namespace purgelet {

void TWipeState::ResetPasses() {
    NeedsFill = true;
    CurrentPass = 1;
    IsaacSeed(Generators.Isaac, Generators.RandSeed);
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

} // namespace purgelet
