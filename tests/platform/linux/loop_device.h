// Loop devices for the Linux back-end's tests: an image file with a real partition table and
// file systems, attached with losetup and always detached again (also when an assertion
// fails). A test names only these devices to the back-end, through its own map file.
#pragma once

#include "platform/linux/volume.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace purgelet::testing {

inline constexpr std::int64_t kMiB = 1024 * 1024;
// Two partitions of 24 MiB at 1 MiB and 25 MiB on a 64 MiB disk, as sfdisk reads it.
inline constexpr char kTwoPartitionTable[] = "label: dos\\nstart=2048, size=49152, type=e\\n"
                                             "start=51200, size=49152, type=83\\n";

// size bytes of an image file from offset.
inline std::vector<char> ImageBytes(const std::filesystem::path& image, std::int64_t offset,
                                    std::int64_t size) {
    std::ifstream in(image, std::ios::binary);
    in.seekg(offset);
    std::vector<char> bytes(static_cast<std::size_t>(size));
    in.read(bytes.data(), size);
    return bytes;
}

// Whether the device is mounted anywhere.
inline bool Mounted(const std::string& node) {
    struct stat st {};
    return stat(node.c_str(), &st) == 0 &&
           platform::linux_backend::MountPointOf(st.st_rdev).has_value();
}

// Runs a shell command; its standard output, without the last line break.
inline std::string Shell(const std::string& command, int* status = nullptr) {
    std::string output;
    FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr)
        return output;
    char buffer[256];
    while (std::fgets(buffer, sizeof(buffer), pipe) != nullptr)
        output += buffer;
    const int result = pclose(pipe);
    if (status != nullptr)
        *status = result;
    while (!output.empty() && output.back() == '\n')
        output.pop_back();
    return output;
}

// A fresh, empty scratch folder of this test process, named after what it holds.
inline std::filesystem::path ScratchFolder(const char* what) {
    static int counter = 0;
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() /
        (std::string("purgelet-") + what + "-" + std::to_string(getpid()) + "-" +
         std::to_string(counter++));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

// Why loop-device tests cannot run here; empty when they can.
inline std::string LoopDevicesUnavailable() {
    if (geteuid() != 0)
        return "loop devices need root";
    int status = 0;
    if (Shell("losetup -f", &status).empty() || status != 0)
        return "losetup -f finds no free loop device";
    for (const char* tool : {"sfdisk", "mkfs.vfat", "mkfs.ext4"})
        if (Shell(std::string("command -v ") + tool + " || ls /usr/sbin/" + tool).empty())
            return std::string(tool) + " is not installed";
    return {};
}

// An image file attached as a partitioned loop device; detached and deleted at the end.
class LoopDevice {
public:
    // sfdiskScript: the partition table; empty for an unpartitioned device.
    LoopDevice(const std::filesystem::path& image, int megabytes, const std::string& sfdiskScript)
        : image_(image) {
        Shell("truncate -s " + std::to_string(megabytes) + "M '" + image.string() + "'");
        if (!sfdiskScript.empty())
            Shell("printf '" + sfdiskScript + "' | sfdisk -q '" + image.string() + "'");
        node_ = Shell("losetup --find --show --partscan '" + image.string() + "'");
        if (node_.rfind("/dev/loop", 0) != 0)
            node_.clear();
        // Some kernels leave the table of a fresh loop device unread: partx reads it (for
        // this device only); the nodes then appear a moment later.
        if (!sfdiskScript.empty() && !node_.empty() && !std::filesystem::exists(Partition(1)))
            Shell("partx -a " + node_);
        for (int i = 0; i < 100 && !sfdiskScript.empty() && !node_.empty() &&
                        !std::filesystem::exists(Partition(1));
             ++i)
            usleep(20000);
    }
    ~LoopDevice() {
        if (node_.empty())
            return;
        for (const auto& mount : mounts_)
            Shell("umount '" + mount + "'");
        Shell("losetup -d " + node_); // only the device this object attached
        std::error_code error;
        std::filesystem::remove(image_, error);
    }
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;

    bool attached() const { return !node_.empty(); }
    const std::string& node() const { return node_; }
    std::string Partition(int number) const { return node_ + "p" + std::to_string(number); }
    const std::filesystem::path& image() const { return image_; }

    // Mounts a partition of this device at folder; unmounted at the end if still mounted.
    bool Mount(int number, const std::filesystem::path& folder) {
        std::filesystem::create_directories(folder);
        int status = 0;
        Shell("mount '" + Partition(number) + "' '" + folder.string() + "'", &status);
        if (status == 0)
            mounts_.push_back(folder.string());
        return status == 0;
    }

private:
    std::filesystem::path image_;
    std::string node_;
    std::vector<std::string> mounts_;
};

} // namespace purgelet::testing
