#include "metrics/node_families.h"

#include <algorithm>

#include <array>

#include "platform/linux/common/text_fields.h"

namespace vq::metrics {
namespace {

MetricFamily single(std::string name, std::string help, double value, Labels labels = {}) {
    return {std::move(name), std::move(help), MetricType::Gauge, {{std::move(labels), value}}};
}

// "Active(anon)" → "Active_anon".
std::string meminfoKey(std::string_view key) {
    std::string out;
    for (char c : key) {
        if (c == '(') out += '_';
        else if (c != ')') out += c;
    }
    return out;
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

}  // namespace

std::vector<MetricFamily> cpuFamilies(const std::vector<linux_platform::CpuLine>& cpus, long ticksPerSecond) {
    using namespace linux_platform;
    constexpr std::array<std::pair<CpuColumn, const char*>, 8> modes = {{{kUser, "user"}, {kNice, "nice"},
        {kSystem, "system"}, {kIdle, "idle"}, {kIowait, "iowait"}, {kIrq, "irq"}, {kSoftirq, "softirq"},
        {kSteal, "steal"}}};
    MetricFamily family{"node_cpu_seconds_total", "Seconds the CPUs spent in each mode.", MetricType::Counter, {}};
    const double hz = double(ticksPerSecond > 0 ? ticksPerSecond : 100);
    for (const auto& line : cpus)
        for (const auto& [column, mode] : modes)
            family.samples.push_back({{{"cpu", std::to_string(line.cpu)}, {"mode", mode}}, double(line.ticks[column]) / hz});
    return {std::move(family)};
}

std::vector<MetricFamily> loadFamilies(const lm::LoadAverages& load) {
    return {single("node_load1", "1m load average.", load.one), single("node_load5", "5m load average.", load.five),
            single("node_load15", "15m load average.", load.fifteen)};
}

std::vector<MetricFamily> memoryFamilies(const std::vector<lm::MeminfoField>& fields) {
    std::vector<MetricFamily> families;
    for (const auto& field : fields) {
        const std::string key = meminfoKey(field.key) + (field.inKiB ? "_bytes" : "");
        const double value = field.inKiB ? double(field.value) * 1024 : double(field.value);
        families.push_back(single("node_memory_" + key, "Memory information field " + key + ".", value));
    }
    return families;
}

std::vector<MetricFamily> vmstatFamilies(const std::vector<lm::VmstatCounter>& counters) {
    std::vector<MetricFamily> families;
    for (const auto& counter : counters)
        families.push_back({"node_vmstat_" + counter.name, "/proc/vmstat information field " + counter.name + ".",
                            MetricType::Untyped, {{{}, double(counter.value)}}});
    return families;
}

std::vector<MetricFamily> filesystemFamilies(const std::vector<lm::FileSystemUsage>& usages) {
    MetricFamily size{"node_filesystem_size_bytes", "Filesystem size in bytes.", MetricType::Gauge, {}};
    MetricFamily free{"node_filesystem_free_bytes", "Filesystem free space in bytes.", MetricType::Gauge, {}};
    MetricFamily avail{"node_filesystem_avail_bytes", "Filesystem space available to non-root users in bytes.",
                       MetricType::Gauge, {}};
    for (const auto& usage : usages) {
        const Labels labels = {{"device", usage.device}, {"fstype", usage.fsType}, {"mountpoint", usage.mountPoint}};
        size.samples.push_back({labels, double(usage.space.sizeBytes)});
        free.samples.push_back({labels, double(usage.space.freeBytes)});
        avail.samples.push_back({labels, double(usage.space.availBytes)});
    }
    return {std::move(size), std::move(free), std::move(avail)};
}

std::vector<MetricFamily> networkFamilies(const std::vector<lm::NetDevice>& devices) {
    using Field = std::uint64_t lm::DeviceCounters::*;
    constexpr std::array<std::pair<Field, const char*>, 4> fields = {
        {{&lm::DeviceCounters::bytes, "bytes"}, {&lm::DeviceCounters::packets, "packets"},
         {&lm::DeviceCounters::errs, "errs"}, {&lm::DeviceCounters::drop, "drop"}}};
    std::vector<MetricFamily> families;
    for (const auto* direction : {"receive", "transmit"}) {
        for (const auto& [field, suffix] : fields) {
            const std::string statistic = std::string(direction) + "_" + suffix;
            MetricFamily family{"node_network_" + statistic + "_total", "Network device statistic " + statistic + ".",
                                MetricType::Counter, {}};
            for (const auto& device : devices) {
                const auto& counters = std::string_view(direction) == "receive" ? device.receive : device.transmit;
                family.samples.push_back({{{"device", device.name}}, double(counters.*field)});
            }
            families.push_back(std::move(family));
        }
    }
    return families;
}

std::vector<MetricFamily> hwmonFamilies(const std::vector<lm::HwmonChip>& chips) {
    MetricFamily temperature{"node_hwmon_temp_celsius", "Hardware monitor for temperature (input)", MetricType::Gauge, {}};
    MetricFamily fan{"node_hwmon_fan_rpm", "Hardware monitor for fan revolutions per minute (input)", MetricType::Gauge, {}};
    MetricFamily names{"node_hwmon_chip_names", "Annotation metric for human-readable chip names", MetricType::Gauge, {}};
    MetricFamily labels{"node_hwmon_sensor_label", "Label for given chip and sensor", MetricType::Gauge, {}};
    for (const auto& chip : chips) {
        if (chip.humanName) names.samples.push_back({{{"chip", chip.label}, {"chip_name", *chip.humanName}}, 1});
        for (const auto& [sensor, properties] : chip.sensors) {
            if (auto label = properties.find("label"); label != properties.end())
                labels.samples.push_back({{{"chip", chip.label}, {"label", label->second}, {"sensor", sensor}}, 1});
            const std::string* text = sensorValue(properties);
            const auto value = text ? linux_platform::parseDecimal(*text) : std::nullopt;
            if (!value) continue;
            if (startsWithType(sensor, "temp"))
                temperature.samples.push_back({{{"chip", chip.label}, {"sensor", sensor}}, *value * 0.001});
            else if (startsWithType(sensor, "fan"))
                fan.samples.push_back({{{"chip", chip.label}, {"sensor", sensor}}, *value});
        }
    }
    return {std::move(names), std::move(labels), std::move(temperature), std::move(fan)};
}

std::vector<MetricFamily> powerSupplyFamilies(const std::vector<lm::PowerSupply>& supplies) {
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

    std::vector<MetricFamily> families;
    for (const auto& value : values)
        families.push_back({std::string("node_power_supply_") + value.name,
                            std::string(value.name) + " value of /sys/class/power_supply/<power_supply>.",
                            MetricType::Gauge, {}});
    MetricFamily info{"node_power_supply_info", "info of /sys/class/power_supply/<power_supply>.", MetricType::Gauge, {}};
    for (const auto& supply : supplies) {
        for (std::size_t i = 0; i < values.size(); ++i) {
            const auto found = supply.attributes.find(values[i].file);
            const auto whole = found == supply.attributes.end() ? std::nullopt : linux_platform::parseInteger<std::int64_t>(found->second);
            if (whole) families[i].samples.push_back({{{"power_supply", supply.name}}, double(*whole) / values[i].divisor});
        }
        Labels labels = {{"power_supply", supply.name}};
        for (const char* attribute : infoAttributes)
            if (auto found = supply.attributes.find(attribute); found != supply.attributes.end() && !found->second.empty())
                labels.emplace_back(attribute, found->second);
        info.samples.push_back({std::move(labels), 1});
    }
    families.push_back(std::move(info));
    return families;
}

std::vector<MetricFamily> bootTimeFamilies(double bootTime) {
    return {single("node_boot_time_seconds", "Node boot time, in unixtime.", bootTime)};
}

std::vector<MetricFamily> timeFamilies(double now) {
    return {single("node_time_seconds", "System time in seconds since epoch (1970).", now)};
}

std::vector<MetricFamily> unameFamilies(const lm::UnameFields& uname) {
    return {single("node_uname_info", "Labeled system information as provided by the uname system call.", 1,
                   {{"domainname", uname.domainname}, {"machine", uname.machine}, {"nodename", uname.nodename},
                    {"release", uname.release}, {"sysname", uname.sysname}, {"version", uname.version}})};
}

std::vector<MetricFamily> diskTemperatureFamilies(const lm::DiskTemperature& disk) {
    return {single("velquette_disk_temperature_celsius", "Temperature of the disk that holds the root file system.",
                   disk.celsius, {{"device", disk.device}}),
            single("velquette_disk_info", "The disk that holds the root file system, with its model.", 1,
                   {{"device", disk.device}, {"model", disk.model}})};
}

std::vector<MetricFamily> cgroupFamilies(const ResourceLimitSample& limits) {
    std::vector<MetricFamily> families;
    if (limits.memoryLimitBytes)
        families.push_back(single("velquette_cgroup_memory_limit_bytes",
                                  "The smallest memory limit of the host's control groups, where it is below the "
                                  "machine's memory.",
                                  double(*limits.memoryLimitBytes), {}));
    if (limits.memoryUsedBytes)
        families.push_back(single("velquette_cgroup_memory_used_bytes",
                                  "Memory that counts against that limit, less the inactive page cache.",
                                  double(*limits.memoryUsedBytes), {}));
    if (limits.cpuQuota)
        families.push_back(single("velquette_cgroup_cpu_quota",
                                  "Processor time the host's control groups allow, in processors.", *limits.cpuQuota, {}));
    return families;
}

std::vector<MetricFamily> buildInfoFamilies(const std::string& version) {
    return {single("velquette_build_info", "The Velquette host that serves these metrics.", 1, {{"version", version}})};
}

std::vector<MetricFamily> alertFamilies(const std::vector<std::string>& rules,
                                        const std::vector<alerts::FiringAlert>& firing) {
    MetricFamily family{"velquette_alert_firing", "Whether an alert rule fires, by rule and severity.",
                        MetricType::Gauge, {}};
    for (const std::string& rule : rules)
        for (const auto severity : {alerts::Severity::warning, alerts::Severity::critical}) {
            const bool on = std::any_of(firing.begin(), firing.end(), [&](const alerts::FiringAlert& alert) {
                return alert.rule == rule && alert.severity == severity;
            });
            family.samples.push_back({{{"rule", rule}, {"severity", alerts::severityName(severity)}}, on ? 1.0 : 0.0});
        }
    return {family};
}

MetricFamily collectorSuccessFamily(const std::vector<std::pair<std::string, bool>>& outcomes) {
    MetricFamily family{"velquette_scrape_collector_success", "Whether a collector read its source on this scrape.",
                        MetricType::Gauge, {}};
    for (const auto& [collector, succeeded] : outcomes)
        family.samples.push_back({{{"collector", collector}}, succeeded ? 1.0 : 0.0});
    return family;
}

}  // namespace vq::metrics
