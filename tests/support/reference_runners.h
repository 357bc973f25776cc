// The reference pass runners the engine's one runner is held to: one transfer at a time from
// a single buffer, every step on the calling thread; and two buffers alternating, the next
// drawn (or the last summed) by the helper while one is transferred. Each makes the transfers,
// the bytes and the owner calls of a wipe one transfer at a time, as simply as that can be
// written; the equivalence tests run the engine's runner beside them.
#pragma once

#include "disk/wipe_passes.h"

namespace purgelet::testing {

// Every pass of the wipe's method on the calling thread, from the cursor as state has it.
void RunPassesInline(wipe_engine::TWipeRun& run, TWipeState& state);
// Every pass with generation and summing overlapping the transfers; helper must run on a
// thread of its own and have been made for the same state.
void RunPassesOverlapped(wipe_engine::TWipeRun& run, TWipeState& state,
                         wipe_engine::TPassHelper& helper);
// The engine's frame of a wipe with the overlapped reference inside it.
void RunPassesOverlappedWithHelper(wipe_engine::TWipeRun& run, TWipeState& state);

} // namespace purgelet::testing
