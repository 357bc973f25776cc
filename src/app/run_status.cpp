#include "app/run_status.h"

namespace purgelet {

bool Ended(TDriveState state) {
    return state == TDriveState::dsDone || state == TDriveState::dsFailed ||
           state == TDriveState::dsAborted;
}

void TRunStatus::Reset(std::size_t count) {
    const std::lock_guard<std::mutex> hold(lock_);
    drives_.assign(count, TDriveStatus{});
}

std::size_t TRunStatus::Count() const {
    const std::lock_guard<std::mutex> hold(lock_);
    return drives_.size();
}

void TRunStatus::Set(std::size_t index, const TDriveStatus& status) {
    const std::lock_guard<std::mutex> hold(lock_);
    if (index < drives_.size())
        drives_[index] = status;
}

void TRunStatus::SetState(std::size_t index, TDriveState state) {
    const std::lock_guard<std::mutex> hold(lock_);
    if (index < drives_.size())
        drives_[index].State = state;
}

TDriveStatus TRunStatus::Get(std::size_t index) const {
    const std::lock_guard<std::mutex> hold(lock_);
    return index < drives_.size() ? drives_[index] : TDriveStatus{};
}

std::vector<TDriveStatus> TRunStatus::Snapshot() const {
    const std::lock_guard<std::mutex> hold(lock_);
    return drives_;
}

} // namespace purgelet
