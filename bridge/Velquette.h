#pragma once
// The plug-in's principal object: the only thing the widget page talks to.
// It owns one instance of every data miner, forwards each script call to the
// miner that serves it, and turns change notifications into flags that the
// page polls.

#include <cstdint>
#include <memory>
#include <string>

#include "bridge/fleet_source.h"
#include "alerts/alerts.h"
#include "bridge/top_processes.h"
#include "miners/VQTDataMinerBattery.h"
#include "miners/VQTDataMinerCPU.h"
#include "miners/VQTDataMinerDisks.h"
#include "miners/VQTDataMinerMemory.h"
#include "miners/VQTDataMinerNetwork.h"
#include "miners/data_set.h"
#include "platform/platform.h"
#include "platform/subscription.h"
#include "sensors/VQTDataMinerFans.h"
#include "sensors/VQTDataMinerTemps.h"
#include "sensors/VQTSmartController.h"

extern "C" {
// Set to 1 by the network-change callback, read and cleared by the page
// through hasNetworkSetupChanged. A plain global because the callback gets no
// object pointer.
extern std::int32_t updateList;
}

namespace vq {

constexpr const char* kModuleAvailableNotification = "ParquellIntelModuleAvailable";

// The network-change callback: any change of links, addresses or routes.
void networkChangeCallback();

// The merged temperature list: the drive entries of `smartList` (dictionaries
// holding "deviceTemp" in whole °C and "model"; others are skipped) as
// [model, text] in the unit, then every row of `temperatures` unchanged.
Value mergeTemperatureLists(const Value& smartList, const Value& temperatures, int unitCode);

// Where the object puts itself for the page's script.
class WindowScriptObject {
public:
    virtual ~WindowScriptObject() = default;
    virtual void setValue(class Velquette* value, const std::string& key) = 0;
};

class Velquette {
public:
    // initWithWebView: the host's view is not kept, so it is not a parameter.
    explicit Velquette(Platform platform);
    ~Velquette();
    Velquette(const Velquette&) = delete;
    Velquette& operator=(const Velquette&) = delete;

    void windowScriptObjectAvailable(WindowScriptObject& window);

    // Script-visible methods.
    Value cpuUsage();
    Value memoryUsage();
    Value diskUsage();
    Value network();
    std::string uptime();
    std::string load();
    std::string processinfo();
    Value temps(int unitCode);
    Value fans();
    Value battery();
    bool isLaptop();
    void setNeedsSMARTUpdate();
    void setShouldMonitorSMARTTemps(int enabled);
    // The second argument of getAppPath is ignored; it may be any value.
    std::string getAppPath(int pid, const Value& ignored);
    std::string getPsName(int pid);
    int getselfpid();
    bool isIntel();
    bool needsIntelBundle();
    void copyTextToClipboard(const std::string& text);
    // Our addition for the page's Processes section.
    Value topProcesses(int count);
    // The limits of the host's control groups: null when none binds, else
    // {memoryLimitBytes, memoryUsedBytes, cpuQuota, cpuThrottled, cpuUsage,
    // pidsMax}, each null when unknown or unset.
    Value limits();
    // One [name, busyPercent, vramUsedBytes, vramTotalBytes, celsius, watts,
    // megahertz, asleep] per GPU, null for what is unknown; [] without GPUs.
    Value gpus();
    // The systemd service or container the process runs in, "" for none.
    std::string getPsUnit(int pid);
    // Our additions for the page's settings: whether the desktop widget
    // starts with the session, and switching that (1 on, anything else off).
    bool isAutostartEnabled();
    bool setAutostart(int enabled);
    // Our addition for the page's module notice: whether the machine's SMC
    // answers (an Intel Mac's, through the Linux applesmc driver, or a
    // simulated one).
    bool hasSMC() { return smcPresent_; }
    // Our additions for the Machines section: the machines Prometheus
    // scrapes (see FleetSource), and its URL for the settings.
    Value fleet() { return fleetSource_ ? fleetSource_->fleet() : Value(); }
    std::string prometheusUrl() { return fleetSource_ ? fleetSource_->prometheusUrl() : ""; }
    std::string setPrometheusUrl(const std::string& url);
    // The host's Prometheus client; it outlives the object or is reset first.
    void setFleetSource(FleetSource* source) { fleetSource_ = source; }
    // Our additions for the alerts: the firing ones for the top of the
    // card, and one rule's settings to read and to set (see alerts.h). The
    // host gives the alerts it runs; without them nothing fires and a
    // setting is refused.
    void setAlerts(alerts::Alerts* alerts) { alerts_ = alerts; }
    const alerts::Alerts* alerts() const { return alerts_; }
    Value firingAlerts();
    Value alertRule(const std::string& rule);
    std::string setAlertRule(const std::string& rule, const std::string& key, const Value& value);

    // Reachable under their default names.
    bool hasDiskSetupChanged();
    bool hasNetworkSetupChanged();
    void installIntelModule();
    bool wasIntelModuleInstalled();

    // Notification handlers.
    void workspaceChange();
    void moduleInstalledNotification();

    // Read-only views for the host and tests.
    const std::string& iconDirectory() const { return icon_directory; }
    bool isModuleInstalled() const { return moduleInstalled; }
    bool isSMARTMonitoringEnabled() const { return smartMonitoringEnabled; }
    bool needsSMARTUpdate() const { return shouldUpdateSMART; }
    const VQTDataMinerDisks& disks() const { return *disksDataMiner; }

private:
    void installNotifiers();

    Platform platform_;
    std::unique_ptr<VQTDataMinerCPU> cpuDataMiner;
    std::unique_ptr<VQTDataMinerMemory> memoryDataMiner;
    std::unique_ptr<VQTDataMinerDisks> disksDataMiner;
    std::unique_ptr<VQTDataMinerNetwork> networkDataMiner;
    std::unique_ptr<VQTDataMinerTemps> tempsDataMiner;
    std::unique_ptr<VQTDataMinerFans> fansDataMiner;
    std::unique_ptr<VQTDataMinerBattery> batteryDataMiner;
    std::unique_ptr<VQTSmartController> smartController;
    std::unique_ptr<TopProcesses> topProcessesSampler;
    std::string icon_directory;
    bool moduleInstalled = false;
    bool diskChange = false;
    bool shouldUpdateSMART = false;
    bool smartMonitoringEnabled = false;
    bool smcPresent_ = false;
    FleetSource* fleetSource_ = nullptr;
    alerts::Alerts* alerts_ = nullptr;

    Subscription moduleObservation_;
    Subscription mountObservation_;
};

}  // namespace vq
