// A drive's own commands on Linux, with the ioctls written for the test: the ATA pass-through
// request as the ATA PASS-THROUGH (16) command block SG_IO carries, with the registers read
// back from either sense format, and the NVMe admin command as the driver's ioctl takes it.
#include "platform/linux/ata_pass_through.h"
#include "platform/linux/nvme_admin.h"
#include "platform/storage_pass_through.h"
#include "support/scratch_folder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <linux/nvme_ioctl.h>
#include <scsi/sg.h>
#include <vector>

namespace platform::linux_backend {
namespace {

struct AtaRequest {
    ATA_PASS_THROUGH_EX header;
    std::uint8_t data[512];
};

AtaRequest Ata(USHORT flags, ULONG length) {
    AtaRequest r{};
    r.header.Length = sizeof(ATA_PASS_THROUGH_EX);
    r.header.AtaFlags = flags;
    r.header.DataTransferLength = length;
    r.header.TimeOutValue = 15;
    r.header.DataBufferOffset = offsetof(AtaRequest, data);
    return r;
}

// What the drive was asked, and the answer it gives.
struct FakeSat {
    std::vector<std::uint8_t> cdb;
    int direction = 0;
    unsigned length = 0;
    unsigned timeout = 0;
    void* data = nullptr;
    std::vector<std::uint8_t> sense;
    unsigned char status = 0x02; // CHECK CONDITION: the registers asked back
    std::vector<std::uint8_t> answer;
    int failErrno = 0;

    SgIoCall Call() {
        return [this](int, void* raw) {
            auto* h = static_cast<sg_io_hdr_t*>(raw);
            cdb.assign(h->cmdp, h->cmdp + h->cmd_len);
            direction = h->dxfer_direction;
            length = h->dxfer_len;
            timeout = h->timeout;
            data = h->dxferp;
            if (failErrno != 0) {
                errno = failErrno;
                return -1;
            }
            if (!answer.empty() && h->dxfer_direction == SG_DXFER_FROM_DEV)
                std::memcpy(h->dxferp, answer.data(),
                            std::min<std::size_t>(answer.size(), h->dxfer_len));
            if (!sense.empty()) // no sense at all: a command done without CK_COND
                std::memcpy(h->sbp, sense.data(),
                            std::min<std::size_t>(sense.size(), h->mx_sb_len));
            h->sb_len_wr = static_cast<unsigned char>(sense.size());
            h->status = sense.empty() ? 0 : status;
            h->driver_status = sense.empty() ? 0 : 0x08;
            return 0;
        };
    }
};

// Descriptor-format sense with the ATA Status Return descriptor.
std::vector<std::uint8_t> StatusReturn(bool extend, std::uint8_t error, std::uint16_t count,
                                       std::uint64_t lba, std::uint8_t device,
                                       std::uint8_t status) {
    return {0x72,
            0x01,
            0x00,
            0x1D,
            0,
            0,
            0,
            14,
            0x09,
            0x0C,
            extend ? std::uint8_t{1} : std::uint8_t{0},
            error,
            static_cast<std::uint8_t>(count >> 8),
            static_cast<std::uint8_t>(count),
            static_cast<std::uint8_t>(lba >> 24),
            static_cast<std::uint8_t>(lba),
            static_cast<std::uint8_t>(lba >> 32),
            static_cast<std::uint8_t>(lba >> 8),
            static_cast<std::uint8_t>(lba >> 40),
            static_cast<std::uint8_t>(lba >> 16),
            device,
            status};
}

TEST(AtaPassThrough, IdentifyTravelsAsAPioDataInCommandAndBringsBackDataAndRegisters) {
    AtaRequest r = Ata(ATA_FLAGS_DRDY_REQUIRED | ATA_FLAGS_DATA_IN, 512);
    r.header.CurrentTaskFile[1] = 1;    // one block
    r.header.CurrentTaskFile[5] = 0xA0; // device
    r.header.CurrentTaskFile[6] = 0xEC; // IDENTIFY DEVICE
    FakeSat sat;
    sat.answer.assign(512, 0x5A); // done: no sense, as a translation answers without CK_COND
    DWORD returned = 0;
    ASSERT_EQ(AtaPassThrough(4, &r, sizeof r, &r, sizeof r, &returned, sat.Call()), ERROR_SUCCESS);
    EXPECT_EQ(sat.cdb, (std::vector<std::uint8_t>{0x85, 0x08, 0x0E, 0x00, 0x00, 0x00, 0x01, 0x00,
                                                  0x00, 0x00, 0x00, 0x00, 0x00, 0xA0, 0xEC, 0x00}));
    EXPECT_EQ(sat.direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(sat.length, 512u);
    EXPECT_EQ(sat.timeout, 15000u);
    EXPECT_EQ(sat.data, static_cast<void*>(r.data));
    EXPECT_EQ(r.data[0], 0x5A);
    EXPECT_EQ(r.data[511], 0x5A);
    EXPECT_EQ(r.header.CurrentTaskFile[6], 0x50); // status
    EXPECT_EQ(r.header.CurrentTaskFile[0], 0x00); // error
    EXPECT_EQ(r.header.DataTransferLength, 512u);
    EXPECT_EQ(returned, sizeof r);
}

TEST(AtaPassThrough, AnExtendedNonDataCommandCarriesBothHalvesOfItsRegistersBothWays) {
    // SANITIZE DEVICE, CRYPTO SCRAMBLE EXT: feature 0011h, LBA 0000_4372_7970h.
    AtaRequest r = Ata(ATA_FLAGS_DRDY_REQUIRED | ATA_FLAGS_48BIT_COMMAND, 0);
    r.header.CurrentTaskFile[0] = 0x11;
    r.header.CurrentTaskFile[2] = 0x70;
    r.header.CurrentTaskFile[3] = 0x79;
    r.header.CurrentTaskFile[4] = 0x72;
    r.header.CurrentTaskFile[5] = 0x40;
    r.header.CurrentTaskFile[6] = 0xB4;
    r.header.PreviousTaskFile[2] = 0x43;
    FakeSat sat;
    // SANITIZE STATUS-like answer: count 4000h (in progress), LBA progress 8000h.
    sat.sense = StatusReturn(true, 0x00, 0x4000, 0x0000000000008000ull, 0x40, 0x50);
    ASSERT_EQ(AtaPassThrough(4, &r, sizeof(ATA_PASS_THROUGH_EX), &r, sizeof(ATA_PASS_THROUGH_EX),
                             nullptr, sat.Call()),
              ERROR_SUCCESS);
    EXPECT_EQ(sat.cdb, (std::vector<std::uint8_t>{0x85, 0x07, 0x20, 0x00, 0x11, 0x00, 0x00, 0x43,
                                                  0x70, 0x00, 0x79, 0x00, 0x72, 0x40, 0xB4, 0x00}));
    EXPECT_EQ(sat.direction, SG_DXFER_NONE);
    EXPECT_EQ(sat.length, 0u);
    EXPECT_EQ(r.header.CurrentTaskFile[1], 0x00);
    EXPECT_EQ(r.header.PreviousTaskFile[1], 0x40); // count (15:8)
    EXPECT_EQ(r.header.CurrentTaskFile[3], 0x80);  // LBA (15:8)
    EXPECT_EQ(r.header.CurrentTaskFile[2], 0x00);
    EXPECT_EQ(r.header.CurrentTaskFile[6], 0x50);
}

TEST(AtaPassThrough, DataOutGoesToTheDriveAndAFixedFormatAnswerGivesTheFailingRegisters) {
    AtaRequest r = Ata(ATA_FLAGS_DRDY_REQUIRED | ATA_FLAGS_DATA_OUT, 512);
    r.header.CurrentTaskFile[1] = 1;
    r.header.CurrentTaskFile[6] = 0xF1; // SECURITY SET PASSWORD
    r.data[2] = 'p';
    FakeSat sat;
    // ATA PASS-THROUGH INFORMATION AVAILABLE: error ABRT, status ERR|DRDY.
    sat.sense = {0x70, 0, 0x01, 0x04, 0x51, 0x00, 0x01, 10, 0, 0, 0, 0, 0x00, 0x1D, 0, 0, 0, 0};
    ASSERT_EQ(AtaPassThrough(4, &r, sizeof r, &r, sizeof r, nullptr, sat.Call()), ERROR_SUCCESS);
    EXPECT_EQ(sat.cdb[1], 0x0A); // PIO data-out
    EXPECT_EQ(sat.cdb[2], 0x06); // to the device, in blocks, length in count
    EXPECT_EQ(sat.cdb[14], 0xF1);
    EXPECT_EQ(sat.direction, SG_DXFER_TO_DEV);
    EXPECT_EQ(static_cast<std::uint8_t*>(sat.data)[2], 'p');
    EXPECT_EQ(r.header.CurrentTaskFile[0], 0x04);
    EXPECT_EQ(r.header.CurrentTaskFile[6], 0x51);
}

TEST(AtaPassThrough, WhatIsNoAtaDriveAndWhatNeverReachesOneAreToldApart) {
    AtaRequest r = Ata(ATA_FLAGS_DATA_IN, 512);
    r.header.CurrentTaskFile[6] = 0xEC;
    {
        FakeSat sat; // ILLEGAL REQUEST, INVALID COMMAND OPERATION CODE: no translation
        sat.sense = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0x00, 0, 0, 0, 0};
        EXPECT_EQ(AtaPassThrough(4, &r, sizeof r, &r, sizeof r, nullptr, sat.Call()),
                  ERROR_INVALID_FUNCTION);
    }
    {
        FakeSat sat; // no SG_IO on the node (an NVMe namespace, a loop device)
        sat.failErrno = ENOTTY;
        EXPECT_EQ(AtaPassThrough(4, &r, sizeof r, &r, sizeof r, nullptr, sat.Call()),
                  ERROR_INVALID_FUNCTION);
    }
    {
        FakeSat sat; // a drive that failed the command without registers: aborted
        sat.sense = {0x70, 0, 0x0B, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x00, 0x00, 0, 0, 0, 0};
        ASSERT_EQ(AtaPassThrough(4, &r, sizeof r, &r, sizeof r, nullptr, sat.Call()),
                  ERROR_SUCCESS);
        EXPECT_EQ(r.header.CurrentTaskFile[6] & 0x01, 0x01);
        EXPECT_EQ(r.header.CurrentTaskFile[0], 0x04);
    }
    {
        FakeSat sat; // the buffer does not hold the data the request names: never sent
        AtaRequest bad = Ata(ATA_FLAGS_DATA_IN, 1024);
        EXPECT_EQ(AtaPassThrough(4, &bad, sizeof bad, &bad, sizeof bad, nullptr, sat.Call()),
                  ERROR_INVALID_PARAMETER);
        EXPECT_TRUE(sat.cdb.empty());
    }
}

struct NvmeRequest {
    STORAGE_PROTOCOL_COMMAND header;
    std::uint8_t rest[63];
    std::uint8_t data[4096];
};

NvmeRequest Nvme(std::uint8_t opcode, std::uint32_t nsid, std::uint32_t cdw10, DWORD fromDevice) {
    NvmeRequest r{};
    r.header.Version = STORAGE_PROTOCOL_STRUCTURE_VERSION;
    r.header.Length = sizeof(STORAGE_PROTOCOL_COMMAND);
    r.header.ProtocolType = ProtocolTypeNvme;
    r.header.Flags = STORAGE_PROTOCOL_COMMAND_FLAG_ADAPTER_REQUEST;
    r.header.CommandLength = STORAGE_PROTOCOL_COMMAND_LENGTH_NVME;
    r.header.CommandSpecific = STORAGE_PROTOCOL_SPECIFIC_NVME_ADMIN_COMMAND;
    r.header.TimeOutValue = 30;
    r.header.DataFromDeviceTransferLength = fromDevice;
    r.header.DataFromDeviceBufferOffset = fromDevice > 0 ? offsetof(NvmeRequest, data) : 0;
    auto* entry = reinterpret_cast<std::uint8_t*>(&r) + offsetof(STORAGE_PROTOCOL_COMMAND, Command);
    entry[0] = opcode;
    std::memcpy(entry + 4, &nsid, 4);
    std::memcpy(entry + 40, &cdw10, 4);
    return r;
}

TEST(NvmeAdmin, TheSubmissionEntryBecomesTheDriversAdminCommandWithItsDataAndTimeLimit) {
    NvmeRequest r = Nvme(0x06, 0, 0x00000001, 4096); // Identify Controller
    nvme_admin_cmd seen{};
    auto call = [&](int fd, void* raw) {
        EXPECT_EQ(fd, 9);
        seen = *static_cast<nvme_admin_cmd*>(raw);
        std::memset(reinterpret_cast<void*>(seen.addr), 0x33, seen.data_len);
        static_cast<nvme_admin_cmd*>(raw)->result = 0x1234;
        return 0;
    };
    DWORD returned = 0;
    ASSERT_EQ(NvmeAdmin(9, &r, sizeof r, &r, sizeof r, &returned, call), ERROR_SUCCESS);
    EXPECT_EQ(seen.opcode, 0x06);
    EXPECT_EQ(seen.nsid, 0u);
    EXPECT_EQ(seen.cdw10, 1u);
    EXPECT_EQ(seen.cdw11, 0u);
    EXPECT_EQ(seen.data_len, 4096u);
    EXPECT_EQ(reinterpret_cast<std::uint8_t*>(seen.addr), r.data);
    EXPECT_EQ(seen.timeout_ms, 30000u);
    EXPECT_EQ(r.data[4095], 0x33);
    EXPECT_EQ(r.header.ReturnStatus, static_cast<DWORD>(STORAGE_PROTOCOL_STATUS_SUCCESS));
    EXPECT_EQ(r.header.FixedProtocolReturnData, 0x1234u);
    EXPECT_EQ(returned, sizeof r);
}

TEST(NvmeAdmin, AControllerThatFailsTheCommandGivesItsStatusAndBadRequestsAreNeverSent) {
    NvmeRequest r = Nvme(0x84, 0, 0x00000004, 0); // Sanitize, crypto erase
    nvme_admin_cmd seen{};
    int calls = 0;
    auto call = [&](int, void* raw) {
        ++calls;
        seen = *static_cast<nvme_admin_cmd*>(raw);
        return 0x0002; // Invalid Field in Command
    };
    ASSERT_EQ(NvmeAdmin(9, &r, sizeof r, &r, sizeof r, nullptr, call), ERROR_SUCCESS);
    EXPECT_EQ(seen.opcode, 0x84);
    EXPECT_EQ(seen.cdw10, 4u);
    EXPECT_EQ(seen.addr, 0u);
    EXPECT_EQ(seen.data_len, 0u);
    EXPECT_EQ(r.header.ReturnStatus, static_cast<DWORD>(STORAGE_PROTOCOL_STATUS_ERROR));
    EXPECT_EQ(r.header.ErrorCode, 2u);

    NvmeRequest scsi = Nvme(0x06, 0, 1, 4096);
    scsi.header.ProtocolType = ProtocolTypeScsi;
    EXPECT_EQ(NvmeAdmin(9, &scsi, sizeof scsi, &scsi, sizeof scsi, nullptr, call),
              ERROR_INVALID_PARAMETER);
    NvmeRequest beyond = Nvme(0x06, 0, 1, 8192);
    EXPECT_EQ(NvmeAdmin(9, &beyond, sizeof beyond, &beyond, sizeof beyond, nullptr, call),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(calls, 1);

    auto notNvme = [](int, void*) {
        errno = ENOTTY;
        return -1;
    };
    EXPECT_EQ(NvmeAdmin(9, &r, sizeof r, &r, sizeof r, nullptr, notNvme), ERROR_INVALID_FUNCTION);
}

TEST(NvmeAdmin, TheControllerNodeIsFoundFromTheNamespacesSysfsFolder) {
    purgelet::testing::ScratchFolder scratch("nvme-sysfs");
    namespace fs = std::filesystem;
    const fs::path controller = scratch.path() / "devices" / "pci0000:00" / "nvme" / "nvme3";
    fs::create_directories(controller / "nvme3n1");
    fs::create_directory_symlink("../../nvme3", controller / "nvme3n1" / "device");
    EXPECT_EQ(NvmeControllerNode((controller / "nvme3n1").string()), "/dev/nvme3");

    const fs::path disk = scratch.path() / "devices" / "sda";
    fs::create_directories(disk / "target");
    fs::create_directory_symlink("target", disk / "device");
    EXPECT_EQ(NvmeControllerNode(disk.string()), "");
    EXPECT_EQ(NvmeControllerNode(""), "");
}

// A request's time limit travels in 32-bit milliseconds and the kernel resets the device
// when it runs out: up to the longest the program allows it goes as given, a longer one is
// refused without reaching the device (never cut short or wrapped round).
TEST(DriveCommandTimeLimit, UpToTheLongestAllowedItIsCarriedBeyondItTheRequestIsRefused) {
    {
        AtaRequest r = Ata(0, 0);
        r.header.CurrentTaskFile[6] = 0xF4;
        r.header.TimeOutValue = kMaxPassThroughSeconds;
        FakeSat sat;
        sat.sense = StatusReturn(false, 0x00, 0, 0, 0xA0, 0x50);
        DWORD returned = 0;
        ASSERT_EQ(AtaPassThrough(4, &r, sizeof r, &r, sizeof r, &returned, sat.Call()),
                  ERROR_SUCCESS);
        EXPECT_EQ(sat.timeout, kMaxPassThroughSeconds * 1000u);
        r.header.TimeOutValue = kMaxPassThroughSeconds + 1;
        FakeSat unused;
        EXPECT_EQ(AtaPassThrough(4, &r, sizeof r, &r, sizeof r, &returned, unused.Call()),
                  static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        EXPECT_TRUE(unused.cdb.empty());
    }
    {
        NvmeRequest r = Nvme(0x80, 1, 0, 0); // Format NVM
        r.header.TimeOutValue = kMaxPassThroughSeconds;
        unsigned seen = 0;
        int calls = 0;
        auto call = [&](int, void* raw) {
            ++calls;
            seen = static_cast<nvme_admin_cmd*>(raw)->timeout_ms;
            return 0;
        };
        DWORD returned = 0;
        ASSERT_EQ(NvmeAdmin(9, &r, sizeof r, &r, sizeof r, &returned, call), ERROR_SUCCESS);
        EXPECT_EQ(seen, kMaxPassThroughSeconds * 1000u);
        r.header.TimeOutValue = kMaxPassThroughSeconds + 1;
        EXPECT_EQ(NvmeAdmin(9, &r, sizeof r, &r, sizeof r, &returned, call),
                  static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        EXPECT_EQ(calls, 1);
    }
}

// The property query for a disk's own namespace: the id from the namespace's node, the
// Identify Namespace of that id from the controller, the data after the descriptor.
TEST(NvmeAdmin, TheNamespaceQueryAsksTheControllerForTheNodesOwnNamespace) {
    constexpr DWORD header = offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters);
    std::vector<BYTE> query(sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR) + 4096, 0);
    STORAGE_PROTOCOL_SPECIFIC_DATA asked{};
    asked.ProtocolType = ProtocolTypeNvme;
    asked.DataType = NVMeDataTypeIdentify;
    asked.ProtocolDataOffset = sizeof asked;
    asked.ProtocolDataLength = 4096;
    std::memcpy(query.data() + header, &asked, sizeof asked);
    const auto size = static_cast<DWORD>(query.size());
    std::vector<int> idFds, adminFds;
    nvme_admin_cmd sent{};
    auto id = [&](int fd) {
        idFds.push_back(fd);
        return 2;
    };
    auto call = [&](int fd, void* command) {
        adminFds.push_back(fd);
        sent = *static_cast<nvme_admin_cmd*>(command);
        std::memset(reinterpret_cast<void*>(static_cast<std::uintptr_t>(sent.addr)), 0x5A, 4096);
        return 0;
    };
    DWORD returned = 0;
    ASSERT_EQ(NvmeNamespaceQuery(7, 9, query.data(), size, query.data(), size, &returned, call, id),
              static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(idFds, std::vector<int>{7});
    EXPECT_EQ(adminFds, std::vector<int>{9});
    EXPECT_EQ(sent.opcode, 0x06);
    EXPECT_EQ(sent.nsid, 2u);
    EXPECT_EQ(sent.cdw10, 0u); // CNS 00h
    EXPECT_EQ(returned, size);
    STORAGE_PROTOCOL_DATA_DESCRIPTOR answer;
    std::memcpy(&answer, query.data(), sizeof answer);
    EXPECT_EQ(answer.ProtocolSpecificData.ProtocolDataOffset, sizeof(asked));
    EXPECT_EQ(answer.ProtocolSpecificData.ProtocolDataRequestSubValue, 2u); // names its namespace
    EXPECT_EQ(query[sizeof answer], 0x5A);
    EXPECT_EQ(query.back(), 0x5A);

    // A node that is no namespace, and another namespace than the node's, are not answered.
    std::memcpy(query.data() + header, &asked, sizeof asked);
    auto none = [](int) {
        errno = ENOTTY;
        return -1;
    };
    EXPECT_EQ(
        NvmeNamespaceQuery(7, 9, query.data(), size, query.data(), size, &returned, call, none),
        static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    asked.ProtocolDataRequestSubValue = 3;
    std::memcpy(query.data() + header, &asked, sizeof asked);
    adminFds.clear();
    EXPECT_EQ(NvmeNamespaceQuery(7, 9, query.data(), size, query.data(), size, &returned, call, id),
              static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_TRUE(adminFds.empty());
}

} // namespace
} // namespace platform::linux_backend
