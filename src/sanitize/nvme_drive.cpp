// An NVMe drive's own erase: Sanitize where the controller has the action, else Format NVM
// with its Secure Erase Setting, sent to the disk's own namespace; a command that reaches the
// drive's other namespaces only where the run holds them all.
//
// How a command reaches the drive is the system's driver's to say. Windows' own NVMe driver
// hands out Identify data and log pages through the storage property query, sends a Sanitize
// for the media reinitialization request (Windows 10 21H1 on), and passes no standard admin
// command through the protocol command; a vendor's driver, and Linux, pass them all. The probe
// finds which ways this driver takes, so that a command no way can carry is refused on the
// method page, never during the run.
#include "platform/storage_pass_through.h"
#include "platform/system.h"
#include "sanitize/firmware_run.h"
#include "sanitize/nvme.h"

#include <algorithm>

namespace purgelet::firmware {

namespace {

struct TAnswer {
    DWORD SystemError = 0;
    nvme::TReturned Returned;
    std::uint32_t Nsid = 0; // a namespace's own query: the id the system gives it, if any
    bool Ok() const { return SystemError == 0 && Returned.Success(); }
    std::string StatusText() const {
        if (SystemError != 0)
            return "system error " + std::to_string(SystemError);
        return "NVMe status " + Hex(Returned.ErrorCode, 3) + " (return status " +
               Hex(Returned.ReturnStatus, 2) + ")";
    }
};

DWORD ErrorOrFailure(DWORD error) {
    return error != 0 ? error : static_cast<DWORD>(ERROR_GEN_FAILURE);
}

// The request is not one this driver knows: nothing reached the drive.
bool NotThere(DWORD error) {
    return error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED;
}

// Whether the storage driver reads a sanitize method in the media reinitialization request.
// A program not manifested for Windows 10 is told 6.2 and takes the protocol command alone.
bool SanitizeMethodKnown() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    return platform::k32().GetVersionExA(&version) &&
           version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion >= 10 &&
           version.dwBuildNumber >= kFirstBuildWithSanitizeMethod;
}

// The ways to one controller behind a disk handle.
class TLink {
public:
    explicit TLink(HANDLE handle) : handle_(handle), reinitialize_(SanitizeMethodKnown()) {}

    // A command through the storage protocol command.
    TAnswer Command(const nvme::TCommand& command,
                    std::uint32_t timeout = kCommandTimeoutSeconds) const {
        std::vector<std::uint8_t> request = nvme::PackRequest(command, timeout);
        TAnswer a;
        a.SystemError = Send(handle_, IOCTL_STORAGE_PROTOCOL_COMMAND, request);
        if (a.SystemError == 0)
            a.Returned = nvme::ReadReturned(request);
        return a;
    }

    // Data the driver hands out (Identify, a log page) through the property query.
    TAnswer Query(const nvme::TCommand& command, bool ownNamespace = false) const {
        TAnswer a;
        auto query = nvme::PackQuery(command, ownNamespace);
        if (!query) {
            a.SystemError = ERROR_NOT_SUPPORTED;
            return a;
        }
        DWORD returned = 0;
        const auto size = static_cast<DWORD>(query->size());
        if (!platform::k32().DeviceIoControl(handle_, IOCTL_STORAGE_QUERY_PROPERTY, query->data(),
                                             size, query->data(), size, &returned, nullptr)) {
            a.SystemError = ErrorOrFailure(platform::k32().GetLastError());
            return a;
        }
        auto data = nvme::ReadQuery(*query, returned, command.DataLength);
        if (!data) {
            a.SystemError = ERROR_INVALID_DATA;
            return a;
        }
        a.Returned.ReturnStatus = STORAGE_PROTOCOL_STATUS_SUCCESS;
        a.Returned.Data = std::move(*data);
        if (ownNamespace)
            a.Nsid = nvme::AnsweredNamespace(*query, returned);
        return a;
    }

    // The property query, else the protocol command where the driver passes it.
    TAnswer Read(const nvme::TCommand& command) const {
        TAnswer a = Query(command);
        return !a.Ok() && passThrough_ ? Command(command) : a;
    }

    // A Sanitize through the media reinitialization request (its structure in, nothing
    // out); 0, or the system's error.
    DWORD Reinitialize(std::uint32_t sanact, std::uint32_t timeout) const {
        std::vector<std::uint8_t> request = nvme::PackReinitialize(sanact, timeout);
        DWORD returned = 0;
        if (platform::k32().DeviceIoControl(handle_, IOCTL_STORAGE_REINITIALIZE_MEDIA,
                                            request.data(), static_cast<DWORD>(request.size()),
                                            nullptr, 0, &returned, nullptr))
            return 0;
        return ErrorOrFailure(platform::k32().GetLastError());
    }

    bool PassThrough() const { return passThrough_; }
    void SetPassThrough(bool passes) { passThrough_ = passes; }
    bool ReinitializeSanitizes() const { return reinitialize_; }

private:
    HANDLE handle_;
    bool reinitialize_;
    bool passThrough_ = false;
};

std::uint32_t Estimate(std::uint32_t seconds) {
    return seconds == nvme::kNoEstimate ? 0 : seconds;
}

// Where the disk lies on its controller, as the probe found it.
struct TPlace {
    std::uint32_t Nsid = 0; // 0: not told
    std::vector<std::uint32_t> Active;
};

class TNvmeDrive : public TFirmwareDrive {
public:
    TNvmeDrive(TLink link, nvme::TController controller, TPlace place,
               std::optional<nvme::TNamespace> ns)
        : link_(link), ctl_(std::move(controller)), place_(std::move(place)), ns_(std::move(ns)) {
        if (ctl_.SanitizeCrypto || ctl_.SanitizeBlock)
            log_ = ReadLog();
    }

    TCommandSet CommandSet() const override { return TCommandSet::Nvme; }
    std::string Model() const override { return ctl_.Model; }
    TFirmwareUnit Unit() const override {
        TFirmwareUnit unit;
        unit.Controller = Hex(ctl_.VendorId, 4) + " " + ctl_.Serial + " " + ctl_.Model;
        unit.Namespace = place_.Nsid;
        unit.Active = place_.Active;
        return unit;
    }

    TFirmwareChoice Choose(TFirmwareOperation operation, TFirmwareScope scope) const override {
        return Plan(operation, scope).Choice;
    }

    TFirmwareResult Run(TFirmwareOperation operation, TFirmwareScope scope,
                        const TFirmwareObserver& observer) override {
        const TPlan plan = Plan(operation, scope);
        TFirmwareResult result;
        result.Command = plan.Choice.Command;
        if (!plan.Choice.Possible())
            return result;
        const bool crypto = operation == TFirmwareOperation::CryptoErase;
        if (plan.Sanitize)
            RunSanitize(crypto, plan.Choice, observer, result);
        else
            RunFormat(crypto, plan, observer, result);
        return result;
    }

private:
    struct TPlan {
        TFirmwareChoice Choice;
        bool Sanitize = false;
        std::uint32_t FormatNsid = 0; // the namespace Format NVM goes to
    };

    // Sanitize reaches every namespace of the controller; Format NVM the namespace it is sent
    // to, unless the controller formats or erases all of them at once (FNA bits 0 and 1).
    // Either goes beyond the disk's namespace only to a run that holds the whole drive. A
    // command the drive has but this system's driver cannot send is refused as such.
    TPlan Plan(TFirmwareOperation operation, TFirmwareScope scope) const {
        TPlan plan;
        TFirmwareChoice& c = plan.Choice;
        const bool crypto = operation == TFirmwareOperation::CryptoErase;
        const bool onlyNamespace =
            place_.Active.size() == 1 && place_.Nsid != 0 && place_.Nsid == place_.Active[0];
        const bool whole = scope == TFirmwareScope::WholeDrive || onlyNamespace;
        const auto reach = static_cast<std::uint32_t>(onlyNamespace ? 0 : place_.Active.size());
        const bool hasSanitize = crypto ? ctl_.SanitizeCrypto : ctl_.SanitizeBlock;
        const bool hasFormat = ctl_.FormatNvm && ns_ && (!crypto || ctl_.CryptoFormat);
        const bool canSanitize =
            hasSanitize && (link_.ReinitializeSanitizes() || link_.PassThrough());
        bool beyond = false;
        if (canSanitize) {
            if (whole) {
                plan.Sanitize = true;
                c.Command = crypto ? "NVMe Sanitize, crypto erase (84h, SANACT 100b)"
                                   : "NVMe Sanitize, block erase (84h, SANACT 010b)";
                if (log_)
                    c.EstimatedSeconds =
                        Estimate(crypto ? log_->CryptoEraseSeconds : log_->BlockEraseSeconds);
                c.DriveNamespaces = reach;
            }
            beyond = !whole;
        }
        const bool allAtOnce = ctl_.FormatAllNamespaces || ctl_.EraseAllNamespaces;
        if (!plan.Sanitize && hasFormat && link_.PassThrough()) {
            if (allAtOnce && !whole) {
                beyond = true;
            } else {
                c.Command = crypto ? "NVMe Format NVM, crypto erase (80h, SES 010b)"
                                   : "NVMe Format NVM, user data erase (80h, SES 001b)";
                plan.FormatNsid = allAtOnce ? nvme::kAllNamespaces : place_.Nsid;
                c.DriveNamespaces = allAtOnce ? reach : 0;
            }
        }
        if (c.Command.empty()) {
            c.Refusal = beyond                     ? TFirmwareRefusal::OtherNamespaces
                        : hasSanitize || hasFormat ? TFirmwareRefusal::NotThisSystem
                                                   : TFirmwareRefusal::Unsupported;
            c.DriveNamespaces = beyond ? static_cast<std::uint32_t>(place_.Active.size()) : 0;
            return plan;
        }
        c.LimitSeconds = LimitFor(c.EstimatedSeconds);
        if (!crypto && ns_)
            c.ErasedByte = ns_->ErasedByte;
        return plan;
    }

    std::optional<nvme::TSanitizeLog> ReadLog() const {
        const TAnswer log = link_.Read(nvme::GetSanitizeStatusLog());
        return log.Ok() ? nvme::ParseSanitizeLog(log.Returned.Data) : std::nullopt;
    }

    // Sends the Sanitize: through the media reinitialization request where the system's
    // driver reads its method, else (or where this driver does not take that request) through
    // the protocol command. Whether the drive took it: 0, a system error, or the drive's
    // refusal in its own words (refused).
    DWORD SendSanitize(std::uint32_t sanact, std::string& refused) const {
        if (link_.ReinitializeSanitizes()) {
            const DWORD error = link_.Reinitialize(sanact, kCommandTimeoutSeconds);
            if (error == 0)
                return 0;
            if (!NotThere(error) || !link_.PassThrough()) {
                // The driver may have waited for the drive and given up while it works on:
                // the drive's log tells whether our sanitize is running.
                const auto log = ReadLog();
                if (log && log->InProgress() && (log->Cdw10 & 0x7) == sanact)
                    return 0;
                return error;
            }
        }
        const TAnswer sent = link_.Command(nvme::Sanitize(sanact));
        if (sent.SystemError == 0 && !sent.Ok())
            refused = "refused: " + sent.StatusText();
        return sent.SystemError;
    }

    void RunSanitize(bool crypto, const TFirmwareChoice& choice, const TFirmwareObserver& observer,
                     TFirmwareResult& result) {
        std::string refused;
        const DWORD error =
            SendSanitize(crypto ? nvme::kSanactCryptoErase : nvme::kSanactBlockErase, refused);
        if (error != 0 || !refused.empty()) {
            result.SystemError = error;
            result.DriveStatus = refused;
            return;
        }
        PollUntilDone(
            [&] {
                TPollAnswer answer;
                const TAnswer log = link_.Read(nvme::GetSanitizeStatusLog());
                if (!log.Ok()) {
                    answer.SystemError = log.SystemError;
                    if (log.SystemError == 0)
                        answer.DriveStatus = "Sanitize Status log: " + log.StatusText();
                    return answer;
                }
                const auto s = nvme::ParseSanitizeLog(log.Returned.Data);
                if (!s)
                    return answer;
                answer.DriveStatus = "SSTAT " + Hex(s->Sstat, 4);
                if (s->Completed())
                    answer.State = TPollAnswer::TState::Completed;
                else if (s->Failed())
                    answer.State = TPollAnswer::TState::Failed;
                else if (s->InProgress())
                    answer.Fraction = s->Sprog / 65536.0;
                return answer;
            },
            choice.LimitSeconds, observer, result);
    }

    // Format NVM returns only when the format is done: the drive has it from the moment it
    // is sent, and its timeout is the limit.
    void RunFormat(bool crypto, const TPlan& plan, const TFirmwareObserver& observer,
                   TFirmwareResult& result) {
        RunBlockingCommand(
            [&] {
                const TAnswer format =
                    link_.Command(nvme::FormatNvm(crypto ? nvme::kSesCrypto : nvme::kSesUserData,
                                                  *ns_, plan.FormatNsid),
                                  plan.Choice.LimitSeconds);
                return TBlockingAnswer{format.SystemError, !format.Ok(),
                                       "Format NVM: " + format.StatusText()};
            },
            observer, result);
    }

    TLink link_;
    nvme::TController ctl_;
    TPlace place_;
    std::optional<nvme::TNamespace> ns_;
    std::optional<nvme::TSanitizeLog> log_;
};

// Whether an Identify Namespace answer is of an active namespace: an inactive one is all
// zeros, its size 0.
bool Active(const TAnswer& ns) {
    const auto parsed = ns.Ok() ? nvme::ParseNamespace(ns.Returned.Data) : std::nullopt;
    return parsed && parsed->Size != 0;
}

// The namespace behind the handle. Windows gives each namespace a disk of its own and does not
// tell its id: the disk's own Identify Namespace data (the device's property query) is matched
// against each active namespace's; only one alike is an answer. A controller with one active
// namespace has no other to be.
std::uint32_t NamespaceOf(const TLink& link, const std::vector<std::uint32_t>& active) {
    if (active.size() == 1)
        return active.front();
    const TAnswer own = link.Query(nvme::IdentifyNamespace(0), true);
    if (!own.Ok())
        return 0;
    // Where the system names the handle's namespace it is that one; else its Identify data
    // must match exactly one active namespace's.
    if (own.Nsid != 0)
        return std::find(active.begin(), active.end(), own.Nsid) != active.end() ? own.Nsid : 0;
    std::uint32_t found = 0;
    for (const std::uint32_t nsid : active) {
        const TAnswer ns = link.Read(nvme::IdentifyNamespace(nsid));
        if (!ns.Ok() || !nvme::SameNamespace(own.Returned.Data, ns.Returned.Data))
            continue;
        if (found != 0)
            return 0; // two alike: it cannot be told which
        found = nsid;
    }
    return found;
}

// The controller's active namespaces: its list where it gives one (NVMe 1.1 on, and where the
// driver hands it out), else every id up to its count whose Identify Namespace is not empty.
std::vector<std::uint32_t> ActiveNamespaces(const TLink& link, const nvme::TController& ctl) {
    const TAnswer list = link.Read(nvme::IdentifyActiveNamespaces());
    if (list.Ok())
        return nvme::ParseNamespaceList(list.Returned.Data);
    std::vector<std::uint32_t> ids;
    for (std::uint32_t id = 1; id <= std::min<std::uint32_t>(ctl.Namespaces, 1024); ++id)
        if (Active(link.Read(nvme::IdentifyNamespace(id))))
            ids.push_back(id);
    return ids;
}

} // namespace

// Identify Controller through the property query, and once through the protocol command to
// learn whether the driver passes standard admin commands (reading changes nothing).
std::unique_ptr<TFirmwareDrive> ProbeNvme(HANDLE handle) {
    TLink link(handle);
    const TAnswer queried = link.Query(nvme::IdentifyController());
    const TAnswer passed = link.Command(nvme::IdentifyController());
    link.SetPassThrough(passed.Ok());
    const TAnswer& controller = queried.Ok() ? queried : passed;
    if (!controller.Ok())
        return nullptr;
    auto ctl = nvme::ParseController(controller.Returned.Data);
    if (!ctl)
        return nullptr;
    TPlace place;
    place.Active = ActiveNamespaces(link, *ctl);
    place.Nsid = NamespaceOf(link, place.Active);
    std::optional<nvme::TNamespace> parsed;
    if (place.Nsid != 0) {
        const TAnswer ns = link.Read(nvme::IdentifyNamespace(place.Nsid));
        if (ns.Ok())
            parsed = nvme::ParseNamespace(ns.Returned.Data);
    }
    return std::make_unique<TNvmeDrive>(link, std::move(*ctl), std::move(place), std::move(parsed));
}

} // namespace purgelet::firmware
