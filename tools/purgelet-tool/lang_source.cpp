#include "purgelet-tool/lang_source.h"

#include "platform/codepage.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <set>

namespace purgelet::tool {

namespace {

std::optional<char> ToCp1252(std::uint32_t code) {
    const auto byte = platform::UnicodeToCp1252(code);
    return byte ? std::optional<char>(static_cast<char>(*byte)) : std::nullopt;
}

bool IsUtf8WithHighBytes(std::string_view text) {
    bool high = false;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::optional<char32_t> code = platform::NextUtf8(text, pos);
        if (!code)
            return false;
        high = high || *code >= 0x80;
    }
    return high;
}

std::string Cp1252FromUtf8(std::string_view text) {
    std::string out;
    std::size_t line = 1;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::optional<char32_t> code = platform::NextUtf8(text, pos);
        if (!code)
            throw SourceError("line " + std::to_string(line) + ": invalid UTF-8");
        const std::optional<char> ansi = ToCp1252(*code);
        if (!ansi) {
            char hex[16];
            std::snprintf(hex, sizeof hex, "U+%04X", static_cast<unsigned>(*code));
            throw SourceError("line " + std::to_string(line) + ": character " + hex +
                              " is not in the Windows-1252 code page");
        }
        line += *code == '\n' ? 1 : 0;
        out.push_back(*ansi);
    }
    return out;
}

bool IsBlank(char ch) {
    return ch == ' ' || ch == '\t';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string Unescape(std::string_view value, const std::string& where) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\') {
            out.push_back(value[i]);
            continue;
        }
        if (++i == value.size())
            throw SourceError(where + ": a backslash ends the line (write \\\\ for one)");
        switch (value[i]) {
        case 'r':
            out.push_back('\r');
            break;
        case 'n':
            out.push_back('\n');
            break;
        case '\\':
            out.push_back('\\');
            break;
        default:
            throw SourceError(where + ": unknown escape \\" + std::string(1, value[i]) +
                              " (only \\r, \\n and \\\\)");
        }
    }
    return out;
}

std::string UpperAscii(std::string_view text) {
    std::string out(text);
    for (char& ch : out) {
        if (ch >= 'a' && ch <= 'z')
            ch = static_cast<char>(ch - 'a' + 'A');
    }
    return out;
}

bool ByteLess(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    });
}

void PutInt32(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFFu));
}

} // namespace

std::vector<TValueEntry> ParseLanguageSource(std::string_view raw) {
    std::string text;
    static constexpr std::string_view Bom = "\xEF\xBB\xBF";
    if (raw.substr(0, Bom.size()) == Bom)
        text = Cp1252FromUtf8(raw.substr(Bom.size()));
    else if (IsUtf8WithHighBytes(raw))
        text = Cp1252FromUtf8(raw);
    else
        text = std::string(raw);

    std::vector<TValueEntry> entries;
    std::set<std::string> seen;
    std::size_t lineNumber = 0;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string_view line(text.data() + start, end - start);
        start = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const std::string_view content = Trim(line);
        if (content.empty() || content.front() == '#')
            continue;
        const std::string where = "line " + std::to_string(lineNumber);
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            throw SourceError(where + ": no \"=\" between key and value");
        const std::string key = UpperAscii(Trim(line.substr(0, equals)));
        const std::size_t dot = key.find('.');
        if (dot == std::string::npos || dot == 0 || dot + 1 == key.size())
            throw SourceError(where + ": the key \"" + key + "\" is not SECTION.KEY");
        if (!seen.insert(key).second)
            throw SourceError(where + ": the key " + key + " is given twice");
        std::string value = Unescape(line.substr(equals + 1), where);
        if (key.size() > static_cast<std::size_t>(TValueList::MaxLength) ||
            value.size() > static_cast<std::size_t>(TValueList::MaxLength))
            throw SourceError(where + ": longer than " + std::to_string(TValueList::MaxLength) +
                              " bytes");
        entries.push_back({key, std::move(value)});
    }
    if (entries.size() > static_cast<std::size_t>(TValueList::MaxEntries))
        throw SourceError("more than " + std::to_string(TValueList::MaxEntries) + " entries");
    std::sort(entries.begin(), entries.end(),
              [](const TValueEntry& a, const TValueEntry& b) { return ByteLess(a.Key, b.Key); });
    return entries;
}

std::string BuildLanguageContent(const std::vector<TValueEntry>& entries, bool sorted) {
    std::string out;
    out.push_back(sorted ? '\1' : '\0');
    PutInt32(out, static_cast<std::uint32_t>(entries.size()));
    for (const TValueEntry& entry : entries) {
        PutInt32(out, static_cast<std::uint32_t>(entry.Key.size()));
        out += entry.Key;
        PutInt32(out, static_cast<std::uint32_t>(entry.Value.size()));
        out += entry.Value;
    }
    return out;
}

std::string EscapeLanguageText(std::string_view text) {
    std::string out;
    for (char ch : text) {
        switch (ch) {
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            out.push_back(ch);
        }
    }
    return out;
}

} // namespace purgelet::tool
