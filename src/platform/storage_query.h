// The storage property query as the back-ends without Windows under them answer it: a
// device's facts laid out the way Windows lays them out, so that the program reads every
// system's answer with one parser. Also the words for the bus types, shared by that parser
// and the machine file.
#pragma once

#include "platform/winapi.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// A Linux loop device is a disk over a file, which Windows calls a file-backed virtual disk
// without telling what kind. Our back-ends tell it apart: its descriptor has the bus type
// BusTypeFileBackedVirtual and, as its raw device properties, exactly these bytes (no NUL
// after them). Only that combination reads as the bus "loop"; Windows never answers it.
inline constexpr std::string_view kLoopDeviceTag = "purgelet:loop";

// What a back-end knows of a device, in the program's code page; empty texts are unknown.
struct StorageDeviceFacts {
    std::string vendor;
    std::string product;
    std::string revision; // the firmware
    std::string serial;
    DWORD busType = BusTypeUnknown;
    bool loop = false; // a Linux loop device (with busType BusTypeFileBackedVirtual)
    bool removable = false;
    BYTE deviceType = 0;            // SCSI peripheral type: 0 a disk, 5 a CD/DVD drive
    std::optional<bool> rotational; // unknown: the seek penalty query is not supported
};

// The STORAGE_DEVICE_DESCRIPTOR of the facts with its texts after the fixed part.
std::vector<std::uint8_t> DeviceDescriptorBytes(const StorageDeviceFacts& facts);

// Answers IOCTL_STORAGE_QUERY_PROPERTY for the device as Windows does: the device property
// (as much of the descriptor as fits, at least its header: its Size tells how much there
// is) and the seek penalty property (not supported while rotational is unknown), each also
// as an "exists" query. ERROR_SUCCESS with *returned bytes written, else the error code.
DWORD AnswerStorageQuery(const StorageDeviceFacts& facts, LPCVOID in, DWORD inSize, LPVOID out,
                         DWORD outSize, DWORD* returned);

// The word for a bus type: "SATA", "NVMe", "USB", "SCSI", "ATA", "SAS", "MMC", "virtual",
// "RAID", "iSCSI", "1394", ...; "loop" for a Linux loop device; "unknown" for a value that
// has no word.
std::string BusTypeWord(DWORD busType, bool loopDevice = false);
// The bus type a word of BusTypeWord names, without regard to case ("loop":
// BusTypeFileBackedVirtual); nothing for a word it does not know.
std::optional<DWORD> BusTypeOfWord(std::string_view word);

} // namespace platform
