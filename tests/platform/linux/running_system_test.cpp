// The decision that keeps the running system safe, on systems built the ways live sticks,
// containers and current distributions build them: a root image on a stick, an overlay, a
// btrfs file system over two devices. Each "running system" is stood in by mounts over /usr
// in a child process with a mount namespace of its own; the real root device is never opened
// for writing.
#include "loop_device.h"
#include "platform/linux/kernel32.h"
#include "platform/linux/running_system.h"
#include "platform/linux/system.h"
#include "platform/system.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace purgelet {
namespace {

namespace fs = std::filesystem;
using platform::linux_backend::DriveMap;
using platform::linux_backend::DriveMapOptions;
using platform::linux_backend::LinuxKernel32;
using platform::linux_backend::RunningSystem;
using platform::linux_backend::RunningSystemSources;
using testing::LoopDevice;
using testing::Shell;

using Answers = std::map<std::string, std::string>;

dev_t Devno(const std::string& node) {
    struct stat st {};
    return stat(node.c_str(), &st) == 0 ? st.st_rdev : 0;
}

// Runs body in a child process with a private mount namespace: what it mounts there is seen
// by nobody else and goes with it. Its answers come back as key=value lines; "error" says
// what went wrong in the child.
Answers InPrivateNamespace(const std::function<Answers()>& body) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return {{"error", "pipe"}};
    const pid_t child = fork();
    if (child == 0) {
        close(pipeFds[0]);
        Answers answers;
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            answers["error"] = "no private mount namespace";
        } else {
            try {
                answers = body();
            } catch (const std::exception& error) {
                answers["error"] = error.what();
            }
        }
        std::string text;
        for (const auto& [key, value] : answers)
            text += key + "=" + value + "\n";
        [[maybe_unused]] ssize_t written = write(pipeFds[1], text.data(), text.size());
        _exit(0); // nothing of the parent's is torn down twice
    }
    close(pipeFds[1]);
    std::string text;
    char buffer[512];
    ssize_t n;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    Answers answers;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
        if (auto equals = line.find('='); equals != std::string::npos)
            answers[line.substr(0, equals)] = line.substr(equals + 1);
    if (answers.empty())
        answers["error"] = "the child said nothing (status " + std::to_string(status) + ")";
    return answers;
}

// "-" when writing the device is allowed, else the reason.
std::string Verdict(const RunningSystem& system, const std::string& node) {
    return system.WhyRefused(Devno(node)).value_or("-");
}

class RunningSystemOnLoops : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string reason = testing::LoopDevicesUnavailable();
        if (!reason.empty())
            GTEST_SKIP() << reason;
    }
    void TearDown() override {
        inner_.reset();
        for (const auto& mount : mounts_)
            Shell("umount '" + mount + "'");
        devices_.clear();
        fs::remove_all(folder);
    }
    LoopDevice& Attach(const std::string& name, int megabytes, const std::string& table = "") {
        devices_.push_back(std::make_unique<LoopDevice>(folder / name, megabytes, table));
        EXPECT_TRUE(devices_.back()->attached());
        return *devices_.back();
    }
    bool MountAt(const std::string& node, const fs::path& where) {
        fs::create_directories(where);
        int status = 0;
        Shell("mount '" + node + "' '" + where.string() + "'", &status);
        if (status == 0)
            mounts_.insert(mounts_.begin(), where.string()); // unmounted newest first
        return status == 0;
    }

    fs::path folder = testing::ScratchFolder("system");
    std::unique_ptr<LoopDevice> inner_; // a device over a file on another: detached first
    std::vector<std::unique_ptr<LoopDevice>> devices_;
    std::vector<std::string> mounts_;
};

TEST_F(RunningSystemOnLoops, ARootImageOnAStickIsFollowedToTheStickAndIsNeverOffered) {
    // The stick: a partitioned device whose ext4 partition holds the system's image file.
    LoopDevice& stick = Attach("stick.img", 48, "label: dos\\nstart=2048, type=83\\n");
    LoopDevice& other = Attach("other.img", 8);
    ASSERT_TRUE(fs::exists(stick.Partition(1)));
    Shell("mkfs.ext4 -q " + stick.Partition(1));
    Shell("mkfs.ext4 -q " + other.node());
    ASSERT_TRUE(MountAt(stick.Partition(1), folder / "medium"));
    inner_ = std::make_unique<LoopDevice>(folder / "medium" / "root.img", 16, "");
    ASSERT_TRUE(inner_->attached());
    Shell("mkfs.ext4 -q " + inner_->node());
    const std::string image = (folder / "medium" / "root.img").string();
    std::ofstream(folder / "drives.map") << "only\n"
                                         << stick.node() << "\n"
                                         << other.node() << "\n"
                                         << image << "\n";

    const Answers answers = InPrivateNamespace([&] {
        if (mount(inner_->node().c_str(), "/usr", "ext4", MS_RDONLY, nullptr) != 0)
            return Answers{{"error", "cannot mount the system image over /usr"}};
        const RunningSystem system = RunningSystem::Scan();
        Answers found{{"image", Verdict(system, inner_->node())},
                      {"partition", Verdict(system, stick.Partition(1))},
                      {"stick", Verdict(system, stick.node())},
                      {"other", Verdict(system, other.node())},
                      {"doubts", std::to_string(system.Doubts().size())}};
        // The back-end offers only the other device; the stick's partition and the image
        // file are left out, each with the reason.
        auto drives = std::make_shared<DriveMap>(
            DriveMapOptions{(folder / "config").string(), (folder / "drives.map").string()});
        platform::ScopedSystem scope(platform::linux_backend::CreateLinuxSystem(drives));
        auto& k = static_cast<LinuxKernel32&>(platform::k32());
        found["letters"] = std::to_string(k.GetLogicalDrives());
        for (const auto& left : k.DevicesNotOffered())
            found["left " + left.device] = left.reason;
        found["write stick"] = k.WhyNotWritable(stick.node()).value_or("-");
        found["write image"] = k.WhyNotWritable(image).value_or("-");
        return found;
    });
    ASSERT_EQ(answers.count("error"), 0u) << answers.at("error");
    EXPECT_EQ(answers.at("image"), "holds the running system (/usr)");
    EXPECT_EQ(answers.at("partition"), "holds the running system (/usr)");
    EXPECT_EQ(answers.at("stick"), "holds the running system (/usr)");
    EXPECT_EQ(answers.at("other"), "-");
    EXPECT_EQ(answers.at("doubts"), "0");
    EXPECT_EQ(answers.at("letters"), std::to_string(1u << 2)); // C: the other device alone
    EXPECT_EQ(answers.at("left " + stick.Partition(1)), "holds the running system (/usr)");
    EXPECT_EQ(answers.at("left " + image), "holds the running system (/usr)");
    EXPECT_EQ(answers.at("write stick"), "holds the running system (/usr)");
    EXPECT_EQ(answers.at("write image"), "holds the running system (/usr)");
}

TEST_F(RunningSystemOnLoops, AnOverlayIsFollowedToEveryLayer) {
    LoopDevice& lower = Attach("lower.img", 8);
    LoopDevice& upper = Attach("upper.img", 8);
    LoopDevice& other = Attach("other.img", 8);
    for (const auto* device : {&lower, &upper, &other})
        Shell("mkfs.ext4 -q " + device->node());
    ASSERT_TRUE(MountAt(lower.node(), folder / "lower"));
    ASSERT_TRUE(MountAt(upper.node(), folder / "upper"));
    fs::create_directories(folder / "upper" / "data");
    fs::create_directories(folder / "upper" / "work");

    const Answers answers = InPrivateNamespace([&] {
        const std::string options = "lowerdir=" + (folder / "lower").string() +
                                    ",upperdir=" + (folder / "upper" / "data").string() +
                                    ",workdir=" + (folder / "upper" / "work").string();
        if (mount("overlay", "/usr", "overlay", 0, options.c_str()) != 0)
            return Answers{{"error", "cannot mount an overlay over /usr"}};
        const RunningSystem system = RunningSystem::Scan();
        return Answers{{"lower", Verdict(system, lower.node())},
                       {"upper", Verdict(system, upper.node())},
                       {"other", Verdict(system, other.node())},
                       {"doubts", std::to_string(system.Doubts().size())}};
    });
    ASSERT_EQ(answers.count("error"), 0u) << answers.at("error");
    EXPECT_EQ(answers.at("lower"), "holds the running system (/usr)");
    EXPECT_EQ(answers.at("upper"), "holds the running system (/usr)");
    EXPECT_EQ(answers.at("other"), "-");
    EXPECT_EQ(answers.at("doubts"), "0");
}

TEST_F(RunningSystemOnLoops, BtrfsIsFollowedToEveryDeviceOfTheFileSystem) {
    if (Shell("command -v mkfs.btrfs || ls /usr/sbin/mkfs.btrfs").empty())
        GTEST_SKIP() << "mkfs.btrfs is not installed";
    LoopDevice& first = Attach("first.img", 128);
    LoopDevice& second = Attach("second.img", 128);
    LoopDevice& other = Attach("other.img", 8);
    int status = 0;
    Shell("mkfs.btrfs -q -f -d single -m single " + first.node() + " " + second.node(), &status);
    ASSERT_EQ(status, 0) << "mkfs.btrfs failed";
    Shell("btrfs device scan " + first.node() + " " + second.node());

    const Answers answers = InPrivateNamespace([&] {
        if (mount(first.node().c_str(), "/usr", "btrfs", 0, nullptr) != 0)
            return Answers{{"skip", "this kernel does not mount btrfs"}};
        const RunningSystem system = RunningSystem::Scan();
        return Answers{{"first", Verdict(system, first.node())},
                       {"second", Verdict(system, second.node())},
                       {"other", Verdict(system, other.node())}};
    });
    if (answers.count("skip") != 0)
        GTEST_SKIP() << answers.at("skip");
    ASSERT_EQ(answers.count("error"), 0u) << answers.at("error");
    EXPECT_EQ(answers.at("first"), "holds the running system (/usr)");
    EXPECT_EQ(answers.at("second"), "holds the running system (/usr)");
    EXPECT_EQ(answers.at("other"), "-");
}

TEST_F(RunningSystemOnLoops, TheFileSystemOfTheRunningProgramIsTheSystems) {
    LoopDevice& device = Attach("program.img", 8);
    Shell("mkfs.ext4 -q " + device.node());
    ASSERT_TRUE(MountAt(device.node(), folder / "program"));
    std::ofstream(folder / "program" / "purgelet") << "#!/bin/true\n";

    RunningSystemSources sources;
    sources.executable = (folder / "program" / "purgelet").string();
    const RunningSystem system = RunningSystem::Scan(sources);
    EXPECT_EQ(Verdict(system, device.node()), "holds the running system (the running program)");
}

} // namespace
} // namespace purgelet
