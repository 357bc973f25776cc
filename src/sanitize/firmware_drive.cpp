// The probe, and what the drive classes share: the requests, the limits and the poll loop.
#include "sanitize/firmware_drive.h"

#include "platform/system.h"
#include "sanitize/firmware_run.h"

#include <algorithm>
#include <cstdio>

namespace purgelet {

namespace firmware {

DWORD Send(HANDLE handle, DWORD code, std::vector<std::uint8_t>& request) {
    DWORD returned = 0;
    const auto size = static_cast<DWORD>(request.size());
    if (platform::k32().DeviceIoControl(handle, code, request.data(), size, request.data(), size,
                                        &returned, nullptr))
        return 0;
    const DWORD error = platform::k32().GetLastError();
    return error != 0 ? error : static_cast<DWORD>(ERROR_GEN_FAILURE);
}

std::uint32_t LimitFor(std::uint32_t estimateSeconds) {
    if (estimateSeconds == 0)
        return kNoEstimateLimitSeconds;
    const std::uint64_t limit = 2ull * estimateSeconds + 300;
    // Never as long as the machine's millisecond clock takes to wrap (49.7 days): the polls
    // would not see the limit pass.
    return static_cast<std::uint32_t>(std::clamp<std::uint64_t>(limit, 600, kLongestLimitSeconds));
}

DWORD Ticks() {
    return platform::k32().GetTickCount();
}

std::uint32_t SecondsSince(DWORD startTicks) {
    return static_cast<DWORD>(Ticks() - startTicks) / 1000;
}

std::string Hex(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*Xh", digits, value);
    return text;
}

void PollUntilDone(const std::function<TPollAnswer()>& poll, std::uint32_t limitSeconds,
                   const TFirmwareObserver& observer, TFirmwareResult& result) {
    const DWORD startTicks = Ticks();
    result.Accepted = true;
    if (observer.Accepted)
        observer.Accepted();
    for (;;) {
        platform::k32().Sleep(1000);
        const TPollAnswer answer = poll();
        const std::uint32_t elapsed = SecondsSince(startTicks);
        if (answer.SystemError != 0)
            result.SystemError = answer.SystemError;
        if (!answer.DriveStatus.empty())
            result.DriveStatus = answer.DriveStatus;
        if (observer.Progress)
            observer.Progress(answer.Fraction, elapsed);
        if (answer.State == TPollAnswer::TState::Completed) {
            result.Status = TFirmwareStatus::Completed;
            return;
        }
        if (answer.State == TPollAnswer::TState::Failed) {
            result.Status = TFirmwareStatus::Failed;
            return;
        }
        if (elapsed >= limitSeconds) {
            result.Status = TFirmwareStatus::TimedOut;
            return;
        }
    }
}

void RunBlockingCommand(const std::function<TBlockingAnswer()>& send,
                        const TFirmwareObserver& observer, TFirmwareResult& result) {
    if (observer.Accepted)
        observer.Accepted();
    const DWORD start = Ticks();
    const TBlockingAnswer answer = send();
    const std::uint32_t elapsed = SecondsSince(start);
    if (answer.SystemError == ERROR_SEM_TIMEOUT) {
        result.Accepted = true;
        result.Status = TFirmwareStatus::TimedOut;
        result.SystemError = answer.SystemError;
    } else if (answer.SystemError != 0) {
        result.SystemError = answer.SystemError;
    } else {
        result.DriveStatus = answer.DriveStatus;
        if (!answer.Refused || elapsed >= kRefusalSeconds) {
            result.Accepted = true;
            result.Status = answer.Refused ? TFirmwareStatus::Failed : TFirmwareStatus::Completed;
        }
    }
    if (observer.Progress)
        observer.Progress(result.Status == TFirmwareStatus::Completed ? std::optional<double>(1.0)
                                                                      : std::nullopt,
                          elapsed);
}

} // namespace firmware

namespace {

// A device that answers no firmware command.
class TNoFirmware : public TFirmwareDrive {
public:
    TCommandSet CommandSet() const override { return TCommandSet::None; }
    std::string Model() const override { return {}; }
    TFirmwareChoice Choose(TFirmwareOperation, TFirmwareScope) const override {
        TFirmwareChoice choice;
        choice.Refusal = TFirmwareRefusal::NoCommandSet;
        return choice;
    }
    TFirmwareResult Run(TFirmwareOperation, TFirmwareScope, const TFirmwareObserver&) override {
        return {};
    }
};

} // namespace

std::unique_ptr<TFirmwareDrive> ProbeFirmwareDrive(HANDLE handle) {
    if (auto ata = firmware::ProbeAta(handle))
        return ata;
    if (auto nvme = firmware::ProbeNvme(handle))
        return nvme;
    return std::make_unique<TNoFirmware>();
}

} // namespace purgelet
