// The bytes of a raw device transfer on the simulated PC: through the device's system cache
// for a handle opened without FILE_FLAG_NO_BUFFERING (read_cache.h says what that models),
// and with the writes a drive acknowledges but drops ("lostWrites").
#include "platform/sim/kernel32.h"

namespace platform::sim {

ReadCache& SimKernel32::CacheOf(const DeviceHandle& h) {
    std::unique_ptr<ReadCache>& cache = caches_[{h.drive, h.disk}];
    if (!cache)
        cache = std::make_unique<ReadCache>();
    return *cache;
}

void SimKernel32::DropCache(const DeviceHandle& h) {
    auto found = caches_.find({h.drive, h.disk});
    if (found != caches_.end())
        found->second->Drop();
}

std::vector<std::pair<std::int64_t, DWORD>>
SimKernel32::LostSectors(Image* image, std::int64_t absolute, std::int64_t size) {
    std::vector<std::pair<std::int64_t, DWORD>> lost;
    auto consider = [&](std::vector<BlockFault>& faults, std::int64_t base, DWORD sector) {
        for (auto& f : faults) {
            const std::int64_t where = base + f.block * sector;
            if (!f.fault.armed() || where < absolute || where + sector > absolute + size)
                continue;
            f.fault.Fire();
            lost.emplace_back(where, sector);
        }
    };
    // A partition's fault hits the same sectors reached through its disk, and the other way.
    for (PhysicalDisk& disk : machine_->disks)
        if (disk.image == image)
            consider(disk.faults.lostWrites, 0, disk.geometry.BytesPerSector);
    for (std::size_t i = 0; i < machine_->drives.size(); ++i) {
        Extent e;
        if (DriveExtent(i, &e) && e.image == image)
            consider(machine_->drives[i].faults.lostWrites, e.base, e.sectorSize);
    }
    return lost;
}

bool SimKernel32::MoveBytes(const Extent& e, ReadCache* cache, std::int64_t position,
                            std::int64_t absolute, void* buffer, DWORD count, bool write,
                            const std::vector<std::pair<std::int64_t, DWORD>>& lost) {
    const ReadCache::Medium medium{e.image, absolute - position, e.length};
    if (!write)
        return cache != nullptr ? cache->Read(medium, position, buffer, count)
                                : e.image->Read(absolute, buffer, count);
    auto toMedium = [&] {
        std::vector<std::vector<std::uint8_t>> kept;
        for (const auto& [at, bytes] : lost) {
            kept.emplace_back(bytes);
            if (!e.image->Read(at, kept.back().data(), bytes))
                return false;
        }
        if (!e.image->Write(absolute, buffer, count))
            return false;
        for (std::size_t i = 0; i < lost.size(); ++i)
            if (!e.image->Write(lost[i].first, kept[i].data(), lost[i].second))
                return false;
        return true;
    };
    return cache != nullptr ? cache->Write(medium, position, buffer, count, toMedium) : toMedium();
}

} // namespace platform::sim
