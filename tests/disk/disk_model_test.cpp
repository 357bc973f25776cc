// The disk class model: construction through MakeDisk, the defaults, the property list and
// its sort, the wipe frame (open, wipe, close, format) and the message sink's contract.
#include "disk/disk.h"
#include "disk/message_object.h"
#include "disk_test_support.h"
#include "methods/method.h"
#include "platform/sim/sim.h"
#include "platform/system.h"
#include "report/exceptions.h"
#include "support/memory_disk.h"
#include "support/recording_owner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

namespace purgelet {
namespace {

using testing::MemoryDisk;
using testing::MemoryPhysicalDisk;
using testing::RecordingOwner;

// A logical disk that does nothing but count its life.
class BareDisk : public TLogicalDisk {
public:
    BareDisk(std::string name, TMessageObject* owner, bool failInit, int* destroyed)
        : TLogicalDisk(std::move(name), owner), failInit_(failInit), destroyed_(destroyed) {}
    ~BareDisk() override {
        if (destroyed_)
            ++*destroyed_;
    }
    void init() override {
        ++inits;
        if (failInit_)
            throw XNoDisk("BareDisk.init : ");
    }
    void Open(bool) override {}
    void Close() override {}
    void ReadBlocks(void*, std::int32_t, std::int64_t) override {}
    void WriteBlocks(const void*, std::int32_t, std::int64_t) override {}
    void Format(const TFormatParams&, TWipeContext&) override {}
    int inits = 0;

    // Properties added in a given order, as a platform class would.
    std::vector<TGenericProperty> toAdd;
    int getPropertiesCount() override {
        TDisk::getPropertiesCount();
        for (const auto& p : toAdd)
            AddProperty(p.Id, p.Value);
        return static_cast<int>(Properties.size());
    }

private:
    bool failInit_;
    int* destroyed_;
};

class BareOpticalDisc : public TCDDVDDisk {
public:
    using TCDDVDDisk::TCDDVDDisk;
    void init() override {}
    void Wipe(TWipeContext&) override {}
};

TEST(DiskModel, MakeDiskSetsTheDefaultsAndThenReadsTheMedium) {
    RecordingOwner owner;
    auto disk = MakeDisk<BareDisk>("E", &owner, false, nullptr);
    EXPECT_EQ(disk->inits, 1);
    EXPECT_EQ(disk->Name, "E");
    EXPECT_EQ(disk->Owner, &owner);
    EXPECT_EQ(disk->Description, "????");
    EXPECT_EQ(disk->BlockSize, 512);
    EXPECT_EQ(disk->BlockCount, 0);
    EXPECT_EQ(disk->Size, 0);
    EXPECT_EQ(disk->DriveType, 4);
    EXPECT_EQ(disk->OwnerDisk, nullptr);
    EXPECT_EQ(disk->StartingOffset, 0);
    EXPECT_EQ(disk->PartitionNumber, 0);
    EXPECT_TRUE(disk->ReadOnly);
    EXPECT_EQ(disk->DeviceNumber, 0);
    EXPECT_TRUE(disk->Properties.empty());
    EXPECT_EQ(disk->FileSystem, "");
    EXPECT_EQ(disk->BootIndicator, 0);
    // What a wipe starts from: no method, no format pass, the default transfer, cached.
    TWipeContext wipe;
    EXPECT_EQ(wipe.Method, nullptr);
    EXPECT_EQ(wipe.FormatPass, 0);
    EXPECT_EQ(wipe.Options.BufferSize, 0);
    EXPECT_FALSE(wipe.Options.Unbuffered);
    EXPECT_EQ(wipe.CurrentBlock, 0);
}

TEST(DiskModel, AFailingInitPropagatesAndDestroysTheObject) {
    int destroyed = 0;
    EXPECT_THROW(MakeDisk<BareDisk>("E", nullptr, true, &destroyed), XNoDisk);
    EXPECT_EQ(destroyed, 1);
}

TEST(DiskModel, APhysicalDiskTakesItsDescriptionAndAnOpticalDiscStartsQuick) {
    auto physical = MakeDisk<MemoryPhysicalDisk>("\\\\?\\ide#disk0", nullptr, 8);
    EXPECT_EQ(physical->Description, "????");
    class Described : public TPhysicalDisk {
    public:
        using TPhysicalDisk::TPhysicalDisk;
        void init() override {}
        void Open(bool) override {}
        void Close() override {}
        void ReadBlocks(void*, std::int32_t, std::int64_t) override {}
        void WriteBlocks(const void*, std::int32_t, std::int64_t) override {}
    };
    auto named = MakeDisk<Described>("\\\\?\\ide#disk1", nullptr, std::string("Maxtor 6Y080"));
    EXPECT_EQ(named->Description, "Maxtor 6Y080");
    EXPECT_EQ(named->Name, "\\\\?\\ide#disk1");

    auto disc = MakeDisk<BareOpticalDisc>("1:0:0", nullptr);
    EXPECT_TRUE(TWipeContext().Options.QuickErase);
    disc->Open(false);
    EXPECT_FALSE(disc->ReadOnly);
    disc->Open(true);
    EXPECT_TRUE(disc->ReadOnly);
}

// ---- Properties

TEST(DiskProperties, TheBaseClearsTheListAndReportsNothing) {
    auto disc = MakeDisk<BareOpticalDisc>("1:0:0", nullptr);
    disc->Properties.push_back({propName, std::string("old")});
    EXPECT_EQ(disc->GetSortedPropertiesCount(), 0);
    EXPECT_TRUE(disc->Properties.empty());
}

TEST(DiskProperties, TheSortOrdersIdsAscendingAsTheExchangeSortLeavesThem) {
    auto disk = MakeDisk<BareDisk>("E", nullptr, false, nullptr);
    // Equal ids: the exchange sort is not stable, and the list shows its exact order.
    disk->toAdd = {{3, std::string("a")}, {1, std::string("b")},       {3, std::string("c")},
                   {1, std::string("d")}, {12, std::int64_t{1} << 40}, {8, std::int32_t{-5}}};
    ASSERT_EQ(disk->GetSortedPropertiesCount(), 6);
    std::vector<TGenericProperty> expected = {{1, std::string("b")}, {1, std::string("d")},
                                              {3, std::string("c")}, {3, std::string("a")},
                                              {8, std::int32_t{-5}}, {12, std::int64_t{1} << 40}};
    EXPECT_EQ(disk->Properties, expected);
    TGenericProperty p;
    disk->GetProperty(4, p);
    EXPECT_EQ(p.Id, 8);
    EXPECT_EQ(std::get<std::int32_t>(p.Value), -5);
    EXPECT_THROW(disk->GetProperty(6, p), std::out_of_range);
    EXPECT_THROW(disk->GetProperty(-1, p), std::out_of_range);
}

TEST(DiskProperties, AVolumeThatDoesNotAnswerIsRawWithNothingElse) {
    // A machine without drives: the volume information of E:\ fails.
    platform::ScopedSystem machine{platform::sim::CreateSimSystem("")};
    auto disk = MakeDisk<MemoryDisk>("E", nullptr, 2048);
    disk->Description = "Data (E:)";
    ASSERT_EQ(disk->GetSortedPropertiesCount(), 3);
    std::vector<TGenericProperty> expected = {{propName, std::string("Data (E:)")},
                                              {propSize, std::int64_t{2048 * 512}},
                                              {propFileSystem, std::string("RAW")}};
    EXPECT_EQ(disk->Properties, expected);
    EXPECT_EQ(disk->GetSortedPropertiesCount(), 3) << "the list is refilled, not appended to";
}

// ---- The wipe frame

class WipeFrame : public ::testing::Test {
protected:
    RecordingOwner owner;
    std::unique_ptr<method> ones = testing::MethodFromLines({"HEXA=$FF"});
};

TEST_F(WipeFrame, WithoutFormatALogicalDiskIsClosedAndNotFormatted) {
    auto disk = MakeDisk<MemoryDisk>("E", &owner, 10);
    TWipeContext wipe(ones.get(), &owner);
    disk->WipeDisk(wipe);
    EXPECT_EQ(wipe.FormatPass, 0);
    EXPECT_EQ(wipe.Wiped.BlockCount, 10) << "the medium the wipe found stays with the wipe";
    EXPECT_FALSE(disk->ReadOnly);
    EXPECT_FALSE(disk->medium.isOpen);
    EXPECT_EQ(disk->medium.calls, (std::vector<std::string>{"open(w)", "close"}));
    EXPECT_EQ(std::count(disk->medium.bytes.begin(), disk->medium.bytes.end(), 0xFF), 10 * 512);
}

TEST_F(WipeFrame, FormatRunsAfterTheCloseWithThePackedParameters) {
    auto disk = MakeDisk<MemoryDisk>("E", &owner, 10);
    disk->WipeDisk(ones.get(), true, 2, 4096, "DATA");
    EXPECT_EQ(disk->medium.calls, (std::vector<std::string>{"open(w)", "close", "format"}));
    EXPECT_EQ(disk->lastFormat.FileSystem, 2);
    EXPECT_EQ(disk->lastFormat.ClusterSize, 4096);
    EXPECT_EQ(disk->lastFormat.Label, "DATA");
    EXPECT_EQ(std::count(disk->medium.bytes.begin(), disk->medium.bytes.end(), 0xFF), 10 * 512);
}

TEST_F(WipeFrame, APhysicalDiskIgnoresTheFormatArgument) {
    auto disk = MakeDisk<MemoryPhysicalDisk>("\\\\.\\PhysicalDrive1", &owner, 10);
    TWipeContext wipe(ones.get(), &owner);
    wipe.Format = true;
    disk->WipeDisk(wipe);
    EXPECT_EQ(wipe.FormatPass, 0);
    EXPECT_EQ(disk->medium.calls, (std::vector<std::string>{"open(w)", "close"}));
    EXPECT_EQ(owner.progress.back(), 11.0 / 10) << "no format pass in the total";
    EXPECT_EQ(std::count(disk->medium.bytes.begin(), disk->medium.bytes.end(), 0xFF), 10 * 512);
}

TEST_F(WipeFrame, AFailingOpenWritesNothing) {
    auto disk = MakeDisk<MemoryDisk>("E", &owner, 10);
    disk->medium.failOpen = true;
    TWipeContext wipe(ones.get(), &owner);
    wipe.Format = true;
    EXPECT_THROW(disk->WipeDisk(wipe), XSystemCall);
    EXPECT_EQ(disk->medium.calls, (std::vector<std::string>{"open(w)"}));
    EXPECT_EQ(wipe.Wiped.BlockCount, 0) << "no medium is claimed for a wipe never opened";
    EXPECT_EQ(std::count(disk->medium.bytes.begin(), disk->medium.bytes.end(), 0xEE), 10 * 512);
}

TEST_F(WipeFrame, AFailingCloseAfterAWipeFailureKeepsTheWipeFailure) {
    // An abort must stay an abort: the run stops after it, but would go on after XSystemCall.
    auto disk = MakeDisk<MemoryDisk>("E", &owner, 3000);
    disk->medium.failClose = true;
    owner.abortAtUpdate = 1;
    EXPECT_THROW(disk->WipeDisk(ones.get(), true, 0, 0, ""), XAbort);
    EXPECT_EQ(disk->medium.calls, (std::vector<std::string>{"open(w)", "close"}));
}

TEST_F(WipeFrame, AFailingCloseAfterASuccessfulWipeIsRaisedAndPreventsTheFormat) {
    auto disk = MakeDisk<MemoryDisk>("E", &owner, 10);
    disk->medium.failClose = true;
    EXPECT_THROW(disk->WipeDisk(ones.get(), true, 0, 0, ""), XSystemCall);
    EXPECT_EQ(disk->medium.calls, (std::vector<std::string>{"open(w)", "close"}));
}

TEST_F(WipeFrame, AFailingFormatIsRaisedAfterTheWipe) {
    auto disk = MakeDisk<MemoryDisk>("E", &owner, 10);
    disk->medium.failFormat = true;
    EXPECT_THROW(disk->WipeDisk(ones.get(), true, 0, 0, ""), XFormatError);
    EXPECT_EQ(std::count(disk->medium.bytes.begin(), disk->medium.bytes.end(), 0xFF), 10 * 512);
}

TEST_F(WipeFrame, ADiskWithoutAnOwnerIsWipedAsUnderAPlainSink) {
    auto disk = MakeDisk<MemoryDisk>("E", nullptr, 10);
    disk->medium.FailWrites(4, testing::MemoryMedium::kAlways);
    EXPECT_THROW(disk->WipeDisk(ones.get(), false, 0, 0, ""), XWriteFile);
    EXPECT_FALSE(disk->medium.isOpen);
    disk->medium.faults.clear();
    disk->WipeDisk(ones.get(), false, 0, 0, "");
    EXPECT_EQ(std::count(disk->medium.bytes.begin(), disk->medium.bytes.end(), 0xFF), 10 * 512);
}

TEST_F(WipeFrame, ANullMethodIsRefusedBeforeAnythingIsWritten) {
    auto disk = MakeDisk<MemoryDisk>("E", &owner, 10);
    try {
        disk->WipeDisk(nullptr, false, 0, 0, "");
        FAIL() << "no exception";
    } catch (const XDiskIO&) {
        FAIL() << "a missing method is no disk I/O failure";
    } catch (const XGenericError& error) {
        EXPECT_STREQ(error.what(), "TRandomAccessDisk.Wipe - no wipe method");
    }
    EXPECT_TRUE(disk->medium.transfers.empty());
    EXPECT_FALSE(disk->medium.isOpen);
}

// ---- The message sink

TEST(MessageObject, ThePlainSinkAnswersNothingToEveryKind) {
    TMessageObject sink;
    for (int kind = 0; kind <= 255; ++kind)
        EXPECT_EQ(sink.Message(static_cast<MessageKind>(kind), "E", TMsgDlgType::mtError,
                               mbAbortRetryIgnore),
                  mrNone);
    sink.Update();
}

TEST(MessageObject, TheSettersTolerateAMissingSink) {
    TMessageObject::SetFlag(nullptr, 1);
    TMessageObject::SetProgress(nullptr, 0.5);
    TMessageObject::SetDisk(nullptr, nullptr);
    TMessageObject sink;
    auto disc = MakeDisk<BareOpticalDisc>("1:0:0", &sink);
    TMessageObject::SetFlag(&sink, 3);
    TMessageObject::SetProgress(&sink, -1.0);
    TMessageObject::SetDisk(&sink, disc.get());
    EXPECT_EQ(sink.Flag, 3);
    EXPECT_EQ(sink.Progress, -1.0);
    EXPECT_EQ(sink.Disk, disc.get());
}

TEST(MessageObject, EveryKindHasItsLanguageKey) {
    const char* keys[] = {"Error_generic",
                          "Error_Write",
                          "Error_Read",
                          "Error_Verify",
                          "Error_CDDVD_not_ready",
                          "Error_CDDVD_notEraseble",
                          "Error_CDDVD_Blanking",
                          "Unknown error",
                          "Error_QueryForceDisMount",
                          "Error_QueryWinFormat",
                          "Error_QueryWinFormat9x",
                          "Error_Detecting"};
    for (int kind = 0; kind <= 11; ++kind)
        EXPECT_STREQ(MessageKindKey(static_cast<MessageKind>(kind)), keys[kind]) << kind;
    EXPECT_STREQ(MessageKindKey(12), "Unknown error");
    EXPECT_STREQ(MessageKindKey(255), "Unknown error");
}

TEST(MessageObject, ButtonSetsAreBitSets) {
    EXPECT_EQ(mbYesNo.Bits(), 3);
    EXPECT_EQ(mbAbortRetry.Bits(), 48);
    EXPECT_EQ(mbAbortRetryIgnore.Bits(), 112);
    EXPECT_TRUE(mbAbortRetryIgnore.Contains(TMsgDlgBtn::mbIgnore));
    EXPECT_FALSE(mbAbortRetry.Contains(TMsgDlgBtn::mbIgnore));
    EXPECT_EQ(TMsgDlgButtons(0xFFFF).Bits(), 0x3FF) << "only the ten buttons exist";
    EXPECT_EQ((TMsgDlgButtons{TMsgDlgBtn::mbYesToAll}).Bits(), 512);
}

} // namespace
} // namespace purgelet
