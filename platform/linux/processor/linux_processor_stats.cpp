#include "platform/linux/processor/linux_processor_stats.h"

#include <sys/sysinfo.h>

#include <algorithm>
#include <limits>

#include "platform/linux/common/file_reading.h"
#include "platform/linux/common/text_fields.h"

namespace vq::linux_platform {

std::optional<std::int32_t> parseLoadavgThreadTotal(std::string_view text) {
    const auto fields = splitFields(text.substr(0, text.find('\n')));
    if (fields.size() < 4) return std::nullopt;
    const std::string_view running = fields[3];
    const auto slash = running.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    return parseInteger<std::int32_t>(running.substr(slash + 1));
}

LoadAverageRecord loadAverageFromSysinfo(const unsigned long (&loads)[3]) {
    LoadAverageRecord record;
    for (std::size_t i = 0; i < 3; ++i)
        record.ldavg[i] = static_cast<std::uint32_t>(std::min<unsigned long>(loads[i], std::numeric_limits<std::uint32_t>::max()));
    record.fscale = 1 << SI_LOAD_SHIFT;
    return record;
}

std::int32_t countTaskEntries(const std::vector<std::string>& procEntries) {
    return static_cast<std::int32_t>(std::count_if(procEntries.begin(), procEntries.end(), [](const std::string& name) {
        return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
    }));
}

LinuxProcessorStats::LinuxProcessorStats(std::string procRoot) : procRoot_(std::move(procRoot)) {}

std::optional<std::vector<ProcessorTicks>> LinuxProcessorStats::processorLoadInfo() {
    auto text = readWholeFile(procRoot_ + "/stat");
    if (!text) return std::nullopt;
    ProcStat stat = parseProcStat(*text);
    if (stat.cpus.empty()) return std::nullopt;
    return folder_.fold(stat.cpus);
}

std::optional<TaskCounts> LinuxProcessorStats::processorSetLoadInfo() {
    auto entries = listDirectory(procRoot_);
    auto loadavg = readWholeFile(procRoot_ + "/loadavg");
    if (!entries || !loadavg) return std::nullopt;
    auto threads = parseLoadavgThreadTotal(*loadavg);
    if (!threads) return std::nullopt;
    return TaskCounts{countTaskEntries(*entries), *threads};
}

std::optional<LoadAverageRecord> LinuxProcessorStats::loadAverage() {
    struct sysinfo info {};
    if (::sysinfo(&info) != 0) return std::nullopt;
    return loadAverageFromSysinfo(info.loads);
}

std::optional<BootTime> LinuxProcessorStats::bootTime() {
    auto text = readWholeFile(procRoot_ + "/stat");
    if (!text) return std::nullopt;
    auto btime = parseProcStat(*text).bootTime;
    if (!btime || *btime < 0 || *btime > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
    return BootTime{static_cast<std::int32_t>(*btime), 0};
}

}  // namespace vq::linux_platform
