// An NVMe drive's own erase: Sanitize where the controller has the action, else Format NVM
// with its Secure Erase Setting.
#include "platform/storage_pass_through.h"
#include "sanitize/firmware_run.h"
#include "sanitize/nvme.h"

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

class TNvmeDrive : public TFirmwareDrive {
public:
    TNvmeDrive(HANDLE handle, nvme::TController controller, std::optional<nvme::TNamespace> ns)
        : handle_(handle), ctl_(std::move(controller)), ns_(std::move(ns)) {
        if (ctl_.SanitizeCrypto || ctl_.SanitizeBlock) {
            const TAnswer log = Send(nvme::GetSanitizeStatusLog());
            if (log.Ok())
                log_ = nvme::ParseSanitizeLog(log.Returned.Data);
        }
    }

    TCommandSet CommandSet() const override { return TCommandSet::Nvme; }
    std::string Model() const override { return ctl_.Model; }

    TFirmwareChoice Choose(TFirmwareOperation operation) const override {
        TFirmwareChoice c;
        const bool crypto = operation == TFirmwareOperation::CryptoErase;
        if (crypto ? ctl_.SanitizeCrypto : ctl_.SanitizeBlock) {
            c.Command = crypto ? "NVMe Sanitize, crypto erase (84h, SANACT 100b)"
                               : "NVMe Sanitize, block erase (84h, SANACT 010b)";
            if (log_)
                c.EstimatedSeconds =
                    Estimate(crypto ? log_->CryptoEraseSeconds : log_->BlockEraseSeconds);
        } else if (ctl_.FormatNvm && ns_ && (!crypto || ctl_.CryptoFormat)) {
            c.Command = crypto ? "NVMe Format NVM, crypto erase (80h, SES 010b)"
                               : "NVMe Format NVM, user data erase (80h, SES 001b)";
        } else {
            c.Refusal = TFirmwareRefusal::Unsupported;
            return c;
        }
        c.LimitSeconds = LimitFor(c.EstimatedSeconds);
        if (!crypto && ns_)
            c.ErasedByte = ns_->ErasedByte;
        return c;
    }

    TFirmwareResult Run(TFirmwareOperation operation, const TFirmwareObserver& observer) override {
        const TFirmwareChoice choice = Choose(operation);
        TFirmwareResult result;
        result.Command = choice.Command;
        if (!choice.Possible())
            return result;
        const bool crypto = operation == TFirmwareOperation::CryptoErase;
        if (choice.Command.rfind("NVMe Sanitize", 0) == 0)
            RunSanitize(crypto, choice, observer, result);
        else
            RunFormat(crypto, choice, observer, result);
        return result;
    }

private:
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
    void RunFormat(bool crypto, const TFirmwareChoice& choice, const TFirmwareObserver& observer,
                   TFirmwareResult& result) {
        const bool all = ctl_.FormatAllNamespaces || ctl_.EraseAllNamespaces;
        RunBlockingCommand(
            [&] {
                const TAnswer format =
                    Send(nvme::FormatNvm(crypto ? nvme::kSesCrypto : nvme::kSesUserData, *ns_, all),
                         choice.LimitSeconds);
                return TBlockingAnswer{format.SystemError, !format.Ok(),
                                       "Format NVM: " + format.StatusText()};
            },
            observer, result);
    }

    HANDLE handle_;
    nvme::TController ctl_;
    std::optional<nvme::TNamespace> ns_;
    std::optional<nvme::TSanitizeLog> log_;
};

} // namespace

std::unique_ptr<TFirmwareDrive> ProbeNvme(HANDLE handle) {
    const TAnswer controller =
        SendCommand(handle, nvme::IdentifyController(), kCommandTimeoutSeconds);
    if (!controller.Ok())
        return nullptr;
    auto ctl = nvme::ParseController(controller.Returned.Data);
    if (!ctl)
        return nullptr;
    const TAnswer ns =
        SendCommand(handle, nvme::IdentifyNamespace(nvme::kDiskNamespace), kCommandTimeoutSeconds);
    std::optional<nvme::TNamespace> parsed;
    if (ns.Ok())
        parsed = nvme::ParseNamespace(ns.Returned.Data);
    return std::make_unique<TNvmeDrive>(handle, std::move(*ctl), std::move(parsed));
}

} // namespace purgelet::firmware
