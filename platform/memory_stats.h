#pragma once
// Virtual-memory page counts and the size of swap space.

#include <cstdint>
#include <optional>

namespace vq {

// Page counts in 4096-byte pages; page-ins and page-outs are totals since boot.
struct VmStatistics {
    std::uint32_t freeCount = 0;
    std::uint32_t activeCount = 0;
    std::uint32_t inactiveCount = 0;
    std::uint32_t wireCount = 0;
    std::uint32_t pageins = 0;
    std::uint32_t pageouts = 0;
};

class MemoryStats {
public:
    virtual ~MemoryStats() = default;
    virtual std::optional<VmStatistics> hostStatistics() = 0;
    // Total size of swap space in bytes (not the part in use).
    virtual std::optional<std::uint64_t> swapTotalBytes() = 0;
};

}  // namespace vq
