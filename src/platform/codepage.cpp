#include "platform/codepage.h"

#include <array>
#include <cstdint>

namespace platform {

namespace {

constexpr std::array<std::uint16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

} // namespace

char32_t Cp1252ToUnicode(unsigned char byte) {
    return byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : byte;
}

std::optional<unsigned char> UnicodeToCp1252(char32_t code, bool allowUnassigned) {
    if (code < 0x80 || (code >= 0xA0 && code <= 0xFF))
        return static_cast<unsigned char>(code);
    for (std::size_t i = 0; i < kHigh.size(); ++i)
        if (kHigh[i] == code && (code >= 0xA0 || allowUnassigned))
            return static_cast<unsigned char>(0x80 + i);
    return std::nullopt;
}

std::optional<char32_t> NextUtf8(std::string_view text, std::size_t& pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    int extra = 0;
    std::uint32_t code = 0;
    if (lead < 0x80) {
        ++pos;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1;
        code = lead & 0x1Fu;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2;
        code = lead & 0x0Fu;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3;
        code = lead & 0x07u;
    } else {
        return std::nullopt;
    }
    if (pos + static_cast<std::size_t>(extra) >= text.size())
        return std::nullopt;
    for (int i = 1; i <= extra; ++i) {
        const auto next = static_cast<unsigned char>(text[pos + static_cast<std::size_t>(i)]);
        if ((next & 0xC0) != 0x80)
            return std::nullopt;
        code = (code << 6) | (next & 0x3Fu);
    }
    static constexpr std::array<std::uint32_t, 4> Smallest = {0, 0x80, 0x800, 0x10000};
    if (code < Smallest[static_cast<std::size_t>(extra)] || code > 0x10FFFF ||
        (code >= 0xD800 && code <= 0xDFFF))
        return std::nullopt;
    pos += static_cast<std::size_t>(extra) + 1;
    return code;
}

void AppendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

std::string Utf8ToCp1252(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t pos = 0; pos < utf8.size();) {
        const std::optional<char32_t> code = NextUtf8(utf8, pos);
        if (!code) {
            ++pos; // resynchronise on the next byte
            out += '?';
            continue;
        }
        const std::optional<unsigned char> byte = UnicodeToCp1252(*code, true);
        out += byte ? static_cast<char>(*byte) : '?';
    }
    return out;
}

std::string Cp1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes)
        AppendUtf8(out, Cp1252ToUnicode(static_cast<unsigned char>(c)));
    return out;
}

} // namespace platform
