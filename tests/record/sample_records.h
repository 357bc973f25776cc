// Records to draw certificates of, shared by the certificate's tests: a run of three drives
// (one failed after three questions), each field filled as a real run fills it.
#pragma once

#include "record/record.h"

#include <cstdint>
#include <string>
#include <utility>

namespace purgelet::record {

inline const std::string kDigest =
    "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08";

inline TDrive Drive(std::string model, std::string serial, std::int64_t size, std::string outcome) {
    TDrive drive;
    drive.Identity.Model = std::move(model);
    drive.Identity.Serial = std::move(serial);
    drive.Identity.Firmware = "1.0";
    drive.Identity.Bus = "SATA";
    drive.Identity.Rotational = true;
    drive.Size = size;
    drive.BlockSize = 512;
    drive.BlockCount = size / 512;
    drive.Method = "US DoD 5220.22-M (3 passes)";
    drive.Passes = {{1, "pattern", "00"}, {2, "pattern", "FF"}, {3, "random", ""}};
    drive.Verification = "last pass";
    drive.BlocksVerified = outcome == "completed" ? drive.BlockCount : 0;
    drive.Start = "2026-03-02T09:14:05+01:00";
    drive.End = "2026-03-02T10:44:26+01:00";
    drive.DurationSeconds = 5421.3;
    drive.AverageBytesPerSecond = static_cast<double>(size) * 3 / 5421.3;
    drive.Outcome = std::move(outcome);
    return drive;
}

inline TRecord Record() {
    TRecord record;
    record.Tool = {"Purgelet", "0.1", "abc1234"};
    record.Computer = {"Dell Inc.", "OptiPlex 7050", "5CG1234XYZ", "lab-pc-07",
                       "Debian GNU/Linux 12 (bookworm)"};
    record.Operator = {"Ada Example", "Three disks from the finance office"};
    record.Run.Start = "2026-03-02T09:14:01+01:00";
    record.Run.End = "2026-03-02T11:02:40+01:00";
    record.Run.Outcome = "failed";
    record.Sha256 = kDigest;
    return record;
}

// Three drives, the second failed after three questions about blocks it could not write.
inline TRecord ThreeDrives() {
    TRecord record = Record();
    record.Drives.push_back(
        Drive("WDC WD5000AAKX-00ERMA0", "WD-WCC2EWN71234", 500107862016, "completed"));
    record.Drives[0].Name = "/dev/sdb";
    TDrive failed = Drive("Samsung SSD 860 EVO 250GB", "S3Z9NB0K612345X", 250059350016, "failed");
    failed.Name = "/dev/sdc";
    failed.Identity.Rotational = false;
    failed.OutcomeText = "Writing block 1234600 failed: Input/output error";
    failed.Errors = {
        {1234567, "Block 1234567 could not be written.", "Retry", "2026-03-02T10:51:02+01:00"},
        {1234567, "Block 1234567 could not be written.", "Ignore", "2026-03-02T10:51:09+01:00"},
        {1234600, "Block 1234600 could not be written.", "Abort", "2026-03-02T10:52:44+01:00"}};
    record.Drives.push_back(failed);
    TDrive stick = Drive("SanDisk Cruzer Blade", "4C530001230915117534", 15631122432, "completed");
    stick.Name = "/dev/sdd1";
    stick.Identity.Bus = "USB";
    stick.PartitionNumber = 1;
    stick.PartitionOffset = 1048576;
    record.Drives.push_back(stick);
    return record;
}

// The same run with what an auditor asks besides the drives (NIST SP 800-88 Appendix G): the
// organisation, the operator's title, location and phone, a validator, the media's facts.
inline TRecord AuditedThreeDrives() {
    TRecord record = ThreeDrives();
    record.Organisation = {"Example Recycling Ltd", "1 Mill Lane, Leeds"};
    record.Operator.Title = "Technician";
    record.Operator.Location = "Bench 3";
    record.Operator.Phone = "+44 113 496 0000";
    record.Validator = {"Ann Checker", "Auditor"};
    record.Media = {"moderate", "no", "recycle"};
    return record;
}

} // namespace purgelet::record
