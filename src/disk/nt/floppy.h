// Floppy drives A: and B: on the NT family. The medium may be absent or changed between
// detection and wipe, so its geometry is read at every Open (asking for a disk while there
// is none); a wipe moves one track per transfer; a 1.44 MB disk gets a fresh boot sector
// before it is formatted.
#pragma once

#include "disk/nt/nt_disk.h"

#include <array>
#include <cstdint>

namespace purgelet {

class TNTFloppy : public TNTLogicalDisk {
public:
    using TNTLogicalDisk::TNTLogicalDisk;

    std::int32_t SectorsPerTrack = 0; // of the medium found by the last Open
    std::int64_t MaxBlockCount = 0;   // of the largest medium the drive supports
    std::int32_t MaxBlockSize = 0;    // block size that belongs to MaxBlockCount
    std::int64_t LastBlockCount = 0;  // BlockCount at the last Close
    std::int32_t LastBlockSize = 0;   // BlockSize at the last Close

    // At most one track per transfer.
    void Wipe(TWipeContext& wipe) override;
    void init() override;
    void Open(bool readOnly) override;
    void OpenForWipe(const TOpenMode& mode) override;
    void Close() override;
    void Format(const TFormatParams& Params, TWipeContext& wipe) override;

private:
    // Reads the medium's geometry from the open drive; with none inserted, asks whether to
    // try again (whoever the open asks). A failure closes the drive.
    void ReadMedium(TMessageObject& asked);
};

// The FAT12 boot sector written to a 1.44 MB disk before its format. Its boot code tells
// the user to remove the disk (or that the disk failed) and restarts on a key.
extern const std::array<std::uint8_t, 512> FloppyBootSector;

} // namespace purgelet
