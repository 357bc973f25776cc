#include "app/run_figures.h"

#include <algorithm>
#include <cmath>

namespace purgelet {

TRunFigures::TRunFigures(std::uint32_t windowMs) : windowMs_(windowMs), runMeter_(0, windowMs) {}

void TRunFigures::Reset() {
    tracks_.clear();
    figures_.clear();
    runMeter_ = TProgressMeter(0, windowMs_);
    runStarted_ = false;
    runEnded_ = false;
    run_ = TRunTotals{};
}

void TRunFigures::Update(const std::vector<TDriveStatus>& drives, std::uint32_t nowMs) {
    if (drives.size() != tracks_.size() || !runStarted_) {
        Reset();
        tracks_.assign(drives.size(), Track(windowMs_));
        figures_.assign(drives.size(), TDriveFigures{});
    }
    for (std::size_t i = 0; i < drives.size(); ++i)
        UpdateDrive(i, drives[i], nowMs);
    UpdateRun(nowMs);
}

void TRunFigures::UpdateDrive(std::size_t index, const TDriveStatus& status, std::uint32_t nowMs) {
    Track& track = tracks_[index];
    TDriveFigures& figures = figures_[index];
    figures.State = status.State;
    figures.Pass = status.Pass;
    figures.PassCount = status.PassCount;
    figures.TransferBytes = std::max<std::int64_t>(status.TransferBytes, 0);
    // A drive whose transfers are not counted still weighs its size in the run.
    track.weight =
        figures.TransferBytes > 0 ? figures.TransferBytes : std::max<std::int64_t>(status.Bytes, 0);
    // A drive with no count of bytes (a disc) measures none by the 1 of its end either.
    figures.Measurable = figures.TransferBytes > 0 && status.Progress >= 0;

    const std::int64_t moved = std::llround(std::clamp(status.Progress, 0.0, 1.0) *
                                            static_cast<double>(figures.TransferBytes));
    if (!track.started && status.State != TDriveState::dsWaiting) {
        track.started = true;
        track.startMs = nowMs;
        track.meter = TProgressMeter(figures.TransferBytes, windowMs_);
        // What it moved before it was first seen took a time not known: no part of a speed.
        track.meter.Start(nowMs, figures.Measurable && !Ended(status.State) ? moved : 0);
    }
    if (track.started && !track.ended) {
        if (figures.Measurable)
            track.meter.Update(moved, nowMs);
        if (Ended(status.State)) {
            track.ended = true;
            track.endMs = nowMs;
        }
    }

    const bool running = track.started && !track.ended;
    figures.MovedBytes = figures.Measurable ? track.meter.DoneBytes() : 0;
    figures.ElapsedMs = track.started ? (track.ended ? track.endMs : nowMs) - track.startMs : 0;
    figures.BytesPerSecond.reset();
    figures.SecondsLeft.reset();
    figures.AverageBytesPerSecond.reset();
    if (running && figures.Measurable) {
        figures.BytesPerSecond = track.meter.BytesPerSecond();
        figures.SecondsLeft = track.meter.SecondsLeft();
    }
    if (track.ended && figures.Measurable && figures.ElapsedMs > 0)
        figures.AverageBytesPerSecond =
            static_cast<double>(figures.MovedBytes) * 1000.0 / figures.ElapsedMs;
}

void TRunFigures::UpdateRun(std::uint32_t nowMs) {
    std::int64_t total = 0;
    std::int64_t moved = 0;
    double counted = 0.0;
    std::int64_t left = 0;
    bool leftKnown = true;
    bool allEnded = !tracks_.empty();
    for (std::size_t i = 0; i < tracks_.size(); ++i) {
        const Track& track = tracks_[i];
        const TDriveFigures& figures = figures_[i];
        total += track.weight;
        moved += figures.MovedBytes;
        switch (figures.State) {
        case TDriveState::dsDone:
        case TDriveState::dsFailed:
            counted += static_cast<double>(track.weight);
            break;
        case TDriveState::dsAborted:
            counted += static_cast<double>(figures.MovedBytes);
            break;
        case TDriveState::dsWiping:
        case TDriveState::dsVerifying:
            counted += figures.Measurable ? static_cast<double>(figures.MovedBytes)
                                          : static_cast<double>(track.weight) / 2.0;
            break;
        case TDriveState::dsWaiting:
            break;
        }
        if (Ended(figures.State))
            continue;
        allEnded = false;
        if (figures.Measurable)
            left += figures.TransferBytes - figures.MovedBytes;
        else if (figures.State != TDriveState::dsWaiting)
            leftKnown = false; // a waiting drive has not said yet whether it can be measured
    }

    if (!runStarted_) {
        runStarted_ = true;
        runStartMs_ = nowMs;
        runMeter_ = TProgressMeter(total, windowMs_);
        runMeter_.Start(nowMs, moved);
    }
    if (!runEnded_) {
        runMeter_.Update(moved, nowMs);
        if (allEnded) {
            runEnded_ = true;
            runEndMs_ = nowMs;
        }
    }

    run_.TotalBytes = total;
    run_.DoneBytes = std::llround(counted);
    if (total > 0)
        run_.Fraction = std::clamp(counted / static_cast<double>(total), 0.0, 1.0);
    else
        run_.Fraction = allEnded ? 1.0 : 0.0;
    run_.ElapsedMs = (runEnded_ ? runEndMs_ : nowMs) - runStartMs_;
    run_.BytesPerSecond.reset();
    run_.SecondsLeft.reset();
    if (runEnded_) {
        run_.SecondsLeft = 0.0;
        return;
    }
    run_.BytesPerSecond = runMeter_.BytesPerSecond();
    if (!leftKnown)
        return;
    if (left <= 0)
        run_.SecondsLeft = 0.0;
    else if (run_.BytesPerSecond && *run_.BytesPerSecond > 0)
        run_.SecondsLeft = static_cast<double>(left) / *run_.BytesPerSecond;
}

} // namespace purgelet
