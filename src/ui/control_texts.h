// Sets a text property of a form's component by the names a language file uses:
// "Caption", "Title.Text" and "Subtitle.Text" of a wizard page, "Columns_N.Caption" of a list,
// "Items_N.Caption" of a side bar, "Lines" of a memo (CR LF separated), "Filter" of a save
// dialog, and "Child.Property" for a named child of the component (a wizard's buttons).
#pragma once

#include <string>

namespace purgelet::ui {

class TForm;

// False when the form has no such component or the component no such property.
bool ApplyControlText(TForm& form, const std::string& component, const std::string& property,
                      const std::string& text);

} // namespace purgelet::ui
