#pragma once

#include "platform/fmifs.h"
#include "platform/sim/kernel32.h"

#include <memory>
#include <vector>

namespace platform::sim {

// The file-system utility library of the simulated PC. FormatEx reports progress in the
// drive's configured steps, honours a cancel from the callback, and on success writes a
// recognisable boot sector (and empty allocation tables) over the volume, which then
// answers with the new file system and label.
class SimFmifs : public Fmifs {
public:
    SimFmifs(SimKernel32& kernel32, std::shared_ptr<Machine> machine)
        : kernel32_(kernel32), machine_(std::move(machine)) {}

    bool HasEntry(const std::string& name) override;
    void FormatEx(const WCHAR* driveRoot, DWORD mediaFlag, const WCHAR* fileSystem,
                  const WCHAR* label, BOOL quick, DWORD clusterSize,
                  FmifsCallback callback) override;

private:
    SimKernel32& kernel32_;
    std::shared_ptr<Machine> machine_;
};

// The first sectors a format of that file system writes over a volume of totalSectors
// sectors of bytesPerSector bytes: the boot sector, then empty allocation tables (and, for
// FAT, an empty root folder). Empty for a file system the sim does not know.
std::vector<unsigned char> FormattedHead(const std::string& fileSystem, std::int64_t totalSectors,
                                         DWORD bytesPerSector, DWORD clusterSize,
                                         const std::string& label, DWORD serial,
                                         const DISK_GEOMETRY& geometry, std::int64_t hiddenSectors,
                                         bool floppy);

} // namespace platform::sim
