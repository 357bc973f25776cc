// The run loop: every drive is wiped on a worker of its device while the thread that runs the
// job (the user-interface thread) stays the only one that touches the view, the manager, the
// record and the report file. A worker hands it what it must tell or ask and waits for the
// answer.
//
// Drives wiped one after another are the same loop with one worker taking every drive in list
// order, in lock step with the user-interface thread: each of its updates is handed over too,
// and the manager's Update runs there (the window's refresh, Pause, Abort) as it would with
// the drive wiped on that thread, which meanwhile does nothing else. The drives then draw from
// the run's generators in turn. Wiped at once, a worker per device, each drive draws its own
// generators, its updates publish its figures and the user-interface thread keeps the window
// alive between requests.
#include "app/wipe_job.h"

#include "app/run_record.h"

#include "disk/disk_manager.h"
#include "lang/catalogue.h"
#include "methods/method.h"
#include "report/exceptions.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace purgelet {

namespace {

// How long the user-interface thread waits for a drive's thread before it looks at the
// window again (the Pause and Abort buttons, the timer).
constexpr std::chrono::milliseconds kLookAgain{20};

// What a drive's thread hands over, and the answer it waits for.
struct TRequest {
    enum class TKind : std::uint8_t { Start, Question, Dialog, Update, Ended };
    TKind Kind = TKind::Start;
    std::size_t Index = 0;
    // A question.
    MessageKind Asked = mkGeneric;
    std::string Detail;
    TMsgDlgType DlgType = TMsgDlgType::mtError;
    TMsgDlgButtons Buttons;
    // A dialog of the system's own, shown on the user-interface thread.
    const std::function<void()>* Show = nullptr;
    // The end of a drive's wipe.
    TWipeOutcome Outcome = TWipeOutcome::woCompleted;
    std::exception_ptr Error;
    // The answer.
    bool Done = false;
    bool Go = true; // Start: the drive is to be wiped
    int Answer = mrNone;
    std::exception_ptr Raise; // raised on the drive's thread instead of an answer
};

// The figures a drive's wipe shows, from one sink to another.
void CopyFigures(const TMessageObject& from, TMessageObject& to) {
    to.Flag = from.Flag;
    to.Progress = from.Progress;
    to.Disk = from.Disk;
    to.Wipe = from.Wipe;
    to.Pass = from.Pass;
    to.PassCount = from.PassCount;
    to.Verifying = from.Verifying;
}

} // namespace

class TWipeJob::TRunLoop {
public:
    TRunLoop(TWipeJob& job, TWipeJobView& view, TRunRecorder& recorder)
        : job_(job), view_(view), recorder_(recorder),
          options_(WipeOptionsOf(job.settings_, job.disks_)),
          lockstep_(!job.settings_.WipeInParallel || job.disks_.size() < 2) {}
    TRunLoop(const TRunLoop&) = delete;
    TRunLoop& operator=(const TRunLoop&) = delete;

    TWipeOutcome Run();

private:
    // Each drive's draws, result, sink, report section and wipe, and the devices' groups.
    void Prepare();
    // A drive's sink while its worker wipes it: questions go to the user-interface thread,
    // updates heed the run's abort and pause and publish the drive's figures (in lock step,
    // they go over too).
    class TDriveSink : public TMessageObject {
    public:
        TDriveSink(TRunLoop& run, std::size_t index) : run_(run), index_(index) {}
        int Message(MessageKind Kind, const std::string& Detail, TMsgDlgType DlgType,
                    TMsgDlgButtons Buttons) override {
            return run_.Ask(index_, Kind, Detail, DlgType, Buttons);
        }
        void Update() override { run_.Updated(index_, *this); }
        void ShowDialog(const std::function<void()>& Show) override {
            run_.ShowDialog(index_, Show);
        }

    private:
        TRunLoop& run_;
        std::size_t index_;
    };

    // ---- On a drive's thread.
    void Worker() noexcept;
    void WipeDrive(std::size_t index);
    // Waits until the user-interface thread has handled the request (handles it here when the
    // drives are wiped on that thread).
    void HandOver(TRequest& request);
    int Ask(std::size_t index, MessageKind kind, const std::string& detail, TMsgDlgType type,
            TMsgDlgButtons buttons);
    void ShowDialog(std::size_t index, const std::function<void()>& show);
    void Updated(std::size_t index, TDriveSink& sink);
    void CheckAbort();
    // The run's abort text, read under the lock.
    std::string AbortText();

    // ---- On the user-interface thread.
    void Loop();
    // The manager's Abort and Pause, as the buttons left them, for the drives' threads.
    void TakeOverControls();
    void Abort(const std::string& text);
    void Handle(TRequest& request);
    void Start(TRequest& request);
    void AskUser(TRequest& request);
    void Show(TRequest& request);
    // In lock step: the drive's figures to the manager, and the manager's Update.
    void Refresh(TRequest& request);
    // Calls the manager for a drive's request: what the call raises is raised on the drive's
    // thread, and an abort it raises is the run's.
    template <class Call> void OnManager(TRequest& request, const Call& call);
    // The run's abort, to be raised on a drive's thread.
    std::exception_ptr AbortError();
    void End(TRequest& request);
    void TellAbort(std::size_t index, const XException& error);
    // The drive a text is told about: none in lock step, where the drive under way is the one.
    TDisk* About(std::size_t index) const { return lockstep_ ? nullptr : job_.disks_[index]; }
    void Flush(bool all);
    // The run's outcome, with a drive's: a failure outranks an abort.
    void CountOutcome(TWipeOutcome outcome);
    // After the loop failed: every request is answered as for an abort until no thread is left.
    void Drain() noexcept;
    // A drive its thread left unfinished (a handover that failed, a start that failed).
    void Unfinished(std::size_t index);

    TWipeJob& job_;
    TWipeJobView& view_;
    TRunRecorder& recorder_;
    const TWipeOptions options_;
    std::vector<std::unique_ptr<TDriveSink>> sinks_;
    // Each drive's wipe, made before any worker starts and read after its end (the report's
    // firmware lines, the record, the questions' block numbers).
    std::vector<std::unique_ptr<TWipeContext>> wipes_;
    std::vector<std::unique_ptr<TReportSection>> sections_;
    // Ended, or never to be wiped: its section may be written.
    std::vector<bool> finished_;
    std::size_t nextSection_ = 0;
    TWipeOutcome outcome_ = TWipeOutcome::woNone;
    bool abortTold_ = false;
    // One worker in lock step with this thread; else a worker per device.
    bool lockstep_;
    // No worker could be had: the drives are wiped on this thread, in lock step.
    bool onThisThread_ = false;
    // Something not a program exception left a step of the run: every drive is stopped and it
    // is raised once the threads are gone.
    std::exception_ptr escaped_;

    std::mutex lock_;
    std::condition_variable posted_;               // the user-interface thread waits here
    std::condition_variable answered_;             // the drives' threads wait here
    std::deque<TRequest*> queue_;                  // under lock_
    std::deque<std::vector<std::size_t>> devices_; // the groups not yet taken, under lock_
    std::size_t workers_ = 0;                      // threads not yet ended, under lock_
    std::string abortText_;                        // under lock_, set before abort_
    std::atomic<bool> abort_{false};
    std::atomic<bool> paused_{false};
};

TWipeOutcome TWipeJob::RunLoop(TWipeJobView& view, TRunRecorder& recorder) {
    TRunLoop run(*this, view, recorder);
    return run.Run();
}

void TWipeJob::TRunLoop::Prepare() {
    const std::size_t count = job_.disks_.size();
    // Drives wiped at once: each one's own generator state, drawn in list order before any
    // thread starts.
    if (!lockstep_)
        for (std::size_t i = 0; i < count; ++i)
            job_.driveGenerators_.push_back(Draw(job_.generators_));
    for (std::size_t i = 0; i < count; ++i) {
        job_.results_.push_back({job_.disks_[i], TWipeOutcome::woNone, {}});
        sinks_.push_back(std::make_unique<TDriveSink>(*this, i));
        sections_.push_back(std::make_unique<TReportSection>());
        TDisk& disk = *job_.disks_[i];
        auto& wipe = *wipes_.emplace_back(std::make_unique<TWipeContext>(
            disk.TakesMethod() ? job_.settings_.Method : nullptr, sinks_.back().get()));
        wipe.Options = options_;
        wipe.Format = FormatsAfterWipe(disk, job_.settings_);
    }
    finished_.assign(count, false);
    if (lockstep_) {
        std::vector<std::size_t> all(count);
        for (std::size_t i = 0; i < count; ++i)
            all[i] = i;
        devices_.push_back(std::move(all));
    } else {
        for (auto& group : DeviceGroups(job_.disks_, options_.WholeFirmwareDrives))
            devices_.push_back(std::move(group));
    }
}

TWipeOutcome TWipeJob::TRunLoop::Run() {
    const std::size_t count = job_.disks_.size();
    const TGenerators undrawn = job_.generators_;
    Prepare();

    // A thread per device; a device whose thread cannot be had is wiped by a thread that has
    // ended its own.
    std::vector<std::thread> threads;
    const std::size_t wanted = devices_.size();
    threads.reserve(wanted); // no allocation that could fail while a thread runs unjoined
    for (std::size_t i = 0; i < wanted; ++i) {
        try {
            const std::lock_guard<std::mutex> hold(lock_);
            threads.emplace_back([this] { Worker(); });
            ++workers_;
        } catch (const std::system_error&) {
            break;
        }
    }
    if (threads.empty()) {
        // No thread to be had: the drives one after another on this thread, drawing from the
        // run's generators in turn.
        onThisThread_ = lockstep_ = true;
        job_.driveGenerators_.clear();
        job_.generators_ = undrawn; // as a run one after another draws them
        workers_ = 1;
        Worker();
    } else {
        // Whatever leaves the loop, the threads are stopped and joined before it goes on.
        try {
            Loop();
        } catch (...) {
            if (!escaped_)
                escaped_ = std::current_exception();
            Drain();
        }
    }
    for (std::thread& thread : threads)
        thread.join();
    for (std::size_t i = 0; i < count; ++i)
        if (!finished_[i])
            Unfinished(i);
    Flush(true);
    job_.asking_ = kNoDrive;
    job_.manager_.ReportDisk = nullptr;
    job_.manager_.Wipe = nullptr; // the wipes go with the loop
    // What the run reached, in list order, as a run one drive at a time lists it.
    std::vector<TDriveResult> reached;
    for (const TDriveResult& result : job_.results_)
        if (result.Outcome != TWipeOutcome::woNone)
            reached.push_back(result);
    job_.results_ = std::move(reached);
    if (escaped_)
        std::rethrow_exception(escaped_);
    return outcome_ == TWipeOutcome::woNone ? TWipeOutcome::woCompleted : outcome_;
}

// ---- A drive's thread.

void TWipeJob::TRunLoop::Worker() noexcept {
    try {
        for (;;) {
            std::vector<std::size_t> device;
            {
                const std::lock_guard<std::mutex> hold(lock_);
                if (devices_.empty())
                    break;
                device = std::move(devices_.front());
                devices_.pop_front();
            }
            for (std::size_t index : device)
                WipeDrive(index);
        }
    } catch (...) {
        // Only the handover itself can fail here (no memory, no lock): the drives left are
        // not wiped, and the run ends with what it has.
    }
    const std::lock_guard<std::mutex> hold(lock_);
    --workers_;
    posted_.notify_all();
}

void TWipeJob::TRunLoop::WipeDrive(std::size_t index) {
    // A paused run starts no drive: its first transfer would come before its first update.
    if (paused_.load(std::memory_order_acquire)) {
        std::unique_lock<std::mutex> hold(lock_);
        answered_.wait(hold, [this] {
            return !paused_.load(std::memory_order_acquire) ||
                   abort_.load(std::memory_order_acquire);
        });
    }
    TRequest start;
    start.Kind = TRequest::TKind::Start;
    start.Index = index;
    HandOver(start);
    if (!start.Go)
        return;
    TDisk& disk = *job_.disks_[index];
    TRequest ended;
    ended.Kind = TRequest::TKind::Ended;
    ended.Index = index;
    TWipeContext& wipe = *wipes_[index];
    {
        // What this thread writes into the report is the drive's, until the drive is over.
        TReportRedirect redirect(sections_[index].get());
        // The drawn state stays as drawn, for whoever checks what the drive received. In lock
        // step the drive goes on from where the one before left the run's generators.
        TGenerators generators;
        if (lockstep_) {
            wipe.Generators = &job_.generators_;
        } else {
            generators = job_.driveGenerators_[index];
            wipe.Generators = &generators;
        }
        try {
            disk.WipeDisk(wipe);
            ReportFormatSkipped(disk, job_.settings_);
        } catch (const XAbort&) {
            ended.Outcome = TWipeOutcome::woAborted;
            ended.Error = std::current_exception();
        } catch (...) {
            ended.Outcome = TWipeOutcome::woFailed;
            ended.Error = std::current_exception();
        }
        wipe.Generators = nullptr;
        ReportWriteFirmware(wipe);
    }
    HandOver(ended);
}

void TWipeJob::TRunLoop::HandOver(TRequest& request) {
    if (onThisThread_) {
        Handle(request);
        request.Done = true;
        Flush(false);
        return;
    }
    std::unique_lock<std::mutex> hold(lock_);
    queue_.push_back(&request);
    posted_.notify_all();
    answered_.wait(hold, [&request] { return request.Done; });
}

int TWipeJob::TRunLoop::Ask(std::size_t index, MessageKind kind, const std::string& detail,
                            TMsgDlgType type, TMsgDlgButtons buttons) {
    CheckAbort(); // as the manager does before it asks
    TRequest question;
    question.Kind = TRequest::TKind::Question;
    question.Index = index;
    question.Asked = kind;
    question.Detail = detail;
    question.DlgType = type;
    question.Buttons = buttons;
    HandOver(question);
    if (question.Raise)
        std::rethrow_exception(question.Raise);
    return question.Answer;
}

void TWipeJob::TRunLoop::ShowDialog(std::size_t index, const std::function<void()>& show) {
    CheckAbort();
    TRequest dialog;
    dialog.Kind = TRequest::TKind::Dialog;
    dialog.Index = index;
    dialog.Show = &show;
    HandOver(dialog);
    if (dialog.Raise)
        std::rethrow_exception(dialog.Raise);
}

void TWipeJob::TRunLoop::Updated(std::size_t index, TDriveSink& sink) {
    if (lockstep_) {
        CheckAbort();
        TRequest update;
        update.Kind = TRequest::TKind::Update;
        update.Index = index;
        HandOver(update);
        if (update.Raise)
            std::rethrow_exception(update.Raise);
        return;
    }
    // A disc blanked by its drive cannot be stopped halfway: it ends its blank, as the wipe
    // page would not let the user press Abort or Pause while one runs.
    // Nor does a drive working on its own erase: it finishes it whatever we do.
    // Unless the run is to end at once.
    const TDisk& disk = *job_.disks_[index];
    if ((disk.Interruptible() && !disk.FirmwareBusy()) || job_.AbortForced()) {
        CheckAbort();
        if (paused_.load(std::memory_order_acquire)) {
            std::unique_lock<std::mutex> hold(lock_);
            answered_.wait(hold, [this] {
                return !paused_.load(std::memory_order_acquire) ||
                       abort_.load(std::memory_order_acquire);
            });
        }
        CheckAbort();
    }
    job_.Publish(index, sink, TDriveState::dsWiping);
}

void TWipeJob::TRunLoop::CheckAbort() {
    if (abort_.load(std::memory_order_acquire))
        throw XAbort(AbortText());
}

std::string TWipeJob::TRunLoop::AbortText() {
    const std::lock_guard<std::mutex> hold(lock_);
    return abortText_;
}

// ---- The user-interface thread.

void TWipeJob::TRunLoop::Loop() {
    std::function<void()>& refresh = job_.manager_.OnUpdate;
    for (;;) {
        // In lock step the manager is heeded at the worker's updates, as a drive wiped on
        // this thread would heed it, and nowhere else.
        if (!lockstep_)
            TakeOverControls();
        TRequest* request = nullptr;
        bool over = false;
        {
            const std::lock_guard<std::mutex> hold(lock_);
            if (!queue_.empty()) {
                request = queue_.front();
                queue_.pop_front();
            } else {
                over = workers_ == 0;
            }
        }
        if (over)
            break;
        if (request != nullptr) {
            // One at a time: the other drives' questions wait in the queue.
            Handle(*request);
            {
                const std::lock_guard<std::mutex> hold(lock_);
                request->Done = true;
            }
            answered_.notify_all();
            Flush(false);
            continue;
        }
        if (lockstep_) {
            std::unique_lock<std::mutex> hold(lock_);
            posted_.wait(hold, [this] { return !queue_.empty() || workers_ == 0; });
            continue;
        }
        try {
            job_.manager_.GetHost().ProcessMessages();
            TakeOverControls();
            if (refresh)
                refresh();
        } catch (...) {
            if (!escaped_)
                escaped_ = std::current_exception();
            Abort(std::string());
        }
        std::unique_lock<std::mutex> hold(lock_);
        posted_.wait_for(hold, kLookAgain, [this] { return !queue_.empty() || workers_ == 0; });
    }
}

void TWipeJob::TRunLoop::TakeOverControls() {
    TGUIDiskManager& manager = job_.manager_;
    if (manager.PendingAbort) {
        const std::string text = std::move(*manager.PendingAbort);
        manager.PendingAbort.reset();
        Abort(text);
    }
    if (paused_.load(std::memory_order_relaxed) != manager.Paused) {
        {
            const std::lock_guard<std::mutex> hold(lock_);
            paused_.store(manager.Paused, std::memory_order_release);
        }
        answered_.notify_all();
    }
}

void TWipeJob::TRunLoop::Abort(const std::string& text) {
    {
        const std::lock_guard<std::mutex> hold(lock_);
        if (abort_.load(std::memory_order_relaxed))
            return; // the first abort's text stands
        abortText_ = text;
        abort_.store(true, std::memory_order_release);
    }
    answered_.notify_all(); // a paused drive wakes to end
}

void TWipeJob::TRunLoop::Handle(TRequest& request) {
    try {
        switch (request.Kind) {
        case TRequest::TKind::Start:
            Start(request);
            break;
        case TRequest::TKind::Question:
            AskUser(request);
            break;
        case TRequest::TKind::Dialog:
            Show(request);
            break;
        case TRequest::TKind::Update:
            Refresh(request);
            break;
        case TRequest::TKind::Ended:
            End(request);
            break;
        }
    } catch (...) {
        // The view or the host failed the run: nothing more is started or answered, and the
        // failure leaves the run once every thread has ended.
        if (!escaped_)
            escaped_ = std::current_exception();
        Abort(std::string());
        request.Go = false;
        if ((request.Kind == TRequest::TKind::Question || request.Kind == TRequest::TKind::Dialog ||
             request.Kind == TRequest::TKind::Update) &&
            !request.Raise)
            request.Raise = std::make_exception_ptr(XAbort(std::string()));
    }
}

void TWipeJob::TRunLoop::Start(TRequest& request) {
    const std::size_t index = request.Index;
    TDisk& disk = *job_.disks_[index];
    TGUIDiskManager& manager = job_.manager_;
    // In lock step an abort answered in the ask dialog stops the run before the next drive is
    // opened, not after its first transfer.
    std::exception_ptr abortAsked;
    if (lockstep_ && !abort_.load(std::memory_order_acquire)) {
        try {
            manager.CheckAbort();
        } catch (const XAbort& error) {
            Abort(error.what());
            abortAsked = std::current_exception();
        }
    }
    if (abort_.load(std::memory_order_acquire) || escaped_) {
        request.Go = false;
        finished_[index] = true;
        job_.status_.SetState(index, TDriveState::dsAborted);
        // An abort that no drive being wiped has met (answered after a drive ended) is the
        // first waiting drive's, as a run one drive at a time meets it at its next drive.
        if (!abortTold_ && !escaped_) {
            job_.results_[index].Outcome = TWipeOutcome::woAborted;
            job_.recordDrive_[index] = recorder_.DriveStarting(disk, index);
            TReportRedirect redirect(sections_[index].get());
            if (abortAsked) {
                try {
                    std::rethrow_exception(abortAsked);
                } catch (const XAbort& error) {
                    TellAbort(index, error);
                }
            } else {
                TellAbort(index, XAbort(AbortText()));
            }
            recorder_.DriveEnded(job_.recordDrive_[index], disk, *wipes_[index],
                                 job_.results_[index]);
            CountOutcome(TWipeOutcome::woAborted);
        }
        return;
    }
    job_.results_[index].Outcome = TWipeOutcome::woCompleted;
    job_.status_.SetState(index, TDriveState::dsWiping);
    job_.recordDrive_[index] = recorder_.DriveStarting(disk, index);
    {
        TReportRedirect redirect(sections_[index].get());
        CurrentReport->WriteDiskHeader(disk);
    }
    if (lockstep_) {
        // The manager tells the drive under way, as it would with the drive wiped on this
        // thread; a disc blanked by its drive has no passes: nothing of the drive before shows.
        job_.current_ = job_.asking_ = index;
        manager.ReportDisk = &disk;
        manager.Wipe = wipes_[index].get();
        manager.Pass = 0;
        manager.PassCount = 0;
        manager.Verifying = false;
        CopyFigures(manager, *sinks_[index]);
    }
    view_.DriveStarting(disk, job_.settings_);
}

void TWipeJob::TRunLoop::AskUser(TRequest& request) {
    const std::size_t index = request.Index;
    if (abort_.load(std::memory_order_acquire) || escaped_) {
        // Raised on the drive's thread as its sink would have met it at its next update.
        request.Raise = AbortError();
        return;
    }
    TGUIDiskManager& manager = job_.manager_;
    // The manager asks as for a drive wiped alone: the report's lines and block numbers, the
    // unattended answers and the record's questions are that drive's.
    TReportRedirect redirect(sections_[index].get());
    struct TAsked {
        TWipeJob& job;
        std::size_t asking;
        TDisk* disk;
        const TWipeContext* wipe;
        ~TAsked() {
            job.asking_ = asking;
            job.manager_.ReportDisk = disk;
            job.manager_.Wipe = wipe;
        }
    } asked{job_, job_.asking_, manager.ReportDisk, manager.Wipe};
    job_.asking_ = index;
    manager.ReportDisk = job_.disks_[index];
    if (lockstep_)
        CopyFigures(*sinks_[index], manager);
    manager.Wipe = wipes_[index].get();
    OnManager(request, [&] {
        request.Answer =
            manager.Message(request.Asked, request.Detail, request.DlgType, request.Buttons);
    });
}

template <class Call> void TWipeJob::TRunLoop::OnManager(TRequest& request, const Call& call) {
    try {
        call();
    } catch (const XAbort& error) {
        // The manager raised an abort asked for meanwhile: every drive's.
        Abort(error.what());
        request.Raise = std::current_exception();
    } catch (const XException&) {
        request.Raise = std::current_exception();
    }
}

std::exception_ptr TWipeJob::TRunLoop::AbortError() {
    return std::make_exception_ptr(XAbort(AbortText()));
}

void TWipeJob::TRunLoop::Refresh(TRequest& request) {
    TGUIDiskManager& manager = job_.manager_;
    CopyFigures(*sinks_[request.Index], manager);
    OnManager(request, [&] { manager.Update(); });
}

void TWipeJob::TRunLoop::Show(TRequest& request) {
    if (abort_.load(std::memory_order_acquire) || escaped_) {
        request.Raise = AbortError();
        return;
    }
    if (lockstep_)
        CopyFigures(*sinks_[request.Index], job_.manager_);
    // What the dialog raises is the drive's, as when the drive is wiped alone.
    try {
        (*request.Show)();
    } catch (const XException&) {
        request.Raise = std::current_exception();
    }
}

void TWipeJob::TRunLoop::End(TRequest& request) {
    const std::size_t index = request.Index;
    TDisk& disk = *job_.disks_[index];
    TDriveResult& result = job_.results_[index];
    result.Outcome = request.Outcome;
    finished_[index] = true;
    if (lockstep_)
        CopyFigures(*sinks_[index], job_.manager_);
    if (request.Error) {
        TReportRedirect redirect(sections_[index].get());
        try {
            std::rethrow_exception(request.Error);
        } catch (const XAbort& error) {
            job_.status_.SetState(index, TDriveState::dsAborted);
            TellAbort(index, error);
            if (ErasedBeforeAbort(*wipes_[index])) {
                CountOutcome(TWipeOutcome::woAborted); // the run's abort, not the drive's
                result.Outcome = TWipeOutcome::woCompleted;
                result.Error.clear();
                job_.PublishEnded(index);
            }
        } catch (const XException& error) {
            job_.status_.SetState(index, TDriveState::dsFailed);
            job_.TellError(view_, error, index, About(index));
        } catch (...) {
            // Not a program exception: as one drive at a time, it ends the run.
            job_.status_.SetState(index, TDriveState::dsFailed);
            if (!escaped_)
                escaped_ = std::current_exception();
            Abort(std::string());
        }
    } else {
        job_.PublishEnded(index);
    }
    if (const std::string differing = DifferingText(disk, *wipes_[index]); !differing.empty()) {
        TReportRedirect redirect(sections_[index].get());
        ReportWriteLine(differing);
    }
    TellPasswordLeft(view_, disk, *wipes_[index], About(index));
    CountOutcome(result.Outcome);
    recorder_.DriveEnded(job_.recordDrive_[index], disk, *wipes_[index], result);
    if (lockstep_)
        job_.current_ = job_.asking_ = kNoDrive;
    if (result.Outcome != TWipeOutcome::woAborted)
        view_.DriveEnded(disk);
}

void TWipeJob::TRunLoop::TellAbort(std::size_t index, const XException& error) {
    if (!abortTold_) {
        abortTold_ = true;
        job_.TellError(view_, error, index, About(index));
        return;
    }
    // The user is told the abort once; each drive it stopped still says so in the report and
    // in its result.
    std::vector<std::string> lines;
    job_.results_[index].Error = ErrorText(error, lines);
    for (const std::string& line : lines)
        ReportWriteLine(line);
}

void TWipeJob::TRunLoop::CountOutcome(TWipeOutcome outcome) {
    if (outcome == TWipeOutcome::woFailed)
        outcome_ = TWipeOutcome::woFailed;
    else if (outcome == TWipeOutcome::woAborted && outcome_ != TWipeOutcome::woFailed)
        outcome_ = TWipeOutcome::woAborted;
}

void TWipeJob::TRunLoop::Drain() noexcept {
    std::unique_lock<std::mutex> hold(lock_);
    abort_.store(true, std::memory_order_release);
    for (;;) {
        while (!queue_.empty()) {
            TRequest& request = *queue_.front();
            queue_.pop_front();
            request.Go = false;
            if (request.Kind != TRequest::TKind::Start && request.Kind != TRequest::TKind::Ended &&
                !request.Raise)
                request.Raise = std::make_exception_ptr(XAbort(std::string()));
            request.Done = true;
        }
        answered_.notify_all();
        if (workers_ == 0)
            return;
        posted_.wait(hold);
    }
}

void TWipeJob::TRunLoop::Unfinished(std::size_t index) {
    finished_[index] = true;
    TDisk& disk = *job_.disks_[index];
    TDriveResult& result = job_.results_[index];
    if (result.Outcome == TWipeOutcome::woNone) {
        // Not started: after an abort it is one the run did not reach, as one at a time.
        if (abort_.load(std::memory_order_acquire)) {
            job_.status_.SetState(index, TDriveState::dsAborted);
            return;
        }
        job_.recordDrive_[index] = recorder_.DriveStarting(disk, index);
    }
    // Started (and maybe taken for completed) or never reached: either way not wiped as told.
    result.Outcome = TWipeOutcome::woFailed;
    if (result.Error.empty())
        result.Error = CatalogueText("ErrorUnexpected");
    job_.status_.SetState(index, TDriveState::dsFailed);
    {
        TReportRedirect redirect(sections_[index].get());
        ReportWriteLine(result.Error);
    }
    CountOutcome(TWipeOutcome::woFailed);
    recorder_.DriveEnded(job_.recordDrive_[index], disk, *wipes_[index], result);
}

void TWipeJob::TRunLoop::Flush(bool all) {
    while (nextSection_ < sections_.size() && (all || finished_[nextSection_])) {
        if (CurrentReport)
            CurrentReport->WriteSection(*sections_[nextSection_]);
        ++nextSection_;
    }
}

} // namespace purgelet
