#include "app/batch/batch_run.h"

#include "app/batch/batch_host.h"
#include "app/batch/batch_output.h"
#include "app/batch/batch_view.h"
#include "app/batch/stop_requests.h"
#include "app/main_form.h"
#include "app/options.h"
#include "app/program.h"
#include "lang/catalogue.h"
#include "platform/codepage.h"
#include "platform/system.h"
#include "report/report.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <utility>

namespace purgelet {

namespace {

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Whether a drive's wipe completed with a block given up: not proven erased, a failure here.
bool PassedOver(const TWipeJob& job) {
    return std::any_of(job.Results().begin(), job.Results().end(),
                       [](const TDriveResult& r) { return ErasureOutcome(r) != r.Outcome; });
}

int ExitStatusOf(TWipeOutcome outcome) {
    switch (outcome) {
    case TWipeOutcome::woCompleted:
        return kExitCompleted;
    case TWipeOutcome::woAborted:
        return kExitAborted;
    default:
        return kExitFailed;
    }
}

// The letter of a path's drive ("C:\WINDOWS" gives C), none for a path without one.
std::optional<char> LetterOf(const std::string& path) {
    if (path.size() < 2 || path[1] != ':' || !std::isalpha(static_cast<unsigned char>(path[0])))
        return std::nullopt;
    return static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
}

class TBatchRun {
public:
    TBatchRun(const TBatchRequest& request, const TConsole& console)
        : request_(request), console_(console),
          host_([this](const std::string& text) { Say(text); }), app_(host_),
          out_([this](const std::string& line) { Write(line + "\n"); }, request.Json) {}

    ~TBatchRun() {
        if (app_.FrmMain) {
            TGUIDiskManager& manager = app_.FrmMain->DiskManager();
            manager.OnUpdate = nullptr;
            manager.OnAnswered = nullptr;
        }
        SetReportInputQuery(nullptr);
    }
    TBatchRun(const TBatchRun&) = delete;
    TBatchRun& operator=(const TBatchRun&) = delete;

    int Run() {
        if (app_.StartUnattended() != 0)
            return kExitFailed; // the host has said why
        TFrmMain& form = *app_.FrmMain;
        // The switches are for this run, and what the load could not read stays unread: the
        // user's stored options are not written back.
        Options->LeaveStored();
        TGUIDiskManager& manager = form.DiskManager();
        // Questions asked while the drives are found are answered unattended too.
        manager.SetUnattended(true);
        manager.OnAnswered = [this, &manager](MessageKind, const std::string& text,
                                              const std::string& detail, int answer) {
            out_.Question(manager.ReportDisk != nullptr ? manager.ReportDisk->Name : "", text,
                          detail, TGUIDiskManager::ModalResultText(answer));
        };

        for (const std::string& argument : request_.Switches)
            form.ProcessSwitch(argument);
        // The report's options section says how the run was made.
        Options->WipeWithoutIntervention = true;
        form.ApplyOptionsToControls();
        if (std::string error = SelectMethod(form); !error.empty())
            return Usage(error);
        form.cbxAlgorithmChange();
        if ((request_.DoDReport || (Options->GenerateReportFile && Options->UseDoDLogStyle)) &&
            (!request_.Operator || !request_.Media))
            return Usage("a DoD-style report names the person responsible and the media: give "
                         "--operator NAME and --media TEXT");

        std::vector<TDisk*> disks;
        if (std::string error = SelectDrives(form, disks); !error.empty())
            return Usage(error);
        return Wipe(form, std::move(disks));
    }

private:
    void Write(const std::string& text) const {
        if (console_.Out)
            console_.Out(text);
    }
    // A text of the program (Windows-1252) on the error stream, in UTF-8 as the lines are.
    void Say(const std::string& text) const {
        if (console_.Err)
            console_.Err("purgelet: " + platform::Cp1252ToUtf8(text) + "\n");
    }
    int Usage(const std::string& error) const {
        Say(error);
        return kExitUsage;
    }

    // The method box's selection, by name or number; what is wrong, else empty.
    std::string SelectMethod(TFrmMain& form) const {
        ui::TComboBox& box = form.cbxAlgorithm;
        std::string names;
        for (int i = 0; i < box.Count(); ++i)
            names += "\n  /M" + std::to_string(i) + "  " + box.Items(i).Text;
        if (box.Count() == 0)
            return "no method: the method list is empty";
        if (request_.MethodName) {
            const std::string wanted = Lower(*request_.MethodName);
            for (int i = 0; i < box.Count(); ++i) {
                if (Lower(box.Items(i).Text) == wanted) {
                    box.SetItemIndex(i);
                    return {};
                }
            }
            return "unknown method \"" + *request_.MethodName + "\"; the methods are:" + names;
        }
        if (request_.MethodIndex) {
            box.SetItemIndex(*request_.MethodIndex);
            if (box.ItemIndex() >= 0)
                return {};
            return "no method number " + std::to_string(*request_.MethodIndex) +
                   "; the methods are:" + names;
        }
        return "no method: give /M<n> or --method NAME; the methods are:" + names;
    }

    // The drives of the drive list the request names, in its order; what is wrong, else empty.
    std::string SelectDrives(TFrmMain& form, std::vector<TDisk*>& disks) const {
        form.RefreshDriveList();
        std::vector<TDisk*> offered;
        std::string listed;
        for (int i = 0; i < form.lwDisksList.Count(); ++i) {
            // Drive letters and discs: a whole disk is chosen on the drive page only.
            const ui::TListItem& row = form.lwDisksList.Items(i);
            if (auto* disk = static_cast<TDisk*>(row.Data); disk && !TFrmMain::WholeDiskOf(row)) {
                offered.push_back(disk);
                listed += " " + disk->Name;
            }
        }
        if (request_.AllDrives) {
            // Never the running system, nor the drive this program runs from: the first would
            // be refused at best, the second would lose the program under the run.
            std::string system;
            auto& k = platform::k32();
            for (const std::string& path : {k.GetWindowsDirectoryA(), k.GetModuleFileNameA()})
                if (auto letter = LetterOf(path))
                    system += *letter;
            for (TDisk* disk : offered)
                if (disk->Name.size() != 1 || system.find(disk->Name[0]) == std::string::npos)
                    disks.push_back(disk);
            if (disks.empty())
                return "no drives to wipe: the drive list offers none" +
                       (offered.empty() ? std::string()
                                        : " but the running system's (" + system + ")");
            return {};
        }
        for (char letter : request_.Letters) {
            const auto found = std::find_if(offered.begin(), offered.end(), [&](TDisk* disk) {
                return disk->Name == std::string(1, letter);
            });
            if (found == offered.end())
                return "no drive " + std::string(1, letter) + ": in the drive list (" +
                       (listed.empty() ? std::string("it is empty") : "it has" + listed) + ")";
            disks.push_back(*found);
        }
        return {};
    }

    int Wipe(TFrmMain& form, std::vector<TDisk*> disks) {
        TGUIDiskManager& manager = form.DiskManager();
        TWipeSettings settings = form.WipeSettingsFromControls();
        settings.Unattended = true;
        // The DoD report's two questions, answered from the command line.
        SetReportInputQuery([this](const std::string& caption, const std::string&,
                                   std::string& value) {
            const std::optional<std::string>& answer =
                caption == CatalogueText("INPUT_RESPONSIBLE_CAPTION", "report") ? request_.Operator
                : caption == CatalogueText("INPUT_MEDIA_CAPTION", "report")     ? request_.Media
                                                                                : std::nullopt;
            if (answer)
                value = *answer;
            return answer.has_value();
        });
        manager.PendingAbort.reset();
        manager.SetPaused(false);

        TWipeJob job(manager, std::move(disks), settings);
        TBatchView view(out_, job, manager, stops_, settings.AllowUserAbort,
                        Options->ShowAskDialog);
        manager.OnUpdate = [&view] { view.Update(); };
        view_ = &view;
        struct TUnhook {
            TGUIDiskManager& manager;
            TBatchView*& view;
            ~TUnhook() {
                manager.OnUpdate = nullptr;
                view = nullptr;
            }
        } unhook{manager, view_};
        view.HeedStops(); // a request made while the program started

        TWipeOutcome outcome = TWipeOutcome::woNone;
        bool escaped = false;
        try {
            outcome = job.Run(view);
        } catch (const std::exception& error) {
            Say(std::string("the run ended on an unexpected error: ") + error.what());
            escaped = true;
        } catch (...) {
            Say("the run ended on an unexpected error");
            escaped = true;
        }
        // A block left unwritten is a failure, which outranks an abort as the job ranks them.
        if (escaped || outcome == TWipeOutcome::woNone || PassedOver(job))
            outcome = TWipeOutcome::woFailed;
        // The report is closed with the outcome before the run's end is told. Its closing
        // lines may be the ones that do not fit: the run then fails too (the job told a
        // failure met before).
        bool reportLost = false;
        if (CurrentReport) {
            const bool told = CurrentReport->WriteFailed();
            CurrentReport->SetOutcome(ReportOutcome(outcome));
            CurrentReport->Close();
            reportLost = !told && CurrentReport->WriteFailed();
        }
        CurrentReport.reset();
        if (reportLost) {
            out_.Error("", ReportWriteFailedText(settings.LogFileName), false);
            outcome = TWipeOutcome::woFailed;
        }
        manager.ReportDisk = nullptr;
        stops_.RunEnded();
        view.Finish(escaped ? "failed" : "aborted");

        std::vector<TBatchOutput::TFile> files;
        if (settings.GenerateReportFile) {
            if (view.ReportOpened())
                files.push_back({"report", settings.LogFileName});
            else if (outcome == TWipeOutcome::woFailed)
                out_.Error("",
                           "the report file \"" + settings.LogFileName +
                               "\" cannot be written (the error log tells why)",
                           false);
        }
        if (!job.RecordFile().empty())
            files.push_back({"record", job.RecordFile()});
        if (!job.CertificateFile().empty())
            files.push_back({"certificate", job.CertificateFile()});
        const int status = ExitStatusOf(outcome);
        out_.RunEnded(OutcomeWord(outcome), status, files);
        return status;
    }

    const TBatchRequest& request_;
    const TConsole& console_;
    TStopRequests stops_; // first in, last out: a request during the whole run is the run's
    TBatchHost host_;
    TPurgeletApp app_;
    TBatchOutput out_;
    TBatchView* view_ = nullptr; // the view of the wipe under way
};

} // namespace

int RunBatch(const TBatchRequest& request, const TConsole& console) {
    TBatchRun run(request, console);
    return run.Run();
}

int RunConsoleCommand(const TCommandLine& commandLine, const TConsole& console) {
    switch (commandLine.Mode) {
    case TCommandMode::Help:
        if (console.Out)
            console.Out(UsageText());
        return kExitCompleted;
    case TCommandMode::Version:
        if (console.Out)
            console.Out(VersionLine() + "\n");
        return kExitCompleted;
    case TCommandMode::Batch: {
        std::string why;
        if (!platform::InstallDefaultSystem(why)) {
            if (console.Err)
                console.Err("purgelet: " + why + "\n");
            return kExitFailed;
        }
        return RunBatch(commandLine.Batch, console);
    }
    case TCommandMode::UsageError:
    case TCommandMode::Wizard:
        break;
    }
    if (console.Err)
        console.Err("purgelet: " +
                    (commandLine.Error.empty() ? std::string("not a command line for the console")
                                               : commandLine.Error) +
                    "\nTry \"purgelet --help\".\n");
    return kExitUsage;
}

} // namespace purgelet
