#include "metrics/node_collector.h"

#include <functional>

#include "metrics/node_families.h"
#include "platform/linux/cgroups/linux_resource_limits.h"
#include "platform/linux/common/file_reading.h"

#ifndef VELQUETTE_VERSION
#error "VELQUETTE_VERSION must name the version being built"
#endif

namespace vq::metrics {

std::string scrapeNodeMetrics(const linux_platform::Roots& roots, std::vector<MetricFamily> extra) {
    ExpositionBuilder builder;
    std::vector<std::pair<std::string, bool>> outcomes;
    // A collector gives its families, or nullopt when its source could not be read.
    auto run = [&](const char* collector, const std::function<std::optional<std::vector<MetricFamily>>()>& collect) {
        auto families = collect();
        outcomes.emplace_back(collector, families.has_value());
        if (families)
            for (auto& family : *families) builder.add(std::move(family));
    };

    const auto procStat = linux_platform::readWholeFile(roots.proc + "/stat");
    const auto parsedStat = procStat ? std::optional(linux_platform::parseProcStat(*procStat)) : std::nullopt;
    run("cpu", [&]() -> std::optional<std::vector<MetricFamily>> {
        if (!parsedStat || parsedStat->cpus.empty()) return std::nullopt;
        return cpuFamilies(parsedStat->cpus, lm::clockTicksPerSecond());
    });
    run("loadavg", [&]() -> std::optional<std::vector<MetricFamily>> {
        const auto text = linux_platform::readWholeFile(roots.proc + "/loadavg");
        const auto load = text ? lm::parseLoadavg(*text) : std::nullopt;
        if (!load) return std::nullopt;
        return loadFamilies(*load);
    });
    run("meminfo", [&]() -> std::optional<std::vector<MetricFamily>> {
        const auto text = linux_platform::readWholeFile(roots.proc + "/meminfo");
        if (!text) return std::nullopt;
        return memoryFamilies(lm::parseMeminfoFields(*text));
    });
    run("vmstat", [&]() -> std::optional<std::vector<MetricFamily>> {
        const auto text = linux_platform::readWholeFile(roots.proc + "/vmstat");
        if (!text) return std::nullopt;
        return vmstatFamilies(lm::parseVmstatCounters(*text));
    });
    // The mount table is read once for the file systems and the startup disk.
    const auto mountinfo = linux_platform::readWholeFile(roots.proc + "/self/mountinfo");
    const auto mounts = mountinfo ? std::optional(linux_platform::parseMountinfo(*mountinfo)) : std::nullopt;
    run("filesystem", [&]() -> std::optional<std::vector<MetricFamily>> {
        if (!mounts) return std::nullopt;
        return filesystemFamilies(lm::fileSystemUsages(*mounts));
    });
    run("netdev", [&]() -> std::optional<std::vector<MetricFamily>> {
        const auto devices = lm::readNetDevices(roots.proc);
        if (!devices) return std::nullopt;
        return networkFamilies(*devices);
    });
    // A machine without the class folder has no chips or supplies to report.
    run("hwmon", [&]() -> std::optional<std::vector<MetricFamily>> {
        return hwmonFamilies(lm::readHwmonChips(roots.sys).value_or(std::vector<lm::HwmonChip>{}));
    });
    run("powersupplyclass", [&]() -> std::optional<std::vector<MetricFamily>> {
        return powerSupplyFamilies(lm::readPowerSupplyClass(roots.sys).value_or(std::vector<lm::PowerSupply>{}));
    });
    run("stat", [&]() -> std::optional<std::vector<MetricFamily>> {
        if (!parsedStat || !parsedStat->bootTime) return std::nullopt;
        return bootTimeFamilies(double(*parsedStat->bootTime));
    });
    run("time", [&]() -> std::optional<std::vector<MetricFamily>> { return timeFamilies(lm::realTimeSeconds()); });
    run("uname", [&]() -> std::optional<std::vector<MetricFamily>> {
        const auto uname = lm::readUname();
        if (!uname) return std::nullopt;
        return unameFamilies(*uname);
    });
    // Most disks report no temperature without privileges; that is not a failure.
    run("disk", [&]() -> std::optional<std::vector<MetricFamily>> {
        const auto disk = mounts ? lm::startupDiskTemperature(roots, *mounts) : std::nullopt;
        return disk ? diskTemperatureFamilies(*disk) : std::vector<MetricFamily>{};
    });
    // A reader of its own for each scrape, on the mount table read above:
    // the page's reader keeps the previous sample for its rates, and a
    // scrape changes no state.
    run("cgroup", [&]() -> std::optional<std::vector<MetricFamily>> {
        if (!mounts) return std::nullopt;
        return cgroupFamilies(linux_platform::LinuxResourceLimits(roots).sample(*mounts));
    });
    for (auto& family : buildInfoFamilies(VELQUETTE_VERSION)) builder.add(std::move(family));
    for (auto& family : extra) builder.add(std::move(family));
    builder.add(collectorSuccessFamily(outcomes));
    return builder.text();
}

}  // namespace vq::metrics
