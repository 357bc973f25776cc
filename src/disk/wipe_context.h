// The state of one wipe of one disk. Whoever wipes a disk (the run loop for each drive, the
// tools, a test) makes one, hands it to the disk's WipeDisk and reads back what the wipe found;
// it is passed on through open, lock (down to a whole disk's volumes), wipe, verify, format
// and close. A disk describes its device and keeps nothing of a wipe, so that one disk object
// can never carry a run's sink, generators or method into another.
#pragma once

#include "disk/firmware_wipe.h"
#include "disk/message_object.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace purgelet {

class method;
struct TGenerators;

// How a wipe run wants each disk written: the settings of the run that are the disk's to
// apply (a disk kind takes the ones that mean something to it).
struct TWipeOptions {
    bool Unbuffered = false;     // open for writing without system caching
    std::int32_t BufferSize = 0; // bytes per transfer wanted; 0 the default
    bool QuickErase = true;      // a rewritable disc: the quick blank rather than the full one
    // A block wipe's transfers kept in flight (1 to 16); 1 one at a time.
    std::int32_t TransfersInFlight = 1;
    // A read-back compares every block with what the pass wrote, and names those that differ,
    // rather than comparing the sums of the whole pass.
    bool VerifyContent = false;
    // The NVMe drives every namespace of which the run holds (WholeFirmwareDrives): the only
    // ones a firmware command reaching beyond one namespace may be sent to.
    std::vector<std::string> WholeFirmwareDrives;
};

// Formatting wanted after a wipe. The wipe run passes 0, 0 and an empty label.
struct TFormatParams {
    std::uint8_t FileSystem = 0;
    std::int32_t ClusterSize = 0;
    std::string Label;
};

// How a disk is opened for writing by a wipe, or by a whole disk locking its volumes.
struct TOpenMode {
    bool Unbuffered = false; // no system cache, written through the device's cache
    // The wipe reads back what it writes (a verifying pass, a firmware erase's samples): the
    // device bypasses the system cache, so that the reads see the medium and not a copy.
    bool ReadBack = false;
    std::int32_t TransfersInFlight = 1;
    bool Firmware = false; // the wipe sends the drive's own commands
    // Who is asked while opening (force a dismount? insert a floppy?); not owned. Null: the
    // disk's Owner.
    TMessageObject* Asks = nullptr;
};

class TWipeContext {
public:
    TWipeContext() = default;
    explicit TWipeContext(const method* Method, TMessageObject* Sink = nullptr)
        : Method(Method), Sink(Sink) {}
    TWipeContext(const TWipeContext&) = delete;
    TWipeContext& operator=(const TWipeContext&) = delete;

    // What to do.
    const method* Method = nullptr; // the passes to run; not owned; null where none is run
    // Progress, questions, pause and abort; not owned. Null: a plain sink of the wipe's own
    // (nothing is retried, skipped or forced, nobody is told).
    TMessageObject* Sink = nullptr;
    // The run's generators, so that the drives of a run draw one sequence; not owned. Null:
    // the wipe draws from its own, seeded from the clock.
    TGenerators* Generators = nullptr;
    TWipeOptions Options;
    bool Format = false; // a drive letter is formatted after a wipe and a close that succeeded
    TFormatParams FormatParams;
    // 1 while a wipe to be followed by a format runs (set by the drive letter's wipe): the
    // format counts as one more pass in the progress.
    std::int32_t FormatPass = 0;

    // What the wipe found, read by the report, the questions and the record.
    std::int64_t CurrentBlock = 0; // first block of the transfer in progress
    // The medium as the wipe found it open: a drive that reads its medium at every open (a
    // floppy) no longer knows it once closed. Zero when the open failed.
    struct TMedium {
        std::int64_t Size = 0;
        std::int32_t BlockSize = 0;
        std::int64_t BlockCount = 0;
    } Wiped;
    // What the drive's own erase did; none when the method asked for none.
    std::optional<TFirmwareRecord> Firmware;
    // The blocks a read-back by content found differing from what their pass wrote, in the
    // order found (a block of two passes twice): the first kDifferingNamed of them, and how many.
    static constexpr std::size_t kDifferingNamed = 1000;
    std::vector<std::int64_t> Differing;
    std::int64_t DifferingCount = 0;
    void NoteDiffering(std::int64_t block) {
        if (Differing.size() < kDifferingNamed)
            Differing.push_back(block);
        ++DifferingCount;
    }

    // Where the wipe's progress and questions go: the Sink, or the wipe's own plain one.
    TMessageObject& Messages() { return Sink != nullptr ? *Sink : headless_; }
    // The method sends the drive's own commands.
    bool SendsFirmware() const;
    // How the disk is opened for this wipe.
    TOpenMode OpenMode();
    // The sink's figures start afresh for disk's wipe (no pass, no progress); returns the sink.
    TMessageObject& StartFigures(TDisk& disk);

private:
    // One per wipe: several disks may be wiped at once, each on its own thread.
    TMessageObject headless_;
};

} // namespace purgelet
