// TNTFloppy (media, the question for a missing disk, track transfers, the boot sector) and
// the format after a wipe, against simulated machines; and the end-to-end wipe of one
// partition of a two-partition disk.
#include "disk/disk_test_support.h"
#include "disk/nt/floppy.h"
#include "disk/nt/format.h"
#include "nt_sim_machines.h"
#include "support/recording_owner.h"
#include "support/sim_pc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

namespace purgelet {
namespace {

using testing::MethodFromLines;
using testing::NtMachine;
using testing::RecordingOwner;
using testing::SimPC;
using testing::SysText;
namespace sim = platform::sim;

// Inserts a disk when the owner is asked for one the nth time.
class InsertingOwner : public RecordingOwner {
public:
    SimPC* pc = nullptr;
    std::size_t insertAt = 0;
    int Message(MessageKind kind, const std::string& detail, TMsgDlgType type,
                TMsgDlgButtons buttons) override {
        int answer = RecordingOwner::Message(kind, detail, type, buttons);
        if (questions.size() == insertAt)
            pc->machine().InsertMedium('A', F3_1Pt44_512, "new.img");
        return answer;
    }
};

class NTFloppy : public ::testing::Test {
protected:
    SimPC pc{NtMachine()};
    InsertingOwner owner;
    std::unique_ptr<TNTFloppy> Floppy() { return MakeDisk<TNTFloppy>("A", &owner); }
    std::vector<DWORD> WriteSizes(const char* device) {
        std::vector<DWORD> sizes;
        for (const auto& c : pc.machine().calls)
            if (c.name == "WriteFile" && c.device == device)
                sizes.push_back(c.a);
        return sizes;
    }
};

TEST_F(NTFloppy, ShowsTheLargestSupportedMediumBeforeItsFirstOpen) {
    pc.machine().EjectMedium('A'); // no medium needs to be there
    auto a = Floppy();
    EXPECT_EQ(a->BlockCount, 2880);
    EXPECT_EQ(a->BlockSize, 512);
    EXPECT_EQ(a->Size, 1474560);
    EXPECT_EQ(a->MaxBlockCount, 2880);
    EXPECT_EQ(a->DriveType, 2);
    EXPECT_EQ(a->DeviceNumber, -1);
    EXPECT_EQ(a->PartitionNumber, 0);
    EXPECT_EQ(a->Description, "Floppy (A:)");
    EXPECT_EQ(a->FileSystem, "FAT12");
}

TEST_F(NTFloppy, ADriveReportingANonFloppyMediumIsRefused) {
    pc.drive('A').supportedMedia = {F3_1Pt44_512, RemovableMedia};
    try {
        Floppy();
        FAIL() << "no exception";
    } catch (const XCompatibility& e) {
        EXPECT_STREQ(e.what(), "TNTFloppy.init - Non floppy drive");
    }
    pc.drive('A').faults.mediaTypes = sim::Fault::Times(1, ERROR_INVALID_FUNCTION);
    try {
        Floppy();
        FAIL() << "no exception";
    } catch (const XDeviceIOControl& e) {
        EXPECT_EQ(e.what(), "NTLogicalDisk.init - DeviceIoControl(IOCTL_DISK_GET_MEDIA_TYPES) : " +
                                SysText(ERROR_INVALID_FUNCTION));
    }
    EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u);
}

TEST_F(NTFloppy, AnEmptyDriveAsksForADiskUntilOneIsThere) {
    pc.machine().EjectMedium('A');
    auto a = Floppy();
    owner.pc = &pc;
    owner.insertAt = 2;
    owner.answers = {mrRetry, mrRetry};
    a->Open(false);
    ASSERT_EQ(owner.Kinds(), (std::vector<int>{mkNoFloppy, mkNoFloppy}));
    EXPECT_EQ(owner.questions[0].buttons, mbAbortRetry);
    EXPECT_EQ(owner.questions[0].dlgType, TMsgDlgType::mtError);
    EXPECT_EQ(a->BlockCount, 2880);
    EXPECT_EQ(a->SectorsPerTrack, 18);
    a->Close();
}

TEST_F(NTFloppy, WithoutAnAnswerAnEmptyDriveRaisesXNoDiskAndShowsItsMaximumAgain) {
    pc.machine().EjectMedium('A');
    auto a = Floppy();
    try {
        a->Open(false);
        FAIL() << "no exception";
    } catch (const XNoDisk& e) {
        EXPECT_EQ(e.what(), "NTFloppy.open - DeviceIoControl(IOCTL_DISK_GET_DRIVE_GEOMETRY) : " +
                                SysText(ERROR_NOT_READY));
    }
    EXPECT_EQ(owner.questions.size(), 1u);
    EXPECT_EQ(a->BlockCount, 2880);
    EXPECT_EQ(a->Size, 1474560);
    EXPECT_EQ(a->Handle(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u);
}

TEST_F(NTFloppy, WipesOneTrackPerTransferAndForgetsItsSizeAfterwards) {
    auto a = Floppy();
    auto method = MethodFromLines({"HEXA=$F6"});
    TWipeContext wipe(method.get(), &owner);
    wipe.Options.Unbuffered = true;
    a->WipeDisk(wipe);
    auto sizes = WriteSizes("\\\\.\\A:");
    ASSERT_EQ(sizes.size(), 160u);
    EXPECT_TRUE(std::all_of(sizes.begin(), sizes.end(), [](DWORD s) { return s == 9216; }));
    EXPECT_EQ(pc.ReadImage("floppy.img", 0, 1474560), std::vector<std::uint8_t>(1474560, 0xF6));
    EXPECT_EQ(a->BlockCount, 0);
    EXPECT_EQ(a->Size, 0);
    EXPECT_EQ(a->BlockSize, 0);
    EXPECT_EQ(a->LastBlockCount, 2880);

    pc.machine().calls.clear();
    TWipeContext second(method.get(), &owner);
    second.Options.Unbuffered = true;
    second.Options.BufferSize = 4096;
    a->WipeDisk(second);
    sizes = WriteSizes("\\\\.\\A:");
    EXPECT_EQ(sizes.front(), 4096u);
}

TEST_F(NTFloppy, AFloppyReleasedWhileOpenForWritingGivesUpItsLock) {
    {
        auto a = Floppy();
        a->Open(false);
        EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 1u);
    }
    EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u);
    auto again = Floppy();
    EXPECT_NO_THROW(again->Open(false));
    EXPECT_TRUE(owner.questions.empty());
    again->Close();
}

TEST_F(NTFloppy, TheBootSectorIsTheFat12OneWithItsBootCode) {
    const auto& s = FloppyBootSector;
    EXPECT_EQ(s[0], 0xEB);
    EXPECT_EQ(s[1], 0x3C);
    EXPECT_EQ(std::string(s.begin() + 3, s.begin() + 11), "MSDOS5.0");
    EXPECT_EQ(s[11] | s[12] << 8, 512);
    EXPECT_EQ(s[17] | s[18] << 8, 224);
    EXPECT_EQ(s[19] | s[20] << 8, 2880);
    EXPECT_EQ(s[21], 0xF0);
    EXPECT_EQ(s[22], 9);
    EXPECT_EQ(s[24], 18);
    EXPECT_EQ(s[26], 2);
    EXPECT_EQ(s[38], 0x29);
    EXPECT_EQ(s[39] | s[40] << 8 | s[41] << 16 | static_cast<std::uint32_t>(s[42]) << 24,
              0x1C19BD33u);
    EXPECT_EQ(std::string(s.begin() + 43, s.begin() + 54), "NO NAME    ");
    EXPECT_EQ(std::string(s.begin() + 54, s.begin() + 62), "FAT12   ");
    const std::string code(s.begin() + 62, s.begin() + 510);
    EXPECT_NE(code.find("Remove disks or other media."), std::string::npos);
    EXPECT_NE(code.find("Disk error"), std::string::npos);
    EXPECT_NE(code.find("Press any key to restart"), std::string::npos);
    EXPECT_EQ(s[510], 0x55);
    EXPECT_EQ(s[511], 0xAA);
}

TEST_F(NTFloppy, OnlyA144DiskGetsTheBootSectorBeforeTheFormat) {
    pc.drive('A').format.fails = true; // keeps what was written before the format
    auto a = Floppy();
    a->Open(false);
    a->Close();
    EXPECT_THROW(testing::FormatAlone(*a, TFormatParams{}), XFormatError);
    EXPECT_EQ(pc.ReadImage("floppy.img", 0, 512),
              std::vector<std::uint8_t>(FloppyBootSector.begin(), FloppyBootSector.end()));
    ASSERT_EQ(pc.machine().formats.size(), 1u);
    EXPECT_EQ(pc.machine().formats[0].root, "A:");
    EXPECT_EQ(pc.machine().formats[0].mediaFlag, static_cast<DWORD>(FMIFS_FLOPPY));
    EXPECT_EQ(pc.machine().formats[0].fileSystem, "FAT12");

    pc.machine().InsertMedium('A', F3_720_512, "720.img");
    a->Open(false);
    a->Close();
    pc.machine().calls.clear();
    EXPECT_THROW(testing::FormatAlone(*a, TFormatParams{}), XFormatError);
    EXPECT_TRUE(WriteSizes("\\\\.\\A:").empty());
    EXPECT_EQ(pc.ReadImage("720.img", 0, 512), std::vector<std::uint8_t>(512, 0));
}

// ---- Formatting a partition

class NTFormat : public ::testing::Test {
protected:
    SimPC pc{NtMachine()};
    RecordingOwner owner;
    std::unique_ptr<TNTLogicalDisk> Wiped(const char* letter) {
        auto disk = MakeDisk<TNTLogicalDisk>(letter, &owner);
        disk->Open(false);
        disk->Close();
        return disk;
    }
};

TEST_F(NTFormat, RecreatesTheDetectedFileSystem) {
    auto e = Wiped("E");
    testing::FormatAlone(*e, TFormatParams{});
    auto f = Wiped("F");
    testing::FormatAlone(*f, TFormatParams{0, 4096, "NEW"});
    ASSERT_EQ(pc.machine().formats.size(), 2u);
    const sim::FormatCall& first = pc.machine().formats[0];
    EXPECT_EQ(first.root, "E:");
    EXPECT_EQ(first.fileSystem, "NTFS");
    EXPECT_EQ(first.label, "");
    EXPECT_EQ(first.mediaFlag, static_cast<DWORD>(FMIFS_HARDDISK));
    EXPECT_FALSE(first.quick);
    EXPECT_EQ(first.clusterSize, 0u);
    EXPECT_EQ(pc.machine().formats[1].fileSystem, "FAT32");
    EXPECT_EQ(pc.machine().formats[1].label, "NEW");
    EXPECT_EQ(pc.machine().formats[1].clusterSize, 4096u);
    EXPECT_EQ(owner.Disk, f.get());
    EXPECT_EQ(FormatFileSystemName(4, "FAT12"), "NTFS");
    EXPECT_EQ(FormatFileSystemName(9, "FAT12"), "");
}

TEST_F(NTFormat, ProgressFillsTheLastShareAfterThreePasses) {
    auto e = Wiped("E");
    auto method = MethodFromLines({"HEXA=$00", "HEXA=$FF", "HEXA=$A5"});
    ASSERT_EQ(method->PassCount, 3);
    TWipeContext wipe(method.get(), &owner);
    pc.drive('E').format.steps = 4;
    e->Format(TFormatParams{}, wipe);
    EXPECT_EQ(owner.progress, (std::vector<double>{0.8125, 0.875, 0.9375, 1.0}));
}

TEST_F(NTFormat, AnAbortDuringTheFormatRaisesXAbortWithoutTheFallbackQuestion) {
    auto e = Wiped("E");
    owner.abortAtUpdate = 2;
    try {
        testing::FormatAlone(*e, TFormatParams{});
        FAIL() << "no exception";
    } catch (const XAbort& abort) {
        EXPECT_STREQ(abort.what(), "RecordingOwner.Update - abort");
    }
    EXPECT_TRUE(owner.questions.empty());
    EXPECT_TRUE(pc.machine().shellFormats.empty());
}

TEST_F(NTFormat, AFailedFormatAsksForTheShellDialog) {
    pc.drive('E').format.fails = true;
    pc.drive('E').format.error = ERROR_WRITE_FAULT;
    auto e = Wiped("E");
    try { // unattended: no answer, the failure stands
        testing::FormatAlone(*e, TFormatParams{});
        FAIL() << "no exception";
    } catch (const XFormatError& error) {
        EXPECT_EQ(error.what(), "FMIFS.FORMAT - Format Error - " + SysText(ERROR_WRITE_FAULT));
    }
    ASSERT_EQ(owner.Kinds(), (std::vector<int>{mkQueryWinFormat}));
    EXPECT_EQ(owner.questions[0].buttons, mbYesNo);
    EXPECT_EQ(owner.questions[0].dlgType, TMsgDlgType::mtError);
    owner.answers = {mrYes};
    EXPECT_NO_THROW(testing::FormatAlone(*e, TFormatParams{}));
    ASSERT_EQ(pc.machine().shellFormats.size(), 1u);
    EXPECT_EQ(pc.machine().shellFormats[0].drive, 4u); // E
    EXPECT_EQ(pc.machine().shellFormats[0].formatId, 0u);
}

TEST_F(NTFormat, ReadOnlyDisksAndMissingLibrariesFailClearly) {
    auto e = MakeDisk<TNTLogicalDisk>("E", &owner);
    e->Open(true);
    e->Close();
    EXPECT_THROW(testing::FormatAlone(*e, TFormatParams{}), XReadOnly);
    EXPECT_TRUE(pc.machine().formats.empty());

    SimPC bare(nlohmann::json::parse(R"({"formatLibrary": "noFormatEx"})"));
    LoadFormatLibrary();
    try {
        FormatDrive("E:", "NTFS", "", 1, &FormatProgress, nullptr, 0, false);
        FAIL() << "no exception";
    } catch (const XFormatError& error) {
        EXPECT_NE(std::string(error.what()).find("not available"), std::string::npos);
    }
}

bool ThrowingHook(TWipeContext*, double) {
    throw std::runtime_error("hook failed");
}

TEST_F(NTFormat, AnyOtherFailureOfTheHookCancelsTheFormatAsAFormatError) {
    EXPECT_THROW(FormatDrive("E:", "NTFS", "", 1, &ThrowingHook, nullptr, 0, false), XFormatError);
    EXPECT_NO_THROW(FormatDrive("F:", "FAT32", "", 1, &FormatProgress, nullptr, 0, false));
}

// ---- End to end

TEST(NTWipeEndToEnd, WipingOnePartitionLeavesTheTableAndTheOtherPartitionAlone) {
    SimPC pc{NtMachine()};
    // Give every byte of the disk after the partition table a recognisable value.
    std::vector<std::uint8_t> content(testing::kNtDiskBytes - 512);
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<std::uint8_t>((i * 7 + i / 512) & 0xFF);
    pc.WriteImage("disk.img", 512, content);
    const auto before = pc.ReadImage("disk.img", 0, testing::kNtDiskBytes);

    RecordingOwner owner;
    auto e = MakeDisk<TNTLogicalDisk>("E", &owner);
    auto method = MethodFromLines({"HEXA=$55", "HEXA=$AA", "HEXA=$A5"});
    TWipeContext wipe(method.get(), &owner);
    wipe.Options.Unbuffered = true;
    e->WipeDisk(wipe);

    const auto after = pc.ReadImage("disk.img", 0, testing::kNtDiskBytes);
    ASSERT_EQ(after.size(), before.size());
    for (std::int64_t i = 0; i < testing::kNtDiskBytes; ++i) {
        const bool inE = i >= testing::kNtPartE && i < testing::kNtPartE + testing::kNtPartLength;
        const std::uint8_t expected = inE ? 0xA5 : before[static_cast<std::size_t>(i)];
        ASSERT_EQ(after[static_cast<std::size_t>(i)], expected) << "byte " << i;
    }
    EXPECT_EQ(after[510], 0x55); // the partition table is still there
    EXPECT_EQ(after[511], 0xAA);
    EXPECT_TRUE(pc.machine().outOfExtent.empty());
    EXPECT_EQ(pc.machine().CountCalls("\\\\.\\E:", "DeviceIoControl", FSCTL_LOCK_VOLUME), 1);
    EXPECT_EQ(pc.machine().CountCalls("\\\\.\\E:", "DeviceIoControl", FSCTL_UNLOCK_VOLUME), 1);
    EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u);
    EXPECT_NEAR(owner.progress.back(), 1.0, 1e-3);
}

} // namespace
} // namespace purgelet
