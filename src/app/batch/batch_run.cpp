#include "app/batch/batch_run.h"

#include "app/batch/batch_host.h"
#include "app/batch/batch_output.h"
#include "app/batch/batch_view.h"
#include "app/batch/stop_requests.h"
#include "app/drive_list.h"
#include "app/firmware_lines.h"
#include "app/options.h"
#include "app/program.h"
#include "app/run_record.h"
#include "app/run_settings.h"
#include "disk/disk.h"
#include "disk/disk_manager.h"
#include "lang/catalogue.h"
#include "methods/method.h"
#include "platform/codepage.h"
#include "platform/drive_letter.h"
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

class TBatchRun {
public:
    TBatchRun(const TBatchRequest& request, const TConsole& console)
        : request_(request), console_(console),
          host_([this](const std::string& text) { Say(text); }), app_(host_),
          out_([this](const std::string& line) { Write(line + "\n"); }, request.Json) {}

    ~TBatchRun() {
        if (manager_) {
            manager_->OnUpdate = nullptr;
            manager_->OnAnswered = nullptr;
        }
        SetReportInputQuery(nullptr);
    }
    TBatchRun(const TBatchRun&) = delete;
    TBatchRun& operator=(const TBatchRun&) = delete;

    int Run() {
        // The program as the wizard starts it, in the same order: the texts, the disk
        // manager, the method list (its first method chosen), the stored options.
        if (app_.StartUnattended() != 0)
            return kExitFailed; // the host has said why
        manager_ = CreateDiskManager(host_);
        if (!manager_)
            return kExitFailed; // told
        methods_ = MethodChoices();
        ChooseMethod(0);
        options_ = std::make_unique<TPLOptions>();
        TPLOptions& options = *options_;
        SettleOptions(options);
        // The switches are for this run, and what the load could not read stays unread: the
        // user's stored options are not written back.
        options.LeaveStored();
        TGUIDiskManager& manager = *manager_;
        // Questions asked while the drives are found are answered unattended too.
        manager.SetUnattended(true);
        manager.OnAnswered = [this, &manager](MessageKind, const std::string& text,
                                              const std::string& detail, int answer) {
            out_.Question(manager.ReportDisk != nullptr ? DriveName(*manager.ReportDisk) : "", text,
                          detail, TGUIDiskManager::ModalResultText(answer));
        };

        for (const std::string& argument : request_.Switches)
            if (const auto method = ApplySwitch(options, argument, host_))
                ChooseMethod(*method);
        // The report's options section says how the run was made.
        options.WipeWithoutIntervention = true;
        SettleOptions(options);
        if (std::string error = SelectMethod(); !error.empty())
            return Refuse(error);
        if ((request_.DoDReport || (options.GenerateReportFile && options.UseDoDLogStyle)) &&
            (!request_.Operator || !request_.Media))
            return Refuse("a DoD-style report names the person responsible and the media: "
                          "give --operator NAME and --media TEXT");

        std::vector<TDisk*> disks;
        if (std::string error = SelectDrives(disks); !error.empty())
            return Refuse(error);
        // What "every drive" did not take, and why: a records stick, a drive that writes no
        // disc, the system's own disk.
        if (request_.All != TAllDrives::None)
            for (const auto& device : manager.NotOffered)
                out_.LeftOut(device.device, device.reason);
        if (int status = RefuseFirmware(disks); status >= 0)
            return status;
        return Wipe(std::move(disks));
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
    // The run's settings: the stored options with the switches, and the method, with what the
    // command line says for the record and the certificate over the stored settings.
    TWipeSettings Settings() const {
        TWipeSettings settings = WipeSettingsOf(*options_, Chosen());
        settings.Unattended = true;
        record::TAttestation& a = settings.Attestation;
        if (request_.Operator)
            a.Operator.Person = *request_.Operator;
        if (request_.Media)
            a.Operator.Media = *request_.Media;
        for (const auto& [name, field] : ProofSettings(a, settings.CertificateLogo))
            if (auto given = request_.Proof.find(name); given != request_.Proof.end())
                *field = given->second;
        return settings;
    }

    // A run refused before it wrote anything: why, on the error stream (a usage error) or
    // told per drive before; its record, where records are kept; and its end.
    int Refuse(const std::string& reason, int status = kExitUsage,
               const std::vector<std::pair<TDisk*, std::string>>& drives = {}) {
        if (status == kExitUsage)
            Say(reason);
        TWipeSettings settings = Settings();
        std::vector<TBatchOutput::TFile> files;
        if (settings.RecordFile) {
            TRunRecorder recorder(settings);
            // The person and the media are the settings' (from --operator and --media).
            for (const std::string& problem : recorder.Refuse(reason, drives, "", ""))
                out_.Error("", problem, true);
            if (!recorder.RecordFile().empty())
                files.push_back({"record", recorder.RecordFile()});
            if (!recorder.CertificateFile().empty())
                files.push_back({"certificate", recorder.CertificateFile()});
        }
        out_.RunEnded("refused", status, files, reason);
        return status;
    }

    // A method with the drive's own erase, as the method page checks it: each drive that
    // cannot take it is told with the reason, and the run is refused (exit status 1). -1
    // when every drive can.
    int RefuseFirmware(const std::vector<TDisk*>& disks) {
        const method* chosen = Chosen().Method;
        if (chosen == nullptr || chosen->Firmware == TFirmwareStep::None)
            return -1;
        const std::vector<TFirmwareLine> lines = FirmwareLines(disks, chosen->Firmware);
        bool refused = false;
        for (const TFirmwareLine& line : lines)
            if (!line.Possible) {
                out_.Error(DriveName(*line.Disk), FirmwareLineText(line), false);
                refused = true;
            }
        if (!refused)
            return -1;
        return Refuse(CatalogueText("FIRMWARE_RUNREFUSED"), kExitFailed, FirmwareReasons(lines));
    }

    // The method list's choice: index i of the list, else none (as the method box takes it).
    void ChooseMethod(std::int32_t index) {
        methodIndex_ = index >= 0 && static_cast<std::size_t>(index) < methods_.size() ? index : -1;
    }
    TMethodChoice Chosen() const {
        return methodIndex_ >= 0 ? methods_[static_cast<std::size_t>(methodIndex_)]
                                 : TMethodChoice{};
    }

    // The method the request names, by name or number; what is wrong, else empty.
    std::string SelectMethod() {
        std::string names;
        for (std::size_t i = 0; i < methods_.size(); ++i)
            names += "\n  /M" + std::to_string(i) + "  " + methods_[i].Name;
        if (methods_.empty())
            return "no method: the method list is empty";
        if (request_.MethodName) {
            const std::string wanted = Lower(*request_.MethodName);
            for (std::size_t i = 0; i < methods_.size(); ++i) {
                if (Lower(methods_[i].Name) == wanted) {
                    ChooseMethod(static_cast<std::int32_t>(i));
                    return {};
                }
            }
            return "unknown method \"" + *request_.MethodName + "\"; the methods are:" + names;
        }
        if (request_.MethodIndex) {
            ChooseMethod(*request_.MethodIndex);
            if (methodIndex_ >= 0)
                return {};
            return "no method number " + std::to_string(*request_.MethodIndex) +
                   "; the methods are:" + names;
        }
        return "no method: give /M<n> or --method NAME; the methods are:" + names;
    }

    // The drives of the drive list the request names, in its order; what is wrong, else empty.
    std::string SelectDrives(std::vector<TDisk*>& disks) {
        // The whole disks are listed for this run whatever the wizard's option says.
        TListed listed;
        const std::vector<TDriveGroup> groups = ListDrives(*manager_, true);
        for (const TDriveGroup& group : groups) {
            for (const TListedDrive& drive : group.Drives) {
                if (TPhysicalDisk* whole = WholeDiskOf(drive.Disk))
                    listed.Wholes.push_back(whole);
                else
                    listed.Letters.push_back(drive.Disk);
            }
        }
        if (groups.empty()) // said as the drive page says it
            host_.MessageDialog(NothingToWipeText(*manager_), TMsgDlgType::mtInformation,
                                mbOKButton, 0);
        std::string error = request_.All != TAllDrives::None ? SelectAll(listed, disks)
                                                             : SelectNamed(listed, disks);
        if (!error.empty())
            return error;
        // A disk named with one of its letters is wiped once, as the disk.
        disks.erase(std::remove_if(disks.begin(), disks.end(),
                                   [&disks](TDisk* disk) {
                                       return disk->OwnerDisk != nullptr &&
                                              std::find(disks.begin(), disks.end(),
                                                        disk->OwnerDisk) != disks.end();
                                   }),
                    disks.end());
        return {};
    }

    // The drive list's rows: whole disks and the rest (letters, discs), in list order.
    struct TListed {
        std::vector<TPhysicalDisk*> Wholes;
        std::vector<TDisk*> Letters;

        std::string Names() const {
            std::string names;
            for (const TDisk* disk : Letters)
                names += " " + disk->Name;
            for (const TPhysicalDisk* whole : Wholes)
                names += " " + WholeName(*whole);
            return names.empty() ? "it is empty" : "it has" + names;
        }
    };

    // "disk1 (\\.\PhysicalDrive1, SIM DISK 1)": how a whole disk is told in a refusal.
    static std::string WholeName(const TPhysicalDisk& whole) {
        return "disk" + std::to_string(whole.DeviceNumber) + " (" + DriveName(whole) + ", " +
               whole.Description + ")";
    }

    // The letters of the drives the running system and this program are on.
    static std::string SystemLetters() {
        std::string system;
        auto& k = platform::k32();
        for (const std::string& path : {k.GetWindowsDirectoryA(), k.GetModuleFileNameA()})
            if (const char letter = platform::DriveLetterOf(path))
                system += letter;
        return system;
    }

    // --all and --all-letters. Never the running system, nor the drive this program runs
    // from: the first would be refused at best, the second would lose the program under the
    // run.
    std::string SelectAll(const TListed& listed, std::vector<TDisk*>& disks) const {
        const std::string system = SystemLetters();
        const bool wholeDisks = request_.All == TAllDrives::WholeDisksFirst;
        std::string refused; // the whole disks that cannot be wiped, and why
        if (wholeDisks) {
            for (TPhysicalDisk* whole : listed.Wholes) {
                if (whole->NotWipeable.empty())
                    disks.push_back(whole);
                else
                    refused += "; " + WholeName(*whole) + " " + whole->NotWipeable;
            }
        }
        for (TDisk* disk : listed.Letters) {
            if (disk->Name.size() == 1 && system.find(disk->Name[0]) != std::string::npos)
                continue;
            // Whole disks first: a drive on a listed disk is that disk's (wiped with it, or
            // kept with it when the disk holds the system).
            if (wholeDisks && disk->OwnerDisk != nullptr &&
                std::find(listed.Wholes.begin(), listed.Wholes.end(), disk->OwnerDisk) !=
                    listed.Wholes.end())
                continue;
            disks.push_back(disk);
        }
        if (!disks.empty())
            return {};
        if (listed.Letters.empty() && listed.Wholes.empty())
            return "no drives to wipe: the drive list is empty";
        std::string why = "no drives to wipe: the drive list offers none";
        if (!refused.empty())
            why += " that may be wiped" + refused;
        else if (!system.empty())
            why += " but the running system's (" + system + ")";
        return why;
    }

    // The drives named on the command line, in the order given.
    std::string SelectNamed(const TListed& listed, std::vector<TDisk*>& disks) const {
        using TKind = TDriveSelector::TKind;
        const auto add = [&disks](TDisk* disk) {
            if (std::find(disks.begin(), disks.end(), disk) == disks.end())
                disks.push_back(disk);
        };
        const auto byNumber = [&listed](std::uint32_t number) -> TPhysicalDisk* {
            for (TPhysicalDisk* whole : listed.Wholes)
                if (whole->DeviceNumber >= 0 &&
                    static_cast<std::uint32_t>(whole->DeviceNumber) == number)
                    return whole;
            return nullptr;
        };
        for (const TDriveSelector& selector : request_.Drives) {
            std::vector<TPhysicalDisk*> wholes;
            switch (selector.Kind) {
            case TKind::Letter: {
                const auto found =
                    std::find_if(listed.Letters.begin(), listed.Letters.end(), [&](TDisk* disk) {
                        return disk->Name == std::string(1, selector.Letter);
                    });
                if (found == listed.Letters.end())
                    return "no drive " + std::string(1, selector.Letter) + ": in the drive list (" +
                           listed.Names() + ")";
                add(*found);
                continue;
            }
            case TKind::DiskNumber:
                if (TPhysicalDisk* whole = byNumber(selector.Number))
                    wholes.push_back(whole);
                else
                    return "no disk " + std::to_string(selector.Number) + " in the drive list (" +
                           listed.Names() + ")";
                break;
            case TKind::DevicePath: {
                const auto number = platform::k32().DiskNumberOfPath(selector.Value);
                TPhysicalDisk* whole = number ? byNumber(*number) : nullptr;
                if (whole == nullptr)
                    return "\"" + selector.Value + "\" is no whole disk in the drive list (" +
                           listed.Names() + ")";
                wholes.push_back(whole);
                break;
            }
            case TKind::Serial:
                // Every namespace of an NVMe drive carries the drive's serial number: each
                // is taken.
                for (TPhysicalDisk* whole : listed.Wholes)
                    if (SameSerial(whole->Identity.Serial, selector.Value))
                        wholes.push_back(whole);
                if (wholes.empty()) {
                    std::string serials;
                    for (const TPhysicalDisk* whole : listed.Wholes)
                        if (!whole->Identity.Serial.empty())
                            serials += " " + whole->Identity.Serial;
                    return "no disk with serial number " + selector.Value + " in the drive list (" +
                           (serials.empty() ? std::string("no disk tells its serial number")
                                            : "the serial numbers are" + serials) +
                           ")";
                }
                break;
            }
            for (TPhysicalDisk* whole : wholes) {
                if (!whole->NotWipeable.empty())
                    return WholeName(*whole) + " cannot be wiped: " + whole->NotWipeable;
                add(whole);
            }
        }
        return {};
    }

    // In any letter case. The identity layer trims the drive's padding, the command line's
    // reader the argument's.
    static bool SameSerial(const std::string& reported, const std::string& given) {
        return !given.empty() && Lower(reported) == Lower(given);
    }

    int Wipe(std::vector<TDisk*> disks) {
        TGUIDiskManager& manager = *manager_;
        TWipeSettings settings = Settings();
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
                        options_->ShowAskDialog);
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
        view.ActOnStopRequests(); // a request made while the program started

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
            else if (outcome == TWipeOutcome::woFailed && !job.Refused() &&
                     job.ReportError().empty()) // else told already, with the reason
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
        out_.RunEnded(job.Refused() ? "refused" : OutcomeWord(outcome), status, files);
        return status;
    }

    const TBatchRequest& request_;
    const TConsole& console_;
    TStopRequests stops_; // first in, last out: a request during the whole run is the run's
    TBatchHost host_;
    TPurgeletApp app_;
    // What the run works with, made as the main window makes them; the options go first.
    std::unique_ptr<TGUIDiskManager> manager_;
    std::unique_ptr<TPLOptions> options_;
    std::vector<TMethodChoice> methods_; // the method list
    std::int32_t methodIndex_ = -1;      // the chosen method's index in it; -1: none
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
