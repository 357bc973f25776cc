#include "scsi/inquiry.h"

namespace purgelet {

const char* const DeviceTypeNames[13] = {
    "Disk",    "Tape",    "Printer",       "Processor", "Worm", "CDROM", "Scanner",
    "Optical", "Changer", "Communication", "Invalid",   "Any",  "Other"};

std::uint8_t PeripheralTypeIndex(std::uint8_t b) {
    if (b < 10)
        return b;
    return b == 0x1F ? 10 : 12;
}

std::string CopyInquiryText(const std::uint8_t* source, std::size_t width) {
    std::string text;
    for (std::size_t i = 0; i < width && source[i] >= 0x20; ++i)
        text += static_cast<char>(source[i]);
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

TInquiryData DecodeInquiry(const std::uint8_t* a) {
    TInquiryData d;
    d.DeviceType = PeripheralTypeIndex(a[0]);
    d.Removable = a[1];
    d.Version = a[2];
    d.ResponseFormat = a[3];
    d.Flags = a[7];
    d.Vendor = CopyInquiryText(a + 8, 8);
    d.Product = CopyInquiryText(a + 16, 16);
    d.Revision = CopyInquiryText(a + 32, 4);
    return d;
}

} // namespace purgelet
