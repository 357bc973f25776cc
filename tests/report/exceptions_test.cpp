#include "platform/sim/kernel32.h"
#include "platform/sim/sim.h"
#include "report/errorlog.h"
#include "report/exceptions.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace purgelet {
namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class ErrorLogTest : public ::testing::Test {
protected:
    platform::ScopedSystem machine{platform::sim::CreateSimSystem("")};
    std::string path =
        (std::filesystem::temp_directory_path() / "purgelet_except_test.log").string();
    void TearDown() override {
        CloseErrorLog();
        std::filesystem::remove(path);
    }
};

TEST_F(ErrorLogTest, ConstructionRecordsTheLastErrorOfThatMoment) {
    platform::k32().SetLastError(ERROR_SHARING_VIOLATION);
    XAbort abort("stopped");
    EXPECT_EQ(abort.ErrorCode, static_cast<std::uint32_t>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(abort.ErrorText.empty());
    EXPECT_STREQ(abort.what(), "stopped");
}

TEST_F(ErrorLogTest, EveryConstructionIsOneLineWhileTheLogIsOn) {
    std::ofstream(path) << "old content\r\n";
    ASSERT_TRUE(OpenErrorLog(path));
    EXPECT_EQ(ReadAll(path), "");
    LogSilently<XPrepareToRetry>("TNTLogicalDisk.PrepareToRetry : C");
    try {
        throw XWriteFile("write failed");
    } catch (const XDiskIO&) {
    }
    EXPECT_EQ(ReadAll(path), "<2026-01-01 12:00:00> : TNTLogicalDisk.PrepareToRetry : C\r\n"
                             "<2026-01-01 12:00:00> : write failed\r\n");
}

TEST_F(ErrorLogTest, NothingIsWrittenWhileTheLogIsOff) {
    XException error("not logged");
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(ErrorLogTest, AnUnwritableLogNeverDisturbsTheException) {
    EXPECT_FALSE(OpenErrorLog("/nonexistent-folder/except.log"));
    XVerify verify("TLogicalDisk.Wipe - Verify ");
    EXPECT_STREQ(verify.what(), "TLogicalDisk.Wipe - Verify ");
}

// The marker file beside the executable switches the log on, in the current directory,
// truncated; without it nothing is created even when errors occur.
TEST_F(ErrorLogTest, TheMarkerBesideTheExecutableSwitchesTheLogOnInTheCurrentFolder) {
    namespace fs = std::filesystem;
    const fs::path marker =
        fs::path(platform::k32().GetModuleFileNameA()).parent_path() / "MKLOG.INI";
    const fs::path previous = fs::current_path();
    const fs::path work = fs::temp_directory_path() / "purgelet_mklog_test";
    fs::create_directories(work);
    fs::current_path(work);
    struct Restore {
        fs::path previous, work, marker;
        ~Restore() {
            CloseErrorLog();
            std::error_code ignored;
            fs::remove(marker, ignored);
            fs::current_path(previous, ignored);
            fs::remove_all(work, ignored);
        }
    } restore{previous, work, marker};

    InitErrorLog();
    XAbort unlogged("no marker yet");
    EXPECT_FALSE(ErrorLogEnabled);
    EXPECT_FALSE(fs::exists(work / "except.log"));

    std::ofstream(work / "except.log") << "the last run's lines\r\n";
    std::ofstream(marker) << "";
    InitErrorLog();
    EXPECT_TRUE(ErrorLogEnabled);
    EXPECT_EQ(ReadAll((work / "except.log").string()), "");
    XAbort logged("first of this run");
    EXPECT_EQ(ReadAll((work / "except.log").string()),
              "<2026-01-01 12:00:00> : first of this run\r\n");
}

TEST(ExceptionTree, ClassesAreToldApartByTheirBranch) {
    platform::ScopedSystem machine{platform::sim::CreateSimSystem("")};
    XReadOnly readOnly("Read only !!!");
    EXPECT_EQ(dynamic_cast<XDiskIO*>(static_cast<XException*>(&readOnly)), nullptr);
    XVerify verify("v");
    EXPECT_NE(dynamic_cast<XDiskIO*>(static_cast<XException*>(&verify)), nullptr);
    XFormatError format("f");
    EXPECT_NE(dynamic_cast<XDiskIO*>(static_cast<XException*>(&format)), nullptr);
    Xlock lock("l");
    EXPECT_NE(dynamic_cast<XSystemCall*>(static_cast<XException*>(&lock)), nullptr);
    EXPECT_EQ(ClassNameOf(lock), "Xlock");
    EXPECT_EQ(ClassNameOf(XSetupdi("s")), "XSetupdi");
}

} // namespace
} // namespace purgelet
