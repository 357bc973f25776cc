#include "ui/component.h"

#include "ui/form.h"

#include <algorithm>
#include <cctype>

namespace purgelet::ui {

void TControl::AddChild(std::unique_ptr<TControl> child) {
    child->parent_ = this;
    children_.push_back(std::move(child));
}

TForm* TControl::Form() {
    TControl* control = this;
    while (control->parent_ != nullptr)
        control = control->parent_;
    return control->Kind() == TControlKind::Form ? static_cast<TForm*>(control) : nullptr;
}

const TForm* TControl::Form() const {
    return const_cast<TControl*>(this)->Form();
}

TControl* TControl::Find(const std::string& name) {
    if (Name == name)
        return this;
    for (auto& child : children_)
        if (TControl* found = child->Find(name))
            return found;
    return nullptr;
}

void TControl::SetBounds(const TRect& bounds) {
    const int dw = bounds.Width - bounds_.Width;
    const int dh = bounds.Height - bounds_.Height;
    bounds_ = bounds;
    if (dw != 0 || dh != 0)
        Resized(dw, dh);
}

void TControl::Resized(int dw, int dh) {
    for (auto& child : children_) {
        TRect r = child->Bounds();
        const TAnchors a = child->Anchors();
        if (a & akRight) {
            if (a & akLeft)
                r.Width += dw;
            else
                r.Left += dw;
        }
        if (a & akBottom) {
            if (a & akTop)
                r.Height += dh;
            else
                r.Top += dh;
        }
        r.Width = std::max(r.Width, 0);
        r.Height = std::max(r.Height, 0);
        child->SetBounds(r);
    }
}

TRect TControl::FormRect() const {
    TRect r = bounds_;
    if (Kind() == TControlKind::Form)
        return {0, 0, r.Width, r.Height};
    for (const TControl* p = parent_; p != nullptr; p = p->parent_) {
        if (p->Kind() == TControlKind::Form)
            break;
        const TRect client = p->ClientRect();
        r.Left += p->bounds_.Left + client.Left;
        r.Top += p->bounds_.Top + client.Top;
    }
    return r;
}

bool TControl::Showing() const {
    for (const TControl* c = this; c != nullptr; c = c->parent_)
        if (!c->visible_)
            return false;
    return true;
}

bool TControl::Usable() const {
    for (const TControl* c = this; c != nullptr; c = c->parent_)
        if (!c->visible_ || !c->enabled_)
            return false;
    return true;
}

char TControl::Accelerator() const {
    return AcceleratorOf(Caption);
}

std::string TControl::PlainCaption() const {
    return StripAccelerator(Caption);
}

char AcceleratorOf(const std::string& caption) {
    for (std::size_t i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != '&')
            continue;
        if (caption[i + 1] == '&') {
            ++i;
            continue;
        }
        return static_cast<char>(std::toupper(static_cast<unsigned char>(caption[i + 1])));
    }
    return 0;
}

std::string StripAccelerator(const std::string& caption) {
    std::string out;
    for (std::size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] == '&' && i + 1 < caption.size())
            ++i;
        else if (caption[i] == '&')
            continue;
        out += caption[i];
    }
    return out;
}

std::vector<std::string> WrapText(const std::string& text, int width) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? end : end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (width <= 0) {
            lines.push_back(line);
        } else {
            do {
                if (static_cast<int>(line.size()) <= width) {
                    lines.push_back(line);
                    break;
                }
                std::size_t cut = line.rfind(' ', static_cast<std::size_t>(width));
                if (cut == std::string::npos || cut == 0) {
                    lines.push_back(line.substr(0, static_cast<std::size_t>(width)));
                    line.erase(0, static_cast<std::size_t>(width));
                } else {
                    lines.push_back(line.substr(0, cut));
                    line.erase(0, cut + 1);
                }
            } while (!line.empty());
        }
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return lines;
}

} // namespace purgelet::ui
