// The optical drives detection looks at: one TOpticalDevice per drive reached by the chosen
// transport, and the list the disk manager keeps from one detection to the next (its disc
// objects refer to devices of the list).
#pragma once

#include <cstddef>
#include <memory>

namespace purgelet {

// An optical drive as the disk manager sees it; the SCSI/MMC layer fills in the rest.
class TOpticalDevice {
public:
    virtual ~TOpticalDevice() = default;
    // Whether the drive can write CD-R or CD-RW: only such drives get a disc object.
    virtual bool CanWrite() = 0;
};

// The usable drives, in the order of the chosen transport's list; owns its devices.
class TOpticalDevices {
public:
    virtual ~TOpticalDevices() = default;
    virtual std::size_t Count() const = 0;
    virtual TOpticalDevice& Items(std::size_t index) = 0;
};

// Enumerates the optical drives of the running system. No transport is built yet, so the
// list is always empty.
std::unique_ptr<TOpticalDevices> CreateOpticalDevices();

} // namespace purgelet
