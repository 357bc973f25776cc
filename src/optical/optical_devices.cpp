#include "optical/optical_devices.h"

#include <stdexcept>

namespace purgelet {

namespace {

class NoOpticalDevices : public TOpticalDevices {
public:
    std::size_t Count() const override { return 0; }
    TOpticalDevice& Items(std::size_t) override {
        throw std::out_of_range("TOpticalDevices.Items - the list is empty");
    }
};

} // namespace

std::unique_ptr<TOpticalDevices> CreateOpticalDevices() {
    return std::make_unique<NoOpticalDevices>();
}

} // namespace purgelet
