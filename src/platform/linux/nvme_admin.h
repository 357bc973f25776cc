// NVMe admin commands on Linux: an IOCTL_STORAGE_PROTOCOL_COMMAND request (the 64-byte
// submission queue entry and its data, as the sanitize code builds it for Windows) carried by
// the NVMe driver's admin command ioctl on the controller's node. The completion's status and
// its first dword come back in the request, as Windows gives them.
#pragma once

#include "platform/winapi.h"

#include <functional>
#include <string>

namespace platform::linux_backend {

// The admin command call: ioctl(fd, NVME_IOCTL_ADMIN_CMD, command); -1 with errno set, 0 for a
// command that succeeded, else the NVMe status field. Tests give their own.
using NvmeAdminCall = std::function<int(int fd, void* command)>;
int SystemNvmeAdmin(int fd, void* command);

// The controller's character device (/dev/nvme0) of a namespace's block device, from the
// namespace's sysfs folder (/sys/devices/.../nvme0/nvme0n1); empty when it is no NVMe namespace.
std::string NvmeControllerNode(const std::string& sysDir);

// Carries the request in `in` to the controller open as fd; the answer goes to `out`, which
// may be the same buffer. Returns a Win32 error code: ERROR_SUCCESS when the controller
// completed the command (ReturnStatus then says how), ERROR_INVALID_FUNCTION when fd is no
// NVMe device, else why the request did not reach it.
DWORD NvmeAdmin(int fd, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned,
                const NvmeAdminCall& call = SystemNvmeAdmin);

// The namespace id of a namespace's block device open as fd: ioctl(fd, NVME_IOCTL_ID), the
// id, or -1 with errno set. Tests give their own.
using NvmeIdCall = std::function<int(int fd)>;
int SystemNvmeId(int fd);

// Answers the storage property query for the NVMe Identify Namespace data of the namespace
// open as namespaceFd (StorageDeviceProtocolSpecificProperty, the namespace implicit in the
// handle, as Windows answers it on a disk): its id from the block device, the data from the
// controller open as controllerFd. ERROR_SUCCESS with *returned bytes written, else why not.
DWORD NvmeNamespaceQuery(int namespaceFd, int controllerFd, const void* in, DWORD inSize, void* out,
                         DWORD outSize, DWORD* returned,
                         const NvmeAdminCall& call = SystemNvmeAdmin,
                         const NvmeIdCall& id = SystemNvmeId);

} // namespace platform::linux_backend
