// The disc in a writable optical drive as a disk of the disk model: its wipe is one BLANK of
// the whole disc (minimal or full), not the passes of a method.
#pragma once

#include "disk/disk.h"
#include "optical/optical_device.h"

#include <string>

namespace purgelet {

class TUnivCDDVD : public TCDDVDDisk {
public:
    // The device belongs to the optical drive list and outlives the disc.
    TUnivCDDVD(std::string Name, TMessageObject* Owner, TOpticalDevice& Device);

    TOpticalDevice* Device;

    int getPropertiesCount() override;
    // Blanks the disc (quickly when the wipe's options say so); every failure is put to the
    // wipe's sink first (kinds 4, 5, 6: Abort or Retry), and only a refused retry raises.
    void Wipe(TWipeContext& wipe) override;
    // Name from the drive letter, Description from the shell (else the device's name), the
    // identity from the drive's INQUIRY answer.
    void init() override;

    // Between the polls of the blank: the sink's Update (which raises a pending abort).
    static bool BusyHook(TMessageObject& sink, const TSCSIAddress& Address);
};

} // namespace purgelet
