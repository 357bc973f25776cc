#include "platform/linux/volume.h"

#include "platform/codepage.h"
#include "platform/linux/running_system.h"

#include <blkid/blkid.h>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <libmount/libmount.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace platform::linux_backend {

namespace {

struct ProbeFree {
    void operator()(blkid_probe probe) const { blkid_free_probe(probe); }
};
using Probe = std::unique_ptr<std::remove_pointer_t<blkid_probe>, ProbeFree>;

struct TableFree {
    void operator()(libmnt_table* table) const { mnt_unref_table(table); }
};
using Table = std::unique_ptr<libmnt_table, TableFree>;

std::string Value(blkid_probe probe, const char* name) {
    const char* value = nullptr;
    if (blkid_probe_lookup_value(probe, name, &value, nullptr) != 0 || value == nullptr)
        return {};
    return value;
}

// The volume serial Windows shows: the FAT and exFAT "ABCD-1234" as it reads, the first
// eight hex digits of longer ids (NTFS's 64-bit serial keeps its low half first).
DWORD SerialOf(const std::string& uuid, const std::string& type) {
    std::string digits;
    for (char c : uuid)
        if (std::isxdigit(static_cast<unsigned char>(c)))
            digits.push_back(c);
    if (type == "ntfs" && digits.size() == 16)
        digits = digits.substr(8);
    if (digits.size() > 8)
        digits.resize(8);
    return digits.empty() ? 0 : static_cast<DWORD>(std::stoul(digits, nullptr, 16));
}

Table MountTable() {
    Table table(mnt_new_table());
    if (table && mnt_table_parse_mtab(table.get(), nullptr) != 0)
        table.reset();
    return table;
}

bool OnDevice(dev_t mounted, dev_t device, bool partitionsToo) {
    if (mounted == device)
        return true;
    if (!partitionsToo || mounted == 0)
        return false;
    // A partition of the disk: its sysfs entry lies in the disk's. Its major number may differ
    // from the disk's (a loop device's partitions are numbered by the extended major).
    char link[64];
    std::snprintf(link, sizeof(link), "/sys/dev/block/%u:%u/partition", major(mounted),
                  minor(mounted));
    struct stat st {};
    if (stat(link, &st) != 0)
        return false;
    std::snprintf(link, sizeof(link), "/sys/dev/block/%u:%u/..", major(mounted), minor(mounted));
    char real[4096];
    if (realpath(link, real) == nullptr)
        return false;
    char own[64];
    std::snprintf(own, sizeof(own), "/sys/dev/block/%u:%u", major(device), minor(device));
    char ownReal[4096];
    return realpath(own, ownReal) != nullptr && std::strcmp(real, ownReal) == 0;
}

} // namespace

std::optional<VolumeFacts> ProbeVolume(const std::string& node) {
    Probe probe(blkid_new_probe_from_filename(node.c_str()));
    if (!probe)
        return std::nullopt;
    blkid_probe_enable_superblocks(probe.get(), 1);
    blkid_probe_set_superblocks_flags(probe.get(), BLKID_SUBLKS_LABEL | BLKID_SUBLKS_TYPE |
                                                       BLKID_SUBLKS_UUID | BLKID_SUBLKS_VERSION);
    blkid_probe_enable_partitions(probe.get(), 0);
    if (blkid_do_safeprobe(probe.get()) != 0)
        return std::nullopt;
    VolumeFacts facts;
    facts.blkidType = Value(probe.get(), "TYPE");
    if (facts.blkidType.empty())
        return std::nullopt;
    // blkid gives labels in UTF-8; the program's texts are Windows-1252.
    facts.label = platform::Utf8ToCp1252(Value(probe.get(), "LABEL"));
    facts.serial = SerialOf(Value(probe.get(), "UUID"), facts.blkidType);
    const std::string version = Value(probe.get(), "VERSION");
    if (facts.blkidType == "vfat")
        facts.fileSystem = version.rfind("FAT", 0) == 0 ? version : "FAT";
    else if (facts.blkidType == "msdos")
        facts.fileSystem = version.rfind("FAT", 0) == 0 ? version : "FAT12";
    else if (facts.blkidType == "ntfs")
        facts.fileSystem = "NTFS";
    else if (facts.blkidType == "exfat")
        facts.fileSystem = "exFAT";
    else
        facts.fileSystem = facts.blkidType;
    return facts;
}

std::optional<PartitionEntry> ReadPartitionEntry(const std::string& wholeDisk, int number) {
    Probe probe(blkid_new_probe_from_filename(wholeDisk.c_str()));
    if (!probe)
        return std::nullopt;
    blkid_partlist list = blkid_probe_get_partitions(probe.get());
    if (list == nullptr)
        return std::nullopt;
    const int count = blkid_partlist_numof_partitions(list);
    for (int i = 0; i < count; ++i) {
        blkid_partition partition = blkid_partlist_get_partition(list, i);
        if (blkid_partition_get_partno(partition) != number)
            continue;
        PartitionEntry entry;
        blkid_parttable table = blkid_partition_get_table(partition);
        const char* tableType = table != nullptr ? blkid_parttable_get_type(table) : nullptr;
        if (tableType != nullptr && std::strcmp(tableType, "dos") == 0) {
            entry.type = static_cast<std::uint8_t>(blkid_partition_get_type(partition));
            entry.boot = (blkid_partition_get_flags(partition) & 0x80) != 0;
        }
        return entry;
    }
    return std::nullopt;
}

std::optional<std::string> MountPointOf(dev_t device) {
    return MountPointOn(device, false);
}

std::optional<std::string> MountPointOn(dev_t device, bool partitionsToo) {
    Table table = MountTable();
    if (!table)
        return std::nullopt;
    libmnt_iter* iter = mnt_new_iter(MNT_ITER_FORWARD);
    libmnt_fs* entry = nullptr;
    std::optional<std::string> found;
    while (!found && mnt_table_next_fs(table.get(), iter, &entry) == 0)
        if (OnDevice(mnt_fs_get_devno(entry), device, partitionsToo) &&
            mnt_fs_get_target(entry) != nullptr)
            found = mnt_fs_get_target(entry);
    mnt_free_iter(iter);
    return found;
}

std::optional<std::string> WhyBusy(const std::string& node, dev_t device) {
    const int fd = open(node.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
    if (fd >= 0) {
        close(fd);
        return std::nullopt;
    }
    if (errno != EBUSY)
        return std::nullopt;
    if (auto point = MountPointOn(device, true))
        return "mounted at " + *point;
    const auto holders = HoldersOf(device);
    if (!holders.empty()) {
        std::string text = "held by ";
        for (std::size_t i = 0; i < holders.size(); ++i)
            text += (i == 0 ? "" : ", ") + holders[i];
        return text;
    }
    return "held open by another program (or mounted by another mount namespace)";
}

int UnmountAll(dev_t device, bool partitionsToo) {
    // Stacked mounts go first: the table is walked from its newest entry.
    for (;;) {
        Table table = MountTable();
        if (!table)
            return EIO;
        libmnt_iter* iter = mnt_new_iter(MNT_ITER_BACKWARD);
        libmnt_fs* entry = nullptr;
        std::string target;
        while (target.empty() && mnt_table_next_fs(table.get(), iter, &entry) == 0)
            if (OnDevice(mnt_fs_get_devno(entry), device, partitionsToo) &&
                mnt_fs_get_target(entry) != nullptr)
                target = mnt_fs_get_target(entry);
        mnt_free_iter(iter);
        if (target.empty())
            return 0;
        libmnt_context* context = mnt_new_context();
        if (context == nullptr)
            return ENOMEM;
        mnt_context_set_target(context, target.c_str());
        const int result = mnt_context_umount(context);
        const int syscallError = mnt_context_get_syscall_errno(context);
        mnt_free_context(context);
        if (result != 0)
            return syscallError != 0 ? syscallError : (result < 0 ? -result : EBUSY);
    }
}

} // namespace platform::linux_backend
