#include "ui/control_texts.h"

#include "ui/form.h"
#include "ui/list_view.h"
#include "ui/side_bar.h"
#include "ui/wizard.h"

#include <cctype>
#include <charconv>

namespace purgelet::ui {

namespace {

bool SameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// "Columns_3.Caption" with prefix "Columns_" gives 3; -1 when the property is not of it.
int IndexedProperty(const std::string& property, const std::string& prefix) {
    const std::string suffix = ".Caption";
    if (property.size() <= prefix.size() + suffix.size() ||
        !SameText(property.substr(0, prefix.size()), prefix) ||
        !SameText(property.substr(property.size() - suffix.size()), suffix))
        return -1;
    const std::string digits =
        property.substr(prefix.size(), property.size() - prefix.size() - suffix.size());
    int index = -1;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
    return error == std::errc() && end == digits.data() + digits.size() ? index : -1;
}

bool ApplyToControl(TControl& control, const std::string& property, const std::string& text) {
    if (SameText(property, "Caption")) {
        control.Caption = text;
        return true;
    }
    if (auto* page = dynamic_cast<TWizardPage*>(&control)) {
        if (SameText(property, "Title.Text")) {
            page->Title = text;
            return true;
        }
        if (SameText(property, "Subtitle.Text")) {
            page->Subtitle = text;
            return true;
        }
    }
    if (auto* list = dynamic_cast<TListView*>(&control)) {
        const int index = IndexedProperty(property, "Columns_");
        if (index >= 0 && index < static_cast<int>(list->Columns.size())) {
            list->Columns[static_cast<std::size_t>(index)].Caption = text;
            return true;
        }
    }
    if (auto* bar = dynamic_cast<TSideBar*>(&control)) {
        const int index = IndexedProperty(property, "Items_");
        if (index >= 0 && index < bar->Count()) {
            bar->Items(index).Caption = text;
            return true;
        }
    }
    if (auto* memo = dynamic_cast<TMemo*>(&control);
        memo != nullptr && SameText(property, "Lines")) {
        memo->Lines = WrapText(text, 0); // its lines, unwrapped
        return true;
    }
    // "ButtonBack.Caption": a named child of the control.
    if (std::size_t dot = property.find('.'); dot != std::string::npos) {
        const std::string child = property.substr(0, dot);
        for (auto& candidate : control.Children())
            if (SameText(candidate->Name, child))
                return ApplyToControl(*candidate, property.substr(dot + 1), text);
    }
    return false;
}

} // namespace

bool ApplyControlText(TForm& form, const std::string& component, const std::string& property,
                      const std::string& text) {
    TComponent* target = form.FindComponent(component);
    if (target == nullptr)
        return false;
    if (auto* dialog = dynamic_cast<TSaveDialog*>(target)) {
        if (!SameText(property, "Filter"))
            return false;
        dialog->Filter = text;
        return true;
    }
    auto* control = dynamic_cast<TControl*>(target);
    if (control == nullptr || !ApplyToControl(*control, property, text))
        return false;
    if (auto* wizard = dynamic_cast<TWizard*>(control))
        wizard->SyncButtons(); // a caption of another length moves the buttons
    return true;
}

} // namespace purgelet::ui
