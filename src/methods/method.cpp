// The ".met" reader. A method file is read line by line; every error
// raises one XException whose message is the exact text of the error box that ends the
// program, so the reader stops at the first fault and never keeps a half-valid method.
#include "methods/method.h"

#include "methods/generators.h"
#include "methods/random.h"
#include "report/exceptions.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <iterator>
#include <optional>
#include <string_view>

namespace purgelet {

namespace {

constexpr std::size_t kMaxPatternLength = 255; // PatternLength is 8 bits wide

bool StartsWith(std::string_view line, std::string_view keyword) {
    return line.substr(0, keyword.size()) == keyword;
}

// Blanks are the space character only; a tab is kept.
std::string_view Trim(std::string_view text) {
    std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    std::size_t last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

std::string_view TrimLeft(std::string_view text) {
    std::size_t first = text.find_first_not_of(' ');
    return first == std::string_view::npos ? std::string_view{} : text.substr(first);
}

int HexDigit(char ch) {
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    return -1;
}

// Hexadecimal digits only, at least one, the value within 32 bits.
std::optional<std::uint32_t> ParseHex(std::string_view digits) {
    if (digits.empty())
        return std::nullopt;
    std::uint64_t value = 0;
    for (char ch : digits) {
        int digit = HexDigit(ch);
        if (digit < 0)
            return std::nullopt;
        value = value * 16 + static_cast<std::uint64_t>(digit);
        if (value > 0xFFFFFFFFu)
            return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

// An integer as the format reads it: leading blanks, an optional sign, then decimal digits
// or "$" and hexadecimal digits, nothing after. Decimal values must fit 32 signed bits;
// hexadecimal ones are 32-bit patterns.
std::optional<std::int32_t> ParseInt(std::string_view text) {
    text = TrimLeft(text);
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    std::int64_t value = 0;
    if (!text.empty() && text[0] == '$') {
        auto hex = ParseHex(text.substr(1));
        if (!hex)
            return std::nullopt;
        value = static_cast<std::int32_t>(*hex);
    } else {
        if (text.empty())
            return std::nullopt;
        for (char ch : text) {
            if (ch < '0' || ch > '9')
                return std::nullopt;
            value = value * 10 + (ch - '0');
            if (value > 2147483648LL)
                return std::nullopt;
        }
        if (!negative && value > 2147483647LL)
            return std::nullopt;
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

// A floating-point number with "." as its decimal point; blanks around it are allowed. A
// value that is not finite would break the sort of the list and is refused.
std::optional<double> ParseFloat(std::string_view text) {
    text = Trim(text);
    if (!text.empty() && text[0] == '+')
        text.remove_prefix(1);
    if (text.empty() || text[0] == '+' || text[0] == ' ')
        return std::nullopt;
    double value = 0;
    auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// The lines of a file: CR LF, LF or a lone CR end a line; bytes are taken as they are.
std::vector<std::string> SplitLines(const std::string& content) {
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < content.size(); ++i) {
        char ch = content[i];
        if (ch == '\r' || ch == '\n') {
            lines.push_back(std::move(line));
            line.clear();
            if (ch == '\r' && i + 1 < content.size() && content[i + 1] == '\n')
                ++i;
        } else {
            line.push_back(ch);
        }
    }
    if (!line.empty())
        lines.push_back(std::move(line));
    return lines;
}

} // namespace

// Reads one file into a method; each error throws with the exact message of the error box.
class MethodReader {
public:
    // The characters of RNDCH lines are drawn from the standard generator's randSeed.
    MethodReader(method& target, std::string path, std::uint32_t& randSeed)
        : m_(target), path_(std::move(path)), randSeed_(randSeed) {}

    void Read() {
        std::ifstream file(path_, std::ios::binary);
        if (!file)
            throw XException("*Cannot open : \"" + path_ + "\"");
        std::string content{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        if (file.bad())
            throw XException("*Cannot open : \"" + path_ + "\"");
        Reset();
        for (const std::string& raw : SplitLines(content))
            ReadLine(Trim(raw));
        Finish();
    }

private:
    void Reset() {
        m_.Shuffle = false;
        m_.ShuffleFrom = 0;
        m_.ShuffleTo = 0;
        m_.PassCount = 0;
        m_.DescriptionCount = 0;
        m_.Description.clear();
        m_.Name.clear();
        m_.MethodNr = 0;
        m_.IsZeroMethod = false;
        m_.Firmware = TFirmwareStep::None;
        m_.ownedSteps_.clear();
        m_.Steps.clear();
        // Slot 0 holds no pass; a blank step there keeps every slot a valid reference.
        m_.ownedSteps_.push_back(std::make_unique<steptype>());
        m_.Steps.push_back(m_.ownedSteps_.back().get());
        numberGiven_ = false;
        lastCheckSlot_ = -1;
    }

    void ReadLine(std::string_view line) {
        if (line.empty() || line[0] == '#')
            return;
        if (StartsWith(line, "METHODNR=")) {
            auto value = ParseFloat(line.substr(9));
            if (!value)
                FormatError();
            m_.MethodNr = *value;
            numberGiven_ = true;
        } else if (StartsWith(line, "NAME=")) {
            m_.Name = std::string(line.substr(5));
        } else if (StartsWith(line, "DESCRIPTION=")) {
            m_.Description.emplace_back(line.substr(line.find('=') + 1));
            m_.DescriptionCount = static_cast<std::int32_t>(m_.Description.size());
        } else if (StartsWith(line, "CHECK")) {
            AddCheck();
        } else if (StartsWith(line, "HEXA=")) {
            AddHexa(line.substr(5));
        } else if (StartsWith(line, "RAND=")) {
            AddRandom(line.substr(5));
        } else if (StartsWith(line, "RNDCH=")) {
            AddRandomChars(line.substr(6));
        } else if (StartsWith(line, "INV")) {
            AddInverse();
        } else if (StartsWith(line, "CHGDIR")) {
            if (m_.PassCount < 1)
                Fail("* Error using switch : CHGDIR .");
            m_.Steps[static_cast<std::size_t>(m_.PassCount)]->ChangeDirection = true;
        } else if (StartsWith(line, "SHUFFLE")) {
            ReadShuffle(line.substr(7));
        } else if (StartsWith(line, "FIRMWARE=")) {
            ReadFirmware(line);
        } else {
            throw XException("*Format error in file : " + path_ +
                             "     * Syntax error : " + std::string(line));
        }
    }

    void Finish() {
        if (!numberGiven_)
            m_.MethodNr = m_.PassCount;
        // The drive's own erase is a whole wipe in itself.
        if (m_.PassCount < 1 && m_.Firmware == TFirmwareStep::None)
            Fail("* Method must contain at least 1 pass! ");
        if (m_.Description.empty()) {
            m_.Description.emplace_back();
            m_.DescriptionCount = 1;
        }
    }

    [[noreturn]] void FormatError() { throw XException("*Format error in file : " + path_); }
    [[noreturn]] void Fail(const std::string& what) { throw XException(what + " (" + path_ + ")"); }
    [[noreturn]] void RangeError(std::string_view args) {
        throw XException("* Range Error : " + std::string(args) + " (" + path_ + ")");
    }

    steptype& AddStep() {
        m_.ownedSteps_.push_back(std::make_unique<steptype>());
        m_.PassCount += 1;
        m_.Steps.push_back(m_.ownedSteps_.back().get());
        return *m_.Steps.back();
    }

    void AppendPattern(steptype& step, std::uint8_t byte) {
        if (step.PatternLength >= kMaxPatternLength)
            FormatError();
        step.Pattern[step.PatternLength] = byte;
        step.PatternLength = static_cast<std::uint8_t>(step.PatternLength + 1);
    }

    // The first character is dropped whatever it is; then "$"-separated hexadecimal groups.
    void AddHexa(std::string_view value) {
        steptype& step = AddStep();
        std::string_view rest = value.empty() ? value : value.substr(1);
        for (;;) {
            std::size_t dollar = rest.find('$');
            auto number = ParseHex(rest.substr(0, dollar));
            if (!number)
                FormatError();
            AppendPattern(step, static_cast<std::uint8_t>(*number));
            if (dollar == std::string_view::npos)
                break;
            rest.remove_prefix(dollar + 1);
        }
    }

    // Three characters for the minimum, the rest of the line for the maximum.
    void AddRandom(std::string_view value) {
        steptype& step = AddStep();
        auto low = ParseInt(value.substr(0, 3));
        auto high = ParseInt(value.substr(value.size() < 3 ? value.size() : 3));
        if (!low || !high)
            FormatError();
        step.RandMin = static_cast<std::uint8_t>(*low);
        step.RandMax = static_cast<std::uint8_t>(*high);
        // A reversed range would make the byte count of each draw wrap around.
        if (step.RandMin > step.RandMax)
            RangeError(value);
        step.IsRandom = true;
    }

    // Pairs of three-character fields; one character drawn per pair, once, at load time.
    void AddRandomChars(std::string_view value) {
        steptype& step = AddStep();
        step.IsRandomChars = true;
        std::string_view rest = value;
        do {
            auto low = ParseInt(rest.substr(0, 3));
            auto high = ParseInt(rest.substr(rest.size() < 3 ? rest.size() : 3, 3));
            if (!low || !high)
                FormatError();
            step.RandMin = static_cast<std::uint8_t>(*low);
            step.RandMax = static_cast<std::uint8_t>(*high);
            if (step.RandMin > step.RandMax)
                RangeError(value);
            std::uint32_t span = static_cast<std::uint32_t>(step.RandMax - step.RandMin) + 1;
            AppendPattern(step, static_cast<std::uint8_t>(step.RandMin + Random(randSeed_, span)));
            rest.remove_prefix(rest.size() < 6 ? rest.size() : 6);
        } while (!rest.empty());
    }

    void AddInverse() {
        const steptype* previous =
            m_.PassCount >= 1 ? m_.Steps[static_cast<std::size_t>(m_.PassCount)] : nullptr;
        if (previous == nullptr || previous->PatternLength == 0 || previous->IsRandom)
            Fail("*Cannot complement last pass . ");
        steptype copied = *previous;
        steptype& step = AddStep();
        step.IsRandom = copied.IsRandom;
        step.IsRandomChars = copied.IsRandomChars;
        step.RandMin = copied.RandMin;
        step.RandMax = copied.RandMax;
        step.PatternLength = copied.PatternLength;
        step.Pattern = copied.Pattern;
        step.ChangeDirection = false;
        step.Check = false;
        step.Inverted = true;
        for (std::size_t k = 0; k < step.PatternLength; ++k)
            step.Pattern[k] = static_cast<std::uint8_t>(~step.Pattern[k]);
    }

    void AddCheck() {
        if (m_.PassCount < 1)
            Fail("* Error using switch : CHECK .");
        m_.Steps[static_cast<std::size_t>(m_.PassCount)]->Check = true;
        m_.PassCount += 1;
        if (m_.PassCount == lastCheckSlot_ + 1)
            Fail("* Too many consecutive check. ");
        // A second reference to the checked step, which stays owned once.
        m_.Steps.push_back(m_.Steps.back());
        lastCheckSlot_ = m_.PassCount;
    }

    void ReadShuffle(std::string_view args) {
        m_.ShuffleFrom = 0;
        m_.ShuffleTo = 0;
        std::string_view text = TrimLeft(args);
        std::size_t blank = text.find(' ');
        if (blank == std::string_view::npos)
            Fail("* Syntax error : " + std::string(args));
        auto second = ParseInt(text.substr(blank + 1));
        if (!second)
            Fail("* Syntax error : " + std::string(args));
        auto first = ParseInt(text.substr(0, blank));
        if (!first)
            RangeError(args);
        m_.ShuffleFrom = *first;
        m_.ShuffleTo = *second;
        m_.Shuffle = true;
        if (!(1 <= m_.ShuffleFrom && m_.ShuffleFrom < m_.ShuffleTo && m_.ShuffleTo <= m_.PassCount))
            RangeError(args);
    }

    // One drive operation per method, sent before the first pass writes: the passes after it
    // overwrite what the drive left, never the other way round.
    void ReadFirmware(std::string_view line) {
        const std::string_view value = Trim(line.substr(9));
        if (m_.Firmware != TFirmwareStep::None)
            Fail("* Error using switch : FIRMWARE .");
        if (m_.PassCount > 0)
            Fail("* FIRMWARE must come before the passes . ");
        if (value == "CRYPTO")
            m_.Firmware = TFirmwareStep::CryptoErase;
        else if (value == "BLOCK")
            m_.Firmware = TFirmwareStep::BlockErase;
        else
            throw XException("*Format error in file : " + path_ +
                             "     * Syntax error : " + std::string(line));
    }

    method& m_;
    std::string path_;
    std::uint32_t& randSeed_;
    bool numberGiven_ = false;
    std::int32_t lastCheckSlot_ = -1;
};

std::unique_ptr<method> method::CreateFromFile(const std::string& path) {
    TGenerators generators;
    if (!path.empty())
        Randomize(generators);
    return CreateFromFile(path, generators);
}

std::unique_ptr<method> method::CreateFromFile(const std::string& path, TGenerators& generators) {
    auto result = std::make_unique<method>();
    if (path.empty()) {
        result->IsZeroMethod = true;
        result->PassCount = 1;
        for (int slot = 0; slot < 2; ++slot) {
            result->ownedSteps_.push_back(std::make_unique<steptype>());
            result->Steps.push_back(result->ownedSteps_.back().get());
        }
        return result;
    }
    MethodReader(*result, path, generators.RandSeed).Read();
    return result;
}

std::string DescriptionParagraphs(const method& m) {
    std::string text;
    bool paragraphEnded = false; // an empty line was met since the last words
    for (const std::string& line : m.Description) {
        const std::size_t first = line.find_first_not_of(' ');
        if (first == std::string::npos) {
            paragraphEnded = !text.empty();
            continue;
        }
        if (!text.empty())
            text += paragraphEnded ? "\n\n" : " ";
        paragraphEnded = false;
        text.append(line, first, line.find_last_not_of(' ') - first + 1);
    }
    return text;
}

} // namespace purgelet
