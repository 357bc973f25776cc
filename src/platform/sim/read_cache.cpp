#include "platform/sim/read_cache.h"

#include <algorithm>
#include <cstring>

namespace platform::sim {

std::vector<std::uint8_t>* ReadCache::Page(const Medium& medium, std::int64_t index) {
    if (medium.image != image_) {
        pages_.clear();
        order_.clear();
        image_ = medium.image;
    }
    auto found = pages_.find(index);
    if (found != pages_.end())
        return &found->second;
    const std::int64_t start = index * kPageBytes;
    const std::int64_t bytes = std::min(kPageBytes, medium.length - start);
    if (bytes <= 0)
        return nullptr;
    std::vector<std::uint8_t> page(static_cast<std::size_t>(bytes));
    if (!medium.image->Read(medium.base + start, page.data(), page.size()))
        return nullptr;
    order_.push_back(index);
    return &pages_.emplace(index, std::move(page)).first->second;
}

void ReadCache::Trim() {
    while (pages_.size() > kMaxPages && !order_.empty()) {
        pages_.erase(order_.front());
        order_.pop_front();
    }
}

bool ReadCache::Read(const Medium& medium, std::int64_t offset, void* buffer, std::size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::int64_t at = offset;
    const std::int64_t end = offset + static_cast<std::int64_t>(size);
    while (at < end) {
        const std::int64_t index = at / kPageBytes;
        const std::vector<std::uint8_t>* page = Page(medium, index);
        if (page == nullptr)
            return false;
        const std::int64_t within = at - index * kPageBytes;
        const std::int64_t count =
            std::min(end - at, static_cast<std::int64_t>(page->size()) - within);
        if (count <= 0)
            return false;
        std::memcpy(out + (at - offset), page->data() + within, static_cast<std::size_t>(count));
        at += count;
    }
    Trim();
    return true;
}

bool ReadCache::Write(const Medium& medium, std::int64_t offset, const void* buffer,
                      std::size_t size, const std::function<bool()>& toMedium) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::int64_t end = offset + static_cast<std::int64_t>(size);
    const std::int64_t first = offset / kPageBytes;
    const std::int64_t last = (end - 1) / kPageBytes;
    // The pages as the medium holds them before the write: a sector the drive then drops is
    // still what was written, in the cache.
    bool loaded = size > 0;
    for (std::int64_t index = first; loaded && index <= last; ++index)
        loaded = Page(medium, index) != nullptr;
    const bool written = toMedium();
    if (!written || !loaded) {
        for (std::int64_t index = first; index <= last; ++index) {
            pages_.erase(index);
            order_.erase(std::remove(order_.begin(), order_.end(), index), order_.end());
        }
        return written;
    }
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    for (std::int64_t index = first; index <= last; ++index) {
        std::vector<std::uint8_t>& page = pages_.at(index);
        const std::int64_t start = std::max(offset, index * kPageBytes);
        const std::int64_t stop =
            std::min(end, index * kPageBytes + static_cast<std::int64_t>(page.size()));
        std::memcpy(page.data() + (start - index * kPageBytes), in + (start - offset),
                    static_cast<std::size_t>(stop - start));
    }
    Trim();
    return true;
}

void ReadCache::Drop() {
    std::lock_guard<std::mutex> lock(mutex_);
    pages_.clear();
    order_.clear();
}

std::size_t ReadCache::Pages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pages_.size();
}

} // namespace platform::sim
