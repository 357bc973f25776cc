#include "ui/host.h"

#include "ui/form.h"

#include <algorithm>

namespace purgelet::ui {

void Host::PostMessage(TForm& form, unsigned message) {
    posted_.emplace_back(&form, message);
}

bool Host::DispatchPostedMessage() {
    if (posted_.empty())
        return false;
    auto [form, message] = posted_.front();
    posted_.pop_front();
    form->Dispatch(message);
    return true;
}

void Host::DispatchPostedMessages() {
    // Only what is waiting now: a handler that posts again is served by a later turn.
    for (std::size_t n = posted_.size(); n > 0 && DispatchPostedMessage(); --n) {
    }
}

void Host::ForgetForm(const TForm& form) {
    std::erase_if(posted_, [&form](const auto& entry) { return entry.first == &form; });
}

} // namespace purgelet::ui
