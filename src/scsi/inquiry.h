// The standard INQUIRY answer: the peripheral device type and the identifying texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace purgelet {

// Device type index 0..12 and its name.
extern const char* const DeviceTypeNames[13];
inline constexpr std::uint8_t dtCDROM = 5;
// INQUIRY byte 0, qualifier bits included: below 10 itself, 1Fh 10, anything else 12.
std::uint8_t PeripheralTypeIndex(std::uint8_t b);
// A fixed-width INQUIRY text: up to width characters, stopping at a control character,
// trailing blanks dropped.
std::string CopyInquiryText(const std::uint8_t* source, std::size_t width);

// The decoded INQUIRY answer.
struct TInquiryData {
    std::uint8_t DeviceType = 0;
    std::uint8_t Removable = 0;
    std::uint8_t Version = 0;
    std::uint8_t ResponseFormat = 0;
    std::uint8_t Flags = 0;
    std::string Vendor;
    std::string Product;
    std::string Revision; // the product revision level: the firmware
};
// answer holds at least the 36 bytes up to the product revision level.
TInquiryData DecodeInquiry(const std::uint8_t* answer);

} // namespace purgelet
