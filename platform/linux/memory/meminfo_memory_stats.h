#pragma once
// Memory page counts and swap size of the running Linux kernel, from
// <proc>/meminfo and <proc>/vmstat.

#include <string>

#include "platform/memory_stats.h"

namespace vq::linux_platform {

class MeminfoMemoryStats : public MemoryStats {
public:
    explicit MeminfoMemoryStats(const std::string& procRoot)
        : meminfoPath_(procRoot + "/meminfo"), vmstatPath_(procRoot + "/vmstat") {}

    // nullopt when either file cannot be read or lacks a figure.
    std::optional<VmStatistics> hostStatistics() override;
    // The first call after hostStatistics() answers from the meminfo text that
    // call read: a memory sample asks for both, and meminfo is the dearest
    // file of the two to produce. Any other call reads the file.
    std::optional<std::uint64_t> swapTotalBytes() override;

private:
    std::string meminfoPath_;
    std::string vmstatPath_;
    // Kept between samples so that reading does not allocate each time.
    std::string meminfoText_;
    std::string vmstatText_;
    // SwapTotal (in KiB, or its absence) from hostStatistics()'s read, until
    // swapTotalBytes() takes it.
    std::optional<std::optional<std::uint64_t>> sampledSwapKiB_;
};

}  // namespace vq::linux_platform
