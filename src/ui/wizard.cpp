#include "ui/wizard.h"

#include "ui/controls.h"
#include "ui/form.h"
#include "ui/host.h"

#include <algorithm>

namespace purgelet::ui {

namespace {

struct ButtonSpec {
    const char* name;
    const char* caption;
};
constexpr ButtonSpec kButtons[WizardButtonCount] = {{"ButtonStart", "To &Start Page"},
                                                    {"ButtonLast", "To &Last Page"},
                                                    {"ButtonBack", "< &Back"},
                                                    {"ButtonNext", "&Next >"},
                                                    {"ButtonFinish", "&Finish"},
                                                    {"ButtonCancel", "Cancel"},
                                                    {"ButtonHelp", "&Help"}};

} // namespace

// ---- TWizardPage

TWizardPage::TWizardPage(std::string name, std::string title, std::string subtitle, int helpContext)
    : TControl(std::move(name), {}, akTopLeft), Title(std::move(title)),
      Subtitle(std::move(subtitle)), HelpContext(helpContext) {
    SetVisible(false);
}

TWizard* TWizardPage::Wizard() {
    TControl* parent = Parent();
    return parent != nullptr && parent->Kind() == TControlKind::Wizard
               ? static_cast<TWizard*>(parent)
               : nullptr;
}

void TWizardPage::SetButtonVisible(TWizardButton button, bool value) {
    visible_[Index(button)] = value;
    if (TWizard* wizard = Wizard(); wizard != nullptr && wizard->ActivePage() == this)
        wizard->SyncButtons();
}

void TWizardPage::SetButtonEnabled(TWizardButton button, bool value) {
    enabled_[Index(button)] = value;
    if (TWizard* wizard = Wizard(); wizard != nullptr && wizard->ActivePage() == this)
        wizard->SyncButtons();
}

// ---- TWizard

TWizard::TWizard(std::string name, TRect bounds, TAnchors anchors)
    : TControl(std::move(name), bounds, anchors) {
    for (int i = 0; i < WizardButtonCount; ++i) {
        auto& button = Add<TButton>(kButtons[i].name, TRect{});
        button.Caption = kButtons[i].caption;
        button.TabOrder = 100 + i;
        const auto which = static_cast<TWizardButton>(i);
        button.OnClick = [this, which] { Press(which); };
        buttons_[static_cast<std::size_t>(i)] = &button;
    }
}

TWizardPage& TWizard::AddPage(std::string name, std::string title, std::string subtitle,
                              int helpContext) {
    auto& page =
        Add<TWizardPage>(std::move(name), std::move(title), std::move(subtitle), helpContext);
    page.TabOrder = static_cast<int>(pages_.size());
    pages_.push_back(&page);
    page.SetBounds(PageArea(page));
    return page;
}

int TWizard::PageIndex(const TWizardPage& page) const {
    for (std::size_t i = 0; i < pages_.size(); ++i)
        if (pages_[i] == &page)
            return static_cast<int>(i);
    return -1;
}

TRect TWizard::PageArea(const TWizardPage& page) const {
    const int top = page.HeaderVisible ? HeaderHeight : 0;
    return {0, top, Bounds().Width, std::max(Bounds().Height - top - ButtonBarHeight, 0)};
}

void TWizard::SetActivePage(TWizardPage& page) {
    if (active_ == &page)
        return;
    TWizardPage* previous = active_;
    if (previous != nullptr && previous->OnExitPage)
        previous->OnExitPage();
    if (previous != nullptr)
        previous->SetVisible(false);
    active_ = &page;
    page.SetBounds(PageArea(page));
    page.SetVisible(true);
    SyncButtons();
    if (TForm* form = Form()) {
        // The focus goes to the page's first control, else to the button that goes on.
        TControl* first = nullptr;
        for (TControl* stop : form->TabStops()) {
            for (TControl* c = stop; c != nullptr && first == nullptr; c = c->Parent())
                if (c == &page)
                    first = stop;
            if (first != nullptr)
                break;
        }
        // In a group of radio buttons the keyboard starts on the chosen one, as in a dialog.
        if (first != nullptr && first->Kind() == TControlKind::RadioButton)
            for (TRadioButton* radio : static_cast<TRadioButton*>(first)->Group())
                if (radio->Usable() && radio->Checked())
                    first = radio;
        for (TWizardButton b : {TWizardButton::Next, TWizardButton::Finish})
            if (first == nullptr && NavButton(b).Usable())
                first = &NavButton(b);
        if (first != nullptr)
            form->SetFocus(first);
        else if (form->ActiveControl() == nullptr || !form->ActiveControl()->Usable())
            form->FocusNext();
        form->GetHost().PageShown(page);
    }
    if (OnPageShown)
        OnPageShown(page);
    if (page.OnEnterPage)
        page.OnEnterPage();
}

TButton* TWizard::DefaultButton() const {
    if (active_ == nullptr)
        return nullptr;
    const bool last = PageIndex(*active_) + 1 == PageCount();
    TButton& button = NavButton(last ? TWizardButton::Finish : TWizardButton::Next);
    return button.Usable() ? &button : nullptr;
}

void TWizard::SelectNextPage() {
    const int at = active_ != nullptr ? PageIndex(*active_) : -1;
    if (at + 1 < PageCount())
        SetActivePage(Pages(at + 1));
}

void TWizard::SelectPriorPage() {
    const int at = active_ != nullptr ? PageIndex(*active_) : 0;
    if (at > 0)
        SetActivePage(Pages(at - 1));
}

void TWizard::Press(TWizardButton button) {
    TWizardPage* page = active_;
    switch (button) {
    case TWizardButton::Start:
        if (PageCount() > 0)
            SetActivePage(Pages(0));
        break;
    case TWizardButton::Last:
        if (PageCount() > 0)
            SetActivePage(Pages(PageCount() - 1));
        break;
    case TWizardButton::Back:
        if (page != nullptr && page->OnBackButtonClick)
            page->OnBackButtonClick();
        else
            SelectPriorPage();
        break;
    case TWizardButton::Next:
        if (page != nullptr && page->OnNextButtonClick)
            page->OnNextButtonClick();
        else
            SelectNextPage();
        break;
    case TWizardButton::Finish:
        if (page != nullptr && page->OnFinishButtonClick)
            page->OnFinishButtonClick();
        else if (OnFinishButtonClick)
            OnFinishButtonClick();
        break;
    case TWizardButton::Cancel:
        if (page != nullptr && page->OnCancelButtonClick)
            page->OnCancelButtonClick();
        else if (OnCancelButtonClick)
            OnCancelButtonClick();
        break;
    case TWizardButton::Help:
        if (OnHelpButtonClick)
            OnHelpButtonClick();
        break;
    }
}

void TWizard::SyncButtons() {
    const int row = Bounds().Height - 1;
    int right = Bounds().Width - 1;
    // Right to left: Cancel, Finish, Next, Back, To Last Page, To Start Page; Help on the left.
    for (int i = static_cast<int>(TWizardButton::Cancel); i >= 0; --i) {
        const auto which = static_cast<TWizardButton>(i);
        TButton& button = NavButton(which);
        const bool visible = active_ != nullptr && active_->ButtonVisible(which);
        button.SetVisible(visible);
        button.SetEnabled(active_ != nullptr && active_->ButtonEnabled(which));
        if (!visible)
            continue;
        const int width = static_cast<int>(button.PlainCaption().size()) + 4;
        right -= width;
        button.SetBounds({right, row, width, 1});
        right -= 1;
    }
    TButton& help = NavButton(TWizardButton::Help);
    help.SetVisible(active_ != nullptr && active_->ButtonVisible(TWizardButton::Help));
    help.SetEnabled(active_ != nullptr && active_->ButtonEnabled(TWizardButton::Help));
    help.SetBounds({1, row, static_cast<int>(help.PlainCaption().size()) + 4, 1});
}

void TWizard::PlacePages() {
    for (TWizardPage* page : pages_)
        page->SetBounds(PageArea(*page));
}

void TWizard::Resized(int, int) {
    PlacePages();
    SyncButtons();
}

} // namespace purgelet::ui
