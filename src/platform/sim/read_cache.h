// The system cache of one raw device of the simulated PC, as its buffered handles see it.
//
// What it models: on Windows a handle opened on a volume ("\\.\E:") or a disk without
// FILE_FLAG_NO_BUFFERING reads and writes through the system cache, one cache per device for
// all its handles. A read is served from the cached pages where it can be; a write through
// such a handle lands in them. What reaches the medium another way (a handle opened with
// FILE_FLAG_NO_BUFFERING, the disk under a volume or a volume on the disk, the drive's own
// commands such as a sanitize) leaves the cached pages as they were: a buffered reader goes
// on seeing the old bytes until the cache is dropped, which the system does when the volume
// is locked or dismounted and when the last handle on the device is closed. A write the
// drive acknowledges but does not keep stays in the cache, so a read-back through the cache
// finds what was written. The lazy writer's delay is not modelled: a buffered write reaches
// the medium at once.
#pragma once

#include "platform/sim/machine.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

namespace platform::sim {

class ReadCache {
public:
    // Cached in pages of this many bytes, at most kMaxPages of them (the oldest goes first).
    static constexpr std::int64_t kPageBytes = 64 * 1024;
    static constexpr std::size_t kMaxPages = 512;

    // The device's bytes: [base, base + length) of image.
    struct Medium {
        Image* image = nullptr;
        std::int64_t base = 0;
        std::int64_t length = 0;
    };

    // size bytes at the device's offset, cached pages as they are and the others read from
    // the medium and kept. False when the medium cannot be read.
    bool Read(const Medium& medium, std::int64_t offset, void* buffer, std::size_t size);
    // A write through a buffered handle: toMedium moves the bytes to the medium, and the pages
    // the write touches then hold them (as the medium held the rest before). A failed write
    // leaves those pages uncached.
    bool Write(const Medium& medium, std::int64_t offset, const void* buffer, std::size_t size,
               const std::function<bool()>& toMedium);
    // Forgets every page.
    void Drop();
    std::size_t Pages() const;

private:
    // The page at index, loaded from the medium when it is not cached (null when the medium
    // cannot be read). Under mutex_.
    std::vector<std::uint8_t>* Page(const Medium& medium, std::int64_t index);
    // Gives up the oldest pages beyond kMaxPages. Under mutex_.
    void Trim();

    mutable std::mutex mutex_;
    Image* image_ = nullptr; // the medium the pages are of (a floppy's may change)
    std::map<std::int64_t, std::vector<std::uint8_t>> pages_;
    std::deque<std::int64_t> order_; // page indexes, oldest first
};

} // namespace platform::sim
