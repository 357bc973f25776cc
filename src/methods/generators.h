// The generators a wipe draws its random passes from: the standard generator's seed, ISAAC's
// state and the switch between them. One value, owned by whoever runs the wipes (a wipe run
// hands its own to each drive in list order; a disk wiped alone makes one of its own), so
// copying it saves the generators and assigning it puts them back.
#pragma once

#include "methods/aes_ctr.h"
#include "methods/isaac.h"

#include <cstdint>

namespace purgelet {

struct TGenerators {
    std::uint32_t RandSeed = 0; // the standard generator (random.h)
    IsaacState Isaac;           // reseeded from RandSeed at the start of every disk
    bool UseIsaac = true;       // random passes draw from ISAAC, else from RandSeed
    // Random passes draw from AES-256 in counter mode (aes_ctr.h), whatever UseIsaac says;
    // set only where the system has AES.
    bool UseAesCtr = false;
    TAesCtrState Aes; // keyed from ISAAC as ISAAC is reseeded
};

// Seeds the standard generator from the clock, as a run starts; ISAAC and the switches stay.
void Randomize(TGenerators& generators);

// A state of its own for one of several drives wiped at once, drawn from from (which moves
// on): the switches are from's, the standard generator's seed two draws of from's. Drawn in list
// order before any drive starts, what each drive receives does not depend on timing.
TGenerators Draw(TGenerators& from);

} // namespace purgelet
