#pragma once
// Processor statistics of the running Linux kernel: ticks and boot time from
// /proc/stat, load averages from sysinfo(), the thread total from
// /proc/loadavg and the task count from the numeric entries of /proc.

#include <optional>
#include <string>
#include <string_view>

#include "platform/linux/processor/proc_stat.h"
#include "platform/processor_stats.h"

namespace vq::linux_platform {

// The total after the slash of the fourth field ("1/213" → 213).
std::optional<std::int32_t> parseLoadavgThreadTotal(std::string_view text);

// sysinfo()'s loads are fixed point with 16 fractional bits.
LoadAverageRecord loadAverageFromSysinfo(const unsigned long (&loads)[3]);

// Entries of /proc that are processes (thread-group leaders).
std::int32_t countTaskEntries(const std::vector<std::string>& procEntries);

class LinuxProcessorStats : public ProcessorStats {
public:
    explicit LinuxProcessorStats(std::string procRoot);

    std::optional<std::vector<ProcessorTicks>> processorLoadInfo() override;
    std::optional<TaskCounts> processorSetLoadInfo() override;
    std::optional<LoadAverageRecord> loadAverage() override;
    std::optional<BootTime> bootTime() override;

private:
    std::string procRoot_;
    TickFolder folder_;
};

}  // namespace vq::linux_platform
