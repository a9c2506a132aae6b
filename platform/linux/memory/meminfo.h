#pragma once
// /proc/meminfo: the kernel's memory totals in KiB.

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/memory_stats.h"

namespace vq::linux_platform {

// The lines that the memory figures are built from, in KiB; a line the file
// does not have stays empty.
struct Meminfo {
    std::optional<std::uint64_t> memTotalKiB;
    std::optional<std::uint64_t> memFreeKiB;
    std::optional<std::uint64_t> activeKiB;
    std::optional<std::uint64_t> inactiveKiB;
    std::optional<std::uint64_t> swapTotalKiB;
    std::optional<std::uint64_t> memAvailableKiB = std::nullopt;  // kernel 3.14 and later
};

// Reads "Key:   value kB" lines. Keys must match whole, so "Active(anon)"
// never stands in for "Active"; lines without a unit (HugePages_Total) and
// unknown keys are passed over.
Meminfo parseMeminfo(std::string_view text);

// Free, active, inactive and wired in 4096-byte pages. Wired is whatever of
// MemTotal is in none of the other three (kernel, slab, page tables,
// unevictable and huge-page pools), so the four add up to MemTotal. nullopt
// when one of the four lines is missing. Page-ins and page-outs stay 0.
std::optional<VmStatistics> pageCountsFromMeminfo(const Meminfo& meminfo);

}  // namespace vq::linux_platform
