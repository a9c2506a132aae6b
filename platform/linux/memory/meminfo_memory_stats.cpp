#include "platform/linux/memory/meminfo_memory_stats.h"

#include <limits>

#include "platform/linux/common/file_reading.h"
#include "platform/linux/memory/meminfo.h"
#include "platform/linux/memory/vmstat.h"
#include "platform/linux/storage/linux_storage.h"

namespace vq::linux_platform {

std::optional<VmStatistics> MeminfoMemoryStats::hostStatistics() {
    sampledSwapKiB_.reset();
    if (!readWholeFileInto(meminfoPath_, meminfoText_)) return std::nullopt;
    const Meminfo meminfo = parseMeminfo(meminfoText_);
    sampledSwapKiB_ = meminfo.swapTotalKiB;
    if (!readWholeFileInto(vmstatPath_, vmstatText_)) return std::nullopt;
    auto stats = pageCountsFromMeminfo(meminfo);
    const VmstatPaging paging = parseVmstat(vmstatText_);
    if (!stats || !paging.pgpginKiB || !paging.pgpgoutKiB) return std::nullopt;
    stats->pageins = pageCounterFromKiB(*paging.pgpginKiB);
    stats->pageouts = pageCounterFromKiB(*paging.pgpgoutKiB);
    return stats;
}

std::optional<std::uint64_t> MeminfoMemoryStats::swapTotalBytes() {
    std::optional<std::uint64_t> swapKiB;
    if (sampledSwapKiB_) {
        swapKiB = *sampledSwapKiB_;
        sampledSwapKiB_.reset();
    } else {
        if (!readWholeFileInto(meminfoPath_, meminfoText_)) return std::nullopt;
        swapKiB = parseMeminfo(meminfoText_).swapTotalKiB;
    }
    if (!swapKiB || *swapKiB > std::numeric_limits<std::uint64_t>::max() / 1024) return std::nullopt;
    return *swapKiB * 1024;
}

std::shared_ptr<MemoryStats> makeLinuxMemoryStats(const Roots& roots) {
    return std::make_shared<MeminfoMemoryStats>(roots.proc);
}

}  // namespace vq::linux_platform
