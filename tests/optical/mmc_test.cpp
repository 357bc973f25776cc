// The command layer: result codes, INQUIRY and capability decoding, the byte order helpers
// and the command blocks byte for byte as each transport sends them to an emulated drive.
#include "optical/aspi.h"
#include "optical/mmc.h"
#include "optical/spti.h"
#include "optical_test_support.h"

#include <gtest/gtest.h>

namespace purgelet {
namespace {

using testing::Cdbs;
using testing::OpticalDriveOf;
using testing::OpticalMachine;
using testing::RewritableDisc;
using testing::SimPC;
using Bytes = std::vector<BYTE>;

TEST(MmcDecoding, PeripheralTypeIndexKeepsQualifierBits) {
    EXPECT_EQ(PeripheralTypeIndex(0x05), 5);
    EXPECT_STREQ(DeviceTypeNames[PeripheralTypeIndex(0x05)], "CDROM");
    EXPECT_EQ(PeripheralTypeIndex(0x1F), 10);
    EXPECT_STREQ(DeviceTypeNames[10], "Invalid");
    EXPECT_EQ(PeripheralTypeIndex(0x7F), 12); // no unit: qualifier 3
    EXPECT_EQ(PeripheralTypeIndex(0x0A), 12);
    EXPECT_EQ(PeripheralTypeIndex(0x25), 12); // a CD-ROM with qualifier 1 is "Other"
    EXPECT_STREQ(DeviceTypeNames[12], "Other");
}

TEST(MmcDecoding, InquiryTextStopsAtControlCharactersAndDropsTrailingBlanks) {
    const BYTE nul[8] = {'A', 'B', 'C', 0, ' ', ' ', ' ', ' '};
    EXPECT_EQ(CopyInquiryText(nul, 8), "ABC");
    const BYTE leading[8] = {' ', ' ', 'X', ' ', ' ', ' ', ' ', ' '};
    EXPECT_EQ(CopyInquiryText(leading, 8), "  X");
    const BYTE full[10] = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J'};
    EXPECT_EQ(CopyInquiryText(full, 8), "ABCDEFGH");
}

TEST(MmcDecoding, StatusToResult) {
    EXPECT_EQ(StatusToResult(0x04, 0x00, 0x02), 21);
    EXPECT_EQ(StatusToResult(0x02, 0x00, 0x00), 1);
    EXPECT_EQ(StatusToResult(0x04, 0x0A, 0x00), 10);
    EXPECT_EQ(StatusToResult(0x00, 0x00, 0x00), 0);
    EXPECT_EQ(StatusToResult(0x01, 0x11, 0x02), 0);
    EXPECT_EQ(StatusToResult(0x82, 0xFF, 0xFF), 5);
    EXPECT_EQ(StatusToResult(0x04, 0x00, 0x08), 22);
    EXPECT_EQ(StatusToResult(0x04, 0x00, 0x18), 23);
    EXPECT_EQ(StatusToResult(0x04, 0x00, 0x28), 24);
    EXPECT_EQ(StatusToResult(0x04, 0x09, 0x00), 11);
    EXPECT_EQ(StatusToResult(0x04, 0x0B, 0x00), 12);
    EXPECT_EQ(StatusToResult(0x04, 0x0D, 0x00), 13);
    EXPECT_EQ(StatusToResult(0x04, 0x11, 0x00), 17);
    EXPECT_EQ(StatusToResult(0x04, 0x14, 0x00), 20);
    EXPECT_EQ(StatusToResult(0xE6, 0x00, 0x00), 9);
    EXPECT_EQ(StatusToResult(0x33, 0x00, 0x00), 10);
}

TEST(MmcDecoding, ByteOrder) {
    EXPECT_EQ(BigEndian16(0x1234), 0x3412);
    EXPECT_EQ(BigEndian32(0x12345678u), 0x78563412u);
}

// Capabilities as each transport reads them from the drive's page 2Ah.
TEST(MmcDecoding, SpeedsAreWholeMultiplesOf176) {
    SimPC pc(OpticalMachine(RewritableDisc(), true,
                            {{"maxReadSpeed", 7056},
                             {"maxWriteSpeed", 175},
                             {"reads", {"CD-R", "DVD-ROM", "DVD-RAM"}},
                             {"writes", {"CD-RW", "TestWrite", "DVD-R"}}}));
    TSPTIdevice spti('E');
    EXPECT_EQ(spti.MaxReadSpeed, 40u);
    EXPECT_EQ(spti.MaxWriteSpeed, 0u);
    EXPECT_EQ(spti.CapabilityField(16), 7056); // kept in host order
    EXPECT_TRUE(spti.CanReadCDR && spti.CanReadDVDROM && spti.CanReadDVDRAM);
    EXPECT_FALSE(spti.CanReadCDRW || spti.CanReadMethod2 || spti.CanReadDVDR);
    EXPECT_TRUE(spti.CanWriteCDRW && spti.CanTestWrite && spti.CanWriteDVDR);
    EXPECT_FALSE(spti.CanWriteCDR || spti.CanWriteDVDRAM);
    EXPECT_EQ(spti.DeviceName, "RW-5240 (SIMDISC)");
    EXPECT_EQ(spti.DeviceTypeName, "CDROM");

    platform::SRB_HAInquiry adapter{};
    platform::SRB_GDEVBlock unit{};
    TASPIdevice aspi(adapter, unit, TSCSIAddress{0, 1, 2});
    EXPECT_EQ(aspi.MaxReadSpeed, 40u);
    EXPECT_EQ(aspi.DeviceName, "SIMDISC RW-5240");
    EXPECT_EQ(aspi.DriveLetter, ' '); // no registry entry names its letter
}

TEST(MmcDecoding, DiscByteTwoGivesErasableAndStatus) {
    SimPC pc(OpticalMachine(RewritableDisc()));
    TSPTIdevice device('E');
    TDiscStatus status;
    ASSERT_TRUE(device.PrepareToWrite(status));
    EXPECT_EQ(status.DiscInformation[2], 0x1E); // erasable, complete, last session complete
    EXPECT_TRUE(status.Erasable);
    EXPECT_EQ(status.DiscStatus, 2);
    EXPECT_EQ(status.DiscInformation[4], 2); // sessions
    EXPECT_EQ(status.FailedStep, 0);
}

// Every command the pass-through transport sends: exact blocks, no LUN bits, DBD only on
// page 05h, the time limits of own and held handles.
TEST(MmcCommands, PassThroughBlocks) {
    SimPC pc(OpticalMachine(RewritableDisc(), false, {{"blank", {{"polls", 1}}}}));
    TSPTIdevice device('E');
    TDiscStatus status;
    ASSERT_TRUE(device.PrepareToWrite(status));
    ASSERT_EQ(device.Blank(false, {}), 0);
    const auto& drive = OpticalDriveOf(pc);
    ASSERT_GE(drive.commands.size(), 6u);
    EXPECT_EQ(drive.commands[0].cdb, (Bytes{0x12, 0, 0, 0, 0xA5, 0}));
    EXPECT_EQ(drive.commands[0].detail, 2u);
    EXPECT_EQ(drive.commands[1].cdb, (Bytes{0x5A, 0x00, 0x2A, 0, 0, 0, 0, 0, 159, 0}));
    EXPECT_EQ(drive.commands[1].detail, 2u);
    EXPECT_EQ(drive.commands[2].cdb, (Bytes{0x00, 0, 0, 0, 0, 0}));
    EXPECT_EQ(drive.commands[2].detail, 120u);
    EXPECT_EQ(drive.commands[3].cdb, (Bytes{0x51, 0, 0, 0, 0, 0, 0, 0, 34, 0}));
    EXPECT_EQ(drive.commands[3].detail, 120u);
    EXPECT_EQ(drive.commands[4].cdb, (Bytes{0xA1, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(drive.commands[4].detail, 2u);
    for (const auto& c : drive.commands) {
        EXPECT_EQ(c.transport, "spti");
        EXPECT_TRUE(c.dataIn); // every ordinary request reads, with or without data
        EXPECT_EQ(c.dataLength, 512u);
    }
    EXPECT_EQ(drive.commands.back().cdb[0], 0x51);
    EXPECT_EQ(drive.commands.back().detail, 2u); // the blank poll opens a handle of its own
    EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u);
}

TEST(MmcCommands, AspiBlocksCarryLunBitsWhereTheTableSays) {
    SimPC pc(OpticalMachine(RewritableDisc(), true, {{"blank", {{"polls", 0}}}}));
    platform::SRB_HAInquiry adapter{};
    platform::SRB_GDEVBlock unit{};
    TASPIdevice device(adapter, unit, TSCSIAddress{0, 1, 2});
    TDiscStatus status;
    ASSERT_TRUE(device.PrepareToWrite(status));
    ASSERT_EQ(device.Blank(true, {}), 0);
    ASSERT_EQ(device.Eject(), 0);
    const auto& drive = OpticalDriveOf(pc);
    ASSERT_EQ(drive.commands.size(), 7u);
    EXPECT_EQ(drive.commands[0].cdb, (Bytes{0x12, 0, 0, 0, 0xA5, 0})); // no LUN bits
    EXPECT_EQ(drive.commands[0].detail, 0x48u);
    EXPECT_EQ(drive.commands[0].dataLength, 165u);
    EXPECT_EQ(drive.commands[1].cdb, (Bytes{0x5A, 0x48, 0x2A, 0, 0, 0, 0, 0, 159, 0}));
    EXPECT_EQ(drive.commands[2].cdb, (Bytes{0x00, 0, 0, 0, 0, 0}));
    EXPECT_EQ(drive.commands[2].detail, 0x40u);
    EXPECT_EQ(drive.commands[2].dataLength, 0u);
    EXPECT_EQ(drive.commands[3].cdb, (Bytes{0x51, 0, 0, 0, 0, 0, 0, 0, 34, 0}));
    EXPECT_EQ(drive.commands[4].cdb, (Bytes{0xA1, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(drive.commands[5].cdb[0], 0x51); // the one poll
    EXPECT_EQ(drive.commands[6].cdb, (Bytes{0x1B, 0x01, 0, 0, 0x02, 0, 0, 0, 0, 0, 0, 0}));
    for (const auto& c : drive.commands)
        EXPECT_EQ(c.transport, "aspi");
    EXPECT_EQ(drive.ejects, 1);
    EXPECT_EQ(pc.kernel().OpenEvents(), 0u);
}

TEST(MmcCommands, BuildersOfTheWriteSequence) {
    const TCdb sense = mmc::ModeSenseWriteParameters(0x40);
    EXPECT_EQ(Bytes(sense.Bytes, sense.Bytes + 10),
              (Bytes{0x5A, 0x48, 0x05, 0, 0, 0, 0, 0, 64, 0}));
    const TCdb select = mmc::ModeSelect(0, 60);
    EXPECT_EQ(Bytes(select.Bytes, select.Bytes + 10), (Bytes{0x55, 0x10, 0, 0, 0, 0, 0, 0, 60, 0}));
    EXPECT_EQ(select.Direction, TDataDirection::Out);
    const TCdb track = mmc::ReadTrackInformation(0xFF);
    EXPECT_EQ(Bytes(track.Bytes, track.Bytes + 10), (Bytes{0x52, 1, 0, 0, 0, 0xFF, 0, 0, 28, 0}));
    const TCdb write = mmc::Write10(0x01020304, 10);
    EXPECT_EQ(Bytes(write.Bytes, write.Bytes + 10), (Bytes{0x2A, 0, 1, 2, 3, 4, 0, 0, 10, 0}));
    EXPECT_EQ(write.DataLength, 20480u);
    const TCdb close = mmc::CloseTrack();
    EXPECT_EQ(Bytes(close.Bytes, close.Bytes + 10), (Bytes{0x5B, 1, 1, 0, 0, 0xFF, 0, 0, 0, 0}));
    const TCdb session = mmc::CloseSession();
    EXPECT_EQ(Bytes(session.Bytes, session.Bytes + 10), (Bytes{0x5B, 1, 2, 0, 0, 0, 0, 0, 0, 0}));
    const TCdb sync = mmc::SynchronizeCache();
    EXPECT_EQ(Bytes(sync.Bytes, sync.Bytes + 10), (Bytes{0x35, 2, 0, 0, 0, 0, 0, 0, 0, 0}));
    const TCdb capacity = mmc::ReadBufferCapacity();
    EXPECT_EQ(Bytes(capacity.Bytes, capacity.Bytes + 10),
              (Bytes{0x5C, 0, 0, 0, 0, 0, 0, 0, 12, 0}));
}

} // namespace
} // namespace purgelet
