// How far a transfer has come and how fast it goes: bytes done against a millisecond clock,
// the speed over the last few seconds (a stall or a slower stretch of the device shows soon,
// and the slow start does not weigh for ever) and the time left at that speed. A value: the
// clock is the caller's, a tick count that may wrap around.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace purgelet {

class TProgressMeter {
public:
    static constexpr std::uint32_t DefaultWindowMs = 5000;

    explicit TProgressMeter(std::int64_t totalBytes = 0, std::uint32_t windowMs = DefaultWindowMs);

    // Starts over at nowMs with doneBytes done already (first seen part way): the speed counts
    // only what is done after.
    void Start(std::uint32_t nowMs, std::int64_t doneBytes = 0);
    // doneBytes (clamped to 0..total) are done by nowMs.
    void Update(std::int64_t doneBytes, std::uint32_t nowMs);

    std::int64_t TotalBytes() const { return total_; }
    std::int64_t DoneBytes() const { return samples_.empty() ? 0 : samples_.back().bytes; }
    // 0..1; 1 for nothing to do.
    double Fraction() const;
    // Milliseconds from Start to the last update.
    std::uint32_t ElapsedMs() const;
    // Bytes a second over the window; none until some time has passed since Start.
    std::optional<double> BytesPerSecond() const;
    // Seconds left at that speed; 0 once all is done, none while the speed is unknown or 0.
    std::optional<double> SecondsLeft() const;

private:
    struct Sample {
        std::uint32_t atMs = 0;
        std::int64_t bytes = 0;
    };

    std::int64_t total_;
    std::uint32_t windowMs_;
    std::uint32_t startMs_ = 0;
    // Oldest first: the last one older than the window (the base of the speed), then the
    // ones inside it, at least a tenth of a second apart so that their number stays small.
    std::vector<Sample> samples_;
};

} // namespace purgelet
