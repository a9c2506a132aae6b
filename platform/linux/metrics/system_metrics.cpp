#include "platform/linux/metrics/system_metrics.h"

#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include "platform/linux/common/file_reading.h"
#include "platform/linux/drives/linux_smart_drives.h"
#include "platform/linux/storage/mountinfo.h"

namespace vq::linux_platform::metrics {

std::optional<UnameFields> readUname() {
    utsname names{};
    if (::uname(&names) != 0) return std::nullopt;
    return UnameFields{names.sysname, names.nodename, names.release, names.version, names.machine, names.domainname};
}

double realTimeSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

long clockTicksPerSecond() {
    const long ticks = ::sysconf(_SC_CLK_TCK);
    return ticks > 0 ? ticks : 100;
}

std::optional<DiskTemperature> startupDisk(const Roots& roots, const std::vector<MountinfoEntry>& mounts) {
    std::string source;
    for (const auto& entry : mounts)
        if (entry.mountPoint == "/") source = entry.source;  // the last mount on "/" is the visible one
    if (!source.starts_with("/dev/")) return std::nullopt;
    const std::string disk = physicalDiskOf(roots.sys, source.substr(5));
    if (disk.empty()) return std::nullopt;
    std::string model = readWholeFile(roots.sys + "/block/" + disk + "/device/model").value_or("");
    while (!model.empty() && (model.back() == '\n' || model.back() == ' ')) model.pop_back();
    return DiskTemperature{disk, model, 0};
}

std::optional<int> diskTemperature(const Roots& roots, const std::string& device) {
    return driveHwmonTemperature(roots.sys, device);
}

}  // namespace vq::linux_platform::metrics
