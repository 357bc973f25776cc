// Wipe methods: a named, ordered list of passes read from a ".met" file, and the pass
// cursor through which the wipe engine walks it.
#pragma once

#include "methods/isaac.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace purgelet {

// One pass. A new step has every field zero/false.
struct steptype {
    bool IsRandom = false;
    bool IsRandomChars = false;
    bool Inverted = false;
    std::uint8_t RandMin = 0;
    std::uint8_t RandMax = 0;
    std::uint8_t PatternLength = 0;
    std::array<std::uint8_t, 512> Pattern{};
    bool ChangeDirection = false;
    bool Check = false;
};

// Everything a FillBuffer call changes: both generators and the method's fill flag.
struct TFillState {
    IsaacState isaac;
    std::uint32_t randSeed = 0;
    bool needsFill = true;
};

class method {
public:
    // An empty path builds the internal zero method; otherwise the file is read, and any
    // error in it raises an XException carrying the exact message of the error box.
    static std::unique_ptr<method> CreateFromFile(const std::string& path);

    std::int32_t Index = 0;
    std::string FileName;
    double MethodNr = 0;
    std::int32_t ShuffleFrom = 0;
    std::int32_t ShuffleTo = 0;
    bool Shuffle = false;
    std::vector<std::string> Description;
    std::int32_t DescriptionCount = 0;
    // Slot 0 holds no pass (a blank step); passes occupy 1..PassCount. A verification slot refers
    // to the step of the pass before it. The steps are owned by ownedSteps, each once.
    std::vector<steptype*> Steps;
    bool IsZeroMethod = false;
    bool NeedsFill = true;
    std::string Name;
    std::int32_t PassCount = 0;
    std::int32_t CurrentPass = 0;

    // The pass cursor.
    void ResetPasses();      // first pass, buffer to be filled, ISAAC reseeded
    void InvalidateBuffer(); // the buffer must be regenerated before the next write
    bool CurrentPassChecks() const;
    bool NextPass(); // true while a pass is left
    // The next buffer of the current pass (does nothing while the buffer is still valid).
    void FillBuffer(std::uint8_t* buffer, std::size_t count);
    // What FillBuffer would change, saved and put back: a buffer drawn ahead of need and
    // then not used leaves the generators as if it had never been drawn.
    void SaveFillState(TFillState& into) const;
    void RestoreFillState(const TFillState& from);

private:
    std::vector<std::unique_ptr<steptype>> ownedSteps_;
    friend class MethodReader;
};

// The process-wide generator switch of random passes: ISAAC when true (the start value),
// else the standard generator. The wipe run sets it from its option before the first disk.
extern bool UseIsaac;

// Writes count bytes of one pass into buffer (a fixed pattern, or fresh random bytes).
void FillStep(const steptype& step, std::uint8_t* buffer, std::size_t count);

// The method list: entry 0 the internal zero method, 1..N the files sorted by MethodNr.
extern std::string MethodsDir;
extern std::vector<std::unique_ptr<method>> Methods;
extern std::vector<std::string> MethodNames;

// Builds the list from MethodsDir (the executable's folder + "Methods"), creating the folder.
void LoadMethods();
// The same from a given folder (the tool and the tests).
void LoadMethodsFrom(const std::string& folder);

} // namespace purgelet
