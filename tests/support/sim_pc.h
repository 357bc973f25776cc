// A simulated PC for one test: the machine (JSON, as in a machine file) with its images in
// a fresh scratch folder, installed as the process's system for the test's lifetime.
#pragma once

#include "platform/sim/kernel32.h"
#include "platform/sim/machine.h"
#include "platform/system.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace purgelet::testing {

class SimPC {
public:
    explicit SimPC(const nlohmann::json& machine);
    ~SimPC();
    SimPC(const SimPC&) = delete;
    SimPC& operator=(const SimPC&) = delete;

    platform::sim::Machine& machine() { return *machine_; }
    platform::sim::SimKernel32& kernel();
    platform::sim::Drive& drive(char letter);
    const std::filesystem::path& folder() const { return folder_; }

    // Bytes of an image file of the machine (relative to its folder).
    std::vector<std::uint8_t> ReadImage(const std::string& image, std::int64_t offset,
                                        std::int64_t size) const;
    void WriteImage(const std::string& image, std::int64_t offset,
                    const std::vector<std::uint8_t>& bytes) const;

private:
    std::filesystem::path folder_;
    std::shared_ptr<platform::sim::Machine> machine_;
    std::unique_ptr<platform::ScopedSystem> scope_;
};

} // namespace purgelet::testing
