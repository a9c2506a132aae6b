#pragma once
// Processor statistics of the host: per-processor tick counters, the
// processor set's task and thread counts, the load-average record and the
// boot time. Counters are the kernel's cumulative ticks, kept to 32 bits so
// that callers do their interval arithmetic with unsigned wrap.

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace vq {

// One processor's cumulative ticks, indexed by the state constants below.
using ProcessorTicks = std::array<std::uint32_t, 4>;
enum ProcessorState : std::size_t { kStateUser = 0, kStateSystem = 1, kStateIdle = 2, kStateNice = 3 };

struct TaskCounts {
    std::int32_t tasks = 0;
    std::int32_t threads = 0;
};

// Three fixed-point averages (1, 5, 15 minutes) and their scale.
struct LoadAverageRecord {
    std::array<std::uint32_t, 3> ldavg{};
    std::int32_t fscale = 0;
};

struct BootTime {
    std::int32_t sec = 0;
    std::int32_t usec = 0;
};

class ProcessorStats {
public:
    virtual ~ProcessorStats() = default;
    // One row per processor in the kernel's order; nullopt when unreadable.
    virtual std::optional<std::vector<ProcessorTicks>> processorLoadInfo() = 0;
    virtual std::optional<TaskCounts> processorSetLoadInfo() = 0;
    virtual std::optional<LoadAverageRecord> loadAverage() = 0;
    virtual std::optional<BootTime> bootTime() = 0;
};

}  // namespace vq
