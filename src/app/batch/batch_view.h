// The wipe job's view in an unattended run: the run's and each drive's start and end, the
// progress at most once a second, the failures; and the requests to stop from outside, taken
// into the abort as the wipe page's Abort button makes it.
#pragma once

#include "app/batch/batch_output.h"
#include "app/progress_meter.h"
#include "app/wipe_job.h"
#include "disk/message_object.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace purgelet {

class TGUIDiskManager;
class TStopRequests;

class TBatchView : public TWipeJobView {
public:
    TBatchView(TBatchOutput& out, TWipeJob& job, TGUIDiskManager& manager, TStopRequests& stops,
               bool allowUserAbort, bool askAfterEveryDrive);

    void RunStarting(const TWipeSettings& settings) override;
    void DriveStarting(TDisk& disk, const TWipeSettings& settings) override;
    void DriveEnded(TDisk& disk) override;
    void Tell(const std::string& text, TMsgDlgType type) override;
    void TellAbout(TDisk& disk, const std::string& text, TMsgDlgType type) override;

    // After every transfer (the disk manager's update), or while drives are wiped at once as
    // the run looks at the window: a request to stop, each drive's progress.
    void Update();
    // Takes a request to stop: told, and with user abort allowed made the run's abort, once
    // the drives being wiped may be interrupted (a disc blanked by its drive is not). A second
    // one does not wait: the run ends at once, a disc being blanked too.
    void ActOnStopRequests();
    // The run is over: the drives it left in the middle (an abort) end with outcome.
    void Finish(const std::string& outcome);
    // Whether the run got as far as its report (RunStarting was told).
    bool ReportOpened() const { return runStarted_; }

private:
    // A drive being wiped, as its progress is told.
    struct TShown {
        TDisk* Disk = nullptr; // not owned
        std::size_t Index = 0; // in the job's drives
        std::uint32_t Start = 0;
        std::uint32_t LastShown = 0;
        bool Metered = false; // Meter is set up for the drive
        TProgressMeter Meter;
        int Passes = 0;             // the method's, 0 for a drive wiped without one
        int Steps = 1;              // the shares of the drive's progress: passes and format
        std::int64_t PassBytes = 0; // bytes a pass moves
    };
    void Update(TShown& shown, std::uint32_t now);
    void ShowProgress(TShown& shown, double progress);

    TBatchOutput& out_;
    TWipeJob& job_;
    TGUIDiskManager& manager_;
    TStopRequests& stops_;
    bool allowUserAbort_;
    bool askAfterEveryDrive_;
    bool runStarted_ = false;
    int stopsAccepted_ = 0;
    bool abortRequested_ = false;
    bool abortForced_ = false;
    TDisk* current_ = nullptr;  // the drive started last and not ended; not owned
    std::vector<TShown> shown_; // the drives being wiped, in the order they started
};

} // namespace purgelet
