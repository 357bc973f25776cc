// An NVMe drive with two namespaces, each a disk of its own, probed from the second: the
// probe tells the namespace apart, Format NVM goes to it alone, and a command that reaches
// the other namespace (Sanitize, or a Format the drive applies to all) is chosen only for a
// run that holds the whole drive.
#include "platform/system.h"
#include "sanitize/firmware_drive.h"
#include "support/image_bytes.h"
#include "support/sim_pc.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace purgelet {
namespace {

using nlohmann::json;
using purgelet::testing::Pattern;
using testing::SimPC;
constexpr std::int64_t kDiskBytes = 16 * 16 * 63 * 512;

json WithDriver(json firmware) {
    if (!firmware.contains("driver"))
        firmware["driver"] = "vendor";
    return firmware;
}

// Disk 0 the drive's namespace 1, disk 1 its namespace 2 (the same size: only their ids tell
// them apart), both full of old data; the second open. A vendor's driver, which passes every
// command, unless the firmware names Windows' own (on Windows 10 22H2).
struct TwoNamespaces {
    explicit TwoNamespaces(json firmware)
        : pc(json{{"build", 19045},
                  {"physicalDisks",
                   {{{"image", "ns1.img"},
                     {"model", "SIM NVME"},
                     {"serial", "N1"},
                     {"firmware", WithDriver(std::move(firmware))}},
                    {{"image", "ns2.img"},
                     {"model", "SIM NVME"},
                     {"serial", "N1"},
                     {"namespaceOf", 0}}}}}) {
        pc.WriteImage("ns1.img", 0, Pattern(4096));
        pc.WriteImage("ns2.img", 0, Pattern(4096));
        handle = platform::k32().CreateFileA("\\\\.\\PhysicalDrive1", GENERIC_READ | GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             OPEN_EXISTING, 0, nullptr);
        drive = ProbeFirmwareDrive(handle);
        sentAtProbe = Received().size();
    }
    ~TwoNamespaces() { platform::k32().CloseHandle(handle); }
    std::vector<platform::sim::FirmwareDrive::Received>& Received() {
        return pc.machine().disks[0].firmware->received;
    }
    TFirmwareResult Run(TFirmwareOperation operation, TFirmwareScope scope) {
        return drive->Run(operation, scope, TFirmwareObserver{});
    }
    bool Old(const char* image) { return pc.ReadImage(image, 0, 4096) == Pattern(4096); }
    // Whether anything that erases reached the drive.
    bool Erased() {
        return std::any_of(Received().begin(), Received().end(), [](const auto& r) {
            return r.command[0] == 0x84 || r.command[0] == 0x80;
        });
    }

    SimPC pc;
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::unique_ptr<TFirmwareDrive> drive;
    std::size_t sentAtProbe = 0;
};

TEST(NvmeNamespaces, TheProbeTellsTheDisksNamespaceAndItsDrive) {
    TwoNamespaces rig({{"commandSet", "nvme"}, {"formatNvm", true}});
    ASSERT_EQ(rig.drive->CommandSet(), TCommandSet::Nvme);
    const TFirmwareUnit unit = rig.drive->Unit();
    EXPECT_EQ(unit.Namespace, 2u);
    EXPECT_EQ(unit.Active, (std::vector<std::uint32_t>{1, 2}));
    EXPECT_NE(unit.Controller.find("N1"), std::string::npos);
    EXPECT_FALSE(rig.Erased());
}

TEST(NvmeNamespaces, FormatReachesTheDisksOwnNamespaceOnly) {
    TwoNamespaces rig({{"commandSet", "nvme"}, {"formatNvm", true}, {"erasedByte", 0}});
    const TFirmwareChoice c =
        rig.drive->Choose(TFirmwareOperation::BlockErase, TFirmwareScope::Namespace);
    ASSERT_TRUE(c.Possible());
    EXPECT_EQ(c.Command, "NVMe Format NVM, user data erase (80h, SES 001b)");
    EXPECT_EQ(c.DriveNamespaces, 0u);
    EXPECT_EQ(rig.Run(TFirmwareOperation::BlockErase, TFirmwareScope::Namespace).Status,
              TFirmwareStatus::Completed);
    const auto& sent = rig.Received().back().command;
    EXPECT_EQ(sent[0], 0x80);
    EXPECT_EQ(sent[4], 0x02); // NSID 2
    EXPECT_EQ(sent[5] | sent[6] | sent[7], 0);
    EXPECT_TRUE(rig.Old("ns1.img"));
    EXPECT_EQ(rig.pc.ReadImage("ns2.img", 0, 4096), testing::Bytes(4096, 0x00));
}

TEST(NvmeNamespaces, WhatReachesTheOtherNamespaceNeedsTheWholeDrive) {
    // Sanitize is the drive's: refused for the namespace alone, nothing sent.
    {
        TwoNamespaces rig({{"commandSet", "nvme"}, {"sanitize", {"crypto", "block"}}});
        const TFirmwareChoice c =
            rig.drive->Choose(TFirmwareOperation::CryptoErase, TFirmwareScope::Namespace);
        EXPECT_EQ(c.Refusal, TFirmwareRefusal::OtherNamespaces);
        EXPECT_EQ(c.DriveNamespaces, 2u);
        EXPECT_EQ(rig.Run(TFirmwareOperation::CryptoErase, TFirmwareScope::Namespace).Status,
                  TFirmwareStatus::NotAccepted);
        EXPECT_EQ(rig.Received().size(), rig.sentAtProbe);
        EXPECT_TRUE(rig.Old("ns1.img") && rig.Old("ns2.img"));
        // The whole drive: Sanitize, which erases both.
        const TFirmwareChoice whole =
            rig.drive->Choose(TFirmwareOperation::BlockErase, TFirmwareScope::WholeDrive);
        EXPECT_EQ(whole.Command, "NVMe Sanitize, block erase (84h, SANACT 010b)");
        EXPECT_EQ(whole.DriveNamespaces, 2u);
        EXPECT_EQ(rig.Run(TFirmwareOperation::BlockErase, TFirmwareScope::WholeDrive).Status,
                  TFirmwareStatus::Completed);
        EXPECT_FALSE(rig.Old("ns1.img") || rig.Old("ns2.img"));
    }
    // A drive that formats every namespace at once (FNA bit 0), or erases them all (bit 1).
    for (const char* fna : {"formatAllNamespaces", "eraseAllNamespaces"}) {
        TwoNamespaces rig({{"commandSet", "nvme"}, {"formatNvm", true}, {fna, true}});
        EXPECT_EQ(
            rig.drive->Choose(TFirmwareOperation::BlockErase, TFirmwareScope::Namespace).Refusal,
            TFirmwareRefusal::OtherNamespaces)
            << fna;
        EXPECT_EQ(rig.Run(TFirmwareOperation::BlockErase, TFirmwareScope::Namespace).Status,
                  TFirmwareStatus::NotAccepted);
        EXPECT_FALSE(rig.Erased()) << fna;
        const TFirmwareChoice whole =
            rig.drive->Choose(TFirmwareOperation::BlockErase, TFirmwareScope::WholeDrive);
        EXPECT_EQ(whole.Command, "NVMe Format NVM, user data erase (80h, SES 001b)");
        EXPECT_EQ(whole.DriveNamespaces, 2u);
        EXPECT_EQ(rig.Run(TFirmwareOperation::BlockErase, TFirmwareScope::WholeDrive).Status,
                  TFirmwareStatus::Completed);
        EXPECT_EQ(rig.Received().back().command[4], 0xFF); // all namespaces
        EXPECT_FALSE(rig.Old("ns1.img") || rig.Old("ns2.img")) << fna;
    }
    // Sanitize where it may go beyond, else the namespace's own Format.
    TwoNamespaces both({{"commandSet", "nvme"}, {"sanitize", {"block"}}, {"formatNvm", true}});
    EXPECT_EQ(both.drive->Choose(TFirmwareOperation::BlockErase, TFirmwareScope::Namespace).Command,
              "NVMe Format NVM, user data erase (80h, SES 001b)");
}

// Windows' own driver: the namespace told apart through the property query alone (which
// hands out no active namespace list, so every id up to the drive's count is asked), the
// Sanitize through the media reinitialization for the whole drive only, and no Format NVM.
TEST(NvmeNamespaces, WindowsOwnDriverTellsTheNamespaceAndSanitizesOnlyTheWholeDrive) {
    TwoNamespaces rig({{"commandSet", "nvme"},
                       {"driver", "inbox"},
                       {"namespaces", 4},
                       {"sanitize", {"crypto"}},
                       {"formatNvm", true}});
    const TFirmwareUnit unit = rig.drive->Unit();
    EXPECT_EQ(unit.Namespace, 2u);
    EXPECT_EQ(unit.Active, (std::vector<std::uint32_t>{1, 2})); // 3 and 4 inactive
    EXPECT_EQ(rig.drive->Choose(TFirmwareOperation::BlockErase, TFirmwareScope::Namespace).Refusal,
              TFirmwareRefusal::NotThisSystem); // the Format NVM it has
    const TFirmwareChoice one =
        rig.drive->Choose(TFirmwareOperation::CryptoErase, TFirmwareScope::Namespace);
    EXPECT_EQ(one.Refusal, TFirmwareRefusal::OtherNamespaces);
    EXPECT_EQ(one.DriveNamespaces, 2u);
    EXPECT_EQ(rig.Run(TFirmwareOperation::CryptoErase, TFirmwareScope::Namespace).Status,
              TFirmwareStatus::NotAccepted);
    EXPECT_FALSE(rig.Erased());
    EXPECT_EQ(rig.Run(TFirmwareOperation::CryptoErase, TFirmwareScope::WholeDrive).Status,
              TFirmwareStatus::Completed);
    EXPECT_FALSE(rig.Old("ns1.img") || rig.Old("ns2.img"));
}

} // namespace
} // namespace purgelet
