#include "app/run_record.h"

#include "app/options.h"
#include "app/wipe_job.h"
#include "build_info.h"
#include "disk/disk.h"
#include "lang/catalogue.h"
#include "methods/method.h"
#include "platform/system.h"
#include "record/certificate.h"
#include "record/record_file.h"

#include <algorithm>
#include <filesystem>

namespace purgelet {

namespace {

std::string YesNo(bool value) {
    return value ? "yes" : "no";
}

// Whether slot is the read-back of the pass before it: a check repeats the checked step.
bool IsVerifySlot(const method& m, std::size_t slot) {
    return slot >= 2 && slot < m.Steps.size() && m.Steps[slot] == m.Steps[slot - 1] &&
           m.Steps[slot] != nullptr && m.Steps[slot]->Check;
}

std::string FirmwareStatusWord(TFirmwareStatus status) {
    switch (status) {
    case TFirmwareStatus::Completed:
        return "completed";
    case TFirmwareStatus::Failed:
        return "failed";
    case TFirmwareStatus::TimedOut:
        return "timed out";
    case TFirmwareStatus::NotAccepted:
        break;
    }
    return "not accepted";
}

record::TFirmwareErase FirmwareErase(const TFirmwareRecord& done) {
    record::TFirmwareErase erase;
    erase.Command = done.Command;
    erase.Status = FirmwareStatusWord(done.Status);
    erase.DriveStatus = done.DriveStatus;
    if (done.Verified)
        erase.Verification =
            record::TFirmwareErase::TCheck{done.Sampled, done.Changed, done.Blank, done.Unchanged};
    if (done.PasswordSet)
        erase.Password = done.PasswordRemoved ? "removed" : "not removed";
    if (done.PasswordLeft())
        erase.PasswordLeft = done.Password;
    return erase;
}

} // namespace

std::vector<record::TPass> RecordPasses(const method& m) {
    std::vector<record::TPass> passes;
    for (std::size_t slot = 1;
         slot <= static_cast<std::size_t>(m.PassCount) && slot < m.Steps.size(); ++slot) {
        const steptype* step = m.Steps[slot];
        record::TPass pass;
        pass.Number = static_cast<int>(slot);
        if (IsVerifySlot(m, slot))
            pass.Kind = "verify";
        else if (step == nullptr)
            pass.Kind = "pattern";
        else if (step->IsRandomChars)
            pass.Kind = "random characters";
        else if (step->IsRandom)
            pass.Kind = "random";
        else {
            pass.Kind = "pattern";
            // The internal zero method writes zeros without a stored pattern.
            pass.Pattern = step->PatternLength == 0 && m.IsZeroMethod
                               ? "00"
                               : platform::HexText(step->Pattern.data(),
                                                   std::min<std::size_t>(step->PatternLength,
                                                                         step->Pattern.size()));
        }
        passes.push_back(pass);
    }
    return passes;
}

int VerifyPassCount(const method& m) {
    int count = 0;
    for (const record::TPass& pass : RecordPasses(m))
        count += pass.Kind == "verify" ? 1 : 0;
    return count;
}

std::string VerificationKind(const method& m) {
    const std::vector<record::TPass> passes = RecordPasses(m);
    int writes = 0, verified = 0;
    bool lastVerified = false;
    for (std::size_t i = 0; i < passes.size(); ++i) {
        if (passes[i].Kind == "verify")
            continue;
        ++writes;
        const bool checked = i + 1 < passes.size() && passes[i + 1].Kind == "verify";
        verified += checked ? 1 : 0;
        lastVerified = checked;
    }
    if (verified == 0)
        return "none";
    if (verified == writes)
        return "every pass";
    if (verified == 1 && lastVerified)
        return "last pass";
    return "some passes";
}

TRunRecorder::TRunRecorder(const TWipeSettings& settings) : settings_(settings) {
    record_.Tool.Version = build::Version;
    record_.Tool.BuildId = build::Id;
    if (platform::SystemInfo* info = platform::sys().sysinfo.get())
        record_.Computer = info->Computer();
    record_.Run.Start = record::IsoTimeNow();
    record_.Run.Unattended = settings.Unattended;
    auto& options = record_.Run.Options;
    options.emplace_back("method", settings.Method != nullptr ? settings.Method->Name : "");
    options.emplace_back("allowUserAbort", YesNo(settings.AllowUserAbort));
    options.emplace_back("withoutIntervention", YesNo(settings.Unattended));
    options.emplace_back("isaac", YesNo(settings.UseIsaac));
    options.emplace_back("randomSource", RandomSourceName(settings));
    options.emplace_back("verifyContent", YesNo(settings.VerifyContent));
    options.emplace_back("noBuffering", YesNo(settings.NoBuffering));
    options.emplace_back("bufferBytes", std::to_string(settings.BufferBytes));
    options.emplace_back("quickEraseDiscs", YesNo(settings.QuickEraseCDDVD));
    options.emplace_back("formatPartitions", YesNo(settings.FormatPartitions));
    options.emplace_back("reportFile", settings.GenerateReportFile ? settings.LogFileName : "");
    options.emplace_back("dodReport",
                         YesNo(settings.GenerateReportFile && settings.UseDoDLogStyle));
    options.emplace_back("appendReport", YesNo(settings.AppendLog));
}

std::string TRunRecorder::RecordPathFor(const TWipeSettings& settings) {
    if (!settings.RecordFile)
        return "";
    return (settings.LogFileName.empty() ? DefaultReportPath() : settings.LogFileName) + ".json";
}

std::size_t TRunRecorder::DriveStarting(TDisk& disk, std::size_t listIndex) {
    record::TDrive drive;
    drive.Name = DriveName(disk); // a whole disk by its device, not an internal path
    drive.Description = disk.Description;
    drive.Identity = disk.Identity;
    if (drive.Identity.Model.empty())
        drive.Identity.Model = disk.Description;
    // A partition is its disk plus its place on it; a floppy or a whole disk has none.
    if (dynamic_cast<TLogicalDisk*>(&disk) != nullptr && disk.PartitionNumber > 0) {
        drive.PartitionNumber = disk.PartitionNumber;
        drive.PartitionOffset = disk.StartingOffset;
    }
    drive.Size = disk.Size;
    drive.BlockSize = disk.BlockSize;
    drive.BlockCount = disk.BlockCount;
    if (settings_.Method != nullptr && disk.TakesMethod()) {
        drive.Method = settings_.Method->Name;
        drive.Passes = RecordPasses(*settings_.Method);
        drive.Verification = VerificationKind(*settings_.Method);
        // A whole disk's own erase reaches the blocks no overwrite can.
        if (settings_.Method->Firmware != TFirmwareStep::None &&
            dynamic_cast<TPhysicalDisk*>(&disk) != nullptr)
            drive.NistCategory = "Purge";
    } else {
        // A disc is blanked by its drive: no passes of ours, nothing read back. NIST SP 800-88
        // knows no Clear or Purge for optical media, only their destruction: the blank is
        // recorded as what it is, under no category.
        drive.Method =
            CatalogueText(settings_.QuickEraseCDDVD ? "RECORDQUICKBLANK" : "RECORDFULLBLANK");
        drive.NistCategory = "none";
        drive.Blank = settings_.QuickEraseCDDVD ? "quick" : "full";
    }
    drive.Start = record::IsoTimeNow();
    drive.Outcome = OutcomeWord(TWipeOutcome::woNone);
    record_.Drives.push_back(std::move(drive));
    listIndex_.push_back(listIndex);
    driveStartTicks_.push_back(platform::k32().GetTickCount());
    return record_.Drives.size() - 1;
}

void TRunRecorder::Question(std::size_t drive, const std::string& text,
                            std::optional<std::int64_t> block, const std::string& answer) {
    if (drive >= record_.Drives.size())
        return;
    record_.Drives[drive].Errors.push_back({block, text, answer, record::IsoTimeNow()});
}

void TRunRecorder::DriveEnded(std::size_t index, TDisk& disk, const TWipeContext& wipe,
                              const TDriveResult& result) {
    if (index >= record_.Drives.size())
        return;
    record::TDrive& drive = record_.Drives[index];
    drive.End = record::IsoTimeNow();
    const std::uint32_t elapsed = platform::k32().GetTickCount() - driveStartTicks_[index];
    drive.DurationSeconds = elapsed / 1000.0;
    const bool completed = result.Outcome == TWipeOutcome::woCompleted; // ran to its end
    // The medium the wipe found, where the drive could tell it only while open.
    if (wipe.Wiped.BlockCount > 0) {
        drive.Size = wipe.Wiped.Size;
        drive.BlockSize = wipe.Wiped.BlockSize;
        drive.BlockCount = wipe.Wiped.BlockCount;
    }
    // A block given up unwritten may still hold old data: the drive is not proven erased.
    const TWipeOutcome erasure = ErasureOutcome(result);
    drive.Outcome = OutcomeWord(erasure);
    drive.OutcomeText = erasure == result.Outcome
                            ? result.Error
                            : FillIn(CatalogueText("RECORDBLOCKSPASSEDOVER"),
                                     {std::to_string(result.BlocksPassedOver)});
    // Only a wipe that ran to its end is known to have read back every block and to have
    // moved every pass's bytes; a broken-off one claims nothing it cannot show.
    if (completed && settings_.Method != nullptr && disk.TakesMethod()) {
        drive.BlocksVerified = VerifyPassCount(*settings_.Method) * drive.BlockCount;
        if (elapsed > 0)
            drive.AverageBytesPerSecond =
                static_cast<double>(drive.Size) * settings_.Method->PassCount / (elapsed / 1000.0);
    }
    drive.VerifiedByContent = settings_.VerifyContent && drive.Verification != "none";
    drive.DifferingBlocks = wipe.Differing;
    drive.DifferingBlockCount = wipe.DifferingCount;
    drive.Formatted = completed && FormatsAfterWipe(disk, settings_);
    if (wipe.Firmware)
        drive.Firmware = FirmwareErase(*wipe.Firmware);
    // The category of what was achieved: nothing for a drive not proven erased; Purge only
    // where the drive's own erase completed, else the overwrite's Clear.
    if (erasure != TWipeOutcome::woCompleted)
        drive.NistCategory = "none";
    else if (drive.NistCategory == "Purge" &&
             (!drive.Firmware || drive.Firmware->Status != "completed"))
        drive.NistCategory = "Clear";
}

std::vector<std::string> TRunRecorder::Finish(TWipeOutcome outcome, const std::string& person,
                                              const std::string& media) {
    record_.Run.End = record::IsoTimeNow();
    record_.Run.Outcome = OutcomeWord(outcome);
    // In the run's order: drives wiped at once were reached in the order they started.
    std::vector<std::size_t> order(record_.Drives.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [this](std::size_t a, std::size_t b) {
        return listIndex_[a] < listIndex_[b];
    });
    std::vector<record::TDrive> drives;
    drives.reserve(order.size());
    for (std::size_t i : order)
        drives.push_back(std::move(record_.Drives[i]));
    record_.Drives = std::move(drives);
    listIndex_.clear();
    driveStartTicks_.clear();
    return Write(person, media, true);
}

std::vector<std::string>
TRunRecorder::Refuse(const std::string& reason,
                     const std::vector<std::pair<TDisk*, std::string>>& drives,
                     const std::string& person, const std::string& media) {
    for (const auto& [disk, why] : drives) {
        const std::size_t index = DriveStarting(*disk, listIndex_.size());
        record::TDrive& drive = record_.Drives[index];
        drive.Start.clear(); // never started
        drive.Outcome = OutcomeWord(TWipeOutcome::woNone);
        drive.OutcomeText = why;
    }
    listIndex_.clear();
    driveStartTicks_.clear();
    record_.Run.End = record::IsoTimeNow();
    record_.Run.Outcome = "refused";
    record_.Run.OutcomeText = reason;
    return Write(person, media, false);
}

std::vector<std::string> TRunRecorder::Write(const std::string& person, const std::string& media,
                                             bool certificate) {
    std::vector<std::string> problems;
    // The DoD report's answers where it asked, else what the settings say.
    const record::TAttestation& given = settings_.Attestation;
    record_.Organisation = given.Organisation;
    record_.Operator = given.Operator;
    if (!person.empty())
        record_.Operator.Person = person;
    if (!media.empty())
        record_.Operator.Media = media;
    record_.Validator = given.Validator;
    record_.Media = ValidMediaFacts(given.Media);
    const std::string path = RecordPathFor(settings_);
    if (path.empty())
        return problems;
    const std::string folder = std::filesystem::path(path).parent_path().string();
    // From the chain's head to the last file written, no other run may write to the folder.
    std::string why;
    const record::TRecordFolderLock lock(folder, why);
    if (!lock.Held()) {
        problems.push_back(FillIn(CatalogueText("RECORDNOTWRITTEN"), {path, why}));
        return problems;
    }
    record_.PreviousSha256 = record::ChainHead(folder.empty() ? "." : folder);
    record::Seal(record_);
    std::string writtenTo;
    if (!record::WriteRecordFile(path, record_, settings_.AppendLog, writtenTo, why)) {
        problems.push_back(FillIn(CatalogueText("RECORDNOTWRITTEN"), {path, why}));
        return problems;
    }
    recordFile_ = writtenTo;
    if (!certificate || !settings_.Certificate)
        return problems;
    // The certificate is named after the record it draws, at the first free name: it never
    // replaces an earlier run's.
    const std::string pdf = record::FreeName(writtenTo.substr(0, writtenTo.size() - 5), ".pdf");
    const bool letter =
        platform::sys().sysinfo != nullptr && platform::sys().sysinfo->LetterPaper();
    if (pdf.empty())
        why = "no free name beside " + writtenTo;
    // A logo that cannot be read costs the certificate its picture, not the certificate.
    std::string logo = settings_.CertificateLogo;
    std::string logoWhy;
    if (!pdf.empty() && !logo.empty() && !record::LogoReadable(logo, logoWhy)) {
        problems.push_back(FillIn(CatalogueText("CERTIFICATELOGO"), {logo, logoWhy}));
        logo.clear();
    }
    if (!pdf.empty() &&
        record::WriteCertificate(record_, pdf, letter ? record::TPaper::Letter : record::TPaper::A4,
                                 why, false, logo))
        certificateFile_ = pdf;
    else
        problems.push_back(
            FillIn(CatalogueText("CERTIFICATENOTWRITTEN"), {pdf.empty() ? writtenTo : pdf, why}));
    return problems;
}

} // namespace purgelet
