// The Windows 9x disk classes against simulated 9x machines: what detection learns through
// the device parameters and the drive map, the register packets of every request by
// build, the access flag and lock protocol, the transfers and their refusals, the floppy's
// track-sized transfers, the format question, and a whole wipe through the disk manager.
#include "disk/disk_manager.h"
#include "disk/disk_test_support.h"
#include "disk/win9x/win9x_disk.h"
#include "support/recording_owner.h"
#include "support/sim_pc.h"
#include "ui/scripted_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace purgelet {
namespace {

using testing::RecordingOwner;
using testing::SimPC;
namespace sim = platform::sim;

constexpr std::int64_t kPartC = 32768;         // byte offset of C: on the disk
constexpr std::int64_t kPartCLength = 4161536; // 8128 sectors
constexpr std::int64_t kPartD = 4194304;       // D: starts and ends on cylinder boundaries
constexpr std::int64_t kPartDLength = 4194304;

// One 8 MiB disk (16 cylinders of 16 heads and 64 sectors) with C: and D:, a removable drive
// of 64 MiB (more sectors than 16 bits count) and a floppy drive with a 1.44 MB disk.
nlohmann::json NineXMachine(int build) {
    auto machine = nlohmann::json::parse(R"J({
      "platform": "9x",
      "physicalDisks": [{"friendlyName": "SIM DISK 0", "image": "disk.img",
                         "geometry": {"cylinders": 16, "tracksPerCylinder": 16,
                                      "sectorsPerTrack": 64, "bytesPerSector": 512}}],
      "drives": [
        {"letter": "C", "disk": 0, "offset": 32768, "length": 4161536, "partitionType": 12,
         "volume": {"label": "SYSTEM", "fileSystem": "FAT32"}},
        {"letter": "D", "disk": 0, "offset": 4194304, "length": 4194304, "partitionType": 12,
         "partitionNumber": 2, "volume": {"label": "DATA", "fileSystem": "FAT32"}},
        {"letter": "Z", "kind": "removable", "image": "zip.img", "size": 67108864,
         "volume": {"label": "", "fileSystem": "FAT16"}},
        {"letter": "A", "kind": "floppy", "supportedMedia": ["F3_720_512", "F3_1Pt44_512"],
         "medium": {"type": "F3_1Pt44_512", "image": "floppy.img"}}
      ]})J");
    machine["build"] = build;
    return machine;
}

template <class X, class F> std::string RaisedMessage(F&& f) {
    try {
        f();
    } catch (const X& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("wrong exception: ") + ClassNameOf(e) + " " + e.what();
    }
    return "nothing raised";
}

class NineX : public ::testing::Test {
protected:
    explicit NineX(int build = 1001) : pc(NineXMachine(build)) {}

    SimPC pc;
    RecordingOwner owner;

    std::unique_ptr<T9xLogicalDisk> Disk(const char* letter) {
        return MakeDisk<T9xLogicalDisk>(letter, &owner);
    }
    std::vector<sim::Vwin32Packet>& Packets() { return pc.machine().packets; }
    // The packets of one IOCTL minor code, or of one control code when minor is 0.
    std::vector<sim::Vwin32Packet> PacketsOf(DWORD code, DWORD minor = 0) {
        std::vector<sim::Vwin32Packet> found;
        for (const auto& p : Packets())
            if (p.code == code && (minor == 0 || (p.in.reg_ECX & 0xFFFF) == minor))
                found.push_back(p);
        return found;
    }
    std::string SysText(DWORD code) { return platform::k32().SysErrorMessage(code); }
};

class NineXOld : public NineX {
protected:
    NineXOld() : NineX(1000) {}
};

// ---- Detection

TEST_F(NineX, InitLearnsTheDriveFromItsParametersAndDriveMap) {
    auto c = Disk("C");
    EXPECT_EQ(c->Description, "logical disk (C:)");
    EXPECT_EQ(c->DriveIndex, 2);
    EXPECT_EQ(c->BlockSize, 512);
    EXPECT_EQ(c->BlockCount, kPartCLength / 512); // the 16-bit count of a small volume
    EXPECT_EQ(c->Size, kPartCLength);
    EXPECT_EQ(c->SectorsPerTrack, 64);
    EXPECT_EQ(c->DriveType, 1);
    EXPECT_EQ(c->Int13Unit, 0x80);
    EXPECT_EQ(c->Handle(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u);

    // The device was opened as the 9x services want it, and asked with drive number 3.
    const auto open = *std::find_if(pc.machine().calls.begin(), pc.machine().calls.end(),
                                    [](const sim::Call& c) { return c.name == "CreateFileA"; });
    EXPECT_EQ(open.device, "\\\\.\\vwin32");
    EXPECT_EQ(open.a, GENERIC_READ | GENERIC_WRITE);
    EXPECT_EQ(open.b, 0u);
    EXPECT_EQ(open.c, static_cast<DWORD>(FILE_FLAG_DELETE_ON_CLOSE));
    ASSERT_EQ(Packets().size(), 2u);
    EXPECT_EQ(Packets()[0].code, static_cast<DWORD>(VWIN32_DIOC_DOS_IOCTL));
    EXPECT_EQ(Packets()[0].in.reg_EAX, 0x440Du);
    EXPECT_EQ(Packets()[0].in.reg_EBX, 3u);
    EXPECT_EQ(Packets()[0].in.reg_ECX, 0x0860u);
    EXPECT_EQ(Packets()[0].in.reg_Flags, static_cast<DWORD>(VWIN32_CARRY_FLAG));
    EXPECT_EQ(Packets()[1].in.reg_ECX, 0x486Fu);
    EXPECT_EQ(Packets()[1].in.reg_Flags, 0u); // the drive map is asked with the carry clear

    // Large volumes count in 32 bits; a drive the shell names takes its name.
    pc.drive('Z').displayName = "ZIP-100 (Z:)";
    auto z = Disk("Z");
    EXPECT_EQ(z->BlockCount, 67108864 / 512);
    EXPECT_EQ(z->DriveType, 3);
    EXPECT_EQ(z->Int13Unit, 0x81); // after the one physical disk
    EXPECT_EQ(z->Description, "ZIP-100 (Z:)");
}

TEST_F(NineX, AParameterBlockWithoutSectorCountIsSizedByItsGeometry) {
    pc.drive('D').bpbSectorCount = false;
    auto d = Disk("D");
    // 8 cylinders x 16 heads x 64 sectors: D: lies on whole cylinders.
    EXPECT_EQ(d->BlockCount, 8 * 16 * 64);
    EXPECT_EQ(d->Size, kPartDLength);
}

TEST_F(NineX, PropertiesNameTheBiosUnitAsHardDiskOrFloppy) {
    auto c = Disk("C");
    ASSERT_EQ(c->GetSortedPropertiesCount(), 10);
    TGenericProperty p;
    c->GetProperty(2, p);
    EXPECT_EQ(p, (TGenericProperty{prop9xFact4, std::int32_t{0x80}}));
    c->GetProperty(3, p);
    EXPECT_EQ(p, (TGenericProperty{propOwnerHard, std::int32_t{0}}));

    auto a = MakeDisk<T9XFloppy>("A", &owner);
    EXPECT_EQ(a->DriveType, 2);
    EXPECT_EQ(a->Int13Unit, 0);
    a->GetSortedPropertiesCount();
    std::vector<std::uint8_t> ids;
    for (const auto& property : a->Properties)
        ids.push_back(property.Id);
    EXPECT_EQ(ids, (std::vector<std::uint8_t>{1, 2, 4, 6, 7, 8, 9, 10, 11, 12}));

    // Without a drive map there is no unit to tell.
    pc.drive('D').faults.driveMap = sim::Fault::Always(ERROR_INVALID_FUNCTION);
    auto d = Disk("D");
    EXPECT_EQ(d->Int13Unit, 255);
    d->GetSortedPropertiesCount();
    for (const auto& property : d->Properties)
        EXPECT_TRUE(property.Id < 4 || property.Id > 6) << int(property.Id);
}

TEST_F(NineX, AnEmptyFloppyDriveIsDetectedByItsDefaultMedium) {
    pc.machine().EjectMedium('A');
    auto a = MakeDisk<T9XFloppy>("A", &owner);
    EXPECT_EQ(a->BlockCount, 2880);
    EXPECT_EQ(a->SectorsPerTrack, 18);
    // Opening asks for the medium in the drive, which is not there.
    EXPECT_THROW(a->Open(true), XMDIOCError);
    EXPECT_EQ(a->Handle(), INVALID_HANDLE_VALUE);
    // A 720 KB disk in the drive is sized as what it is once opened.
    pc.machine().InsertMedium('A', F3_720_512, "small.img");
    a->Open(true);
    EXPECT_EQ(a->BlockCount, 1440);
    EXPECT_EQ(a->SectorsPerTrack, 9);
    a->Close();
}

TEST_F(NineX, DetectionFailuresRaiseTheirClasses) {
    pc.drive('D').faults.geometry = sim::Fault::Always(ERROR_NOT_READY);
    EXPECT_EQ(RaisedMessage<XMDIOCError>([&] { Disk("D"); }),
              "T9xLogicalDisk.GetDiskParameters : " + SysText(ERROR_NOT_READY));
    EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u);

    T9xLogicalDisk closed("C", &owner);
    EXPECT_EQ(RaisedMessage<XNotOpened>([&] { closed.GetDiskParameters(); }),
              "T9xLogicalDisk.GetDiskParameters : fDeviceHandle=INVALID_HANDLE_VALUE");

    EXPECT_THROW(MakeDisk<T9xPhysicalDisk>("\\\\.\\PhysicalDrive0", &owner, "SIM DISK 0"),
                 XCompatibility);
}

TEST(NineXOnNT, TheVirtualDeviceIsNotFoundOnTheNTFamily) {
    SimPC pc(nlohmann::json::parse(R"({"drives": [{"letter": "C", "image": "c.img",
                                                   "size": 65536}]})"));
    RecordingOwner owner;
    EXPECT_EQ(RaisedMessage<XVWin32NotFound>([&] { MakeDisk<T9xLogicalDisk>("C", &owner); }),
              "T9xLogicalDisk.create(C) : " +
                  platform::k32().SysErrorMessage(ERROR_FILE_NOT_FOUND));
}

TEST(NineXOnNT, TheRealSystemOfThisBuildHasNoVirtualDevice) {
    // Linux, or the NT family (Wine included): the 9x classes fail clearly, never silently.
    platform::ScopedSystem native(platform::CreateNativeSystem());
    RecordingOwner owner;
    EXPECT_THROW(MakeDisk<T9XFloppy>("A", &owner), XVWin32NotFound);
}

// ---- Requests by build

TEST_F(NineX, AfterBuild1000TransfersUseTheExtendedServiceWithTheDriveNumber) {
    auto c = Disk("C");
    c->Open(false);
    std::vector<std::uint8_t> out(2 * 512, 0xC3), in(2 * 512, 0);
    c->WriteBlocks(out.data(), 2, 5);
    c->ReadBlocks(in.data(), 2, 5);
    c->Close();
    EXPECT_EQ(in, out);
    EXPECT_EQ(pc.ReadImage("disk.img", kPartC + 5 * 512, 1024), out);

    const auto transfers = PacketsOf(VWIN32_DIOC_DOS_DRIVEINFO);
    ASSERT_EQ(transfers.size(), 2u);
    for (const auto& p : transfers) {
        EXPECT_EQ(p.in.reg_EAX, 0x7305u);
        EXPECT_EQ(p.in.reg_ECX, 0xFFFFu);
        EXPECT_EQ(p.in.reg_EDX, 3u);
        EXPECT_EQ(p.in.reg_Flags, static_cast<DWORD>(VWIN32_CARRY_FLAG));
        EXPECT_EQ(p.sector, 5);
        EXPECT_EQ(p.count, 2u);
        EXPECT_TRUE(p.ok);
    }
    EXPECT_EQ(transfers[0].in.reg_ESI, 1u); // write
    EXPECT_EQ(transfers[1].in.reg_ESI, 0u); // read
    EXPECT_TRUE(PacketsOf(VWIN32_DIOC_DOS_INT25).empty());
    EXPECT_TRUE(PacketsOf(VWIN32_DIOC_DOS_INT26).empty());

    const auto unlocks = PacketsOf(VWIN32_DIOC_DOS_IOCTL, 0x486A);
    ASSERT_EQ(unlocks.size(), 1u);
    EXPECT_TRUE(unlocks[0].ok);
    EXPECT_TRUE(PacketsOf(VWIN32_DIOC_DOS_IOCTL, 0x086A).empty());
}

TEST_F(NineXOld, UpToBuild1000TransfersUseAbsoluteReadAndWriteWithTheDriveIndex) {
    auto d = Disk("D");
    d->Open(false);
    std::vector<std::uint8_t> out(512, 0x3C), in(512, 0);
    d->WriteBlocks(out.data(), 1, 7);
    d->ReadBlocks(in.data(), 1, 7);
    d->Close();
    EXPECT_EQ(in, out);
    EXPECT_EQ(pc.ReadImage("disk.img", kPartD + 7 * 512, 512), out);

    const auto writes = PacketsOf(VWIN32_DIOC_DOS_INT26);
    const auto reads = PacketsOf(VWIN32_DIOC_DOS_INT25);
    ASSERT_EQ(writes.size(), 1u);
    ASSERT_EQ(reads.size(), 1u);
    for (const auto& p : {writes[0], reads[0]}) {
        EXPECT_EQ(p.in.reg_EAX, 3u); // D is index 3
        EXPECT_EQ(p.in.reg_ECX, 0xFFFFu);
        EXPECT_EQ(p.sector, 7);
        EXPECT_TRUE(p.ok);
    }
    EXPECT_TRUE(PacketsOf(VWIN32_DIOC_DOS_DRIVEINFO).empty());
    const auto unlocks = PacketsOf(VWIN32_DIOC_DOS_IOCTL, 0x086A);
    ASSERT_EQ(unlocks.size(), 1u);
    EXPECT_TRUE(unlocks[0].ok);
    EXPECT_EQ(pc.drive('D').vwin32Lock, nullptr);
}

// ---- Access flag and lock

TEST_F(NineX, OpenAllowsMediaAccessAndCloseForbidsItAgain) {
    pc.drive('D').accessFlag = false;
    auto d = Disk("D");
    d->Open(true);
    EXPECT_EQ(d->AccessState, 2);
    EXPECT_TRUE(pc.drive('D').accessFlag);
    EXPECT_TRUE(PacketsOf(VWIN32_DIOC_DOS_IOCTL, 0x084A).empty()); // read-only: no lock
    d->Close();
    EXPECT_FALSE(pc.drive('D').accessFlag);
    EXPECT_TRUE(PacketsOf(VWIN32_DIOC_DOS_IOCTL, 0x486A).empty()); // and no unlock

    // Allowed already: the state says so, and Close clears the flag all the same.
    pc.drive('D').accessFlag = true;
    d->Open(true);
    EXPECT_EQ(d->AccessState, 1);
    d->Close();
    EXPECT_FALSE(pc.drive('D').accessFlag);
    EXPECT_EQ(d->Handle(), INVALID_HANDLE_VALUE);
}

TEST_F(NineX, AFailedAccessFlagQueryCountsAsAllowedAndCloseStillClearsTheFlag) {
    pc.drive('C').faults.accessFlag = sim::Fault::Always(ERROR_INVALID_FUNCTION);
    auto c = Disk("C");
    c->Open(false);
    EXPECT_EQ(c->AccessState, 1);
    EXPECT_TRUE(PacketsOf(VWIN32_DIOC_DOS_IOCTL, 0x4847).empty()); // nothing set at Open
    c->Close();
    const auto sets = PacketsOf(VWIN32_DIOC_DOS_IOCTL, 0x4847);
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_FALSE(pc.drive('C').accessFlag);
}

TEST_F(NineX, ARefusedLockEndsTheWipeWithoutAQuestionAndClosesTheDevice) {
    pc.drive('C').inUse = true;
    auto c = Disk("C");
    const auto before = pc.ReadImage("disk.img", 0, 8 << 20);
    auto method = testing::MethodFromLines({"HEXA=$00"});
    EXPECT_EQ(RaisedMessage<Xlock>([&] { c->WipeDisk(method.get(), false, 0, 0, ""); }),
              "T9xLogicalDisk._Lock(0,0) : " + SysText(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(owner.questions.empty()); // no dismount is offered on 9x
    EXPECT_EQ(c->Handle(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u);
    // Nothing was written; the lock asked for level 0, permissions 0 on drive 3.
    EXPECT_EQ(pc.ReadImage("disk.img", 0, 8 << 20), before);
    const auto locks = PacketsOf(VWIN32_DIOC_DOS_IOCTL, 0x084A);
    ASSERT_EQ(locks.size(), 1u);
    EXPECT_EQ(locks[0].in.reg_EBX, 3u);
    EXPECT_EQ(locks[0].in.reg_EDX, 0u);
    EXPECT_FALSE(locks[0].ok);
    EXPECT_TRUE(PacketsOf(VWIN32_DIOC_DOS_IOCTL, 0x486A).empty()); // no lock, no unlock
}

TEST_F(NineX, ReleasingAnOpenDiskUnlocksItAndClosesTheDevice) {
    {
        auto c = Disk("C");
        c->Open(false);
        EXPECT_NE(pc.drive('C').vwin32Lock, nullptr);
    }
    EXPECT_EQ(pc.drive('C').vwin32Lock, nullptr);
    EXPECT_EQ(PacketsOf(VWIN32_DIOC_DOS_IOCTL, 0x486A).size(), 1u);
    EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u);
    EXPECT_FALSE(pc.drive('C').accessFlag);
}

// ---- Transfers

TEST_F(NineX, TransfersTheSectorNumbersCannotNameAreRefusedUnsent) {
    auto c = Disk("C");
    c->Open(false);
    std::vector<std::uint8_t> buffer(1024, 0);
    const std::size_t sent = Packets().size();
    const std::int64_t beyond = std::int64_t{1} << 32;
    EXPECT_EQ(RaisedMessage<XMDIOCError>([&] { c->WriteBlocks(buffer.data(), 1, beyond); }),
              "T9xLogicalDisk.WriteBlocks( 4294967296,1) : block out of the reach of the disk "
              "services");
    EXPECT_THROW(c->WriteBlocks(buffer.data(), 2, beyond - 1), XMDIOCError);
    EXPECT_EQ(RaisedMessage<XMDIOCError>([&] { c->ReadBlocks(buffer.data(), 1, beyond + 5); }),
              "T9xLogicalDisk.ReadBlocks(4294967301,1) : block out of the reach of the disk "
              "services");
    EXPECT_THROW(c->ReadBlocks(buffer.data(), 1, INT64_MAX), XMDIOCError);
    EXPECT_THROW(c->ReadBlocks(buffer.data(), 0x10000, 0), XMDIOCError); // 16-bit count
    EXPECT_EQ(Packets().size(), sent);
    EXPECT_FALSE(c->Written);
    c->Close();
}

TEST_F(NineX, FailedTransfersRaiseWithTheServicesErrorAndOutOfDriveOnesAreRecorded) {
    auto c = Disk("C");
    std::vector<std::uint8_t> buffer(512, 0);
    c->Open(true);
    EXPECT_EQ(RaisedMessage<XReadOnly>([&] { c->WriteBlocks(buffer.data(), 1, 0); }),
              "Read only !!!");
    EXPECT_EQ(RaisedMessage<XMDIOCError>([&] { c->ReadBlocks(buffer.data(), 1, c->BlockCount); }),
              "T9xLogicalDisk.ReadBlocks(8128,1) : " + SysText(ERROR_SECTOR_NOT_FOUND));
    ASSERT_EQ(pc.machine().outOfExtent.size(), 1u);
    EXPECT_EQ(pc.machine().outOfExtent[0].device, "C:");
    EXPECT_EQ(pc.machine().outOfExtent[0].offset, 8128 * 512);
    c->Close();

    pc.drive('C').faults.writeBlocks.push_back({40, sim::Fault::Times(1, ERROR_WRITE_FAULT)});
    c->Open(false);
    EXPECT_EQ(RaisedMessage<XMDIOCError>([&] { c->WriteBlocks(buffer.data(), 1, 40); }),
              "T9xLogicalDisk.WriteBlocks( 40,1) : " + SysText(ERROR_WRITE_FAULT));
    EXPECT_FALSE(c->Written);
    c->WriteBlocks(buffer.data(), 1, 40);
    EXPECT_TRUE(c->Written);
    c->Close();
}

TEST_F(NineX, AFloppyIsWipedOneTrackPerTransfer) {
    auto a = MakeDisk<T9XFloppy>("A", &owner);
    auto method = testing::MethodFromLines({"HEXA=$E5"});
    TWipeContext wipe(method.get(), &owner);
    a->WipeDisk(wipe);
    EXPECT_EQ(wipe.Options.BufferSize, 18 * 512);
    const auto writes = PacketsOf(VWIN32_DIOC_DOS_DRIVEINFO);
    ASSERT_EQ(writes.size(), 160u); // 80 cylinders x 2 heads
    for (std::size_t i = 0; i < writes.size(); ++i) {
        EXPECT_EQ(writes[i].count, 18u);
        EXPECT_EQ(writes[i].sector, static_cast<std::int64_t>(i) * 18);
    }
    EXPECT_EQ(pc.ReadImage("floppy.img", 0, 1474560), std::vector<std::uint8_t>(1474560, 0xE5));
    EXPECT_FALSE(pc.drive('A').accessFlag); // written: media access forbidden again

    // A smaller transfer asked for stays; a larger one is cut to the track.
    Packets().clear();
    TWipeContext smaller(method.get(), &owner);
    smaller.Options.BufferSize = 4 * 512;
    a->WipeDisk(smaller);
    EXPECT_EQ(PacketsOf(VWIN32_DIOC_DOS_DRIVEINFO).front().count, 4u);
    TWipeContext larger(method.get(), &owner);
    larger.Options.BufferSize = 100 * 512;
    a->WipeDisk(larger);
    EXPECT_EQ(larger.Options.BufferSize, 18 * 512);
}

TEST_F(NineX, AWipeThatWroteForbidsMediaAccessAlsoWhenItFails) {
    auto d = Disk("D");
    auto method = testing::MethodFromLines({"HEXA=$11"});
    owner.abortAtUpdate = 2;
    EXPECT_THROW(d->WipeDisk(method.get(), false, 0, 0, ""), XAbort);
    EXPECT_TRUE(d->Written);
    // Forbidden by the wipe itself, then again by Close.
    const auto sets = PacketsOf(VWIN32_DIOC_DOS_IOCTL, 0x4847);
    EXPECT_EQ(sets.size(), 2u);
    EXPECT_FALSE(pc.drive('D').accessFlag);
    EXPECT_EQ(pc.drive('D').vwin32Lock, nullptr);
    EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u);
}

// ---- Format

TEST_F(NineX, FormatOnlyOffersTheShellsDialog) {
    auto d = Disk("D");
    d->Open(true);
    d->Close();
    EXPECT_THROW(testing::FormatAlone(*d, TFormatParams{}), XReadOnly);
    d->Open(false);
    d->Close();
    owner.answers = {mrNo, mrYes};
    testing::FormatAlone(*d, TFormatParams{});
    EXPECT_TRUE(pc.machine().shellFormats.empty());
    testing::FormatAlone(*d, TFormatParams{});
    ASSERT_EQ(pc.machine().shellFormats.size(), 1u);
    EXPECT_EQ(pc.machine().shellFormats[0].drive, 3u);
    ASSERT_EQ(owner.Kinds(), (std::vector<int>{mkQueryWinFormat9x, mkQueryWinFormat9x}));
    EXPECT_EQ(owner.questions[0].detail, d->Description);
    EXPECT_EQ(owner.questions[0].buttons, mbYesNo);
    EXPECT_TRUE(pc.machine().formats.empty());
}

// ---- End to end

TEST(NineXWipeEndToEnd, TheDiskManagerWipesADriveByteForByteAndLeavesItsNeighbourAlone) {
    SimPC pc(NineXMachine(1998));
    std::vector<std::uint8_t> content(8 << 20);
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<std::uint8_t>((i * 13 + i / 512) & 0xFF);
    pc.WriteImage("disk.img", 0, content);

    ui::ScriptedHost host;
    TGUIDiskManager manager(host);
    manager.Detect();
    EXPECT_TRUE(host.dialogs().empty());
    ASSERT_EQ(manager.LogicalDisks.Count(), 4); // A, C, D, Z
    TDisk* d = manager.LogicalDisks.Items(2);
    ASSERT_EQ(d->Name, "D");
    auto method = testing::MethodFromLines({"HEXA=$A5", "HEXA=$5A", "CHECK"});
    d->WipeDisk(method.get(), true, 0, 0, "");
    ASSERT_EQ(host.dialogs().size(), 1u); // only the format question, answered with none
    EXPECT_EQ(host.dialogs()[0].text.rfind("Error_QueryWinFormat9x", 0), 0u);

    const auto after = pc.ReadImage("disk.img", 0, 8 << 20);
    ASSERT_EQ(after.size(), content.size());
    for (std::size_t i = 0; i < after.size(); ++i) {
        const bool inD = static_cast<std::int64_t>(i) >= kPartD &&
                         static_cast<std::int64_t>(i) < kPartD + kPartDLength;
        ASSERT_EQ(after[i], inD ? 0x5A : content[i]) << "byte " << i;
    }
    EXPECT_TRUE(pc.machine().outOfExtent.empty());
    EXPECT_EQ(pc.drive('D').vwin32Lock, nullptr);
    EXPECT_FALSE(pc.drive('D').accessFlag);
    EXPECT_FALSE(pc.drive('D').volume.has_value()); // the file system is gone
    EXPECT_TRUE(pc.drive('C').volume.has_value());
}

} // namespace
} // namespace purgelet
