// Sense data as a device returns it after CHECK CONDITION: decoded by platform/sense.h, which
// the back-ends' ATA pass-through shares; these are the names the SCSI code knows it by.
#pragma once

#include "platform/sense.h"

namespace purgelet {

using platform::DecodeSense;
using platform::skNoSense;
using platform::skNotReady;
using platform::TSense;
using platform::TSenseFormat;

} // namespace purgelet
