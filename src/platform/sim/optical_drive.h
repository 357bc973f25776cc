// The optical drives of the simulated PC: CD/DVD writers that answer SCSI Multi-Media
// Commands as a real drive does, reached through the NT pass-through requests on their
// drive letter and through the ASPI layer at their host/target/LUN address. Every command
// block a drive receives is recorded for the tests.
#pragma once

#include "platform/winapi.h"

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace platform::sim {

class Machine;

enum class DiscKind { None, CdRw, DvdRw, DvdPlusRw, CdR };

struct OpticalDisc {
    DiscKind kind = DiscKind::None;
    BYTE status = 2;         // disc status: 0 empty, 1 incomplete, 2 complete, 3 other
    int sessions = 1;        // complete sessions on the disc
    std::int64_t blocks = 0; // capacity in 2048-byte blocks
    std::int64_t nextWritable = 0;
    std::vector<BYTE> data; // bytes written since the last blank, from block 0

    bool present() const { return kind != DiscKind::None; }
    bool erasable() const {
        return kind == DiscKind::CdRw || kind == DiscKind::DvdRw || kind == DiscKind::DvdPlusRw;
    }
};

// One command block as the drive received it.
struct OpticalCommand {
    std::string transport; // "spti", "spti-direct" or "aspi"
    std::vector<BYTE> cdb; // CdbLength bytes
    DWORD dataLength = 0;
    DWORD detail = 0; // pass-through: TimeOutValue in seconds; ASPI: SRB_Flags
    bool dataIn = false;
};

struct OpticalDrive {
    char letter = 0; // 0: reached only through ASPI
    std::string vendor = "SIMDISC", product = "CDRW SIM 52X", revision = "1.00";
    BYTE peripheral = 0x05;   // INQUIRY byte 0
    BYTE readCaps = 0x07;     // capabilities page byte 2 (CD-R, CD-RW, method 2)
    BYTE writeCaps = 0x03;    // capabilities page byte 3 (CD-R, CD-RW)
    WORD maxReadSpeed = 7056; // kB/s
    WORD maxWriteSpeed = 8467;
    DWORD bufferBytes = 2 * 1024 * 1024;
    int aspiHost = -1, aspiTarget = 0, aspiLun = 0; // aspiHost -1: not on the ASPI layer
    OpticalDisc disc;
    // How long a BLANK keeps the drive busy: failed polls, and milliseconds of the
    // machine's clock (both must have passed).
    int blankPolls = 3;
    DWORD blankMs = 0;
    // Quirks.
    bool discInfoEarly = false; // READ DISC INFORMATION answers while the drive is busy
    bool neverFinishes = false; // an immediate command keeps the drive busy for ever
    int insertAfterPolls = -1;  // a disc appears after this many commands found none
    OpticalDisc insertDisc;
    std::vector<BYTE> rejected; // opcodes whose requests the driver rejects
    std::vector<BYTE> checked;  // opcodes answered CHECK CONDITION 05/24/00
    std::vector<BYTE> hung;     // opcodes an ASPI request never completes
    std::optional<std::string> displayName;

    // State.
    bool busy = false;
    int busyPolls = 0;
    int busyPollsAtStart = 0; // of the BLANK: what its progress indication counts against
    DWORD busyUntil = 0;
    int pollsWithoutDisc = 0;
    BYTE writePage[60] = {}; // mode page 05h as the last MODE SELECT left it
    int ejects = 0;
    std::vector<OpticalCommand> commands;

    // Counts of recorded commands with this opcode.
    int Count(BYTE opcode) const;
};

// The ASPI layer of the machine: absent unless the machine file installs it.
struct AspiLayer {
    bool installed = false;
    int adapters = -1;   // -1: one more than the highest host adapter of a drive
    BYTE maxTargets = 8; // HA_Unique[3] of every adapter (0 stands for 8)
    int aborts = 0;      // SRB_Abort requests received
};

// The drive with this letter or at this ASPI address; null when there is none.
OpticalDrive* FindOptical(Machine& machine, char letter);
OpticalDrive* FindOptical(Machine& machine, int host, int target, int lun);

// Result of one command: SCSI status, fixed-format sense, bytes moved.
struct MmcResult {
    BYTE status = 0; // 0 GOOD, 2 CHECK CONDITION
    BYTE sense[18] = {};
    DWORD transferred = 0;
};

// Runs one command on the drive at time nowMs (the machine's clock).
MmcResult ExecuteMmc(OpticalDrive& drive, const BYTE* cdb, BYTE* data, DWORD dataLength,
                     DWORD nowMs);
bool Listed(const std::vector<BYTE>& opcodes, BYTE opcode);

// Parses "opticalDrives" and "aspi" of a machine file into the machine (adding a CD-ROM
// drive letter for each drive that has one).
void ParseOptical(Machine& machine, const nlohmann::json& file);
OpticalDisc ParseDisc(const nlohmann::json& value, const std::string& where);

} // namespace platform::sim
