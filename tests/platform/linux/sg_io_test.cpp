// SCSI pass-through requests carried by SG_IO, with the ioctl written for the test: what the
// drive is asked, and what the transport reads back.
#include "platform/linux/sg_io.h"
#include "platform/scsi.h"

#include <gtest/gtest.h>

#include <cstring>
#include <scsi/sg.h>
#include <vector>

namespace platform::linux_backend {
namespace {

// The request and its buffers as the pass-through transport lays them out.
struct Buffered {
    SCSI_PASS_THROUGH spt;
    UCHAR sense[32];
    UCHAR data[64];
};

Buffered Request(UCHAR opcode, UCHAR dataIn, ULONG length, ULONG timeout) {
    Buffered b{};
    b.spt.Length = sizeof(SCSI_PASS_THROUGH);
    b.spt.CdbLength = 6;
    b.spt.Cdb[0] = opcode;
    b.spt.DataIn = dataIn;
    b.spt.DataTransferLength = length;
    b.spt.TimeOutValue = timeout;
    b.spt.SenseInfoLength = sizeof b.sense;
    b.spt.SenseInfoOffset = offsetof(Buffered, sense);
    b.spt.DataBufferOffset = offsetof(Buffered, data);
    return b;
}

TEST(SgIo, ABufferedReadAsksTheDriveAndReturnsDataStatusAndLength) {
    Buffered b = Request(0x12, SCSI_IOCTL_DATA_IN, 36, 2);
    sg_io_hdr_t seen{};
    auto drive = [&](int fd, void* h) {
        EXPECT_EQ(fd, 7);
        auto& header = *static_cast<sg_io_hdr_t*>(h);
        seen = header;
        std::memset(header.dxferp, 0x5A, 30);
        header.resid = 6; // the drive answered 30 of 36 bytes
        header.status = 0;
        return 0;
    };
    DWORD returned = 0;
    ASSERT_EQ(PassThrough(7, IOCTL_SCSI_PASS_THROUGH, &b, sizeof b, &b, sizeof b, &returned, drive),
              static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(seen.interface_id, 'S');
    EXPECT_EQ(seen.cmd_len, 6);
    EXPECT_EQ(seen.cmdp[0], 0x12);
    EXPECT_EQ(seen.dxfer_direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(seen.dxfer_len, 36u);
    EXPECT_EQ(seen.dxferp, static_cast<void*>(b.data));
    EXPECT_EQ(seen.sbp, b.sense);
    EXPECT_EQ(seen.timeout, 2000u);
    EXPECT_EQ(b.spt.DataTransferLength, 30u);
    EXPECT_EQ(b.data[29], 0x5A);
    EXPECT_EQ(returned, offsetof(Buffered, data) + 36);
}

TEST(SgIo, CheckConditionComesBackWithItsSenseAndIsNoFailure) {
    Buffered b = Request(0x00, SCSI_IOCTL_DATA_IN, 0, 0);
    auto drive = [&](int, void* h) {
        auto& header = *static_cast<sg_io_hdr_t*>(h);
        EXPECT_EQ(header.dxfer_direction, SG_DXFER_NONE);
        EXPECT_EQ(header.timeout, 60000u); // a time limit is always set
        header.status = 0x02;
        header.driver_status = 0x08; // sense data came back
        header.sbp[0] = 0x70;
        header.sbp[2] = 0x02;
        header.sbp[12] = 0x3A;
        header.sb_len_wr = 18;
        return 0;
    };
    ASSERT_EQ(PassThrough(3, IOCTL_SCSI_PASS_THROUGH, &b, sizeof b, &b, sizeof b, nullptr, drive),
              static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(b.spt.ScsiStatus, 0x02);
    EXPECT_EQ(b.spt.SenseInfoLength, 18);
    EXPECT_EQ(b.sense[2], 0x02);
    EXPECT_EQ(b.sense[12], 0x3A);
}

TEST(SgIo, ADirectWriteSendsTheCallersBuffer) {
    struct {
        SCSI_PASS_THROUGH_DIRECT sptd;
        UCHAR sense[32];
    } d{};
    std::vector<UCHAR> data(2048, 0xC3);
    d.sptd.Length = sizeof d.sptd;
    d.sptd.CdbLength = 10;
    d.sptd.Cdb[0] = 0x2A;
    d.sptd.DataIn = SCSI_IOCTL_DATA_OUT;
    d.sptd.DataTransferLength = 2048;
    d.sptd.DataBuffer = data.data();
    d.sptd.TimeOutValue = 120;
    d.sptd.SenseInfoLength = sizeof d.sense;
    d.sptd.SenseInfoOffset = offsetof(decltype(d), sense);
    bool sent = false;
    auto drive = [&](int, void* h) {
        auto& header = *static_cast<sg_io_hdr_t*>(h);
        EXPECT_EQ(header.dxfer_direction, SG_DXFER_TO_DEV);
        EXPECT_EQ(header.dxferp, static_cast<void*>(data.data()));
        EXPECT_EQ(header.timeout, 120000u);
        sent = static_cast<UCHAR*>(header.dxferp)[2047] == 0xC3;
        return 0;
    };
    ASSERT_EQ(
        PassThrough(3, IOCTL_SCSI_PASS_THROUGH_DIRECT, &d, sizeof d, &d, sizeof d, nullptr, drive),
        static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(sent);
    EXPECT_EQ(d.sptd.DataTransferLength, 2048u);
}

TEST(SgIo, AdapterFailuresAndBadRequestsAreFailuresNeverSentOrReadAsSuccess) {
    auto timedOut = [](int, void* h) {
        static_cast<sg_io_hdr_t*>(h)->host_status = 0x03;
        return 0;
    };
    Buffered b = Request(0xA1, SCSI_IOCTL_DATA_IN, 0, 1);
    EXPECT_EQ(
        PassThrough(3, IOCTL_SCSI_PASS_THROUGH, &b, sizeof b, &b, sizeof b, nullptr, timedOut),
        static_cast<DWORD>(ERROR_SEM_TIMEOUT));
    auto gone = [](int, void*) {
        errno = ENODEV;
        return -1;
    };
    EXPECT_NE(PassThrough(3, IOCTL_SCSI_PASS_THROUGH, &b, sizeof b, &b, sizeof b, nullptr, gone),
              static_cast<DWORD>(ERROR_SUCCESS));

    int calls = 0;
    auto counted = [&](int, void*) {
        ++calls;
        return 0;
    };
    Buffered tooLong = Request(0x28, SCSI_IOCTL_DATA_IN, 65, 1); // past the end of its buffer
    EXPECT_EQ(PassThrough(3, IOCTL_SCSI_PASS_THROUGH, &tooLong, sizeof tooLong, &tooLong,
                          sizeof tooLong, nullptr, counted),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    Buffered noCdb = Request(0x28, SCSI_IOCTL_DATA_IN, 8, 1);
    noCdb.spt.CdbLength = 0;
    EXPECT_EQ(PassThrough(3, IOCTL_SCSI_PASS_THROUGH, &noCdb, sizeof noCdb, &noCdb, sizeof noCdb,
                          nullptr, counted),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(PassThrough(3, IOCTL_SCSI_PASS_THROUGH, &b, 8, &b, sizeof b, nullptr, counted),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(calls, 0);
}

} // namespace
} // namespace platform::linux_backend
