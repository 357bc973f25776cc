// One wipe's walk through a method: the pass cursor, the fill flag and the generators the
// passes draw from. The method itself is only read, so one parsed method can serve any
// number of wipes; everything a wipe changes lives here.
#pragma once

#include "methods/generators.h"
#include "methods/method.h"

#include <cstddef>
#include <cstdint>

namespace purgelet {

// Everything a FillBuffer call changes: the generators and the fill flag. A buffer drawn
// ahead of need and then not used is undone by putting a copy taken before it back.
struct TFillState {
    TGenerators Generators;
    bool NeedsFill = true;
};

class TWipeState {
public:
    // Generators is the run's (or the wipe's own) and must outlive this object.
    TWipeState(const method& Method, TGenerators& Generators)
        : Method(Method), Generators(Generators) {}
    TWipeState(const TWipeState&) = delete;
    TWipeState& operator=(const TWipeState&) = delete;

    const method& Method;
    TGenerators& Generators; // not owned
    std::int32_t CurrentPass = 0;
    bool NeedsFill = true;

    // The pass cursor.
    void ResetPasses();      // first pass, buffer to be filled, ISAAC reseeded
    void InvalidateBuffer(); // the buffer must be regenerated before the next write
    bool CurrentPassChecks() const;
    bool NextPass(); // true while a pass is left
    // The cursor as the user counts passes: a pass and its read-back are one pass.
    std::int32_t WritePassNumber() const; // 1-based; 0 before the first
    std::int32_t WritePassCount() const;
    // The next buffer of the current pass (does nothing while the buffer is still valid).
    void FillBuffer(std::uint8_t* buffer, std::size_t count);

    TFillState SaveFillState() const { return {Generators, NeedsFill}; }
    void RestoreFillState(const TFillState& from) {
        Generators = from.Generators;
        NeedsFill = from.NeedsFill;
    }
};

// Writes count bytes of one pass into buffer (a fixed pattern, or fresh random bytes drawn
// from the generator the switch selects).
void FillStep(const steptype& step, TGenerators& generators, std::uint8_t* buffer,
              std::size_t count);

} // namespace purgelet
