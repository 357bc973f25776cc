// The optical drives detection looks at: both transports are probed, the ASPI layer is
// preferred when it is present, and only CD-ROM class units of the chosen transport are
// listed. The disk manager keeps the list from one detection to the next; its disc objects
// refer to devices of the list.
#pragma once

#include "optical/optical_device.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace purgelet {

// The transports' lists (optical/aspi.h, optical/spti.h), kept out of this header so that
// the system's headers they need stay out of the disk manager's users.
class TASPIdevices;
class TSPTIdevices;

class TOpticalDevices {
public:
    // Probes both transports and selects ASPI when it is available, pass-through otherwise.
    static std::unique_ptr<TOpticalDevices> Create();
    virtual ~TOpticalDevices();
    TOpticalDevices(const TOpticalDevices&) = delete;
    TOpticalDevices& operator=(const TOpticalDevices&) = delete;

    std::unique_ptr<TASPIdevices> ASPIDevices; // null in a list made without probing
    std::unique_ptr<TSPTIdevices> SPTIDevices;

    // 0 the ASPI devices, 1 the pass-through devices (CD-ROM class only); else none.
    void SelectTransport(std::uint8_t Which);
    virtual std::size_t Count() const { return items_.size(); }
    virtual TOpticalDevice& Items(std::size_t index) { return *items_.at(index); }

protected:
    // An empty list that probes nothing (for lists of other devices).
    TOpticalDevices();

private:
    std::vector<TOpticalDevice*> items_;
};

// Enumerates the optical drives of the running system (TOpticalDevices::Create).
std::unique_ptr<TOpticalDevices> CreateOpticalDevices();

// The drive letter of an ASPI unit from the Windows 9x device tree under
// HKEY_LOCAL_MACHINE\enum\scsi, empty when none is found. Never raises.
std::string SCSItoDriveLetter(std::uint8_t Lun, std::uint8_t Target, const std::string& Vendor,
                              const std::string& Product);

} // namespace purgelet
