#pragma once
// Memory page counts and swap size of the running Linux kernel, from
// <proc>/meminfo and <proc>/vmstat.

#include <string>

#include "platform/memory_stats.h"

namespace vq::linux_platform {

class MeminfoMemoryStats : public MemoryStats {
public:
    explicit MeminfoMemoryStats(std::string procRoot) : procRoot_(std::move(procRoot)) {}

    // nullopt when either file cannot be read or lacks a figure.
    std::optional<VmStatistics> hostStatistics() override;
    std::optional<std::uint64_t> swapTotalBytes() override;

private:
    std::string procRoot_;
};

}  // namespace vq::linux_platform
