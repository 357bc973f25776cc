// The wipe job's view in an unattended run: the run's and each drive's start and end, the
// progress at most once a second, the failures; and the requests to stop from outside, taken
// into the abort as the wipe page's Abort button makes it.
#pragma once

#include "app/batch/batch_output.h"
#include "app/progress_meter.h"
#include "app/wipe_job.h"
#include "disk/message_object.h"

#include <cstdint>
#include <string>

namespace purgelet {

class TGUIDiskManager;
class TStopRequests;

class TBatchView : public TWipeJobView {
public:
    TBatchView(TBatchOutput& out, const TWipeJob& job, TGUIDiskManager& manager,
               TStopRequests& stops, bool allowUserAbort, bool askAfterEveryDrive);

    void RunStarting(const TWipeSettings& settings) override;
    void DriveStarting(TDisk& disk, const TWipeSettings& settings) override;
    void DriveEnded(TDisk& disk) override;
    void Tell(const std::string& text, TMsgDlgType type) override;

    // After every transfer (the disk manager's update): a request to stop, the progress.
    void Update();
    // Takes a request to stop: told, and with user abort allowed made the run's abort, once
    // the drive being wiped may be interrupted (a disc blanked by its drive is not).
    void HeedStops();
    // The run is over: a drive it left in the middle (an abort) ends with outcome.
    void Finish(const std::string& outcome);
    // Whether the run got as far as its report (RunStarting was told).
    bool ReportOpened() const { return runStarted_; }

private:
    void ShowProgress();

    TBatchOutput& out_;
    const TWipeJob& job_;
    TGUIDiskManager& manager_;
    TStopRequests& stops_;
    bool allowUserAbort_;
    bool askAfterEveryDrive_;
    bool runStarted_ = false;
    bool stopAccepted_ = false;
    bool abortRequested_ = false;
    TDisk* current_ = nullptr; // the drive being wiped; not owned
    std::uint32_t driveStart_ = 0;
    std::uint32_t lastShown_ = 0;
    bool metered_ = false; // meter_ is set up for current_
    TProgressMeter meter_;
    int passes_ = 0;             // the method's, 0 for a drive wiped without one
    int steps_ = 1;              // the shares of the drive's progress: passes and format
    std::int64_t passBytes_ = 0; // bytes a pass moves
};

} // namespace purgelet
