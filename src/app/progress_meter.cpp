#include "app/progress_meter.h"

#include <algorithm>

namespace purgelet {

namespace {

// Samples closer than this replace the newest one rather than adding to the list.
constexpr std::uint32_t kSampleSpacingMs = 100;

} // namespace

TProgressMeter::TProgressMeter(std::int64_t totalBytes, std::uint32_t windowMs)
    : total_(std::max<std::int64_t>(totalBytes, 0)),
      windowMs_(std::max<std::uint32_t>(windowMs, 1)) {}

void TProgressMeter::Start(std::uint32_t nowMs, std::int64_t doneBytes) {
    startMs_ = nowMs;
    samples_.assign(1, Sample{nowMs, std::clamp<std::int64_t>(doneBytes, 0, total_)});
}

void TProgressMeter::Update(std::int64_t doneBytes, std::uint32_t nowMs) {
    if (samples_.empty())
        Start(nowMs);
    const Sample sample{nowMs, std::clamp<std::int64_t>(doneBytes, 0, total_)};
    // Differences of the tick count stay right across its wrap-around.
    if (samples_.size() >= 2 && nowMs - samples_[samples_.size() - 2].atMs < kSampleSpacingMs)
        samples_.back() = sample;
    else
        samples_.push_back(sample);
    // Keep one sample at or beyond the window's start as the base.
    std::size_t drop = 0;
    while (drop + 1 < samples_.size() && nowMs - samples_[drop + 1].atMs >= windowMs_)
        ++drop;
    samples_.erase(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(drop));
}

double TProgressMeter::Fraction() const {
    if (total_ == 0)
        return 1.0;
    return static_cast<double>(DoneBytes()) / static_cast<double>(total_);
}

std::uint32_t TProgressMeter::ElapsedMs() const {
    return samples_.empty() ? 0 : samples_.back().atMs - startMs_;
}

std::optional<double> TProgressMeter::BytesPerSecond() const {
    if (samples_.size() < 2)
        return std::nullopt;
    const Sample& base = samples_.front();
    const Sample& last = samples_.back();
    const std::uint32_t span = last.atMs - base.atMs;
    if (span == 0)
        return std::nullopt;
    return static_cast<double>(last.bytes - base.bytes) * 1000.0 / span;
}

std::optional<double> TProgressMeter::SecondsLeft() const {
    const std::int64_t left = total_ - DoneBytes();
    if (left <= 0)
        return 0.0;
    const auto speed = BytesPerSecond();
    if (!speed || *speed <= 0)
        return std::nullopt;
    return static_cast<double>(left) / *speed;
}

} // namespace purgelet
