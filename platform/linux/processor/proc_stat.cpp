#include "platform/linux/processor/proc_stat.h"

#include <algorithm>
#include <charconv>

#include "platform/linux/common/text_fields.h"

namespace vq::linux_platform {

ProcStat parseProcStat(std::string_view text) {
    ProcStat stat;
    for (std::string_view line : splitLines(text)) {
        // Skip the long interrupt and softirq lines without splitting them.
        if (!line.starts_with("cpu") && !line.starts_with("btime")) continue;
        std::vector<std::string_view> fields = splitFields(line);
        if (fields.empty()) continue;
        const std::string_view key = fields[0];
        if (key == "btime" && fields.size() >= 2) {
            stat.bootTime = parseInteger<std::int64_t>(fields[1]);
            continue;
        }
        if (key.size() <= 3 || key.substr(0, 3) != "cpu") continue;
        auto cpu = parseInteger<int>(key.substr(3));
        if (!cpu || *cpu < 0) continue;
        CpuLine parsed;
        parsed.cpu = *cpu;
        bool complete = fields.size() >= 5;  // at least user nice system idle
        const std::size_t columns = std::min<std::size_t>(fields.size() - 1, kCpuColumns);
        for (std::size_t c = 0; c < columns && complete; ++c) {
            auto value = parseInteger<std::uint64_t>(fields[c + 1]);
            if (!value) complete = false;
            else parsed.ticks[c] = *value;
        }
        if (complete) stat.cpus.push_back(parsed);
    }
    return stat;
}

std::array<std::uint64_t, 4> foldCpuLine(const CpuLine& line) {
    const auto& t = line.ticks;
    std::array<std::uint64_t, 4> folded{};
    folded[kStateUser] = t[kUser];
    folded[kStateSystem] = t[kSystem] + t[kIrq] + t[kSoftirq] + t[kSteal];
    folded[kStateIdle] = t[kIdle] + t[kIowait];
    folded[kStateNice] = t[kNice];
    return folded;
}

std::vector<ProcessorTicks> TickFolder::fold(const std::vector<CpuLine>& lines) {
    for (const CpuLine& line : lines) {
        auto folded = foldCpuLine(line);
        auto [it, inserted] = last_.try_emplace(line.cpu, folded);
        if (!inserted) {
            for (std::size_t k = 0; k < folded.size(); ++k) it->second[k] = std::max(it->second[k], folded[k]);
        }
    }
    if (last_.empty()) return {};
    std::vector<ProcessorTicks> rows(static_cast<std::size_t>(last_.rbegin()->first) + 1, ProcessorTicks{});
    for (const auto& [cpu, counters] : last_) {
        for (std::size_t k = 0; k < counters.size(); ++k)
            rows[static_cast<std::size_t>(cpu)][k] = static_cast<std::uint32_t>(counters[k]);
    }
    return rows;
}

}  // namespace vq::linux_platform
