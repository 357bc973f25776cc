#include "platform/linux/sysfs.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace platform::linux_backend {

namespace fs = std::filesystem;

std::string ReadLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back())))
        line.pop_back();
    std::size_t first = 0;
    while (first < line.size() && std::isspace(static_cast<unsigned char>(line[first])))
        ++first;
    return line.substr(first);
}

std::int64_t ReadNumber(const fs::path& file) {
    const std::string text = ReadLine(file);
    return text.empty() ? -1 : std::strtoll(text.c_str(), nullptr, 10);
}

dev_t DevnoOf(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode))
        return 0;
    return st.st_rdev;
}

std::string SysDirOf(const std::string& sysfs, dev_t devno) {
    std::error_code error;
    const fs::path link = fs::path(sysfs) / "dev" / "block" /
                          (std::to_string(major(devno)) + ":" + std::to_string(minor(devno)));
    fs::path real = fs::canonical(link, error);
    return error ? std::string() : real.string();
}

dev_t DevnoOfSysDir(const fs::path& dir) {
    const std::string text = ReadLine(dir / "dev");
    unsigned int maj = 0, min = 0;
    if (std::sscanf(text.c_str(), "%u:%u", &maj, &min) != 2)
        return 0;
    return makedev(maj, min);
}

bool IsBlockDevice(const std::string& sysfs, dev_t devno) {
    return devno != 0 && !SysDirOf(sysfs, devno).empty();
}

std::vector<PartitionNode> PartitionsOf(const std::string& sysfs, dev_t disk) {
    std::vector<PartitionNode> partitions;
    const std::string dir = SysDirOf(sysfs, disk);
    std::error_code error;
    if (dir.empty() || fs::exists(fs::path(dir) / "partition", error))
        return partitions;
    for (const auto& child : fs::directory_iterator(dir, error))
        if (fs::exists(child.path() / "partition", error))
            partitions.push_back(PartitionNode{"/dev/" + child.path().filename().string(),
                                               DevnoOfSysDir(child.path())});
    return partitions;
}

dev_t DiskOfPartition(const std::string& sysfs, dev_t devno) {
    const std::string dir = SysDirOf(sysfs, devno);
    std::error_code error;
    if (dir.empty() || !fs::exists(fs::path(dir) / "partition", error))
        return 0;
    return DevnoOfSysDir(fs::path(dir).parent_path());
}

} // namespace platform::linux_backend
