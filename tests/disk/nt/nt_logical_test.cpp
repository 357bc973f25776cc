// TNTLogicalDisk and TNTPhysicalDisk against simulated machines: what init learns, every
// failure with its class and message, the volume lock protocol, the transfers, and the
// release of a disk that is still open.
#include "disk/nt/nt_disk.h"
#include "nt_sim_machines.h"
#include "support/recording_owner.h"
#include "support/sim_pc.h"

#include <gtest/gtest.h>

#include <vector>

namespace purgelet {
namespace {

using testing::kNtPartE;
using testing::NtMachine;
using testing::RecordingOwner;
using testing::SimPC;
using testing::SysText;
namespace sim = platform::sim;

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

class NTLogical : public ::testing::Test {
protected:
    explicit NTLogical(nlohmann::json machine = NtMachine()) : pc(std::move(machine)) {}
    SimPC pc;
    RecordingOwner owner;

    std::unique_ptr<TNTLogicalDisk> Disk(const char* letter) {
        return MakeDisk<TNTLogicalDisk>(letter, &owner);
    }
    sim::DeviceFaults& Faults(char letter) { return pc.drive(letter).faults; }
    int Calls(const char* device, const char* name, DWORD code = 0) {
        return pc.machine().CountCalls(device, name, code);
    }
};

// ---- init

TEST_F(NTLogical, InitLearnsTheVolumeThePartitionAndItsDisk) {
    auto e = Disk("E");
    EXPECT_EQ(e->DevicePath, "\\\\.\\E:");
    EXPECT_EQ(e->Description, "SYSTEM (E:)");
    EXPECT_EQ(e->FileSystem, "NTFS");
    EXPECT_EQ(e->BlockSize, 512);
    EXPECT_EQ(e->StartingOffset, kNtPartE);
    EXPECT_EQ(e->Size, testing::kNtPartLength);
    EXPECT_EQ(e->BlockCount, testing::kNtPartLength / 512);
    EXPECT_EQ(e->BootIndicator, 1);
    EXPECT_EQ(e->PartitionNumber, 1);
    EXPECT_EQ(e->DeviceNumber, 1);
    EXPECT_EQ(e->DriveType, 1);
    EXPECT_EQ(e->Handle(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u);
    // The query handle was opened to read, shared, without flags.
    const sim::Call& open = pc.machine().calls.front();
    EXPECT_EQ(open.name, "CreateFileA");
    EXPECT_EQ(open.a, GENERIC_READ);
    EXPECT_EQ(open.b, static_cast<DWORD>(FILE_SHARE_READ | FILE_SHARE_WRITE));
    EXPECT_EQ(open.c, 0u);
}

TEST_F(NTLogical, DescriptionsFallBackFromTheShellToTheLabelToTheKind) {
    EXPECT_EQ(Disk("F")->Description, "Local Disk (F:)");
    EXPECT_EQ(Disk("R")->Description, "Removable Disk (R:)");
    pc.drive('F').displayName = "Daten (F:)";
    EXPECT_EQ(Disk("F")->Description, "Daten (F:)");
    pc.drive('R').volume.reset(); // unformatted: the partition type names the file system
    auto r = Disk("R");
    EXPECT_EQ(r->Description, "Logical drive (R:)");
    EXPECT_EQ(r->FileSystem, "Unknown"); // type 6
    pc.drive('R').partitionType = 14;
    EXPECT_EQ(Disk("R")->FileSystem, "FAT16");
}

TEST_F(NTLogical, InitFailuresRaiseTheirClassWithTheirMessage) {
    Faults('E').open = sim::Fault::Times(1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(RaisedMessage<XNTCreateFile>([&] { Disk("E"); }),
              "NTLogicalDisk.init - CreateFile('\\\\.\\E:') : " + SysText(ERROR_ACCESS_DENIED));
    Faults('E').geometry = sim::Fault::Times(1, ERROR_NOT_READY);
    EXPECT_EQ(RaisedMessage<XDeviceIOControl>([&] { Disk("E"); }),
              "NTLogicalDisk.init - DeviceIoControl(IOCTL_DISK_GET_DRIVE_GEOMETRY) : " +
                  SysText(ERROR_NOT_READY));
    Faults('E').partitionInfo = sim::Fault::Times(1, ERROR_INVALID_FUNCTION);
    EXPECT_EQ(RaisedMessage<XDeviceIOControl>([&] { Disk("E"); }),
              "NTLogicalDisk.init - DeviceIoControl(IOCTL_DISK_GET_PARTITION_INFO) : " +
                  SysText(ERROR_INVALID_FUNCTION));
    EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u); // every failure closed its handle
    pc.drive('E').length -= 100;
    EXPECT_EQ(RaisedMessage<XGeometryError>([&] { Disk("E"); }), "Geometry error - E (\\\\.\\E:)");
}

TEST_F(NTLogical, TheDriveTypeTestComesAfterTheDeviceQueries) {
    pc.drive('R').kind = sim::DriveKind::Network;
    EXPECT_EQ(RaisedMessage<XRemote>([&] { Disk("R"); }),
              "TNTLogicalDisk.init - GetDriveType(R:\\) - Remote");
    pc.drive('R').kind = sim::DriveKind::NoRootDir;
    EXPECT_EQ(RaisedMessage<XNoRootDir>([&] { Disk("R"); }),
              "TNTLogicalDisk.init - GetDriveType(R:\\) - No_Root_Dir");
    Faults('R').open = sim::Fault::Always(ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RaisedMessage<XNTCreateFile>([&] { Disk("R"); }).rfind("NTLogicalDisk.init", 0), 0u);
}

TEST_F(NTLogical, APartitionWithoutDeviceNumberKeepsNoOwner) {
    auto r = Disk("R"); // an image of its own: the disk number query is not supported
    EXPECT_EQ(r->DeviceNumber, -1);
    EXPECT_EQ(r->PartitionNumber, -1);
    Faults('E').deviceNumber = sim::Fault::Times(1, ERROR_INVALID_FUNCTION);
    auto e = Disk("E");
    EXPECT_EQ(e->DeviceNumber, -1);
    EXPECT_EQ(e->PartitionNumber, -1);

    auto count = e->GetSortedPropertiesCount();
    for (int i = 0; i < count; ++i) {
        TGenericProperty p;
        e->GetProperty(i, p);
        EXPECT_NE(p.Id, propOwner);
    }
    auto physical = MakeDisk<TNTPhysicalDisk>(pc.machine().disks[0].devicePath, &owner,
                                              std::string("SIM DISK 0"));
    e->OwnerDisk = physical.get();
    count = e->GetSortedPropertiesCount();
    TGenericProperty last;
    e->GetProperty(count - 1, last);
    EXPECT_EQ(last.Id, propTotalSpace); // sorted: the owner (3) moved up
    TGenericProperty third;
    e->GetProperty(2, third);
    EXPECT_EQ(third, (TGenericProperty{propOwner, std::string("SIM DISK 0")}));
}

// ---- Open, lock, close

TEST_F(NTLogical, ReadOnlyOpensNeverLockAndWritingOpensLockAndUnlock) {
    auto e = Disk("E");
    TOpenMode unbuffered;
    unbuffered.Unbuffered = true;
    e->Open(true);
    EXPECT_NE(e->Handle(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(pc.machine().calls.back().c, 0u); // no unbuffered flags to read
    e->Close();
    EXPECT_EQ(e->Handle(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(Calls("\\\\.\\E:", "DeviceIoControl", FSCTL_LOCK_VOLUME), 0);
    EXPECT_EQ(Calls("\\\\.\\E:", "DeviceIoControl", FSCTL_UNLOCK_VOLUME), 0);

    e->OpenForWipe(unbuffered);
    EXPECT_EQ(pc.machine().calls[pc.machine().calls.size() - 2].c, 0xA0000000u);
    EXPECT_EQ(Calls("\\\\.\\E:", "DeviceIoControl", FSCTL_LOCK_VOLUME), 1);
    e->Close();
    EXPECT_EQ(Calls("\\\\.\\E:", "DeviceIoControl", FSCTL_UNLOCK_VOLUME), 1);
    EXPECT_TRUE(owner.questions.empty());
    EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u);
}

TEST_F(NTLogical, AVolumeInUseAsksOnceAndYesDismountsAndLocks) {
    auto e = Disk("E");
    pc.drive('E').inUse = true;
    owner.answers = {mrYes};
    e->Open(false);
    ASSERT_EQ(owner.questions.size(), 1u);
    EXPECT_EQ(owner.questions[0].kind, mkQueryForceDisMount);
    EXPECT_EQ(owner.questions[0].detail, "SYSTEM (E:)");
    EXPECT_EQ(owner.questions[0].dlgType, TMsgDlgType::mtConfirmation);
    EXPECT_EQ(owner.questions[0].buttons, mbYesNo);
    EXPECT_EQ(Calls("\\\\.\\E:", "DeviceIoControl", FSCTL_DISMOUNT_VOLUME), 1);
    EXPECT_EQ(Calls("\\\\.\\E:", "DeviceIoControl", FSCTL_LOCK_VOLUME), 2);
    EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 1u);
    EXPECT_FALSE(e->ReadOnly);
    e->Close();
}

TEST_F(NTLogical, NoRaisesXlockLeavesTheVolumeMountedAndClosesTheHandle) {
    auto e = Disk("E");
    pc.drive('E').inUse = true;
    owner.answers = {mrNo};
    EXPECT_EQ(RaisedMessage<Xlock>([&] { e->Open(false); }),
              "TNTLogicalDisk.Lock - DeviceIoControl(FSCTL_LOCK_VOLUME) : " +
                  SysText(ERROR_ACCESS_DENIED));
    EXPECT_EQ(owner.questions.size(), 1u);
    EXPECT_EQ(Calls("\\\\.\\E:", "DeviceIoControl", FSCTL_DISMOUNT_VOLUME), 0);
    EXPECT_TRUE(pc.drive('E').inUse);
    EXPECT_EQ(e->Handle(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u);
    // Unattended (no answer) is a No as well.
    EXPECT_THROW(e->Open(false), Xlock);
}

TEST_F(NTLogical, AVolumeTakenAgainAfterEveryDismountEndsInXlockAfterAFewTries) {
    auto e = Disk("E");
    pc.drive('E').inUse = true;
    Faults('E').lock = sim::Fault::Always(ERROR_ACCESS_DENIED);
    owner.answers = {mrYes, mrYes, mrYes, mrYes, mrYes, mrYes};
    EXPECT_EQ(RaisedMessage<Xlock>([&] { e->Open(false); }),
              "TNTLogicalDisk.Lock - DeviceIoControl(FSCTL_LOCK_VOLUME) : " +
                  SysText(ERROR_ACCESS_DENIED));
    const int tries = TNTLogicalDisk::kMaxForcedDismounts;
    EXPECT_EQ(owner.questions.size(), static_cast<std::size_t>(tries));
    EXPECT_EQ(Calls("\\\\.\\E:", "DeviceIoControl", FSCTL_DISMOUNT_VOLUME), tries);
    EXPECT_EQ(Calls("\\\\.\\E:", "DeviceIoControl", FSCTL_LOCK_VOLUME), tries + 1);
    EXPECT_EQ(e->Handle(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u);

    // The count belongs to one Open: the next one asks again.
    Faults('E').lock = sim::Fault{};
    owner.questions.clear();
    owner.answers = {mrYes};
    pc.drive('E').inUse = true;
    pc.drive('E').dismounted = false;
    e->Open(false);
    EXPECT_EQ(owner.questions.size(), 1u);
    e->Close();
}

TEST_F(NTLogical, VolumeControlFailuresRaiseTheirClasses) {
    auto e = Disk("E");
    pc.drive('E').inUse = true;
    Faults('E').dismount = sim::Fault::Always(ERROR_ACCESS_DENIED);
    owner.answers = {mrYes};
    EXPECT_EQ(RaisedMessage<XDisMount>([&] { e->Open(false); }),
              "TNTLogicalDisk.DisMount - DeviceIoControl(FSCTL_DISMOUNT_VOLUME) : " +
                  SysText(ERROR_ACCESS_DENIED));
    EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u);

    pc.drive('E').inUse = false;
    e->Open(false);
    Faults('E').unlock = sim::Fault::Times(1, ERROR_NOT_LOCKED);
    EXPECT_EQ(RaisedMessage<XUnLock>([&] { e->Close(); }),
              "TNTLogicalDisk.UnLock - DeviceIoControl(FSCTL_UNLOCK_VOLUME) : " +
                  SysText(ERROR_NOT_LOCKED));
    EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u); // closed all the same

    e->Open(true);
    Faults('E').close = sim::Fault::Times(1, ERROR_INVALID_HANDLE);
    EXPECT_EQ(RaisedMessage<XSystemCall>([&] { e->Close(); }),
              "TNTLogicalDisk.Close - CloseHandle : " + SysText(ERROR_INVALID_HANDLE));
    EXPECT_EQ(e->Handle(), INVALID_HANDLE_VALUE);

    Faults('E').open = sim::Fault::Times(1, ERROR_SHARING_VIOLATION);
    EXPECT_EQ(RaisedMessage<XNTCreateFile>([&] { e->Open(false); }),
              "TNTLogicalDisk.Open - CreateFile(\\\\.\\E:) : " + SysText(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(e->Handle(), INVALID_HANDLE_VALUE);
}

// ---- Transfers

TEST_F(NTLogical, BlocksGoToTheirPlaceInsideThePartition) {
    auto e = Disk("E");
    TOpenMode unbuffered;
    unbuffered.Unbuffered = true;
    e->OpenForWipe(unbuffered);
    alignas(4096) static std::uint8_t data[2048];
    std::fill(std::begin(data), std::end(data), 0x5A);
    e->WriteBlocks(data, 4, 10);
    alignas(4096) static std::uint8_t back[2048];
    e->ReadBlocks(back, 4, 10);
    EXPECT_TRUE(std::equal(std::begin(data), std::end(data), std::begin(back)));
    e->Close();
    EXPECT_EQ(pc.ReadImage("disk.img", kNtPartE + 10 * 512, 2048),
              std::vector<std::uint8_t>(2048, 0x5A));
    EXPECT_TRUE(pc.machine().outOfExtent.empty());
}

TEST_F(NTLogical, ShortAndFailedTransfersRaiseWithBlockAndCount) {
    auto e = Disk("E");
    Faults('E').readBlocks.push_back({5, sim::Fault::Always(ERROR_CRC), true});
    Faults('E').writeBlocks.push_back({8, sim::Fault::Always(ERROR_WRITE_FAULT)});
    e->Open(false);
    std::vector<std::uint8_t> buffer(4096);
    pc.kernel().SetLastError(ERROR_CRC);
    EXPECT_EQ(RaisedMessage<XReadFile>([&] { e->ReadBlocks(buffer.data(), 4, 3); }),
              "TNTLogicalDisk.ReadBlocks : (buff,3,4) : " + SysText(ERROR_SUCCESS));
    EXPECT_EQ(RaisedMessage<XWriteFile>([&] { e->WriteBlocks(buffer.data(), 2, 7); }),
              "TNTLogicalDisk.WriteBlocks : (buff,7,2) : " + SysText(ERROR_WRITE_FAULT));
    EXPECT_NE(e->Handle(), INVALID_HANDLE_VALUE); // the device stays open
    e->Close();
}

TEST_F(NTLogical, WriteBlocksOnAReadOnlyDiskRaisesBeforeAnySeek) {
    auto e = Disk("E");
    e->Open(true);
    std::vector<std::uint8_t> buffer(512);
    EXPECT_EQ(RaisedMessage<XReadOnly>([&] { e->WriteBlocks(buffer.data(), 1, 0); }),
              "Read only !!!");
    EXPECT_EQ(Calls("\\\\.\\E:", "SetFilePointer"), 0);
    EXPECT_EQ(Calls("\\\\.\\E:", "WriteFile"), 0);
    e->Close();
}

TEST_F(NTLogical, SeeksFailOnlyWithALastErrorBesidesTheirAnswer) {
    auto e = Disk("E");
    e->Open(true);
    std::vector<std::uint8_t> buffer(512);
    Faults('E').seek = sim::Fault::Times(1, ERROR_SEEK);
    EXPECT_EQ(RaisedMessage<XSystemCall>([&] { e->SetCurrentBlock(5); }),
              "TNTLogicalDisk.SetCurrentBlock(5) : " + SysText(ERROR_SEEK));
    // 0xFFFFFFFF with no error is an offset, not a failure.
    Faults('E').seek = sim::Fault::Times(1, ERROR_SUCCESS);
    EXPECT_NO_THROW(e->SetCurrentBlock(7));
    e->Close();
}

TEST_F(NTLogical, PrepareToRetryReopensInTheSameMode) {
    auto e = Disk("E");
    e->Open(false);
    HANDLE before = e->Handle();
    e->PrepareToRetry();
    EXPECT_FALSE(e->ReadOnly);
    EXPECT_NE(e->Handle(), before);
    EXPECT_EQ(Calls("\\\\.\\E:", "DeviceIoControl", FSCTL_LOCK_VOLUME), 2);
    std::vector<std::uint8_t> buffer(512, 1);
    EXPECT_NO_THROW(e->WriteBlocks(buffer.data(), 1, 0));
    e->Close();
    e->Open(true);
    e->PrepareToRetry();
    EXPECT_TRUE(e->ReadOnly);
    EXPECT_EQ(Calls("\\\\.\\E:", "DeviceIoControl", FSCTL_LOCK_VOLUME), 2);
    e->Close();
    EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u);
}

// ---- Released while open

// A disk freed while open (a refreshed list, a manager torn down mid-run) leaves neither its
// handle nor its volume lock behind: the volume can be opened for writing again at once.
TEST_F(NTLogical, APartitionReleasedWhileOpenCanBeOpenedForWritingAtOnce) {
    for (bool readOnly : {false, true}) {
        const int unlocks = Calls("\\\\.\\E:", "DeviceIoControl", FSCTL_UNLOCK_VOLUME);
        {
            auto e = Disk("E");
            e->Open(readOnly);
            pc.kernel().SetLastError(ERROR_CRC); // a failure on its way out past the disk
        }
        EXPECT_EQ(pc.kernel().GetLastError(), static_cast<DWORD>(ERROR_CRC)) << readOnly;
        EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u) << readOnly;
        EXPECT_EQ(Calls("\\\\.\\E:", "DeviceIoControl", FSCTL_UNLOCK_VOLUME),
                  unlocks + (readOnly ? 0 : 1));
        auto again = Disk("E");
        EXPECT_NO_THROW(again->Open(false)) << readOnly;
        EXPECT_TRUE(owner.questions.empty()) << readOnly; // no forced dismount was needed
        again->Close();
    }
    // Closed before its release: the release does nothing more.
    auto e = Disk("E");
    e->Open(false);
    e->Close();
    const std::size_t calls = pc.machine().calls.size();
    e.reset();
    EXPECT_EQ(pc.machine().calls.size(), calls);
}

TEST_F(NTLogical, AFailingReleaseRaisesNothingAndStillClosesTheHandle) {
    for (bool failClose : {false, true}) {
        {
            auto e = Disk("E");
            e->Open(false);
            if (failClose)
                Faults('E').close = sim::Fault::Times(1, ERROR_INVALID_HANDLE);
            else
                Faults('E').unlock = sim::Fault::Times(1, ERROR_NOT_LOCKED);
        }
        EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u) << failClose;
        auto again = Disk("E");
        EXPECT_NO_THROW(again->Open(false)) << failClose;
        again->Close();
    }
}

// ---- Physical disks

class NTPhysical : public NTLogical {
protected:
    std::string path = pc.machine().disks[0].devicePath;
    std::unique_ptr<TNTPhysicalDisk> Disk() {
        return MakeDisk<TNTPhysicalDisk>(path, &owner, std::string("SIM DISK 0"));
    }
    sim::DeviceFaults& Faults() { return pc.machine().disks[0].faults; }
};

TEST_F(NTPhysical, InitTakesTheWholeGeometry) {
    auto d = Disk();
    EXPECT_EQ(d->DevicePath, path);
    EXPECT_EQ(d->Description, "SIM DISK 0");
    EXPECT_EQ(d->BlockCount, 16 * 16 * 64);
    EXPECT_EQ(d->Size, testing::kNtDiskBytes);
    EXPECT_EQ(d->DeviceNumber, 1);
    EXPECT_EQ(d->PartitionNumber, 0);
    EXPECT_EQ(d->DriveType, 1);
    pc.machine().disks[0].geometry.MediaType = RemovableMedia;
    EXPECT_EQ(Disk()->DriveType, 3);
}

TEST_F(NTPhysical, FailuresRaiseTheirClassWithTheirMessage) {
    Faults().open = sim::Fault::Times(1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(RaisedMessage<XNTCreateFile>([&] { Disk(); }),
              "NTPhysical.init - CreateFile('" + path + "') : " + SysText(ERROR_ACCESS_DENIED));
    Faults().geometry = sim::Fault::Times(1, ERROR_NOT_READY);
    EXPECT_EQ(RaisedMessage<XDeviceIOControl>([&] { Disk(); }),
              "NTPhysicalDisk.init - DeviceIoControl(IOCTL_DISK_GET_DRIVE_GEOMETRY) : " +
                  SysText(ERROR_NOT_READY));
    Faults().deviceNumber = sim::Fault::Times(1, ERROR_INVALID_FUNCTION);
    EXPECT_EQ(RaisedMessage<XDeviceIOControl>([&] { Disk(); }),
              "NTPhysicalDisk.init - DeviceIoControl(IOCTL_STORAGE_GET_DEVICE_NUMBER) : " +
                  SysText(ERROR_INVALID_FUNCTION));
    EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u);

    auto d = Disk();
    Faults().open = sim::Fault::Times(1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(RaisedMessage<XNTCreateFile>([&] { d->Open(false); }),
              "TNTPhysicalDisk.Open - CreateFile(" + path + ") : " + SysText(ERROR_ACCESS_DENIED));
    d->Open(false);
    EXPECT_EQ(pc.machine().calls.back().c, 0u); // never unbuffered
    std::vector<std::uint8_t> buffer(2048);
    Faults().seek = sim::Fault::Times(1, ERROR_SEEK);
    EXPECT_EQ(RaisedMessage<XSystemCall>([&] { d->ReadBlocks(buffer.data(), 1, 7); }),
              "TNTPhysicalDisk.SetCurrentBlock(7) : " + SysText(ERROR_SEEK));
    Faults().readBlocks.push_back({2, sim::Fault::Times(1, ERROR_CRC)});
    EXPECT_EQ(RaisedMessage<XReadFile>([&] { d->ReadBlocks(buffer.data(), 2, 1); }),
              "TNTPhysicalDisk.ReadBlocks(buff,1,2) : " + SysText(ERROR_CRC));
    Faults().writeBlocks.push_back({3, sim::Fault::Times(1, ERROR_WRITE_FAULT)});
    EXPECT_EQ(RaisedMessage<XWriteFile>([&] { d->WriteBlocks(buffer.data(), 4, 0); }),
              "TNTPhysicalDisk.WriteBlocks(buff,0,4) : " + SysText(ERROR_WRITE_FAULT));
    EXPECT_EQ(Calls(path.c_str(), "DeviceIoControl", FSCTL_LOCK_VOLUME), 0);
    Faults().close = sim::Fault::Times(1, ERROR_INVALID_HANDLE);
    EXPECT_EQ(RaisedMessage<XSystemCall>([&] { d->Close(); }),
              "TNTPhysicalDisk.Close - CloseHandle : " + SysText(ERROR_INVALID_HANDLE));
    d->Open(true);
    EXPECT_EQ(RaisedMessage<XReadOnly>([&] { d->WriteBlocks(buffer.data(), 1, 0); }),
              "Read only !!!");
    d->Close();
}

TEST_F(NTPhysical, ADiskReleasedWhileOpenClosesItsDevice) {
    for (bool readOnly : {false, true}) {
        {
            auto d = Disk();
            d->Open(readOnly);
            EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 1u);
        }
        EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u) << readOnly;
        auto again = Disk();
        EXPECT_NO_THROW(again->Open(false)) << readOnly;
        again->Close();
    }
}

} // namespace
} // namespace purgelet
