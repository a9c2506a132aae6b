#include "bridge/Velquette.h"

#include <exception>
#include <vector>

#include "miners/int_value.h"
#include "sensors/VelquorIntelControllerParquell.h"
#include "sensors/sensor_sources.h"
#include "sensors/temperature_units.h"

extern "C" {
__attribute__((visibility("default"))) std::int32_t updateList = 0;
}

namespace vq {
namespace {

constexpr const char* kSupportFolder = "/Brackwell/";
constexpr const char* kIconCacheFolder = "ProcessesIconCache/";

// The network-change session is process-wide: its callback only touches
// updateList, so it may outlive every plug-in object. It is deliberately never
// torn down.
void keepForProcessLifetime(Subscription subscription) {
    static auto* sessions = new std::vector<Subscription>();
    sessions->push_back(std::move(subscription));
}

}  // namespace

void networkChangeCallback() { updateList = 1; }

Velquette::Velquette(Platform platform) : platform_(std::move(platform)) {
    // A notifier that cannot start leaves the page without network change
    // reports; anything that is not a standard exception is a real fault.
    try {
        installNotifiers();
    } catch (const std::exception&) {
    }

    moduleInstalled = false;
    diskChange = false;
    updateList = 1;

    moduleObservation_ =
        platform_.notifications->observe(kModuleAvailableNotification, [this] { moduleInstalledNotification(); });
    mountObservation_ = platform_.mounts->watchMounts([this] { workspaceChange(); });

    const std::string applicationSupport = platform_.files->applicationSupportDirectory();
    if (!applicationSupport.empty()) {
        const std::string supportDirectory = applicationSupport + kSupportFolder;
        icon_directory = supportDirectory + kIconCacheFolder;
        // Failures are ignored: without the folders only the icon cache is lost.
        if (!platform_.files->fileExists(supportDirectory)) platform_.files->createDirectory(supportDirectory);
        if (!platform_.files->fileExists(icon_directory)) platform_.files->createDirectory(icon_directory);
    }

    cpuDataMiner = std::make_unique<VQTDataMinerCPU>(platform_.processorStats, platform_.clock);
    memoryDataMiner = std::make_unique<VQTDataMinerMemory>(platform_.memory);
    disksDataMiner = std::make_unique<VQTDataMinerDisks>(platform_.volumes, platform_.registry, platform_.files);
    networkDataMiner = std::make_unique<VQTDataMinerNetwork>(platform_.dynamicStore, platform_.interfaces,
                                                             platform_.clock, platform_.notifications, platform_.log);
    // Each miner chooses and owns its own source.
    const std::string bundleFolder = sensorBundleFolder(*platform_.files);
    auto tempsSource = chooseSensorSource(*platform_.machine, platform_.sensors);
    // The SMC controller is chosen only where the SMC answers.
    const auto* controller = dynamic_cast<const VelquorIntelControllerParquell*>(tempsSource.get());
    smcPresent_ = controller && controller->isSupported();
    tempsDataMiner = std::make_unique<VQTDataMinerTemps>(std::move(tempsSource), platform_.registry,
                                                         platform_.modules, bundleFolder);
    fansDataMiner = std::make_unique<VQTDataMinerFans>(chooseSensorSource(*platform_.machine, platform_.sensors),
                                                       platform_.registry, platform_.modules, platform_.log,
                                                       bundleFolder);
    batteryDataMiner =
        std::make_unique<VQTDataMinerBattery>(platform_.machine, platform_.registry, platform_.powerSources);
    smartController = std::make_unique<VQTSmartController>(platform_.registry, platform_.smartDrives, platform_.volumes);

    topProcessesSampler = std::make_unique<TopProcesses>(platform_.processes);

    shouldUpdateSMART = true;
}

Velquette::~Velquette() {
    // Stop observing first, so that no handler runs on a half-destroyed object.
    moduleObservation_.reset();
    mountObservation_.reset();
}

void Velquette::installNotifiers() {
    keepForProcessLifetime(platform_.networkChanges->watchNetworkChanges(&networkChangeCallback));
}

void Velquette::windowScriptObjectAvailable(WindowScriptObject& window) { window.setValue(this, "Velquette"); }

Value Velquette::cpuUsage() {
    cpuDataMiner->mineData();
    return cpuDataMiner->getDataSet();
}

Value Velquette::memoryUsage() {
    memoryDataMiner->mineData();
    return memoryDataMiner->getDataSet();
}

Value Velquette::diskUsage() {
    disksDataMiner->update();
    return disksDataMiner->getDataSet();
}

Value Velquette::network() {
    networkDataMiner->mineData();
    return networkDataMiner->getDataSet();
}

std::string Velquette::uptime() { return cpuDataMiner->getUptime(); }
std::string Velquette::load() { return cpuDataMiner->getLoad(); }
std::string Velquette::processinfo() { return cpuDataMiner->processInfo(); }

Value mergeTemperatureLists(const Value& smartList, const Value& temperatures, int unitCode) {
    Value merged = Value::array();
    if (smartList.is_array()) {
        for (const Value& drive : smartList) {
            if (!drive.is_object() || !drive.contains("deviceTemp") || !drive.contains("model")) continue;
            const std::int32_t celsius = intValue(drive["deviceTemp"]);
            merged.push_back(Value::array({drive["model"], formatTemperature(celsius, unitCode)}));
        }
    }
    if (temperatures.is_array()) merged.insert(merged.end(), temperatures.begin(), temperatures.end());
    return merged;
}

Value Velquette::temps(int unitCode) {
    if (!smartMonitoringEnabled) return tempsDataMiner->getDataSet(unitCode);
    if (shouldUpdateSMART) {
        shouldUpdateSMART = false;
        smartController->update();
    }
    const Value temperatures = tempsDataMiner->getDataSet(unitCode);
    return mergeTemperatureLists(smartController->getDataSet(), temperatures, unitCode);
}

Value Velquette::fans() { return fansDataMiner->getDataSet(); }

Value Velquette::battery() {
    batteryDataMiner->mineData();
    return batteryDataMiner->getDataSet();
}

bool Velquette::isLaptop() { return batteryDataMiner->isLaptop(); }

void Velquette::setNeedsSMARTUpdate() { shouldUpdateSMART = true; }

void Velquette::setShouldMonitorSMARTTemps(int enabled) { smartMonitoringEnabled = (enabled == 1); }

bool Velquette::hasDiskSetupChanged() {
    if (!diskChange) return false;
    diskChange = false;
    return true;
}

bool Velquette::hasNetworkSetupChanged() {
    if (updateList != 1) return false;
    updateList = 0;
    networkDataMiner->setNeedsUpdate(true);
    return true;
}

void Velquette::installIntelModule() {}

// Answers whether the module arrived while this object lived, which is what
// the page wants to know after an installation.
bool Velquette::wasIntelModuleInstalled() { return moduleInstalled; }

std::string Velquette::getAppPath(int pid, const Value&) {
    // Without a cache folder there is nowhere to put the icon.
    if (icon_directory.empty()) return std::string();
    const auto application = platform_.processes->applicationOf(pid);
    // Without an identifier, or with one that is no plain file name, the icon
    // would share a file with unrelated applications or land outside the cache.
    if (!application || application->bundleId.empty() || application->bundleId.find('/') != std::string::npos ||
        application->bundleId.starts_with('.'))
        return std::string();
    std::string iconPath = icon_directory + "/" + application->bundleId + ".png";
    if (!platform_.files->fileExists(iconPath)) {
        // A failed write still answers the path, which then names no file.
        if (auto png = platform_.processes->applicationIconPng(*application))
            platform_.files->writeFileAtomically(iconPath, *png);
    }
    return iconPath;
}

std::string Velquette::getPsName(int pid) {
    auto name = platform_.processes->processName(pid);
    if (!name || name->empty()) return "Unknown widget";
    if (const auto application = platform_.processes->applicationOf(pid)) {
        auto shown = platform_.processes->applicationName(*application);
        if (shown && !shown->empty()) return *shown;
    }
    return *name;
}

int Velquette::getselfpid() { return platform_.processes->selfPid(); }

bool Velquette::isIntel() {
    return platform_.machine->gestalt(kGestaltProcessorType) == static_cast<std::int32_t>(kGestaltCPUPentium);
}

bool Velquette::needsIntelBundle() {
    if (!isIntel()) return false;
    const std::string folder = sensorBundleFolder(*platform_.files);
    if (folder.empty()) return true;
    const std::string path = folder + "/" + kSensorModuleBundleName;
    if (!platform_.modules->fileExists(path)) return true;
    return platform_.modules->openBundle(path) == nullptr;
}

void Velquette::copyTextToClipboard(const std::string& text) { platform_.clipboard->copyText(text); }

std::string Velquette::setPrometheusUrl(const std::string& url) {
    return fleetSource_ ? fleetSource_->setPrometheusUrl(url) : "this host keeps no Prometheus settings";
}

Value Velquette::topProcesses(int count) { return topProcessesSampler->top(count); }

Value Velquette::limits() {
    if (!platform_.limits) return nullptr;
    const ResourceLimitSample sample = platform_.limits->sample();
    if (!sample.anyLimit()) return nullptr;
    const auto field = [](const auto& value) { return value ? Value(*value) : Value(nullptr); };
    return Value{{"memoryLimitBytes", field(sample.memoryLimitBytes)},
                 {"memoryUsedBytes", field(sample.memoryUsedBytes)},
                 {"cpuQuota", field(sample.cpuQuota)},
                 {"cpuThrottled", field(sample.cpuThrottled)},
                 {"cpuUsage", field(sample.cpuUsage)},
                 {"pidsMax", field(sample.pidsMax)}};
}

Value Velquette::gpus() {
    Value rows = Value::array();
    if (!platform_.gpus) return rows;
    const auto field = [](const auto& value) { return value ? Value(*value) : Value(nullptr); };
    for (const GpuReading& gpu : platform_.gpus->sample())
        rows.push_back({gpu.name, field(gpu.busyPercent), field(gpu.vramUsedBytes), field(gpu.vramTotalBytes),
                        field(gpu.celsius), field(gpu.watts), field(gpu.megahertz), gpu.asleep});
    return rows;
}

Value Velquette::firingAlerts() { return alerts_ ? alerts_->firing() : Value::array(); }

Value Velquette::alertRule(const std::string& rule) { return alerts_ ? alerts_->rule(rule) : Value(); }

std::string Velquette::setAlertRule(const std::string& rule, const std::string& key, const Value& value) {
    if (!alerts_) return "alerts do not run on this machine";
    return alerts_->setRule(rule, key, value);
}

std::string Velquette::getPsUnit(int pid) { return platform_.limits ? platform_.limits->unitOf(pid) : ""; }

bool Velquette::isAutostartEnabled() { return platform_.autostart && platform_.autostart->isEnabled(); }

// Answers whether the entry is now as asked.
bool Velquette::setAutostart(int enabled) {
    return platform_.autostart && platform_.autostart->setEnabled(enabled == 1);
}

void Velquette::workspaceChange() {
    disksDataMiner->findDrives();
    diskChange = true;
}

void Velquette::moduleInstalledNotification() {
    tempsDataMiner->moduleInstalled();
    fansDataMiner->moduleInstalled();
    moduleInstalled = true;
}

}  // namespace vq
