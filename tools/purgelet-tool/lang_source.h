// The text form of a language file, as translators write it and `lang dump` prints it:
// one `SECTION.KEY=value` a line, `#` comment lines, and the escapes \r, \n and \\ in values.
#pragma once

#include "lang/language.h"

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace purgelet::tool {

// A fault in a source text; the message names the line.
class SourceError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The entries of a source text, keys upper-cased and in ascending unsigned byte order. A
// text that is UTF-8 (a byte order mark, or valid multi-byte sequences) is converted to the
// Windows-1252 code page the program's texts are in; any other text is taken byte for byte.
// Raises SourceError on a line without "=", a key without a section, a bad escape, a key
// given twice, or a character Windows-1252 lacks.
std::vector<TValueEntry> ParseLanguageSource(std::string_view text);

// The decoded content layout: the sorted flag, the count, then the entries as they are.
std::string BuildLanguageContent(const std::vector<TValueEntry>& entries, bool sorted);

// CR, LF and backslash as \r, \n and \\; everything else unchanged.
std::string EscapeLanguageText(std::string_view text);

} // namespace purgelet::tool
