#include "platform/smbios.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace platform {

namespace {

constexpr std::size_t kRawHeader = 8; // RawSMBIOSData before SMBIOSTableData
constexpr std::uint8_t kSystemInformation = 1;
constexpr std::uint8_t kEndOfTable = 127;

std::string Readable(const std::uint8_t* text, std::size_t length) {
    std::string out;
    for (std::size_t i = 0; i < length; ++i)
        out += text[i] < 0x20 || text[i] == 0x7F ? ' ' : static_cast<char>(text[i]);
    const std::size_t first = out.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return out.substr(first, out.find_last_not_of(' ') - first + 1);
}

} // namespace

std::optional<SmbiosSystem> ParseSmbiosSystem(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr || size < kRawHeader)
        return std::nullopt;
    std::uint32_t declared = 0;
    std::memcpy(&declared, data + 4, sizeof declared);
    const std::uint8_t* table = data + kRawHeader;
    const std::size_t length = std::min<std::size_t>(declared, size - kRawHeader);
    std::size_t at = 0;
    while (length - at >= 4) {
        const std::uint8_t type = table[at];
        const std::uint8_t formatted = table[at + 1];
        if (formatted < 4 || formatted > length - at)
            return std::nullopt; // a broken header: nothing after it can be trusted
        // The strings follow the formatted part and end with two NULs (just two when none).
        const std::size_t strings = at + formatted;
        std::size_t end = strings;
        while (end + 1 < length && !(table[end] == 0 && table[end + 1] == 0))
            ++end;
        if (end + 1 >= length)
            return std::nullopt; // the strings run past the end
        if (type == kSystemInformation) {
            std::vector<std::string> texts;
            for (std::size_t from = strings; from < end;) {
                const std::size_t stop = std::find(table + from, table + end, 0) - table;
                texts.push_back(Readable(table + from, stop - from));
                from = stop + 1;
            }
            // A string is named by its number in the set, 1 first; 0 names none.
            auto text = [&](std::size_t offset) -> std::string {
                if (offset >= formatted)
                    return {};
                const std::uint8_t number = table[at + offset];
                return number == 0 || number > texts.size() ? std::string() : texts[number - 1];
            };
            return SmbiosSystem{text(4), text(5), text(7)};
        }
        if (type == kEndOfTable)
            return std::nullopt;
        at = end + 2;
    }
    return std::nullopt;
}

} // namespace platform
