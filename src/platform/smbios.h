// The computer's own names in its firmware's SMBIOS tables, as Windows hands them out
// (GetSystemFirmwareTable with the provider 'RSMB'). Portable, so that hostile and truncated
// tables are tested on every build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// The texts of the System Information structure (type 1); empty where it names none.
struct SmbiosSystem {
    std::string Manufacturer;
    std::string ProductName;
    std::string SerialNumber;
};

// The first System Information structure of a raw SMBIOS block: the 8-byte header Windows
// puts before the table (calling method, major and minor version, DMI revision, the table's
// length) and the table. Nothing past size (nor past the length the header gives) is read:
// a structure whose formatted part or strings run past the end ends the walk, a string
// number beyond the structure's strings is an empty text. Nothing when the table has no
// whole type 1 structure.
std::optional<SmbiosSystem> ParseSmbiosSystem(const std::uint8_t* data, std::size_t size);

} // namespace platform
