#pragma once
// The smaller readings of the /metrics page: uname, the clock, USER_HZ, and
// the temperature of the disk that holds "/".

#include <optional>
#include <string>
#include <vector>

#include "platform/linux/common/roots.h"
#include "platform/linux/storage/mountinfo.h"

namespace vq::linux_platform::metrics {

struct UnameFields {
    std::string sysname, nodename, release, version, machine, domainname;
};
std::optional<UnameFields> readUname();

// Seconds since 1970 with the clock's fraction.
double realTimeSeconds();

// Ticks per second of /proc/stat's cpu lines (USER_HZ).
long clockTicksPerSecond();

struct DiskTemperature {
    std::string device;  // the whole disk: "nvme0n1", "sda"
    std::string model;   // <sys>/block/<disk>/device/model, trimmed; empty when absent
    int celsius = 0;
};

// The whole disk beneath the "/" mount of `mounts` (<proc>/self/mountinfo,
// parsed) with its model and no temperature yet; nullopt when "/" is not on
// a disk. It changes only with the mount table.
std::optional<DiskTemperature> startupDisk(const Roots& roots, const std::vector<MountinfoEntry>& mounts);

// The disk's temperature from the drive's own hwmon chip (NVMe, drivetemp);
// nullopt when it reports none that way.
std::optional<int> diskTemperature(const Roots& roots, const std::string& device);

}  // namespace vq::linux_platform::metrics
