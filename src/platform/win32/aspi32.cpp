// ASPI for Win32 on Windows: wnaspi32.dll, loaded when the system is created and kept for the
// process's life. Both entries use the C calling convention.
#include "platform/win32/backend.h"

namespace platform {

namespace {

using SupportInfoEntry = DWORD(__cdecl*)();
using SendCommandEntry = DWORD(__cdecl*)(void*);

class Win32Aspi32 : public Aspi32 {
public:
    Win32Aspi32(SupportInfoEntry info, SendCommandEntry send) : info_(info), send_(send) {}
    DWORD GetASPI32SupportInfo() override { return info_(); }
    DWORD SendASPI32Command(void* request) override { return send_(request); }

private:
    SupportInfoEntry info_;
    SendCommandEntry send_;
};

} // namespace

std::unique_ptr<Aspi32> CreateWin32Aspi32() {
    HMODULE library = ::LoadLibraryA("wnaspi32.dll");
    if (library == nullptr)
        return nullptr;
    auto info = reinterpret_cast<SupportInfoEntry>(
        reinterpret_cast<void*>(::GetProcAddress(library, "GetASPI32SupportInfo")));
    auto send = reinterpret_cast<SendCommandEntry>(
        reinterpret_cast<void*>(::GetProcAddress(library, "SendASPI32Command")));
    if (info == nullptr || send == nullptr)
        return nullptr; // a library without both entries counts as absent
    return std::make_unique<Win32Aspi32>(info, send);
}

} // namespace platform
