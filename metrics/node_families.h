#pragma once
// Readings turned into metric families, named, typed and labelled as
// node_exporter 1.5 (as Debian builds it) names them, so that dashboards and
// rules written for it work on a Velquette host. Pure: every input is a
// reading already made.

#include <string>
#include <string_view>
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
#include "platform/gpus.h"
#include "platform/resource_limits.h"

namespace vq::metrics {

namespace lm = vq::linux_platform::metrics;

// node_cpu_seconds_total{cpu,mode}: ticks divided by USER_HZ.
void writeCpu(ExpositionWriter& out, const std::vector<linux_platform::CpuLine>& cpus, long ticksPerSecond);
void writeLoad(ExpositionWriter& out, const lm::LoadAverages& load);
// node_memory_<Key>_bytes for lines in kB (times 1024), node_memory_<Key> for
// counts; "Active(anon)" becomes "Active_anon".
void writeMemory(ExpositionWriter& out, const std::vector<lm::MeminfoField>& fields);
void writeVmstat(ExpositionWriter& out, const std::vector<lm::VmstatCounter>& counters);
void writeFileSystems(ExpositionWriter& out, const std::vector<lm::FileSystemUsage>& usages);
void writeNetwork(ExpositionWriter& out, const std::vector<lm::NetDevice>& devices);
// node_hwmon_chip_names, node_hwmon_sensor_label, node_hwmon_temp_celsius and
// node_hwmon_fan_rpm. Values that are not numbers are left out, and a chip
// whose label an earlier chip already has adds no series that would repeat
// one of the earlier chip's.
void writeHwmon(ExpositionWriter& out, const std::vector<lm::HwmonChip>& chips);
void writePowerSupplies(ExpositionWriter& out, const std::vector<lm::PowerSupply>& supplies);
void writeBootTime(ExpositionWriter& out, double bootTime);
void writeTime(ExpositionWriter& out, double now);
void writeUname(ExpositionWriter& out, const lm::UnameFields& uname);

// velquette_disk_temperature_celsius{device} and velquette_disk_info{device,model}.
void writeDiskTemperature(ExpositionWriter& out, const lm::DiskTemperature& disk);
void writeBuildInfo(ExpositionWriter& out, std::string_view version);
// velquette_alert_firing{rule,severity}: 1 for the severity a rule fires at,
// 0 for every other rule and severity, so that each series stays present.
void writeAlerts(ExpositionWriter& out, const std::vector<std::string_view>& rules,
                 const std::vector<alerts::FiringAlert>& firing);
// The limits that bind the host in a container or a limited slice; none
// where nothing binds.
void writeCgroupLimits(ExpositionWriter& out, const ResourceLimitSample& limits);
// velquette_scrape_collector_success{collector}: 1 where the collector read
// its source, 0 where it could not.
// velquette_gpu_{busy_ratio,memory_used_bytes,memory_total_bytes,
// temperature_celsius,power_watts,clock_hertz}{gpu}, gpu the PCI address;
// a figure that is unknown (or a GPU asleep) has no series.
void writeGpus(ExpositionWriter& out, const std::vector<GpuReading>& gpus);
void writeCollectorSuccess(ExpositionWriter& out, const std::vector<std::pair<const char*, bool>>& outcomes);

}  // namespace vq::metrics
