// The engine's pass runner against the reference runners (tests/support): every shipped
// method, both generators, faults answered every way, aborts and pauses; each run is made by
// the single-buffer reference, then by the overlapped reference, by the engine with its
// helper on the calling thread, and by the engine with 1, 2 and 4 transfers in flight, and
// everything the outside can see must be the same: the bytes on the disk, every transfer, every
// call to the owner (on the calling thread), the exception, and the generators' state afterwards.
// The memory disk runs a transfer in flight only when the engine asks for its result, the latest a
// device may: a buffer drawn into, or summed, before its transfer has ended changes what the disk
// gets.
#include "disk/disk.h"
#include "methods/generators.h"
#include "methods/isaac.h"
#include "methods/method.h"
#include "methods/random.h"
#include "report/exceptions.h"
#include "support/memory_disk.h"
#include "support/recording_owner.h"
#include "support/reference_runners.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

namespace purgelet {
namespace {

using testing::MemoryDisk;
using testing::MemoryMedium;
using testing::RecordingOwner;
using Op = MemoryMedium::Op;

// Every call the engine makes to its owner, in order, with what it carried.
class LoggingOwner : public RecordingOwner {
public:
    std::vector<std::string> log;
    std::thread::id caller = std::this_thread::get_id();
    bool foreignThread = false;

    int Message(MessageKind kind, const std::string& detail, TMsgDlgType dlgType,
                TMsgDlgButtons buttons) override {
        Note("message " + std::to_string(kind) + " " + detail + " at " +
             std::to_string(Wipe ? Wipe->CurrentBlock : -1));
        return RecordingOwner::Message(kind, detail, dlgType, buttons);
    }
    void Update() override {
        std::ostringstream line;
        line.precision(17);
        line << "update " << Progress;
        Note(line.str());
        RecordingOwner::Update();
    }

private:
    void Note(const std::string& line) {
        if (std::this_thread::get_id() != caller)
            foreignThread = true;
        log.push_back(line);
    }
};

struct Scenario {
    std::string methodFile;
    bool isaac = true;
    std::int32_t blockSize = 512;
    std::int64_t blocks = 61;
    std::int32_t bufferSize = 8 * 512; // 8 blocks a transfer: 8 transfers a pass, the last short
    std::vector<MemoryMedium::Fault> faults;
    std::vector<int> answers; // to the questions, in order
    int defaultAnswer = mrNone;
    int abortAtUpdate = 0;
    int pauseAtUpdate = 0;   // this Update sleeps a while, as a paused run does
    int corruptAtUpdate = 0; // this Update changes a written byte behind the engine
    bool format = false;
};

struct Outcome {
    std::vector<std::uint8_t> bytes;
    std::vector<std::string> transfers;
    std::vector<std::string> calls;
    std::vector<std::string> owner;
    std::string exception;
    std::uint32_t randSeedAfter = 0;
    std::uint32_t isaacAfter = 0;
    bool foreignThread = false;
};

// Who makes the passes.
enum class Runner : std::uint8_t { Reference, OverlappedReference, EngineOnCallingThread, Engine };

Outcome Run(const Scenario& s, Runner runner, std::int32_t depth) {
    TGenerators generators;
    generators.UseIsaac = s.isaac;
    generators.RandSeed = 0x1234567u; // the same draws in both runs
    auto m = method::CreateFromFile(s.methodFile, generators);
    LoggingOwner owner;
    owner.answers.assign(s.answers.begin(), s.answers.end());
    owner.defaultAnswer = s.defaultAnswer;
    owner.abortAtUpdate = s.abortAtUpdate;
    auto disk = MakeDisk<MemoryDisk>("E", &owner, s.blocks, s.blockSize, 0xEE);
    disk->medium.faults = s.faults;
    // Unbuffered devices want buffers aligned to their sector, and so does every block of
    // a block-by-block recovery.
    const bool powerOfTwo = (s.blockSize & (s.blockSize - 1)) == 0;
    disk->medium.alignment = powerOfTwo ? static_cast<std::size_t>(s.blockSize) : 0;
    TWipeContext wipe(m.get(), &owner);
    wipe.Format = s.format;
    wipe.Options.BufferSize = s.bufferSize;
    wipe.Options.TransfersInFlight = depth;
    wipe.Generators = &generators;
    disk->OverlapTransfers = runner != Runner::EngineOnCallingThread;
    if (runner == Runner::Reference)
        disk->passRunner = testing::RunPassesInline;
    else if (runner == Runner::OverlappedReference)
        disk->passRunner = testing::RunPassesOverlappedWithHelper;
    owner.onUpdate = [&s, &disk](RecordingOwner& o) {
        if (o.updates == s.pauseAtUpdate)
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        if (o.updates == s.corruptAtUpdate)
            disk->medium.bytes[0] ^= 0x01;
    };

    Outcome out;
    try {
        disk->WipeDisk(wipe);
    } catch (const std::exception& e) {
        out.exception = std::string(typeid(e).name()) + ": " + e.what();
    }
    out.bytes = disk->medium.bytes;
    for (const auto& t : disk->medium.transfers)
        out.transfers.push_back((t.op == Op::Read ? "r " : "w ") + std::to_string(t.block) + "+" +
                                std::to_string(t.count) + (t.failed ? " failed" : "") +
                                (t.misalignment != 0 ? " misaligned" : ""));
    out.calls = disk->medium.calls;
    out.owner = owner.log;
    out.foreignThread = owner.foreignThread;
    out.randSeedAfter = generators.RandSeed;
    out.isaacAfter = IsaacNext(generators.Isaac);
    return out;
}

void ExpectSame(const Scenario& s, const std::string& label) {
    const Outcome reference = Run(s, Runner::Reference, 1);
    const std::pair<Runner, std::int32_t> runs[] = {{Runner::OverlappedReference, 1},
                                                    {Runner::EngineOnCallingThread, 1},
                                                    {Runner::Engine, 1},
                                                    {Runner::Engine, 2},
                                                    {Runner::Engine, 4}};
    for (const auto& [runner, depth] : runs) {
        // The overlapped reference keeps two buffers, which a block size that is not a
        // multiple of 4 cannot have (ISAAC's word fill leaves a buffer's last bytes).
        if (runner == Runner::OverlappedReference && s.blockSize % 4 != 0)
            continue;
        const Outcome overlapped = Run(s, runner, depth);
        SCOPED_TRACE(label + (s.isaac ? " (ISAAC)" : " (standard generator)") + ", runner " +
                     std::to_string(static_cast<int>(runner)) + ", " + std::to_string(depth) +
                     " in flight");
        EXPECT_EQ(overlapped.exception, reference.exception);
        EXPECT_EQ(overlapped.transfers, reference.transfers);
        EXPECT_EQ(overlapped.calls, reference.calls);
        EXPECT_EQ(overlapped.owner, reference.owner);
        EXPECT_TRUE(overlapped.bytes == reference.bytes) << "the disks differ";
        EXPECT_EQ(overlapped.randSeedAfter, reference.randSeedAfter);
        EXPECT_EQ(overlapped.isaacAfter, reference.isaacAfter);
        EXPECT_FALSE(overlapped.foreignThread) << "the owner was called from another thread";
    }
}

std::vector<std::filesystem::path> ShippedMethods() {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(
             std::filesystem::path(PURGELET_SOURCE_DIR) / "data" / "Methods"))
        // A drive's own erase runs on whole disks only; the engine writes the rest.
        if (entry.path().extension() == ".met" &&
            method::CreateFromFile(entry.path().string())->Firmware == TFirmwareStep::None)
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

class WipeOverlap : public ::testing::Test {
protected:
    // The scenario for every shipped method, with either generator.
    template <class Change> void ForEveryMethod(const std::string& label, Change change) {
        const auto files = ShippedMethods();
        ASSERT_GE(files.size(), 10u);
        for (const auto& file : files)
            for (bool isaac : {true, false}) {
                Scenario s;
                s.methodFile = file.string();
                s.isaac = isaac;
                change(s);
                ExpectSame(s, label + ", " + file.filename().string());
            }
    }
};

TEST_F(WipeOverlap, CleanWipesWithAFormatPass) {
    ForEveryMethod("clean", [](Scenario& s) { s.format = true; });
}

TEST_F(WipeOverlap, WriteFailuresAnsweredRetryThenIgnore) {
    ForEveryMethod("write faults", [](Scenario& s) {
        s.faults = {{Op::Write, 9, 1, false},                       // redone block by block
                    {Op::Write, 20, 2, true},                       // short, then Retry
                    {Op::Write, 60, MemoryMedium::kAlways, false}}; // the last block: Ignore
        s.answers = {mrRetry};
        s.defaultAnswer = mrIgnore; // the verify question too: a skipped block is a mismatch
    });
}

TEST_F(WipeOverlap, AReadBackMismatchAnsweredYesThenNo) {
    // A byte changed behind the engine during the first pass: a checked pass finds it.
    ForEveryMethod("mismatch, yes", [](Scenario& s) {
        s.corruptAtUpdate = 3;
        s.defaultAnswer = mrYes;
    });
    ForEveryMethod("mismatch, no", [](Scenario& s) {
        s.corruptAtUpdate = 3;
        s.defaultAnswer = mrNo;
    });
}

TEST_F(WipeOverlap, UnreadBlocksIgnoredOrRetried) {
    ForEveryMethod("read faults", [](Scenario& s) {
        s.faults = {{Op::Read, 5, 1, true}, {Op::Read, 33, MemoryMedium::kAlways, false}};
        s.answers = {mrRetry, mrIgnore, mrYes};
        s.defaultAnswer = mrIgnore;
    });
}

TEST_F(WipeOverlap, AbortsAtEveryKindOfTransfer) {
    // The first transfer, one in the middle of the first pass, the first pass's last, and
    // one further on (a later pass or its read-back).
    for (int at : {1, 4, 8, 9, 13, 30})
        ForEveryMethod("abort at update " + std::to_string(at),
                       [at](Scenario& s) { s.abortAtUpdate = at; });
}

TEST_F(WipeOverlap, AnAbortAnsweredToAQuestion) {
    ForEveryMethod("abort answered", [](Scenario& s) {
        s.faults = {{Op::Write, 26, MemoryMedium::kAlways, false}};
        s.answers = {RecordingOwner::kRaiseAbort};
    });
}

TEST_F(WipeOverlap, APauseInTheMiddleOfAPass) {
    ForEveryMethod("pause", [](Scenario& s) {
        s.pauseAtUpdate = 3;
        s.blocks = 24;
    });
}

TEST_F(WipeOverlap, OtherGeometries) {
    // Blocks of 2048 and 4096 bytes, the default transfer, and a block size that is not a
    // multiple of 4, each with a fault in the middle.
    struct Shape {
        std::int32_t blockSize;
        std::int64_t blocks;
        std::int32_t bufferSize;
    };
    for (Shape shape : {Shape{2048, 40, 6 * 2048}, Shape{4096, 9, 0}, Shape{512, 2500, 0},
                        Shape{6, 100, 60}, Shape{512, 1, 4096}})
        ForEveryMethod("block size " + std::to_string(shape.blockSize), [shape](Scenario& s) {
            s.blockSize = shape.blockSize;
            s.blocks = shape.blocks;
            s.bufferSize = shape.bufferSize;
            s.faults = {{Op::Write, shape.blocks / 2, 2, false}};
            s.answers = {mrRetry};
            s.defaultAnswer = mrIgnore;
        });
}

// Many wipes with faults and aborts drawn at random, each against its reference: under the
// sanitizer builds this is the case that would show a race or a buffer used after release.
TEST_F(WipeOverlap, StressWithRandomFaultsAndAborts) {
    const auto files = ShippedMethods();
    std::mt19937 draw(20261208);
    auto pick = [&draw](int n) { return std::uniform_int_distribution<int>(0, n - 1)(draw); };
    for (int round = 0; round < 60; ++round) {
        Scenario s;
        s.methodFile =
            files[static_cast<std::size_t>(pick(static_cast<int>(files.size())))].string();
        s.isaac = pick(2) == 0;
        s.blocks = 1 + pick(120);
        s.bufferSize = 512 * (1 + pick(16));
        for (int k = pick(4); k > 0; --k)
            s.faults.push_back({pick(2) ? Op::Write : Op::Read, pick(static_cast<int>(s.blocks)),
                                pick(3) ? 1 + pick(2) : MemoryMedium::kAlways, pick(2) == 0});
        s.defaultAnswer = pick(3) == 0 ? mrRetry : (pick(2) ? mrIgnore : mrYes);
        if (s.defaultAnswer == mrRetry)
            s.answers = {mrRetry, mrIgnore, mrIgnore,
                         mrIgnore}; // then the default: no endless retry
        if (s.defaultAnswer == mrRetry)
            s.defaultAnswer = mrIgnore;
        s.abortAtUpdate = pick(3) == 0 ? 1 + pick(40) : 0;
        s.corruptAtUpdate = pick(4) == 0 ? 1 + pick(10) : 0;
        ExpectSame(s, "round " + std::to_string(round));
    }
}

} // namespace
} // namespace purgelet
