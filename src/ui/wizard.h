// The wizard: pages shown one at a time in a fixed order, a header (title and subtitle) above
// them and a row of navigation buttons below. Each page says which navigation buttons it shows
// and enables; the wizard lays out its header, page area and buttons itself, so renderers draw
// every page the same way.
#pragma once

#include "ui/controls.h"

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace purgelet::ui {

enum class TWizardButton : std::uint8_t { Start, Last, Back, Next, Finish, Cancel, Help };
inline constexpr int WizardButtonCount = 7;

class TWizard;

class TWizardPage : public TControl {
public:
    TWizardPage(std::string name, std::string title, std::string subtitle, int helpContext);
    TControlKind Kind() const override { return TControlKind::WizardPage; }

    std::string Title;
    std::string Subtitle;
    bool HeaderVisible = true;
    int HelpContext = 0;

    std::function<void()> OnEnterPage;
    std::function<void()> OnExitPage;
    // Set: runs instead of the wizard's own action for that button on this page.
    std::function<void()> OnBackButtonClick;
    std::function<void()> OnNextButtonClick;
    std::function<void()> OnFinishButtonClick;
    std::function<void()> OnCancelButtonClick;

    bool ButtonVisible(TWizardButton button) const { return visible_[Index(button)]; }
    bool ButtonEnabled(TWizardButton button) const { return enabled_[Index(button)]; }
    void SetButtonVisible(TWizardButton button, bool value);
    void SetButtonEnabled(TWizardButton button, bool value);

private:
    static std::size_t Index(TWizardButton b) { return static_cast<std::size_t>(b); }
    TWizard* Wizard();

    std::array<bool, WizardButtonCount> visible_{false, false, true, true, false, true, true};
    std::array<bool, WizardButtonCount> enabled_{true, true, true, true, true, true, true};
};

class TWizard : public TControl {
public:
    TWizard(std::string name, TRect bounds, TAnchors anchors = akAll);
    TControlKind Kind() const override { return TControlKind::Wizard; }

    // Rows of the header and of the button bar (each with its rule line).
    static constexpr int HeaderHeight = 3;
    static constexpr int ButtonBarHeight = 2;

    TWizardPage& AddPage(std::string name, std::string title, std::string subtitle,
                         int helpContext);
    int PageCount() const { return static_cast<int>(pages_.size()); }
    TWizardPage& Pages(int index) const { return *pages_.at(static_cast<std::size_t>(index)); }
    int PageIndex(const TWizardPage& page) const;

    TWizardPage* ActivePage() const { return active_; }
    // Leaves the active page (its exit event), shows the page (its enter event).
    void SetActivePage(TWizardPage& page);
    void SelectNextPage();
    void SelectPriorPage();

    // The navigation buttons (children named ButtonStart ... ButtonHelp).
    TButton& NavButton(TWizardButton button) const {
        return *buttons_[static_cast<std::size_t>(button)];
    }
    // The button Enter goes on with: Finish on the last page, Next elsewhere; null while that
    // one is hidden or disabled (Enter then does nothing rather than guess).
    TButton* DefaultButton() const;

    std::function<void()> OnFinishButtonClick;
    std::function<void()> OnCancelButtonClick;
    std::function<void()> OnHelpButtonClick;
    // A page was entered (for renderers and scripted hosts that record pages).
    std::function<void(TWizardPage&)> OnPageShown;

    // The page area, below the header (none on a page without it) and above the buttons.
    TRect PageArea(const TWizardPage& page) const;
    // Copies the active page's button states to the buttons and lays them out; called when
    // a page or its states change.
    void SyncButtons();

protected:
    void Resized(int deltaWidth, int deltaHeight) override;

private:
    void PlacePages();
    void Press(TWizardButton button);

    std::vector<TWizardPage*> pages_;
    std::array<TButton*, WizardButtonCount> buttons_{};
    TWizardPage* active_ = nullptr;
};

} // namespace purgelet::ui
