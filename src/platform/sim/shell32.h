#pragma once

#include "platform/shell32.h"
#include "platform/sim/machine.h"

#include <memory>

namespace platform::sim {

// The shell of the simulated PC: drive display names from the machine file, and a format
// dialog that only records that it was opened.
class SimShell32 : public Shell32 {
public:
    explicit SimShell32(std::shared_ptr<Machine> machine) : machine_(std::move(machine)) {}

    DWORD_PTR SHGetFileInfoA(LPCSTR path, DWORD attributes, SHFILEINFOA* info, UINT infoSize,
                             UINT flags) override;
    DWORD SHFormatDrive(HWND owner, UINT drive, UINT formatId, UINT options) override;
    BOOL DestroyIcon(HICON icon) override;

private:
    std::shared_ptr<Machine> machine_;
};

} // namespace platform::sim
