// A header of the disk layer that reaches up into the program logic above it.
#include "disk/disk.h"
#include "app/options.h"
#include <vector>
