#include "ui/host.h"

#include "ui/form.h"

#include <algorithm>

namespace purgelet::ui {

void Host::Post(TForm& form, unsigned message) {
    posted_.emplace_back(&form, message);
    Posted();
}

void Host::RunHandler(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        if (PassesThrough(error))
            throw;
        OnException(error);
    }
}

bool Host::DispatchPostedMessage() {
    if (posted_.empty())
        return false;
    auto [form, message] = posted_.front();
    posted_.pop_front();
    RunHandler([form = form, message = message] { form->Dispatch(message); });
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
