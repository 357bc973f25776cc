#include "support/sim_pc.h"

#include "platform/sim/sim.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <stdexcept>

namespace purgelet::testing {

namespace fs = std::filesystem;

SimPC::SimPC(const nlohmann::json& machine) {
    static std::atomic<int> counter{0};
    // Test cases may run as parallel processes: the clock tells their folders apart.
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    folder_ = fs::temp_directory_path() /
              ("purgelet-sim-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    fs::create_directories(folder_);
    machine_ = platform::sim::Machine::Parse(machine, folder_);
    scope_ = std::make_unique<platform::ScopedSystem>(platform::sim::CreateSimSystem(machine_));
}

SimPC::~SimPC() {
    scope_.reset();
    machine_.reset();
    std::error_code ec;
    fs::remove_all(folder_, ec);
}

platform::sim::SimKernel32& SimPC::kernel() {
    return dynamic_cast<platform::sim::SimKernel32&>(*platform::sys().kernel32);
}

platform::sim::Drive& SimPC::drive(char letter) {
    platform::sim::Drive* d = machine_->FindDrive(letter);
    if (d == nullptr)
        throw std::logic_error(std::string("the test machine has no drive ") + letter);
    return *d;
}

std::vector<std::uint8_t> SimPC::ReadImage(const std::string& image, std::int64_t offset,
                                           std::int64_t size) const {
    std::ifstream in(folder_ / image, std::ios::binary);
    in.seekg(offset);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

void SimPC::WriteImage(const std::string& image, std::int64_t offset,
                       const std::vector<std::uint8_t>& bytes) const {
    std::fstream out(folder_ / image, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(offset);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

} // namespace purgelet::testing
