// A partition wiped and then formatted through the whole frame, on a simulated disk: the
// format comes after the device was unlocked and closed, re-creates the former file system,
// and fills the last share of the progress.
#include "disk/disk_test_support.h"
#include "disk/nt/nt_disk.h"
#include "nt_sim_machines.h"
#include "report/exceptions.h"
#include "support/recording_owner.h"
#include "support/sim_pc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace purgelet {
namespace {

using testing::MethodFromLines;
using testing::NtMachine;
using testing::RecordingOwner;
using testing::SimPC;

TEST(NTWipeAndFormat, TheFormatFollowsTheClosedWipeAndLeavesTheOtherPartitionAlone) {
    SimPC pc{NtMachine()};
    const auto before = pc.ReadImage("disk.img", testing::kNtPartF, testing::kNtPartFLength);
    RecordingOwner owner;
    auto e = MakeDisk<TNTLogicalDisk>("E", &owner);
    auto method = MethodFromLines({"HEXA=$00", "HEXA=$FF", "HEXA=$A5"});
    TWipeContext wipe(method.get(), &owner);
    wipe.Format = true;
    e->WipeDisk(wipe);

    ASSERT_EQ(pc.machine().formats.size(), 1u);
    EXPECT_EQ(pc.machine().formats[0].root, "E:");
    EXPECT_EQ(pc.machine().formats[0].fileSystem, "NTFS");
    EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u);
    EXPECT_EQ(wipe.FormatPass, 1);

    // Three passes of four shares, then the format's share up to the end.
    ASSERT_FALSE(owner.progress.empty());
    const auto wipeEnd = std::find_if(owner.progress.begin(), owner.progress.end(),
                                      [](double p) { return p > 0.7501; });
    ASSERT_NE(wipeEnd, owner.progress.begin());
    EXPECT_NEAR(*(wipeEnd - 1), 0.75, 1e-3);
    EXPECT_DOUBLE_EQ(owner.progress.back(), 1.0);
    EXPECT_TRUE(std::is_sorted(owner.progress.begin(), owner.progress.end()));

    // The new boot sector is at the start of E:, the last pattern behind the file system's
    // head, and F: is untouched.
    const auto boot = pc.ReadImage("disk.img", testing::kNtPartE, 512);
    EXPECT_EQ(std::string(boot.begin() + 3, boot.begin() + 7), "NTFS");
    const auto tail =
        pc.ReadImage("disk.img", testing::kNtPartE + testing::kNtPartLength - 512, 512);
    EXPECT_EQ(tail, std::vector<std::uint8_t>(512, 0xA5));
    EXPECT_EQ(pc.ReadImage("disk.img", testing::kNtPartF, testing::kNtPartFLength), before);
    EXPECT_TRUE(pc.machine().outOfExtent.empty());
}

TEST(NTWipeAndFormat, AWipeThatFailsIsNeverFormatted) {
    SimPC pc{NtMachine()};
    RecordingOwner owner;
    owner.answers = {mrAbort};
    auto e = MakeDisk<TNTLogicalDisk>("E", &owner);
    pc.drive('E').faults.writeBlocks.push_back({100, platform::sim::Fault::Always(ERROR_CRC)});
    auto method = MethodFromLines({"HEXA=$00"});
    EXPECT_THROW(e->WipeDisk(method.get(), true, 0, 0, ""), XWriteFile);
    EXPECT_TRUE(pc.machine().formats.empty());
    EXPECT_EQ(pc.kernel().OpenDeviceHandles(), 0u);
}

} // namespace
} // namespace purgelet
