// The SetupDi calls on Linux: the whole disks under the listed drives, in disk order, with
// their model as friendly name and \\.\PhysicalDriveN as interface path.
#pragma once

#include "platform/linux/drive_map.h"
#include "platform/linux/kernel32.h"
#include "platform/setupapi.h"

#include <memory>

namespace platform::linux_backend {

std::unique_ptr<SetupApi> CreateLinuxSetupApi(LinuxKernel32& kernel32);

} // namespace platform::linux_backend
