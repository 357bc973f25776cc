// The Linux system with its parts sharing one drive map: a test names the devices it may
// touch through its own map file and configuration folder.
#pragma once

#include "platform/linux/drive_map.h"
#include "platform/system.h"

#include <memory>

namespace platform::linux_backend {

std::unique_ptr<System> CreateLinuxSystem(std::shared_ptr<DriveMap> drives);

} // namespace platform::linux_backend
