#include "platform/storage_query.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace platform {

namespace {

struct BusWord {
    DWORD type;
    const char* word;
};

const BusWord kBusWords[] = {
    {BusTypeUnknown, "unknown"},
    {BusTypeScsi, "SCSI"},
    {BusTypeAtapi, "ATAPI"},
    {BusTypeAta, "ATA"},
    {BusType1394, "1394"},
    {BusTypeSsa, "SSA"},
    {BusTypeFibre, "Fibre Channel"},
    {BusTypeUsb, "USB"},
    {BusTypeRAID, "RAID"},
    {BusTypeiScsi, "iSCSI"},
    {BusTypeSas, "SAS"},
    {BusTypeSata, "SATA"},
    {BusTypeSd, "SD"},
    {BusTypeMmc, "MMC"},
    {BusTypeVirtual, "virtual"},
    {BusTypeFileBackedVirtual, "file-backed virtual"},
    {BusTypeSpaces, "Storage Spaces"},
    {BusTypeNvme, "NVMe"},
    {BusTypeSCM, "SCM"},
    {BusTypeUfs, "UFS"},
};

bool SameWord(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

void PutDword(std::vector<std::uint8_t>& bytes, std::size_t at, DWORD value) {
    std::memcpy(bytes.data() + at, &value, sizeof value);
}

} // namespace

std::vector<std::uint8_t> DeviceDescriptorBytes(const StorageDeviceFacts& facts) {
    constexpr std::size_t kFixed = offsetof(STORAGE_DEVICE_DESCRIPTOR, RawDeviceProperties);
    const std::string_view raw = facts.loop ? kLoopDeviceTag : std::string_view();
    std::vector<std::uint8_t> bytes(kFixed + raw.size());
    if (!raw.empty())
        std::memcpy(bytes.data() + kFixed, raw.data(), raw.size());
    // Each text that is known follows the others with its NUL; an unknown one has offset 0.
    auto text = [&bytes](const std::string& value) -> DWORD {
        if (value.empty())
            return 0;
        const auto at = static_cast<DWORD>(bytes.size());
        bytes.insert(bytes.end(), value.begin(), value.end());
        bytes.push_back(0);
        return at;
    };
    const DWORD vendor = text(facts.vendor);
    const DWORD product = text(facts.product);
    const DWORD revision = text(facts.revision);
    const DWORD serial = text(facts.serial);
    PutDword(bytes, offsetof(STORAGE_DEVICE_DESCRIPTOR, Version),
             sizeof(STORAGE_DEVICE_DESCRIPTOR));
    PutDword(bytes, offsetof(STORAGE_DEVICE_DESCRIPTOR, Size), static_cast<DWORD>(bytes.size()));
    bytes[offsetof(STORAGE_DEVICE_DESCRIPTOR, DeviceType)] = facts.deviceType;
    bytes[offsetof(STORAGE_DEVICE_DESCRIPTOR, DeviceTypeModifier)] = 0;
    bytes[offsetof(STORAGE_DEVICE_DESCRIPTOR, RemovableMedia)] = facts.removable ? 1 : 0;
    bytes[offsetof(STORAGE_DEVICE_DESCRIPTOR, CommandQueueing)] = 0;
    PutDword(bytes, offsetof(STORAGE_DEVICE_DESCRIPTOR, VendorIdOffset), vendor);
    PutDword(bytes, offsetof(STORAGE_DEVICE_DESCRIPTOR, ProductIdOffset), product);
    PutDword(bytes, offsetof(STORAGE_DEVICE_DESCRIPTOR, ProductRevisionOffset), revision);
    PutDword(bytes, offsetof(STORAGE_DEVICE_DESCRIPTOR, SerialNumberOffset), serial);
    PutDword(bytes, offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType),
             facts.loop ? DWORD{BusTypeFileBackedVirtual} : facts.busType);
    PutDword(bytes, offsetof(STORAGE_DEVICE_DESCRIPTOR, RawPropertiesLength),
             static_cast<DWORD>(raw.size()));
    return bytes;
}

DWORD AnswerStorageQuery(const StorageDeviceFacts& facts, LPCVOID in, DWORD inSize, LPVOID out,
                         DWORD outSize, DWORD* returned) {
    *returned = 0;
    if (in == nullptr || inSize < offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters))
        return ERROR_INVALID_PARAMETER;
    // Read as the integers they are: a caller may put any value there, and an enum loaded
    // from bytes outside its values is undefined.
    DWORD property = 0, type = 0;
    const auto* bytes = static_cast<const std::uint8_t*>(in);
    std::memcpy(&property, bytes + offsetof(STORAGE_PROPERTY_QUERY, PropertyId), sizeof property);
    std::memcpy(&type, bytes + offsetof(STORAGE_PROPERTY_QUERY, QueryType), sizeof type);
    if (type != PropertyStandardQuery && type != PropertyExistsQuery)
        return ERROR_INVALID_PARAMETER;
    if (property == StorageDeviceProperty) {
        if (type == PropertyExistsQuery)
            return ERROR_SUCCESS;
        if (out == nullptr || outSize < sizeof(STORAGE_DESCRIPTOR_HEADER))
            return ERROR_INSUFFICIENT_BUFFER;
        const std::vector<std::uint8_t> bytes = DeviceDescriptorBytes(facts);
        const auto size = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), outSize));
        std::memcpy(out, bytes.data(), size);
        *returned = size;
        return ERROR_SUCCESS;
    }
    if (property == StorageDeviceSeekPenaltyProperty && facts.rotational.has_value()) {
        if (type == PropertyExistsQuery)
            return ERROR_SUCCESS;
        if (out == nullptr || outSize < sizeof(DEVICE_SEEK_PENALTY_DESCRIPTOR))
            return ERROR_INSUFFICIENT_BUFFER;
        DEVICE_SEEK_PENALTY_DESCRIPTOR penalty{};
        penalty.Version = sizeof penalty;
        penalty.Size = sizeof penalty;
        penalty.IncursSeekPenalty = *facts.rotational ? TRUE : FALSE;
        std::memcpy(out, &penalty, sizeof penalty);
        *returned = sizeof penalty;
        return ERROR_SUCCESS;
    }
    return ERROR_INVALID_FUNCTION;
}

std::string BusTypeWord(DWORD busType, bool loopDevice) {
    if (loopDevice && busType == BusTypeFileBackedVirtual)
        return "loop";
    for (const BusWord& entry : kBusWords)
        if (entry.type == busType)
            return entry.word;
    return "unknown";
}

std::optional<DWORD> BusTypeOfWord(std::string_view word) {
    if (SameWord(word, "loop"))
        return DWORD{BusTypeFileBackedVirtual};
    for (const BusWord& entry : kBusWords)
        if (SameWord(word, entry.word))
            return entry.type;
    return std::nullopt;
}

} // namespace platform
