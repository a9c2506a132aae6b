#include "platform/linux/meminfo_memory_stats.h"

#include <limits>

#include "platform/linux/file_reading.h"
#include "platform/linux/linux_storage.h"
#include "platform/linux/meminfo.h"
#include "platform/linux/vmstat.h"

namespace vq::linux_platform {

std::optional<VmStatistics> MeminfoMemoryStats::hostStatistics() {
    const auto meminfoText = readWholeFile(procRoot_ + "/meminfo");
    const auto vmstatText = readWholeFile(procRoot_ + "/vmstat");
    if (!meminfoText || !vmstatText) return std::nullopt;
    auto stats = pageCountsFromMeminfo(parseMeminfo(*meminfoText));
    const VmstatPaging paging = parseVmstat(*vmstatText);
    if (!stats || !paging.pgpginKiB || !paging.pgpgoutKiB) return std::nullopt;
    stats->pageins = pageCounterFromKiB(*paging.pgpginKiB);
    stats->pageouts = pageCounterFromKiB(*paging.pgpgoutKiB);
    return stats;
}

std::optional<std::uint64_t> MeminfoMemoryStats::swapTotalBytes() {
    const auto text = readWholeFile(procRoot_ + "/meminfo");
    if (!text) return std::nullopt;
    const auto swapKiB = parseMeminfo(*text).swapTotalKiB;
    if (!swapKiB || *swapKiB > std::numeric_limits<std::uint64_t>::max() / 1024) return std::nullopt;
    return *swapKiB * 1024;
}

std::shared_ptr<MemoryStats> makeLinuxMemoryStats(const Roots& roots) {
    return std::make_shared<MeminfoMemoryStats>(roots.proc);
}

}  // namespace vq::linux_platform
