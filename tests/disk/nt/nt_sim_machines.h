// Simulated machines for the NT disk tests: one 8 MiB disk with two partitions (E: NTFS,
// F: FAT32), drives with images of their own, and a floppy drive.
#pragma once

#include "platform/system.h"

#include <nlohmann/json.hpp>
#include <string>

namespace purgelet::testing {

inline constexpr std::int64_t kNtPartE = 32768;         // byte offset of E:
inline constexpr std::int64_t kNtPartF = 4194304;       // byte offset of F:
inline constexpr std::int64_t kNtPartLength = 4161536;  // E: length (8128 blocks)
inline constexpr std::int64_t kNtPartFLength = 4194304; // F: length
inline constexpr std::int64_t kNtDiskBytes = 8 << 20;

inline nlohmann::json NtMachine() {
    return nlohmann::json::parse(R"J({
      "physicalDisks": [{"friendlyName": "SIM DISK 0", "deviceNumber": 1, "image": "disk.img",
                         "geometry": {"cylinders": 16, "tracksPerCylinder": 16,
                                      "sectorsPerTrack": 64, "bytesPerSector": 512}}],
      "drives": [
        {"letter": "E", "disk": 0, "offset": 32768, "length": 4161536, "partitionType": 7,
         "boot": true, "partitionNumber": 1,
         "volume": {"label": "  SYSTEM ", "fileSystem": "NTFS ", "freeBytes": 1000}},
        {"letter": "F", "disk": 0, "offset": 4194304, "length": 4194304, "partitionType": 12,
         "partitionNumber": 2, "volume": {"label": "", "fileSystem": "FAT32"}},
        {"letter": "R", "kind": "removable", "image": "stick.img", "size": 1048576,
         "partitionType": 6, "volume": {"label": "", "fileSystem": "FAT16"}},
        {"letter": "A", "kind": "floppy", "supportedMedia": ["F3_720_512", "F3_1Pt44_512"],
         "medium": {"type": "F3_1Pt44_512", "image": "floppy.img"}}
      ]})J");
}

// The system's text for an error code, as the messages end with it.
inline std::string SysText(DWORD code) {
    return platform::k32().SysErrorMessage(code);
}

} // namespace purgelet::testing
