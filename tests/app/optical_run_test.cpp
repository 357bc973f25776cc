// A rewritable disc in a wipe run of the whole program: detection lists it, the run blanks
// it with Abort and Pause unavailable only meanwhile, and the ask dialog after it offers no
// View Disk.
#include "program_fixture.h"

#include "lang/catalogue.h"

#include <tuple>

namespace purgelet::testing {
namespace {

TEST_F(ProgramTest, ARewritableDiscIsBlankedWithAbortAndPauseOffOnlyWhileItIs) {
    auto machine = ProgramMachine();
    machine["opticalDrives"] = {{{"letter", "E"},
                                 {"vendor", "SIMDISC"},
                                 {"product", "RW-5240"},
                                 {"displayName", "CD-RW Drive (E:)"},
                                 {"disc", {{"type", "CD-RW"}, {"state", "complete"}}},
                                 {"blank", {{"polls", 4}}}}};
    Boot(machine);
    ASSERT_EQ(Start(), 0);
    // In list order the disc follows the partition D: and the stick R:, the removable
    // group's last row.
    ScriptTick({"D", "E", "R"});
    ScriptRunWithoutFormat([this] { host_.Toggle("cbAskDlg").Toggle("cbWipeInParallel"); });
    std::vector<std::tuple<std::string, bool, bool>> seen; // disk, Abort, Pause enabled
    host_.OnEveryProcessMessages([&] {
        if (const TDisk* disk = Main().DiskManager().Disk; disk != nullptr)
            seen.emplace_back(disk->Name, Main().btnAbort.Enabled(), Main().btnPause.Enabled());
    });
    std::vector<bool> viewDisk;
    for (int i = 0; i < 3; ++i) {
        host_.Then(
            [&] { viewDisk.push_back(host_.ControlAs<ui::TButton>("btnViewDisk").Visible()); });
        host_.Click("btnContinue");
    }
    host_.Answer(mrOk);
    Run();

    EXPECT_EQ(viewDisk, (std::vector<bool>{true, true, false}));
    int discPolls = 0, others = 0;
    for (const auto& [name, abort, pause] : seen) {
        if (name == "E") {
            ++discPolls;
            EXPECT_FALSE(abort);
            EXPECT_FALSE(pause);
        } else {
            ++others;
            EXPECT_TRUE(abort) << name;
            EXPECT_TRUE(pause) << name;
        }
    }
    EXPECT_GE(discPolls, 4);
    EXPECT_GT(others, 0);
    const auto& drive = pc_->machine().opticalDrives[0];
    EXPECT_EQ(drive.disc.status, 0);
    EXPECT_EQ(drive.Count(0xA1), 1);
    EXPECT_TRUE(All("disk.img", kPartD, kPartLength, 0x00));
    EXPECT_TRUE(All("stick.img", 0, kStickSize, 0x00));
    EXPECT_EQ(host_.dialogs().size(), 1u);
    EXPECT_EQ(host_.dialogs()[0].text, CatalogueText("WIPECOMPLETED"));
    EXPECT_EQ(pc_->kernel().OpenDeviceHandles(), 0u);
}

} // namespace
} // namespace purgelet::testing
