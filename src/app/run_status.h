// What a wipe run tells of its drives while it goes, as plain values: written by whichever
// thread wipes a drive, read by the user-interface thread's timer. Nothing here calls back:
// a reader takes a copy and draws from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace purgelet {

enum class TDriveState : std::uint8_t {
    dsWaiting,
    dsWiping,
    dsVerifying,
    dsDone,
    dsFailed,
    dsAborted
};

struct TDriveStatus {
    TDriveState State = TDriveState::dsWaiting;
    // 0..1 of the drive's wipe; negative while it cannot be measured (a disc being blanked).
    double Progress = 0.0;
    std::int32_t Pass = 0;      // the write pass, 1-based; 0 when the wipe has no passes
    std::int32_t PassCount = 0; // the method's write passes
    std::int64_t Bytes = 0;     // the drive's size
    // What its wipe moves in all (every pass, its read-backs and a format pass): what its
    // progress is a fraction of. 0 when that is no count of bytes (a disc blanked by its drive).
    std::int64_t TransferBytes = 0;

    bool operator==(const TDriveStatus&) const = default;
};

// Whether a drive in this state is over (done, failed or aborted).
bool Ended(TDriveState state);

class TRunStatus {
public:
    // A run of count drives, every one waiting.
    void Reset(std::size_t count);
    std::size_t Count() const;
    // An index past the run's drives is ignored.
    void Set(std::size_t index, const TDriveStatus& status);
    void SetState(std::size_t index, TDriveState state);
    TDriveStatus Get(std::size_t index) const;
    std::vector<TDriveStatus> Snapshot() const;

private:
    mutable std::mutex lock_;
    std::vector<TDriveStatus> drives_;
};

} // namespace purgelet
