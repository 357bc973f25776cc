// A partition wiped on the simulated PC with several transfers in flight, against the same
// wipe one transfer at a time: the device is opened for overlapped transfers, and the image,
// the transfers the device saw, the questions, the progress and the generators come out the
// same, with faults that fail a few times, for good, and in the read-back.
#include "disk/disk_test_support.h"
#include "disk/nt/in_flight.h"
#include "disk/nt/nt_disk.h"
#include "methods/generators.h"
#include "methods/isaac.h"
#include "nt_sim_machines.h"
#include "report/exceptions.h"
#include "support/recording_owner.h"
#include "support/sim_pc.h"

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <typeinfo>
#include <vector>

namespace purgelet {
namespace {

namespace sim = platform::sim;
using testing::MethodFromLines;
using testing::NtMachine;
using testing::RecordingOwner;
using testing::SimPC;

struct Outcome {
    std::vector<std::uint8_t> image;
    std::vector<std::string> transfers; // the device's ReadFile and WriteFile, in order
    std::vector<std::string> questions;
    std::vector<double> progress;
    std::string exception;
    std::uint32_t isaacAfter = 0;
    DWORD writeOpenFlags = 0;
};

Outcome Wipe(std::int32_t depth, std::initializer_list<std::string> lines,
             const std::function<void(SimPC&, RecordingOwner&)>& setUp) {
    SimPC pc{NtMachine()};
    RecordingOwner owner;
    setUp(pc, owner);
    TGenerators generators;
    generators.RandSeed = 0x2468ACEu;
    auto e = MakeDisk<TNTLogicalDisk>("E", &owner);
    auto method = MethodFromLines(lines);
    TWipeContext wipe(method.get(), &owner);
    wipe.Generators = &generators;
    wipe.Options.BufferSize = 64 * 512; // 127 transfers a pass
    wipe.Options.Unbuffered = true;
    wipe.Options.TransfersInFlight = depth;
    Outcome out;
    try {
        e->WipeDisk(wipe);
    } catch (const std::exception& error) {
        out.exception = std::string(typeid(error).name()) + ": " + error.what();
    }
    EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u);
    out.image = pc.ReadImage("disk.img", testing::kNtPartE, testing::kNtPartLength);
    for (const auto& call : pc.machine().calls) {
        if (call.device != "\\\\.\\E:")
            continue;
        if (call.name == "ReadFile" || call.name == "WriteFile")
            out.transfers.push_back(call.name + " " + std::to_string(call.offset) + "+" +
                                    std::to_string(call.a) + (call.ok ? "" : " failed"));
        if (call.name == "CreateFileA" && (call.a & GENERIC_WRITE) && out.writeOpenFlags == 0)
            out.writeOpenFlags = call.c;
    }
    for (const auto& q : owner.questions)
        out.questions.push_back(std::to_string(q.kind) + " at " + std::to_string(q.currentBlock));
    out.progress = owner.progress;
    out.isaacAfter = IsaacNext(generators.Isaac);
    return out;
}

void ExpectSameAtEveryDepth(std::initializer_list<std::string> lines,
                            const std::function<void(SimPC&, RecordingOwner&)>& setUp) {
    const Outcome single = Wipe(1, lines, setUp);
    EXPECT_EQ(single.writeOpenFlags, FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH);
    for (std::int32_t depth : {2, 4, 16}) {
        SCOPED_TRACE(std::to_string(depth) + " in flight");
        const Outcome queued = Wipe(depth, lines, setUp);
        EXPECT_EQ(queued.writeOpenFlags,
                  FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH | FILE_FLAG_OVERLAPPED);
        EXPECT_EQ(queued.exception, single.exception);
        EXPECT_EQ(queued.transfers, single.transfers);
        EXPECT_EQ(queued.questions, single.questions);
        EXPECT_EQ(queued.progress, single.progress);
        EXPECT_EQ(queued.isaacAfter, single.isaacAfter);
        EXPECT_TRUE(queued.image == single.image) << "the partitions differ";
    }
}

TEST(NTInFlight, ACleanRandomWipeWithItsReadBack) {
    ExpectSameAtEveryDepth({"RAND=000255", "CHECK", "HEXA=$A5", "CHECK"},
                           [](SimPC&, RecordingOwner&) {});
}

TEST(NTInFlight, WriteAndReadFaultsAnsweredRetryAndIgnore) {
    ExpectSameAtEveryDepth({"RAND=000255", "CHECK"}, [](SimPC& pc, RecordingOwner& owner) {
        auto& faults = pc.drive('E').faults;
        faults.writeBlocks.push_back({100, sim::Fault::Times(2, ERROR_WRITE_FAULT)});
        faults.writeBlocks.push_back({130, sim::Fault::Times(1, ERROR_CRC)});
        faults.writeBlocks.push_back({5000, sim::Fault::Always(ERROR_CRC)});
        faults.readBlocks.push_back({7000, sim::Fault::Always(ERROR_CRC)});
        owner.answers = {mrRetry, mrIgnore};
        owner.defaultAnswer = mrIgnore;
    });
}

TEST(NTInFlight, AnAbortLeavesTheBlocksOfTheSingleTransferEngine) {
    for (int at : {1, 5, 126, 130})
        ExpectSameAtEveryDepth({"RAND=000255", "CHECK"},
                               [at](SimPC&, RecordingOwner& owner) { owner.abortAtUpdate = at; });
    ExpectSameAtEveryDepth({"RAND=000255"}, [](SimPC& pc, RecordingOwner& owner) {
        pc.drive('E').faults.writeBlocks.push_back({2000, sim::Fault::Always(ERROR_CRC)});
        owner.answers = {mrAbort};
    });
}

// A transfer runs from its start until it is finished or cancelled; a look at it waits for
// nothing and leaves the caller's last error alone. The simulated device runs its queue when
// a transfer is waited for.
TEST(NTInFlight, ATransferIsPendingUntilFinishedAndALookKeepsTheLastError) {
    SimPC pc{NtMachine()};
    auto& k = platform::k32();
    HANDLE h =
        k.CreateFileA("\\\\.\\E:", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::vector<std::uint8_t> first(4096, 0x11), second(4096, 0x22);
    TInFlight inFlight;
    EXPECT_FALSE(inFlight.Pending(h, 0)) << "nothing started";
    inFlight.Start(h, 0, {true, first.data(), 8, 0}, 512);
    inFlight.Start(h, 1, {true, second.data(), 8, 8}, 512);
    k.SetLastError(ERROR_CRC);
    EXPECT_TRUE(inFlight.Pending(h, 0));
    EXPECT_TRUE(inFlight.Pending(h, 1));
    EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_CRC));
    EXPECT_TRUE(inFlight.Finish(h, 0));
    EXPECT_FALSE(inFlight.Pending(h, 0));
    inFlight.Cancel(h);
    EXPECT_FALSE(inFlight.Pending(h, 1)) << "a cancelled transfer runs no more";
    k.CloseHandle(h);
    EXPECT_EQ(pc.ReadImage("disk.img", testing::kNtPartE, 4096), first);
}

} // namespace
} // namespace purgelet
