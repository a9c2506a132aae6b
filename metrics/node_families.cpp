#include "metrics/node_families.h"

#include <algorithm>

#include <array>
#include <charconv>
#include <tuple>

#include "platform/linux/common/text_fields.h"

namespace vq::metrics {
namespace {

// "Active(anon)" → "Active_anon".
void meminfoKey(std::string_view key, std::string& out) {
    out.clear();
    for (char c : key) {
        if (c == '(') out += '_';
        else if (c != ')') out += c;
    }
}

// A sensor's value: its bare file ("temp1") where there is one, else its
// "_input" file.
const std::string* sensorValue(const std::map<std::string, std::string>& properties) {
    if (auto bare = properties.find(""); bare != properties.end()) return &bare->second;
    if (auto input = properties.find("input"); input != properties.end()) return &input->second;
    return nullptr;
}

bool startsWithType(const std::string& sensor, std::string_view type) {
    return sensor.starts_with(type) && sensor.size() > type.size() && sensor[type.size()] >= '0' &&
           sensor[type.size()] <= '9';
}

// Whether a chip before chips[index] with the same label already gave the
// series that `same` looks for.
template <typename Same>
bool earlierChipGave(const std::vector<lm::HwmonChip>& chips, std::size_t index, Same same) {
    for (std::size_t i = 0; i < index; ++i)
        if (chips[i].label == chips[index].label && same(chips[i])) return true;
    return false;
}

std::optional<double> sensorNumber(const std::map<std::string, std::string>& properties) {
    const std::string* text = sensorValue(properties);
    return text ? linux_platform::parseDecimal(*text) : std::nullopt;
}

// The number of a value series of `type` ("temp", "fan") from this sensor.
std::optional<double> typedValue(const std::string& sensor, const std::map<std::string, std::string>& properties,
                                 std::string_view type) {
    return startsWithType(sensor, type) ? sensorNumber(properties) : std::nullopt;
}

}  // namespace

void writeCpu(ExpositionWriter& out, const std::vector<linux_platform::CpuLine>& cpus, long ticksPerSecond) {
    using namespace linux_platform;
    constexpr std::array<std::pair<CpuColumn, const char*>, 8> modes = {{{kUser, "user"}, {kNice, "nice"},
        {kSystem, "system"}, {kIdle, "idle"}, {kIowait, "iowait"}, {kIrq, "irq"}, {kSoftirq, "softirq"},
        {kSteal, "steal"}}};
    out.family("node_cpu_seconds_total", "Seconds the CPUs spent in each mode.", MetricType::Counter);
    const double hz = double(ticksPerSecond > 0 ? ticksPerSecond : 100);
    char number[16];
    for (const auto& line : cpus) {
        const auto end = std::to_chars(number, number + sizeof number, line.cpu).ptr;
        const std::string_view cpu(number, std::size_t(end - number));
        for (const auto& [column, mode] : modes) out.sample({{"cpu", cpu}, {"mode", mode}}, double(line.ticks[column]) / hz);
    }
}

void writeLoad(ExpositionWriter& out, const lm::LoadAverages& load) {
    out.family("node_load1", "1m load average.", MetricType::Gauge);
    out.sample(load.one);
    out.family("node_load5", "5m load average.", MetricType::Gauge);
    out.sample(load.five);
    out.family("node_load15", "15m load average.", MetricType::Gauge);
    out.sample(load.fifteen);
}

void writeMemory(ExpositionWriter& out, const std::vector<lm::MeminfoField>& fields) {
    std::string key;  // short enough to stay in the string itself
    for (const auto& field : fields) {
        meminfoKey(field.key, key);
        const std::string_view unit = field.inKiB ? "_bytes" : "";
        out.family({"node_memory_", key, unit}, {"Memory information field ", key, unit, "."}, MetricType::Gauge);
        out.sample(field.inKiB ? double(field.value) * 1024 : double(field.value));
    }
}

void writeVmstat(ExpositionWriter& out, const std::vector<lm::VmstatCounter>& counters) {
    for (const auto& counter : counters) {
        out.family({"node_vmstat_", counter.name}, {"/proc/vmstat information field ", counter.name, "."},
                   MetricType::Untyped);
        out.sample(double(counter.value));
    }
}

void writeFileSystems(ExpositionWriter& out, const std::vector<lm::FileSystemUsage>& usages) {
    using Field = std::uint64_t lm::FileSystemSpace::*;
    constexpr std::array<std::tuple<const char*, const char*, Field>, 3> families = {{
        {"node_filesystem_size_bytes", "Filesystem size in bytes.", &lm::FileSystemSpace::sizeBytes},
        {"node_filesystem_free_bytes", "Filesystem free space in bytes.", &lm::FileSystemSpace::freeBytes},
        {"node_filesystem_avail_bytes", "Filesystem space available to non-root users in bytes.",
         &lm::FileSystemSpace::availBytes}}};
    for (const auto& [name, help, field] : families) {
        out.family(name, help, MetricType::Gauge);
        for (const auto& usage : usages)
            out.sample({{"device", usage.device}, {"fstype", usage.fsType}, {"mountpoint", usage.mountPoint}},
                       double(usage.space.*field));
    }
}

void writeNetwork(ExpositionWriter& out, const std::vector<lm::NetDevice>& devices) {
    using Field = std::uint64_t lm::DeviceCounters::*;
    constexpr std::array<std::pair<Field, const char*>, 4> fields = {
        {{&lm::DeviceCounters::bytes, "bytes"}, {&lm::DeviceCounters::packets, "packets"},
         {&lm::DeviceCounters::errs, "errs"}, {&lm::DeviceCounters::drop, "drop"}}};
    for (const std::string_view direction : {"receive", "transmit"}) {
        for (const auto& [field, suffix] : fields) {
            out.family({"node_network_", direction, "_", suffix, "_total"},
                       {"Network device statistic ", direction, "_", suffix, "."}, MetricType::Counter);
            for (const auto& device : devices) {
                const auto& counters = direction == "receive" ? device.receive : device.transmit;
                out.sample({{"device", device.name}}, double(counters.*field));
            }
        }
    }
}

void writeHwmon(ExpositionWriter& out, const std::vector<lm::HwmonChip>& chips) {
    out.family("node_hwmon_chip_names", "Annotation metric for human-readable chip names", MetricType::Gauge);
    for (std::size_t i = 0; i < chips.size(); ++i) {
        const auto& chip = chips[i];
        if (chip.humanName && !earlierChipGave(chips, i, [&](const lm::HwmonChip& c) { return c.humanName == chip.humanName; }))
            out.sample({{"chip", chip.label}, {"chip_name", *chip.humanName}}, 1);
    }
    out.family("node_hwmon_sensor_label", "Label for given chip and sensor", MetricType::Gauge);
    for (std::size_t i = 0; i < chips.size(); ++i) {
        for (const auto& [sensor, properties] : chips[i].sensors) {
            const auto label = properties.find("label");
            if (label == properties.end()) continue;
            // Named captures: clang before 16 cannot capture a structured binding.
            const bool repeated = earlierChipGave(chips, i, [&, &sensor = sensor](const lm::HwmonChip& c) {
                const auto other = c.sensors.find(sensor);
                return other != c.sensors.end() && other->second.contains("label") &&
                       other->second.at("label") == label->second;
            });
            if (!repeated) out.sample({{"chip", chips[i].label}, {"label", label->second}, {"sensor", sensor}}, 1);
        }
    }
    constexpr std::array<std::tuple<const char*, const char*, const char*, double>, 2> values = {{
        {"node_hwmon_temp_celsius", "Hardware monitor for temperature (input)", "temp", 0.001},
        {"node_hwmon_fan_rpm", "Hardware monitor for fan revolutions per minute (input)", "fan", 1}}};
    for (const auto& [name, help, type, scale] : values) {
        out.family(name, help, MetricType::Gauge);
        for (std::size_t i = 0; i < chips.size(); ++i) {
            for (const auto& [sensor, properties] : chips[i].sensors) {
                const auto value = typedValue(sensor, properties, type);
                if (!value) continue;
                const bool repeated = earlierChipGave(chips, i, [&, &sensor = sensor, type = type](const lm::HwmonChip& c) {
                    const auto other = c.sensors.find(sensor);
                    return other != c.sensors.end() && typedValue(sensor, other->second, type).has_value();
                });
                if (!repeated) out.sample({{"chip", chips[i].label}, {"sensor", sensor}}, *value * scale);
            }
        }
    }
}

void writePowerSupplies(ExpositionWriter& out, const std::vector<lm::PowerSupply>& supplies) {
    // attribute file, metric suffix, divisor (µWh and µW to Wh and W)
    struct Value {
        const char* file;
        const char* name;
        double divisor;
    };
    constexpr std::array<Value, 6> values = {{{"capacity", "capacity", 1}, {"online", "online", 1},
        {"present", "present", 1}, {"energy_now", "energy_watthour", 1e6}, {"power_now", "power_watt", 1e6},
        {"time_to_empty_now", "time_to_empty_seconds", 1}}};
    constexpr std::array<const char*, 11> infoAttributes = {"capacity_level", "charge_type", "health",
        "manufacturer", "model_name", "scope", "serial_number", "status", "technology", "type", "usb_type"};

    for (const auto& value : values) {
        out.family({"node_power_supply_", value.name}, {value.name, " value of /sys/class/power_supply/<power_supply>."},
                   MetricType::Gauge);
        for (const auto& supply : supplies) {
            const auto found = supply.attributes.find(value.file);
            const auto whole = found == supply.attributes.end() ? std::nullopt
                                                                : linux_platform::parseInteger<std::int64_t>(found->second);
            if (whole) out.sample({{"power_supply", supply.name}}, double(*whole) / value.divisor);
        }
    }
    out.family("node_power_supply_info", "info of /sys/class/power_supply/<power_supply>.", MetricType::Gauge);
    std::vector<Label> labels;
    for (const auto& supply : supplies) {
        labels.assign({{"power_supply", supply.name}});
        for (const char* attribute : infoAttributes)
            if (auto found = supply.attributes.find(attribute); found != supply.attributes.end() && !found->second.empty())
                labels.emplace_back(attribute, found->second);
        out.sample(labels, 1);
    }
}

void writeBootTime(ExpositionWriter& out, double bootTime) {
    out.family("node_boot_time_seconds", "Node boot time, in unixtime.", MetricType::Gauge);
    out.sample(bootTime);
}

void writeTime(ExpositionWriter& out, double now) {
    out.family("node_time_seconds", "System time in seconds since epoch (1970).", MetricType::Gauge);
    out.sample(now);
}

void writeUname(ExpositionWriter& out, const lm::UnameFields& uname) {
    out.family("node_uname_info", "Labeled system information as provided by the uname system call.", MetricType::Gauge);
    out.sample({{"domainname", uname.domainname}, {"machine", uname.machine}, {"nodename", uname.nodename},
                {"release", uname.release}, {"sysname", uname.sysname}, {"version", uname.version}},
               1);
}

void writeDiskTemperature(ExpositionWriter& out, const lm::DiskTemperature& disk) {
    out.family("velquette_disk_temperature_celsius", "Temperature of the disk that holds the root file system.",
               MetricType::Gauge);
    out.sample({{"device", disk.device}}, disk.celsius);
    out.family("velquette_disk_info", "The disk that holds the root file system, with its model.", MetricType::Gauge);
    out.sample({{"device", disk.device}, {"model", disk.model}}, 1);
}

void writeCgroupLimits(ExpositionWriter& out, const ResourceLimitSample& limits) {
    if (limits.memoryLimitBytes) {
        out.family("velquette_cgroup_memory_limit_bytes",
                   "The smallest memory limit of the host's control groups, where it is below the machine's memory.",
                   MetricType::Gauge);
        out.sample(double(*limits.memoryLimitBytes));
    }
    if (limits.memoryUsedBytes) {
        out.family("velquette_cgroup_memory_used_bytes", "Memory that counts against that limit, less the inactive page cache.",
                   MetricType::Gauge);
        out.sample(double(*limits.memoryUsedBytes));
    }
    if (limits.cpuQuota) {
        out.family("velquette_cgroup_cpu_quota", "Processor time the host's control groups allow, in processors.",
                   MetricType::Gauge);
        out.sample(*limits.cpuQuota);
    }
}

void writeGpus(ExpositionWriter& out, const std::vector<GpuReading>& gpus) {
    const auto family = [&](const char* name, const char* help, auto figure) {
        out.family(name, help, MetricType::Gauge);
        for (const GpuReading& gpu : gpus)
            if (const std::optional<double> value = figure(gpu)) out.sample({{"gpu", gpu.pciAddress}}, *value);
    };
    const auto some = [](const auto& v) { return v ? std::optional<double>(double(*v)) : std::nullopt; };
    family("velquette_gpu_busy_ratio", "Share of the time the GPU was busy (0 to 1).",
           [](const GpuReading& g) { return g.busyPercent ? std::optional(*g.busyPercent / 100) : std::nullopt; });
    family("velquette_gpu_memory_used_bytes", "Video memory in use.", [&](const GpuReading& g) { return some(g.vramUsedBytes); });
    family("velquette_gpu_memory_total_bytes", "Video memory of the GPU.",
           [&](const GpuReading& g) { return some(g.vramTotalBytes); });
    family("velquette_gpu_temperature_celsius", "GPU temperature.", [&](const GpuReading& g) { return some(g.celsius); });
    family("velquette_gpu_power_watts", "Power the GPU draws.", [&](const GpuReading& g) { return some(g.watts); });
    family("velquette_gpu_clock_hertz", "The GPU's graphics clock.",
           [](const GpuReading& g) { return g.megahertz ? std::optional(*g.megahertz * 1e6) : std::nullopt; });
}

void writeAlerts(ExpositionWriter& out, const std::vector<std::string_view>& rules,
                 const std::vector<alerts::FiringAlert>& firing) {
    out.family("velquette_alert_firing", "Whether an alert rule fires, by rule and severity.", MetricType::Gauge);
    for (const std::string_view rule : rules)
        for (const auto severity : {alerts::Severity::warning, alerts::Severity::critical}) {
            const bool on = std::any_of(firing.begin(), firing.end(), [&](const alerts::FiringAlert& alert) {
                return alert.rule == rule && alert.severity == severity;
            });
            out.sample({{"rule", rule}, {"severity", alerts::severityName(severity)}}, on ? 1.0 : 0.0);
        }
}

void writeBuildInfo(ExpositionWriter& out, std::string_view version) {
    out.family("velquette_build_info", "The Velquette host that serves these metrics.", MetricType::Gauge);
    out.sample({{"version", version}}, 1);
}

void writeCollectorSuccess(ExpositionWriter& out, const std::vector<std::pair<const char*, bool>>& outcomes) {
    out.family("velquette_scrape_collector_success", "Whether a collector read its source on this scrape.",
               MetricType::Gauge);
    for (const auto& [collector, succeeded] : outcomes) out.sample({{"collector", collector}}, succeeded ? 1.0 : 0.0);
}

}  // namespace vq::metrics
