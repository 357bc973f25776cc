// The emulated ATA and NVMe drives of the simulated PC answer their pass-through requests as
// real drives do: identify data, a sanitize in progress for its polls and then the media as
// the operation says, the security state, the faults, and requests a drive refuses.
#include "platform/sim/kernel32.h"
#include "platform/storage_pass_through.h"
#include "platform/system.h"
#include "sanitize/ata.h"
#include "sanitize/nvme.h"
#include "support/image_bytes.h"
#include "support/sim_pc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

namespace {

using nlohmann::json;
using purgelet::testing::SimPC;
namespace ata = purgelet::ata;
namespace nvme = purgelet::nvme;
using purgelet::testing::AllAre;
using purgelet::testing::Bytes;
using purgelet::testing::LooksLikeNoise;
using purgelet::testing::Pattern;
constexpr std::int64_t kDiskBytes = 16 * 16 * 63 * 512;

json Disk(const std::string& image, json firmware) {
    return {{"image", image}, {"model", "SIM " + image}, {"firmware", std::move(firmware)}};
}

class Device {
public:
    explicit Device(const char* name) {
        handle_ = platform::k32().CreateFileA(name, GENERIC_READ | GENERIC_WRITE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, 0, nullptr);
    }
    ~Device() {
        if (handle_ != INVALID_HANDLE_VALUE)
            platform::k32().CloseHandle(handle_);
    }
    // Sends a request in place; the system's error, 0 when it went through.
    DWORD Send(DWORD code, Bytes& request) {
        DWORD returned = 0;
        const auto size = static_cast<DWORD>(request.size());
        if (platform::k32().DeviceIoControl(handle_, code, request.data(), size, request.data(),
                                            size, &returned, nullptr))
            return 0;
        return platform::k32().GetLastError();
    }
    ata::TTaskFile Ata(const ata::TTaskFile& command, const Bytes& data = {}, Bytes* in = nullptr,
                       DWORD* error = nullptr) {
        Bytes request = ata::PackRequest(command, data, 60);
        const DWORD e = Send(IOCTL_ATA_PASS_THROUGH, request);
        if (error)
            *error = e;
        if (in)
            *in = ata::ReturnedData(request);
        return ata::ReturnedRegisters(request);
    }
    nvme::TReturned Nvme(const nvme::TCommand& command, DWORD* error = nullptr) {
        Bytes request = nvme::PackRequest(command, 60);
        const DWORD e = Send(IOCTL_STORAGE_PROTOCOL_COMMAND, request);
        if (error)
            *error = e;
        return nvme::ReadReturned(request);
    }
    // A protocol-data query (adapter or device) for command's data: the system's error, 0 and
    // the data when it went through.
    DWORD Query(const nvme::TCommand& command, bool ownNamespace, Bytes* data) {
        Bytes query = *nvme::PackQuery(command, ownNamespace);
        DWORD returned = 0;
        const auto size = static_cast<DWORD>(query.size());
        if (!platform::k32().DeviceIoControl(handle_, IOCTL_STORAGE_QUERY_PROPERTY, query.data(),
                                             size, query.data(), size, &returned, nullptr))
            return platform::k32().GetLastError();
        *data = nvme::ReadQuery(query, returned, command.DataLength).value_or(Bytes{});
        return 0;
    }
    DWORD Reinitialize(Bytes request) {
        DWORD returned = 0;
        if (platform::k32().DeviceIoControl(handle_, IOCTL_STORAGE_REINITIALIZE_MEDIA,
                                            request.data(), static_cast<DWORD>(request.size()),
                                            nullptr, 0, &returned, nullptr))
            return 0;
        return platform::k32().GetLastError();
    }
    HANDLE handle() const { return handle_; }

private:
    HANDLE handle_;
};

bool Aborted(const ata::TTaskFile& r) {
    return (r.Command & 0x01) && (r.Feature & 0x04);
}

json DocumentedFirmwareMachine() {
    std::ifstream doc(std::string(PURGELET_SOURCE_DIR) + "/docs/machine-file.md");
    std::string text((std::istreambuf_iterator<char>(doc)), std::istreambuf_iterator<char>());
    auto section = text.find("## The drive's own erase");
    auto start = text.find("```json\n", section);
    if (section == std::string::npos || start == std::string::npos)
        return json();
    start += 8;
    return json::parse(text.substr(start, text.find("```", start) - start));
}

TEST(SimFirmware, TheDocumentedDrivesIdentifyThemselves) {
    json file = DocumentedFirmwareMachine();
    ASSERT_TRUE(file.is_object());
    SimPC pc(file);
    Device ssd("\\\\.\\PhysicalDrive0");
    Bytes data;
    ata::TTaskFile r = ssd.Ata(ata::IdentifyDevice(), {}, &data);
    EXPECT_EQ(r.Command, 0x50);
    auto id = ata::ParseIdentify(data);
    ASSERT_TRUE(id);
    EXPECT_EQ(id->Model, "SIM SATA SSD 860");
    EXPECT_TRUE(id->CryptoScramble && id->BlockErase && id->EnhancedEraseSupported);
    EXPECT_EQ(id->NormalEraseSeconds, 240u);
    std::uint8_t sum = 0;
    for (auto b : data)
        sum = static_cast<std::uint8_t>(sum + b);
    EXPECT_EQ(sum, 0); // the integrity word

    Device drive(pc.machine().disks[1].devicePath.c_str()); // the device path opens it too
    auto c = drive.Nvme(nvme::IdentifyController());
    ASSERT_TRUE(c.Success());
    auto ctl = nvme::ParseController(c.Data);
    ASSERT_TRUE(ctl);
    EXPECT_EQ(ctl->Model, "SIM NVME 970");
    EXPECT_TRUE(ctl->SanitizeCrypto && ctl->SanitizeBlock && ctl->FormatNvm && ctl->CryptoFormat);
    auto ns = nvme::ParseNamespace(drive.Nvme(nvme::IdentifyNamespace(1)).Data);
    ASSERT_TRUE(ns);
    EXPECT_EQ(ns->Size, static_cast<std::uint64_t>(kDiskBytes / 512));
    EXPECT_EQ(ns->ErasedByte, std::optional<std::uint8_t>(0));
    auto log = nvme::ParseSanitizeLog(drive.Nvme(nvme::GetSanitizeStatusLog()).Data);
    ASSERT_TRUE(log);
    EXPECT_TRUE(log->NeverSanitized());
    EXPECT_EQ(log->BlockEraseSeconds, 120u);
}

TEST(SimFirmware, OnlyAWholeDiskWithAnEmulatedDriveAnswers) {
    SimPC pc(
        json{{"physicalDisks",
              {Disk("a.img", {{"commandSet", "ata"}, {"sanitize", {"block"}}}),
               {{"image", "plain.img"}}}},
             {"drives", {{{"letter", "C"}, {"disk", 0}, {"offset", 32256}, {"length", 1048576}}}}});
    DWORD error = 0;
    Device volume("\\\\.\\C:");
    volume.Ata(ata::IdentifyDevice(), {}, nullptr, &error);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    Device plain("\\\\.\\PhysicalDrive1");
    plain.Ata(ata::IdentifyDevice(), {}, nullptr, &error);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    Device disk("\\\\.\\PhysicalDrive0");
    disk.Nvme(nvme::IdentifyController(), &error);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_FUNCTION)); // no NVMe driver on it
    // A request whose header lies about its size.
    Bytes request = ata::PackRequest(ata::IdentifyDevice(), {}, 10);
    request[0] = 12;
    EXPECT_EQ(disk.Send(IOCTL_ATA_PASS_THROUGH, request),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    // Unknown commands, a wrong key, an unsupported operation, a data size off: aborted.
    ata::TTaskFile unknown = ata::SecurityErasePrepare();
    unknown.Command = 0xC8;
    EXPECT_TRUE(Aborted(disk.Ata(unknown)));
    ata::TTaskFile wrongKey = ata::BlockEraseExt();
    wrongKey.Lba = 0x426B4573;
    EXPECT_TRUE(Aborted(disk.Ata(wrongKey)));
    EXPECT_TRUE(Aborted(disk.Ata(ata::CryptoScrambleExt())));
    EXPECT_TRUE(Aborted(disk.Ata(ata::SecurityErasePrepare()))); // no security feature set
    EXPECT_EQ(pc.machine().disks[0].firmware->received.size(), 4u);
}

TEST(SimFirmware, AtaSanitizeIsInProgressForItsPollsThenTheMediaChanges) {
    SimPC pc(json{
        {"physicalDisks",
         {Disk("a.img", {{"commandSet", "ata"}, {"sanitize", {"crypto", "block"}}, {"polls", 3}}),
          Disk("b.img", {{"commandSet", "ata"}, {"sanitize", {"block"}}, {"polls", 1}})}}});
    pc.WriteImage("a.img", 0, Pattern(4096));
    pc.WriteImage("a.img", kDiskBytes - 4096, Pattern(4096));
    Device disk("\\\\.\\PhysicalDrive0");
    ata::TTaskFile r = disk.Ata(ata::CryptoScrambleExt());
    EXPECT_EQ(r.Command, 0x50);
    EXPECT_EQ(pc.machine().disks[0].firmware->received.back().command,
              (Bytes{0, 0, 0x43, 0, 0, 0, 0, 0, 0x11, 0, 0x70, 0x79, 0x72, 0x40, 0xB4, 0}));
    for (std::uint16_t expected : {16384, 32768, 49152}) {
        EXPECT_EQ(pc.ReadImage("a.img", 0, 4096), Pattern(4096)); // old data while in progress
        EXPECT_TRUE(Aborted(disk.Ata(ata::BlockEraseExt())));     // one at a time
        ata::TSanitizeStatus s = ata::ParseSanitizeStatus(disk.Ata(ata::SanitizeStatusExt()));
        EXPECT_TRUE(s.InProgress);
        EXPECT_EQ(s.Progress, expected);
    }
    EXPECT_TRUE(LooksLikeNoise(pc.ReadImage("a.img", 0, 4096)));
    EXPECT_NE(pc.ReadImage("a.img", kDiskBytes - 4096, 4096), Pattern(4096));
    ata::TSanitizeStatus s = ata::ParseSanitizeStatus(disk.Ata(ata::SanitizeStatusExt()));
    EXPECT_TRUE(s.CompletedWithoutError);
    EXPECT_FALSE(s.InProgress || s.Failed);

    pc.WriteImage("b.img", 0, Pattern(4096));
    Device other("\\\\.\\PhysicalDrive1");
    other.Ata(ata::BlockEraseExt());
    EXPECT_TRUE(ata::ParseSanitizeStatus(other.Ata(ata::SanitizeStatusExt())).InProgress);
    EXPECT_TRUE(AllAre(pc.ReadImage("b.img", 0, 4096), 0));
    EXPECT_TRUE(AllAre(pc.ReadImage("b.img", kDiskBytes - 512, 512), 0));
}

TEST(SimFirmware, AtaFaultsFrozenAndFailures) {
    SimPC pc(json{
        {"physicalDisks",
         {Disk("frozen.img", {{"commandSet", "ata"},
                              {"sanitize", {"block"}},
                              {"securityErase", true},
                              {"frozen", true}}),
          Disk(
              "fail.img",
              {{"commandSet", "ata"}, {"sanitize", {"block"}}, {"polls", 1}, {"fault", "failure"}}),
          Disk("never.img",
               {{"commandSet", "ata"}, {"sanitize", {"block"}}, {"fault", "neverFinishes"}}),
          Disk("lies.img",
               {{"commandSet", "ata"}, {"sanitize", {"crypto"}}, {"polls", 0}, {"fault", "lies"}}),
          Disk("refused.img",
               {{"commandSet", "ata"}, {"sanitize", {"crypto"}}, {"fault", "refused"}})}}});
    Device frozen("\\\\.\\PhysicalDrive0");
    ata::TTaskFile r = frozen.Ata(ata::BlockEraseExt());
    EXPECT_TRUE(Aborted(r));
    EXPECT_EQ(r.Lba & 0xFF, 3u); // the frozen reason
    EXPECT_TRUE(ata::ParseSanitizeStatus(frozen.Ata(ata::SanitizeStatusExt())).Frozen);
    EXPECT_TRUE(Aborted(frozen.Ata(ata::SecuritySetPassword(),
                                   ata::SetUserPasswordData(ata::TemporaryPassword()))));

    pc.WriteImage("fail.img", 0, Pattern(512));
    pc.WriteImage("fail.img", kDiskBytes - 512, Pattern(512));
    Device fail("\\\\.\\PhysicalDrive1");
    EXPECT_FALSE(Aborted(fail.Ata(ata::BlockEraseExt())));
    fail.Ata(ata::SanitizeStatusExt());
    ata::TSanitizeStatus s = ata::ParseSanitizeStatus(fail.Ata(ata::SanitizeStatusExt()));
    EXPECT_TRUE(s.Failed);
    EXPECT_EQ(s.Reason, 1);
    EXPECT_TRUE(AllAre(pc.ReadImage("fail.img", 0, 512), 0));                 // first half erased
    EXPECT_EQ(pc.ReadImage("fail.img", kDiskBytes - 512, 512), Pattern(512)); // not the rest

    Device never("\\\\.\\PhysicalDrive2");
    never.Ata(ata::BlockEraseExt());
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(ata::ParseSanitizeStatus(never.Ata(ata::SanitizeStatusExt())).InProgress);

    pc.WriteImage("lies.img", 0, Pattern(512));
    Device lies("\\\\.\\PhysicalDrive3");
    lies.Ata(ata::CryptoScrambleExt());
    EXPECT_TRUE(ata::ParseSanitizeStatus(lies.Ata(ata::SanitizeStatusExt())).CompletedWithoutError);
    EXPECT_EQ(pc.ReadImage("lies.img", 0, 512), Pattern(512));

    Device refused("\\\\.\\PhysicalDrive4");
    EXPECT_TRUE(Aborted(refused.Ata(ata::CryptoScrambleExt())));
    EXPECT_FALSE(ata::ParseSanitizeStatus(refused.Ata(ata::SanitizeStatusExt())).InProgress);
}

TEST(SimFirmware, AtaSecurityStateBehavesAsTheDrives) {
    SimPC pc(json{{"physicalDisks",
                   {Disk("a.img", {{"commandSet", "ata"},
                                   {"securityErase", true},
                                   {"enhancedErase", true},
                                   {"polls", 5}}),
                    Disk("locked.img",
                         {{"commandSet", "ata"}, {"securityErase", true}, {"locked", true}})}}});
    pc.WriteImage("a.img", 0, Pattern(4096));
    Device disk("\\\\.\\PhysicalDrive0");
    const auto pwd = ata::TemporaryPassword();
    auto other = pwd;
    other[0] ^= 1;
    auto security = [&] {
        Bytes data;
        disk.Ata(ata::IdentifyDevice(), {}, &data);
        return *ata::ParseIdentify(data);
    };
    EXPECT_FALSE(security().SecurityEnabled);
    EXPECT_FALSE(Aborted(disk.Ata(ata::SecuritySetPassword(), ata::SetUserPasswordData(pwd))));
    EXPECT_TRUE(security().SecurityEnabled);
    // ERASE UNIT needs PREPARE just before and the password.
    EXPECT_TRUE(Aborted(disk.Ata(ata::SecurityEraseUnit(), ata::EraseUnitData(pwd, true))));
    disk.Ata(ata::SecurityErasePrepare());
    EXPECT_TRUE(Aborted(disk.Ata(ata::SecurityEraseUnit(), ata::EraseUnitData(other, true))));
    EXPECT_TRUE(Aborted(disk.Ata(ata::SecurityDisablePassword(), ata::DisablePasswordData(other))));
    auto& kernel = pc.kernel();
    const DWORD before = kernel.MachineTicks();
    disk.Ata(ata::SecurityErasePrepare());
    EXPECT_FALSE(Aborted(disk.Ata(ata::SecurityEraseUnit(), ata::EraseUnitData(pwd, true))));
    EXPECT_EQ(kernel.MachineTicks() - before, 5000u); // the drive worked for five seconds
    EXPECT_TRUE(LooksLikeNoise(pc.ReadImage("a.img", 0, 4096))); // enhanced: noise
    EXPECT_FALSE(security().SecurityEnabled);                    // the erase removed the password

    disk.Ata(ata::SecuritySetPassword(), ata::SetUserPasswordData(pwd));
    EXPECT_FALSE(Aborted(disk.Ata(ata::SecurityDisablePassword(), ata::DisablePasswordData(pwd))));
    EXPECT_FALSE(security().SecurityEnabled);

    Device locked("\\\\.\\PhysicalDrive1");
    Bytes data;
    locked.Ata(ata::IdentifyDevice(), {}, &data);
    EXPECT_TRUE(ata::ParseIdentify(data)->SecurityLocked);
    EXPECT_TRUE(Aborted(locked.Ata(ata::SecuritySetPassword(), ata::SetUserPasswordData(pwd))));
    EXPECT_TRUE(Aborted(locked.Ata(ata::SecurityDisablePassword(), ata::DisablePasswordData(pwd))));
}

TEST(SimFirmware, NvmeSanitizeAndFormat) {
    SimPC pc(json{{"physicalDisks",
                   {Disk("n.img", {{"commandSet", "nvme"},
                                   {"driver", "vendor"},
                                   {"sanitize", {"block"}},
                                   {"polls", 2},
                                   {"erasedByte", 255}}),
                    Disk("f.img", {{"commandSet", "nvme"},
                                   {"driver", "vendor"},
                                   {"formatNvm", true},
                                   {"cryptoFormat", true},
                                   {"polls", 2}}),
                    Disk("r.img", {{"commandSet", "nvme"},
                                   {"driver", "vendor"},
                                   {"sanitize", {"crypto"}},
                                   {"formatNvm", true},
                                   {"fault", "refused"}})}}});
    pc.WriteImage("n.img", 0, Pattern(4096));
    Device disk("\\\\.\\PhysicalDrive0");
    EXPECT_EQ(disk.Nvme(nvme::Sanitize(nvme::kSanactCryptoErase)).ErrorCode, 0x002u); // unsupported
    EXPECT_TRUE(disk.Nvme(nvme::Sanitize(nvme::kSanactBlockErase)).Success());
    EXPECT_EQ(disk.Nvme(nvme::Sanitize(nvme::kSanactBlockErase)).ErrorCode, 0x01Du); // in progress
    for (std::uint16_t sprog : {21845, 43690}) {
        EXPECT_EQ(pc.ReadImage("n.img", 0, 4096), Pattern(4096));
        auto log = nvme::ParseSanitizeLog(disk.Nvme(nvme::GetSanitizeStatusLog()).Data);
        EXPECT_TRUE(log->InProgress());
        EXPECT_EQ(log->Sprog, sprog);
    }
    EXPECT_TRUE(AllAre(pc.ReadImage("n.img", 0, 4096), 0xFF));
    EXPECT_TRUE(nvme::ParseSanitizeLog(disk.Nvme(nvme::GetSanitizeStatusLog()).Data)->Completed());
    nvme::TCommand unknown = nvme::IdentifyController();
    unknown.Opcode = 0x7F;
    EXPECT_EQ(disk.Nvme(unknown).ErrorCode, 0x001u);
    EXPECT_EQ(disk.Nvme(nvme::FormatNvm(nvme::kSesUserData, {}, 1)).ErrorCode, 0x001u);

    pc.WriteImage("f.img", 0, Pattern(4096));
    Device format("\\\\.\\PhysicalDrive1");
    nvme::TNamespace ns = *nvme::ParseNamespace(format.Nvme(nvme::IdentifyNamespace(1)).Data);
    nvme::TNamespace otherFormat = ns;
    otherFormat.Flbas = 1;
    EXPECT_EQ(format.Nvme(nvme::FormatNvm(nvme::kSesCrypto, otherFormat, 1)).ErrorCode, 0x10Au);
    const DWORD before = pc.kernel().MachineTicks();
    EXPECT_TRUE(format.Nvme(nvme::FormatNvm(nvme::kSesCrypto, ns, 1)).Success());
    EXPECT_EQ(pc.kernel().MachineTicks() - before, 2000u);
    EXPECT_TRUE(LooksLikeNoise(pc.ReadImage("f.img", 0, 4096)));
    EXPECT_EQ(pc.machine().disks[1].firmware->received.back().command[40], 0x00);
    EXPECT_EQ(pc.machine().disks[1].firmware->received.back().command[41], 0x04);

    Device refused("\\\\.\\PhysicalDrive2");
    EXPECT_EQ(refused.Nvme(nvme::Sanitize(nvme::kSanactCryptoErase)).ErrorCode, 0x006u);
    EXPECT_EQ(refused.Nvme(nvme::FormatNvm(nvme::kSesUserData, ns, 1)).ErrorCode, 0x006u);
    // A request for another protocol, or a command that is not an admin command.
    Bytes request = nvme::PackRequest(nvme::IdentifyController(), 10);
    request[8] = 2;
    EXPECT_EQ(refused.Send(IOCTL_STORAGE_PROTOCOL_COMMAND, request),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    request = nvme::PackRequest(nvme::IdentifyController(), 10);
    request[56] = 2;
    EXPECT_EQ(refused.Send(IOCTL_STORAGE_PROTOCOL_COMMAND, request),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(SimFirmware, BlockingEraseThatNeverFinishesRunsOutTheRequestsTime) {
    SimPC pc(json{{"physicalDisks",
                   {Disk("n.img", {{"commandSet", "nvme"},
                                   {"driver", "vendor"},
                                   {"formatNvm", true},
                                   {"fault", "neverFinishes"}})}}});
    Device disk("\\\\.\\PhysicalDrive0");
    const DWORD before = pc.kernel().MachineTicks();
    DWORD error = 0;
    disk.Nvme(nvme::FormatNvm(nvme::kSesUserData, {}, 1), &error);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_SEM_TIMEOUT));
    EXPECT_EQ(pc.kernel().MachineTicks() - before, 60000u);
}

// Windows' own NVMe driver: no standard command through the protocol command; Identify and
// the Sanitize Status log through the property query; a Sanitize through the media
// reinitialization, only where Windows reads its method and never on the system's disk.
TEST(SimFirmware, WindowsOwnNvmeDriverTakesOnlyItsDocumentedRequests) {
    json machine = {
        {"build", 19045},
        {"drives", {{{"letter", "C"}, {"disk", 1}, {"offset", 32768}, {"length", 1048576}}}},
        {"physicalDisks",
         {Disk("a.img", {{"commandSet", "nvme"}, {"sanitize", {"crypto"}}, {"polls", 1}}),
          Disk("sys.img", {{"commandSet", "nvme"}, {"sanitize", {"crypto"}}})}}};
    SimPC pc(machine);
    pc.WriteImage("a.img", 0, Pattern(4096));
    Device disk("\\\\.\\PhysicalDrive0");
    auto& received = pc.machine().disks[0].firmware->received;
    DWORD error = 0;
    disk.Nvme(nvme::IdentifyController(), &error);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    disk.Nvme(nvme::Sanitize(nvme::kSanactCryptoErase), &error);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    nvme::TCommand vendor;
    vendor.Opcode = 0xC1;
    EXPECT_EQ(disk.Nvme(vendor, &error).ErrorCode, 0x001u); // passed on: the drive has none
    EXPECT_EQ(received.size(), 1u);                         // only the vendor command

    Bytes data;
    ASSERT_EQ(disk.Query(nvme::IdentifyController(), false, &data), 0u);
    EXPECT_EQ(nvme::ParseController(data)->Model, "SIM a.img");
    ASSERT_EQ(disk.Query(nvme::IdentifyNamespace(1), false, &data), 0u);
    EXPECT_EQ(nvme::ParseNamespace(data)->Size, static_cast<std::uint64_t>(kDiskBytes / 512));
    EXPECT_EQ(disk.Query(nvme::IdentifyNamespace(2), false, &data),
              static_cast<DWORD>(ERROR_IO_DEVICE)); // the drive's invalid namespace
    EXPECT_EQ(disk.Query(nvme::IdentifyActiveNamespaces(), false, &data),
              static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    ASSERT_EQ(disk.Query(nvme::GetSanitizeStatusLog(), false, &data), 0u);
    EXPECT_TRUE(nvme::ParseSanitizeLog(data)->NeverSanitized());

    // The reinitialization: refused for another method, a handle without write access, the
    // system's disk, or a Windows before 21H1; else the drive's Sanitize, restricted.
    Bytes block = nvme::PackReinitialize(nvme::kSanactBlockErase, 30);
    EXPECT_EQ(disk.Reinitialize(block), static_cast<DWORD>(ERROR_IO_DEVICE)); // no block erase
    Bytes crypto = nvme::PackReinitialize(nvme::kSanactCryptoErase, 30);
    Bytes defaultMethod = crypto;
    defaultMethod[12] = 0;
    EXPECT_EQ(disk.Reinitialize(defaultMethod), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    HANDLE readOnly = platform::k32().CreateFileA("\\\\.\\PhysicalDrive0", GENERIC_READ,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                  OPEN_EXISTING, 0, nullptr);
    DWORD returned = 0;
    EXPECT_FALSE(platform::k32().DeviceIoControl(readOnly, IOCTL_STORAGE_REINITIALIZE_MEDIA,
                                                 crypto.data(), 16, nullptr, 0, &returned,
                                                 nullptr));
    EXPECT_EQ(platform::k32().GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    platform::k32().CloseHandle(readOnly);
    Device system("\\\\.\\PhysicalDrive1");
    EXPECT_EQ(system.Reinitialize(crypto), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_TRUE(pc.machine().disks[1].firmware->received.empty());

    ASSERT_EQ(disk.Reinitialize(crypto), 0u);
    EXPECT_EQ(received.back().command[0], 0x84);
    EXPECT_EQ(received.back().command[40], 0x04); // SANACT 100b, AUSE clear
    EXPECT_EQ(pc.ReadImage("a.img", 0, 4096), Pattern(4096));
    ASSERT_EQ(disk.Query(nvme::GetSanitizeStatusLog(), false, &data), 0u);
    EXPECT_TRUE(nvme::ParseSanitizeLog(data)->InProgress()); // for its one poll
    ASSERT_EQ(disk.Query(nvme::GetSanitizeStatusLog(), false, &data), 0u);
    EXPECT_TRUE(nvme::ParseSanitizeLog(data)->Completed());
    EXPECT_TRUE(LooksLikeNoise(pc.ReadImage("a.img", 0, 4096)));

    machine["build"] = 19042; // 20H2
    SimPC older(machine);
    Device old("\\\\.\\PhysicalDrive0");
    EXPECT_EQ(old.Reinitialize(crypto), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
}

// A vendor's driver passes every command and takes no reinitialization.
TEST(SimFirmware, AVendorsNvmeDriverTakesNoReinitialization) {
    SimPC pc(
        json{{"build", 19045},
             {"physicalDisks",
              {Disk("a.img",
                    {{"commandSet", "nvme"}, {"driver", "vendor"}, {"sanitize", {"crypto"}}})}}});
    Device disk("\\\\.\\PhysicalDrive0");
    EXPECT_TRUE(disk.Nvme(nvme::IdentifyController()).Success());
    Bytes data;
    EXPECT_EQ(disk.Query(nvme::IdentifyController(), false, &data),
              static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(disk.Query(nvme::IdentifyNamespace(0), true, &data), 0u); // its own namespace
    EXPECT_EQ(disk.Reinitialize(nvme::PackReinitialize(nvme::kSanactCryptoErase, 30)),
              static_cast<DWORD>(ERROR_INVALID_FUNCTION));
}

// Disk 0 a drive's namespace 1, disk 1 its namespace 3 ("nsid"), the drive up to 4 ("namespaces").
json TwoNamespaceMachine(json firmware) {
    firmware["namespaces"] = 4;
    return json{{"physicalDisks",
                 {Disk("a.img", std::move(firmware)),
                  {{"image", "b.img"}, {"namespaceOf", 0}, {"nsid", 3}}}}};
}

TEST(SimFirmware, NvmeNamespacesAreDisksOfOneDrive) {
    SimPC pc(TwoNamespaceMachine({{"commandSet", "nvme"},
                                  {"driver", "vendor"},
                                  {"sanitize", {"block"}},
                                  {"formatNvm", true},
                                  {"polls", 1}}));
    pc.WriteImage("a.img", 0, Pattern(4096));
    pc.WriteImage("b.img", 0, Pattern(4096));
    Device second("\\\\.\\PhysicalDrive1");
    // The drive answers on either disk: its count, its active list, each namespace, an
    // inactive one as zeros and one beyond its count not at all.
    const auto ctl = nvme::ParseController(second.Nvme(nvme::IdentifyController()).Data);
    ASSERT_TRUE(ctl);
    EXPECT_EQ(ctl->Namespaces, 4u);
    EXPECT_FALSE(ctl->FormatAllNamespaces || ctl->EraseAllNamespaces);
    EXPECT_EQ(nvme::ParseNamespaceList(second.Nvme(nvme::IdentifyActiveNamespaces()).Data),
              (std::vector<std::uint32_t>{1, 3}));
    const Bytes one = second.Nvme(nvme::IdentifyNamespace(1)).Data;
    const Bytes three = second.Nvme(nvme::IdentifyNamespace(3)).Data;
    EXPECT_EQ(nvme::ParseNamespace(three)->Size, static_cast<std::uint64_t>(kDiskBytes / 512));
    EXPECT_FALSE(nvme::SameNamespace(one, three)); // their NGUIDs differ
    EXPECT_TRUE(AllAre(second.Nvme(nvme::IdentifyNamespace(2)).Data, 0));
    EXPECT_EQ(second.Nvme(nvme::IdentifyNamespace(5)).ErrorCode, 0x00Bu);
    // The disk's own namespace through the storage property query.
    Bytes query = nvme::PackNamespaceQuery();
    DWORD returned = 0;
    ASSERT_TRUE(platform::k32().DeviceIoControl(second.handle(), IOCTL_STORAGE_QUERY_PROPERTY,
                                                query.data(), static_cast<DWORD>(query.size()),
                                                query.data(), static_cast<DWORD>(query.size()),
                                                &returned, nullptr));
    const auto own = nvme::ReadQuery(query, returned, nvme::kIdentifyBytes);
    ASSERT_TRUE(own);
    EXPECT_TRUE(nvme::SameNamespace(*own, three));

    // Format NVM of namespace 3 erases its disk only; an inactive id is refused.
    nvme::TNamespace ns = *nvme::ParseNamespace(three);
    EXPECT_EQ(second.Nvme(nvme::FormatNvm(nvme::kSesUserData, ns, 2)).ErrorCode, 0x00Bu);
    EXPECT_TRUE(second.Nvme(nvme::FormatNvm(nvme::kSesUserData, ns, 3)).Success());
    EXPECT_EQ(pc.ReadImage("a.img", 0, 4096), Pattern(4096));
    EXPECT_TRUE(AllAre(pc.ReadImage("b.img", 0, 4096), 0x00));
    // Sanitize, sent through the first disk, erases both.
    pc.WriteImage("b.img", 0, Pattern(4096));
    Device first("\\\\.\\PhysicalDrive0");
    EXPECT_TRUE(first.Nvme(nvme::Sanitize(nvme::kSanactBlockErase)).Success());
    EXPECT_TRUE(second.Nvme(nvme::GetSanitizeStatusLog()).Success());
    EXPECT_TRUE(AllAre(pc.ReadImage("a.img", 0, 4096), 0x00));
    EXPECT_TRUE(AllAre(pc.ReadImage("b.img", 0, 4096), 0x00));
}

TEST(SimFirmware, ADriveThatFormatsAllNamespacesAtOnce) {
    for (const char* fna : {"formatAllNamespaces", "eraseAllNamespaces"}) {
        SimPC pc(TwoNamespaceMachine(
            {{"commandSet", "nvme"}, {"driver", "vendor"}, {"formatNvm", true}, {fna, true}}));
        pc.WriteImage("a.img", 0, Pattern(4096));
        Device second("\\\\.\\PhysicalDrive1");
        const auto ctl = nvme::ParseController(second.Nvme(nvme::IdentifyController()).Data);
        EXPECT_TRUE(ctl->FormatAllNamespaces || ctl->EraseAllNamespaces);
        nvme::TNamespace ns = *nvme::ParseNamespace(second.Nvme(nvme::IdentifyNamespace(3)).Data);
        EXPECT_TRUE(second.Nvme(nvme::FormatNvm(nvme::kSesUserData, ns, 3)).Success());
        EXPECT_TRUE(AllAre(pc.ReadImage("a.img", 0, 4096), 0x00)) << fna;
    }
}

TEST(SimFirmware, BadNamespaceKeysAreNamed) {
    auto error = [](json disks) {
        try {
            SimPC pc(json{{"physicalDisks", std::move(disks)}});
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    const json nvmeDisk = Disk("a.img", {{"commandSet", "nvme"}, {"driver", "vendor"}});
    const json ataDisk = Disk("a.img", {{"commandSet", "ata"}});
    EXPECT_NE(error({ataDisk, {{"image", "b.img"}, {"namespaceOf", 0}}})
                  .find("physicalDisks[1].namespaceOf"),
              std::string::npos);
    EXPECT_NE(error({nvmeDisk, {{"image", "b.img"}, {"namespaceOf", 1}}}).find("namespaceOf"),
              std::string::npos);
    EXPECT_NE(error({nvmeDisk, {{"image", "b.img"}, {"namespaceOf", 0}, {"nsid", 1}}})
                  .find("physicalDisks[1].nsid"),
              std::string::npos);
    EXPECT_NE(error({{{"image", "b.img"}, {"nsid", 2}}}).find("physicalDisks[0].nsid"),
              std::string::npos);
    json small = nvmeDisk;
    small["firmware"]["namespaces"] = 1;
    EXPECT_NE(error({small, {{"image", "b.img"}, {"namespaceOf", 0}}}).find("firmware.namespaces"),
              std::string::npos);
    EXPECT_EQ(error({nvmeDisk, {{"image", "b.img"}, {"namespaceOf", 0}}}), "");
}

TEST(SimFirmware, BadFirmwareKeysAreNamed) {
    auto error = [](json firmware) {
        try {
            SimPC pc(json{{"physicalDisks", {Disk("x.img", std::move(firmware))}}});
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    EXPECT_NE(error({{"commandSet", "scsi"}}).find("physicalDisks[0].firmware.commandSet"),
              std::string::npos);
    EXPECT_NE(error(json::object()).find("firmware.commandSet"), std::string::npos);
    EXPECT_NE(error({{"commandSet", "ata"}, {"fault", "sometimes"}}).find("firmware.fault"),
              std::string::npos);
    EXPECT_NE(error({{"commandSet", "ata"}, {"sanitize", {"overwrite"}}}).find("firmware.sanitize"),
              std::string::npos);
    EXPECT_NE(error({{"commandSet", "nvme"}, {"driver", "vendor"}, {"securityErase", true}})
                  .find("firmware.securityErase"),
              std::string::npos);
    EXPECT_NE(error({{"commandSet", "ata"}, {"erasedByte", 7}}).find("firmware.erasedByte"),
              std::string::npos);
    EXPECT_NE(error({{"commandSet", "ata"}, {"polls", -1}}).find("firmware.polls"),
              std::string::npos);
    EXPECT_NE(error({{"commandSet", "ata"}, {"pols", 1}}).find("firmware.pols"), std::string::npos);
    EXPECT_EQ(error({{"commandSet", "ata"}}), "");
}

} // namespace
