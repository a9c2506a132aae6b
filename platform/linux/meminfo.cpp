#include "platform/linux/meminfo.h"

#include <algorithm>
#include <limits>

#include "platform/linux/text_fields.h"

namespace vq::linux_platform {

namespace {

constexpr std::uint64_t kKiBPerPage = 4;  // 4096-byte pages

// Page counts beyond 32 bits (16 TiB of memory) are held at the largest
// count rather than wrapped to a small one.
std::uint32_t pagesFromKiB(std::uint64_t kib) {
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(kib / kKiBPerPage, std::numeric_limits<std::uint32_t>::max()));
}

}  // namespace

Meminfo parseMeminfo(std::string_view text) {
    Meminfo meminfo;
    for (std::string_view line : splitLines(text)) {
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        const std::string_view key = line.substr(0, colon);
        const auto fields = splitFields(line.substr(colon + 1));
        if (fields.size() != 2 || fields[1] != "kB") continue;
        const auto value = parseInteger<std::uint64_t>(fields[0]);
        if (!value) continue;
        if (key == "MemTotal")
            meminfo.memTotalKiB = value;
        else if (key == "MemFree")
            meminfo.memFreeKiB = value;
        else if (key == "Active")
            meminfo.activeKiB = value;
        else if (key == "Inactive")
            meminfo.inactiveKiB = value;
        else if (key == "SwapTotal")
            meminfo.swapTotalKiB = value;
    }
    return meminfo;
}

std::optional<VmStatistics> pageCountsFromMeminfo(const Meminfo& meminfo) {
    if (!meminfo.memTotalKiB || !meminfo.memFreeKiB || !meminfo.activeKiB || !meminfo.inactiveKiB) return std::nullopt;
    const std::uint64_t accounted = *meminfo.memFreeKiB + *meminfo.activeKiB + *meminfo.inactiveKiB;
    // The lines are sampled one after another, so on a busy machine the three
    // can add up to a little more than the total.
    const std::uint64_t wiredKiB = *meminfo.memTotalKiB > accounted ? *meminfo.memTotalKiB - accounted : 0;
    // Converting each figure on its own could lose up to three pages of the
    // total to rounding; wired takes up the difference.
    const std::uint64_t totalPages = *meminfo.memTotalKiB / kKiBPerPage;
    const std::uint64_t freePages = *meminfo.memFreeKiB / kKiBPerPage;
    const std::uint64_t activePages = *meminfo.activeKiB / kKiBPerPage;
    const std::uint64_t inactivePages = *meminfo.inactiveKiB / kKiBPerPage;
    const std::uint64_t otherPages = freePages + activePages + inactivePages;
    const std::uint64_t wiredPages = wiredKiB == 0 ? 0 : (totalPages > otherPages ? totalPages - otherPages : 0);

    VmStatistics stats;
    stats.freeCount = pagesFromKiB(*meminfo.memFreeKiB);
    stats.activeCount = pagesFromKiB(*meminfo.activeKiB);
    stats.inactiveCount = pagesFromKiB(*meminfo.inactiveKiB);
    stats.wireCount = pagesFromKiB(wiredPages * kKiBPerPage);
    return stats;
}

}  // namespace vq::linux_platform
