// A header of the disk layer that includes only what lies below it.
#include "disk/disk.h"
#include "platform/system.h"
#include "nlohmann/json.hpp"
#include <vector>
