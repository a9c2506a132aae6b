#pragma once
// Readings turned into metric families, named, typed and labelled as
// node_exporter 1.5 (as Debian builds it) names them, so that dashboards and
// rules written for it work on a Velquette host. Pure: every input is a
// reading already made.

#include <string>
#include <vector>

#include "alerts/alert_engine.h"
#include "metrics/exposition.h"
#include "platform/linux/metrics/filesystem_metrics.h"
#include "platform/linux/metrics/hwmon_metrics.h"
#include "platform/linux/metrics/netdev_metrics.h"
#include "platform/linux/metrics/power_supply_metrics.h"
#include "platform/linux/metrics/proc_metrics.h"
#include "platform/linux/metrics/system_metrics.h"
#include "platform/linux/processor/proc_stat.h"
#include "platform/resource_limits.h"

namespace vq::metrics {

namespace lm = vq::linux_platform::metrics;

// node_cpu_seconds_total{cpu,mode}: ticks divided by USER_HZ.
std::vector<MetricFamily> cpuFamilies(const std::vector<linux_platform::CpuLine>& cpus, long ticksPerSecond);
std::vector<MetricFamily> loadFamilies(const lm::LoadAverages& load);
// node_memory_<Key>_bytes for lines in kB (times 1024), node_memory_<Key> for
// counts; "Active(anon)" becomes "Active_anon".
std::vector<MetricFamily> memoryFamilies(const std::vector<lm::MeminfoField>& fields);
std::vector<MetricFamily> vmstatFamilies(const std::vector<lm::VmstatCounter>& counters);
std::vector<MetricFamily> filesystemFamilies(const std::vector<lm::FileSystemUsage>& usages);
std::vector<MetricFamily> networkFamilies(const std::vector<lm::NetDevice>& devices);
// node_hwmon_temp_celsius, node_hwmon_fan_rpm, node_hwmon_chip_names and
// node_hwmon_sensor_label. Values that are not numbers are left out.
std::vector<MetricFamily> hwmonFamilies(const std::vector<lm::HwmonChip>& chips);
std::vector<MetricFamily> powerSupplyFamilies(const std::vector<lm::PowerSupply>& supplies);
std::vector<MetricFamily> bootTimeFamilies(double bootTime);
std::vector<MetricFamily> timeFamilies(double now);
std::vector<MetricFamily> unameFamilies(const lm::UnameFields& uname);

// velquette_disk_temperature_celsius{device} and velquette_disk_info{device,model}.
std::vector<MetricFamily> diskTemperatureFamilies(const lm::DiskTemperature& disk);
std::vector<MetricFamily> buildInfoFamilies(const std::string& version);
// velquette_alert_firing{rule,severity}: 1 for the severity a rule fires at,
// 0 for every other rule and severity, so that each series stays present.
std::vector<MetricFamily> alertFamilies(const std::vector<std::string>& rules,
                                        const std::vector<alerts::FiringAlert>& firing);
// The limits that bind the host in a container or a limited slice; none
// where nothing binds.
std::vector<MetricFamily> cgroupFamilies(const ResourceLimitSample& limits);
// velquette_scrape_collector_success{collector}: 1 where the collector read
// its source, 0 where it could not.
MetricFamily collectorSuccessFamily(const std::vector<std::pair<std::string, bool>>& outcomes);

}  // namespace vq::metrics
