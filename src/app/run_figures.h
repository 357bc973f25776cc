// The figures a wipe run shows while it goes and when it has ended: for every drive its
// state, pass, speed over the last few seconds, time taken and time left; for the whole run
// how far it is by bytes and the time left. A value fed with the job's snapshots and a
// millisecond tick count (which may wrap around); it reads no clock and no control.
#pragma once

#include "app/progress_meter.h"
#include "app/run_status.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace purgelet {

struct TDriveFigures {
    TDriveState State = TDriveState::dsWaiting;
    std::int32_t Pass = 0;
    std::int32_t PassCount = 0;
    // Whether its bytes can be counted now: not for a disc blanked by its drive, which tells
    // no fraction; such a drive has no speed, no time left and no average.
    bool Measurable = true;
    std::int64_t TransferBytes = 0;       // what its wipe moves in all
    std::int64_t MovedBytes = 0;          // of that, moved so far (as last measured)
    std::optional<double> BytesPerSecond; // over the last few seconds, while it runs
    std::optional<double> SecondsLeft;    // at that speed, while it runs
    std::uint32_t ElapsedMs = 0;          // from its start to its end, or to now
    // Moved bytes over the time it took; once it has ended and some time has passed.
    std::optional<double> AverageBytesPerSecond;
};

struct TRunTotals {
    // 0..1 of the run by bytes: a drive that is done or failed counts whole (the run has
    // gone past it), an aborted one what it moved, one being wiped what it moved so far (half
    // while that cannot be measured), a waiting one nothing.
    double Fraction = 0.0;
    std::int64_t DoneBytes = 0;           // the bytes that fraction stands for
    std::int64_t TotalBytes = 0;          // every drive's transfers
    std::optional<double> BytesPerSecond; // of all drives together, over the last few seconds
    // What the drives still to end have left, at that speed; none while a drive that cannot
    // be measured is still to end.
    std::optional<double> SecondsLeft;
    std::uint32_t ElapsedMs = 0; // from the first update to the last drive's end, or to now
};

class TRunFigures {
public:
    explicit TRunFigures(std::uint32_t windowMs = TProgressMeter::DefaultWindowMs);

    // Forgets every drive: the next Update starts a new run.
    void Reset();
    // The run's drives as they stand at nowMs (one entry per drive, in run order). A snapshot
    // with another number of drives starts a new run.
    void Update(const std::vector<TDriveStatus>& drives, std::uint32_t nowMs);

    const std::vector<TDriveFigures>& Drives() const { return figures_; }
    const TRunTotals& Run() const { return run_; }

private:
    struct Track {
        explicit Track(std::uint32_t windowMs) : meter(0, windowMs) {}
        TProgressMeter meter;
        bool started = false;
        bool ended = false;
        std::int64_t weight = 0; // its share of the run's bytes
        std::uint32_t startMs = 0;
        std::uint32_t endMs = 0;
    };

    void UpdateDrive(std::size_t index, const TDriveStatus& status, std::uint32_t nowMs);
    void UpdateRun(std::uint32_t nowMs);

    std::uint32_t windowMs_;
    std::vector<Track> tracks_;
    std::vector<TDriveFigures> figures_;
    TProgressMeter runMeter_;
    bool runStarted_ = false;
    bool runEnded_ = false;
    std::uint32_t runStartMs_ = 0;
    std::uint32_t runEndMs_ = 0;
    TRunTotals run_;
};

} // namespace purgelet
