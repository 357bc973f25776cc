// The ASPI for Win32 transport: a unit at a host adapter, target and LUN, each command sent
// as a request block whose completion is signalled through an event.
#pragma once

#include "platform/scsi.h"
#include "scsi/transport.h"

#include <cstdint>

namespace purgelet {

// The ASPI entries of the installed system, or the stubs of an absent library (support
// information 0, every request 0).
DWORD AspiSupportInfo();
DWORD AspiSendCommand(void* request);

// Whether the ASPI layer is there, and how many host adapters it has.
class TASPIinfo {
public:
    TASPIinfo() { Refresh(); }
    void Refresh();

    bool Available = false;
    std::uint8_t AdapterCount = 0;
    std::uint32_t SupportInfo = 0;
};

class TAspiTransport : public TScsiTransport {
public:
    explicit TAspiTransport(const TSCSIAddress& address) : address_(address) {}

    // A request still pending after timeoutSeconds is aborted and given up (TimedOut,
    // rcTimedOut): the unit may still be working on it. The request block asks for 14
    // bytes of sense, which end before the sense-key-specific bytes.
    TScsiResult Execute(const TCdb& cdb, std::uint8_t* data, std::uint32_t timeoutSeconds) override;

    static constexpr std::uint8_t kSenseLength = 14;

private:
    void Abort(platform::SRB_ExecSCSICmd* request);

    TSCSIAddress address_;
};

} // namespace purgelet
