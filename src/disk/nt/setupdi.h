// Which physical disks exist, from the system's device installation interface: for each
// present disk drive its friendly name (what the user sees) and the path of its disk
// interface (what TNTPhysicalDisk opens). Entry i of one list belongs to entry i of the
// other: the pairing is by position, and the shorter enumeration ends both lists.
#pragma once

#include "platform/winapi.h"

#include <string>
#include <vector>

namespace purgelet {

// The disk drive setup class (device sets for friendly names) and the disk device
// interface class (sets for device paths).
extern const GUID kDiskDriveSetupClass;      // {4D36E967-E325-11CE-BFC1-08002BE10318}
extern const GUID kDiskDeviceInterfaceClass; // {53F56307-B6BF-11D0-94F2-00A0C91EFB8B}

// Appends the present disks to both lists; leaves them unchanged when a device set cannot
// be opened. An unexpected SetupAPI error raises XSetupdi; the device sets are released in
// every case.
void EnumerateDisks(std::vector<std::string>& Paths, std::vector<std::string>& Names);

// The friendly name of device Index of a device set: empty when the device has none, "*"
// when Index is past the end. Raises XSetupdi on any other failure.
std::string GetFriendlyName(HDEVINFO DeviceSet, DWORD Index);

// The device path of interface Index of a disk interface set, "*" when Index is past the
// end. Raises XSetupdi on any other failure.
std::string GetDevicePath(HDEVINFO DeviceSet, DWORD Index);

} // namespace purgelet
