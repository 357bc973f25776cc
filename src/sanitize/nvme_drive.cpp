// An NVMe drive's own erase: Sanitize where the controller has the action, else Format NVM
// with its Secure Erase Setting, sent to the disk's own namespace; a command that reaches the
// drive's other namespaces only where the run holds them all.
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
    bool Ok() const { return SystemError == 0 && Returned.Success(); }
    std::string StatusText() const {
        return "NVMe status " + Hex(Returned.ErrorCode, 3) + " (return status " +
               Hex(Returned.ReturnStatus, 2) + ")";
    }
};

TAnswer SendCommand(HANDLE handle, const nvme::TCommand& command, std::uint32_t timeout) {
    std::vector<std::uint8_t> request = nvme::PackRequest(command, timeout);
    TAnswer a;
    a.SystemError = Send(handle, IOCTL_STORAGE_PROTOCOL_COMMAND, request);
    if (a.SystemError == 0)
        a.Returned = nvme::ReadReturned(request);
    return a;
}

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
    TNvmeDrive(HANDLE handle, nvme::TController controller, TPlace place,
               std::optional<nvme::TNamespace> ns)
        : handle_(handle), ctl_(std::move(controller)), place_(std::move(place)),
          ns_(std::move(ns)) {
        if (ctl_.SanitizeCrypto || ctl_.SanitizeBlock) {
            const TAnswer log = Send(nvme::GetSanitizeStatusLog());
            if (log.Ok())
                log_ = nvme::ParseSanitizeLog(log.Returned.Data);
        }
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
    // Either goes beyond the disk's namespace only to a run that holds the whole drive.
    TPlan Plan(TFirmwareOperation operation, TFirmwareScope scope) const {
        TPlan plan;
        TFirmwareChoice& c = plan.Choice;
        const bool crypto = operation == TFirmwareOperation::CryptoErase;
        const bool onlyNamespace =
            place_.Active.size() == 1 && place_.Nsid != 0 && place_.Nsid == place_.Active[0];
        const bool whole = scope == TFirmwareScope::WholeDrive || onlyNamespace;
        const auto reach = static_cast<std::uint32_t>(onlyNamespace ? 0 : place_.Active.size());
        bool beyond = false;
        if (crypto ? ctl_.SanitizeCrypto : ctl_.SanitizeBlock) {
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
        if (!plan.Sanitize && ctl_.FormatNvm && ns_ && (!crypto || ctl_.CryptoFormat)) {
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
            c.Refusal = beyond ? TFirmwareRefusal::OtherNamespaces : TFirmwareRefusal::Unsupported;
            c.DriveNamespaces = beyond ? static_cast<std::uint32_t>(place_.Active.size()) : 0;
            return plan;
        }
        c.LimitSeconds = LimitFor(c.EstimatedSeconds);
        if (!crypto && ns_)
            c.ErasedByte = ns_->ErasedByte;
        return plan;
    }

    TAnswer Send(const nvme::TCommand& command,
                 std::uint32_t timeout = kCommandTimeoutSeconds) const {
        return SendCommand(handle_, command, timeout);
    }

    void RunSanitize(bool crypto, const TFirmwareChoice& choice, const TFirmwareObserver& observer,
                     TFirmwareResult& result) {
        const TAnswer sent =
            Send(nvme::Sanitize(crypto ? nvme::kSanactCryptoErase : nvme::kSanactBlockErase));
        if (sent.SystemError != 0) {
            result.SystemError = sent.SystemError;
            return;
        }
        if (!sent.Ok()) {
            result.DriveStatus = "refused: " + sent.StatusText();
            return;
        }
        PollUntilDone(
            [&] {
                TPollAnswer answer;
                const TAnswer log = Send(nvme::GetSanitizeStatusLog());
                if (log.SystemError != 0 || !log.Ok()) {
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
                    Send(nvme::FormatNvm(crypto ? nvme::kSesCrypto : nvme::kSesUserData, *ns_,
                                         plan.FormatNsid),
                         plan.Choice.LimitSeconds);
                return TBlockingAnswer{format.SystemError, !format.Ok(),
                                       "Format NVM: " + format.StatusText()};
            },
            observer, result);
    }

    HANDLE handle_;
    nvme::TController ctl_;
    TPlace place_;
    std::optional<nvme::TNamespace> ns_;
    std::optional<nvme::TSanitizeLog> log_;
};

// The namespace behind the handle. Windows gives each namespace a disk of its own and does not
// tell its id: the disk's own Identify Namespace data (the storage property query) is matched
// against each active namespace's; only one alike is an answer. A controller with one active
// namespace has no other to be.
std::uint32_t NamespaceOf(HANDLE handle, const std::vector<std::uint32_t>& active) {
    if (active.size() == 1)
        return active.front();
    std::vector<std::uint8_t> query = nvme::PackNamespaceQuery();
    DWORD returned = 0;
    const auto size = static_cast<DWORD>(query.size());
    if (!platform::k32().DeviceIoControl(handle, IOCTL_STORAGE_QUERY_PROPERTY, query.data(), size,
                                         query.data(), size, &returned, nullptr))
        return 0;
    const auto own = nvme::ReadNamespaceQuery(query, returned);
    if (!own)
        return 0;
    std::uint32_t found = 0;
    for (const std::uint32_t nsid : active) {
        const TAnswer ns =
            SendCommand(handle, nvme::IdentifyNamespace(nsid), kCommandTimeoutSeconds);
        if (!ns.Ok() || !nvme::SameNamespace(*own, ns.Returned.Data))
            continue;
        if (found != 0)
            return 0; // two alike: it cannot be told which
        found = nsid;
    }
    return found;
}

// The controller's active namespaces: its list where it keeps one (NVMe 1.1 on), else every
// id up to its count.
std::vector<std::uint32_t> ActiveNamespaces(HANDLE handle, const nvme::TController& ctl) {
    const TAnswer list =
        SendCommand(handle, nvme::IdentifyActiveNamespaces(), kCommandTimeoutSeconds);
    if (list.Ok())
        return nvme::ParseNamespaceList(list.Returned.Data);
    std::vector<std::uint32_t> ids;
    for (std::uint32_t id = 1; id <= std::min<std::uint32_t>(ctl.Namespaces, 1024); ++id)
        ids.push_back(id);
    return ids;
}

} // namespace

std::unique_ptr<TFirmwareDrive> ProbeNvme(HANDLE handle) {
    const TAnswer controller =
        SendCommand(handle, nvme::IdentifyController(), kCommandTimeoutSeconds);
    if (!controller.Ok())
        return nullptr;
    auto ctl = nvme::ParseController(controller.Returned.Data);
    if (!ctl)
        return nullptr;
    TPlace place;
    place.Active = ActiveNamespaces(handle, *ctl);
    place.Nsid = NamespaceOf(handle, place.Active);
    std::optional<nvme::TNamespace> parsed;
    if (place.Nsid != 0) {
        const TAnswer ns =
            SendCommand(handle, nvme::IdentifyNamespace(place.Nsid), kCommandTimeoutSeconds);
        if (ns.Ok())
            parsed = nvme::ParseNamespace(ns.Returned.Data);
    }
    return std::make_unique<TNvmeDrive>(handle, std::move(*ctl), std::move(place),
                                        std::move(parsed));
}

} // namespace purgelet::firmware
