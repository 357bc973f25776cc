// The drive classes on simulated PCs with emulated ATA and NVMe drives: what they choose,
// what they send, how they follow the drive, and what they report, faults included.
#include "platform/scsi.h"
#include "platform/storage_pass_through.h"
#include "platform/system.h"
#include "sanitize/firmware_drive.h"
#include "support/image_bytes.h"
#include "support/sim_pc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

namespace purgelet {
namespace {

using nlohmann::json;
using purgelet::testing::AllAre;
using purgelet::testing::Bytes;
using purgelet::testing::LooksLikeNoise;
using purgelet::testing::Pattern;
using testing::SimPC;
constexpr std::int64_t kDiskBytes = 16 * 16 * 63 * 512;

json Machine(json firmware, int build = 2600) {
    return json{{"build", build},
                {"physicalDisks",
                 {{{"image", "d.img"}, {"model", "SIM DRIVE"}, {"firmware", std::move(firmware)}},
                  {{"image", "plain.img"}}}}};
}

// A simulated PC with one emulated drive (disk 0, old data at its start and end) open.
struct Rig {
    explicit Rig(json firmware, int build = 2600) : pc(Machine(std::move(firmware), build)) {
        pc.WriteImage("d.img", 0, Pattern(4096));
        pc.WriteImage("d.img", kDiskBytes - 4096, Pattern(4096));
        handle = platform::k32().CreateFileA("\\\\.\\PhysicalDrive0", GENERIC_READ | GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             OPEN_EXISTING, 0, nullptr);
        drive = ProbeFirmwareDrive(handle);
        sentAtProbe = Received().size();
        callsAtProbe = pc.machine().calls.size();
    }
    ~Rig() { platform::k32().CloseHandle(handle); }
    std::vector<platform::sim::FirmwareDrive::Received>& Received() {
        return pc.machine().disks[0].firmware->received;
    }
    TFirmwareResult Run(TFirmwareOperation operation) {
        TFirmwareObserver observer;
        observer.Accepted = [this] { ++accepted; };
        observer.Progress = [this](std::optional<double> fraction, std::uint32_t seconds) {
            progress.push_back(fraction);
            elapsed.push_back(seconds);
        };
        return drive->Run(operation, TFirmwareScope::Namespace, observer);
    }
    Bytes Start() { return pc.ReadImage("d.img", 0, 4096); }
    Bytes End() { return pc.ReadImage("d.img", kDiskBytes - 4096, 4096); }
    // The outcomes of the requests of one code made since the probe.
    std::vector<bool> Requests(DWORD code) {
        const auto& calls = pc.machine().calls;
        std::vector<bool> ok;
        for (std::size_t i = callsAtProbe; i < calls.size(); ++i)
            if (calls[i].name == "DeviceIoControl" && calls[i].a == code)
                ok.push_back(calls[i].ok);
        return ok;
    }

    SimPC pc;
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::unique_ptr<TFirmwareDrive> drive;
    std::size_t sentAtProbe = 0;
    std::size_t callsAtProbe = 0;
    int accepted = 0;
    std::vector<std::optional<double>> progress;
    std::vector<std::uint32_t> elapsed;
};

using Progress = std::vector<std::optional<double>>;

TEST(AtaDrive, SanitizeCryptoScrambleIsSentPolledAndCompleted) {
    Rig rig({{"commandSet", "ata"}, {"sanitize", {"crypto", "block"}}, {"securityErase", true}});
    ASSERT_EQ(rig.drive->CommandSet(), TCommandSet::Ata);
    EXPECT_EQ(rig.drive->Model(), "SIM DRIVE");
    TFirmwareChoice c =
        rig.drive->Choose(TFirmwareOperation::CryptoErase, TFirmwareScope::Namespace);
    ASSERT_TRUE(c.Possible());
    EXPECT_EQ(c.Command, "ATA SANITIZE CRYPTO SCRAMBLE EXT (B4h, feature 0011h)");
    EXPECT_EQ(c.EstimatedSeconds, 0u);
    EXPECT_EQ(c.LimitSeconds, 12u * 3600); // no estimate: the fixed limit
    EXPECT_FALSE(c.ErasedByte);
    EXPECT_EQ(rig.drive->Choose(TFirmwareOperation::BlockErase, TFirmwareScope::Namespace).Command,
              "ATA SANITIZE BLOCK ERASE EXT (B4h, feature 0012h)");

    TFirmwareResult r = rig.Run(TFirmwareOperation::CryptoErase);
    EXPECT_EQ(r.Status, TFirmwareStatus::Completed);
    EXPECT_TRUE(r.Accepted);
    EXPECT_EQ(r.Command, c.Command);
    EXPECT_FALSE(r.PasswordSet);
    EXPECT_EQ(rig.accepted, 1);
    // Three polls find it in progress (of 65536: 4000h, 8000h, C000h), the fourth done.
    EXPECT_EQ(rig.progress, (Progress{0.25, 0.5, 0.75, std::nullopt}));
    EXPECT_EQ(rig.elapsed, (std::vector<std::uint32_t>{1, 2, 3, 4}));
    EXPECT_TRUE(LooksLikeNoise(rig.Start()));
    EXPECT_TRUE(LooksLikeNoise(rig.End()));
    auto& got = rig.Received();
    ASSERT_EQ(got.size(), rig.sentAtProbe + 5);
    EXPECT_EQ(got[rig.sentAtProbe].command,
              (Bytes{0, 0, 0x43, 0, 0, 0, 0, 0, 0x11, 0, 0x70, 0x79, 0x72, 0x40, 0xB4, 0}));
    EXPECT_EQ(got.back().command, (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x40, 0xB4, 0}));
}

TEST(AtaDrive, SecurityEraseUnderATemporaryPasswordThatIsRemoved) {
    Rig rig({{"commandSet", "ata"},
             {"securityErase", true},
             {"enhancedErase", true},
             {"estimatedSeconds", 240},
             {"polls", 2}});
    TFirmwareChoice block =
        rig.drive->Choose(TFirmwareOperation::BlockErase, TFirmwareScope::Namespace);
    EXPECT_EQ(block.Command, "ATA SECURITY ERASE UNIT, normal (F4h)");
    EXPECT_EQ(block.EstimatedSeconds, 240u);
    EXPECT_EQ(block.LimitSeconds, 2u * 240 + 300);
    EXPECT_EQ(rig.drive->Choose(TFirmwareOperation::CryptoErase, TFirmwareScope::Namespace).Command,
              "ATA SECURITY ERASE UNIT, enhanced (F4h)");

    TFirmwareResult r = rig.Run(TFirmwareOperation::BlockErase);
    EXPECT_EQ(r.Status, TFirmwareStatus::Completed);
    EXPECT_TRUE(r.Accepted && r.PasswordSet && r.PasswordRemoved);
    EXPECT_EQ(rig.accepted, 1);
    EXPECT_EQ(rig.progress, (Progress{1.0}));
    EXPECT_EQ(rig.elapsed, (std::vector<std::uint32_t>{2}));
    EXPECT_TRUE(AllAre(rig.Start(), 0));
    EXPECT_TRUE(AllAre(rig.End(), 0));
    EXPECT_FALSE(rig.pc.machine().disks[0].firmware->passwordSet);
    // SET PASSWORD, ERASE PREPARE, ERASE UNIT (normal, with the same password), IDENTIFY.
    auto& got = rig.Received();
    ASSERT_EQ(got.size(), rig.sentAtProbe + 4);
    EXPECT_EQ(got[rig.sentAtProbe].command[14], 0xF1);
    EXPECT_EQ(got[rig.sentAtProbe + 1].command[14], 0xF3);
    EXPECT_EQ(got[rig.sentAtProbe + 2].command[14], 0xF4);
    EXPECT_EQ(got[rig.sentAtProbe + 2].data[0], 0x00);
    EXPECT_TRUE(std::equal(got[rig.sentAtProbe].data.begin() + 2,
                           got[rig.sentAtProbe].data.begin() + 34,
                           got[rig.sentAtProbe + 2].data.begin() + 2));
}

TEST(AtaDrive, AFailedOrEndlessSecurityEraseStillRemovesThePassword) {
    for (const char* fault : {"failure", "neverFinishes"}) {
        SCOPED_TRACE(fault);
        Rig rig({{"commandSet", "ata"}, {"securityErase", true}, {"fault", fault}});
        TFirmwareResult r = rig.Run(TFirmwareOperation::BlockErase);
        EXPECT_EQ(r.Status, std::string(fault) == "failure" ? TFirmwareStatus::Failed
                                                            : TFirmwareStatus::TimedOut);
        EXPECT_TRUE(r.Accepted && r.PasswordSet && r.PasswordRemoved);
        EXPECT_EQ(rig.Received().back().command[14], 0xF6); // DISABLE PASSWORD
        EXPECT_FALSE(rig.pc.machine().disks[0].firmware->passwordSet);
    }
}

// A drive that keeps the temporary password after its erase and refuses to disable it: the
// result says the password stays, and which it is, so that the user can unlock the drive.
TEST(AtaDrive, APasswordTheDriveKeepsIsGivenBackInWords) {
    Rig rig({{"commandSet", "ata"},
             {"securityErase", true},
             {"keepsPassword", true},
             {"refusesDisable", true}});
    TFirmwareResult r = rig.Run(TFirmwareOperation::BlockErase);
    EXPECT_EQ(r.Status, TFirmwareStatus::Completed);
    EXPECT_TRUE(r.PasswordSet);
    EXPECT_FALSE(r.PasswordRemoved);
    EXPECT_EQ(r.Password, "Purgelet temporary erase pwd");
    const auto& drive = *rig.pc.machine().disks[0].firmware;
    EXPECT_TRUE(drive.passwordSet);
    // What the user types is what the drive holds: the text, zero-filled to 32 bytes.
    std::array<std::uint8_t, 32> typed{};
    std::copy(r.Password.begin(), r.Password.end(), typed.begin());
    EXPECT_EQ(drive.password, typed);
    EXPECT_EQ(rig.Received().back().command[14], 0xF6); // DISABLE PASSWORD was tried
    EXPECT_TRUE(rig.Received().back().aborted);
}

// SECURITY ERASE UNIT returns only when the erase is done: its request never asks to wait
// longer than the system lets one, and a drive whose own estimate is longer than that is
// not sent it (the device would be reset mid-erase, its password still set).
TEST(AtaDrive, NoRequestAsksToWaitLongerThanTheSystemAllows) {
    {
        Rig rig({{"commandSet", "ata"}, {"securityErase", true}, {"estimatedSeconds", 50000}});
        const TFirmwareChoice c =
            rig.drive->Choose(TFirmwareOperation::BlockErase, TFirmwareScope::Namespace);
        ASSERT_TRUE(c.Possible());
        EXPECT_EQ(c.EstimatedSeconds, 50040u); // 417 two-minute units
        EXPECT_EQ(c.LimitSeconds, platform::kMaxPassThroughSeconds);
        TFirmwareResult r = rig.Run(TFirmwareOperation::BlockErase);
        EXPECT_EQ(r.Status, TFirmwareStatus::Completed);
        EXPECT_TRUE(AllAre(rig.Start(), 0));
        const auto& got = rig.Received();
        ASSERT_GT(got.size(), rig.sentAtProbe + 2);
        EXPECT_EQ(got[rig.sentAtProbe + 2].command[14], 0xF4);
        EXPECT_EQ(got[rig.sentAtProbe + 2].timeout, platform::kMaxPassThroughSeconds);
        for (const auto& received : got)
            EXPECT_LE(received.timeout, platform::kMaxPassThroughSeconds);
    }
    {
        Rig rig({{"commandSet", "ata"}, {"securityErase", true}, {"estimatedSeconds", 90000}});
        const TFirmwareChoice c =
            rig.drive->Choose(TFirmwareOperation::BlockErase, TFirmwareScope::Namespace);
        EXPECT_EQ(c.Refusal, TFirmwareRefusal::TooLong);
        EXPECT_TRUE(c.Command.empty());
        EXPECT_EQ(rig.Run(TFirmwareOperation::BlockErase).Status, TFirmwareStatus::NotAccepted);
        EXPECT_EQ(rig.Received().size(), rig.sentAtProbe);
        EXPECT_EQ(rig.Start(), Pattern(4096));
    }
}

TEST(AtaDrive, RefusalsSendNothing) {
    struct Case {
        json firmware;
        TFirmwareRefusal refusal;
    };
    const Case cases[] = {
        {{{"commandSet", "ata"}, {"sanitize", {"crypto"}}, {"frozen", true}},
         TFirmwareRefusal::Frozen},
        {{{"commandSet", "ata"},
          {"securityErase", true},
          {"enhancedErase", true},
          {"frozen", true}},
         TFirmwareRefusal::Frozen},
        {{{"commandSet", "ata"},
          {"securityErase", true},
          {"enhancedErase", true},
          {"locked", true}},
         TFirmwareRefusal::Locked},
        {{{"commandSet", "ata"}, {"securityErase", true}}, TFirmwareRefusal::Unsupported},
        {{{"commandSet", "ata"}, {"sanitize", {"block"}}}, TFirmwareRefusal::Unsupported},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.firmware.dump());
        Rig rig(c.firmware);
        EXPECT_EQ(
            rig.drive->Choose(TFirmwareOperation::CryptoErase, TFirmwareScope::Namespace).Refusal,
            c.refusal);
        EXPECT_TRUE(rig.drive->Choose(TFirmwareOperation::CryptoErase, TFirmwareScope::Namespace)
                        .Command.empty());
        TFirmwareResult r = rig.Run(TFirmwareOperation::CryptoErase);
        EXPECT_EQ(r.Status, TFirmwareStatus::NotAccepted);
        EXPECT_FALSE(r.Accepted);
        EXPECT_EQ(rig.accepted, 0);
        EXPECT_EQ(rig.Received().size(), rig.sentAtProbe);
        EXPECT_EQ(rig.Start(), Pattern(4096));
    }
}

TEST(AtaDrive, SanitizeFaults) {
    {
        Rig rig({{"commandSet", "ata"}, {"sanitize", {"block"}}, {"fault", "refused"}});
        TFirmwareResult r = rig.Run(TFirmwareOperation::BlockErase);
        EXPECT_EQ(r.Status, TFirmwareStatus::NotAccepted);
        EXPECT_FALSE(r.Accepted);
        EXPECT_EQ(rig.accepted, 0);
        EXPECT_NE(r.DriveStatus.find("aborted"), std::string::npos);
    }
    {
        Rig rig({{"commandSet", "ata"}, {"sanitize", {"block"}}, {"fault", "failure"}});
        TFirmwareResult r = rig.Run(TFirmwareOperation::BlockErase);
        EXPECT_EQ(r.Status, TFirmwareStatus::Failed);
        EXPECT_TRUE(r.Accepted);
        EXPECT_EQ(rig.End(), Pattern(4096)); // the drive left half of it
    }
    {
        Rig rig({{"commandSet", "ata"}, {"sanitize", {"block"}}, {"fault", "neverFinishes"}});
        const DWORD before = rig.pc.kernel().MachineTicks();
        TFirmwareResult r = rig.Run(TFirmwareOperation::BlockErase);
        EXPECT_EQ(r.Status, TFirmwareStatus::TimedOut);
        EXPECT_TRUE(r.Accepted);
        EXPECT_EQ(rig.elapsed.back(), 12u * 3600);
        EXPECT_EQ(rig.pc.kernel().MachineTicks() - before, 12u * 3600 * 1000);
    }
    {
        Rig rig({{"commandSet", "ata"}, {"sanitize", {"crypto"}}, {"fault", "lies"}});
        TFirmwareResult r = rig.Run(TFirmwareOperation::CryptoErase);
        EXPECT_EQ(r.Status, TFirmwareStatus::Completed); // verification is the caller's
        EXPECT_EQ(rig.Start(), Pattern(4096));
    }
}

// The NVMe drive behind the drivers a Windows may have: its own from 21H1 on (Identify and
// log pages by the property query, Sanitize by the media reinitialization, no Format NVM), and
// a vendor's (every command by the protocol command; the reinitialization, which it does not
// take, tried first on this Windows).
struct TDriver {
    const char* Name;
    const char* Driver;
    bool Formats;
};
void PrintTo(const TDriver& driver, std::ostream* out) {
    *out << driver.Name;
}
std::string DriverName(const ::testing::TestParamInfo<TDriver>& info) {
    return info.param.Name;
}

class NvmeDrive : public ::testing::TestWithParam<TDriver> {
protected:
    static json Nvme(json firmware) {
        firmware["commandSet"] = "nvme";
        firmware["driver"] = GetParam().Driver;
        return firmware;
    }
    static constexpr int kBuild = 19045; // Windows 10 22H2
    bool Formats() const { return GetParam().Formats; }
};

INSTANTIATE_TEST_SUITE_P(Drivers, NvmeDrive,
                         ::testing::Values(TDriver{"Inbox", "inbox", false},
                                           TDriver{"Vendor", "vendor", true}),
                         DriverName);

TEST_P(NvmeDrive, SanitizeWithTheDrivesEstimate) {
    Rig rig(Nvme({{"sanitize", {"crypto", "block"}},
                  {"polls", 1},
                  {"estimatedSeconds", 120},
                  {"erasedByte", 255}}),
            kBuild);
    ASSERT_EQ(rig.drive->CommandSet(), TCommandSet::Nvme);
    EXPECT_EQ(rig.drive->Model(), "SIM DRIVE");
    TFirmwareChoice c =
        rig.drive->Choose(TFirmwareOperation::CryptoErase, TFirmwareScope::Namespace);
    EXPECT_EQ(c.Command, "NVMe Sanitize, crypto erase (84h, SANACT 100b)");
    EXPECT_EQ(c.EstimatedSeconds, 120u);
    EXPECT_EQ(c.LimitSeconds, 600u); // the floor
    EXPECT_FALSE(c.ErasedByte);
    TFirmwareChoice b =
        rig.drive->Choose(TFirmwareOperation::BlockErase, TFirmwareScope::Namespace);
    EXPECT_EQ(b.Command, "NVMe Sanitize, block erase (84h, SANACT 010b)");
    EXPECT_EQ(b.ErasedByte, std::optional<std::uint8_t>(0xFF));

    TFirmwareResult r = rig.Run(TFirmwareOperation::BlockErase);
    EXPECT_EQ(r.Status, TFirmwareStatus::Completed);
    EXPECT_EQ(r.DriveStatus, "SSTAT 0001h");
    EXPECT_EQ(rig.accepted, 1);
    EXPECT_EQ(rig.progress, (Progress{0.5, std::nullopt}));
    EXPECT_TRUE(AllAre(rig.Start(), 0xFF));
    EXPECT_TRUE(AllAre(rig.End(), 0xFF));
    // The same command reached the drive either way: block erase, restricted completion.
    auto& sent = rig.Received()[rig.sentAtProbe].command;
    EXPECT_EQ(sent[0], 0x84);
    EXPECT_EQ(sent[40], 0x02);
    // Windows' own driver took the reinitialization and no protocol command; a vendor's
    // refused the reinitialization, and the protocol command carried the Sanitize and polls.
    EXPECT_EQ(rig.Requests(IOCTL_STORAGE_REINITIALIZE_MEDIA), (std::vector<bool>{!Formats()}));
    const std::vector<bool> sanitizeAndPolls(Formats() ? 3 : 0, true);
    EXPECT_EQ(rig.Requests(IOCTL_STORAGE_PROTOCOL_COMMAND), sanitizeAndPolls);
}

TEST_P(NvmeDrive, FormatWhereSanitizeIsMissing) {
    Rig rig(Nvme({{"formatNvm", true}, {"cryptoFormat", true}, {"polls", 2}}), kBuild);
    TFirmwareChoice c =
        rig.drive->Choose(TFirmwareOperation::CryptoErase, TFirmwareScope::Namespace);
    if (!Formats()) {
        // Windows' own driver sends no Format NVM: told before the run, nothing sent.
        EXPECT_EQ(c.Refusal, TFirmwareRefusal::NotThisSystem);
        EXPECT_TRUE(c.Command.empty());
        EXPECT_EQ(rig.Run(TFirmwareOperation::BlockErase).Status, TFirmwareStatus::NotAccepted);
        EXPECT_EQ(rig.Received().size(), rig.sentAtProbe);
        EXPECT_EQ(rig.Start(), Pattern(4096));
        return;
    }
    EXPECT_EQ(c.Command, "NVMe Format NVM, crypto erase (80h, SES 010b)");
    EXPECT_EQ(c.LimitSeconds, 12u * 3600);
    EXPECT_EQ(rig.drive->Choose(TFirmwareOperation::BlockErase, TFirmwareScope::Namespace).Command,
              "NVMe Format NVM, user data erase (80h, SES 001b)");
    TFirmwareResult r = rig.Run(TFirmwareOperation::CryptoErase);
    EXPECT_EQ(r.Status, TFirmwareStatus::Completed);
    EXPECT_TRUE(r.Accepted);
    EXPECT_EQ(rig.progress, (Progress{1.0}));
    EXPECT_EQ(rig.elapsed, (std::vector<std::uint32_t>{2}));
    EXPECT_TRUE(LooksLikeNoise(rig.Start()));
    auto& sent = rig.Received().back().command;
    EXPECT_EQ(sent[0], 0x80);
    EXPECT_EQ(sent[4], 0x01);  // the disk's namespace
    EXPECT_EQ(sent[41], 0x04); // SES 010b in CDW10 bits 11:9

    Rig noCrypto(Nvme({{"formatNvm", true}}), kBuild);
    EXPECT_EQ(
        noCrypto.drive->Choose(TFirmwareOperation::CryptoErase, TFirmwareScope::Namespace).Refusal,
        TFirmwareRefusal::Unsupported);
    EXPECT_EQ(noCrypto.Run(TFirmwareOperation::CryptoErase).Status, TFirmwareStatus::NotAccepted);
    EXPECT_EQ(noCrypto.Received().size(), noCrypto.sentAtProbe);
}

TEST_P(NvmeDrive, Faults) {
    {
        Rig rig(Nvme({{"sanitize", {"crypto"}}, {"fault", "refused"}}), kBuild);
        TFirmwareResult r = rig.Run(TFirmwareOperation::CryptoErase);
        EXPECT_EQ(r.Status, TFirmwareStatus::NotAccepted);
        EXPECT_EQ(rig.accepted, 0);
        EXPECT_EQ(rig.Start(), Pattern(4096));
    }
    if (Formats()) {
        Rig rig(Nvme({{"formatNvm", true}, {"fault", "refused"}}), kBuild);
        TFirmwareResult r = rig.Run(TFirmwareOperation::BlockErase);
        EXPECT_EQ(r.Status, TFirmwareStatus::NotAccepted); // aborted at once
        EXPECT_FALSE(r.Accepted);
    }
    {
        Rig rig(Nvme({{"sanitize", {"crypto"}}, {"fault", "failure"}}), kBuild);
        TFirmwareResult r = rig.Run(TFirmwareOperation::CryptoErase);
        EXPECT_EQ(r.Status, TFirmwareStatus::Failed);
        EXPECT_EQ(r.DriveStatus, "SSTAT 0003h");
    }
    {
        Rig rig(
            Nvme({{"sanitize", {"block"}}, {"estimatedSeconds", 1000}, {"fault", "neverFinishes"}}),
            kBuild);
        TFirmwareResult r = rig.Run(TFirmwareOperation::BlockErase);
        EXPECT_EQ(r.Status, TFirmwareStatus::TimedOut);
        EXPECT_EQ(rig.elapsed.back(), 2300u);
    }
    if (Formats()) {
        Rig rig(Nvme({{"formatNvm", true}, {"fault", "neverFinishes"}}), kBuild);
        TFirmwareResult r = rig.Run(TFirmwareOperation::BlockErase);
        EXPECT_EQ(r.Status, TFirmwareStatus::TimedOut);
        EXPECT_TRUE(r.Accepted);
    }
}

// Where Windows' own driver waits for the sanitize's end: a short one comes back done; a long
// one outlasts the request's 30 seconds, and the drive's log, which shows our sanitize running,
// has it followed to its end all the same.
TEST(NvmeDriveWindowsOwnDriver, AReinitializationThatWaitsIsFollowedWhateverItsRequestSays) {
    for (const int polls : {3, 40}) {
        Rig rig({{"commandSet", "nvme"},
                 {"sanitize", {"crypto"}},
                 {"polls", polls},
                 {"reinitializeWaits", true}},
                19045);
        const TFirmwareResult r = rig.Run(TFirmwareOperation::CryptoErase);
        EXPECT_EQ(r.Status, TFirmwareStatus::Completed) << polls;
        EXPECT_TRUE(r.Accepted);
        EXPECT_EQ(rig.accepted, 1);
        EXPECT_EQ(rig.Requests(IOCTL_STORAGE_REINITIALIZE_MEDIA), (std::vector<bool>{polls < 30}));
        EXPECT_TRUE(LooksLikeNoise(rig.Start()));
    }
}

// Before 21H1 Windows' own driver carries no Sanitize and never a Format NVM: the drive is
// still found and named, and every erase is refused as this system's, with nothing sent.
TEST(NvmeDriveOnOlderWindows, EveryEraseIsRefusedAsThisSystemsBeforeAnythingIsSent) {
    for (const int build : {2600, 19042}) {
        Rig rig({{"commandSet", "nvme"},
                 {"sanitize", {"crypto", "block"}},
                 {"formatNvm", true},
                 {"cryptoFormat", true}},
                build);
        ASSERT_EQ(rig.drive->CommandSet(), TCommandSet::Nvme) << build;
        EXPECT_EQ(rig.drive->Model(), "SIM DRIVE");
        for (const auto op : {TFirmwareOperation::CryptoErase, TFirmwareOperation::BlockErase}) {
            EXPECT_EQ(rig.drive->Choose(op, TFirmwareScope::WholeDrive).Refusal,
                      TFirmwareRefusal::NotThisSystem);
            EXPECT_EQ(rig.Run(op).Status, TFirmwareStatus::NotAccepted);
        }
        EXPECT_EQ(rig.Received().size(), rig.sentAtProbe);
        EXPECT_TRUE(rig.Requests(IOCTL_STORAGE_REINITIALIZE_MEDIA).empty());
        EXPECT_EQ(rig.Start(), Pattern(4096));
    }
}

TEST(FirmwareProbe, ADiskWithoutAnEmulatedDriveHasNoCommandSet) {
    SimPC pc(Machine({{"commandSet", "ata"}}));
    HANDLE handle = platform::k32().CreateFileA(
        "\\\\.\\PhysicalDrive1", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
        nullptr, OPEN_EXISTING, 0, nullptr);
    auto drive = ProbeFirmwareDrive(handle);
    EXPECT_EQ(drive->CommandSet(), TCommandSet::None);
    EXPECT_EQ(drive->Choose(TFirmwareOperation::BlockErase, TFirmwareScope::Namespace).Refusal,
              TFirmwareRefusal::NoCommandSet);
    EXPECT_EQ(drive->Run(TFirmwareOperation::BlockErase, TFirmwareScope::Namespace, {}).Status,
              TFirmwareStatus::NotAccepted);
    platform::k32().CloseHandle(handle);
}

} // namespace
} // namespace purgelet
