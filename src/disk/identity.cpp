#include "disk/identity.h"

#include "platform/storage_query.h"
#include "platform/system.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace purgelet {

namespace {

constexpr std::size_t kFixedPart = offsetof(STORAGE_DEVICE_DESCRIPTOR, RawDeviceProperties);
// The first answer's room; a descriptor that says it is larger is asked for again, up to
// the largest a device could sensibly have.
constexpr DWORD kFirstAsk = 1024;
constexpr DWORD kLargestDescriptor = 64 * 1024;

DWORD DwordAt(const std::uint8_t* bytes, std::size_t at) {
    DWORD value = 0;
    std::memcpy(&value, bytes + at, sizeof value);
    return value;
}

std::string Trimmed(std::string text) {
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!text.empty() && blank(text.back()))
        text.pop_back();
    const auto first = std::find_if_not(text.begin(), text.end(), blank);
    text.erase(text.begin(), first);
    return text;
}

// The text at offset within limit bytes; control characters become blanks.
std::string TextAt(const std::uint8_t* bytes, std::size_t limit, DWORD offset) {
    if (offset < kFixedPart || offset >= limit)
        return {};
    std::string text;
    for (std::size_t i = offset; i < limit && bytes[i] != 0; ++i)
        text += bytes[i] < 0x20 || bytes[i] == 0x7F ? ' ' : static_cast<char>(bytes[i]);
    return Trimmed(std::move(text));
}

bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool Ask(HANDLE handle, STORAGE_PROPERTY_ID property, void* out, DWORD size, DWORD& returned) {
    STORAGE_PROPERTY_QUERY query{};
    query.PropertyId = property;
    query.QueryType = PropertyStandardQuery;
    returned = 0;
    return platform::k32().DeviceIoControl(handle, IOCTL_STORAGE_QUERY_PROPERTY, &query,
                                           sizeof query, out, size, &returned, nullptr) != FALSE;
}

} // namespace

std::string ModelName(const std::string& vendorName, const std::string& productName) {
    const std::string vendor = Trimmed(vendorName), product = Trimmed(productName);
    if (vendor.empty() || SameText(vendor, "ATA"))
        return product;
    if (product.empty())
        return vendor;
    // Some devices repeat their vendor at the start of their product name.
    if (product.size() >= vendor.size() && SameText(product.substr(0, vendor.size()), vendor))
        return product;
    return vendor + " " + product;
}

platform::DeviceIdentity ParseDeviceDescriptor(const void* data, std::size_t size) {
    platform::DeviceIdentity identity;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    if (bytes == nullptr || size < kFixedPart)
        return identity;
    std::size_t limit = size;
    const DWORD declared = DwordAt(bytes, offsetof(STORAGE_DEVICE_DESCRIPTOR, Size));
    if (declared < kFixedPart)
        return identity; // not a descriptor
    limit = std::min<std::size_t>(limit, declared);
    const std::string vendor =
        TextAt(bytes, limit, DwordAt(bytes, offsetof(STORAGE_DEVICE_DESCRIPTOR, VendorIdOffset)));
    const std::string product =
        TextAt(bytes, limit, DwordAt(bytes, offsetof(STORAGE_DEVICE_DESCRIPTOR, ProductIdOffset)));
    identity.Model = ModelName(vendor, product);
    identity.Firmware = TextAt(
        bytes, limit, DwordAt(bytes, offsetof(STORAGE_DEVICE_DESCRIPTOR, ProductRevisionOffset)));
    identity.Serial = TextAt(
        bytes, limit, DwordAt(bytes, offsetof(STORAGE_DEVICE_DESCRIPTOR, SerialNumberOffset)));
    const DWORD bus = DwordAt(bytes, offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType));
    const DWORD rawLength =
        DwordAt(bytes, offsetof(STORAGE_DEVICE_DESCRIPTOR, RawPropertiesLength));
    const std::string_view tag = platform::kLoopDeviceTag;
    const bool loop = rawLength == tag.size() && limit - kFixedPart >= rawLength &&
                      std::memcmp(bytes + kFixedPart, tag.data(), tag.size()) == 0;
    identity.Bus = platform::BusTypeWord(bus, loop);
    return identity;
}

platform::DeviceIdentity QueryDeviceIdentity(HANDLE handle) {
    auto& k = platform::k32();
    const DWORD saved = k.GetLastError();
    platform::DeviceIdentity identity;
    std::vector<std::uint8_t> answer(kFirstAsk);
    DWORD returned = 0;
    if (Ask(handle, StorageDeviceProperty, answer.data(), kFirstAsk, returned)) {
        std::size_t size = std::min<std::size_t>(returned, answer.size());
        if (size >= sizeof(STORAGE_DESCRIPTOR_HEADER)) {
            const DWORD declared =
                DwordAt(answer.data(), offsetof(STORAGE_DESCRIPTOR_HEADER, Size));
            if (declared > answer.size() && declared <= kLargestDescriptor) {
                std::vector<std::uint8_t> whole(declared);
                if (Ask(handle, StorageDeviceProperty, whole.data(), declared, returned)) {
                    answer = std::move(whole);
                    size = std::min<std::size_t>(returned, answer.size());
                }
            }
        }
        identity = ParseDeviceDescriptor(answer.data(), size);
    }
    DEVICE_SEEK_PENALTY_DESCRIPTOR penalty{};
    if (Ask(handle, StorageDeviceSeekPenaltyProperty, &penalty, sizeof penalty, returned) &&
        returned > offsetof(DEVICE_SEEK_PENALTY_DESCRIPTOR, IncursSeekPenalty))
        identity.Rotational = penalty.IncursSeekPenalty != FALSE;
    k.SetLastError(saved);
    return identity;
}

} // namespace purgelet
