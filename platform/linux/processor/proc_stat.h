#pragma once
// /proc/stat: per-processor tick lines and the boot time, and the folding of
// Linux's ten CPU states into the four the miners count.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/processor_stats.h"

namespace vq::linux_platform {

// Columns of a cpuN line in kernel order. Older kernels print fewer; missing
// columns read as 0.
enum CpuColumn : std::size_t {
    kUser, kNice, kSystem, kIdle, kIowait, kIrq, kSoftirq, kSteal, kGuest, kGuestNice, kCpuColumns
};

struct CpuLine {
    int cpu = 0;  // N of "cpuN"
    std::array<std::uint64_t, kCpuColumns> ticks{};
};

struct ProcStat {
    std::vector<CpuLine> cpus;  // in file order; the aggregate "cpu" line is not included
    std::optional<std::int64_t> bootTime;  // btime
};

ProcStat parseProcStat(std::string_view text);

// user (guest time is already inside it), system + irq + softirq + steal,
// idle + iowait, nice; in ProcessorState order.
std::array<std::uint64_t, 4> foldCpuLine(const CpuLine& line);

// Turns successive /proc/stat readings into rows of 32-bit counters. Rows are
// numbered by the cpuN of the line, so an offline processor keeps its place
// (and its last counters) instead of shifting the others. iowait may go
// backwards, so every folded counter is kept from decreasing.
class TickFolder {
public:
    std::vector<ProcessorTicks> fold(const std::vector<CpuLine>& lines);

private:
    std::map<int, std::array<std::uint64_t, 4>> last_;
};

}  // namespace vq::linux_platform
