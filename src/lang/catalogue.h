// The catalogue of every text the program loads: section, key, built-in English default and
// where the text goes. LoadCatalogue loads the language file and then looks every entry up
// once, in table order; later code reads the results by key.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace purgelet {

enum class TCatalogueKind {
    Control, // a property of a main-window control, applied by the window code
    Text,    // a catalogue text, read later by key
    AtUse,   // looked up by its user at the moment of use, not by LoadCatalogue
};

struct TCatalogueEntry {
    TCatalogueKind Kind;
    std::string Section;
    std::string Key;     // as the program requests it; the letter case does not matter
    std::string Default; // exact, trailing blanks and CR LF included
    // Control entries: the component the text is set on (which may differ from the name in
    // the key, "cbAllowUserInterrupt.Caption" sets cbAllowUserAbort) and its property.
    std::string Component;
    std::string Property;
    // The default is only a placeholder, the key name or a slip (a sentence said twice): the
    // shipped language file words it.
    bool Placeholder = false;
};

// A control text after loading: which property of which control gets which text.
struct TControlText {
    std::string Key;
    std::string Component;
    std::string Property;
    std::string Text;
};

// A text with its placeholders (%d, %s) replaced in order by values, "%%" by "%": a translation
// that drops or adds placeholders cannot make the program read past the values.
std::string FillIn(const std::string& format, const std::vector<std::string>& values);

// The whole table, in loading order.
const std::vector<TCatalogueEntry>& CatalogueEntries();

// Loads the language file (the executable's full path + ".lng"), then every entry.
// An unreadable language file raises out of here (the caller decides).
void LoadCatalogue();
// Looks every entry up in the language table as it is now (no file is loaded).
void LoadCatalogueTexts();

// The loaded text of a Text entry (its default before loading), or the current lookup of an
// AtUse entry. An unknown key is a
// programming error and raises std::out_of_range. Section and key compare without case.
std::string CatalogueText(std::string_view key, std::string_view section = "Purgelet");
// The control texts in table order, defaults before loading.
const std::vector<TControlText>& ControlTexts();
// The text for one control property, nullptr when the catalogue has none.
const std::string* FindControlText(std::string_view component, std::string_view property);

} // namespace purgelet
