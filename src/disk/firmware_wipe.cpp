#include "disk/firmware_wipe.h"

#include "disk/disk.h"
#include "disk/transfer_buffer.h"
#include "lang/catalogue.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace purgelet {

namespace {

constexpr int kSpread = 64; // blocks spread evenly, besides the first and the last

// The words are the catalogue's, so that a language file can give them.
std::string Text(const char* key, std::vector<std::string> values = {}) {
    return FillIn(CatalogueText(key), values);
}

XFirmware Failure(const std::string& where, const std::string& why) {
    XFirmware error("TPhysicalDisk.Wipe - firmware sanitize : " + where);
    error.ErrorText = why;
    return error;
}

bool Uniform(const std::uint8_t* bytes, std::size_t count) {
    return std::all_of(bytes, bytes + count, [&](std::uint8_t b) { return b == bytes[0]; });
}

// A block of zeros or of ones holds no data to erase; any other content left as it was is
// data the drive did not reach.
bool Empty(const std::uint8_t* bytes, std::size_t count) {
    return Uniform(bytes, count) && (bytes[0] == 0x00 || bytes[0] == 0xFF);
}

// While the drive works it cannot be stopped: the disk says so to whoever wants to pause or
// abort, until the drive is done with it however it ends.
struct TBusy {
    TPhysicalDisk& disk;
    ~TBusy() { disk.SetFirmwareBusy(false); }
};

// What the disk holds before the drive's erase, the proof that the drive changed it: blocks
// spread across the disk, read as the device is open, without the system's cache (ReadBack):
// aligned.
class TSampleBefore {
public:
    explicit TSampleBefore(TPhysicalDisk& disk)
        : blocks_(SampleBlocks(disk.BlockCount)), size_(static_cast<std::size_t>(disk.BlockSize)),
          before_(std::max<std::size_t>(blocks_.size(), 1) * size_,
                  TransferAlignment(disk.BlockSize)) {
        for (std::size_t i = 0; i < blocks_.size(); ++i)
            disk.ReadBlocks(before_.data() + i * size_, 1, blocks_[i]);
    }

    // Every sampled block read again: each must have changed, or have held no data before
    // and hold none now; after a block erase whose value the drive reports, hold that value.
    void CompareAfter(TPhysicalDisk& disk, TFirmwareStep step, TFirmwareRecord& record) const {
        TTransferBuffer after(size_, TransferAlignment(disk.BlockSize));
        record.Sampled = static_cast<int>(blocks_.size());
        for (std::size_t i = 0; i < blocks_.size(); ++i) {
            disk.ReadBlocks(after.data(), 1, blocks_[i]);
            const std::uint8_t* old = before_.data() + i * size_;
            if (std::memcmp(old, after.data(), size_) != 0)
                ++record.Changed;
            else if (Empty(old, size_))
                ++record.Blank;
            else
                ++record.Unchanged;
            if (record.ErasedByte && step == TFirmwareStep::BlockErase &&
                !(Uniform(after.data(), size_) && after.data()[0] == *record.ErasedByte))
                ++record.NotErasedByte;
        }
        record.Verified = true;
    }

private:
    std::vector<std::int64_t> blocks_;
    std::size_t size_;
    TTransferBuffer before_;
};

// The owner's progress while the drive works. The drive finishes what it took whatever we
// do: an abort waits for its end, and nothing may unwind through the drive's own sequence
// (a password to remove).
class TDriveProgress {
public:
    TDriveProgress(TMessageObject& owner, std::uint32_t estimatedSeconds)
        : owner_(owner), estimatedSeconds_(estimatedSeconds) {}

    TFirmwareObserver Observer(TPhysicalDisk& disk) {
        TFirmwareObserver observer;
        observer.Accepted = [&disk] { disk.SetFirmwareBusy(true); };
        observer.Progress = [this](std::optional<double> fraction, std::uint32_t elapsed) {
            double value = 0.0;
            if (fraction)
                value = *fraction;
            else if (estimatedSeconds_ > 0)
                value = std::min(0.99, static_cast<double>(elapsed) / estimatedSeconds_);
            // Never backwards: a poll without the drive's figure (its last, as it completes)
            // falls back on the estimate, which may lie behind what the drive told before.
            owner_.Progress = std::max(owner_.Progress, std::clamp(value, 0.0, 1.0));
            Update();
        };
        return observer;
    }

    void Finish() {
        owner_.Progress = 1.0;
        Update();
    }

    // The abort asked for while the drive worked, once the step is otherwise through.
    void ThrowDeferredAbort() const {
        if (deferredAbort_)
            throw XAbort(*deferredAbort_);
    }

private:
    void Update() {
        try {
            owner_.Update();
        } catch (const XAbort& abort) {
            if (!deferredAbort_)
                deferredAbort_ = abort.what();
        } catch (...) {
        }
    }

    TMessageObject& owner_;
    std::uint32_t estimatedSeconds_;
    std::optional<std::string> deferredAbort_;
};

// The disk is busy from the drive's acceptance until the drive is done, however it ends.
TFirmwareResult SendAndWait(TPhysicalDisk& disk, TFirmwareDrive& drive,
                            TFirmwareOperation operation, TFirmwareScope scope,
                            TDriveProgress& progress) {
    const TFirmwareObserver observer = progress.Observer(disk);
    TBusy busy{disk};
    return drive.Run(operation, scope, observer);
}

// What the drive reported goes into the record before anything is thrown, so that the
// report tells what happened to a drive that failed.
void TakeResult(TFirmwareRecord& record, const TFirmwareResult& result,
                std::uint32_t limitSeconds) {
    if (!result.Command.empty())
        record.Command = result.Command;
    record.Status = result.Status;
    record.DriveStatus = result.DriveStatus;
    record.Accepted = result.Accepted;
    record.PasswordSet = result.PasswordSet;
    record.PasswordRemoved = result.PasswordRemoved;
    record.Password = result.Password;
    switch (result.Status) {
    case TFirmwareStatus::Completed:
        break;
    case TFirmwareStatus::Failed:
        throw Failure("failed", Text("FIRMWARE_FAILED", {result.DriveStatus}));
    case TFirmwareStatus::NotAccepted:
        throw Failure("not accepted", Text("FIRMWARE_NOTACCEPTED", {record.Command}));
    case TFirmwareStatus::TimedOut:
        throw Failure("timed out", Text("FIRMWARE_TIMEDOUT", {std::to_string(limitSeconds)}));
    }
}

void CheckVerification(const TFirmwareRecord& record) {
    if (record.Unchanged > 0)
        throw Failure("verification", Text("FIRMWARE_OLDDATA", {std::to_string(record.Unchanged),
                                                                std::to_string(record.Sampled)}));
    if (record.NotErasedByte > 0)
        throw Failure("verification",
                      Text("FIRMWARE_NOTERASEDBYTE",
                           {std::to_string(record.NotErasedByte), std::to_string(record.Sampled)}));
}

} // namespace

TFirmwareOperation OperationOf(TFirmwareStep step) {
    return step == TFirmwareStep::BlockErase ? TFirmwareOperation::BlockErase
                                             : TFirmwareOperation::CryptoErase;
}

TFirmwarePlan PlanFirmware(TDisk& disk, TFirmwareStep step,
                           const std::vector<std::string>& wholeDrives) {
    TFirmwarePlan plan;
    plan.Choice.Refusal = TFirmwareRefusal::NoCommandSet;
    plan.WholeDisk = dynamic_cast<TPhysicalDisk*>(&disk) != nullptr;
    if (!plan.WholeDisk || step == TFirmwareStep::None)
        return plan;
    if (const TFirmwareDrive* drive = disk.ProbedFirmware())
        plan.Choice = drive->Choose(OperationOf(step), ScopeOf(*drive, wholeDrives));
    return plan;
}

std::vector<std::int64_t> SampleBlocks(std::int64_t count) {
    std::vector<std::int64_t> blocks;
    if (count <= 0)
        return blocks;
    blocks.push_back(0);
    for (int i = 1; i <= kSpread; ++i)
        blocks.push_back(count * i / (kSpread + 1));
    blocks.push_back(count - 1);
    std::sort(blocks.begin(), blocks.end());
    blocks.erase(std::unique(blocks.begin(), blocks.end()), blocks.end());
    return blocks;
}

void RunFirmwareStep(TPhysicalDisk& disk, TWipeContext& wipe, TFirmwareDrive& drive,
                     TFirmwareStep step) {
    TMessageObject& owner = wipe.StartFigures(disk);
    const TFirmwareOperation operation = OperationOf(step);
    const TFirmwareScope scope = ScopeOf(drive, wipe.Options.WholeFirmwareDrives);
    const TFirmwareChoice choice = drive.Choose(operation, scope);
    TFirmwareRecord& record = wipe.Firmware.emplace();
    record.Command = choice.Command;
    record.ErasedByte = choice.ErasedByte;
    if (!choice.Possible())
        throw Failure("refused before sending",
                      FirmwareRefusalText(choice.Refusal, choice.DriveNamespaces));

    const TSampleBefore sample(disk);
    // Until the drive takes the command an abort stops the wipe as usual.
    owner.Update();
    TDriveProgress progress(owner, choice.EstimatedSeconds);
    TakeResult(record, SendAndWait(disk, drive, operation, scope, progress), choice.LimitSeconds);
    sample.CompareAfter(disk, step, record);
    progress.Finish();
    CheckVerification(record);
    progress.ThrowDeferredAbort();
}

std::string FirmwareRefusalText(TFirmwareRefusal refusal, std::uint32_t driveNamespaces) {
    switch (refusal) {
    case TFirmwareRefusal::None:
        break;
    case TFirmwareRefusal::NoCommandSet:
        return Text("FIRMWARE_NOCOMMANDSET");
    case TFirmwareRefusal::Unsupported:
        return Text("FIRMWARE_UNSUPPORTED");
    case TFirmwareRefusal::Frozen:
        return Text("FIRMWARE_FROZEN");
    case TFirmwareRefusal::Locked:
        return Text("FIRMWARE_LOCKED");
    case TFirmwareRefusal::PasswordSet:
        return Text("FIRMWARE_PASSWORDSET");
    case TFirmwareRefusal::TooLong:
        return Text("FIRMWARE_TOOLONG");
    case TFirmwareRefusal::OtherNamespaces:
        return Text("FIRMWARE_OTHERNAMESPACES", {std::to_string(driveNamespaces)});
    case TFirmwareRefusal::NotThisSystem:
        return Text("FIRMWARE_NOTTHISSYSTEM");
    }
    return {};
}

// ---- the whole disk's wipe

void TPhysicalDisk::Wipe(TWipeContext& wipe) {
    wipe.Firmware.reset();
    if (wipe.SendsFirmware()) {
        std::unique_ptr<TFirmwareDrive> drive = OpenedFirmware();
        if (!drive)
            throw Failure("no drive", FirmwareRefusalText(TFirmwareRefusal::NoCommandSet));
        RunFirmwareStep(*this, wipe, *drive, wipe.Method->Firmware);
        if (wipe.Method->PassCount < 1)
            return;
    }
    TRandomAccessDisk::Wipe(wipe);
}

} // namespace purgelet
