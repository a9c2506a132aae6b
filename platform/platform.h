#pragma once
// The platform seam: every service the system's logic reads the machine
// through. One implementation reads the real Linux machine, the other is a
// simulated machine for tests and demos.

#include <memory>

#include "platform/autostart.h"
#include "platform/clock.h"
#include "platform/config_files.h"
#include "platform/desktop_notifications.h"
#include "platform/dynamic_store.h"
#include "platform/file_system.h"
#include "platform/gpus.h"
#include "platform/hardware_sensors.h"
#include "platform/interface_counters.h"
#include "platform/io_registry.h"
#include "platform/machine_info.h"
#include "platform/memory_pressure.h"
#include "platform/memory_stats.h"
#include "platform/mount_notifier.h"
#include "platform/network_change_notifier.h"
#include "platform/notification_center.h"
#include "platform/power_sources.h"
#include "platform/processes.h"
#include "platform/processor_stats.h"
#include "platform/resource_limits.h"
#include "platform/sensor_module.h"
#include "platform/smart_drives.h"
#include "platform/system_log.h"
#include "platform/volumes.h"

namespace vq {

struct Platform {
    std::shared_ptr<ProcessorStats> processorStats;
    std::shared_ptr<MemoryStats> memory;
    std::shared_ptr<Volumes> volumes;
    std::shared_ptr<IORegistry> registry;
    std::shared_ptr<DynamicStore> dynamicStore;
    std::shared_ptr<InterfaceCounters> interfaces;
    std::shared_ptr<SystemLog> log;
    std::shared_ptr<Clock> clock;
    std::shared_ptr<NetworkChangeNotifier> networkChanges;
    std::shared_ptr<MountNotifier> mounts;
    std::shared_ptr<NotificationCenter> notifications;
    std::shared_ptr<FileSystem> files;
    std::shared_ptr<MachineInfo> machine;
    // The machine's native temperature and fan readings; null where the
    // platform has none (the simulated machine).
    std::shared_ptr<HardwareSensors> sensors;
    std::shared_ptr<SensorModuleLoader> modules;
    std::shared_ptr<PowerSources> powerSources;
    // The first disk's SMART client; null where there is none.
    std::shared_ptr<SmartDrives> smartDrives;
    std::shared_ptr<Autostart> autostart;
    std::shared_ptr<Processes> processes;
    std::shared_ptr<Clipboard> clipboard;
    // The limits of the host's control groups; null where the platform has
    // none to tell (the simulated machine).
    std::shared_ptr<ResourceLimits> limits;
    // The graphics processors; null where the platform has none to tell.
    std::shared_ptr<Gpus> gpus;
    // The user's settings files (alerts.conf).
    std::shared_ptr<ConfigFiles> configFiles;
    // Notifications at the desktop, and the memory alert's readings; null
    // where the platform has none (the simulated machine).
    std::shared_ptr<DesktopNotifications> desktopNotifications;
    std::shared_ptr<MemoryPressure> memoryPressure;
    // The simulated machine answers from lists of samples that each read
    // moves on, so a reader beside the page's (the alerts) would change what
    // the page sees; it has no alerts.
    bool simulated = false;
};

// The simulated machine when VELQUETTE_MACHINE names a machine file, else the
// real machine. Throws std::runtime_error when the machine file is unusable.
Platform makePlatformFromEnvironment();

}  // namespace vq
