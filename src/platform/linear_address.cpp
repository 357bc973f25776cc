#include "platform/linear_address.h"

#include <cstdint>
#include <map>
#include <mutex>

namespace platform {

#if UINTPTR_MAX == 0xFFFFFFFFu

LinearAddress::LinearAddress(const void* buffer, std::size_t)
    : value_(static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(buffer))) {}

LinearAddress::~LinearAddress() = default;

void* ResolveLinearAddress(DWORD address, std::size_t) {
    return address == 0 ? nullptr : reinterpret_cast<void*>(static_cast<std::uintptr_t>(address));
}

#else

namespace {

struct Mapping {
    const void* buffer;
    std::size_t size;
};

// Stand-ins start above the first 64 KiB (where no real buffer lives either) and are a
// page apart, so an address past one buffer never lands in the next.
constexpr std::uint64_t kFirst = 0x00010000;
constexpr std::uint64_t kPage = 0x1000;

struct Table {
    std::mutex lock;
    std::map<DWORD, Mapping> mappings; // by stand-in address
    std::uint64_t next = kFirst;
};

Table& table() {
    static Table t;
    return t;
}

} // namespace

LinearAddress::LinearAddress(const void* buffer, std::size_t size) {
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    if (t.mappings.empty())
        t.next = kFirst; // requests map and unmap in turn: the space is used again
    const std::uint64_t span = (size + kPage - 1) / kPage * kPage + kPage;
    if (t.next + span > 0xFFFFFFFFull)
        return; // no room: the address stays 0, which resolves to nothing
    value_ = static_cast<DWORD>(t.next);
    t.next += span;
    t.mappings[value_] = Mapping{buffer, size};
}

LinearAddress::~LinearAddress() {
    if (value_ == 0)
        return;
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    t.mappings.erase(value_);
}

void* ResolveLinearAddress(DWORD address, std::size_t size) {
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    auto it = t.mappings.upper_bound(address);
    if (it == t.mappings.begin())
        return nullptr;
    --it;
    const std::uint64_t offset = address - it->first;
    if (offset + size > it->second.size)
        return nullptr;
    return const_cast<std::uint8_t*>(static_cast<const std::uint8_t*>(it->second.buffer)) + offset;
}

#endif

} // namespace platform
