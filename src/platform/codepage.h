// Windows-1252, the code page of the program's texts, options and language files, and UTF-8,
// which the Linux registry file, the terminal and the language sources use. One table for all
// of them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The Unicode character of a Windows-1252 byte. The five bytes the code page leaves unassigned
// (81, 8D, 8F, 90, 9D) become the C1 controls of the same number, as Windows converts them.
char32_t Cp1252ToUnicode(unsigned char byte);
// The byte of a character, nothing when Windows-1252 lacks it. The C1 controls that stand for
// the unassigned bytes are taken back only with allowUnassigned.
std::optional<unsigned char> UnicodeToCp1252(char32_t code, bool allowUnassigned = false);
// One character from UTF-8 at pos, pos moved past it; nothing (pos left) on an invalid,
// overlong, cut-short or surrogate sequence.
std::optional<char32_t> NextUtf8(std::string_view text, std::size_t& pos);
// Appends a character below U+10000 as UTF-8.
void AppendUtf8(std::string& out, char32_t code);

// UTF-8 text (a machine file's names and labels) in Windows-1252. A character the code page
// lacks, and every byte of an invalid sequence, becomes "?"; the C1 controls that stand for
// the unassigned bytes are taken back, so Cp1252ToUtf8 and this restore any byte string.
std::string Utf8ToCp1252(std::string_view utf8);
// Windows-1252 bytes as UTF-8; an unassigned byte becomes the C1 control of its number.
std::string Cp1252ToUtf8(std::string_view bytes);

} // namespace platform
