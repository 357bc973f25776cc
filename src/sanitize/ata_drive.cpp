// An ATA drive's own erase: SANITIZE DEVICE where the drive has the operation, else the
// SECURITY ERASE UNIT sequence under a temporary password that is removed on every path the
// drive allows.
#include "platform/storage_pass_through.h"
#include "sanitize/ata.h"
#include "sanitize/firmware_run.h"

#include <algorithm>

namespace purgelet::firmware {

namespace {

struct TAnswer {
    DWORD SystemError = 0;
    ata::TTaskFile Registers;
    std::vector<std::uint8_t> Data;
    bool Aborted() const { return SystemError == 0 && (Registers.Command & ata::kStatusErr); }
    bool Ok() const { return SystemError == 0 && !Aborted(); }
};

std::string RegistersText(const ata::TTaskFile& r) {
    return "status " + Hex(r.Command, 2) + ", error " + Hex(r.Feature, 2);
}

class TAtaDrive : public TFirmwareDrive {
public:
    TAtaDrive(HANDLE handle, ata::TIdentify identify) : handle_(handle), id_(std::move(identify)) {
        if (id_.SanitizeSupported) {
            // Only the status command tells whether sanitize is frozen.
            const TAnswer status = Send(ata::SanitizeStatusExt());
            sanitizeFrozen_ =
                status.SystemError == 0 && ata::ParseSanitizeStatus(status.Registers).Frozen;
        }
    }

    TCommandSet CommandSet() const override { return TCommandSet::Ata; }
    std::string Model() const override { return id_.Model; }

    // An ATA drive is one device: every command reaches the disk and nothing else.
    TFirmwareChoice Choose(TFirmwareOperation operation, TFirmwareScope) const override {
        TFirmwareChoice c;
        const bool crypto = operation == TFirmwareOperation::CryptoErase;
        if (crypto ? id_.CryptoScramble : id_.BlockErase) {
            if (sanitizeFrozen_) {
                c.Refusal = TFirmwareRefusal::Frozen;
                return c;
            }
            c.Command = crypto ? "ATA SANITIZE CRYPTO SCRAMBLE EXT (B4h, feature 0011h)"
                               : "ATA SANITIZE BLOCK ERASE EXT (B4h, feature 0012h)";
            c.LimitSeconds = LimitFor(0); // sanitize gives no estimate
            return c;
        }
        // The fallback: enhanced security erase for a crypto erase (drives that encrypt
        // change their key for it), the normal one for a block erase.
        if (!id_.SecuritySupported || (crypto && !id_.EnhancedEraseSupported)) {
            c.Refusal = TFirmwareRefusal::Unsupported;
            return c;
        }
        if (id_.SecurityLocked || id_.SecurityCountExpired)
            c.Refusal = TFirmwareRefusal::Locked;
        else if (id_.SecurityFrozen)
            c.Refusal = TFirmwareRefusal::Frozen;
        else if (id_.SecurityEnabled)
            c.Refusal = TFirmwareRefusal::PasswordSet;
        if (!c.Possible())
            return c;
        c.EstimatedSeconds = crypto ? id_.EnhancedEraseSeconds : id_.NormalEraseSeconds;
        // ERASE UNIT returns only when the erase is done, and a request cannot wait longer
        // than the system lets it (the device is reset when it runs out, mid-erase): a drive
        // that says it needs that long is not sent it.
        if (c.EstimatedSeconds >= platform::kMaxPassThroughSeconds) {
            c.Refusal = TFirmwareRefusal::TooLong;
            return c;
        }
        c.Command = crypto ? "ATA SECURITY ERASE UNIT, enhanced (F4h)"
                           : "ATA SECURITY ERASE UNIT, normal (F4h)";
        c.LimitSeconds =
            std::min<std::uint32_t>(LimitFor(c.EstimatedSeconds), platform::kMaxPassThroughSeconds);
        return c;
    }

    TFirmwareResult Run(TFirmwareOperation operation, TFirmwareScope scope,
                        const TFirmwareObserver& observer) override {
        const TFirmwareChoice choice = Choose(operation, scope);
        TFirmwareResult result;
        result.Command = choice.Command;
        if (!choice.Possible())
            return result;
        if (choice.Command.rfind("ATA SANITIZE", 0) == 0)
            RunSanitize(operation, choice, observer, result);
        else
            RunSecurityErase(operation == TFirmwareOperation::CryptoErase, choice, observer,
                             result);
        return result;
    }

private:
    TAnswer Send(const ata::TTaskFile& command, const std::vector<std::uint8_t>& data = {},
                 std::uint32_t timeout = kCommandTimeoutSeconds) const {
        std::vector<std::uint8_t> request = ata::PackRequest(command, data, timeout);
        TAnswer a;
        a.SystemError = firmware::Send(handle_, IOCTL_ATA_PASS_THROUGH, request);
        if (a.SystemError == 0) {
            a.Registers = ata::ReturnedRegisters(request);
            if (command.Protocol == ata::TProtocol::PioIn)
                a.Data = ata::ReturnedData(request);
        }
        return a;
    }

    void RunSanitize(TFirmwareOperation operation, const TFirmwareChoice& choice,
                     const TFirmwareObserver& observer, TFirmwareResult& result) {
        const TAnswer sent =
            Send(operation == TFirmwareOperation::CryptoErase ? ata::CryptoScrambleExt()
                                                              : ata::BlockEraseExt());
        if (sent.SystemError != 0) {
            result.SystemError = sent.SystemError;
            return;
        }
        if (sent.Aborted()) {
            result.DriveStatus = "aborted: " + RegistersText(sent.Registers) + ", reason " +
                                 Hex(static_cast<std::uint32_t>(sent.Registers.Lba & 0xFF), 2);
            return;
        }
        PollUntilDone(
            [&] {
                TPollAnswer answer;
                const TAnswer status = Send(ata::SanitizeStatusExt());
                if (status.SystemError != 0) {
                    answer.SystemError = status.SystemError;
                    return answer;
                }
                const ata::TSanitizeStatus s = ata::ParseSanitizeStatus(status.Registers);
                answer.DriveStatus = "SANITIZE STATUS EXT count " + Hex(status.Registers.Count, 4) +
                                     ", " + RegistersText(status.Registers);
                if (s.Failed) {
                    answer.State = TPollAnswer::TState::Failed;
                } else if (s.InProgress) {
                    answer.Fraction = s.Progress / 65536.0;
                } else if (s.CompletedWithoutError) {
                    answer.State = TPollAnswer::TState::Completed;
                } else {
                    // Neither running nor done without error: the drive lost it.
                    answer.State = TPollAnswer::TState::Failed;
                }
                return answer;
            },
            choice.LimitSeconds, observer, result);
    }

    // SET PASSWORD, ERASE PREPARE, ERASE UNIT; the temporary password disabled again on
    // every path where the erase did not remove it.
    void RunSecurityErase(bool enhanced, const TFirmwareChoice& choice,
                          const TFirmwareObserver& observer, TFirmwareResult& result) {
        const ata::TPassword password = ata::TemporaryPassword();
        const TAnswer set = Send(ata::SecuritySetPassword(), ata::SetUserPasswordData(password));
        if (!set.Ok()) {
            result.SystemError = set.SystemError;
            if (set.Aborted())
                result.DriveStatus =
                    "SECURITY SET PASSWORD aborted: " + RegistersText(set.Registers);
            return;
        }
        result.PasswordSet = true;
        result.Password = ata::PasswordText(password);
        const TAnswer prepare = Send(ata::SecurityErasePrepare());
        if (!prepare.Ok()) {
            result.SystemError = prepare.SystemError;
            if (prepare.Aborted())
                result.DriveStatus =
                    "SECURITY ERASE PREPARE aborted: " + RegistersText(prepare.Registers);
            Disable(password, result);
            return;
        }
        RunBlockingCommand(
            [&] {
                const TAnswer erase =
                    Send(ata::SecurityEraseUnit(), ata::EraseUnitData(password, enhanced),
                         choice.LimitSeconds);
                return TBlockingAnswer{erase.SystemError, erase.Aborted(),
                                       std::string("SECURITY ERASE UNIT ") +
                                           (erase.Aborted() ? "aborted: " : "done: ") +
                                           RegistersText(erase.Registers)};
            },
            observer, result);
        if (result.Status == TFirmwareStatus::Completed) {
            // The erase removes the password; a drive that kept it has it disabled here.
            const TAnswer identify = Send(ata::IdentifyDevice());
            const auto after = identify.Ok() ? ata::ParseIdentify(identify.Data) : std::nullopt;
            if (after && !after->SecurityEnabled)
                result.PasswordRemoved = true;
            else
                Disable(password, result);
        } else {
            Disable(password, result);
        }
    }

    void Disable(const ata::TPassword& password, TFirmwareResult& result) const {
        const TAnswer disable =
            Send(ata::SecurityDisablePassword(), ata::DisablePasswordData(password));
        result.PasswordRemoved = disable.Ok();
    }

    HANDLE handle_;
    ata::TIdentify id_;
    bool sanitizeFrozen_ = false;
};

} // namespace

std::unique_ptr<TFirmwareDrive> ProbeAta(HANDLE handle) {
    std::vector<std::uint8_t> request =
        ata::PackRequest(ata::IdentifyDevice(), {}, kCommandTimeoutSeconds);
    if (Send(handle, IOCTL_ATA_PASS_THROUGH, request) != 0)
        return nullptr;
    if (ata::ReturnedRegisters(request).Command & ata::kStatusErr)
        return nullptr; // a packet device, or no ATA device at all
    auto identify = ata::ParseIdentify(ata::ReturnedData(request));
    if (!identify)
        return nullptr;
    return std::make_unique<TAtaDrive>(handle, std::move(*identify));
}

} // namespace purgelet::firmware
