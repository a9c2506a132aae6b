#include "platform/linux/memory/meminfo.h"

#include <algorithm>
#include <limits>

#include "platform/linux/common/text_fields.h"

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
    // One pass over the text without splitting it: the memory sample is taken
    // every few seconds, and only six of some fifty lines matter.
    Meminfo meminfo;
    while (!text.empty()) {
        const std::string_view line = takeLine(text);
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        const std::string_view key = line.substr(0, colon);
        std::optional<std::uint64_t>* target = nullptr;
        if (key == "MemTotal")
            target = &meminfo.memTotalKiB;
        else if (key == "MemFree")
            target = &meminfo.memFreeKiB;
        else if (key == "MemAvailable")
            target = &meminfo.memAvailableKiB;
        else if (key == "Active")
            target = &meminfo.activeKiB;
        else if (key == "Inactive")
            target = &meminfo.inactiveKiB;
        else if (key == "SwapTotal")
            target = &meminfo.swapTotalKiB;
        else
            continue;

        // "   16384 kB": the number, then exactly the unit.
        std::string_view rest = line.substr(colon + 1);
        const auto valueStart = rest.find_first_not_of(" \t");
        if (valueStart == std::string_view::npos) continue;
        rest.remove_prefix(valueStart);
        const auto valueEnd = rest.find_first_of(" \t");
        if (valueEnd == std::string_view::npos) continue;
        const auto value = parseInteger<std::uint64_t>(rest.substr(0, valueEnd));
        rest.remove_prefix(valueEnd);
        const auto unitStart = rest.find_first_not_of(" \t");
        if (!value || unitStart == std::string_view::npos) continue;
        rest.remove_prefix(unitStart);
        const auto trailing = rest.find_first_of(" \t");
        if (rest.substr(0, trailing) != "kB" ||
            (trailing != std::string_view::npos && rest.find_first_not_of(" \t", trailing) != std::string_view::npos))
            continue;
        *target = value;
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
