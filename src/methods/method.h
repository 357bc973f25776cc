// Wipe methods: a named, ordered list of passes read from a ".met" file. A method once read
// is never changed by a wipe: the walk through it (wipe_state.h) belongs to each wipe.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace purgelet {

struct TGenerators;

// A drive's own erase a method may ask for, before any overwrite pass (FIRMWARE=). It is no
// pass of the engine: PassCount and Steps hold the overwrite passes only.
enum class TFirmwareStep : std::uint8_t { None, CryptoErase, BlockErase };

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

class method {
public:
    // An empty path builds the internal zero method; otherwise the file is read, and any
    // error in it raises an XException carrying the exact message of the error box. The
    // characters of an RNDCH line are drawn while reading, from the standard generator of
    // generators; without generators, from one seeded from the clock.
    static std::unique_ptr<method> CreateFromFile(const std::string& path, TGenerators& generators);
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
    std::string Name;
    std::int32_t PassCount = 0;
    TFirmwareStep Firmware = TFirmwareStep::None;

private:
    std::vector<std::unique_ptr<steptype>> ownedSteps_;
    friend class MethodReader;
};

// The description as running text for a label that wraps it to its own width: the lines of
// a paragraph joined by single spaces (a file line ends where the file's width did, not where
// a sentence does), paragraphs, which an empty DESCRIPTION= line separates, by an empty line.
std::string DescriptionParagraphs(const method& m);

// The method list: entry 0 the internal zero method, 1..N the files sorted by MethodNr.
extern std::string MethodsDir;
extern std::vector<std::unique_ptr<method>> Methods;
extern std::vector<std::string> MethodNames;

// Builds the list from MethodsDir (the executable's folder + "Methods"), creating the folder.
// RNDCH characters are drawn from generators, or from ones seeded from the clock.
void LoadMethods(TGenerators& generators);
void LoadMethods();
// The same from a given folder (the tool and the tests).
void LoadMethodsFrom(const std::string& folder, TGenerators& generators);
void LoadMethodsFrom(const std::string& folder);

} // namespace purgelet
