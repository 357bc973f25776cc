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
    TMessageObject& owner = wipe.Messages();
    owner.Disk = &disk;
    owner.Wipe = &wipe;
    owner.Progress = 0.0;
    owner.Flag = 0;
    owner.Pass = 0;
    owner.PassCount = 0;
    owner.Verifying = false;
    const TFirmwareOperation operation = OperationOf(step);
    const TFirmwareScope scope = ScopeOf(drive, wipe.Options.WholeFirmwareDrives);
    const TFirmwareChoice choice = drive.Choose(operation, scope);
    TFirmwareRecord& record = wipe.Firmware.emplace();
    record.Command = choice.Command;
    record.ErasedByte = choice.ErasedByte;
    if (!choice.Possible())
        throw Failure("refused before sending",
                      FirmwareRefusalText(choice.Refusal, choice.DriveNamespaces));

    // What the disk holds before: the proof that the drive changed it.
    const std::vector<std::int64_t> blocks = SampleBlocks(disk.BlockCount);
    const std::size_t size = static_cast<std::size_t>(disk.BlockSize);
    // Read as the device is open, without the system's cache (ReadBack): aligned.
    TTransferBuffer before(std::max<std::size_t>(blocks.size(), 1) * size,
                           TransferAlignment(disk.BlockSize));
    for (std::size_t i = 0; i < blocks.size(); ++i)
        disk.ReadBlocks(before.data() + i * size, 1, blocks[i]);

    // Until the drive takes the command an abort stops the wipe as usual.
    owner.Update();

    std::optional<std::string> deferredAbort;
    const auto update = [&] {
        // The drive finishes what it took whatever we do: an abort waits for its end, and
        // nothing may unwind through the drive's own sequence (a password to remove).
        try {
            owner.Update();
        } catch (const XAbort& abort) {
            if (!deferredAbort)
                deferredAbort = abort.what();
        } catch (...) {
        }
    };
    TFirmwareObserver observer;
    observer.Accepted = [&disk] { disk.SetFirmwareBusy(true); };
    observer.Progress = [&](std::optional<double> fraction, std::uint32_t elapsed) {
        double value = 0.0;
        if (fraction)
            value = *fraction;
        else if (choice.EstimatedSeconds > 0)
            value = std::min(0.99, static_cast<double>(elapsed) / choice.EstimatedSeconds);
        // Never backwards: a poll without the drive's figure (its last, as it completes) falls
        // back on the estimate, which may lie behind what the drive told before.
        owner.Progress = std::max(owner.Progress, std::clamp(value, 0.0, 1.0));
        update();
    };
    TFirmwareResult result;
    {
        TBusy busy{disk};
        result = drive.Run(operation, scope, observer);
    }
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
        throw Failure("timed out",
                      Text("FIRMWARE_TIMEDOUT", {std::to_string(choice.LimitSeconds)}));
    }

    // Every sampled block read again: each must have changed, or have held no data before
    // and hold none now; after a block erase whose value the drive reports, hold that value.
    TTransferBuffer after(size, TransferAlignment(disk.BlockSize));
    record.Sampled = static_cast<int>(blocks.size());
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        disk.ReadBlocks(after.data(), 1, blocks[i]);
        const std::uint8_t* old = before.data() + i * size;
        if (std::memcmp(old, after.data(), size) != 0)
            ++record.Changed;
        else if (Empty(old, size))
            ++record.Blank;
        else
            ++record.Unchanged;
        if (record.ErasedByte && step == TFirmwareStep::BlockErase &&
            !(Uniform(after.data(), size) && after.data()[0] == *record.ErasedByte))
            ++record.NotErasedByte;
    }
    record.Verified = true;
    owner.Progress = 1.0;
    update();
    if (record.Unchanged > 0)
        throw Failure("verification", Text("FIRMWARE_OLDDATA", {std::to_string(record.Unchanged),
                                                                std::to_string(record.Sampled)}));
    if (record.NotErasedByte > 0)
        throw Failure("verification",
                      Text("FIRMWARE_NOTERASEDBYTE",
                           {std::to_string(record.NotErasedByte), std::to_string(record.Sampled)}));
    if (deferredAbort)
        throw XAbort(*deferredAbort);
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
