#include <glib.h>
#include <syslog.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <stdexcept>

#include "platform/linux/cgroups/linux_resource_limits.h"
#include "platform/linux/desktop/dbus_notification_center.h"
#include "platform/linux/gpu/linux_gpus.h"
#include "platform/linux/desktop/freedesktop_notifications.h"
#include "platform/linux/desktop/xdg_config_files.h"
#include "platform/linux/memory/memory_pressure.h"
#include "platform/linux/sensors/hwmon_sensors.h"
#include "platform/linux/processor/linux_machine_info.h"
#include "platform/linux/network/linux_network.h"
#include "platform/linux/processes/linux_processes.h"
#include "platform/linux/processor/linux_processor_stats.h"
#include "platform/linux/drives/linux_smart_drives.h"
#include "platform/linux/desktop/xdg_autostart.h"
#include "platform/linux/storage/linux_storage.h"
#include "platform/linux/storage/mountinfo_notifier.h"
#include "platform/linux/netlink/netlink_change_notifier.h"
#include "platform/linux/common/posix_file_system.h"
#include "platform/linux/common/roots.h"
#include "platform/linux/sensors/sensor_module_loader.h"
#include "platform/platform.h"
#include "platform/power_sources.h"
#include "platform/sim/sim_machine.h"

namespace vq {
namespace linux_platform {

Roots Roots::fromEnvironment() {
    Roots roots;
    if (const char* proc = std::getenv("VELQUETTE_PROC_ROOT"); proc && *proc) roots.proc = proc;
    if (const char* sys = std::getenv("VELQUETTE_SYS_ROOT"); sys && *sys) roots.sys = sys;
    if (const char* udev = std::getenv("VELQUETTE_UDEV_ROOT"); udev && *udev) roots.udev = udev;
    if (const char* dev = std::getenv("VELQUETTE_DEV_ROOT"); dev && *dev) roots.dev = dev;
    return roots;
}

namespace {

class SystemClock : public Clock {
public:
    std::int64_t now() override { return static_cast<std::int64_t>(std::time(nullptr)); }
    double timeIntervalSince1970() override { return static_cast<double>(g_get_real_time()) / G_USEC_PER_SEC; }
};

class Syslog : public SystemLog {
public:
    void log(const std::string& line) override { ::syslog(LOG_NOTICE, "%s", line.c_str()); }
};

// Linux has no power-source descriptions of that family; the battery is
// served through the registry's battery entry instead.
class NoPowerSources : public PowerSources {
public:
    std::optional<std::vector<nlohmann::json>> powerSourceDescriptions() override {
        return std::vector<nlohmann::json>{};
    }
};

Platform makeLinuxPlatform(const Roots& roots) {
    Platform platform;
    platform.processorStats = std::make_shared<LinuxProcessorStats>(roots.proc);
    platform.memory = makeLinuxMemoryStats(roots);
    platform.volumes = makeLinuxVolumes(roots);
    platform.registry = makeLinuxIORegistry(roots);
    platform.smartDrives = makeLinuxSmartDrives(roots, platform.volumes);
    platform.powerSources = std::make_shared<NoPowerSources>();
    platform.dynamicStore = makeLinuxDynamicStore(roots);
    platform.interfaces = makeLinuxInterfaceCounters(roots);
    platform.clock = std::make_shared<SystemClock>();
    platform.networkChanges = std::make_shared<NetlinkChangeNotifier>();
    platform.mounts = std::make_shared<MountinfoNotifier>(roots.proc);
    platform.notifications = std::make_shared<DBusNotificationCenter>();
    // A Mac user's application support folder always exists; a fresh Linux
    // account may not have its data folder yet, so it is made here (0700, as
    // the XDG rules ask) and everything below it keeps its own rules.
    const std::string dataHome = xdgDataHome(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
    if (!dataHome.empty()) g_mkdir_with_parents(dataHome.c_str(), 0700);
    platform.files = std::make_shared<PosixFileSystem>(dataHome);
    platform.machine = std::make_shared<LinuxMachineInfo>(roots.sys);
    platform.log = std::make_shared<Syslog>();
    platform.sensors = makeHwmonSensors(roots.sys);
    platform.modules = makeSensorModuleLoader(platform.log);
    platform.processes = makeLinuxProcesses(roots.proc, xdgDataDirectories(dataHome, std::getenv("XDG_DATA_DIRS")));
    platform.clipboard = makeLinuxClipboard();
    platform.limits = makeLinuxResourceLimits(roots);
    platform.gpus = makeLinuxGpus(roots);
    const std::string configHome = xdgConfigHome(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
    platform.autostart = std::make_shared<XdgAutostart>(configHome);
    platform.configFiles = std::make_shared<XdgConfigFiles>(configHome);
    platform.desktopNotifications = std::make_shared<FreedesktopNotifications>();
    platform.memoryPressure = makeLinuxMemoryPressure(roots);
    return platform;
}

}  // namespace
}  // namespace linux_platform

Platform makePlatformFromEnvironment() {
    const char* machineFile = std::getenv("VELQUETTE_MACHINE");
    if (!machineFile || !*machineFile) return linux_platform::makeLinuxPlatform(linux_platform::Roots::fromEnvironment());

    std::ifstream in(machineFile);
    if (!in) throw std::runtime_error(std::string("cannot open machine file ") + machineFile);
    nlohmann::json file = nlohmann::json::parse(in, nullptr, false);
    if (file.is_discarded()) throw std::runtime_error(std::string("machine file is not valid JSON: ") + machineFile);
    // Notifications still travel between our processes over the session bus,
    // so the installer can reach a host that runs on a simulated machine.
    return makeSimPlatform(loadSimMachine(file), std::make_shared<DBusNotificationCenter>());
}

}  // namespace vq
