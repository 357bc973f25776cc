// Small readers of sysfs and of device nodes, shared by the Linux back-end's files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace platform::linux_backend {

// The first line of a small text file, trimmed; empty when it cannot be read.
std::string ReadLine(const std::filesystem::path& file);
// The number in a small text file, -1 when there is none.
std::int64_t ReadNumber(const std::filesystem::path& file);
// The device number of a block device node, 0 when path is none.
dev_t DevnoOf(const std::string& path);
// The real sysfs folder of a block device, empty when sysfs has none.
std::string SysDirOf(const std::string& sysfs, dev_t devno);
// The device number a sysfs block device folder names in its "dev" file, 0 when none.
dev_t DevnoOfSysDir(const std::filesystem::path& dir);
// Whether a device number is a block device sysfs knows.
bool IsBlockDevice(const std::string& sysfs, dev_t devno);

// A partition of a disk: its node (/dev/loop3p2) and device number.
struct PartitionNode {
    std::string node;
    dev_t devno = 0;
};
// The partitions the kernel knows on a whole disk, in sysfs order; none for a partition.
std::vector<PartitionNode> PartitionsOf(const std::string& sysfs, dev_t disk);
// The whole disk a partition lies on, 0 when devno is no partition.
dev_t DiskOfPartition(const std::string& sysfs, dev_t devno);

} // namespace platform::linux_backend
