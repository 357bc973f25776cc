#pragma once

#include "platform/aspi32.h"
#include "platform/sim/kernel32.h"

#include <memory>
#include <set>

namespace platform::sim {

// The ASPI layer of the simulated PC: adapters 0..N-1 with the machine's optical drives on
// them. An execute request answers SS_PENDING and sets its event before it returns, unless
// the drive hangs on that command; then only an SRB_Abort ends it.
class SimAspi32 : public Aspi32 {
public:
    SimAspi32(SimKernel32& kernel, std::shared_ptr<Machine> machine)
        : kernel_(kernel), machine_(std::move(machine)) {}

    DWORD GetASPI32SupportInfo() override;
    DWORD SendASPI32Command(void* request) override;

private:
    int Adapters() const;

    SimKernel32& kernel_;
    std::shared_ptr<Machine> machine_;
    std::set<void*> hung_;
};

} // namespace platform::sim
