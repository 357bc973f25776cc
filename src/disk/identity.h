// Which device a disk is: its model, serial number, firmware, bus and whether it seeks, as
// the system's storage property query tells them. A device that answers nothing has an
// empty identity: a wipe record says "unknown" rather than the detection failing.
#pragma once

#include "platform/identity.h"
#include "platform/winapi.h"

#include <cstddef>
#include <string>

namespace purgelet {

// Reads a STORAGE_DEVICE_DESCRIPTOR of size bytes, as many as the system returned. Nothing
// outside them is read: a text whose offset lies in the fixed part or beyond the end is
// unknown, one without its NUL ends at the end, and the descriptor's own Size shortens what
// is read but never lengthens it. Texts are trimmed; the model is the vendor and the product
// (the vendor "ATA" that SCSI translation puts before every ATA drive's model is left out).
platform::DeviceIdentity ParseDeviceDescriptor(const void* bytes, std::size_t size);

// The model from a vendor and a product name, trimmed: either alone when the other is
// empty, the product alone when it starts with the vendor or the vendor is "ATA".
std::string ModelName(const std::string& vendor, const std::string& product);

// Asks the device behind an open handle for its descriptor and its seek penalty; what it
// does not answer stays unknown. Never raises, and the last error is left as it was.
platform::DeviceIdentity QueryDeviceIdentity(HANDLE handle);

} // namespace purgelet
