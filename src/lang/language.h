// The string table of the language file and the one lookup the whole program uses.
//
// The file beside the executable holds a compressed table of "SECTION.KEY" / value pairs;
// it is read once into `LanguageTable`, and every lookup carries its built-in English
// default, so the program works with any subset of keys present (or none at all).
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace purgelet {

struct TValueEntry {
    std::string Key; // "SECTION.KEY", upper case (ASCII) as stored
    std::string Value;
};

// Invariant after LoadFromStream: either it returned true and Entries hold the file's
// entries in file order, or it returned false and Entries are empty.
class TValueList {
public:
    static constexpr std::int32_t MaxEntries = 100000;
    static constexpr std::int32_t MaxLength = 10000000; // per key and per value, in bytes

    // True: keys are in ascending unsigned byte order and Find uses binary search.
    bool Sorted = true;
    std::vector<TValueEntry> Entries;

    // Removes all entries; the sorted flag stays as it is.
    void Clear();
    // Parses decoded content (sorted flag, count, entries) from the stream's current
    // position. Damaged content (too short, a count or length out of range, a stream
    // error) empties the table and returns false; nothing is thrown.
    bool LoadFromStream(std::istream& stream);
    // Looks up the key upper-cased (ASCII a-z only). Sorted: binary search; unsorted: a scan
    // in which the last equal entry wins.
    bool Find(const std::string& key, std::string& value) const;
};

// The program's one string table: empty until LoadLanguageFile fills it.
extern TValueList LanguageTable;

// The stored value of section + "." + key (also when it is empty), else `defaultText`.
std::string GetLngText(const std::string& section, const std::string& key,
                       const std::string& defaultText);

// Empties LanguageTable and fills it from the language file. A file that cannot be opened
// raises an XSystemCall; damaged content leaves the table empty without a word.
void LoadLanguageFile(const std::string& fileName);

} // namespace purgelet
