// FormatEx on Linux: the matching mkfs run on the drive's device with the label asked for,
// progress reported while it runs and the child ended when the caller cancels. The command
// that would format a drive is also what SHFormatDrive tells the user.
#pragma once

#include "platform/fmifs.h"
#include "platform/linux/kernel32.h"

#include <memory>
#include <string>
#include <vector>

namespace platform::linux_backend {

// The mkfs command line for a file system by its Windows name (FAT12, FAT16, FAT32, FAT,
// NTFS, exFAT) or blkid's (ext2, ext3, ext4, vfat); empty for one we cannot make.
std::vector<std::string> FormatCommand(const std::string& fileSystem, const std::string& label,
                                       const std::string& node, DWORD clusterSize);

std::unique_ptr<Fmifs> CreateLinuxFmifs(LinuxKernel32& kernel32);

} // namespace platform::linux_backend
