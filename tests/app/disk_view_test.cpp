// The block viewer on a simulated PC whose drives have 4096-byte sectors and are read without
// system caching, so that a buffer that is not sector-aligned is refused as on a real device:
// the dump, navigation, Goto with its error boxes, the status line from the language file,
// and the disk closed on every way out (proved by opening it for writing afterwards).
#include "app/disk_view.h"
#include "disk/nt/nt_disk.h"
#include "lang/language.h"
#include "report/exceptions.h"
#include "support/memory_disk.h"
#include "support/recording_owner.h"
#include "support/sim_pc.h"
#include "ui/scripted_host.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace purgelet {
namespace {

using testing::RecordingOwner;
using testing::SimPC;

constexpr int kSector = 4096;
constexpr int kLines = kSector / 16;

nlohmann::json Machine() {
    return nlohmann::json::parse(R"J({
      "drives": [
        {"letter": "E", "kind": "fixed", "image": "e.img", "size": 32768, "bytesPerSector": 4096,
         "volume": {"label": "DATA", "fileSystem": "NTFS"}},
        {"letter": "O", "kind": "removable", "image": "one.img", "size": 4096,
         "bytesPerSector": 4096, "volume": {"label": "ONE", "fileSystem": "FAT"}}
      ]})J");
}

// A drive letter opened for reading without system caching (FILE_FLAG_NO_BUFFERING, O_DIRECT
// on Linux), where the device takes only sector-aligned buffers.
class UnbufferedDisk : public TNTLogicalDisk {
public:
    using TNTLogicalDisk::TNTLogicalDisk;
    void Open(bool readOnly) override {
        if (!readOnly) {
            TNTLogicalDisk::Open(false);
            return;
        }
        ReadOnly = true;
        DeviceHandle.Reset(platform::k32().CreateFileA(
            DevicePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
            OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, nullptr));
        if (!DeviceHandle)
            throw XNTCreateFile("UnbufferedDisk.Open - CreateFile(" + DevicePath + ")");
    }
};

// An optical disc: the viewer must refuse it without opening it.
class Disc : public TCDDVDDisk {
public:
    using TCDDVDDisk::TCDDVDDisk;
    int opens = 0;
    void init() override {}
    void Wipe(TWipeContext&) override {}
    void Open(bool) override { ++opens; }
};

// A disk of more blocks than a 32-bit number counts; block n is filled with n's low byte.
class HugeDisk : public TPhysicalDisk {
public:
    using TPhysicalDisk::TPhysicalDisk;
    std::vector<std::int64_t> reads;
    void init() override {
        BlockSize = 512;
        BlockCount = 2147483648LL + 5;
    }
    void Wipe(TWipeContext&) override {}
    void Open(bool) override {}
    void Close() override {}
    void ReadBlocks(void* buffer, std::int32_t count, std::int64_t block) override {
        reads.push_back(block);
        std::memset(buffer, static_cast<int>(block & 0xFF), static_cast<std::size_t>(count) * 512);
    }
    void WriteBlocks(const void*, std::int32_t, std::int64_t) override {}
};

std::string Repeat(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += text;
    return out;
}

const std::string kZeroLine = Repeat("00 ", 16) + "  " + std::string(16, ' ');

class DiskView : public ::testing::Test {
protected:
    DiskView() : pc(Machine()), viewer(host) {}
    ~DiskView() override {
        LanguageTable.Clear();
        LanguageTable.Sorted = true;
    }

    std::unique_ptr<UnbufferedDisk> Disk(const char* letter) {
        return MakeDisk<UnbufferedDisk>(letter, &owner);
    }
    void WriteBlock(const char* image, std::int64_t block, std::vector<std::uint8_t> bytes) {
        pc.WriteImage(image, block * kSector, bytes);
    }
    std::size_t OpenHandles() { return pc.kernel().OpenDeviceHandles(); }
    // Open for writing takes the volume lock, which a handle left open would refuse.
    void ExpectReopensForWriting(TDisk& disk) {
        EXPECT_NO_THROW({
            disk.Open(false);
            disk.Close();
        });
    }

    SimPC pc;
    RecordingOwner owner;
    ui::ScriptedHost host;
    TFrmDiskview viewer;
};

TEST_F(DiskView, ShowsBlockZeroReadOnlyAndClosesTheDiskWithTheWindow) {
    auto disk = Disk("E");
    host.Then([&] {
        EXPECT_EQ(viewer.Caption, "diskView DATA (E:)");
        EXPECT_EQ(viewer.StatusBar.SimpleText, "Block 0 of 8");
        ASSERT_EQ(viewer.Memo.Lines.size(), static_cast<std::size_t>(kLines));
        for (const std::string& line : viewer.Memo.Lines)
            EXPECT_EQ(line, kZeroLine);
        EXPECT_EQ(kZeroLine.size(), 66u);
        EXPECT_FALSE(viewer.tbBack.Enabled());
        EXPECT_TRUE(viewer.tbNext.Enabled());
        EXPECT_EQ(OpenHandles(), 1u);
        EXPECT_TRUE(disk->ReadOnly);
    });
    host.Key({ui::TKey::Escape});
    viewer.ShowDisk(*disk);

    EXPECT_EQ(host.modalForms(), std::vector<std::string>{"FrmDiskview"});
    EXPECT_EQ(host.unexpectedDialogs(), 0);
    EXPECT_EQ(viewer.FDisk, nullptr);
    EXPECT_EQ(OpenHandles(), 0u);
    ExpectReopensForWriting(*disk);
}

TEST_F(DiskView, LinesShowHexInUpperCaseAndControlBytesAsSpaces) {
    auto disk = Disk("E");
    std::vector<std::uint8_t> bytes = {0x00, 0x09, 0x0A, 0x0D, 0x60, 'A', 'b',  '~',
                                       0xAB, 0x7F, 0x01, '%',  's',  ' ', 0xFF, 0x5F};
    bytes.resize(kSector, 0);
    bytes[kSector - 1] = 'Z';
    WriteBlock("e.img", 1, bytes);

    host.Click("tbNext").Then([&] {
        EXPECT_EQ(viewer.StatusBar.SimpleText, "Block 1 of 8");
        EXPECT_EQ(viewer.Memo.Lines.front(), "00 09 0A 0D 60 41 62 7E AB 7F 01 25 73 20 FF 5F " +
                                                 std::string("  ") +
                                                 "     Ab~\xAB\x7F\x01%s \xFF_");
        EXPECT_EQ(viewer.Memo.Lines.back(),
                  Repeat("00 ", 15) + "5A   " + std::string(15, ' ') + "Z");
        EXPECT_TRUE(viewer.tbBack.Enabled());
        EXPECT_TRUE(viewer.tbNext.Enabled());
    });
    host.Click("tbBack").Then([&] {
        EXPECT_EQ(viewer.StatusBar.SimpleText, "Block 0 of 8");
        EXPECT_EQ(viewer.Memo.Lines.front(), kZeroLine);
    });
    host.Key({ui::TKey::Escape});
    viewer.ShowDisk(*disk);
}

TEST_F(DiskView, NextStopsAtTheLastBlockAndBackAtTheFirst) {
    auto disk = Disk("E");
    for (int i = 0; i < 7; ++i)
        host.Click("tbNext");
    host.Then([&] {
        EXPECT_EQ(viewer.FCurrentBlock, 7);
        EXPECT_EQ(viewer.StatusBar.SimpleText, "Block 7 of 8");
        EXPECT_TRUE(viewer.tbBack.Enabled());
        EXPECT_FALSE(viewer.tbNext.Enabled());
        viewer.tbNextClick(); // from code as well: no block beyond the disk
        EXPECT_EQ(viewer.FCurrentBlock, 7);
    });
    host.Key({ui::TKey::Escape});
    viewer.ShowDisk(*disk);
    EXPECT_TRUE(pc.machine().outOfExtent.empty());
}

TEST_F(DiskView, AOneBlockMediumHasBackAndNextDisabled) {
    auto disk = Disk("O");
    host.Then([&] {
        EXPECT_EQ(viewer.StatusBar.SimpleText, "Block 0 of 1");
        EXPECT_FALSE(viewer.tbBack.Enabled());
        EXPECT_FALSE(viewer.tbNext.Enabled());
        viewer.tbBackClick();
        viewer.tbNextClick();
        EXPECT_EQ(viewer.FCurrentBlock, 0);
    });
    host.Click("tbNext"); // a user cannot
    EXPECT_THROW(viewer.ShowDisk(*disk), ui::ScriptError);
    EXPECT_EQ(OpenHandles(), 0u);
    EXPECT_TRUE(pc.machine().outOfExtent.empty());
}

TEST_F(DiskView, GotoRejectsWhatIsNotABlockAndKeepsTheCurrentOne) {
    auto disk = Disk("E");
    WriteBlock("e.img", 5, std::vector<std::uint8_t>(16, 'x'));
    host.AnswerInput("8")
        .AnswerInput("12x")
        .AnswerInput("-1")
        .AnswerInput("2147483648")
        .AnswerInput(" 5")
        .AnswerInput("")
        .AnswerInput("5")
        .AnswerInput(std::nullopt);
    host.AnswerRest(mrOk);
    for (int i = 0; i < 7; ++i)
        host.Click("tbGoto");
    host.Then([&] {
        EXPECT_EQ(viewer.FCurrentBlock, 5);
        EXPECT_EQ(viewer.StatusBar.SimpleText, "Block 5 of 8");
        EXPECT_EQ(viewer.Memo.Lines.front(), Repeat("78 ", 16) + "  " + std::string(16, 'x'));
        EXPECT_TRUE(viewer.tbNext.Enabled());
    });
    host.Click("tbGoto").Then([&] { EXPECT_EQ(viewer.FCurrentBlock, 5); });
    host.Key({ui::TKey::Escape});
    viewer.ShowDisk(*disk);

    std::vector<std::string> texts;
    for (const auto& dialog : host.dialogs()) {
        texts.push_back(dialog.text);
        EXPECT_EQ(dialog.type, TMsgDlgType::mtError);
        EXPECT_EQ(dialog.buttons, mbOKButton);
    }
    EXPECT_EQ(texts,
              (std::vector<std::string>{
                  "\"8\" is not a valid block number", "\"12x\" is not a valid number",
                  "\"-1\" is not a valid block number", "\"2147483648\" is not a valid number",
                  "\" 5\" is not a valid number", "\"\" is not a valid number"}));
    ASSERT_EQ(host.inputs().size(), 8u);
    EXPECT_EQ(host.inputs()[0].caption, "Goto Block");
    EXPECT_EQ(host.inputs()[0].prompt,
              "The number of total block is 8. Enter the number of block you want to view:");
    EXPECT_EQ(host.inputs()[0].preset, "0");
    EXPECT_EQ(host.inputs()[7].preset, "5");
}

TEST_F(DiskView, NextAndBackReachBlocksGotoCannotName) {
    HugeDisk disk("PhysicalDrive9", &owner, "HUGE");
    disk.init();
    host.AnswerInput("2147483647").AnswerInput(std::nullopt).AnswerInput("2147483648");
    host.AnswerRest(mrOk);
    host.Click("tbGoto").Click("tbNext").Then([&] {
        EXPECT_EQ(viewer.StatusBar.SimpleText, "Block 2147483648 of 2147483653");
        EXPECT_EQ(viewer.Memo.Lines.front().substr(0, 3), "00 ");
    });
    // Cancelled: the block shown stays, without an error about its large number.
    host.Click("tbGoto").Then([&] { EXPECT_EQ(viewer.FCurrentBlock, 2147483648LL); });
    host.Click("tbGoto").Click("tbBack").Then([&] {
        EXPECT_EQ(viewer.FCurrentBlock, 2147483647LL);
        EXPECT_EQ(viewer.Memo.Lines.front().substr(0, 3), "FF ");
    });
    host.Key({ui::TKey::Escape});
    viewer.ShowDisk(disk);
    ASSERT_EQ(host.dialogs().size(), 1u);
    EXPECT_EQ(host.dialogs()[0].text, "\"2147483648\" is not a valid number");
    EXPECT_EQ(disk.reads, (std::vector<std::int64_t>{0, 2147483647LL, 2147483648LL, 2147483648LL,
                                                     2147483647LL}));
}

TEST_F(DiskView, AReadFailureClosesTheDiskAndLeavesBackAndNextDisabled) {
    auto disk = Disk("E");
    pc.drive('E').faults.readBlocks.push_back({3, platform::sim::Fault::Always(ERROR_CRC)});
    host.Click("tbNext").Click("tbNext").Click("tbNext");
    EXPECT_THROW(viewer.ShowDisk(*disk), XReadFile);
    EXPECT_EQ(viewer.StatusBar.SimpleText, "Block 3 of 8");
    EXPECT_FALSE(viewer.tbBack.Enabled());
    EXPECT_FALSE(viewer.tbNext.Enabled());
    EXPECT_FALSE(viewer.Visible());
    EXPECT_EQ(OpenHandles(), 0u);
    ExpectReopensForWriting(*disk);
}

TEST_F(DiskView, AFailureBeforeTheWindowOpensClosesTheDisk) {
    auto disk = Disk("E");
    pc.drive('E').faults.readBlocks.push_back({0, platform::sim::Fault::Times(1, ERROR_CRC)});
    EXPECT_THROW(viewer.ShowDisk(*disk), XReadFile);
    EXPECT_TRUE(host.modalForms().empty());
    EXPECT_EQ(OpenHandles(), 0u);
    ExpectReopensForWriting(*disk);

    pc.drive('E').faults.open = platform::sim::Fault::Times(1, ERROR_ACCESS_DENIED);
    EXPECT_THROW(viewer.ShowDisk(*disk), XNTCreateFile);
    EXPECT_TRUE(host.modalForms().empty());
    EXPECT_EQ(viewer.FDisk, nullptr);
    ExpectReopensForWriting(*disk);
}

TEST_F(DiskView, AnOpticalDiscGetsTheErrorBoxAndIsNotOpened) {
    Disc disc("G", &owner);
    host.Answer(mrOk);
    viewer.ShowDisk(disc);
    ASSERT_EQ(host.dialogs().size(), 1u);
    EXPECT_EQ(host.dialogs()[0].text, "This drive is not a Random Accessed Disk.");
    EXPECT_EQ(host.dialogs()[0].type, TMsgDlgType::mtError);
    EXPECT_EQ(host.dialogs()[0].buttons, mbOKButton);
    EXPECT_EQ(disc.opens, 0);
    EXPECT_TRUE(host.modalForms().empty());
}

TEST_F(DiskView, TextsComeFromTheLanguageFileOnceAndItsFormatsReachNoPrintf) {
    LanguageTable.Sorted = false;
    LanguageTable.Entries = {{"DISKVIEW.CAPTION", "Blocks"},
                             {"DISKVIEW.BLOCKNUMBER", "%s%n Blok %d/%d %d %x"},
                             {"DISKVIEW.NOTAVALIDNUMBER", "%d %n Bad: %s %s"}};
    TFrmDiskview translated(host);
    LanguageTable.Entries.push_back({"DISKVIEW.CAPTION", "Later"});
    auto disk = Disk("O");
    host.AnswerInput("%s%n").Answer(mrOk);
    host.Click("tbGoto").Then([&] {
        EXPECT_EQ(translated.Caption, "Blocks ONE (O:)");
        EXPECT_EQ(translated.StatusBar.SimpleText, "%s%n Blok 0/1 %d %x");
    });
    host.Key({ui::TKey::Escape});
    translated.ShowDisk(*disk);
    ASSERT_EQ(host.dialogs().size(), 1u);
    EXPECT_EQ(host.dialogs()[0].text, "%d %n Bad: %s%n %s");
}

TEST_F(DiskView, ABlockOfAnOddSizeIsDumpedWithoutReadingPastItsEnd) {
    auto disk = MakeDisk<testing::MemoryDisk>("M", &owner, 2, 520, 0x41);
    host.Then([&] {
        ASSERT_EQ(viewer.Memo.Lines.size(), 33u);
        EXPECT_EQ(viewer.Memo.Lines.back(),
                  Repeat("41 ", 8) + std::string(24, ' ') + "  " + std::string(8, 'A'));
    });
    host.Key({ui::TKey::Escape});
    viewer.ShowDisk(*disk);
    ASSERT_EQ(disk->medium.transfers.size(), 1u);
    EXPECT_EQ(disk->medium.transfers[0].misalignment, 0u);
    EXPECT_EQ(disk->medium.calls, (std::vector<std::string>{"open(r)", "close"}));
}

} // namespace
} // namespace purgelet
