#include "sanitize/firmware_drive.h"

namespace purgelet {

namespace {

// Until the command sets are built: a device that answers no firmware command.
class TNoFirmware : public TFirmwareDrive {
public:
    TCommandSet CommandSet() const override { return TCommandSet::None; }
    std::string Model() const override { return {}; }
    TFirmwareChoice Choose(TFirmwareOperation) const override {
        TFirmwareChoice choice;
        choice.Refusal = TFirmwareRefusal::NoCommandSet;
        return choice;
    }
    TFirmwareResult Run(TFirmwareOperation, const TFirmwareObserver&) override { return {}; }
};

} // namespace

std::unique_ptr<TFirmwareDrive> ProbeFirmwareDrive(HANDLE) {
    return std::make_unique<TNoFirmware>();
}

} // namespace purgelet
