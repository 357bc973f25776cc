#include "methods/listing.h"

#include "methods/generators.h"
#include "methods/wipe_state.h"
#include "report/exceptions.h"

#include <algorithm>
#include <charconv>

namespace purgelet {

namespace {

const char kHex[] = "0123456789ABCDEF";

void AppendHex(std::string& out, std::uint8_t byte) {
    out.push_back(kHex[byte >> 4]);
    out.push_back(kHex[byte & 15]);
}

std::string PatternText(const steptype& step) {
    std::string text;
    for (std::size_t k = 0; k < step.PatternLength; ++k) {
        text.push_back(' ');
        AppendHex(text, step.Pattern[k]);
    }
    return text;
}

std::string ShortestDecimal(double value) {
    char text[64];
    auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

} // namespace

std::string DescribeMethod(const method& m) {
    std::string out;
    out += "file: " + m.FileName + "\n";
    out += "name: " + m.Name + "\n";
    out += "methodnr: " + ShortestDecimal(m.MethodNr) + "\n";
    for (const std::string& line : m.Description)
        out += "description: " + line + "\n";
    if (m.Shuffle)
        out +=
            "shuffle: " + std::to_string(m.ShuffleFrom) + " " + std::to_string(m.ShuffleTo) + "\n";
    if (m.Firmware != TFirmwareStep::None)
        out += std::string("firmware: ") +
               (m.Firmware == TFirmwareStep::CryptoErase ? "crypto" : "block") + "\n";
    for (std::size_t slot = 1; slot < m.Steps.size(); ++slot) {
        const steptype& step = *m.Steps[slot];
        out += "pass " + std::to_string(slot) + ": ";
        // A verification slot is a second reference to the step before it.
        if (slot > 1 && m.Steps[slot] == m.Steps[slot - 1]) {
            out += "check " + std::to_string(slot - 1) + "\n";
            continue;
        }
        std::string range = std::to_string(step.RandMin) + "-" + std::to_string(step.RandMax);
        if (step.IsRandom)
            out += "random " + range;
        else if (step.Inverted)
            out += "inv" + PatternText(step);
        else if (step.IsRandomChars)
            out += "rndch " + range;
        else
            out += "hexa" + PatternText(step);
        if (step.ChangeDirection)
            out += " chgdir";
        out += "\n";
    }
    return out;
}

std::string HexLines(const std::uint8_t* bytes, std::size_t count) {
    std::string out;
    out.reserve(count * 3);
    for (std::size_t k = 0; k < count; ++k) {
        AppendHex(out, bytes[k]);
        out.push_back(k % 16 == 15 || k + 1 == count ? '\n' : ' ');
    }
    return out;
}

std::vector<std::uint8_t> PreviewPass(const std::string& path, std::int32_t pass, std::size_t count,
                                      bool isaac, std::uint32_t seed, std::size_t transfer) {
    if (transfer == 0)
        throw XException("a transfer of 0 bytes writes nothing");
    TGenerators generators;
    generators.RandSeed = seed;
    auto m = method::CreateFromFile(path, generators);
    if (pass < 1 || pass > m->PassCount)
        throw XException("no pass " + std::to_string(pass) + " in " + path + " (1 to " +
                         std::to_string(m->PassCount) + ")");
    generators.UseIsaac = isaac;
    TWipeState state(*m, generators);
    state.ResetPasses();
    state.CurrentPass = pass;
    state.InvalidateBuffer();
    // One buffer for every transfer, as the engine has: a pattern drawn into it once is
    // written again from its start by each transfer. Random bytes are drawn for the whole
    // transfer, as on a disk that goes on after the bytes shown.
    std::vector<std::uint8_t> buffer(transfer);
    std::vector<std::uint8_t> written;
    written.reserve(count);
    while (written.size() < count) {
        state.FillBuffer(buffer.data(), buffer.size());
        const std::size_t part = std::min(buffer.size(), count - written.size());
        written.insert(written.end(), buffer.begin(), buffer.begin() + static_cast<long>(part));
    }
    return written;
}

} // namespace purgelet
