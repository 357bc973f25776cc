// Who a block device is, as Linux knows it: the properties udev gave the device (libudev)
// where it has them, the sysfs files the kernel keeps otherwise. Read for the storage
// property query, which the Linux kernel32 answers as Windows does.
#pragma once

#include "platform/storage_query.h"

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>

namespace platform::linux_backend {

// The facts of the whole disk that the block device devno lies on (a partition's parent),
// in the program's code page; nothing when sysfs does not know the device. libudev reads the
// real /sys and udev's database, so it is asked only when sysfs is "/sys": a test's tree is
// read as files alone.
std::optional<StorageDeviceFacts> ReadStorageFacts(const std::string& sysfs, dev_t devno);

// The serial number in a SCSI unit serial number page (VPD page 80h) as sysfs keeps it;
// empty when the bytes are no such page or its length runs past them.
std::string SerialOfVpdPage80(const std::string& bytes);

} // namespace platform::linux_backend
