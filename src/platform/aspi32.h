// The program's view of the ASPI for Win32 library (wnaspi32.dll). The library is optional:
// System::aspi32 is null where it is not installed, and the optical layer then answers as
// the library's absence dictates (no adapters).
#pragma once

#include "platform/winapi.h"

namespace platform {

class Aspi32 {
public:
    virtual ~Aspi32() = default;

    // Bits 8..15 the status (SS_COMP when the layer works), bits 0..7 the adapter count.
    virtual DWORD GetASPI32SupportInfo() = 0;
    // Sends one request block (SRB_HAInquiry, SRB_GDEVBlock, SRB_ExecSCSICmd, SRB_Abort);
    // returns its status byte. An execute request may answer SS_PENDING and finish later,
    // setting the event of its SRB_PostProc.
    virtual DWORD SendASPI32Command(void* request) = 0;
};

} // namespace platform
